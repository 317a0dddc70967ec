#pragma once
// Reading the bodies of the simulators' control requests (POST /sim/...).
#include "uSimHost.h"

#include <cstdint>
#include <optional>
#include <string>

namespace egaiss::sim {

// What a control request asks to add: how many documents, of which type, with which XML.
struct TAddRequest {
    std::int64_t Count = 1;
    std::optional<std::string> Type;
    std::optional<std::string> Xml;
};

// The request's JSON object; an empty body reads as an empty object. False once it has answered 400.
bool ReadBodyObject(const httplib::Request& req, rapidjson::Document& body, TSimReply& reply);

// "count" (1 by default, at most 10,000), the type under `typeKey` and "xml", which needs a type.
// Nothing once it has answered 400.
std::optional<TAddRequest> ReadAddRequest(const rapidjson::Document& body, const char* typeKey,
                                          TSimReply& reply);

}  // namespace egaiss::sim
