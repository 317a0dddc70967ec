#pragma once
// The program's arguments: which face of the agent to run and its switches.
#include <iosfwd>
#include <string>
#include <vector>

namespace egaiss {

enum class TRunMode {
    rmTray,
    rmHeadless,
    rmSync,
    rmDiagnose,
    rmConfig,
    rmScalesLoad,
    rmScalesFind,
    rmPrepareCheck,
    rmPrepareInstall,
    rmStop,
    rmVersion,
    rmHelp,
    rmInvalid
};

struct TCommandLine {
    TRunMode Mode = TRunMode::rmTray;
    bool NoUpdate = false;
    std::string Error;  // why the arguments are invalid
    // The arguments after a command that takes arguments of its own (scales-find, config,
    // prepare-install).
    std::vector<std::string> CommandArgs;
    // Unknown arguments of the tray and headless agents: logged, then the agent starts anyway.
    std::vector<std::string> IgnoredArgs;
};

// Exit codes of the program.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;  // bad arguments, or the agent is not configured
inline constexpr int ExitAlreadyRunning = 3;

TCommandLine ParseCommandLine(const std::vector<std::string>& args);
void PrintUsage(std::ostream& out);

// Runs everything but the tray and headless agents; returns the exit code.
int RunSupportCommand(const TCommandLine& commandLine, std::ostream& out, std::ostream& err);

}  // namespace egaiss
