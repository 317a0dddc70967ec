#pragma once
// The preparation window: the checks of the preparation manifest's components in a list, and the
// installation of the selected one or of all installable ones through TBootstrapInstaller.
#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "agent/uAgent.h"
#include "core/uEgaissConfig.h"
#include "prepare/uBootstrapInstall.h"
#include "prepare/uBootstrapWindow.h"
#include "prepare/uPrepareCheck.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace egaiss {

class TJobTracker;

// A window that pauses the agent's sync: the main window. Dialogs it opens find it among their
// parents, so that the preparation window they open pauses sync too.
class TSyncPauseControl {
public:
    virtual void SetSyncPaused(bool paused) = 0;

protected:
    ~TSyncPauseControl() = default;
};

// The pauser of the first of `window` and its parents that is a TSyncPauseControl; empty when none is.
TSyncPauser SyncPauserOf(QWidget* window);

class TfrmBootstrap : public QDialog, private TBootstrapWindow {
    Q_OBJECT

public:
    TfrmBootstrap(const TEgaissConfig& cfg, TInstallOptions options = {}, QWidget* parent = nullptr);
    ~TfrmBootstrap() override;

    // Modal; sync is paused from before the window opens until after it has closed.
    static void ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused,
                              QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void PostCheckRun();
    void RunChecks(bool force);
    void AddRow(const TComponentCheckRow& row);
    void ShowRowResult(QTreeWidgetItem* item, const TEnvCheckResult& result);
    int FindRow(int index) const;
    const TJsonValue* Components() const;
    const TJsonValue* SelectedComponent() const;
    void UpdateInstallAllButton();
    void RecheckRow(int index);
    void SetBusyCursor(bool busy);
    void ShowManifestText();

    void SetProgress(int position, const std::string& caption);
    void EndProgress();

    // TBootstrapWindow
    void BeginProgress(int maximum) override;
    void SetProgressSafe(int position, const std::string& caption) override;
    void MarkRowRunning(int index) override;
    void UpdateRow(int index, const TEnvCheckResult& result) override;
    void InstallAllFinished(const std::string& errMsg) override;
    bool IsSilentMode() const override;
    const TJsonValue* ComponentAt(int index) const override;

    void btnRefreshClick();
    void btnInstallClick();
    void btnInstallAllClick();
    void btnCloseClick();
    void lvChecksSelectItem();

    const TEgaissConfig FCfg;
    TBootstrapManifest FManifest;
    // One per row of lvChecks, in row order.
    std::vector<TComponentCheckRow> FRows;
    TComponentCheckRunner FRunCheck;
    QString FManifestText;
    int FSelectedIndex = -1;
    bool FInitialChecksPending = true;
    bool FBusyCursor = false;
    std::shared_ptr<TJobTracker> FJobs;
    // Last member: destroyed first, so that install-all ends before the window's parts go.
    std::unique_ptr<TBootstrapInstaller> FInstaller;

    QPushButton* btnRefresh = nullptr;
    QPushButton* btnInstall = nullptr;
    QPushButton* btnInstallAll = nullptr;
    QPushButton* btnClose = nullptr;
    QCheckBox* chkSilentInstall = nullptr;
    QTreeWidget* lvChecks = nullptr;
    QLabel* lblHint = nullptr;
    QLabel* lblManifest = nullptr;
    QLabel* lblProgress = nullptr;
    QProgressBar* pbChecks = nullptr;
};

}  // namespace egaiss
