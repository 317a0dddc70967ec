#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/uShutdownSignal.h"

namespace egaiss::platform {
namespace {

bool TermHasDefaultHandling() {
    struct sigaction current {};
    ::sigaction(SIGTERM, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

TEST(ShutdownHandlerTest, RunsOnceOnTheFirstSignalAndGivesTheDefaultBackWhenDestroyed) {
    std::atomic<int> calls{0};
    {
        const TShutdownHandler handler([&calls] { ++calls; });
        EXPECT_FALSE(TermHasDefaultHandling());
        ::kill(::getpid(), SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (calls == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(::getpid(), SIGINT);
    }
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(TermHasDefaultHandling());
}

TEST(ShutdownHandlerTest, NeverRunsWithoutASignal) {
    std::atomic<int> calls{0};
    {
        const TShutdownHandler handler([&calls] { ++calls; });
    }
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace egaiss::platform
