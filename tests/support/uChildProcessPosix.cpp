#include "support/uChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "support/uTestDirs.h"

namespace egaiss::test {

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::string& outputPath)
    : FOutputPath(outputPath) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    FPid = ::fork();
    if (FPid < 0) throw std::runtime_error("fork failed");
    if (FPid == 0) {
        const int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

TChildProcess::~TChildProcess() {
    if (!FExitCode && FPid > 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
}

void TChildProcess::Signal(int signal) {
    if (!FExitCode) ::kill(FPid, signal);
}

std::optional<int> TChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!FExitCode) {
        int status = 0;
        const pid_t done = ::waitpid(FPid, &status, WNOHANG);
        if (done == FPid) {
            FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return FExitCode;
}

std::string TChildProcess::Output() const {
    return ReadFileText(FOutputPath);
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout) {
    TTempDir temp;
    TChildProcess child(program, args, temp.File("output.txt"));
    const auto code = child.Wait(timeout);
    if (!code) throw std::runtime_error(program + " did not end in time");
    return {*code, child.Output()};
}

}  // namespace egaiss::test
