#include <windows.h>

#include <string>

#include "platform/uCodePage.h"
#include "platform/uErrors.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {
namespace {

constexpr UINT Cp1251 = 1251;

bool IsHighSurrogate(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

[[noreturn]] void RaiseConversionError() {
    throw EAgentError("Text conversion failed: " + Win32ErrorText(GetLastError()));
}

}  // namespace

std::string Utf8ToCp1251(std::string_view text) {
    if (text.empty()) return {};
    // Bytes that are not UTF-8 arrive here as U+FFFD, which has no 1251 form and becomes "?".
    const std::wstring wide = Utf8ToWide(text);

    // A character outside the BMP is two UTF-16 units and would give two "?"; it must give one.
    std::wstring units;
    units.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        if (IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            units += L'?';
            ++i;
        } else {
            units += wide[i];
        }
    }

    // Without WC_NO_BEST_FIT_CHARS Windows would write look-alikes ("e" for "é") instead of "?".
    const int unitCount = static_cast<int>(units.size());
    const char defaultChar = '?';
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(Cp1251, WC_NO_BEST_FIT_CHARS, units.data(), unitCount, nullptr, 0,
                                           &defaultChar, &usedDefault);
    if (length <= 0) RaiseConversionError();
    std::string result(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(Cp1251, WC_NO_BEST_FIT_CHARS, units.data(), unitCount, result.data(), length,
                            &defaultChar, &usedDefault) != length) {
        RaiseConversionError();
    }
    return result;
}

std::string Cp1251ToUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int byteCount = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(Cp1251, 0, bytes.data(), byteCount, nullptr, 0);
    if (length <= 0) RaiseConversionError();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(Cp1251, 0, bytes.data(), byteCount, wide.data(), length) != length) {
        RaiseConversionError();
    }
    return WideToUtf8(wide);
}

void Utf8ToCp1251(std::string_view text, std::string& out) {
    out = Utf8ToCp1251(text);
}

void Cp1251ToUtf8(std::string_view bytes, std::string& out) {
    out = Cp1251ToUtf8(bytes);
}

}  // namespace egaiss::platform
