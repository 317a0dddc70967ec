#pragma once

namespace egaiss {

// Runs the agent without any window until SIGINT/SIGTERM; returns the exit code.
int RunHeadlessAgent(int argc, char** argv, bool noUpdate);

}  // namespace egaiss
