#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/uWine.h"
#include "winui/uWin32MainLoop.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;

TEST(Win32MainLoopTest, RunsStepsPostedFromAnyThreadInOrderUntilQuit) {
    TWin32MainLoop loop;
    std::vector<int> ran;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            loop.Post([&ran, i] { ran.push_back(i); });
        loop.Post([&] {
            loop.Quit();
            loop.Post([&ran] { ran.push_back(-1); });  // posted after Quit: never runs
        });
    });
    loop.Run();
    poster.join();
    ASSERT_EQ(ran.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(ran[i], i);
}

TEST(Win32MainLoopTest, TimersTickUntilStoppedOrDestroyed) {
    TWin32MainLoop loop;
    int fastTicks = 0;
    int slowTicks = 0;
    auto slow = loop.CreateTimer([&] { ++slowTicks; });
    slow->SetInterval(10min);
    slow->Start();
    std::unique_ptr<TLoopTimer> fast;
    fast = loop.CreateTimer([&] {
        if (++fastTicks == 3) {
            fast.reset();  // a tick may destroy its own timer
            loop.Post([&] { loop.Quit(); });
        }
    });
    EXPECT_FALSE(fast->IsActive());
    fast->SetInterval(20ms);
    fast->Start();
    EXPECT_TRUE(fast->IsActive());
    EXPECT_EQ(fast->Interval(), 20ms);
    loop.Run();
    EXPECT_EQ(fastTicks, 3);
    EXPECT_EQ(slowTicks, 0);
    slow->Stop();
    EXPECT_FALSE(slow->IsActive());
}

TEST(Win32MainLoopTest, AnEscapedExceptionGoesToTheHandlerOrEndsRun) {
    TWin32MainLoop loop;
    std::string handled;
    loop.SetExceptionHandler([&](const std::exception& error) { handled = error.what(); });
    loop.Post([] { throw std::runtime_error("step failed"); });
    loop.Post([&] { loop.Quit(); });
    loop.Run();
    EXPECT_EQ(handled, "step failed");

    TWin32MainLoop bare;
    bool after = false;
    bare.Post([] { throw std::runtime_error("unhandled"); });
    bare.Post([&] { after = true; });
    EXPECT_THROW(bare.Run(), std::runtime_error);
    EXPECT_FALSE(after);
}

TEST(Win32MainLoopTest, StepsQueuedWhenTheLoopGoesAreDestroyedUnrun) {
    auto witness = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    {
        TWin32MainLoop loop;
        loop.Post([witness, &ran] { ran = true; });
    }
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(witness.use_count(), 1);
}

TEST(Win32MainLoopTest, TheEndOfTheSessionReachesItsHandlerThroughAHiddenTopLevelWindow) {
    TWin32MainLoop loop;
    int ended = 0;
    if (!loop.OnSessionEnd([&] { ++ended; })) {
        ASSERT_TRUE(test::RunningUnderWine()) << "no top-level window on Windows";
        GTEST_SKIP() << "Wine without a display driver makes no top-level windows";
    }
    // Only top-level windows are listed, and only they hear of the session's end.
    HWND window = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND found, LPARAM result) {
            *reinterpret_cast<HWND*>(result) = found;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&window));
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageW(window, WM_ENDSESSION, FALSE, 0);  // the session goes on after all
    EXPECT_EQ(ended, 0);
    SendMessageW(window, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(ended, 1);
}

}  // namespace
}  // namespace egaiss
