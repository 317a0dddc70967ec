#pragma once
// A lock held for a process's whole life on a file in its data folder, so that two agents never
// work on one folder at once. The system releases it when the process ends, however it ends.
#include <chrono>
#include <memory>
#include <string>

namespace egaiss::platform {

class TInstanceLock {
public:
    explicit TInstanceLock(std::string path);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // Tries to take the lock, retrying until `wait` has passed. Raises EFileError when the lock
    // file cannot be opened at all.
    bool Acquire(std::chrono::milliseconds wait);
    bool Held() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace egaiss::platform
