#pragma once

namespace egaiss {

// True when a desktop session can show windows (on Linux: DISPLAY or WAYLAND_DISPLAY is set).
bool DisplayAvailable();

// Runs the agent with its tray icon and main window until "Выход" or a self-update; a second start
// on the same data folder brings the running agent's window to the front and returns 3.
int RunTrayAgent(int argc, char** argv, bool noUpdate);

}  // namespace egaiss
