#pragma once
// Worker threads hand their results to an object of the main thread through a TJobTracker: each
// result runs there later as a queued call, and a result that comes after the receiver is gone
// (Detach from its destructor) is dropped instead of touching freed state. The agent's jobs, the
// windows' background requests and the installer's progress (through Post as its poster) all use it.
#include <QMetaObject>
#include <QObject>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace egaiss {

class TJobTracker {
public:
    explicit TJobTracker(QObject* target) : FTarget(target) {}

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

    void Detach() {
        const std::lock_guard lock(FMutex);
        FTarget = nullptr;
    }

    bool WaitIdle(std::chrono::milliseconds timeout) {
        std::unique_lock lock(FMutex);
        return FIdle.wait_for(lock, timeout, [this] { return FRunning == 0; });
    }

private:
    // Qt also drops a queued step whose receiver is destroyed before the step runs.
    template <typename TStep>
    void PostLocked(TStep step) {
        if (FTarget != nullptr) QMetaObject::invokeMethod(FTarget, std::move(step), Qt::QueuedConnection);
    }

    std::mutex FMutex;
    std::condition_variable FIdle;
    QObject* FTarget;
    int FRunning = 0;
};

}  // namespace egaiss
