#include "winui/uWin32MainLoop.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace egaiss {
namespace {

constexpr UINT PostedStepsMessage = WM_APP + 1;
constexpr const wchar_t* WindowClassName = L"EgaissMainLoop";

HWND AsWindow(void* window) {
    return static_cast<HWND>(window);
}

LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* loop = reinterpret_cast<TWin32MainLoop*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (loop != nullptr && message == PostedStepsMessage) {
        loop->OnPostedMessage();
        return 0;
    }
    if (loop != nullptr && message == WM_TIMER) {
        loop->OnTimerMessage(wParam);
        return 0;
    }
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (loop != nullptr && message == WM_ENDSESSION) {
        if (wParam != FALSE) loop->OnEndSessionMessage();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterLoopWindowClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = LoopWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = WindowClassName;
        return RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) throw std::runtime_error("RegisterClassExW failed for the main loop window");
}

UINT TimerMilliseconds(std::chrono::milliseconds interval) {
    return static_cast<UINT>(std::clamp<long long>(interval.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
}

}  // namespace

class TWin32MainLoop::TTimer final : public TTableLoopTimer<TLoopTimerEntry> {
public:
    TTimer(TWin32MainLoop& loop, std::function<void()> tick)
        : TTableLoopTimer(loop.FTimers, loop.FNextTimerId, std::move(tick)),
          FWindow(AsWindow(loop.FWindow)) {}
    ~TTimer() override { Stop(); }
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    void Start() override {
        // SetTimer on a running id restarts its interval.
        Entry().Active = SetTimer(FWindow, Id(), TimerMilliseconds(Entry().Interval), nullptr) != 0;
    }
    void Stop() override {
        if (!std::exchange(Entry().Active, false)) return;
        KillTimer(FWindow, Id());
    }

private:
    HWND FWindow;
};

namespace {

// A window of the loop's class that leads to `loop`, or null; `parent` HWND_MESSAGE makes it
// message-only.
HWND CreateLoopWindow(TWin32MainLoop* loop, HWND parent) {
    const HWND window = CreateWindowExW(0, WindowClassName, L"", 0, 0, 0, 0, 0, parent, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    if (window != nullptr) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(loop));
    return window;
}

}  // namespace

TWin32MainLoop::TWin32MainLoop() {
    RegisterLoopWindowClass();
    FWindow = CreateLoopWindow(this, HWND_MESSAGE);
    if (FWindow == nullptr) throw std::runtime_error("CreateWindowExW failed for the main loop window");
}

TWin32MainLoop::~TWin32MainLoop() {
    std::deque<std::function<void()>> unrun;
    {
        const std::lock_guard lock(FMutex);
        FClosed = true;
        unrun.swap(FPosted);
    }
    if (FSessionWindow != nullptr) DestroyWindow(AsWindow(FSessionWindow));
    DestroyWindow(AsWindow(FWindow));
}

bool TWin32MainLoop::OnSessionEnd(std::function<void()> onEnd) {
    FOnSessionEnd = std::move(onEnd);
    if (FSessionWindow == nullptr) FSessionWindow = CreateLoopWindow(this, nullptr);  // never shown
    return FSessionWindow != nullptr;
}

void TWin32MainLoop::OnEndSessionMessage() {
    if (!FOnSessionEnd) return;
    try {
        RunGuarded(FOnSessionEnd);
    } catch (...) {
        // The session ends either way; nothing may unwind into the system's frames.
    }
}

void TWin32MainLoop::Post(std::function<void()> step) {
    const std::lock_guard lock(FMutex);
    if (FClosed) return;
    const bool wake = FPosted.empty();
    FPosted.push_back(std::move(step));
    // One message wakes the window for every step queued until it runs them.
    if (wake) PostMessageW(AsWindow(FWindow), PostedStepsMessage, 0, 0);
}

std::unique_ptr<TLoopTimer> TWin32MainLoop::CreateTimer(std::function<void()> tick) {
    return std::make_unique<TTimer>(*this, std::move(tick));
}

void TWin32MainLoop::Quit() {
    if (!std::exchange(FQuit, true)) PostQuitMessage(0);
}

void TWin32MainLoop::Run() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (FUnhandled) std::rethrow_exception(std::exchange(FUnhandled, nullptr));
}

void TWin32MainLoop::RunGuarded(const std::function<void()>& step) {
    // Nothing may unwind through the system's frames of the window procedure.
    try {
        step();
    } catch (const std::exception& error) {
        if (!FOnException) throw;
        FOnException(error);
    }
}

void TWin32MainLoop::RunPosted() {
    std::deque<std::function<void()>> batch;
    {
        const std::lock_guard lock(FMutex);
        batch.swap(FPosted);
    }
    try {
        while (!batch.empty() && !FQuit) {
            const std::function<void()> step = std::move(batch.front());
            batch.pop_front();
            RunGuarded(step);
        }
    } catch (...) {
        FUnhandled = std::current_exception();
        Quit();
    }
}

void TWin32MainLoop::RunTick(unsigned long long timerId) {
    const auto timer = FTimers.find(timerId);
    if (FQuit || timer == FTimers.end() || !timer->second.Active) return;
    // The tick may destroy its own timer: run a copy.
    const std::function<void()> tick = timer->second.Tick;
    try {
        RunGuarded(tick);
    } catch (...) {
        FUnhandled = std::current_exception();
        Quit();
    }
}

}  // namespace egaiss
