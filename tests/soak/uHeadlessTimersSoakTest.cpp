// The headless agent's timers against the simulators. Their interval is at least 60 s, so these
// cases take minutes and live with the soak test rather than in the quick end-to-end run.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/uSimProcess.h"

namespace egaiss {
namespace {

using test::JsonArray;
using test::JsonInt;
using test::TAgentFolder;
using test::TSimProcess;

// From the agent's start: two poll intervals of 60 s and room for a slow machine.
constexpr auto TwoIntervals = std::chrono::seconds(150);

TEST(HeadlessTimersSoakTest, LaterCyclesMoveNewDocumentsAndServeTheServersSyncRequest) {
    TSimProcess sim(EGAISS_SIM_EXE, "both", {"--docs", "1", "--outbox", "0"});
    TAgentFolder agent(EGAISS_AGENT_EXE);
    agent.WriteIni(test::AgentIniFor(sim));  // poll_seconds=60, the shortest interval the agent keeps
    auto& headless = agent.StartHeadless();
    const auto deadline = std::chrono::steady_clock::now() + TwoIntervals;
    const auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                     std::chrono::steady_clock::now());
    };
    ASSERT_TRUE(agent.WaitForLog("[STEP] Sync.thread_leave", std::chrono::seconds(30))) << agent.Log();
    ASSERT_TRUE(JsonArray(sim.Utm().State(), "documents").Empty());

    sim.Utm().Post("/sim/docs", R"({"count":2})");
    sim.Server().Post("/sim/outbox", R"({"count":1})");
    sim.Server().Post("/sim/sync-now", "{}");

    EXPECT_TRUE(
        test::WaitUntil([&] { return JsonArray(sim.Utm().State(), "documents").Empty(); }, TwoIntervals))
        << "documents added after the first cycle were not moved by a later one";
    EXPECT_EQ(JsonArray(sim.Server().State(), "inbox").Size(), 3u);

    // The command timer asks the server on the same interval; a "sync_now" answer starts a cycle.
    const bool served =
        test::WaitUntil([&] { return JsonInt(sim.Server().State(), "sync_now_served") == 1; }, left());
    EXPECT_TRUE(served) << "the agent never asked the server whether to sync now";
    if (served) {
        EXPECT_TRUE(agent.WaitForLog("[INFO] Sync requested from server", std::chrono::seconds(10)));
    }
    EXPECT_FALSE(headless.Wait(std::chrono::milliseconds(0))) << "the headless agent ended";
    EXPECT_EQ(agent.StopHeadless(), 0);
}

}  // namespace
}  // namespace egaiss
