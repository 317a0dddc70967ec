#include "uSimControl.h"

#include "uSimDocuments.h"

namespace egaiss::sim {
namespace {

constexpr int kMaxAddAtOnce = 10000;

std::string Quoted(const char* key) {
    return std::string("\"") + key + "\"";
}

}  // namespace

bool ReadBodyObject(const httplib::Request& req, rapidjson::Document& body, TSimReply& reply) {
    if (req.body.empty()) {
        body.SetObject();
        return true;
    }
    if (ParseJsonObject(req.body, body)) return true;
    reply.JsonError(400, "expected a JSON object");
    return false;
}

std::optional<TAddRequest> ReadAddRequest(const rapidjson::Document& body, const char* typeKey,
                                          TSimReply& reply) {
    TAddRequest request;
    request.Count = JsonInt(body, "count").value_or(1);
    request.Type = JsonText(body, typeKey);
    request.Xml = JsonText(body, "xml");
    if (request.Count < 1 || request.Count > kMaxAddAtOnce) {
        reply.JsonError(400, "\"count\" must lie between 1 and " + std::to_string(kMaxAddAtOnce));
        return std::nullopt;
    }
    if (request.Type && !IsDocumentTypeName(*request.Type)) {
        reply.JsonError(400, Quoted(typeKey) + " must be letters, digits and underscores");
        return std::nullopt;
    }
    if (request.Xml && !request.Type) {
        reply.JsonError(400, "\"xml\" needs a " + Quoted(typeKey));
        return std::nullopt;
    }
    return request;
}

}  // namespace egaiss::sim
