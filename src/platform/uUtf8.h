#pragma once
// Reading UTF-8 strictly: the one decoder behind the log's text helpers, the code-page layer and
// the price-file reader.
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// DecodeUtf8's length without the code point, quick for ASCII and for the two-byte letters that
// make up Cyrillic text.
inline std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead < 0xE0) {
        return pos + 1 < text.size() && (static_cast<unsigned char>(text[pos + 1]) & 0xC0) == 0x80 ? 2 : 0;
    }
    std::uint32_t code = 0;
    return DecodeUtf8(text, pos, code);
}

// Length of the ASCII start of a text, eight bytes at a time where it can: documents, log lines
// and price files are mostly long ASCII runs.
inline std::size_t AsciiPrefixLength(std::string_view text) {
    constexpr std::uint64_t HighBits = 0x8080808080808080ULL;  // the top bit of eight bytes
    const char* data = text.data();
    const std::size_t size = text.size();
    std::size_t pos = 0;
    for (std::uint64_t word = 0; pos + 8 <= size; pos += 8) {
        std::memcpy(&word, data + pos, 8);
        if ((word & HighBits) != 0) break;
    }
    while (pos < size && static_cast<unsigned char>(data[pos]) < 0x80) {
        ++pos;
    }
    return pos;
}

// True when the bytes are UTF-8 throughout.
inline bool IsWellFormedUtf8(std::string_view bytes) {
    for (std::size_t pos = AsciiPrefixLength(bytes); pos < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, pos);
        if (length == 0) return false;
        pos += length;
    }
    return true;
}

}  // namespace egaiss
