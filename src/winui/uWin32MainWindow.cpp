#include "winui/uWin32MainWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "agent/uAgentStatus.h"
#include "platform/uErrors.h"
#include "platform/uWin32Text.h"
#include "winui/uWin32LogView.h"
#include "winui/uWin32Resources.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace egaiss {
namespace {

using platform::Utf8ToWide;

constexpr wchar_t MainWindowClass[] = L"VelmoraEgaissAgentMain";
// Fixed border, system menu and minimize button only.
constexpr DWORD MainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD MainExStyle = 0;

// The top panel's measures at 96 DPI.
constexpr int PanelMarginX = 8;
constexpr int PanelMarginY = 6;
constexpr int RowGap = 4;
constexpr int ButtonGap = 6;
constexpr int ButtonMinWidth = 75;
constexpr int ButtonMinHeight = 23;
constexpr int ButtonPadding = 16;
constexpr int TooltipWidth = 480;

struct TButtonSpec {
    int Id;
    const char* Caption;
};
constexpr TButtonSpec Buttons[] = {{IDC_MAIN_QUEUE, main_texts::Queue},
                                   {IDC_MAIN_SCALES, main_texts::Scales},
                                   {IDC_MAIN_SETTINGS, main_texts::Settings},
                                   {IDC_MAIN_MINIMIZE, main_texts::Minimize}};

bool RegisterMainClass(WNDPROC windowProc) {
    static const bool registered = [windowProc] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = AgentModule();
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        windowClass.lpszClassName = MainWindowClass;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

// Menu captions take '&' as the mark of a shortcut letter; a status text shows it as it is.
std::wstring MenuText(const std::string& utf8) {
    std::wstring text;
    for (const wchar_t c : Utf8ToWide(utf8)) {
        if (c == L'&') text += L'&';
        text += c;
    }
    return text;
}

void AppendItem(HMENU menu, UINT id, const std::string& caption, UINT flags = MF_STRING) {
    AppendMenuW(menu, flags, id, MenuText(caption).c_str());
}

void SetItemText(HMENU menu, UINT id, const std::string& caption) {
    std::wstring text = MenuText(caption);
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING;
    item.dwTypeData = text.data();
    SetMenuItemInfoW(menu, id, FALSE, &item);
}

TUniqueMenu CreateScalesMenu() {
    TUniqueMenu menu(CreatePopupMenu());
    for (const TScalesMenuItem& item : ScalesMenuItems())
        AppendItem(menu.get(), static_cast<UINT>(IDM_SCALES_FIRST + item.Brand), item.Caption);
    return menu;
}

HWND CreateChild(HWND parent, const wchar_t* className, const std::string& text, DWORD style, int id) {
    return CreateWindowExW(0, className, Utf8ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), AgentModule(), nullptr);
}

int TextWidth(HDC dc, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// A device context of the window with the font selected, for measuring text.
class TMeasure {
public:
    TMeasure(HWND window, HFONT font) : FWindow(window), FDc(GetDC(window)), FOld(SelectObject(FDc, font)) {}
    ~TMeasure() {
        SelectObject(FDc, FOld);
        ReleaseDC(FWindow, FDc);
    }
    TMeasure(const TMeasure&) = delete;
    TMeasure& operator=(const TMeasure&) = delete;
    HDC Dc() const { return FDc; }

private:
    HWND FWindow;
    HDC FDc;
    HGDIOBJ FOld;
};

}  // namespace

TWin32MainWindow::TWin32MainWindow(TMainLoop& loop, TAgentServices services, TWin32MainWindowLinks links,
                                   TAgentOptions options)
    : FLinks(std::move(links)),
      FPresenter(loop, *this, FLinks.Prompts != nullptr ? *FLinks.Prompts : FOwnPrompts, services,
                 {std::move(options), FLinks.OpenUrl}) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterMainClass(&WindowProc))
        throw EAgentError("Main window: " + platform::Win32ErrorText(GetLastError()));
    CreateWindowExW(MainExStyle, MainWindowClass, Utf8ToWide(AppTitle()).c_str(), MainStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, 0, 0, nullptr, nullptr, AgentModule(), this);
    if (FWindow == nullptr) throw EAgentError("Main window: " + platform::Win32ErrorText(GetLastError()));
    FOwnPrompts.SetOwner(FWindow);
    FTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    const int traySize = GetSystemMetrics(SM_CXSMICON);
    FTrayNormalIcon = LoadAgentIcon(IDI_AGENT, traySize);
    FTrayAlertIcon = LoadAgentIcon(IDI_AGENT_ALERT, traySize);
    FTrayIcon.emplace(FWindow, TrayMessage);
    FTrayIcon->SetIcon(FTrayNormalIcon.get());
    FTrayIcon->SetHint(Utf8ToWide(FPresenter.StatusTexts().Hint));
    CreateControls();
    CreateMenus();
    ApplyDpi(WindowDpi(FWindow));
    PlaceCentred();
}

TWin32MainWindow::~TWin32MainWindow() {
    if (FTrayIcon) FTrayIcon->Hide();
    if (FWindow != nullptr) {
        // Nothing reaches this object while the window goes.
        SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
        DestroyWindow(FWindow);
    }
}

void TWin32MainWindow::CreateControls() {
    // A long failure stays on one line, cut with "..."; the tooltip then holds the whole text.
    FStatus = CreateChild(FWindow, L"STATIC", main_texts::StatusWaiting,
                          SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS | SS_NOPREFIX | SS_NOTIFY, IDC_MAIN_STATUS);
    FStatusText = Utf8ToWide(main_texts::StatusWaiting);
    for (const TButtonSpec& button : Buttons) {
        HWND created = CreateChild(FWindow, L"BUTTON", button.Caption, WS_TABSTOP | BS_PUSHBUTTON, button.Id);
        if (button.Id == IDC_MAIN_SCALES) FScalesButton = created;
    }
    FLog = CreateLogView(FWindow, IDC_MAIN_LOG);

    FStatusTip.Attach(FWindow, FStatus, nullptr, ScaleForDpi(TooltipWidth, FDpi));
}

void TWin32MainWindow::CreateMenus() {
    FTrayMenu.reset(CreatePopupMenu());
    HMENU menu = FTrayMenu.get();
    AppendItem(menu, IDM_SHOW, main_texts::MenuShow);
    AppendItem(menu, IDM_STATUS, main_texts::StatusWaiting, MF_STRING | MF_GRAYED);
    AppendItem(menu, IDM_LAST_SYNC, main_texts::LastSyncNone, MF_STRING | MF_GRAYED);
    AppendItem(menu, IDM_SETTINGS, main_texts::MenuSettings);
    AppendItem(menu, IDM_QUEUE, main_texts::MenuQueue);
    AppendItem(menu, IDM_BOOTSTRAP, main_texts::MenuBootstrap);
    // The tray menu owns its submenu from here on.
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(CreateScalesMenu().release()),
                MenuText(main_texts::Scales).c_str());
    AppendItem(menu, IDM_OPEN_UTM, "");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendItem(menu, IDM_EXIT, main_texts::MenuExit);
    FScalesMenu = CreateScalesMenu();
}

void TWin32MainWindow::ApplyDpi(UINT dpi) {
    FDpi = dpi;
    // The controls take the new fonts and icons before the old ones go.
    TUniqueFont font = CreateDialogFont(dpi);
    TUniqueFont fixedFont = CreateFixedFont(dpi);
    SetControlFont(FStatus, font.get());
    for (const TButtonSpec& button : Buttons)
        SetControlFont(GetDlgItem(FWindow, button.Id), font.get());
    SetControlFont(FLog, fixedFont.get());
    FStatusTip.SetLook(font.get(), ScaleForDpi(TooltipWidth, dpi));
    FFont = std::move(font);
    FFixedFont = std::move(fixedFont);

    TUniqueIcon bigIcon = LoadAgentIcon(IDI_AGENT, ScaleForDpi(32, dpi));
    TUniqueIcon smallIcon = LoadAgentIcon(IDI_AGENT, ScaleForDpi(16, dpi));
    SendMessageW(FWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
    SendMessageW(FWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    FBigIcon = std::move(bigIcon);
    FSmallIcon = std::move(smallIcon);
    LayoutControls();
}

void TWin32MainWindow::LayoutControls() {
    if (FLog == nullptr || !FFont) return;  // still being created
    RECT client{};
    GetClientRect(FWindow, &client);
    const auto px = [this](int pixelsAt96) { return ScaleForDpi(pixelsAt96, FDpi); };
    const TMeasure measure(FWindow, FFont.get());
    TEXTMETRICW metrics{};
    GetTextMetricsW(measure.Dc(), &metrics);
    const int lineHeight = metrics.tmHeight;
    const int buttonHeight = std::max(px(ButtonMinHeight), lineHeight + px(8));

    int y = px(PanelMarginY);
    MoveWindow(FStatus, px(PanelMarginX), y, client.right - 2 * px(PanelMarginX), lineHeight, TRUE);
    y += lineHeight + px(RowGap);
    // The buttons sit at the right, in their order.
    int x = client.right - px(PanelMarginX) + px(ButtonGap);
    for (auto button = std::rbegin(Buttons); button != std::rend(Buttons); ++button) {
        const int width = std::max(px(ButtonMinWidth),
                                   TextWidth(measure.Dc(), Utf8ToWide(button->Caption)) + px(ButtonPadding));
        x -= width + px(ButtonGap);
        MoveWindow(GetDlgItem(FWindow, button->Id), x, y, width, buttonHeight, TRUE);
    }
    y += buttonHeight + px(PanelMarginY);
    MoveWindow(FLog, 0, y, client.right, std::max(0, static_cast<int>(client.bottom) - y), TRUE);
    UpdateStatusTooltip();
}

void TWin32MainWindow::PlaceCentred() {
    const SIZE outer = OuterSizeForClient(ClientWidth, ClientHeight, MainStyle, MainExStyle, FDpi);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(FWindow, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    SetWindowPos(FWindow, nullptr, work.left + (work.right - work.left - outer.cx) / 2,
                 work.top + (work.bottom - work.top - outer.cy) / 2, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32MainWindow::UpdateStatusTooltip() {
    RECT line{};
    GetClientRect(FStatus, &line);
    const TMeasure measure(FStatus, FFont.get());
    FStatusTip.SetText(TextWidth(measure.Dc(), FStatusText) > line.right ? FStatusText : std::wstring());
}

void TWin32MainWindow::FormCreate() {
    // The tray icon stays visible for the life of the process.
    FTrayIcon->Show();
    SetItemText(FTrayMenu.get(), IDM_OPEN_UTM, main_texts::MenuOpenUtm);
    FPresenter.Start();
}

void TWin32MainWindow::ShowMainWindow() {
    Guarded([this] { FPresenter.ShowMainWindow(); });
}

void TWin32MainWindow::ExitAgent() {
    Guarded([this] { FPresenter.ExitClicked(); });
}

template <typename THandler>
void TWin32MainWindow::Guarded(const THandler& handler) {
    try {
        try {
            handler();
        } catch (const std::exception& error) {
            FPresenter.HandleAppException(error);
        } catch (...) {
            FPresenter.HandleAppException(EAgentError("Unknown exception"));
        }
    } catch (...) {
        // Reporting failed too; the message loop goes on.
    }
}

LRESULT CALLBACK TWin32MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TWin32MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->FWindow = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TWin32MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->FWindow = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    LRESULT result = 0;
    self->Guarded([&] { result = self->HandleMessage(message, wParam, lParam); });
    return result;
}

LRESULT TWin32MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            Command(LOWORD(wParam));
            return 0;
        case TrayMessage:
            TrayClicked(LOWORD(lParam));
            return 0;
        case WM_CLOSE:
            // Closing hides to the tray while the agent runs.
            if (FPresenter.CloseRequested()) DestroyWindow(FWindow);
            return 0;
        case WM_SHOWWINDOW:
            if (wParam != FALSE) FPresenter.WindowShown();
            break;
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) LayoutControls();
            return 0;
        case WM_DPICHANGED: {
            const RECT suggested = *reinterpret_cast<const RECT*>(lParam);
            ApplyDpi(HIWORD(wParam));
            SetWindowPos(FWindow, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                         suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_CTLCOLORSTATIC:
            // The read-only log view keeps the background of a text view, not of a label.
            if (reinterpret_cast<HWND>(lParam) == FLog) {
                auto* dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                SetBkColor(dc, GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        default:
            if (FTaskbarCreated != 0 && message == FTaskbarCreated) {
                FTrayIcon->TaskbarCreated();
                return 0;
            }
            break;
    }
    return DefWindowProcW(FWindow, message, wParam, lParam);
}

void TWin32MainWindow::Command(int id) {
    switch (id) {
        case IDM_SHOW:
            FPresenter.ShowMainWindow();
            return;
        case IDC_MAIN_QUEUE:
        case IDM_QUEUE:
            FPresenter.QueueClicked();
            return;
        case IDC_MAIN_SCALES: {
            RECT button{};
            GetWindowRect(FScalesButton, &button);
            PopupMenuAt(FScalesMenu.get(), {button.left, button.bottom});
            return;
        }
        case IDC_MAIN_SETTINGS:
        case IDM_SETTINGS:
            FPresenter.SettingsClicked();
            return;
        case IDC_MAIN_MINIMIZE:
            FPresenter.HideToTray();
            return;
        case IDM_BOOTSTRAP:
            FPresenter.BootstrapClicked();
            return;
        case IDM_OPEN_UTM:
            FPresenter.OpenUtmClicked();
            return;
        case IDM_EXIT:
            FPresenter.ExitClicked();
            return;
        default:
            if (id >= IDM_SCALES_FIRST && id <= IDM_SCALES_LAST)
                FPresenter.ScalesBrandClicked(id - IDM_SCALES_FIRST);
            return;
    }
}

void TWin32MainWindow::TrayClicked(UINT mouseMessage) {
    switch (mouseMessage) {
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
            FPresenter.ShowMainWindow();
            return;
        case WM_RBUTTONUP: {
            POINT cursor{};
            GetCursorPos(&cursor);
            PopupMenuAt(FTrayMenu.get(), cursor);
            return;
        }
        default:
            return;
    }
}

void TWin32MainWindow::PopupMenuAt(HMENU menu, POINT at) {
    // A menu of a window in the background would not close on a click elsewhere.
    SetForegroundWindow(FWindow);
    const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    TrackPopupMenuEx(menu, align | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, FWindow, nullptr);
    PostMessageW(FWindow, WM_NULL, 0, 0);
}

void TWin32MainWindow::ShowStatus(const TMainStatusTexts& texts) {
    FTrayIcon->SetHint(Utf8ToWide(texts.Hint));
    if (texts.Alert != FTrayAlert) {
        FTrayAlert = texts.Alert;
        FTrayIcon->SetIcon(texts.Alert ? FTrayAlertIcon.get() : FTrayNormalIcon.get());
    }
    SetItemText(FTrayMenu.get(), IDM_STATUS, texts.Caption);
    SetItemText(FTrayMenu.get(), IDM_LAST_SYNC, texts.LastSync);
    FStatusText = Utf8ToWide(texts.Caption);
    SetWindowTextW(FStatus, FStatusText.c_str());
    UpdateStatusTooltip();
}

void TWin32MainWindow::ShowLogTail(const std::string& tail) {
    egaiss::ShowLogTail(FLog, tail);
}

void TWin32MainWindow::ShowWindow() {
    FTrayIcon->Show();
    ::ShowWindow(FWindow, IsIconic(FWindow) ? SW_RESTORE : SW_SHOW);
    BringWindowToTop(FWindow);
    SetForegroundWindow(FWindow);
}

void TWin32MainWindow::HideWindow() {
    // A hidden window has no taskbar button.
    ::ShowWindow(FWindow, SW_HIDE);
}

bool TWin32MainWindow::IsWindowShown() const {
    return FWindow != nullptr && IsWindowVisible(FWindow) != FALSE;
}

void TWin32MainWindow::CloseForExit() {
    FTrayIcon->Hide();
    if (FWindow != nullptr) DestroyWindow(FWindow);
}

bool TWin32MainWindow::EditConfig(TEgaissConfig& cfg) {
    return FLinks.EditConfig && FLinks.EditConfig(cfg, FWindow);
}

void TWin32MainWindow::ShowQueue(const TEgaissConfig& cfg) {
    if (FLinks.ShowQueue) FLinks.ShowQueue(cfg, FWindow);
}

void TWin32MainWindow::ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& pause) {
    if (FLinks.ShowBootstrap) FLinks.ShowBootstrap(cfg, pause, FWindow);
}

bool TWin32MainWindow::EditScales(int brand, TScalesConfig& cfg) {
    return FLinks.EditScales && FLinks.EditScales(brand, cfg, FWindow);
}

}  // namespace egaiss
