#include "winui/uWin32TrayIcon.h"

#include <shellapi.h>

#include <algorithm>

namespace egaiss {
namespace {

constexpr UINT TrayIconId = 1;

}  // namespace

bool TWin32TrayIcon::Notify(DWORD action) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = FWindow;
    data.uID = TrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = FCallbackMessage;
    data.hIcon = FIcon;
    const std::size_t length = std::min(FHint.size(), std::size(data.szTip) - 1);
    std::copy_n(FHint.begin(), length, data.szTip);
    return Shell_NotifyIconW(action, &data) != FALSE;
}

void TWin32TrayIcon::Show() {
    FWanted = true;
    if (!FShown) FShown = Notify(NIM_ADD);
}

void TWin32TrayIcon::Hide() {
    FWanted = false;
    if (!FShown) return;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = FWindow;
    data.uID = TrayIconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
    FShown = false;
}

void TWin32TrayIcon::SetIcon(HICON icon) {
    FIcon = icon;
    if (FShown) Notify(NIM_MODIFY);
}

void TWin32TrayIcon::SetHint(const std::wstring& hint) {
    FHint = hint;
    if (FShown) Notify(NIM_MODIFY);
}

void TWin32TrayIcon::TaskbarCreated() {
    if (FWanted) FShown = Notify(NIM_ADD);
}

}  // namespace egaiss
