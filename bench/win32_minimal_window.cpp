// The floor of the tray agent's working set on Windows: a hidden top-level window with a tray
// icon and the thread's message loop, nothing else. bench/measure-footprint-windows runs it beside
// the agent under the same Wine.
#include <windows.h>
// shellapi.h builds on the types of windows.h.
#include <shellapi.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int main() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MinimalTrayWindow";
    if (RegisterClassExW(&windowClass) == 0) return 1;
    HWND window =
        CreateWindowExW(0, windowClass.lpszClassName, L"Minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 560, 420, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return 1;
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_TIP;
    icon.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    lstrcpynW(icon.szTip, L"Minimal", ARRAYSIZE(icon.szTip));
    Shell_NotifyIconW(NIM_ADD, &icon);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    Shell_NotifyIconW(NIM_DELETE, &icon);
    return 0;
}
