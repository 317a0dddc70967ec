#include <iostream>
#include <string>
#include <vector>

#include "app/uCommandLine.h"
#include "app/uHeadless.h"
#include "core/uEgaissLog.h"

int main(int argc, char** argv) {
    using namespace egaiss;
    const TCommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    for (const std::string& arg : commandLine.IgnoredArgs)
        LogInfo("Ignored argument: " + arg);
    switch (commandLine.Mode) {
        case TRunMode::rmHeadless:
        case TRunMode::rmTray:  // the tray window is not built yet: the agent runs headless
            return RunHeadlessAgent(argc, argv, commandLine.NoUpdate);
        default:
            return RunSupportCommand(commandLine, std::cout, std::cerr);
    }
}
