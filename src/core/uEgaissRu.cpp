#include "core/uEgaissRu.h"

#include <algorithm>
#include <cstdint>

#include "platform/uUtf8.h"

namespace egaiss {
namespace {

// Steps over one character. A byte that starts no well-formed sequence counts as one character, as
// Utf8ToText turns each such byte into one U+FFFD; a valid character is never split.
std::size_t NextCharacter(std::string_view text, std::size_t pos) {
    return pos + std::max<std::size_t>(1, Utf8SequenceLength(text, pos));
}

}  // namespace

bool IsAsciiText(std::string_view text) {
    return AsciiPrefixLength(text) == text.size();
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
void AppendUtf8Text(std::string& out, std::string_view bytes) {
    static constexpr std::string_view Replacement = "\xEF\xBF\xBD";
    // Valid runs are copied whole; nearly every text is one run.
    std::size_t run = 0;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        pos += AsciiPrefixLength(bytes.substr(pos));
        if (pos == bytes.size()) break;
        const std::size_t length = Utf8SequenceLength(bytes, pos);
        if (length != 0) {
            pos += length;
            continue;
        }
        out.append(bytes.substr(run, pos - run)).append(Replacement);
        run = ++pos;
    }
    out.append(bytes.substr(run));
}

std::string Utf8ToText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    AppendUtf8Text(text, bytes);
    return text;
}

std::size_t TextLength(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t ascii = AsciiPrefixLength(text.substr(pos));
        count += ascii;
        pos += ascii;
        if (pos == text.size()) break;
        pos = NextCharacter(text, pos);
        ++count;
    }
    return count;
}

std::string TextLeft(std::string_view text, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t taken = 0; taken < count && pos < text.size();) {
        const std::size_t ascii = std::min(AsciiPrefixLength(text.substr(pos)), count - taken);
        taken += ascii;
        pos += ascii;
        if (taken == count || pos == text.size()) break;
        pos = NextCharacter(text, pos);
        ++taken;
    }
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

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

const char* BoolText(bool value) {
    return value ? "True" : "False";
}

}  // namespace egaiss
