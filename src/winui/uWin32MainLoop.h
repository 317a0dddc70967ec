#pragma once
// The main loop of the agent on Windows: the thread's message loop with a message-only window.
// Posted steps wait in a queue under a mutex and one posted message wakes the window for them;
// timers are the window's SetTimer timers; Quit posts WM_QUIT.
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "agent/uLoopTimerTable.h"
#include "agent/uMainLoop.h"

namespace egaiss {

class TWin32MainLoop final : public TMainLoop {
public:
    using TExceptionHandler = std::function<void(const std::exception& error)>;

    // Creates the window on the calling thread, which becomes the loop's thread.
    TWin32MainLoop();
    // Steps still queued are destroyed unrun; steps posted from now on are dropped.
    ~TWin32MainLoop() override;
    TWin32MainLoop(const TWin32MainLoop&) = delete;
    TWin32MainLoop& operator=(const TWin32MainLoop&) = delete;

    void Post(std::function<void()> step) override;
    std::unique_ptr<TLoopTimer> CreateTimer(std::function<void()> tick) override;
    void Quit() override;

    // Where an exception that escapes a step or a tick goes; without a handler it ends Run, which
    // throws it again.
    void SetExceptionHandler(TExceptionHandler handler) { FOnException = std::move(handler); }

    // Dispatches the thread's messages until Quit.
    void Run();

    // Runs `onEnd` on the loop's thread when the user logs off or Windows shuts down. Windows tells
    // a program that uses windows so only through WM_ENDSESSION to its top-level windows (its
    // console handler hears nothing), so this adds a hidden one; the process may be ended as soon
    // as `onEnd` returns. False when no such window can be made (no desktop, as under Wine without
    // a display).
    bool OnSessionEnd(std::function<void()> onEnd);

    // The window procedure's way in; not for other callers.
    void OnPostedMessage() { RunPosted(); }
    void OnTimerMessage(unsigned long long timerId) { RunTick(timerId); }
    void OnEndSessionMessage();

private:
    class TTimer;

    void RunPosted();
    void RunTick(unsigned long long timerId);
    void RunGuarded(const std::function<void()>& step);

    void* FWindow = nullptr;         // HWND, kept out of this header
    void* FSessionWindow = nullptr;  // HWND of the hidden top-level window, once asked for
    std::function<void()> FOnSessionEnd;
    std::mutex FMutex;
    std::deque<std::function<void()>> FPosted;  // guarded by FMutex
    bool FClosed = false;                       // guarded by FMutex: the destructor has begun
    TExceptionHandler FOnException;
    std::exception_ptr FUnhandled;             // ends Run when no handler took it
    bool FQuit = false;                        // the loop's thread only
    TLoopTimerTable<TLoopTimerEntry> FTimers;  // the loop's thread only; key: SetTimer id
    std::uint64_t FNextTimerId = 1;
};

}  // namespace egaiss
