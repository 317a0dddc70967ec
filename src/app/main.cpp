#include <iostream>
#include <string>
#include <vector>

#include "app/uCommandLine.h"
#include "app/uHeadless.h"
#include "core/uEgaissLog.h"
#include "platform/uHttpClient.h"
#include "platform/uSystem.h"
#ifdef EGAISS_WITH_TRAY
#include "app/uTrayAgent.h"
#endif

int main(int argc, char** argv) {
    using namespace egaiss;
    platform::InitialiseHttpLibrary();
    const TCommandLine commandLine = ParseCommandLine(platform::ProgramArguments(argc, argv));
    for (const std::string& arg : commandLine.IgnoredArgs)
        LogInfo("Ignored argument: " + arg);
    switch (commandLine.Mode) {
        case TRunMode::rmHeadless:
            return RunHeadlessAgent(commandLine.NoUpdate);
        case TRunMode::rmTray:
#ifdef EGAISS_WITH_TRAY
            if (DisplayAvailable()) return RunTrayAgent(argc, argv, commandLine.NoUpdate);
            std::cerr << "No display (DISPLAY and WAYLAND_DISPLAY are not set): running headless\n";
#elif defined(_WIN32)
            std::cerr << "The Windows front-end is not built yet: running headless\n";
#endif
            return RunHeadlessAgent(commandLine.NoUpdate);
        default:
            return RunSupportCommand(commandLine, std::cout, std::cerr);
    }
}
