#include "app/uHeadless.h"

#include <cstdlib>
#include <iostream>

#include "agent/uAgent.h"
#include "app/uCommandLine.h"
#include "app/uSupportCommands.h"
#include "core/uEgaissLog.h"
#include "platform/uShutdownSignal.h"
#ifdef _WIN32
#include "winui/uWin32MainLoop.h"
#else
#include "agent/uPortableLoop.h"
#endif

namespace egaiss {
namespace {

// Windows runs the agent on the thread's message loop, as the tray agent will; elsewhere headless
// mode needs no toolkit's loop.
#ifdef _WIN32
using THeadlessLoop = TWin32MainLoop;
#else
using THeadlessLoop = TPortableLoop;
#endif

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
    THeadlessLoop loop;
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
#ifdef _WIN32
    const bool sessionWatched = loop.OnSessionEnd([&loop, &agent] {
        LogInfo("Agent stopping (session end)");
        loop.Quit();
        // Windows may end the process once this returns: stop here, and leave nothing to do after.
        std::_Exit(EndAgentProcess(agent, JobGracePeriod));
    });
    if (!sessionWatched) LogInfo("No desktop: logoff and shutdown end the agent without notice");
#endif
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
