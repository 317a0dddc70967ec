#pragma once
// Worker threads hand their results to an object of the main thread through a TJobTracker: each
// result runs there later as a step posted to the main loop, and a result that comes after the
// receiver is gone (Detach from its destructor) is dropped instead of touching freed state. The
// agent's jobs, the windows' background requests and the installer's progress (through Post as its
// poster) all use it.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "agent/uMainLoop.h"

namespace egaiss {

class TJobTracker {
public:
    explicit TJobTracker(TMainLoop& loop) : FLoop(&loop), FAttached(std::make_shared<bool>(true)) {}

    void JobStarted() {
        const std::lock_guard lock(FMutex);
        ++FRunning;
    }

    template <typename TStep>
    void JobFinished(TStep step) {
        const std::lock_guard lock(FMutex);
        PostLocked(std::move(step));
        --FRunning;
        FIdle.notify_all();
    }

    // A step for the receiver's thread outside a counted job; dropped once the receiver is gone.
    template <typename TStep>
    void Post(TStep step) {
        const std::lock_guard lock(FMutex);
        PostLocked(std::move(step));
    }

    // Called on the main thread: steps already queued do not run, later ones are not posted.
    void Detach() {
        const std::lock_guard lock(FMutex);
        FLoop = nullptr;
        *FAttached = false;
    }

    bool WaitIdle(std::chrono::milliseconds timeout) {
        std::unique_lock lock(FMutex);
        return FIdle.wait_for(lock, timeout, [this] { return FRunning == 0; });
    }

private:
    template <typename TStep>
    void PostLocked(TStep step) {
        if (FLoop == nullptr) return;
        // The flag is read and cleared on the main thread only.
        FLoop->Post([attached = FAttached, step = std::move(step)]() mutable {
            if (*attached) step();
        });
    }

    std::mutex FMutex;
    std::condition_variable FIdle;
    TMainLoop* FLoop;  // outlives the receiver; null once detached
    std::shared_ptr<bool> FAttached;
    int FRunning = 0;
};

}  // namespace egaiss
