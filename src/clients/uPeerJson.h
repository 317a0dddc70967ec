#pragma once
// Every read of JSON that a peer or a file supplied: parsed iteratively, so that no depth of nesting
// can exhaust the stack, with the encoding checked and numbers kept as the literal the peer wrote.
#include <rapidjson/document.h>

#include <string_view>

namespace egaiss {

inline constexpr unsigned PeerJsonParseFlags = rapidjson::kParseIterativeFlag |
                                               rapidjson::kParseNumbersAsStringsFlag |
                                               rapidjson::kParseValidateEncodingFlag;

// False for text that is not JSON.
inline bool ParsePeerJson(std::string_view text, rapidjson::Document& doc) {
    doc.Parse<PeerJsonParseFlags>(text.data(), text.size());
    return !doc.HasParseError();
}

}  // namespace egaiss
