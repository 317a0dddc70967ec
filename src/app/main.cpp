#include <iostream>
#include <string>
#include <vector>

#include "app/uCommandLine.h"
#include "app/uHeadless.h"
#include "app/uTrayAgent.h"
#include "core/uEgaissLog.h"
#include "platform/uHttpClient.h"
#include "platform/uSystem.h"

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
            if (!DisplayAvailable()) {
                std::cerr << "No display (DISPLAY and WAYLAND_DISPLAY are not set): running headless\n";
            } else if (const auto code = RunTrayAgent(argc, argv, commandLine.NoUpdate)) {
                return *code;
            }
            return RunHeadlessAgent(commandLine.NoUpdate);
        default:
            return RunSupportCommand(commandLine, std::cout, std::cerr);
    }
}
