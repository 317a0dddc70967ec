#pragma once
// Measures how long steps posted to a main loop wait while the loop runs, so that tests show a
// window's background work never holds the loop.
#include <algorithm>
#include <chrono>

#include "agent/uMainLoop.h"

namespace egaiss::test {

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
