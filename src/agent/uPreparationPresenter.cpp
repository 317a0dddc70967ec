#include "agent/uPreparationPresenter.h"

#include <algorithm>
#include <exception>

#include "agent/uAgentStatus.h"
#include "agent/uJobTracker.h"
#include "platform/uErrors.h"

namespace egaiss {
namespace {

constexpr const char* LoadingManifest = "Loading manifest...";

TPreparationRow RowCells(const TComponentCheckRow& row) {
    const bool ok = row.Result.State == TEnvCheckState::ecsOk;
    return {std::to_string(row.Order), ok ? std::string() : EnvStateText(row.Result.State), row.Title,
            row.Result.Detail, ok};
}

std::string TitleOrEmpty(const TJsonValue& component) {
    std::string title;
    TryGetJsonString(component, "title", title);
    return title;
}

std::string ErrorText(const std::exception& error) {
    const std::string text = error.what();
    return text.empty() ? ExceptionClassName(error) : text;
}

TEnvCheckResult CheckComponent(const TComponentCheckRunner& run, const TJsonValue& component,
                               const TEgaissConfig& cfg) {
    return run ? run(component, cfg) : RunEnvCheck(component, cfg);
}

}  // namespace

// What a check run hands back: the new manifest and its rows, or the error that keeps the old ones.
struct TPreparationPresenter::TCheckRun {
    std::shared_ptr<const TBootstrapManifest> Manifest;
    std::vector<TComponentCheckRow> Rows;
    std::string Error;
};

TPreparationPresenter::TSyncPause::TSyncPause(TSyncPauser setSyncPaused)
    : FSetSyncPaused(std::move(setSyncPaused)) {
    if (FSetSyncPaused) FSetSyncPaused(true);
    LogBootstrap("Preparation window opened, sync paused");
}

TPreparationPresenter::TSyncPause::~TSyncPause() {
    LogBootstrap("Preparation window closed, sync resumed");
    if (FSetSyncPaused) FSetSyncPaused(false);
}

TPreparationPresenter::TPreparationPresenter(TMainLoop& loop, TPreparationView& view, TPrompts& prompts,
                                             const TEgaissConfig& cfg, TSyncPauser setSyncPaused,
                                             TInstallOptions options)
    : FSyncPause(std::move(setSyncPaused)),
      FView(view),
      FPrompts(prompts),
      FCfg(cfg),
      FRunCheck(options.RunCheck),
      FJobs(std::make_shared<TJobTracker>(loop)) {
    FInstaller = std::make_shared<TBootstrapInstaller>(
        static_cast<TBootstrapWindow&>(*this), FCfg,
        [jobs = FJobs](std::function<void()> step) { jobs->Post(std::move(step)); }, std::move(options));
}

TPreparationPresenter::~TPreparationPresenter() {
    FJobs->Detach();
    FInstaller->CancelInstall();
    FInstaller->KillInstaller();
}

void TPreparationPresenter::Open() {
    FView.ShowManifestText(preparation_texts::NoManifest);
    ShowProgress();
    ShowButtons();
}

void TPreparationPresenter::Shown() {
    if (!FInitialChecksPending) return;
    FInitialChecksPending = false;
    StartChecks(false);
}

void TPreparationPresenter::RefreshClicked() {
    if (Busy()) return;
    LogBootstrap("User requested refresh");
    StartChecks(true);
}

// The manifest and every check can wait on the network for a long time, so both run on a worker; the
// list keeps its rows until the run has new ones.
void TPreparationPresenter::StartChecks(bool force) {
    LogBootstrap("Start environment checks");
    SetWork(TWork::wkChecking);
    BeginProgress(1);
    SetProgressSafe(0, LoadingManifest);
    FJobs->JobStarted();
    FWorkers.Start([this, jobs = FJobs, cfg = FCfg, run = FRunCheck, force] {
        TCheckRun result;
        try {
            auto manifest = std::make_shared<TBootstrapManifest>();
            if (manifest->Load(cfg.ServerURL, force)) {
                LogBootstrap("Manifest loaded: " + manifest->SourceURL());
            } else if (manifest->LoadFromCache()) {
                LogBootstrap("Manifest loaded from cache: " + manifest->SourceURL());
            } else {
                LogBootstrapError("Manifest load failed");
                result.Error = "Failed to load egaiss-bootstrap.json";
            }
            if (result.Error.empty()) {
                jobs->Post(
                    [this, text = "Manifest: " + manifest->SourceURL()] { FView.ShowManifestText(text); });
                const auto progress = [this, &jobs](const std::string& title, int number, int total) {
                    jobs->Post([this, title, number, total] {
                        FProgress.Maximum = total + 1;
                        SetProgressSafe(number, "Check: " + title + "  (" + std::to_string(number) + "/" +
                                                    std::to_string(total) + ")");
                    });
                };
                result.Rows = RunComponentChecks(manifest->Components(), cfg, run, progress);
                result.Manifest = std::move(manifest);
            }
        } catch (const std::exception& error) {
            result.Error = ErrorText(error);
            LogBootstrapError("Checks failed: " + result.Error);
        }
        jobs->JobFinished([this, result] { ChecksFinished(result); });
    });
}

void TPreparationPresenter::ChecksFinished(const TCheckRun& run) {
    if (run.Error.empty()) {
        FManifest = run.Manifest;
        FRows = run.Rows;
        std::vector<TPreparationRow> cells;
        for (const TComponentCheckRow& row : FRows)
            cells.push_back(RowCells(row));
        FView.ShowRows(cells);
        RowSelected(-1);
        if (!FRows.empty()) {
            FView.SelectRow(0);
            RowSelected(0);
        }
    } else {
        FPrompts.Message(TMessageKind::mkError, AppTitle(), run.Error);
    }
    EndProgress();
}

void TPreparationPresenter::RowSelected(int row) {
    FSelectedIndex = row >= 0 && static_cast<std::size_t>(row) < FRows.size() ? row : -1;
    const TJsonValue* component = SelectedComponent();
    FInstallEnabled = component != nullptr && component->Find("install") != nullptr;
    ShowButtons();
}

void TPreparationPresenter::InstallClicked(bool silent) {
    if (Busy()) return;
    const TJsonValue* component = SelectedComponent();
    if (component == nullptr) return;
    const std::string title = TitleOrEmpty(*component);
    if (!FPrompts.Confirm(AppTitle(),
                          "Download and install \"" + title + "\"?\r\nAdministrator rights may be required."))
        return;
    LogBootstrap("User confirmed install: " + title);
    FSilent = silent;
    const int index = FRows[static_cast<std::size_t>(FSelectedIndex)].Index;
    SetWork(TWork::wkInstallingOne);
    FJobs->JobStarted();
    // The download and an interactive installer can take many minutes: off the loop, with the
    // installer kept alive by the worker should the window close meanwhile.
    FWorkers.Start([this, jobs = FJobs, installer = FInstaller, component = *component, cfg = FCfg,
                    run = FRunCheck, index, title, silent] {
        TEnvCheckResult result;
        std::string error;
        try {
            installer->InstallComponent(&component, !silent, silent);
            if (!silent) result = CheckComponent(run, component, cfg);
        } catch (const std::exception& failure) {
            error = ErrorText(failure);
        }
        jobs->JobFinished([this, index, title, silent, result, error] {
            InstallOneFinished(index, title, silent, result, error);
        });
    });
}

void TPreparationPresenter::InstallOneFinished(int index, const std::string& title, bool silent,
                                               const TEnvCheckResult& result, const std::string& error) {
    if (!error.empty()) {
        LogBootstrapError("Install failed: " + title + " - " + error);
        FPrompts.Message(TMessageKind::mkError, AppTitle(), error);
    } else if (silent) {
        FPrompts.Message(TMessageKind::mkInformation, AppTitle(),
                         "Installer started. After it finishes click \"Recheck\".");
    } else {
        UpdateRow(index, result);
        LogBootstrap("List item updated after install: idx=" + std::to_string(index) +
                     " state=" + EnvStateTag(result.State));
    }
    SetWork(TWork::wkIdle);
}

void TPreparationPresenter::InstallAllClicked(bool silent) {
    if (FInstaller->InstallAllBusy()) {
        FPrompts.Message(TMessageKind::mkInformation, AppTitle(), "Install already running. Please wait.");
        return;
    }
    if (Busy()) return;
    const std::vector<int> indices = CollectInstallIndices(FRows, Components());
    if (indices.empty()) {
        FPrompts.Message(TMessageKind::mkInformation, AppTitle(), "Nothing to install.");
        return;
    }
    std::string list;
    for (std::size_t n = 0; n < indices.size(); ++n)
        list += std::to_string(n + 1) + ". " + ItemTitle(ComponentAt(indices[n])) + "\r\n";
    const std::string mode =
        silent ? "Mode: silent install." : "Mode: interactive install - confirm each dialog.";
    if (!FPrompts.Confirm(AppTitle(), "Download and install all items?\r\n\r\n" + list +
                                          "\r\n\r\nAdministrator rights may be required. Follow installer "
                                          "prompts.\r\n\r\n" +
                                          mode))
        return;
    FSilent = silent;
    SetWork(TWork::wkInstallingAll);
    try {
        FInstaller->InstallAllAsync(indices);
    } catch (...) {
        EndProgress();
        throw;
    }
}

void TPreparationPresenter::InstallAllFinished(const std::string& errMsg) {
    if (!errMsg.empty()) {
        LogBootstrapError("Install all failed: " + errMsg);
        EndProgress();
        FProgress.Caption = errMsg;
        FProgress.CaptionShown = true;
        ShowProgress();
        return;
    }
    FProgress.Caption = "Install finished. Running recheck...";
    FProgress.CaptionShown = true;
    FProgress.Position = FProgress.Maximum;
    ShowProgress();
    LogBootstrap("Install all finished, re-running checks");
    // The list is checked again once this step is done, as after opening the window.
    SetWork(TWork::wkChecking);
    FJobs->Post([this] { StartChecks(false); });
}

void TPreparationPresenter::CloseClicked() {
    if (FWork == TWork::wkInstallingOne || FWork == TWork::wkInstallingAll) {
        if (!FPrompts.Confirm(AppTitle(),
                              "Install is running. Cancel?\r\nCurrent installer window will stay open."))
            return;
        FInstaller->CancelInstall();
        FInstaller->KillInstaller();
    }
    FView.CloseWindow();
}

const TJsonValue* TPreparationPresenter::Components() const {
    return FManifest ? FManifest->Components() : nullptr;
}

const TJsonValue* TPreparationPresenter::ComponentAt(int index) const {
    return egaiss::ComponentAt(Components(), index);
}

const TJsonValue* TPreparationPresenter::SelectedComponent() const {
    if (FSelectedIndex < 0) return nullptr;
    return ComponentAt(FRows[static_cast<std::size_t>(FSelectedIndex)].Index);
}

int TPreparationPresenter::FindRow(int index) const {
    const auto row = std::ranges::find(FRows, index, &TComponentCheckRow::Index);
    return row == FRows.end() ? -1 : static_cast<int>(row - FRows.begin());
}

void TPreparationPresenter::SetWork(TWork work) {
    FWork = work;
    FView.ShowBusy(Busy());
    ShowButtons();
}

// While work runs only closing is offered; the install button keeps following the selection
// afterwards, except after progress, which leaves it to the next selection or check run.
void TPreparationPresenter::ShowButtons() {
    const bool idle = !Busy();
    FView.ShowEnabled({idle, idle && FInstallEnabled, idle && FInstallAllEnabled, true, idle, idle});
}

void TPreparationPresenter::ShowProgress() {
    FView.ShowProgress(FProgress);
}

void TPreparationPresenter::BeginProgress(int maximum) {
    FInstallEnabled = false;
    FInstallAllEnabled = false;
    FProgress.BarShown = true;
    FProgress.CaptionShown = true;
    FProgress.Position = 0;
    FProgress.Maximum = std::max(maximum, 1);
    ShowProgress();
    ShowButtons();
}

void TPreparationPresenter::SetProgressSafe(int position, const std::string& caption) {
    FProgress.Position = std::clamp(position, 0, FProgress.Maximum);
    FProgress.Caption = caption;
    ShowProgress();
}

void TPreparationPresenter::EndProgress() {
    FProgress.BarShown = false;
    FProgress.CaptionShown = false;
    ShowProgress();
    FWork = TWork::wkIdle;
    FView.ShowBusy(false);
    UpdateInstallAllButton();
}

void TPreparationPresenter::UpdateInstallAllButton() {
    FInstallAllEnabled = !CollectInstallIndices(FRows, Components()).empty();
    ShowButtons();
}

void TPreparationPresenter::MarkRowRunning(int index) {
    const int row = FindRow(index);
    if (row < 0) return;
    TPreparationRow cells = RowCells(FRows[static_cast<std::size_t>(row)]);
    cells.Status = "Running...";
    cells.Ok = false;
    FView.ShowRow(row, cells);
}

void TPreparationPresenter::UpdateRow(int index, const TEnvCheckResult& result) {
    const int row = FindRow(index);
    if (row < 0) return;
    TComponentCheckRow& checked = FRows[static_cast<std::size_t>(row)];
    checked.Result = result;
    FView.ShowRow(row, RowCells(checked));
}

}  // namespace egaiss
