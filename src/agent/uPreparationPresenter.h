#pragma once
// The rules of the preparation window: the manifest load and the component checks on a worker
// thread, the list rows and their status texts, the enable rules of the buttons, installing the
// selected component (on a worker thread too) or all installable ones, the close question while an
// install runs, and sync paused for as long as the window lives. Each face's window draws what this
// class tells its view; tests drive it without a display.
#include <memory>
#include <string>
#include <vector>

#include "agent/uAgent.h"
#include "agent/uMainLoop.h"
#include "agent/uPrompts.h"
#include "agent/uWorkerThreads.h"
#include "core/uEgaissConfig.h"
#include "prepare/uBootstrapInstall.h"
#include "prepare/uBootstrapWindow.h"
#include "prepare/uPrepareCheck.h"

namespace egaiss {

class TJobTracker;

// The window's captions, shared by both faces.
namespace preparation_texts {
inline constexpr const char* Title = DefaultManifestTitle;
inline constexpr const char* Hint =
    "Check PC readiness for UTM. If something is missing, download packages and run installers.";
inline constexpr const char* NoManifest = "Manifest: -";
inline constexpr const char* Refresh = "Обновить";
inline constexpr const char* Install = "Установить";
inline constexpr const char* InstallAll = "Установить все";
inline constexpr const char* Close = "Закрыть";
inline constexpr const char* SilentInstall = "Silent install (no UI)";
inline constexpr const char* ColumnOrder = "#";
inline constexpr const char* ColumnStatus = "Status";
inline constexpr const char* ColumnComponent = "Component";
inline constexpr const char* ColumnDetails = "Details";
}  // namespace preparation_texts

// The cells of one list row. `Ok` rows show the green tick in the status cell.
struct TPreparationRow {
    std::string Order;
    std::string Status;
    std::string Title;
    std::string Detail;
    bool Ok = false;

    bool operator==(const TPreparationRow&) const = default;
};

// The progress label and bar; the label can be shown alone (an install-all error).
struct TPreparationProgress {
    bool BarShown = false;
    bool CaptionShown = false;
    int Position = 0;
    int Maximum = 1;
    std::string Caption;
};

struct TPreparationButtons {
    bool Refresh = true;
    bool Install = false;
    bool InstallAll = false;
    bool Close = true;
    bool Silent = true;
    bool List = true;

    bool operator==(const TPreparationButtons&) const = default;
};

// What the window shows for the presenter. Called on the main thread.
class TPreparationView {
public:
    virtual ~TPreparationView() = default;
    // The whole list, nothing selected.
    virtual void ShowRows(const std::vector<TPreparationRow>& rows) = 0;
    // One row's cells.
    virtual void ShowRow(int row, const TPreparationRow& cells) = 0;
    virtual void SelectRow(int row) = 0;
    virtual void ShowProgress(const TPreparationProgress& progress) = 0;
    virtual void ShowManifestText(const std::string& text) = 0;
    virtual void ShowEnabled(const TPreparationButtons& enabled) = 0;
    // Background work runs: a busy cursor over the window.
    virtual void ShowBusy(bool busy) = 0;
    virtual void CloseWindow() = 0;
};

class TPreparationPresenter final : private TBootstrapWindow {
public:
    // Sync is paused through `setSyncPaused` from here until the presenter goes.
    TPreparationPresenter(TMainLoop& loop, TPreparationView& view, TPrompts& prompts,
                          const TEgaissConfig& cfg, TSyncPauser setSyncPaused = {},
                          TInstallOptions options = {});
    // Work still running is left to finish on its own (an install is cancelled); nothing it
    // reports afterwards reaches the view.
    ~TPreparationPresenter() override;
    TPreparationPresenter(const TPreparationPresenter&) = delete;
    TPreparationPresenter& operator=(const TPreparationPresenter&) = delete;

    // The initial state of the controls.
    void Open();
    // The window is on screen: the first check run starts, once.
    void Shown();
    // Loads the manifest from the server (not the cache) and checks again; nothing while work runs.
    void RefreshClicked();
    // The list's selection; -1 for none.
    void RowSelected(int row);
    void InstallClicked(bool silent);
    void InstallAllClicked(bool silent);
    // The title bar, Escape and "Закрыть" alike: while an install runs the user is asked whether to
    // cancel it; the window closes unless the answer is No.
    void CloseClicked();

    // A check run or an install is running.
    bool Busy() const { return FWork != TWork::wkIdle; }
    const std::vector<TComponentCheckRow>& Rows() const { return FRows; }

private:
    enum class TWork { wkIdle, wkChecking, wkInstallingOne, wkInstallingAll };
    struct TCheckRun;

    // Sync paused from construction until destruction, with the window's log lines.
    class TSyncPause {
    public:
        explicit TSyncPause(TSyncPauser setSyncPaused);
        ~TSyncPause();
        TSyncPause(const TSyncPause&) = delete;
        TSyncPause& operator=(const TSyncPause&) = delete;

    private:
        TSyncPauser FSetSyncPaused;
    };

    void StartChecks(bool force);
    void ChecksFinished(const TCheckRun& run);
    void InstallOneFinished(int index, const std::string& title, bool silent, const TEnvCheckResult& result,
                            const std::string& error);
    const TJsonValue* Components() const;
    const TJsonValue* SelectedComponent() const;
    int FindRow(int index) const;
    void SetWork(TWork work);
    void EndProgress();
    void UpdateInstallAllButton();
    void ShowButtons();
    void ShowProgress();

    // TBootstrapWindow
    void BeginProgress(int maximum) override;
    void SetProgressSafe(int position, const std::string& caption) override;
    void MarkRowRunning(int index) override;
    void UpdateRow(int index, const TEnvCheckResult& result) override;
    void InstallAllFinished(const std::string& errMsg) override;
    bool IsSilentMode() const override { return FSilent; }
    const TJsonValue* ComponentAt(int index) const override;

    // First member: sync resumes after everything else has gone.
    TSyncPause FSyncPause;
    TPreparationView& FView;
    TPrompts& FPrompts;
    const TEgaissConfig FCfg;
    const TComponentCheckRunner FRunCheck;
    std::shared_ptr<const TBootstrapManifest> FManifest;
    // One per row of the list, in row order.
    std::vector<TComponentCheckRow> FRows;
    int FSelectedIndex = -1;
    bool FInitialChecksPending = true;
    bool FSilent = false;
    bool FInstallEnabled = false;
    bool FInstallAllEnabled = false;
    TWork FWork = TWork::wkIdle;
    TPreparationProgress FProgress;
    std::shared_ptr<TJobTracker> FJobs;
    // Shared with a single install's worker, which may outlive the window.
    std::shared_ptr<TBootstrapInstaller> FInstaller;
    TWorkerThreads FWorkers;
};

}  // namespace egaiss
