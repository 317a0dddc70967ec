#pragma once
// Child processes started by the agent: a program run with its output captured and a bounded wait,
// so that a program that hangs can never block the caller; and an installer started with
// administrator rights and tracked until it ends.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uErrors.h"

namespace egaiss::platform {

namespace processdetail {
struct TChildRecord;
}

// A program could not be started (not found, not executable, no resources, elevation refused).
class EProcessError : public EAgentError {
public:
    explicit EProcessError(const std::string& message, int systemError = 0)
        : EAgentError(message), FSystemError(systemError) {}
    const char* ClassName() const noexcept override { return "EProcessError"; }
    // The system's error code of the failed start (errno, GetLastError); 0 when none applies.
    int SystemError() const noexcept { return FSystemError; }

private:
    int FSystemError;
};

// A program to start with administrator rights.
struct TElevatedStart {
    std::string Program;     // a path, or a name looked up in the search path
    std::string Parameters;  // the rest of the command line as one text, quoted the Windows way
    bool ShowWindow = true;  // false starts it hidden (Windows)
    // POSIX: the command that runs Program elevated, Program and the split Parameters following it;
    // empty means {"pkexec"}. Ignored on Windows, where the shell's "runas" verb elevates.
    std::vector<std::string> Elevator;
};

// Splits a command-line text into arguments the way the Windows C runtime does: blanks separate,
// double quotes group, backslashes escape only before a double quote.
std::vector<std::string> SplitCommandLine(const std::string& text);

// Windows Installer packages can be run here (msiexec exists only on Windows).
bool CanRunMsiPackages();

// Output kept in memory per child; what a child writes beyond it is read and dropped, so the child
// never blocks on a full pipe.
inline constexpr std::size_t DefaultMaxProcessOutput = std::size_t{1024} * 1024;

// One child process. Destroying the object while a captured child runs ends the child and every
// process it started, and reaps it; an elevated child is left running, only no longer tracked.
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

    // Starts an installer with administrator rights, which may ask the user through the system's
    // elevation prompt: Windows ShellExecuteEx with the verb "runas"; POSIX the elevator command
    // (pkexec) running Program, after giving Program the execute permission its read permission
    // allows (a download has none). No pipes: its standard streams go nowhere. True when the process
    // is tracked; false when it started but the system gave no handle to track it by. Raises
    // EProcessError with the system's error code when it cannot start (also a refused elevation on
    // Windows). WaitForExit, ExitCode and Terminate of an elevated child may be called from two
    // threads at once.
    bool StartElevated(const TElevatedStart& start);

    // Collects output until the child has ended or `timeout` has passed. True when the child ended
    // (its exit code is then known); output that processes started by the child still write after
    // that is not waited for.
    bool WaitForExit(std::chrono::milliseconds timeout);

    // Ends the child and the processes it started, and reaps it. Nothing happens once it has ended.
    // An elevated child is ended with exit code 1 (Windows) or SIGKILL (POSIX) and waited for up to
    // 5 s; one the agent may not signal (it runs as another user) keeps running.
    void Terminate();

    bool Started() const;
    // The exit code once the child has ended. A POSIX child ended by a signal gives 128 + signal.
    std::optional<int> ExitCode() const;
    // Standard output and standard error as the child wrote them (raw bytes).
    const std::string& Output() const;
    void SetMaxOutputBytes(std::size_t bytes);

private:
    struct TImpl;  // per system, a TChildRecord
    std::unique_ptr<TImpl> FImpl;

    // FImpl's part that is alike on every system; defined beside TImpl.
    processdetail::TChildRecord& Record() const;
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
