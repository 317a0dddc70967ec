#include <windows.h>

#include <thread>

#include "platform/uErrors.h"
#include "platform/uInstanceLock.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {

// The lock is the file itself, opened without sharing; the system closes it when the process ends.
struct TInstanceLock::TImpl {
    std::string Path;
    HANDLE File = INVALID_HANDLE_VALUE;
};

TInstanceLock::TInstanceLock(std::string path) : FImpl(std::make_unique<TImpl>()) {
    FImpl->Path = std::move(path);
}

TInstanceLock::~TInstanceLock() {
    if (FImpl->File != INVALID_HANDLE_VALUE) CloseHandle(FImpl->File);
}

bool TInstanceLock::Acquire(std::chrono::milliseconds wait) {
    if (Held()) return true;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        FImpl->File = CreateFileW(Utf8ToWide(FImpl->Path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FImpl->File != INVALID_HANDLE_VALUE) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
            throw EFileError("Cannot open " + FImpl->Path + ": " + Win32ErrorText(error));
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool TInstanceLock::Held() const {
    return FImpl->File != INVALID_HANDLE_VALUE;
}

}  // namespace egaiss::platform
