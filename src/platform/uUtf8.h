#pragma once
// Reading UTF-8 strictly: the one decoder behind the log's text helpers, the code-page layer and
// the price-file reader.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace egaiss {

// Decodes the well-formed UTF-8 sequence at `pos` into `code`; returns its length, or 0 when the
// bytes there are not one (a stray continuation byte, a cut, overlong, surrogate or out-of-range
// form). `pos` must be inside the text.
inline std::size_t DecodeUtf8(std::string_view text, std::size_t pos, std::uint32_t& code) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (length > text.size() - pos) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return (code < minimum || code > 0x10FFFF || surrogate) ? 0 : length;
}

// True when the bytes are UTF-8 throughout.
inline bool IsWellFormedUtf8(std::string_view bytes) {
    std::uint32_t code = 0;
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t length = DecodeUtf8(bytes, pos, code);
        if (length == 0) return false;
        pos += length;
    }
    return true;
}

}  // namespace egaiss
