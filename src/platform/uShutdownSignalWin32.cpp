#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/uShutdownSignal.h"

namespace egaiss::platform {

struct TShutdownHandler::TImpl {
    std::function<void()> OnShutdown;
    bool Called = false;
};

namespace {

std::mutex HandlerMutex;  // held while the callback runs, so that the destructor waits for it
std::condition_variable HandlerGone;
TShutdownHandler::TImpl* Current = nullptr;

// Windows ends the process as soon as the handler of these returns (or a few seconds later).
bool EndsProcessOnReturn(DWORD type) {
    return type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
}

// Windows runs console control handlers on a thread of their own, so the callback may work here.
BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && !EndsProcessOnReturn(type)) return FALSE;
    std::unique_lock lock(HandlerMutex);
    if (Current == nullptr) return FALSE;
    if (!std::exchange(Current->Called, true)) Current->OnShutdown();
    // The owner stops its work once called; until it has, returning would cut that short.
    if (EndsProcessOnReturn(type)) HandlerGone.wait(lock, [] { return Current == nullptr; });
    return TRUE;
}

}  // namespace

TShutdownHandler::TShutdownHandler(std::function<void()> onShutdown)
    : FImpl(std::make_unique<TImpl>(TImpl{std::move(onShutdown)})) {
    {
        const std::lock_guard lock(HandlerMutex);
        Current = FImpl.get();
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

TShutdownHandler::~TShutdownHandler() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    {
        const std::lock_guard lock(HandlerMutex);
        Current = nullptr;
    }
    HandlerGone.notify_all();
}

}  // namespace egaiss::platform
