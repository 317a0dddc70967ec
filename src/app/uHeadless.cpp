#include "app/uHeadless.h"

#include <cstdlib>
#include <iostream>

#include "agent/uAgent.h"
#include "agent/uPortableLoop.h"
#include "app/uCommandLine.h"
#include "app/uSupportCommands.h"
#include "core/uEgaissLog.h"
#include "platform/uShutdownSignal.h"

namespace egaiss {
namespace {

// How long a stopping agent gives a running sync to finish before it leaves it behind.
constexpr auto JobGracePeriod = std::chrono::seconds(10);

}  // namespace

int RunHeadlessAgent(bool noUpdate) {
    if (!LoadConfigOrReport(std::cerr)) return ExitUsage;
    const auto lock = LockDataFolder();
    if (!lock) {
        std::cerr << "Agent already running\n";
        return ExitAlreadyRunning;
    }
    TPortableLoop loop;
    loop.SetExceptionHandler(
        [](const std::exception& error) { LogException("Application.OnException", error); });
    const platform::TShutdownHandler shutdown([&loop] {
        loop.Post([&loop] {
            LogInfo("Agent stopping (signal)");
            loop.Quit();
        });
    });

    TRealAgentServices services(!noUpdate);
    TAgent agent(loop, services.All());
    agent.OnExitRequested([&loop] { loop.Quit(); });
    loop.Post([&agent] { agent.Start(); });
    loop.Run();
    return EndAgentProcess(agent, JobGracePeriod);
}

int EndAgentProcess(TAgent& agent, std::chrono::milliseconds grace) {
    if (!agent.WaitForJobs(grace)) {
        LogInfo("Agent stopped with a job still running");
        // The job's thread still uses the log and the clients; end without running destructors.
        std::_Exit(ExitOk);
    }
    LogInfo("Agent stopped");
    return ExitOk;
}

}  // namespace egaiss
