#pragma once
// Worker threads hand their results to an object of the main thread through a TJobTracker: each
// result runs there later as a queued call, and a result that comes after the receiver is gone
// (Detach from its destructor) is dropped instead of touching freed state. The agent's jobs and
// the windows' background requests all use it.
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

    // A step of a running job (progress), queued behind the steps posted before it.
    template <typename TStep>
    void Post(TStep step) {
        const std::lock_guard lock(FMutex);
        if (FTarget != nullptr) QMetaObject::invokeMethod(FTarget, std::move(step), Qt::QueuedConnection);
    }

    template <typename TStep>
    void JobFinished(TStep step) {
        const std::lock_guard lock(FMutex);
        if (FTarget != nullptr) QMetaObject::invokeMethod(FTarget, std::move(step), Qt::QueuedConnection);
        --FRunning;
        FIdle.notify_all();
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
    std::mutex FMutex;
    std::condition_variable FIdle;
    QObject* FTarget;
    int FRunning = 0;
};

}  // namespace egaiss
