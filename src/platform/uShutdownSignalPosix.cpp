#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/uShutdownSignal.h"

namespace egaiss::platform {
namespace {

int WakeWriteFd = -1;

// Only async-signal-safe calls here: one byte into the self-pipe.
void OnSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(WakeWriteFd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

void InstallShutdownHandler(std::function<void()> onShutdown) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    WakeWriteFd = fds[1];
    std::thread([readFd = fds[0], onShutdown = std::move(onShutdown)] {
        char byte = 0;
        while (::read(readFd, &byte, 1) < 0 && errno == EINTR) {
        }
        onShutdown();
    }).detach();

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace egaiss::platform
