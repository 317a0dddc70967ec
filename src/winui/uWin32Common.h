#pragma once
// What the Win32 windows share: ownership of GDI and USER handles, sizes for the window's DPI,
// the fonts of the dialogs and the text of a control. Windows sources only.
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace egaiss {

struct TGdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct TIconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
struct TMenuDeleter {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
struct TWindowDeleter {
    void operator()(HWND window) const { DestroyWindow(window); }
};

using TUniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, TGdiObjectDeleter>;
using TUniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, TIconDeleter>;
using TUniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, TMenuDeleter>;
using TUniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, TWindowDeleter>;

// The DPI the window is shown at (96 on systems without per-monitor DPI).
UINT WindowDpi(HWND window);
inline int ScaleForDpi(int pixelsAt96, UINT dpi) {
    return MulDiv(pixelsAt96, static_cast<int>(dpi), 96);
}
// The outer size of a window whose client area is `width` x `height` pixels at 96 DPI.
SIZE OuterSizeForClient(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

// The system's dialog font, and a monospaced one of the same height, for the DPI.
TUniqueFont CreateDialogFont(UINT dpi);
TUniqueFont CreateFixedFont(UINT dpi);
void SetControlFont(HWND control, HFONT font);

// The application's icon (IDI_AGENT or IDI_AGENT_ALERT) at the given size; the system's
// application icon when the resource is missing.
TUniqueIcon LoadAgentIcon(int resourceId, int size);

std::wstring ControlText(HWND control);
// Text for a multi-line EDIT, which breaks lines only at "\r\n", and back with '\n' alone.
std::wstring ToEditText(const std::string& utf8);
std::string FromEditText(const std::wstring& text);
void SetControlText(HWND control, const std::string& utf8);

// The module whose resources the windows load: the executable.
HINSTANCE AgentModule();

}  // namespace egaiss
