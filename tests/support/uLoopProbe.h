#pragma once
// Measures how long steps posted to a main loop wait while the loop runs, so that tests show a
// window's background work never holds the loop.
#include <algorithm>
#include <chrono>

#include "agent/uMainLoop.h"

namespace egaiss::test {

// The longest a probe may wait. A step that waited for a stalled peer would wait at least the
// peer's time-out (400 ms and more in these tests); on a quiet machine no probe waits 100 ms, but a
// loaded one (CI building beside the tests) may keep the loop's thread off the processor for longer.
inline constexpr std::chrono::milliseconds LoopWaitBound{250};

class TLoopProbe {
public:
    using TClock = std::chrono::steady_clock;

    explicit TLoopProbe(TMainLoop& loop) : FLoop(loop) {}

    // Posts the next probe; each probe that has run posts the next one.
    void Start() {
        const auto posted = TClock::now();
        FLoop.Post([this, posted] {
            FLongestWait = std::max(FLongestWait, TClock::now() - posted);
            ++FRan;
            if (!FStopped) Start();
        });
    }
    void Stop() { FStopped = true; }

    int Ran() const { return FRan; }
    std::chrono::milliseconds LongestWait() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(FLongestWait);
    }

private:
    TMainLoop& FLoop;
    TClock::duration FLongestWait{};
    int FRan = 0;
    bool FStopped = false;
};

}  // namespace egaiss::test
