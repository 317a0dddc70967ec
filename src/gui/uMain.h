#pragma once
// The agent's main window on Qt: the tray icon with its hint and menus, the status line, the log view
// and the buttons. TMainPresenter holds the rules; this window lays out the controls, forwards the
// user's choices and draws what the presenter says.
#include <QWidget>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/uAgent.h"
#include "agent/uMainPresenter.h"
#include "gui/uBootstrapForm.h"
#include "gui/uElidedLabel.h"
#include "gui/uScalesForm.h"
#include "gui/uUiPrompts.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;

namespace egaiss {

// The windows and the desktop services the main window opens; tests put stand-ins here.
struct TMainWindowLinks {
    // The settings dialog (TfrmSetup::EditConfig).
    std::function<bool(TEgaissConfig& cfg, QWidget* parent)> EditConfig;
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

class TfrmMain : public QWidget, private TMainView, public TSyncPauseControl {
    Q_OBJECT

public:
    static constexpr int ClientWidth = 560;
    static constexpr int ClientHeight = 420;

    explicit TfrmMain(TAgentServices services, TMainWindowLinks links = RealMainWindowLinks(),
                      TAgentOptions options = {});

    // Start-up: installs the exception handler and runs the agent's start sequence, which leaves
    // the window hidden or shown.
    void FormCreate();

    TAgent& Agent() { return FPresenter.Agent(); }
    // For the preparation window: sync, command poll and ping pause while it is open.
    void SetSyncPaused(bool paused) override { FPresenter.SetSyncPaused(paused); }
    bool IsShown() const { return isVisible(); }
    void ShowMainWindow() { FPresenter.ShowMainWindow(); }
    void HideToTray() { FPresenter.HideToTray(); }
    void RefreshLog() { FPresenter.RefreshLog(); }
    void HandleAppException(const std::exception& error,
                            std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) {
        FPresenter.HandleAppException(error, now);
    }

    void mnuExitClick() { FPresenter.ExitClicked(); }
    void mnuSettingsClick() { FPresenter.SettingsClicked(); }
    void mnuQueueClick() { FPresenter.QueueClicked(); }
    void mnuOpenUtmClick() { FPresenter.OpenUtmClicked(); }
    void mnuBootstrapClick() { FPresenter.BootstrapClicked(); }
    void mnuScalesBrandClick(int brand) { FPresenter.ScalesBrandClicked(brand); }

    QSystemTrayIcon& TrayIcon() { return *FTrayIcon; }
    QMenu& PopupMenu() { return *FPopupMenu; }
    QMenu& PopupScales() { return *FPopupScales; }
    const TElidedLabel& StatusLabel() const { return *FStatusLabel; }
    QPlainTextEdit& LogView() { return *FLogView; }
    bool TrayShowsAlert() const { return FTrayAlert; }

signals:
    // The process is to end: "Выход" was chosen or a self-update took over.
    void ExitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // TMainView
    void ShowStatus(const TMainStatusTexts& texts) override;
    void ShowLogTail(const std::string& tail) override;
    void ShowWindow() override;
    void HideWindow() override;
    bool IsWindowShown() const override { return isVisible(); }
    void CloseForExit() override;
    bool EditConfig(TEgaissConfig& cfg) override;
    void ShowQueue(const TEgaissConfig& cfg) override;
    void ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& pause) override;
    bool EditScales(int brand, TScalesConfig& cfg) override;

    void CreateControls();
    void CreateTrayMenu();
    QMenu* CreateScalesMenu(QWidget* parent, const char* objectPrefix);

    TMainWindowLinks FLinks;
    TWindowPrompts FPrompts{this};
    TElidedLabel* FStatusLabel = nullptr;
    QPlainTextEdit* FLogView = nullptr;
    QPushButton* FScalesButton = nullptr;
    QMenu* FPopupMenu = nullptr;
    QMenu* FPopupScales = nullptr;
    QAction* FStatusItem = nullptr;
    QAction* FLastSyncItem = nullptr;
    QAction* FOpenUtmItem = nullptr;
    QSystemTrayIcon* FTrayIcon = nullptr;
    bool FTrayAlert = false;
    // Last: built after the controls it draws on, destroyed before them.
    TMainPresenter FPresenter;
};

}  // namespace egaiss
