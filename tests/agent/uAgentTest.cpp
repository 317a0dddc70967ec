#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "agent/uAgent.h"
#include "agent/uJobTracker.h"
#include "agent/uPortableLoop.h"
#include "core/uEgaissLog.h"
#include "core/uVersion.h"
#include "support/uFakeAgentServices.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;
using test::CompleteConfig;
using test::TFakeServices;
using test::TGate;

// A clock that moves only when the test moves it, so that timers tick exactly when told.
struct TManualClock {
    TPortableLoop::TTimePoint Now = std::chrono::steady_clock::now();
    TPortableLoop::TClock Clock() {
        return [this] { return Now; };
    }
};

// Massa-K active with one scale, looking every `pollSeconds`.
TScalesConfig ActiveScales(int pollSeconds) {
    TScalesConfig cfg;
    cfg.MacAddr = "001122334455";
    cfg.Brands[sbMassaK].Enabled = true;
    cfg.Brands[sbMassaK].PollSeconds = pollSeconds;
    cfg.Brands[sbMassaK].Scales = {{"127.0.0.2", 5001, "", true}};
    return cfg;
}

class AgentTest : public ::testing::Test {
protected:
    // Job threads use the fake services: they must have ended before the fixture goes.
    void TearDown() override {
        FGate.Open();
        if (FAgent) {
            FAgent->SetSyncPaused(true);
            EXPECT_TRUE(FAgent->WaitForJobs(std::chrono::seconds(10)));
            FAgent.reset();
        }
    }

    TAgent& MakeAgent() {
        FAgent = std::make_unique<TAgent>(FLoop, FServices.All(), nullptr, FOptions);
        return *FAgent;
    }

    // Runs the loop (job results included) until `done` holds; false after five seconds.
    bool RunUntil(const std::function<bool()>& done) { return FLoop.RunUntil(done, 5s); }
    // Moves the clock on in `step`s, running what falls due, `count` times.
    void Advance(std::chrono::milliseconds step, int count) {
        for (int i = 0; i < count; ++i) {
            FClock.Now += step;
            FLoop.RunDue();
        }
    }
    // Moves the clock on until `done` holds; false after five seconds of real time.
    bool AdvanceUntil(std::chrono::milliseconds step, const std::function<bool()>& done) {
        return FLoop.RunUntil(
            [&] {
                FClock.Now += step;
                return done();
            },
            5s);
    }

    TManualClock FClock;
    TPortableLoop FLoop{FClock.Clock()};
    test::TTempDataDir FData;
    TGate FGate;
    TFakeServices FServices;
    TAgentOptions FOptions{1, {}};  // a "second" of 1 ms keeps the timers short
    std::unique_ptr<TAgent> FAgent;

    std::string Log() const { return ReadLogTail(1000); }
};

TEST_F(AgentTest, StartWithCompleteSettingsSyncsPingsAndArmsTimers) {
    FServices.Cfg = CompleteConfig(30);
    FOptions.MillisPerSecond = 1000;  // timers must not fire during this test
    TAgent& agent = MakeAgent();
    agent.Start();
    ASSERT_TRUE(RunUntil([&] { return !agent.SyncBusy() && !agent.DiagnosisBusy(); }));

    EXPECT_EQ(FServices.UpdateChecks, 1);
    EXPECT_EQ(FServices.Syncs, 1);
    EXPECT_EQ(FServices.Pings, 1);
    EXPECT_TRUE(agent.SyncTimer().IsActive());
    EXPECT_TRUE(agent.CommandTimer().IsActive());
    EXPECT_TRUE(agent.PingTimer().IsActive());
    EXPECT_EQ(agent.SyncTimer().Interval().count(), 300000) << "below 60 s becomes 300 s";
    EXPECT_EQ(agent.CommandTimer().Interval().count(), 300000);
    EXPECT_EQ(agent.PingTimer().Interval().count(), 300000);
    EXPECT_TRUE(agent.Status().StatusOK);
    EXPECT_EQ(agent.Status().StatusText, "Sync finished");

    const std::string log = Log();
    const std::string version = AgentVersion;
    for (const std::string& line :
         {"[INFO] Agent started v" + version, "[ENV] agent_version=" + version,
          std::string("[STEP] Startup.EnsureConfig"), std::string("[STEP] Startup.self_update"),
          std::string("[STEP] Startup.first_sync"), std::string("[STEP] Sync.thread_enter"),
          std::string("[STEP] Sync.thread_leave | True Sync finished"),
          std::string("[INFO] Diagnosis FSRAR_ID=030000123456")}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_LT(log.find("Startup.self_update"), log.find("Startup.first_sync"));
}

TEST_F(AgentTest, IncompleteSettingsRunScalesOnly) {
    TAgent& agent = MakeAgent();
    agent.Start();
    FLoop.RunDue();
    EXPECT_EQ(FServices.UpdateChecks, 0);
    EXPECT_EQ(FServices.Syncs, 0);
    EXPECT_FALSE(agent.SyncTimer().IsActive());
    EXPECT_FALSE(agent.PingTimer().IsActive());
    EXPECT_EQ(agent.Status().StatusText, "Scales only (EGAIS not configured)");
    EXPECT_EQ(StatusCaption(agent.Status()), "Status: Scales only (EGAIS not configured)");
    EXPECT_NE(Log().find("[INFO] EGAIS setup skipped (scales-only mode)"), std::string::npos);
}

TEST_F(AgentTest, SelfUpdateTakingOverEndsStartWithoutTimers) {
    FServices.Cfg = CompleteConfig();
    FServices.Scales = ActiveScales(3);
    FServices.UpdateTakesOver = true;
    TAgent& agent = MakeAgent();
    int exits = 0;
    agent.OnExitRequested([&] { ++exits; });
    agent.Start();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(FServices.Syncs, 0);
    EXPECT_FALSE(agent.SyncTimer().IsActive());
    EXPECT_FALSE(agent.ScalesTimer().IsActive());
}

TEST_F(AgentTest, NoSecondSyncOrCommandPollWhileASyncRuns) {
    FServices.Cfg = CompleteConfig(60);
    FServices.AskSync = true;
    FServices.SyncGate = &FGate;
    TAgent& agent = MakeAgent();
    agent.Start();  // timers tick every 60 ms from here on
    ASSERT_TRUE(RunUntil([&] { return FServices.Syncs == 1; }));
    Advance(60ms, 7);
    EXPECT_EQ(FServices.Syncs, 1);
    EXPECT_EQ(FServices.Polls, 0) << "the server is not even asked while a sync runs";
    EXPECT_TRUE(agent.SyncBusy());

    FGate.Open();
    ASSERT_TRUE(AdvanceUntil(60ms, [&] { return FServices.Syncs >= 3; })) << "the sync timer goes on";
}

TEST_F(AgentTest, CommandPollStartsASyncWhenTheServerAsks) {
    FServices.Cfg = CompleteConfig();
    FOptions.MillisPerSecond = 1000;
    TAgent& agent = MakeAgent();
    agent.Start();
    ASSERT_TRUE(RunUntil([&] { return !agent.SyncBusy(); }));
    agent.PollCommand();
    ASSERT_TRUE(RunUntil([&] { return !agent.CommandBusy(); }));
    EXPECT_EQ(FServices.Polls, 1);
    EXPECT_EQ(FServices.Syncs, 1) << "no sync unless asked";

    FServices.AskSync = true;
    agent.PollCommand();
    ASSERT_TRUE(RunUntil([&] { return FServices.Syncs == 2 && !agent.SyncBusy() && !agent.CommandBusy(); }));
    EXPECT_NE(Log().find("[INFO] Sync requested from server"), std::string::npos);
}

TEST_F(AgentTest, ASilentServerNeitherBlocksNorDoublesTheCommandPoll) {
    FServices.Cfg = CompleteConfig();
    FServices.AskSync = true;
    FOptions.MillisPerSecond = 1000;
    TAgent& agent = MakeAgent();
    agent.Start();
    ASSERT_TRUE(RunUntil([&] { return !agent.SyncBusy(); }));
    FServices.CommandGate = &FGate;
    agent.PollCommand();  // returns while the server keeps silent
    EXPECT_TRUE(agent.CommandBusy());
    agent.PollCommand();
    ASSERT_TRUE(RunUntil([&] { return FServices.Polls == 1; }));
    FGate.Open();
    ASSERT_TRUE(RunUntil([&] { return FServices.Syncs == 2 && !agent.CommandBusy(); }));
    EXPECT_EQ(FServices.Polls, 1);
}

TEST_F(AgentTest, PauseSeenByAStartingSyncThreadOnlyClearsBusy) {
    FServices.Cfg = CompleteConfig();
    std::vector<std::function<void()>> pending;
    FOptions.MillisPerSecond = 1000;
    FOptions.StartThread = [&](std::function<void()> body) { pending.push_back(std::move(body)); };
    TAgent& agent = MakeAgent();
    agent.Start();
    ASSERT_EQ(pending.size(), 2u);  // the first sync and the first ping, not started yet

    agent.SetSyncPaused(true);
    EXPECT_FALSE(agent.SyncTimer().IsActive());
    for (auto& body : pending)
        std::thread(body).join();
    ASSERT_TRUE(RunUntil([&] { return !agent.SyncBusy(); }));
    EXPECT_EQ(FServices.Syncs, 0);
    EXPECT_FALSE(agent.Status().LastSyncAt.has_value()) << "status and last-sync time stay as they were";
    EXPECT_TRUE(agent.Status().StatusText.empty());

    agent.SetSyncPaused(false);
    EXPECT_TRUE(agent.SyncTimer().IsActive());
}

TEST_F(AgentTest, FailedOrThrowingSyncStillSetsLastSyncTime) {
    FServices.Cfg = CompleteConfig();
    FServices.ThrowInSync = true;
    FOptions.MillisPerSecond = 1000;
    TAgent& agent = MakeAgent();
    agent.Start();
    ASSERT_TRUE(RunUntil([&] { return agent.Status().LastSyncAt.has_value(); }));
    EXPECT_FALSE(agent.SyncBusy());
    EXPECT_FALSE(agent.Status().StatusOK);
    EXPECT_EQ(agent.Status().StatusText, "boom");
    EXPECT_NE(Log().find("[EXC] Sync thread | std::runtime_error: boom"), std::string::npos);
    EXPECT_NE(LastSyncCaption(agent.Status()), "Last sync: -");
}

// A window whose redraw fails after the first sync.
class TFailingWindow : public TAgentWindow {
public:
    bool EditConfig(TEgaissConfig&) override { return false; }
    void StatusChanged() override {
        if (Reported.empty() && Redraws++ > 0) throw std::runtime_error("redraw failed");
    }
    void ShowMainWindow() override {}
    void HideToTray() override {}
    bool IsShown() const override { return false; }
    void RefreshLog() override {}
    void ReportEventException(const std::exception& error) override { Reported = error.what(); }

    int Redraws = 0;
    std::string Reported;
};

TEST_F(AgentTest, ACompletionStepThatRaisesReachesTheWindowAndAHugeIntervalIsCapped) {
    FServices.Cfg = CompleteConfig(100000000);
    FOptions.MillisPerSecond = 1000;
    TFailingWindow window;
    FAgent = std::make_unique<TAgent>(FLoop, FServices.All(), &window, FOptions);
    FAgent->Start();
    ASSERT_TRUE(RunUntil([&] { return !window.Reported.empty(); }));
    EXPECT_EQ(window.Reported, "redraw failed");
    EXPECT_EQ(FAgent->SyncTimer().Interval().count(), MaxPollSeconds * 1000);
}

TEST_F(AgentTest, ResumingWithIncompleteSettingsLeavesTimersOff) {
    TAgent& agent = MakeAgent();
    agent.Start();
    agent.SetSyncPaused(true);
    agent.SetSyncPaused(false);
    EXPECT_FALSE(agent.SyncTimer().IsActive());
}

TEST_F(AgentTest, AgentDestroyedWhileJobRunsDropsTheCompletion) {
    FServices.Cfg = CompleteConfig();
    FOptions.MillisPerSecond = 1000;
    FServices.SyncGate = &FGate;
    // Every job thread is joined before the fake services go with the fixture.
    std::vector<std::thread> workers;
    FOptions.StartThread = [&](std::function<void()> body) { workers.emplace_back(std::move(body)); };
    {
        TAgent agent(FLoop, FServices.All(), nullptr, FOptions);
        agent.Start();
        ASSERT_TRUE(RunUntil([&] { return FServices.Syncs == 1; }));
    }
    FGate.Open();
    for (std::thread& worker : workers)
        worker.join();
    FLoop.RunDue();  // nothing may run on the freed agent
}

TEST_F(AgentTest, ScalesPollRunsWhateverThePauseAndTheAgentSettings) {
    FServices.Scales = ActiveScales(2);
    FOptions.MillisPerSecond = 5;
    TAgent& agent = MakeAgent();
    agent.Start();  // scales-only: the agent settings are incomplete
    EXPECT_TRUE(agent.ScalesTimer().IsActive());
    EXPECT_EQ(agent.ScalesTimer().Interval().count(), 10);
    EXPECT_FALSE(agent.SyncTimer().IsActive());
    agent.SetSyncPaused(true);
    ASSERT_TRUE(AdvanceUntil(10ms, [&] { return FServices.ScalesPolls >= 3; }));
    EXPECT_EQ(FServices.Syncs, 0);
}

TEST_F(AgentTest, ScalesTimerFollowsTheActiveBrand) {
    FServices.Cfg = CompleteConfig();
    FServices.Scales = ActiveScales(3);
    FServices.Scales.Brands[sbMassaK].Enabled = false;
    FOptions.MillisPerSecond = 1000;
    TAgent& agent = MakeAgent();
    agent.Start();
    EXPECT_FALSE(agent.ScalesTimer().IsActive());
    agent.DoScalesPollAsync();
    EXPECT_FALSE(agent.ScalesBusy());
    EXPECT_EQ(FServices.ScalesPolls, 0);

    // The scales dialog saves the brand enabled: the timer starts at the brand's interval.
    FServices.Scales.Brands[sbMassaK].Enabled = true;
    agent.ScalesSettingsSaved(sbMassaK);
    EXPECT_TRUE(agent.ScalesTimer().IsActive());
    EXPECT_EQ(agent.ScalesTimer().Interval().count(), 3000);
    EXPECT_NE(Log().find("[INFO] Scales Масса-К saved; active=True"), std::string::npos);
    FServices.Scales.Brands[sbMassaK].Scales.clear();
    agent.ScalesSettingsSaved(sbMassaK);
    EXPECT_FALSE(agent.ScalesTimer().IsActive());
    EXPECT_NE(Log().find("[INFO] Scales Масса-К saved; active=False"), std::string::npos);
}

TEST_F(AgentTest, NoSecondScalesPollWhileOneRuns) {
    FServices.Scales = ActiveScales(1);
    FServices.PollGate = &FGate;
    FOptions.MillisPerSecond = 10;
    TAgent& agent = MakeAgent();
    agent.Start();
    ASSERT_TRUE(AdvanceUntil(10ms, [&] { return FServices.ScalesPolls == 1; }));
    Advance(10ms, 20);
    EXPECT_EQ(FServices.ScalesPolls, 1);
    EXPECT_TRUE(agent.ScalesBusy());

    FGate.Open();
    ASSERT_TRUE(AdvanceUntil(10ms, [&] { return FServices.ScalesPolls >= 3; })) << "the scales timer goes on";
}

TEST_F(AgentTest, ScalesPollLogsLoadsAndFailuresButNotIdlePolls) {
    FServices.Scales = ActiveScales(60);
    FOptions.MillisPerSecond = 1000;
    TAgent& agent = MakeAgent();
    agent.Start();
    const auto poll = [&] {
        agent.DoScalesPollAsync();
        EXPECT_TRUE(agent.ScalesBusy());
        EXPECT_TRUE(RunUntil([&] { return !agent.ScalesBusy(); }));
    };

    FServices.PollResult = {false, "No file to load (massa_k*.csv) in /vesi", ""};
    poll();
    EXPECT_EQ(Log().find("auto-poll"), std::string::npos);

    FServices.PollResult = {true, "Loaded 3 PLU -> 1 scale(s), file removed", "massa_k_1.csv"};
    FServices.PollLoads = true;
    poll();
    EXPECT_NE(Log().find("[INFO] Scales auto-poll OK: Loaded 3 PLU -> 1 scale(s), file removed"),
              std::string::npos);

    FServices.PollResult = {false, "127.0.0.3:5001 - Connect failed", "massa_k_2.csv"};
    FServices.PollLoads = false;
    poll();
    EXPECT_NE(Log().find("[ERR] Scales auto-poll: 127.0.0.3:5001 - Connect failed"), std::string::npos);

    FServices.ThrowInPoll = true;
    poll();
    EXPECT_NE(Log().find("[EXC] Scales poll | std::runtime_error: table overflow"), std::string::npos);
    EXPECT_EQ(FServices.ScalesPolls, 4);
}

TEST_F(AgentTest, ADetectedMacIsLoggedAndSavedOnce) {
    FServices.DetectedMac = "0A1B2C3D4E5F";
    FOptions.MillisPerSecond = 1000;
    MakeAgent().Start();
    EXPECT_EQ(FServices.ScalesSaves, 1);
    EXPECT_EQ(FServices.Scales.MacAddr, "0A1B2C3D4E5F");
    EXPECT_NE(Log().find("[INFO] Agent MAC=0A1B2C3D4E5F"), std::string::npos);

    FServices.DetectedMac = "FFFFFFFFFFFF";
    MakeAgent().Start();
    EXPECT_EQ(FServices.ScalesSaves, 1) << "settings that hold a MAC address are not saved again";
    EXPECT_EQ(FAgent->ScalesConfig().MacAddr, "0A1B2C3D4E5F");
}

TEST_F(AgentTest, NoMacMeansNoSaveAndNoMacLine) {
    FOptions.MillisPerSecond = 1000;
    MakeAgent().Start();
    EXPECT_EQ(FServices.ScalesSaves, 0);
    EXPECT_EQ(Log().find("Agent MAC="), std::string::npos);
}

TEST(JobTrackerTest, StepsForAGoneReceiverAreDropped) {
    TPortableLoop loop;
    int ran = 0;
    TJobTracker tracker(loop);
    tracker.Post([&] { ++ran; });
    tracker.Detach();  // the receiver goes: what it had queued does not run
    tracker.Post([&] { ++ran; });
    loop.RunDue();
    EXPECT_EQ(ran, 0);
}

TEST(PortableLoopTest, StepsFromOtherThreadsRunInOrderOnTheLoopAndQuitEndsTheRun) {
    TPortableLoop loop;
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            loop.Post([&order, i] { order.push_back(i); });
        loop.Post([&] {
            loop.Quit();
            loop.Post([&] { order.push_back(99); });  // after the quit: stays queued
        });
    });
    loop.Run();
    poster.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    loop.RunDue();
    EXPECT_EQ(order.back(), 99);
}

TEST(PortableLoopTest, TimersTickAtTheirIntervalAndStopRestartAndDestroyHold) {
    TManualClock clock;
    TPortableLoop loop(clock.Clock());
    int ticks = 0;
    auto timer = loop.CreateTimer([&] { ++ticks; });
    EXPECT_FALSE(timer->IsActive());
    timer->SetInterval(100ms);
    timer->Start();
    clock.Now += 99ms;
    loop.RunDue();
    EXPECT_EQ(ticks, 0);
    clock.Now += 1ms;
    loop.RunDue();
    EXPECT_EQ(ticks, 1);

    clock.Now += 50ms;
    timer->SetInterval(200ms);  // restarts: the next tick is 200 ms from now
    clock.Now += 150ms;
    loop.RunDue();
    EXPECT_EQ(ticks, 1);
    clock.Now += 50ms;
    loop.RunDue();
    EXPECT_EQ(ticks, 2);

    timer->Stop();
    clock.Now += 1s;
    loop.RunDue();
    EXPECT_EQ(ticks, 2);
    timer->Start();
    timer.reset();
    clock.Now += 1s;
    loop.RunDue();
    EXPECT_EQ(ticks, 2);
}

TEST(PortableLoopTest, TimersDueTogetherTickInTheOrderTheyWereStartedRoundAfterRound) {
    TManualClock clock;
    TPortableLoop loop(clock.Clock());
    std::string order;
    auto createdFirst = loop.CreateTimer([&] { order += 'a'; });
    auto createdSecond = loop.CreateTimer([&] { order += 'b'; });
    for (auto* timer : {createdSecond.get(), createdFirst.get()}) {
        timer->SetInterval(60s);
        timer->Start();
    }
    for (int round = 0; round < 2; ++round) {
        clock.Now += 60s;
        loop.RunDue();
    }
    // A loop that wakes late runs each timer once and keeps the order.
    clock.Now += 200s;
    loop.RunDue();
    EXPECT_EQ(order, "bababa");
}

TEST(PortableLoopTest, AnExceptionFromAStepGoesToTheHandlerAndTheLoopGoesOn) {
    TPortableLoop loop;
    std::string reported;
    loop.SetExceptionHandler([&](const std::exception& error) { reported = error.what(); });
    bool after = false;
    loop.Post([] { throw std::runtime_error("step failed"); });
    loop.Post([&] { after = true; });
    loop.RunDue();
    EXPECT_EQ(reported, "step failed");
    EXPECT_TRUE(after);
}

TEST(AgentStatusTest, TrayTitleAndHintStayAsciiAndShort) {
    EXPECT_EQ(TrayTitle("  Shop 7 "), "Velmora EGAIS - Shop 7");
    EXPECT_EQ(TrayTitle("Магазин"), "Velmora EGAIS");
    EXPECT_EQ(TrayTitle(""), "Velmora EGAIS");

    TAgentStatus status;
    EXPECT_EQ(TrayHint("T", status), "T - waiting");
    status.StatusText = "UTM недоступен";
    EXPECT_EQ(TrayHint("T", status), "T - UTM ??????????");
    status.StatusOK = true;
    EXPECT_EQ(TrayHint("T", status), "T - OK");

    status.StatusOK = false;
    status.StatusText = std::string(200, 'x');
    EXPECT_EQ(TrayHint("Velmora EGAIS", status), "Velmora EGAIS - " + std::string(77, 'x') + "...");
    const std::string longTitle(100, 't');
    const std::string hint = TrayHint(longTitle, status);
    EXPECT_EQ(hint.size(), 120u);
    EXPECT_EQ(hint.substr(117), "...");
    EXPECT_EQ(StatusCaption(status), "Status: " + std::string(200, 'x')) << "the menu is never cut";
}

TEST(AgentStatusTest, LastSyncCaptionUsesDayMonthYear) {
    TAgentStatus status;
    EXPECT_EQ(LastSyncCaption(status), "Last sync: -");
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 9;
    local.tm_hour = 7;
    local.tm_min = 5;
    local.tm_sec = 3;
    local.tm_isdst = -1;
    status.LastSyncAt = std::chrono::system_clock::from_time_t(std::mktime(&local));
    EXPECT_EQ(LastSyncCaption(status), "Last sync: 09.12.2026 07:05:03");
}

}  // namespace
}  // namespace egaiss
