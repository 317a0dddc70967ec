#pragma once
#include <chrono>

namespace egaiss {

class TAgent;

// Runs the agent without any window until SIGINT/SIGTERM (on Windows: Ctrl+C, Ctrl+Break, closing
// the console, logoff or shutdown); returns the exit code.
int RunHeadlessAgent(bool noUpdate);

// After the event loop ended: gives running jobs `grace` to finish, else ends the process at once,
// because their threads still use what the agent's owner would free. Returns the exit code.
int EndAgentProcess(TAgent& agent, std::chrono::milliseconds grace);

}  // namespace egaiss
