#include <windows.h>

#include <atomic>

#include "platform/uShutdownSignal.h"

namespace egaiss::platform {
namespace {

std::function<void()>* ShutdownCallback = nullptr;
std::atomic<bool> ShutdownCalled{false};

// Windows runs console control handlers on a thread of their own, so the callback may work here.
BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    if (ShutdownCallback != nullptr && !ShutdownCalled.exchange(true)) (*ShutdownCallback)();
    return TRUE;
}

}  // namespace

void InstallShutdownHandler(std::function<void()> onShutdown) {
    ShutdownCallback = new std::function<void()>(std::move(onShutdown));  // lives until the process ends
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace egaiss::platform
