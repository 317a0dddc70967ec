#include "app/uSupportCommands.h"

#include <ostream>

#include "app/uCommandLine.h"
#include "clients/uUtmApi.h"
#include "clients/uVelmoraApi.h"
#include "core/uEgaissLog.h"
#include "platform/uPath.h"
#include "sync/uSyncWorker.h"

namespace egaiss {
namespace {

constexpr auto LockWait = std::chrono::seconds(10);

}  // namespace

std::unique_ptr<platform::TInstanceLock> LockDataFolder() {
    auto lock = std::make_unique<platform::TInstanceLock>(JoinPath(AgentDataDir(), "agent.lock"));
    if (lock->Acquire(LockWait)) return lock;
    LogInfo("Agent already running");
    return nullptr;
}

int RunSyncCommand(std::ostream& out) {
    const TEgaissConfig cfg = LoadConfig();
    if (!cfg.IsComplete()) {
        out << "Agent is not configured\n";
        return ExitUsage;
    }
    const auto lock = LockDataFolder();
    if (!lock) {
        out << "Agent already running\n";
        return ExitAlreadyRunning;
    }
    bool ok = false;
    std::string msg;
    try {
        RunSyncCycle(cfg, ok, msg);
    } catch (const std::exception& error) {
        LogException("Sync command", error);
        msg = error.what();
    }
    out << (ok ? "OK: " : "FAILED: ") << msg << "\n";
    return ok ? ExitOk : ExitFailed;
}

int RunDiagnoseCommand(std::ostream& out) {
    const TEgaissConfig cfg = LoadConfig();
    TUtmDiagnosis diagnosis;
    TUtmApi(cfg.UtmBaseURL()).FetchDiagnosis(diagnosis);
    out << UtmDiagnosisJson(diagnosis) << "\n";
    return diagnosis.OK ? ExitOk : ExitFailed;
}

std::string EffectiveConfigText(const TEgaissConfig& cfg) {
    TEgaissConfig shown = cfg;
    if (!shown.AgentSecret.empty()) shown.AgentSecret = "***";
    std::string text;
    for (const std::string& line : SplitTextLines(ConfigToText(shown))) {
        if (!line.empty() && line[0] != '#') text += line + "\n";
    }
    return text + "autostart=" + (cfg.AutoStart ? "1" : "0") + "\n";
}

int RunConfigCommand(std::ostream& out) {
    out << EffectiveConfigText(LoadConfig());
    return ExitOk;
}

}  // namespace egaiss
