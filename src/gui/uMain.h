#pragma once
// The agent's main window: the tray icon with its hint and menus, the status line, the log view and
// the commands that open the other windows. The scheduler (TAgent) does the work; this window shows
// its state and forwards the user's choices.
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/uAgent.h"
#include "gui/uBootstrapForm.h"
#include "gui/uScalesForm.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;

namespace egaiss {

// The windows and the desktop services the main window opens; tests put stand-ins here.
struct TMainWindowLinks {
    // The settings dialog (TfrmSetup::EditConfig).
    std::function<bool(TEgaissConfig& cfg, bool firstRun, QWidget* parent)> EditConfig;
    // The outgoing queue window (TfrmQueue::ShowQueue).
    std::function<void(const TEgaissConfig& cfg, QWidget* parent)> ShowQueue;
    // The desktop's browser; false when it could not be started.
    std::function<bool(const std::string& url)> OpenUrl;
    // The scales dialog and the preparation window.
    std::function<bool(int brand, TScalesConfig& cfg, QWidget* parent)> EditScales = &TfrmScales::EditScales;
    std::function<void(const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused, QWidget* parent)>
        ShowBootstrap = &TfrmBootstrap::ShowBootstrap;
};

TMainWindowLinks RealMainWindowLinks();

class TfrmMain : public QWidget, public TAgentWindow, public TSyncPauseControl {
    Q_OBJECT

public:
    static constexpr int ClientWidth = 560;
    static constexpr int ClientHeight = 420;
    static constexpr auto EncodingMessagePause = std::chrono::seconds(15);

    explicit TfrmMain(TAgentServices services, TMainWindowLinks links = RealMainWindowLinks(),
                      TAgentOptions options = {});

    // Start-up: installs the exception handler and runs the agent's start sequence, which leaves
    // the window hidden or shown.
    void FormCreate();

    TAgent& Agent() { return *FAgent; }
    // For the preparation window: sync, command poll and ping pause while it is open.
    void SetSyncPaused(bool paused) override { FAgent->SetSyncPaused(paused); }
    void RefreshLogView() { RefreshLog(); }

    // TAgentWindow
    bool EditConfig(TEgaissConfig& cfg) override;
    void StatusChanged() override;
    void ShowMainWindow() override;
    void HideToTray() override;
    bool IsShown() const override { return isVisible(); }
    void RefreshLog() override;
    void ReportEventException(const std::exception& error) override { HandleAppException(error); }

    // An exception that escaped an event handler: logged and shown in one message box; the
    // "No mapping for the Unicode character" box at most once per 15 seconds.
    void HandleAppException(const std::exception& error,
                            std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    // "Выход": the only way to end the process from the window.
    void mnuExitClick();
    void mnuSettingsClick();
    void mnuQueueClick();
    void mnuOpenUtmClick();
    void mnuBootstrapClick();
    void mnuScalesBrandClick(int brand);

    QSystemTrayIcon& TrayIcon() { return *FTrayIcon; }
    QMenu& PopupMenu() { return *FPopupMenu; }
    QMenu& PopupScales() { return *FPopupScales; }
    const QLabel& StatusLabel() const { return *FStatusLabel; }
    QPlainTextEdit& LogView() { return *FLogView; }
    bool TrayShowsAlert() const { return FTrayAlert; }

signals:
    // The process is to end: "Выход" was chosen or a self-update took over.
    void ExitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void CreateTrayMenu();
    QMenu* CreateScalesMenu(QWidget* parent, const char* objectPrefix);
    void UpdateTrayIcon();
    void AllowCloseAndExit();
    void ShowNotConfigured();
    // The scales dialog for `brand`; saved settings are reloaded and re-timed.
    void OpenScalesDialog(int brand);

    TMainWindowLinks FLinks;
    std::unique_ptr<TAgent> FAgent;
    bool FAllowClose = false;
    bool FTrayAlert = false;
    std::optional<std::chrono::steady_clock::time_point> FLastEncMsgTick;

    QLabel* FStatusLabel = nullptr;
    QPlainTextEdit* FLogView = nullptr;
    QPushButton* FScalesButton = nullptr;
    QMenu* FPopupMenu = nullptr;
    QMenu* FPopupScales = nullptr;
    QAction* FStatusItem = nullptr;
    QAction* FLastSyncItem = nullptr;
    QAction* FOpenUtmItem = nullptr;
    QSystemTrayIcon* FTrayIcon = nullptr;
    QTimer FTimerLog;
};

}  // namespace egaiss
