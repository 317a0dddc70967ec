#pragma once
// Starting the tray agent: its windows live in a front-end module beside the executable, loaded
// only when a desktop session can show them.
#include <optional>

namespace egaiss {

// True when a desktop session can show windows (on Linux: DISPLAY or WAYLAND_DISPLAY is set).
bool DisplayAvailable();

// Runs the agent with its tray icon and main window until "Выход" or a self-update, and returns its
// exit code (3 when a second start brought the running agent's window to the front). Nothing when
// the front-end module is missing or cannot be loaded, which is printed and logged with the reason.
std::optional<int> RunTrayAgent(int argc, char** argv, bool noUpdate);

// The module's entry point, looked up by this name; it checks the executable's version against its own.
using TTrayEntry = int(const char* agentVersion, int argc, char** argv, bool noUpdate);
inline constexpr const char* TrayEntryName = "EgaissRunTrayAgent";
// What the entry returns when it was built for another version of the executable.
inline constexpr int TrayVersionMismatch = -1;

}  // namespace egaiss
