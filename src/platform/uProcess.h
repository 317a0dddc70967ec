#pragma once
// Child processes started by the agent: a program run with its output captured and a bounded wait,
// so that a program that hangs can never block the caller.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uErrors.h"

namespace egaiss::platform {

// A program could not be started (not found, not executable, no resources).
class EProcessError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "EProcessError"; }
};

// Output kept in memory per child; what a child writes beyond it is read and dropped, so the child
// never blocks on a full pipe.
inline constexpr std::size_t DefaultMaxProcessOutput = std::size_t{1024} * 1024;

// One child process. Destroying the object while the child runs ends the child and every process it
// started, and reaps it.
class TProcess {
public:
    TProcess();
    ~TProcess();
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    // Starts `program` with `args`: standard output and standard error both go to one pipe that this
    // object reads, there is no standard input and no window. A program named without a folder is
    // looked up in the search path. Raises EProcessError when it cannot be started; a second start
    // of the same object raises too.
    void StartCaptured(const std::string& program, const std::vector<std::string>& args);

    // Collects output until the child has ended or `timeout` has passed. True when the child ended
    // (its exit code is then known); output that processes started by the child still write after
    // that is not waited for.
    bool WaitForExit(std::chrono::milliseconds timeout);

    // Ends the child and the processes it started, and reaps it. Nothing happens once it has ended.
    void Terminate();

    bool Started() const;
    // The exit code once the child has ended. A POSIX child ended by a signal gives 128 + signal.
    std::optional<int> ExitCode() const;
    // Standard output and standard error as the child wrote them (raw bytes).
    const std::string& Output() const;
    void SetMaxOutputBytes(std::size_t bytes);

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

struct TProcessResult {
    int ExitCode = -1;
    bool TimedOut = false;  // still running at the time-out, so it was ended
    std::string Output;     // standard output and standard error, raw bytes
};

// Runs a program to its end, for at most `timeout`; a program still running then is ended with the
// processes it started. Raises EProcessError when it cannot be started.
TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          std::chrono::milliseconds timeout);

}  // namespace egaiss::platform
