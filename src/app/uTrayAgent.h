#pragma once
// Starting the tray agent. On Linux its windows live in a front-end module beside the executable,
// loaded only when a desktop session can show them; on Windows they are linked in.
#include <functional>
#include <optional>

namespace egaiss {

// True when a desktop session can show windows (on Linux: DISPLAY or WAYLAND_DISPLAY is set).
bool DisplayAvailable();

// Runs the agent with its tray icon and main window until "Выход", a stop request or a
// self-update, and returns its exit code (3 when a second start brought the running agent's window
// to the front). Nothing when the front-end is missing or cannot show windows, which is printed and
// logged with the reason.
std::optional<int> RunTrayAgent(int argc, char** argv, bool noUpdate);

// For the stop command: asks the tray agent of this data folder to end as on "Выход"; true when
// one took the request. Always false where the build has no window front-end.
std::function<bool()> TrayAgentExitAsker();

// The module's entry point, looked up by this name; it checks the executable's version against its own.
using TTrayEntry = int(const char* agentVersion, int argc, char** argv, bool noUpdate);
inline constexpr const char* TrayEntryName = "EgaissRunTrayAgent";
// What the entry returns when it was built for another version of the executable.
inline constexpr int TrayVersionMismatch = -1;
// The module's stop request: 1 when the tray agent of this data folder took it, 0 when none did.
using TTrayExitEntry = int(const char* agentVersion);
inline constexpr const char* TrayExitEntryName = "EgaissAskTrayAgentToExit";

}  // namespace egaiss
