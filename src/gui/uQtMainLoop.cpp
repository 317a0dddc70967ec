#include "gui/uQtMainLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <utility>

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
namespace {

// Qt's event queue locks with futexes ThreadSanitizer cannot see. A step is built whole on the
// posting thread and marked as handed off before it is posted; the main thread takes it over
// before the first touch, so the sanitizer sees the order the queue gives.
void MarkHandOff([[maybe_unused]] void* step) {
#ifdef EGAISS_TSAN
    __tsan_release(step);
#endif
}

void MarkTakeOver([[maybe_unused]] void* step) {
#ifdef EGAISS_TSAN
    __tsan_acquire(step);
#endif
}

const QEvent::Type StepEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class TStepEvent final : public QEvent {
public:
    explicit TStepEvent(std::function<void()> step) : QEvent(StepEventType), FStep(std::move(step)) {}
    TStepEvent(const TStepEvent&) = delete;
    TStepEvent& operator=(const TStepEvent&) = delete;
    TStepEvent(TStepEvent&&) = delete;
    TStepEvent& operator=(TStepEvent&&) = delete;
    // Qt deletes the event on the receiver's thread, also unrun when the loop goes first.
    ~TStepEvent() override { MarkTakeOver(this); }

    void Run() { FStep(); }

private:
    std::function<void()> FStep;
};

class TStepInbox final : public QObject {
public:
    bool event(QEvent* event) override {
        MarkTakeOver(event);  // before the first read, which is the type
        if (event->type() != StepEventType) return QObject::event(event);
        static_cast<TStepEvent*>(event)->Run();
        return true;
    }
};

class TQtTimer final : public TLoopTimer {
public:
    explicit TQtTimer(std::function<void()> tick) {
        FTimer.setInterval(0);
        QObject::connect(&FTimer, &QTimer::timeout, [tick = std::move(tick)] { tick(); });
    }

    void Start() override { FTimer.start(); }
    void Stop() override { FTimer.stop(); }
    // QTimer restarts an active timer when its interval is set.
    void SetInterval(std::chrono::milliseconds interval) override { FTimer.setInterval(interval); }
    std::chrono::milliseconds Interval() const override { return FTimer.intervalAsDuration(); }
    bool IsActive() const override { return FTimer.isActive(); }

private:
    QTimer FTimer;
};

class TQtMainLoop final : public TMainLoop {
public:
    void Post(std::function<void()> step) override {
        auto* event = new TStepEvent(std::move(step));
        MarkHandOff(event);
        QCoreApplication::postEvent(&FInbox, event);  // the queue owns the event from here
    }

    std::unique_ptr<TLoopTimer> CreateTimer(std::function<void()> tick) override {
        return std::make_unique<TQtTimer>(std::move(tick));
    }

    void Quit() override { QCoreApplication::quit(); }

private:
    TStepInbox FInbox;
};

}  // namespace

TMainLoop& QtMainLoop() {
    static TQtMainLoop loop;
    return loop;
}

}  // namespace egaiss
