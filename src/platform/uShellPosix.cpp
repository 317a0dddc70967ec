#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/uPosixFd.h"
#include "platform/uShell.h"

namespace egaiss::platform {
namespace {

// Upper bound of the descriptors closed in the new process; descriptors above it are very rare.
constexpr int MaxInheritedFd = 65536;

void WriteErrno(int fd, int error) {
    while (::write(fd, &error, sizeof error) < 0 && errno == EINTR) {
    }
}

// Runs in the grandchild, between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecDetached(const char* program, char* const* argv, int errorFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) std::signal(signal, SIG_DFL);
    }
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        if (null != STDIN_FILENO) ::close(null);
    }
    // The agent's lock file, sockets and log must not live on in the new process.
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    const int last = openMax > 0 && openMax < MaxInheritedFd ? static_cast<int>(openMax) : MaxInheritedFd;
    for (int fd = STDERR_FILENO + 1; fd < last; ++fd) {
        if (fd != errorFd) ::close(fd);
    }
    ::execvp(program, argv);
    WriteErrno(errorFd, errno);
    ::_exit(127);
}

}  // namespace

bool StartDetached(const std::string& path, const std::vector<std::string>& args) {
    if (path.empty()) return false;
    // Everything the new process needs is built before fork: the child may not allocate.
    std::vector<std::string> arguments;
    arguments.reserve(args.size() + 1);
    arguments.push_back(path);
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The close-on-exec pipe reports a failed exec: it reaches end-of-file without data when the
    // program started, and carries errno when it did not.
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    TUniqueFd readEnd(fds[0]);
    TUniqueFd writeEnd(fds[1]);

    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        // The intermediate process: a new session, then a grandchild that init adopts at once.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            WriteErrno(writeEnd.Get(), errno);
            ::_exit(1);
        }
        if (grandchild > 0) ::_exit(0);
        ExecDetached(argv[0], argv.data(), writeEnd.Get());
    }
    writeEnd.Close();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = ::read(readEnd.Get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == 0;
}

bool OpenWithDesktop(const std::string& urlOrPath) {
    return StartDetached("xdg-open", {urlOrPath});
}

}  // namespace egaiss::platform
