#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/uPosixFd.h"
#include "platform/uProcess.h"
#include "platform/uProcessShared.h"

namespace egaiss::platform {
namespace {

struct TPipe {
    TUniqueFd Read;
    TUniqueFd Write;
};

TPipe MakePipe() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw EProcessError(std::string("Cannot create a pipe: ") + std::strerror(errno));
    return {TUniqueFd(fds[0]), TUniqueFd(fds[1])};
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// A descriptor that becomes readable when the child ends, so that waiting needs no polling; absent on
// kernels older than 5.3.
TUniqueFd OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return TUniqueFd(static_cast<int>(fd));
    }
#else
    (void)pid;
#endif
    return {};
}

// Without a pid descriptor the child's end is noticed by looking at it this often.
constexpr std::chrono::milliseconds ExitPollSlice{50};

// How long Terminate waits for an elevated child after the kill.
constexpr std::chrono::milliseconds ElevatedKillWait{5000};

// A downloaded installer carries no execute bit: give it one wherever it may be read.
void MakeExecutable(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int error = errno;
        throw EProcessError("Cannot start " + path + ": " + std::strerror(error), error);
    }
    const mode_t wanted = info.st_mode | S_IXUSR | ((info.st_mode & (S_IRGRP | S_IROTH)) >> 2);
    if (wanted != info.st_mode && ::chmod(path.c_str(), wanted & 07777) != 0) {
        const int error = errno;
        throw EProcessError("Cannot make " + path + " executable: " + std::strerror(error), error);
    }
}

TUniqueFd OpenDevNull(int mode) {
    TUniqueFd fd(::open("/dev/null", mode | O_CLOEXEC));
    if (!fd.Valid()) {
        const int error = errno;
        throw EProcessError(std::string("Cannot open /dev/null: ") + std::strerror(error), error);
    }
    return fd;
}

// Runs command[0] (searched in PATH) with the rest as arguments, in a process group of its own so
// that ending it also ends what it started, with standard input from `input` and standard output
// and error to `output`. Raises when the program could not be run: the child reports the exec
// error through a close-on-exec pipe, so a missing program fails here rather than as exit 127.
pid_t SpawnInOwnGroup(std::vector<std::string>& command, int input, int output) {
    // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (auto& arg : command)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    TPipe startError = MakePipe();

    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        throw EProcessError("Cannot start " + command.front() + ": " + std::strerror(error), error);
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &defaults, nullptr);
        ::dup2(input, STDIN_FILENO);
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(startError.Write.Get(), &error, sizeof error);
        ::_exit(127);
    }

    ::setpgid(pid, pid);  // also here: whichever side runs first, the group exists before a kill
    startError.Write.Reset();
    int childError = 0;
    ssize_t count = 0;
    do {
        count = ::read(startError.Read.Get(), &childError, sizeof childError);
    } while (count < 0 && errno == EINTR);
    if (count == static_cast<ssize_t>(sizeof childError)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        throw EProcessError("Cannot start " + command.front() + ": " + std::strerror(childError), childError);
    }
    return pid;
}

// A child that outlives its object must still be reaped, or it stays a zombie once it ends.
void ReapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

// Lock also guards reaping: once reaped, the pid may belong to another process.
struct TProcess::TImpl : processdetail::TChildRecord {
    pid_t Pid = -1;
    bool Elevated = false;
    TUniqueFd Output;
    // Closed only with the object, so that one thread may poll it while another reaps.
    TUniqueFd PidFd;

    // Reads what the pipe holds now; closes it at its end. False when nothing more can come.
    bool ReadAvailable() {
        char buffer[4096];
        while (Output.Valid()) {
            const ssize_t count = ::read(Output.Get(), buffer, sizeof buffer);
            if (count > 0) {
                Keep(buffer, static_cast<std::size_t>(count));
                continue;
            }
            if (count < 0 && errno == EINTR) continue;
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
            Output.Reset();
        }
        return false;
    }

    bool Reap(bool block) {
        const std::lock_guard guard(Lock);
        return ReapLocked(block);
    }

    bool ReapLocked(bool block) {
        if (ExitCode) return true;
        int status = 0;
        for (;;) {
            const pid_t done = ::waitpid(Pid, &status, block ? 0 : WNOHANG);
            if (done == Pid) {
                ExitCode = ExitCodeOf(status);
                return true;
            }
            if (done < 0 && errno == EINTR) continue;
            if (done < 0) {
                // Someone else reaped it (a SIGCHLD handler set to ignore); its code is lost.
                ExitCode = -1;
                return true;
            }
            return false;
        }
    }

    // Signals the child's group and the child, unless it was reaped (its pid may be reused).
    void KillUnlessReaped() {
        const std::lock_guard guard(Lock);
        if (ReapLocked(false)) return;
        ::kill(-Pid, SIGKILL);
        ::kill(Pid, SIGKILL);
    }
};

TProcess::TProcess() : FImpl(std::make_unique<TImpl>()) {}

processdetail::TChildRecord& TProcess::Record() const {
    return *FImpl;
}

TProcess::~TProcess() {
    if (!FImpl->Elevated) {
        Terminate();
        return;
    }
    if (!FImpl->Reap(false)) ReapInBackground(FImpl->Pid);
}

bool TProcess::StartElevated(const TElevatedStart& start) {
    processdetail::CheckCanStart(Started(), start.Program);
    if (start.Program.find('/') != std::string::npos) MakeExecutable(start.Program);

    std::vector<std::string> command =
        start.Elevator.empty() ? std::vector<std::string>{"pkexec"} : start.Elevator;
    command.push_back(start.Program);
    for (auto& arg : SplitCommandLine(start.Parameters))
        command.push_back(std::move(arg));

    const TUniqueFd nowhere = OpenDevNull(O_RDWR);
    // An installer talks to the user through its own windows, not through ours.
    const pid_t pid = SpawnInOwnGroup(command, nowhere.Get(), nowhere.Get());
    FImpl->Pid = pid;
    FImpl->Elevated = true;
    FImpl->PidFd = OpenPidFd(pid);
    return true;
}

void TProcess::StartCaptured(const std::string& program, const std::vector<std::string>& args) {
    processdetail::CheckCanStart(Started(), program);

    std::vector<std::string> command;
    command.reserve(args.size() + 1);
    command.push_back(program);
    command.insert(command.end(), args.begin(), args.end());

    TPipe output = MakePipe();
    const TUniqueFd nullInput = OpenDevNull(O_RDONLY);
    const pid_t pid = SpawnInOwnGroup(command, nullInput.Get(), output.Write.Get());
    output.Write.Reset();

    ::fcntl(output.Read.Get(), F_SETFL, ::fcntl(output.Read.Get(), F_GETFL) | O_NONBLOCK);
    FImpl->Pid = pid;
    FImpl->Output = std::move(output.Read);
    FImpl->PidFd = OpenPidFd(pid);
}

bool TProcess::WaitForExit(std::chrono::milliseconds timeout) {
    TImpl& impl = *FImpl;
    if (impl.Pid <= 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (impl.Reap(false)) {
            // What the child wrote before it ended is in the pipe; descendants are not waited for.
            // An elevated child has no pipe, and two threads may be here at once.
            if (impl.Output.Valid()) {
                impl.ReadAvailable();
                impl.Output.Reset();
            }
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;

        pollfd fds[2] = {};
        nfds_t count = 0;
        if (impl.Output.Valid()) fds[count++] = {impl.Output.Get(), POLLIN, 0};
        if (impl.PidFd.Valid()) fds[count++] = {impl.PidFd.Get(), POLLIN, 0};
        const auto slice = impl.PidFd.Valid() ? left : std::min(left, ExitPollSlice);
        const int ready = ::poll(fds, count, static_cast<int>(slice.count()));
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0 && impl.Output.Valid() && fds[0].revents != 0) impl.ReadAvailable();
    }
}

void TProcess::Terminate() {
    TImpl& impl = *FImpl;
    if (impl.Elevated) {
        impl.KillUnlessReaped();
        WaitForExit(ElevatedKillWait);
        return;
    }
    if (impl.Pid <= 0 || impl.Reap(false)) {
        impl.Output.Reset();
        return;
    }
    ::kill(-impl.Pid, SIGKILL);
    ::kill(impl.Pid, SIGKILL);
    impl.Reap(true);
    impl.Output.Reset();
}

bool TProcess::Started() const {
    return FImpl->Pid > 0;
}

bool CanRunMsiPackages() {
    return false;
}

}  // namespace egaiss::platform
