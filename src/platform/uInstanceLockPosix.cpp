#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/uErrors.h"
#include "platform/uInstanceLock.h"

namespace egaiss::platform {

struct TInstanceLock::TImpl {
    std::string Path;
    int Fd = -1;
    bool Held = false;
};

TInstanceLock::TInstanceLock(std::string path) : FImpl(std::make_unique<TImpl>()) {
    FImpl->Path = std::move(path);
}

TInstanceLock::~TInstanceLock() {
    if (FImpl->Fd >= 0) ::close(FImpl->Fd);  // closing releases the flock
}

bool TInstanceLock::Acquire(std::chrono::milliseconds wait) {
    if (FImpl->Held) return true;
    if (FImpl->Fd < 0) {
        FImpl->Fd = ::open(FImpl->Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (FImpl->Fd < 0) throw EFileError("Cannot open " + FImpl->Path + ": " + std::strerror(errno));
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(FImpl->Fd, LOCK_EX | LOCK_NB) == 0) return FImpl->Held = true;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            throw EFileError("Cannot lock " + FImpl->Path + ": " + std::strerror(errno));
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool TInstanceLock::Held() const {
    return FImpl->Held;
}

}  // namespace egaiss::platform
