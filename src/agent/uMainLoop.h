#pragma once
// What the scheduler and the presenters need of an event loop: steps posted to the loop's thread
// from any thread, repeating timers and quitting. The tray agent runs on its toolkit's loop (Qt on
// Linux, a message-only window on Windows), headless mode and the tests on TPortableLoop.
#include <chrono>
#include <functional>
#include <memory>

namespace egaiss {

// A repeating timer whose ticks run on the loop's thread. Use and destroy it on that thread only;
// a destroyed timer never ticks again.
class TLoopTimer {
public:
    virtual ~TLoopTimer() = default;
    // Starts the timer, or restarts it: the next tick comes one interval from now.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // A running timer restarts with the new interval.
    virtual void SetInterval(std::chrono::milliseconds interval) = 0;
    virtual std::chrono::milliseconds Interval() const = 0;
    virtual bool IsActive() const = 0;
};

class TMainLoop {
public:
    virtual ~TMainLoop() = default;
    // Runs `step` on the loop's thread after the current step, in the order posted. Callable from
    // any thread. Steps still queued when the loop goes are destroyed unrun.
    virtual void Post(std::function<void()> step) = 0;
    // A stopped timer with an interval of 0; `tick` runs at each interval while it is active.
    virtual std::unique_ptr<TLoopTimer> CreateTimer(std::function<void()> tick) = 0;
    // Ends the loop's run: no step or tick starts after the current one. Call it on the loop's
    // thread (from another thread, post it).
    virtual void Quit() = 0;
};

}  // namespace egaiss
