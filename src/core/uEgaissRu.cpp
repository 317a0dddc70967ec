#include "core/uEgaissRu.h"

#include <algorithm>
#include <cstdint>

namespace egaiss {
namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at `pos`, or 0 when the bytes there are not one.
std::size_t SequenceLength(std::string_view bytes, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + length > bytes.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[pos + i]);
        if (!IsContinuation(next)) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return (code < minimum || code > 0x10FFFF || surrogate) ? 0 : length;
}

// Steps over one character. A byte that starts no well-formed sequence counts as one character, as
// Utf8ToText turns each such byte into one U+FFFD; a valid character is never split.
std::size_t NextCharacter(std::string_view text, std::size_t pos) {
    return pos + std::max<std::size_t>(1, SequenceLength(text, pos));
}

}  // namespace

bool IsAsciiText(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > 127) return false;
    }
    return true;
}

std::string ToAsciiSafe(std::string_view text) {
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size(); pos = NextCharacter(text, pos)) {
        const char c = text[pos];
        safe += static_cast<unsigned char>(c) > 127 ? '?' : c;
    }
    return safe;
}

// Every input byte yields at least one character here, so the ANSI fallback decoding (for input
// that gives no characters at all) can never be reached and is not carried.
std::string Utf8ToText(std::string_view bytes) {
    static constexpr std::string_view Replacement = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t length = SequenceLength(bytes, pos);
        if (length == 0) {
            text += Replacement;
            ++pos;
        } else {
            text.append(bytes.substr(pos, length));
            pos += length;
        }
    }
    return text;
}

std::size_t TextLength(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); pos = NextCharacter(text, pos))
        ++count;
    return count;
}

std::string TextLeft(std::string_view text, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t taken = 0; taken < count && pos < text.size(); ++taken)
        pos = NextCharacter(text, pos);
    return std::string(text.substr(0, pos));
}

std::string TrimControl(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) < 33)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) < 33)
        --end;
    return std::string(text.substr(begin, end - begin));
}

}  // namespace egaiss
