// The stop command over a stand-in agent: a lock on a folder of the test's own and a request
// answered or not.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <thread>

#include "app/uCommandLine.h"
#include "app/uSupportCommands.h"
#include "platform/uInstanceLock.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;

TEST(StopCommand, WaitsForTheAgentThatTookTheRequestOrSaysWhyNot) {
    const test::TTempDir dir;
    const std::string lockPath = dir.File("agent.lock");
    std::ostringstream out;
    EXPECT_EQ(RunStopCommand([] { return false; }, lockPath, 5s, out), ExitOk);
    EXPECT_EQ(out.str(), "No agent running\n");

    // An agent still starting: it holds the folder, answers the second request and ends a little later.
    auto agentLock = std::make_unique<platform::TInstanceLock>(lockPath);
    ASSERT_TRUE(agentLock->Acquire(0ms));
    std::atomic<int> asked = 0;
    std::thread ending;
    const auto askToExit = [&] {
        if (++asked < 2) return false;
        ending = std::thread([&] {
            std::this_thread::sleep_for(300ms);
            agentLock.reset();
        });
        return true;
    };
    out.str("");
    EXPECT_EQ(RunStopCommand(askToExit, lockPath, 5s, out), ExitOk);
    ending.join();
    EXPECT_EQ(out.str(), "Agent stopped\n");
    EXPECT_EQ(asked, 2) << "asked again only until an agent took the request";

    // A headless agent never answers and keeps the folder.
    platform::TInstanceLock headless(lockPath);
    ASSERT_TRUE(headless.Acquire(0ms));
    out.str("");
    EXPECT_EQ(RunStopCommand([] { return false; }, lockPath, 1s, out), ExitFailed);
    EXPECT_EQ(
        out.str(),
        "Agent still running after 1 s (it did not answer: an agent run with --headless ends on Ctrl+C or "
        "SIGTERM)\n");
}

}  // namespace
}  // namespace egaiss
