#pragma once
// Worker threads hand their results to an object of the main thread through a TJobTracker: each
// result runs there later as a posted event, and a result that comes after the receiver is gone
// (Detach from its destructor) is dropped instead of touching freed state. The agent's jobs, the
// windows' background requests and the installer's progress (through Post as its poster) all use it.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
#define EGAISS_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define EGAISS_TSAN 1
#endif
#endif
#ifdef EGAISS_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace egaiss {

namespace job_tracker_detail {

// Qt's event queue locks with futexes ThreadSanitizer cannot see. A step is built whole on the
// worker and marked as handed off before it is posted; the main thread takes it over before the
// first touch, so the sanitizer sees the order the queue gives.
inline void MarkHandOff([[maybe_unused]] void* step) {
#ifdef EGAISS_TSAN
    __tsan_release(step);
#endif
}

inline void MarkTakeOver([[maybe_unused]] void* step) {
#ifdef EGAISS_TSAN
    __tsan_acquire(step);
#endif
}

inline const QEvent::Type StepEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class TStepEvent : public QEvent {
public:
    TStepEvent() : QEvent(StepEventType) {}
    TStepEvent(const TStepEvent&) = delete;
    TStepEvent& operator=(const TStepEvent&) = delete;
    TStepEvent(TStepEvent&&) = delete;
    TStepEvent& operator=(TStepEvent&&) = delete;
    // Qt deletes the event on the receiver's thread, also unrun when the receiver is destroyed first.
    ~TStepEvent() override { MarkTakeOver(this); }

    virtual void Run() = 0;
};

template <typename TStep>
class TStepEventOf final : public TStepEvent {
public:
    explicit TStepEventOf(TStep step) : FStep(std::move(step)) {}

    void Run() override { FStep(); }

private:
    TStep FStep;
};

// Lives as a child of the receiver, so Qt drops the steps still queued when the receiver goes.
class TStepInbox final : public QObject {
public:
    explicit TStepInbox(QObject* receiver) : QObject(receiver) {}

    bool event(QEvent* event) override {
        MarkTakeOver(event);  // before the first read, which is the type
        if (event->type() != StepEventType) return QObject::event(event);
        static_cast<TStepEvent*>(event)->Run();
        return true;
    }
};

}  // namespace job_tracker_detail

class TJobTracker {
public:
    explicit TJobTracker(QObject* target) : FInbox(new job_tracker_detail::TStepInbox(target)) {}

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
        FInbox = nullptr;
    }

    bool WaitIdle(std::chrono::milliseconds timeout) {
        std::unique_lock lock(FMutex);
        return FIdle.wait_for(lock, timeout, [this] { return FRunning == 0; });
    }

private:
    template <typename TStep>
    void PostLocked(TStep step) {
        if (FInbox == nullptr) return;
        auto* event = new job_tracker_detail::TStepEventOf<TStep>(std::move(step));
        job_tracker_detail::MarkHandOff(event);
        QCoreApplication::postEvent(FInbox, event);  // the queue owns the event from here
    }

    std::mutex FMutex;
    std::condition_variable FIdle;
    QObject* FInbox;  // owned by the receiver, as its child
    int FRunning = 0;
};

}  // namespace egaiss
