#pragma once
// Stand-ins for the agent's services, so that the scheduler and the main window run without peers.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>

#include "agent/uAgentServices.h"

namespace egaiss::test {

// A gate a fake job waits at until the test opens it.
class TGate {
public:
    void Open() {
        const std::lock_guard lock(FMutex);
        FOpen = true;
        FChanged.notify_all();
    }
    void Wait() {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [this] { return FOpen; });
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FOpen = false;
};

class TFakeServices : public TSettingsService,
                      public TSyncService,
                      public TServerPollService,
                      public TUpdateService,
                      public TScalesService {
public:
    TAgentServices All() { return {*this, *this, *this, *this, *this}; }

    TEgaissConfig Cfg;
    std::atomic<int> Syncs{0}, Pings{0}, Polls{0}, UpdateChecks{0};
    TSyncOutcome Outcome{true, "Sync finished"};
    bool ThrowInSync = false;
    bool AskSync = false;
    bool UpdateTakesOver = false;
    TGate* SyncGate = nullptr;
    TGate* CommandGate = nullptr;

    TScalesConfig Scales;     // what agent.ini holds
    std::string DetectedMac;  // what the adapters give
    std::atomic<int> ScalesSaves{0}, ScalesPolls{0};
    TVesiLoadResult PollResult;
    bool PollLoads = false;
    bool ThrowInPoll = false;
    TGate* PollGate = nullptr;

    TEgaissConfig LoadConfig() override { return Cfg; }
    void ApplyAutostart(const TEgaissConfig&) override {}
    TSyncOutcome RunSync(const TEgaissConfig&) override {
        ++Syncs;
        if (SyncGate != nullptr) SyncGate->Wait();
        if (ThrowInSync) throw std::runtime_error("boom");
        return Outcome;
    }
    TDiagnosisReport DiagnosisPing(const TEgaissConfig&, const std::string&) override {
        ++Pings;
        return {"030000123456", ""};
    }
    bool PollSyncCommand(const TEgaissConfig&) override {
        ++Polls;
        if (CommandGate != nullptr) CommandGate->Wait();
        return AskSync;
    }
    bool CheckForUpdate(const TEgaissConfig&) override {
        ++UpdateChecks;
        return UpdateTakesOver;
    }
    TScalesConfig LoadScalesConfig() override { return Scales; }
    std::string EnsureMacAddr(TScalesConfig& cfg) override {
        if (cfg.MacAddr.empty()) cfg.MacAddr = DetectedMac;
        return cfg.MacAddr;
    }
    void SaveScalesConfig(const TScalesConfig& cfg) override {
        ++ScalesSaves;
        Scales = cfg;
    }
    bool PollScales(const TScalesConfig&, TVesiLoadResult& result) override {
        ++ScalesPolls;
        if (PollGate != nullptr) PollGate->Wait();
        if (ThrowInPoll) throw std::runtime_error("table overflow");
        result = PollResult;
        return PollLoads;
    }
};

// Complete settings pointing at a port where nothing listens.
inline TEgaissConfig CompleteConfig(int pollSeconds = 300) {
    TEgaissConfig cfg;
    cfg.ServerURL = "http://127.0.0.1:1/api";
    cfg.AgentID = "agent";
    cfg.AgentSecret = "secret";
    cfg.PollSeconds = pollSeconds;
    return cfg;
}

}  // namespace egaiss::test
