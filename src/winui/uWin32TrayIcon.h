#pragma once
// The notification-area icon of one window: added, changed and removed with Shell_NotifyIconW, and
// added again when the taskbar restarts. Its clicks reach the window as `callbackMessage` with the
// mouse message in lParam. Windows sources only.
#include <windows.h>

#include <string>

namespace egaiss {

class TWin32TrayIcon {
public:
    TWin32TrayIcon(HWND window, UINT callbackMessage) : FWindow(window), FCallbackMessage(callbackMessage) {}
    ~TWin32TrayIcon() { Hide(); }
    TWin32TrayIcon(const TWin32TrayIcon&) = delete;
    TWin32TrayIcon& operator=(const TWin32TrayIcon&) = delete;

    // Without a taskbar yet (early at logon) the icon comes when the taskbar does.
    void Show();
    void Hide();
    // The icon is not owned; it must outlive its use here.
    void SetIcon(HICON icon);
    // Cut to what the shell shows (127 characters).
    void SetHint(const std::wstring& hint);
    // The taskbar started or restarted: an icon that is to be shown is added again.
    void TaskbarCreated();

    bool IsShown() const { return FShown; }
    const std::wstring& Hint() const { return FHint; }
    HICON Icon() const { return FIcon; }

private:
    bool Notify(DWORD action) const;

    HWND FWindow;
    UINT FCallbackMessage;
    HICON FIcon = nullptr;
    std::wstring FHint;
    bool FWanted = false;  // Show was called, Hide was not
    bool FShown = false;   // the shell has the icon
};

}  // namespace egaiss
