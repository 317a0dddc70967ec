#pragma once
// Turns the system's request to stop (SIGINT/SIGTERM; Ctrl+C, Ctrl+Break, console close, logoff or
// shutdown on Windows) into a call on an ordinary thread, so that nothing but a flag is touched inside
// a signal handler. On Windows the close, logoff and shutdown events wait for the destructor, since
// the system ends the process when their handler returns.
#include <functional>
#include <memory>

namespace egaiss::platform {

// While it lives, the first request to stop runs `onShutdown` once, on a helper thread. Once the
// destructor has returned, `onShutdown` is neither running nor will it run, so it may use objects
// that die right after this one, and the system's default handling is back. One at a time.
class TShutdownHandler {
public:
    explicit TShutdownHandler(std::function<void()> onShutdown);
    ~TShutdownHandler();
    TShutdownHandler(const TShutdownHandler&) = delete;
    TShutdownHandler& operator=(const TShutdownHandler&) = delete;

    struct TImpl;

private:
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace egaiss::platform
