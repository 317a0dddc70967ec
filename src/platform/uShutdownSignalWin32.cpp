#include <windows.h>

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
TShutdownHandler::TImpl* Current = nullptr;

// Windows runs console control handlers on a thread of their own, so the callback may work here.
BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    const std::lock_guard lock(HandlerMutex);
    if (Current == nullptr) return FALSE;
    if (!std::exchange(Current->Called, true)) Current->OnShutdown();
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
    const std::lock_guard lock(HandlerMutex);
    Current = nullptr;
}

}  // namespace egaiss::platform
