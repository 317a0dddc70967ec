#pragma once
// The preparation window: the checks of the preparation manifest's components in a list, and the
// installation of the selected one or of all installable ones. TPreparationPresenter holds the
// rules; this window lays out the controls, forwards what the user does and draws the green tick.
#include <QDialog>
#include <QIcon>
#include <memory>

#include "agent/uPreparationPresenter.h"
#include "gui/uUiPrompts.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace egaiss {

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

class TfrmBootstrap : public QDialog, private TPreparationView {
    Q_OBJECT

public:
    // Sync is paused through `setSyncPaused` while the window exists.
    TfrmBootstrap(const TEgaissConfig& cfg, TInstallOptions options = {}, QWidget* parent = nullptr,
                  TSyncPauser setSyncPaused = {});
    ~TfrmBootstrap() override;

    // Modal; sync is paused from before the window opens until after it has closed.
    static void ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused,
                              QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

public slots:
    // Escape, the title bar and "Закрыть" all end here.
    void reject() override;

private:
    void BuildControls();
    void lvChecksSelectItem();

    // TPreparationView
    void ShowRows(const std::vector<TPreparationRow>& rows) override;
    void ShowRow(int row, const TPreparationRow& cells) override;
    void SelectRow(int row) override;
    void ShowProgress(const TPreparationProgress& progress) override;
    void ShowManifestText(const std::string& text) override;
    void ShowEnabled(const TPreparationButtons& enabled) override;
    void ShowBusy(bool busy) override;
    void CloseWindow() override { QDialog::reject(); }

    TWindowPrompts FPrompts{this};
    const QIcon FCheckMark;
    std::unique_ptr<TPreparationPresenter> FPresenter;

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
