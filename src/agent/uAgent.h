#pragma once
// The agent's scheduler: start-up, the sync, command, ping and scales timers, the busy and pause
// flags, the background jobs and the status. The tray window and headless mode both run on it.
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "agent/uAgentServices.h"
#include "agent/uAgentStatus.h"
#include "agent/uMainLoop.h"
#include "agent/uWorkerThreads.h"
#include "core/uEgaissConfig.h"

namespace egaiss {

// Pauses (true) and resumes (false) the agent's sync while a window is open.
using TSyncPauser = std::function<void(bool paused)>;

// What a window adds to the agent; headless mode runs without one.
class TAgentWindow {
public:
    virtual ~TAgentWindow() = default;
    // The settings dialog: true when the user saved settings (the file is written, cfg reloaded).
    virtual bool EditConfig(TEgaissConfig& cfg) = 0;
    // The status changed: tray hint, status menu item and label are redrawn from the agent.
    virtual void StatusChanged() = 0;
    virtual void ShowMainWindow() = 0;
    virtual void HideToTray() = 0;
    virtual bool IsShown() const = 0;
    virtual void RefreshLog() = 0;
    // An exception escaped a timer tick or a job's completion step: logged and shown to the user.
    virtual void ReportEventException(const std::exception& error) = 0;
};

struct TAgentOptions {
    // Timer intervals are given in seconds; tests shrink a second to a few milliseconds.
    int MillisPerSecond = 1000;
    // Runs a job body on a new thread; tests replace it to decide when a job's thread starts.
    std::function<void(std::function<void()>)> StartThread;
};

class TJobTracker;

class TAgent {
public:
    static constexpr int PingSeconds = 300;

    // The agent's timers and job results run on `loop`, which outlives the agent.
    TAgent(TMainLoop& loop, TAgentServices services, TAgentWindow* window = nullptr,
           TAgentOptions options = {});
    ~TAgent();
    TAgent(const TAgent&) = delete;
    TAgent& operator=(const TAgent&) = delete;

    // Runs when a self-update took over and this process must end.
    void OnExitRequested(std::function<void()> handler) { FExitRequested = std::move(handler); }

    // The start-up sequence. Ends with the exit request when a self-update took over.
    void Start();

    // Opens the settings dialog when the settings are incomplete; true when they are complete now.
    // Starts no timer: the callers (queue, preparation, open-UTM) only need the settings.
    bool EnsureConfig();
    void SetSyncPaused(bool paused);
    void DoSyncAsync();
    void DoDiagnosisPingAsync();
    // Asks the server on a job of its own whether to sync now, and starts a sync when it says so.
    void PollCommand();
    // Reads agent.ini again without re-timing anything (before opening the UTM's page).
    void ReloadConfig();
    // After the settings dialog saved: reload, re-time, start or stop syncing.
    void SettingsSaved();

    // Reloads the scale settings; a MAC address detected for settings that had none is saved once.
    void LoadScalesSettings();
    // Runs the scales timer at the first active brand's interval, or stops it when none is active.
    void ApplyScalesTimer();
    // One scales poll on a thread of its own; neither the pause nor the agent settings stop it.
    void DoScalesPollAsync();
    // After the scales dialog saved the settings of `brand`.
    void ScalesSettingsSaved(int brand);

    // Waits until no job thread runs any more, at most `timeout`; true when none runs.
    bool WaitForJobs(std::chrono::milliseconds timeout);

    const TEgaissConfig& Config() const { return FCfg; }
    const TAgentStatus& Status() const { return FStatus; }
    bool SyncBusy() const { return FSyncBusy; }
    bool DiagnosisBusy() const { return FDiagnosisBusy; }
    bool CommandBusy() const { return FCommandBusy; }
    bool ScalesBusy() const { return FScalesBusy; }
    const TScalesConfig& ScalesConfig() const { return FScalesCfg; }
    bool SyncPaused() const { return *FSyncPaused; }
    bool WasConfigured() const { return FWasConfigured; }
    const TLoopTimer& SyncTimer() const { return *FTimerSync; }
    const TLoopTimer& CommandTimer() const { return *FTimerCommand; }
    const TLoopTimer& PingTimer() const { return *FTimerPing; }
    const TLoopTimer& ScalesTimer() const { return *FTimerScales; }

private:
    std::unique_ptr<TLoopTimer> MakeTimer(void (TAgent::*handler)(), int seconds);
    void SetIntervalSeconds(TLoopTimer& timer, int seconds);
    void ApplySyncInterval();
    void EnableSyncTimers(bool enabled);
    void FinishSync(bool ok, const std::string& msg);
    void FinishCommandPoll(bool syncAsked);
    void UpdateTray();
    void RefreshLogIfShown();
    template <typename TWork>
    void StartJob(TWork work);
    // Runs a timer tick or a job's completion step; what it raises goes to the window, headless
    // to the log.
    template <typename TStep>
    void GuardEvent(TStep step);

    TMainLoop& FLoop;
    TAgentServices FServices;
    TAgentWindow* FWindow;
    TAgentOptions FOptions;
    std::shared_ptr<TJobTracker> FJobs;
    TWorkerThreads FWorkers;

    TEgaissConfig FCfg;
    TScalesConfig FScalesCfg;
    TAgentStatus FStatus;
    bool FWasConfigured = false;
    bool FSyncBusy = false;
    bool FDiagnosisBusy = false;
    bool FCommandBusy = false;
    bool FScalesBusy = false;
    // Read by a starting sync thread, which may outlive the agent: shared and atomic.
    std::shared_ptr<std::atomic<bool>> FSyncPaused = std::make_shared<std::atomic<bool>>(false);

    std::function<void()> FExitRequested;
    std::unique_ptr<TLoopTimer> FTimerSync;
    std::unique_ptr<TLoopTimer> FTimerCommand;
    std::unique_ptr<TLoopTimer> FTimerPing;
    std::unique_ptr<TLoopTimer> FTimerScales;
};

}  // namespace egaiss
