#include "winui/uWin32Common.h"

#include "platform/uWin32Text.h"

namespace egaiss {
namespace {

// Functions of Windows 10 (1607), looked up so that the agent also starts on older systems.
template <typename TFunction>
TFunction User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 != nullptr
               ? reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
               : nullptr;
}

using TGetDpiForWindow = UINT(WINAPI*)(HWND);
using TAdjustWindowRectExForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
using TSystemParametersInfoForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

constexpr UINT DefaultDpi = 96;

NONCLIENTMETRICSW NonClientMetrics(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    static const auto forDpi = User32Function<TSystemParametersInfoForDpi>("SystemParametersInfoForDpi");
    if (forDpi != nullptr && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
        return metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    // Without per-monitor metrics the system answers for its own DPI.
    HDC screen = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi);
    return metrics;
}

}  // namespace

UINT WindowDpi(HWND window) {
    static const auto getDpi = User32Function<TGetDpiForWindow>("GetDpiForWindow");
    if (getDpi != nullptr && window != nullptr) {
        const UINT dpi = getDpi(window);
        if (dpi != 0) return dpi;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : DefaultDpi;
}

SIZE OuterSizeForClient(int width, int height, DWORD style, DWORD exStyle, UINT dpi) {
    RECT rect{0, 0, ScaleForDpi(width, dpi), ScaleForDpi(height, dpi)};
    static const auto adjust = User32Function<TAdjustWindowRectExForDpi>("AdjustWindowRectExForDpi");
    if (adjust == nullptr || !adjust(&rect, style, FALSE, exStyle, dpi))
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

TUniqueFont CreateDialogFont(UINT dpi) {
    NONCLIENTMETRICSW metrics = NonClientMetrics(dpi);
    return TUniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
}

TUniqueFont CreateFixedFont(UINT dpi) {
    LOGFONTW font = NonClientMetrics(dpi).lfMessageFont;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    font.lfWeight = FW_NORMAL;
    font.lfItalic = FALSE;
    wcscpy_s(font.lfFaceName, L"Consolas");
    return TUniqueFont(CreateFontIndirectW(&font));
}

void SetControlFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

TUniqueIcon LoadAgentIcon(int resourceId, int size) {
    auto* icon = static_cast<HICON>(
        LoadImageW(AgentModule(), MAKEINTRESOURCEW(resourceId), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (icon == nullptr) icon = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
    return TUniqueIcon(icon);
}

std::wstring ControlText(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

std::wstring ToEditText(const std::string& utf8) {
    const std::wstring wide = platform::Utf8ToWide(utf8);
    std::wstring text;
    text.reserve(wide.size() + wide.size() / 32);
    for (const wchar_t c : wide) {
        if (c == L'\r') continue;
        if (c == L'\n') text += L'\r';
        text += c;
    }
    return text;
}

std::string FromEditText(const std::wstring& text) {
    std::wstring lines;
    lines.reserve(text.size());
    for (const wchar_t c : text)
        if (c != L'\r') lines += c;
    return platform::WideToUtf8(lines);
}

void SetControlText(HWND control, const std::string& utf8) {
    SetWindowTextW(control, platform::Utf8ToWide(utf8).c_str());
}

HINSTANCE AgentModule() {
    return GetModuleHandleW(nullptr);
}

}  // namespace egaiss
