#pragma once
// Small text helpers over UTF-8 strings. A "character" is a Unicode code point: lengths and cuts
// count code points and never split one.
#include <cstddef>
#include <string>
#include <string_view>

namespace egaiss {

// True when every character's code is at most 127 (true for an empty text).
bool IsAsciiText(std::string_view text);
// Each character above code 127 becomes "?", one for one.
std::string ToAsciiSafe(std::string_view text);
// Decodes bytes as UTF-8, invalid sequences becoming U+FFFD.
std::string Utf8ToText(std::string_view bytes);
// Appends Utf8ToText(bytes) to `out`.
void AppendUtf8Text(std::string& out, std::string_view bytes);

// Number of characters in a UTF-8 text.
std::size_t TextLength(std::string_view text);
// The first `count` characters of a UTF-8 text.
std::string TextLeft(std::string_view text, std::size_t count);

// Trims every character below code 33 from both ends.
std::string TrimControl(std::string_view text);
// Lower-cases the letters A to Z; other bytes stay.
std::string LowerAscii(std::string text);
// True when `part` occurs in `text` (an empty part always does).
bool Contains(std::string_view text, std::string_view part);
// A flag as the log writes it: "True" or "False".
const char* BoolText(bool value);

}  // namespace egaiss
