#pragma once
// The agent's main window on Windows: the tray icon with its hint and menus, the status line, the
// log view and the buttons. TMainPresenter holds the rules; this window lays out the controls,
// forwards the user's choices and draws what the presenter says.
#include <windows.h>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "agent/uAgent.h"
#include "agent/uMainLoop.h"
#include "agent/uMainPresenter.h"
#include "winui/uWin32Common.h"
#include "winui/uWin32Controls.h"
#include "winui/uWin32Prompts.h"
#include "winui/uWin32TrayIcon.h"

namespace egaiss {

// The windows the main window opens, modal over `owner`, and the desktop's browser; tests put
// stand-ins here. An empty link leaves its command without effect.
struct TWin32MainWindowLinks {
    std::function<bool(TEgaissConfig& cfg, HWND owner)> EditConfig;
    std::function<void(const TEgaissConfig& cfg, HWND owner)> ShowQueue;
    std::function<void(const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused, HWND owner)> ShowBootstrap;
    std::function<bool(int brand, TScalesConfig& cfg, HWND owner)> EditScales;
    std::function<bool(const std::string& url)> OpenUrl;
    // The prompts of the main window's presenter; nullptr: the window's own message boxes.
    TPrompts* Prompts = nullptr;
};

class TWin32MainWindow final : private TMainView {
public:
    static constexpr int ClientWidth = 560;
    static constexpr int ClientHeight = 420;
    // The tray icon's clicks, with the mouse message in lParam.
    static constexpr UINT TrayMessage = WM_APP + 1;

    // Creates the hidden window on the calling thread, which runs `loop`.
    TWin32MainWindow(TMainLoop& loop, TAgentServices services, TWin32MainWindowLinks links = {},
                     TAgentOptions options = {});
    ~TWin32MainWindow() override;
    TWin32MainWindow(const TWin32MainWindow&) = delete;
    TWin32MainWindow& operator=(const TWin32MainWindow&) = delete;

    // Start-up: shows the tray icon and runs the agent's start sequence, which leaves the window
    // hidden or shown.
    void FormCreate();
    // Runs when the process is to end: "Выход" was chosen or a self-update took over.
    void OnExitRequested(std::function<void()> handler) { FPresenter.OnExitRequested(std::move(handler)); }

    TAgent& Agent() { return FPresenter.Agent(); }
    void SetSyncPaused(bool paused) { FPresenter.SetSyncPaused(paused); }
    // A second start, the tray or a menu: the window comes to the front.
    void ShowMainWindow();
    // The stop command: the agent ends as on "Выход".
    void ExitAgent();
    void HandleAppException(const std::exception& error,
                            std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) {
        FPresenter.HandleAppException(error, now);
    }

    // What tests drive and read: the window (its controls by their IDC_MAIN_* ids), both menus and
    // the tray icon.
    HWND Handle() const { return FWindow; }
    HMENU TrayMenu() const { return FTrayMenu.get(); }
    HMENU ScalesMenu() const { return FScalesMenu.get(); }
    const TWin32TrayIcon& TrayIcon() const { return *FTrayIcon; }
    bool TrayShowsAlert() const { return FTrayAlert; }
    // The status line's tooltip: the whole text when the line is cut, otherwise empty.
    const std::wstring& StatusTooltip() const { return FStatusTip.Text(); }

private:
    // TMainView
    void ShowStatus(const TMainStatusTexts& texts) override;
    void ShowLogTail(const std::string& tail) override;
    void ShowWindow() override;
    void HideWindow() override;
    bool IsWindowShown() const override;
    void CloseForExit() override;
    bool EditConfig(TEgaissConfig& cfg) override;
    void ShowQueue(const TEgaissConfig& cfg) override;
    void ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& pause) override;
    bool EditScales(int brand, TScalesConfig& cfg) override;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // An exception escaping a handler goes to the presenter, never into the system's code.
    template <typename THandler>
    void Guarded(const THandler& handler);
    void Command(int id);
    void TrayClicked(UINT mouseMessage);

    void CreateControls();
    void CreateMenus();
    void ApplyDpi(UINT dpi);
    void LayoutControls();
    void PlaceCentred();
    void UpdateStatusTooltip();
    void PopupMenuAt(HMENU menu, POINT at);

    TWin32MainWindowLinks FLinks;
    TWin32Prompts FOwnPrompts;
    HWND FWindow = nullptr;
    HWND FStatus = nullptr;
    TControlTooltip FStatusTip;
    HWND FLog = nullptr;
    HWND FScalesButton = nullptr;
    TUniqueMenu FTrayMenu;
    TUniqueMenu FScalesMenu;
    TUniqueFont FFont;
    TUniqueFont FFixedFont;
    TUniqueIcon FBigIcon;  // the window's, for its DPI
    TUniqueIcon FSmallIcon;
    TUniqueIcon FTrayNormalIcon;  // the tray's, for the system's DPI
    TUniqueIcon FTrayAlertIcon;
    UINT FDpi = 96;
    UINT FTaskbarCreated = 0;
    std::wstring FStatusText;
    bool FTrayAlert = false;
    std::optional<TWin32TrayIcon> FTrayIcon;  // from the window's creation on
    // Last: built after the controls it draws on, destroyed before them.
    TMainPresenter FPresenter;
};

}  // namespace egaiss
