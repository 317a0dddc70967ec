#pragma once
// Every read of JSON that a peer or a file supplied: parsed iteratively, so that no depth of nesting
// can exhaust the stack, with the encoding checked and numbers kept as the literal the peer wrote.
#include <rapidjson/document.h>

#include <charconv>
#include <cstddef>
#include <string_view>

namespace egaiss {

inline constexpr unsigned PeerJsonParseFlags = rapidjson::kParseIterativeFlag |
                                               rapidjson::kParseNumbersAsStringsFlag |
                                               rapidjson::kParseValidateEncodingFlag;

// RapidJSON refuses a high-surrogate escape without its low half, but turns a lone low half
// (\uDC00 to \uDFFF) into bytes that are not UTF-8. Every backslash of valid JSON starts an escape,
// so one pass over text the parser took finds such a half.
inline bool HasLoneLowSurrogateEscape(std::string_view text) {
    bool afterHighHalf = false;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '\\' || text[i + 1] != 'u' || text.size() - i < 6) {
            afterHighHalf = false;
            if (text[i] == '\\') ++i;  // the escaped character is not an escape of its own
            continue;
        }
        unsigned unit = 0;  // the parser has checked the four hexadecimal digits
        std::from_chars(text.data() + i + 2, text.data() + i + 6, unit, 16);
        if (unit >= 0xDC00 && unit <= 0xDFFF && !afterHighHalf) return true;
        afterHighHalf = unit >= 0xD800 && unit <= 0xDBFF;
        i += 5;
    }
    return false;
}

// False for text that is not JSON, or whose strings would not be UTF-8.
inline bool ParsePeerJson(std::string_view text, rapidjson::Document& doc) {
    doc.Parse<PeerJsonParseFlags>(text.data(), text.size());
    return !doc.HasParseError() && !HasLoneLowSurrogateEscape(text);
}

}  // namespace egaiss
