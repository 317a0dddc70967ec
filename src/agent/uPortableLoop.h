#pragma once
// The main loop of headless mode and of the tests, on the standard library alone: a queue of posted
// steps under a mutex, a condition variable that wakes the loop, and timers kept in a table that
// only the loop's thread touches. Its clock can be replaced, so that tests move time by hand.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "agent/uLoopTimerTable.h"
#include "agent/uMainLoop.h"

namespace egaiss {

class TPortableLoop final : public TMainLoop {
public:
    using TTimePoint = std::chrono::steady_clock::time_point;
    using TClock = std::function<TTimePoint()>;
    using TExceptionHandler = std::function<void(const std::exception& error)>;

    // Without a clock the loop uses steady_clock. With one, Run still sleeps in real time: tests of
    // a hand-moved clock call RunDue instead.
    explicit TPortableLoop(TClock clock = {});
    ~TPortableLoop() override;
    TPortableLoop(const TPortableLoop&) = delete;
    TPortableLoop& operator=(const TPortableLoop&) = delete;

    void Post(std::function<void()> step) override;
    std::unique_ptr<TLoopTimer> CreateTimer(std::function<void()> tick) override;
    void Quit() override;

    // Where an exception that escapes a step or a tick goes; without a handler it ends Run.
    void SetExceptionHandler(TExceptionHandler handler) { FOnException = std::move(handler); }

    // Runs steps and ticks until Quit; an idle loop sleeps until its next timer or a post.
    void Run();
    // Runs the steps posted so far and the ticks that are due, without waiting; true when
    // anything ran.
    bool RunDue();
    // Runs the loop until `done` holds (checked after each round and at least every 5 ms) or
    // `timeout` passes; true when `done` held.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

private:
    class TTimer;
    struct TTimerState : TLoopTimerEntry {
        TTimePoint Due{};
        std::uint64_t StartOrder = 0;  // breaks ties between timers due at the same instant
    };

    TTimePoint Now() const;
    bool RunPosted();
    bool RunDueTimers();
    void RunGuarded(const std::function<void()>& step);
    // Sleeps until the next timer is due, a step is posted or `limit` comes.
    void WaitForWork(TTimePoint limit);

    TClock FClock;
    TExceptionHandler FOnException;
    std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<std::function<void()>> FPosted;  // guarded by FMutex
    bool FQuit = false;                         // the loop's thread only
    TLoopTimerTable<TTimerState> FTimers;       // the loop's thread only
    std::uint64_t FNextTimerId = 1;
    std::uint64_t FNextStartOrder = 1;
};

}  // namespace egaiss
