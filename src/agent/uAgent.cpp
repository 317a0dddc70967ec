#include "agent/uAgent.h"

#include <algorithm>
#include <functional>

#include "agent/uJobTracker.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "core/uVersion.h"
#include "platform/uErrors.h"

namespace egaiss {

namespace {

// An exception must not leave a step of start-up or an event of the loop: it is logged and the
// agent goes on.
template <typename TStep>
void Guarded(const char* where, TStep step) {
    try {
        step();
    } catch (const std::exception& error) {
        LogException(where, error);
    }
}

constexpr const char* EventGuard = "Application.OnException";

}  // namespace

template <typename TStep>
void TAgent::GuardEvent(TStep step) {
    try {
        step();
    } catch (const std::exception& error) {
        if (FWindow != nullptr) {
            FWindow->ReportEventException(error);
        } else {
            LogException(EventGuard, error);
        }
    }
}

// Starts `work` on a thread of its own; the completion step it returns runs later on the agent's
// thread.
template <typename TWork>
void TAgent::StartJob(TWork work) {
    FJobs->JobStarted();
    FOptions.StartThread([this, jobs = FJobs, work = std::move(work)]() mutable {
        jobs->JobFinished([this, step = work()] { GuardEvent(step); });
    });
}

TAgent::TAgent(TMainLoop& loop, TAgentServices services, TAgentWindow* window, TAgentOptions options)
    : FLoop(loop),
      FServices(services),
      FWindow(window),
      FOptions(std::move(options)),
      FJobs(std::make_shared<TJobTracker>(loop)),
      // The sync timer's first interval is a real second, whatever the tests' second is.
      FTimerSync(MakeTimer(&TAgent::DoSyncAsync, 0)),
      FTimerCommand(MakeTimer(&TAgent::PollCommand, PingSeconds)),
      FTimerPing(MakeTimer(&TAgent::DoDiagnosisPingAsync, PingSeconds)),
      FTimerScales(MakeTimer(&TAgent::DoScalesPollAsync, DefaultScalePollSeconds)) {
    if (!FOptions.StartThread)
        FOptions.StartThread = [this](std::function<void()> body) { FWorkers.Start(std::move(body)); };
    FTimerSync->SetInterval(std::chrono::seconds(1));
}

std::unique_ptr<TLoopTimer> TAgent::MakeTimer(void (TAgent::*handler)(), int seconds) {
    auto timer = FLoop.CreateTimer([this, handler] { GuardEvent([&] { (this->*handler)(); }); });
    SetIntervalSeconds(*timer, seconds);
    return timer;
}

void TAgent::SetIntervalSeconds(TLoopTimer& timer, int seconds) {
    timer.SetInterval(std::chrono::milliseconds(static_cast<long long>(seconds) * FOptions.MillisPerSecond));
}

TAgent::~TAgent() {
    FJobs->Detach();
}

void TAgent::Start() {
    Guarded("Startup.LoadConfig", [this] { FCfg = FServices.Settings.LoadConfig(); });
    Guarded("Startup.LoadScalesSettings", [this] { LoadScalesSettings(); });
    FWasConfigured = FCfg.IsComplete();
    Guarded("Startup.ApplyAutostart", [this] { FServices.Settings.ApplyAutostart(FCfg); });
    LogInfo(std::string("Agent started v") + AgentVersion);
    Guarded("Startup.LogEnvironment", LogEnvironment);

    try {
        LogStep("Startup.EnsureConfig");
        EnsureConfig();
        FCfg = FServices.Settings.LoadConfig();
        LoadScalesSettings();
        ApplySyncInterval();
        ApplyScalesTimer();
        LogStep("Startup.UpdateTray");
        UpdateTray();
        if (!FScalesCfg.MacAddr.empty()) LogInfo("Agent MAC=" + FScalesCfg.MacAddr);
        LogStep("Startup.RefreshLog");
        RefreshLogIfShown();
    } catch (const std::exception& error) {
        LogException("Startup.after_env", error);
    }

    if (!FCfg.IsComplete()) {
        FStatus.StatusOK = false;
        FStatus.StatusText = "Scales only (EGAIS not configured)";
        Guarded("Startup.scales_only", [this] {
            UpdateTray();
            if (FWindow != nullptr) FWindow->ShowMainWindow();
        });
        return;
    }

    LogStep("Startup.self_update");
    try {
        if (FServices.Update.CheckForUpdate(FCfg)) {
            // The process ends now: no timer may start another job.
            FTimerScales->Stop();
            if (FExitRequested) FExitRequested();
            return;
        }
    } catch (const std::exception& error) {
        LogException("Self-update aborted", error);
    }
    EnableSyncTimers(true);
    LogStep("Startup.first_sync");
    Guarded("Startup.first_sync", [this] {
        DoSyncAsync();
        DoDiagnosisPingAsync();
        if (FWindow != nullptr) {
            if (FWasConfigured)
                FWindow->HideToTray();
            else
                FWindow->ShowMainWindow();
        }
    });
}

bool TAgent::EnsureConfig() {
    if (FCfg.IsComplete()) return true;
    if (FWindow != nullptr && FWindow->EditConfig(FCfg)) {
        FCfg = FServices.Settings.LoadConfig();
    } else {
        LogInfo("EGAIS setup skipped (scales-only mode)");
    }
    return FCfg.IsComplete();
}

void TAgent::ApplySyncInterval() {
    if (FCfg.PollSeconds < 60) FCfg.PollSeconds = 300;
    FCfg.PollSeconds = std::min(FCfg.PollSeconds, MaxPollSeconds);
    SetIntervalSeconds(*FTimerSync, FCfg.PollSeconds);
    SetIntervalSeconds(*FTimerCommand, FCfg.PollSeconds);
}

void TAgent::EnableSyncTimers(bool enabled) {
    // The command timer starts first: with equal intervals it then ticks before the sync timer,
    // so the server is asked while no sync runs.
    for (TLoopTimer* timer : {FTimerCommand.get(), FTimerSync.get(), FTimerPing.get()}) {
        if (enabled)
            timer->Start();
        else
            timer->Stop();
    }
}

void TAgent::SetSyncPaused(bool paused) {
    *FSyncPaused = paused;
    if (paused || FCfg.IsComplete()) EnableSyncTimers(!paused);
}

void TAgent::ReloadConfig() {
    FCfg = FServices.Settings.LoadConfig();
}

void TAgent::SettingsSaved() {
    ReloadConfig();
    ApplySyncInterval();
    if (FCfg.IsComplete()) {
        EnableSyncTimers(true);
        DoSyncAsync();
        DoDiagnosisPingAsync();
    } else {
        EnableSyncTimers(false);
        FStatus.StatusOK = false;
        FStatus.StatusText = "Scales only (EGAIS not configured)";
    }
    UpdateTray();
    if (FWindow != nullptr) FWindow->RefreshLog();
}

void TAgent::DoSyncAsync() {
    if (!FCfg.IsComplete() || *FSyncPaused || FSyncBusy) return;
    FSyncBusy = true;
    // The thread gets copies and shared flags only: it may outlive the agent.
    StartJob([this, sync = &FServices.Sync, paused = FSyncPaused, cfg = FCfg]() -> std::function<void()> {
        // The pause may have come between the tick and this thread's start.
        if (*paused) return [this] { FSyncBusy = false; };
        TSyncOutcome outcome;
        try {
            LogStep("Sync.thread_enter");
            outcome = sync->RunSync(cfg);
            LogStep("Sync.thread_leave", std::string(BoolText(outcome.OK)) + " " + outcome.Msg);
        } catch (const std::exception& error) {
            outcome = {false, error.what()};
            LogException("Sync thread", error);
        }
        return [this, outcome] { FinishSync(outcome.OK, outcome.Msg); };
    });
}

void TAgent::LoadScalesSettings() {
    FScalesCfg = FServices.Scales.LoadScalesConfig();
    const bool hadMac = !TrimControl(FScalesCfg.MacAddr).empty();
    FServices.Scales.EnsureMacAddr(FScalesCfg);
    if (hadMac || TrimControl(FScalesCfg.MacAddr).empty()) return;
    try {
        FServices.Scales.SaveScalesConfig(FScalesCfg);
    } catch (const std::exception&) {
        // The address is detected again at the next start; nothing else depends on it.
    }
}

void TAgent::ApplyScalesTimer() {
    if (!AnyBrandActive(FScalesCfg)) {
        FTimerScales->Stop();
        return;
    }
    SetIntervalSeconds(*FTimerScales, std::max(ScalesPollSeconds(FScalesCfg), 1));
    FTimerScales->Start();
}

void TAgent::ScalesSettingsSaved(int brand) {
    LoadScalesSettings();
    ApplyScalesTimer();
    const bool active = brand >= 0 && brand < ScaleBrandCount &&
                        IsBrandActive(FScalesCfg.Brands[static_cast<std::size_t>(brand)]);
    LogInfo("Scales " + ScaleBrandTitle(brand) + " saved; active=" + BoolText(active));
}

void TAgent::DoScalesPollAsync() {
    if (FScalesBusy || !AnyBrandActive(FScalesCfg)) return;
    FScalesBusy = true;
    StartJob([this, scales = &FServices.Scales, cfg = FScalesCfg]() -> std::function<void()> {
        try {
            TVesiLoadResult result;
            if (scales->PollScales(cfg, result)) {
                LogInfo("Scales auto-poll OK: " + result.Message);
            } else if (!result.FileName.empty() && !result.Message.empty()) {
                LogError("Scales auto-poll: " + result.Message);
            }
        } catch (const std::exception& error) {
            LogException("Scales poll", error);
        }
        return [this] {
            FScalesBusy = false;
            RefreshLogIfShown();
        };
    });
}

void TAgent::FinishSync(bool ok, const std::string& msg) {
    FStatus.StatusOK = ok;
    FStatus.StatusText = msg;
    FStatus.LastSyncAt = std::chrono::system_clock::now();
    FSyncBusy = false;
    UpdateTray();
    RefreshLogIfShown();
}

void TAgent::DoDiagnosisPingAsync() {
    if (!FCfg.IsComplete() || *FSyncPaused || FDiagnosisBusy) return;
    FDiagnosisBusy = true;
    const std::string lastError = FStatus.StatusOK ? std::string() : FStatus.StatusText;
    StartJob([this, server = &FServices.Server, cfg = FCfg, lastError]() -> std::function<void()> {
        try {
            const TDiagnosisReport report = server->DiagnosisPing(cfg, lastError);
            if (!report.FsrarId.empty()) {
                LogInfo("Diagnosis FSRAR_ID=" + report.FsrarId);
            } else if (!report.ErrorText.empty()) {
                LogError("Diagnosis: " + report.ErrorText);
            }
        } catch (const std::exception& error) {
            LogError(std::string("Server: ") + error.what());
        }
        return [this] { FDiagnosisBusy = false; };
    });
}

void TAgent::PollCommand() {
    if (!FCfg.IsComplete() || *FSyncPaused || FSyncBusy || FCommandBusy) return;
    FCommandBusy = true;
    StartJob([this, server = &FServices.Server, cfg = FCfg]() -> std::function<void()> {
        bool syncAsked = false;
        try {
            syncAsked = server->PollSyncCommand(cfg);
        } catch (const std::exception& error) {
            LogError(std::string("Server: ") + error.what());
        }
        return [this, syncAsked] { FinishCommandPoll(syncAsked); };
    });
}

void TAgent::FinishCommandPoll(bool syncAsked) {
    FCommandBusy = false;
    if (!syncAsked) return;
    LogInfo("Sync requested from server");
    DoSyncAsync();
}

void TAgent::UpdateTray() {
    if (FWindow != nullptr) FWindow->StatusChanged();
}

void TAgent::RefreshLogIfShown() {
    if (FWindow != nullptr && FWindow->IsShown()) FWindow->RefreshLog();
}

bool TAgent::WaitForJobs(std::chrono::milliseconds timeout) {
    return FJobs->WaitIdle(timeout);
}

}  // namespace egaiss
