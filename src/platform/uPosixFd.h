#pragma once
// Ownership of POSIX file descriptors, shared by the *Posix.cpp units.
#include <unistd.h>

namespace egaiss::platform {

// Owns a file descriptor and closes it on destruction unless released.
class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : FFd(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : FFd(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    int Release() {
        const int fd = FFd;
        FFd = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (FFd >= 0) ::close(FFd);
        FFd = fd;
    }
    // Closes now and returns close()'s result, so that a failing close (a write lost on a network
    // drive) can be reported.
    int Close() {
        const int fd = Release();
        return fd >= 0 ? ::close(fd) : 0;
    }

private:
    int FFd = -1;
};

}  // namespace egaiss::platform
