#pragma once
// Runs the real agent binary (or a simulator) from tests: arguments, working folder, output
// captured to a file, exit code, and a stop by its own process id. POSIX only so far.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace egaiss::test {

class TChildProcess {
public:
    // Starts `program` with `args`; stdout and stderr go to `outputPath`.
    TChildProcess(const std::string& program, const std::vector<std::string>& args,
                  const std::string& outputPath);
    ~TChildProcess();  // kills the child if it still runs
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    int Pid() const { return FPid; }
    void Signal(int signal);
    // The exit code, or nothing when the child still runs after `timeout`. A child ended by a
    // signal gives 128 + the signal.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    std::string Output() const;

private:
    int FPid = -1;
    std::string FOutputPath;
    std::optional<int> FExitCode;
};

struct TRunResult {
    int ExitCode = -1;
    std::string Output;
};

// Runs a program to its end (at most `timeout`, then it is killed and the test fails).
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace egaiss::test
