#pragma once
// Turns the system's request to stop (SIGINT/SIGTERM, Ctrl+C or console close on Windows) into a
// call on an ordinary thread, so that nothing but a flag is touched inside a signal handler.
#include <functional>

namespace egaiss::platform {

// Installs the handler for the rest of the process; `onShutdown` runs once, on a helper thread.
void InstallShutdownHandler(std::function<void()> onShutdown);

}  // namespace egaiss::platform
