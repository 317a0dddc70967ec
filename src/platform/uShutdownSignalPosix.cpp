#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/uPosixFd.h"
#include "platform/uShutdownSignal.h"

namespace egaiss::platform {
namespace {

std::atomic<int> WakeWriteFd{-1};

// Only async-signal-safe calls here: one byte into the self-pipe.
void OnSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(WakeWriteFd.load(), &byte, 1);
    errno = savedErrno;
}

}  // namespace

struct TShutdownHandler::TImpl {
    TUniqueFd ReadFd;
    TUniqueFd WriteFd;  // closed by the destructor: the helper then reads the end of the pipe
    std::thread Waiter;
    struct sigaction PreviousInt {};
    struct sigaction PreviousTerm {};
};

TShutdownHandler::TShutdownHandler(std::function<void()> onShutdown) : FImpl(std::make_unique<TImpl>()) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;  // no handler: the system's default stays
    FImpl->ReadFd.Reset(fds[0]);
    FImpl->WriteFd.Reset(fds[1]);
    FImpl->Waiter = std::thread([impl = FImpl.get(), onShutdown = std::move(onShutdown)] {
        char byte = 0;
        ssize_t count = 0;
        do {
            count = ::read(impl->ReadFd.Get(), &byte, 1);
        } while (count < 0 && errno == EINTR);
        if (count == 1) onShutdown();
    });
    WakeWriteFd.store(fds[1]);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &FImpl->PreviousInt);
    ::sigaction(SIGTERM, &action, &FImpl->PreviousTerm);
}

TShutdownHandler::~TShutdownHandler() {
    if (!FImpl->Waiter.joinable()) return;
    ::sigaction(SIGINT, &FImpl->PreviousInt, nullptr);
    ::sigaction(SIGTERM, &FImpl->PreviousTerm, nullptr);
    WakeWriteFd.store(-1);
    FImpl->WriteFd.Reset();
    FImpl->Waiter.join();
}

}  // namespace egaiss::platform
