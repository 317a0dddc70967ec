#pragma once
// Windows-1251, the 8-bit code page of the scale tables and of most Russian price files.
#include <string>
#include <string_view>

namespace egaiss::platform {

// UTF-8 text to Windows-1251 bytes. Every character without a 1251 form, and every byte that does
// not start a well-formed UTF-8 sequence, becomes exactly one "?"; nothing is approximated.
std::string Utf8ToCp1251(std::string_view text);
// The same into `out`, whose room is reused.
void Utf8ToCp1251(std::string_view text, std::string& out);

// Windows-1251 bytes to UTF-8 text. Every byte has a character; the one byte 1251 leaves unassigned
// (0x98) becomes U+0098, as the Windows tables have it, so that all 256 bytes survive a round trip.
std::string Cp1251ToUtf8(std::string_view bytes);
// The same into `out`, whose room is reused.
void Cp1251ToUtf8(std::string_view bytes, std::string& out);

}  // namespace egaiss::platform
