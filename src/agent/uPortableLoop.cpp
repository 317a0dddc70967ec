#include "agent/uPortableLoop.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace egaiss {

class TPortableLoop::TTimer final : public TTableLoopTimer<TTimerState> {
public:
    TTimer(TPortableLoop& loop, std::function<void()> tick)
        : TTableLoopTimer(loop.FTimers, loop.FNextTimerId, std::move(tick)), FLoop(loop) {}

    void Start() override {
        TTimerState& state = Entry();
        state.Active = true;
        state.Due = FLoop.Now() + state.Interval;
        state.StartOrder = FLoop.FNextStartOrder++;
    }
    void Stop() override { Entry().Active = false; }

private:
    TPortableLoop& FLoop;
};

TPortableLoop::TPortableLoop(TClock clock) : FClock(std::move(clock)) {}

TPortableLoop::~TPortableLoop() = default;

TPortableLoop::TTimePoint TPortableLoop::Now() const {
    return FClock ? FClock() : std::chrono::steady_clock::now();
}

void TPortableLoop::Post(std::function<void()> step) {
    {
        const std::lock_guard lock(FMutex);
        FPosted.push_back(std::move(step));
    }
    FWake.notify_one();
}

std::unique_ptr<TLoopTimer> TPortableLoop::CreateTimer(std::function<void()> tick) {
    return std::make_unique<TTimer>(*this, std::move(tick));
}

void TPortableLoop::Quit() {
    FQuit = true;
}

void TPortableLoop::RunGuarded(const std::function<void()>& step) {
    if (!FOnException) {
        step();
        return;
    }
    try {
        step();
    } catch (const std::exception& error) {
        FOnException(error);
    }
}

bool TPortableLoop::RunPosted() {
    std::deque<std::function<void()>> batch;
    {
        const std::lock_guard lock(FMutex);
        batch.swap(FPosted);
    }
    const bool any = !batch.empty();
    while (!batch.empty() && !FQuit) {
        const std::function<void()> step = std::move(batch.front());
        batch.pop_front();
        RunGuarded(step);
    }
    if (!batch.empty()) {
        // Quit came first: what is left stays queued, ahead of what was posted meanwhile.
        const std::lock_guard lock(FMutex);
        FPosted.insert(FPosted.begin(), std::make_move_iterator(batch.begin()),
                       std::make_move_iterator(batch.end()));
    }
    return any;
}

bool TPortableLoop::RunDueTimers() {
    const TTimePoint now = Now();
    // Due timers tick in the order they fell due, and timers due at the same instant in the order
    // they were started, whatever their creation order: the agent relies on a timer started first
    // ticking first when intervals are equal. A tick may create, stop or destroy timers, so the due
    // ones are looked up again one by one.
    struct TDue {
        TTimePoint Due;
        std::uint64_t StartOrder;
        std::uint64_t Id;
        bool operator<(const TDue& other) const {
            return std::tie(Due, StartOrder) < std::tie(other.Due, other.StartOrder);
        }
    };
    std::vector<TDue> due;
    for (const auto& [id, state] : FTimers) {
        if (state.Active && state.Due <= now) due.push_back({state.Due, state.StartOrder, id});
    }
    std::sort(due.begin(), due.end());
    for (const TDue& entry : due) {
        const auto timer = FTimers.find(entry.Id);
        if (FQuit) break;
        if (timer == FTimers.end() || !timer->second.Active) continue;
        TTimerState& state = timer->second;
        // The next tick keeps the timer's phase, so that the order above holds round after round;
        // a loop that fell behind skips the missed ticks instead of running them in a burst.
        state.Due += state.Interval;
        if (state.Due <= now) state.Due = now + state.Interval;
        const std::function<void()> tick = state.Tick;  // the tick may destroy its timer
        RunGuarded(tick);
    }
    return !due.empty();
}

bool TPortableLoop::RunDue() {
    const bool posted = RunPosted();
    const bool ticked = !FQuit && RunDueTimers();
    return posted || ticked;
}

void TPortableLoop::WaitForWork(TTimePoint limit) {
    for (const auto& [id, state] : FTimers) {
        if (state.Active) limit = std::min(limit, state.Due);
    }
    std::unique_lock lock(FMutex);
    if (!FPosted.empty()) return;
    if (limit == TTimePoint::max()) {
        FWake.wait(lock);
    } else {
        // A clock of the tests' own measures the deadline, real time the wait: wait at most as
        // long as the clocks differ.
        FWake.wait_for(lock, limit - Now());
    }
}

void TPortableLoop::Run() {
    while (!FQuit) {
        RunDue();
        if (!FQuit) WaitForWork(TTimePoint::max());
    }
    FQuit = false;
}

bool TPortableLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        RunDue();
        FQuit = false;  // a quit ends Run only
        if (done()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        // Work of other threads does not wake the loop: look again soon.
        WaitForWork(Now() + std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(5),
                                                                          deadline - now));
    }
}

}  // namespace egaiss
