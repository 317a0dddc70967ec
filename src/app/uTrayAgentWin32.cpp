#include <iostream>

#include "app/uCommandLine.h"
#include "app/uHeadless.h"
#include "app/uSupportCommands.h"
#include "app/uTrayAgent.h"
#include "core/uEgaissLog.h"
#include "winui/uWin32TrayAgent.h"

namespace egaiss {

bool DisplayAvailable() {
    return true;
}

std::optional<int> RunTrayAgent(int /*argc*/, char** /*argv*/, bool noUpdate) {
    try {
        // Running jobs are not waited for.
        const auto code = RunWin32TrayAgent(noUpdate, LockDataFolder, [](TAgent& agent) {
            return EndAgentProcess(agent, std::chrono::milliseconds(0));
        });
        if (code) return code;
        std::cerr << "Agent already running\n";
        return ExitAlreadyRunning;
    } catch (const std::exception& error) {
        const std::string text =
            std::string("Tray front-end unavailable (") + error.what() + "): running headless";
        std::cerr << text << "\n";
        LogError(text);
        return std::nullopt;
    }
}

std::function<bool()> TrayAgentExitAsker() {
    return [] { return AskWin32TrayAgentToExit(); };
}

}  // namespace egaiss
