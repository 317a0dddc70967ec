#pragma once
// The rules of the main window and the tray icon: the status texts and the red mark, the log view
// refreshed while the window is shown, hiding to the tray, "Выход", the menu commands and the
// exception box. The presenter owns the scheduler and is the window it reports to; each face (Qt,
// Win32) lays out the controls and draws what the presenter tells its TMainView.
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/uAgent.h"
#include "agent/uMainLoop.h"
#include "agent/uPrompts.h"

namespace egaiss {

// What the tray icon, its menu and the status line show.
struct TMainStatusTexts {
    std::string Caption;   // "Status: ...": status line and the status menu item
    std::string LastSync;  // "Last sync: ..."
    std::string Hint;      // the tray icon's hint
    bool Alert = false;    // the red mark: the last sync failed
};

// The captions of the main window, its tray menu and the scales menus, shared by both faces.
namespace main_texts {
inline constexpr const char* Queue = "Очередь";
inline constexpr const char* Scales = "Весы";
inline constexpr const char* Settings = "Настройки";
inline constexpr const char* Minimize = "Свернуть";
inline constexpr const char* MenuShow = "Открыть окно программы";
inline constexpr const char* MenuSettings = "Настройки...";
inline constexpr const char* MenuQueue = "Очередь сообщений...";
inline constexpr const char* MenuBootstrap = "Подготовить компьютер к ЕГАИС...";
inline constexpr const char* MenuOpenUtm = "Open UTM...";
inline constexpr const char* MenuExit = "Выход";
inline constexpr const char* StatusWaiting = "Status: waiting...";
inline constexpr const char* LastSyncNone = "Last sync: -";
}  // namespace main_texts

struct TScalesMenuItem {
    const char* Name;  // object name without the menu's prefix
    const char* Caption;
    int Brand;
};

// The items of the "Весы" menus, in order.
const std::vector<TScalesMenuItem>& ScalesMenuItems();

// What the main window and the tray icon do for the presenter. Called on the main thread.
class TMainView {
public:
    virtual ~TMainView() = default;
    virtual void ShowStatus(const TMainStatusTexts& texts) = 0;
    // The log tail, lines separated by '\n'; the view keeps the reader's scroll position and selection.
    virtual void ShowLogTail(const std::string& tail) = 0;
    // Shows the window in front (and the tray icon), or hides it to the tray.
    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    virtual bool IsWindowShown() const = 0;
    // The window closes for good and the tray icon goes: the agent is ending.
    virtual void CloseForExit() = 0;

    // The other windows, modal over this one.
    // The settings dialog; true when the user saved (agent.ini written, cfg reloaded).
    virtual bool EditConfig(TEgaissConfig& cfg) = 0;
    virtual void ShowQueue(const TEgaissConfig& cfg) = 0;
    virtual void ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& pause) = 0;
    // The scales dialog of a supported brand; true when the user saved cfg.
    virtual bool EditScales(int brand, TScalesConfig& cfg) = 0;
};

struct TMainPresenterOptions {
    TAgentOptions Agent;
    // The desktop's browser; false when it could not be started.
    std::function<bool(const std::string& url)> OpenUrl;
};

class TMainPresenter final : private TAgentWindow {
public:
    static constexpr int LogTailLines = 300;
    static constexpr auto LogRefreshInterval = std::chrono::seconds(2);
    static constexpr auto EncodingMessagePause = std::chrono::seconds(15);

    TMainPresenter(TMainLoop& loop, TMainView& view, TPrompts& prompts, TAgentServices services,
                   TMainPresenterOptions options = {});
    ~TMainPresenter() override;
    TMainPresenter(const TMainPresenter&) = delete;
    TMainPresenter& operator=(const TMainPresenter&) = delete;

    // Runs when the process is to end: "Выход" was chosen or a self-update took over.
    void OnExitRequested(std::function<void()> handler) { FExitRequested = std::move(handler); }

    // The agent's start sequence, which leaves the window hidden or shown.
    void Start();

    TAgent& Agent() { return *FAgent; }
    // For the preparation window: sync, command poll and ping pause while it is open.
    void SetSyncPaused(bool paused) { FAgent->SetSyncPaused(paused); }

    // The user's commands.
    void ShowMainWindow() override;  // tray click, double click, "Открыть окно программы", a second start
    void HideToTray() override;  // "Свернуть"
    // The window was shown by the system: the log view follows again.
    void WindowShown();
    // The title bar's close: false while the agent runs (the window hides to the tray instead).
    bool CloseRequested();
    void ExitClicked();
    void SettingsClicked();
    void QueueClicked();
    void OpenUtmClicked();
    void BootstrapClicked();
    void ScalesBrandClicked(int brand);
    void RefreshLog() override;

    // An exception that escaped an event handler: logged and shown in one message box; the
    // "No mapping for the Unicode character" box at most once per 15 seconds.
    void HandleAppException(const std::exception& error,
                            std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    const TMainStatusTexts& StatusTexts() const { return FTexts; }

private:
    // TAgentWindow
    bool EditConfig(TEgaissConfig& cfg) override;
    void StatusChanged() override;
    bool IsShown() const override { return FView.IsWindowShown(); }
    void ReportEventException(const std::exception& error) override { HandleAppException(error); }

    bool EnsureConfigOrSay();
    void ExitAgent();

    TMainView& FView;
    TPrompts& FPrompts;
    std::function<bool(const std::string& url)> FOpenUrl;
    std::function<void()> FExitRequested;
    std::unique_ptr<TLoopTimer> FTimerLog;
    std::unique_ptr<TAgent> FAgent;
    TMainStatusTexts FTexts;
    bool FAllowClose = false;
    std::optional<std::chrono::steady_clock::time_point> FLastEncMsgTick;
};

}  // namespace egaiss
