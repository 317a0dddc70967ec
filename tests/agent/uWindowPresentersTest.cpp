// The main, settings and queue windows' rules without a display.
#include <gtest/gtest.h>

#include "agent/uMainPresenter.h"
#include "agent/uPortableLoop.h"
#include "agent/uQueuePresenter.h"
#include "agent/uSetupPresenter.h"
#include "platform/uPath.h"
#include "support/uFakeAgentServices.h"
#include "support/uFakePrompts.h"
#include "support/uLoopProbe.h"
#include "support/uScopedEnv.h"
#include "support/uScriptedHttpPeer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;

struct TMainRecorder : TMainView {
    void ShowStatus(const TMainStatusTexts& texts) override { Status = texts; }
    void ShowLogTail(const std::string& tail) override { Log = tail; }
    void ShowWindow() override { Shown = true; }
    void HideWindow() override { Shown = false; }
    bool IsWindowShown() const override { return Shown; }
    void CloseForExit() override { Closed = true; }
    bool EditConfig(TEgaissConfig&) override { return false; }
    void ShowQueue(const TEgaissConfig&) override {}
    void ShowBootstrap(const TEgaissConfig&, const TSyncPauser&) override {}
    bool EditScales(int, TScalesConfig&) override { return false; }
    TMainStatusTexts Status;
    std::string Log;
    bool Shown = false;
    bool Closed = false;
};

TEST(MainPresenterTest, AFailedSyncSetsTheRedMarkClosingHidesAndOnlyExitEnds) {
    const test::TTempDataDir data;
    TPortableLoop loop;
    TMainRecorder view;
    test::TFakePrompts prompts;
    test::TFakeServices services;
    services.Cfg = test::CompleteConfig();
    services.Outcome = {false, "UTM unavailable: http://127.0.0.1:8080"};
    TMainPresenter presenter(loop, view, prompts, services.All());
    int exits = 0;
    presenter.OnExitRequested([&] { ++exits; });
    presenter.Start();
    ASSERT_TRUE(loop.RunUntil([&] { return view.Status.Alert; }, 5s));
    EXPECT_EQ(view.Status.Caption, "Status: UTM unavailable: http://127.0.0.1:8080");
    EXPECT_FALSE(view.Shown) << "a configured agent starts in the tray";

    presenter.ShowMainWindow();
    EXPECT_NE(view.Log.find("Agent started v"), std::string::npos);
    EXPECT_FALSE(presenter.CloseRequested());
    EXPECT_FALSE(view.Shown);
    EXPECT_EQ(exits, 0);
    presenter.ExitClicked();
    EXPECT_TRUE(view.Closed);
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(presenter.CloseRequested());
    EXPECT_TRUE(presenter.Agent().WaitForJobs(5s));
}

struct TSetupRecorder : TSetupView {
    void ShowDraft(const TConfigDraft& draft) override { Shown = draft; }
    void ShowConfigText(const std::string& text) override { Shown.Text = text; }
    void Close() override { Closed = true; }
    void OpenPreparation(const TEgaissConfig& cfg) override { Preparation = cfg; }
    TConfigDraft Shown;
    bool Closed = false;
    TEgaissConfig Preparation;
};

// A scales-only agent gets its EGAIS settings pasted: the scale lines of the file survive the save,
// and an address that is no web address is refused by the rule `config --set` applies.
TEST(SetupPresenterTest, APastedBlockKeepsTheScalesAndABadAddressIsRefusedByName) {
    const test::TTempDir home;
    const test::TScopedEnv autostartHome("XDG_CONFIG_HOME", home.Path());
    const test::TTempDataDir data;
    const std::string ini = JoinPath(data.Path(), "agent.ini");
    test::WriteFileText(ini, "massa_enabled=1\r\nmassa_dir=/srv/vesi\r\n");
    TSetupRecorder view;
    test::TFakePrompts prompts;
    TSetupPresenter presenter(view, prompts);
    presenter.Open();
    EXPECT_TRUE(presenter.Texts().FirstRun);
    EXPECT_EQ(presenter.Texts().Cancel, setup_texts::ScalesOnly);

    prompts.Clipboard = "server_url=my velmora shop\nagent_id=A1\nagent_secret=s3\n";
    presenter.PasteClicked();
    presenter.SaveClicked(view.Shown);
    EXPECT_EQ(prompts.Messages,
              std::vector<std::string>{
                  "server_url: expected an http:// or https:// address, got 'my velmora shop'"});
    EXPECT_FALSE(view.Closed);
    presenter.BootstrapClicked(view.Shown);
    EXPECT_EQ(view.Preparation.AgentID, "A1") << "the preparation window takes the settings unsaved";

    prompts.Clipboard = "server_url=https://velmora.example\nagent_id=A1\nagent_secret=s3\nmassa_dir=/new\n";
    presenter.PasteClicked();
    presenter.SaveClicked(view.Shown);
    EXPECT_TRUE(view.Closed);
    EXPECT_TRUE(presenter.Saved());
    EXPECT_EQ(presenter.Config().AgentID, "A1");
    EXPECT_EQ(test::ReadFileText(ini),
              "\xEF\xBB\xBFserver_url=https://velmora.example\r\nagent_id=A1\r\nagent_secret=s3\r\n"
              "massa_dir=/new\r\nmassa_enabled=1\r\nautostart=0\r\n");
}

struct TQueueRecorder : TQueueView {
    void ShowSummary(const std::string& text) override { Summaries.push_back(text); }
    void ShowRows(const std::vector<TQueueRow>& rows) override { Rows = rows; }
    void ShowBusy(bool busy) override { Busy = busy; }
    std::vector<std::string> Summaries;
    std::vector<TQueueRow> Rows;
    bool Busy = false;
};

TEST(QueuePresenterTest, AStalledServerNeitherHoldsTheLoopNorTheClosingWindow) {
    test::TScriptedHttpPeer stalled([](const test::TPeerRequest&) {
        test::TPeerAnswer answer = test::PeerReply("200 OK", R"({"items":[]})");
        answer.Steps.insert(answer.Steps.begin(), test::TPeerStep{"", 1500ms});
        return answer;
    });
    TEgaissConfig cfg;
    cfg.ServerURL = stalled.BaseURL();
    cfg.AgentID = "agent-1";
    cfg.AgentSecret = "secret";
    TPortableLoop loop;
    TQueueRecorder view;
    test::TFakePrompts prompts;
    auto presenter = std::make_unique<TQueuePresenter>(loop, view, prompts, cfg);
    test::TLoopProbe probe(loop);
    probe.Start();
    presenter->RefreshClicked();
    EXPECT_TRUE(view.Busy);
    presenter->ClearAllClicked();
    EXPECT_TRUE(prompts.Questions.empty()) << "no second request while one runs";
    loop.RunUntil([] { return false; }, 300ms);
    EXPECT_LT(probe.LongestWait(), test::LoopWaitBound);
    EXPECT_GT(probe.Ran(), 5);

    const auto closing = std::chrono::steady_clock::now();
    presenter.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, test::LoopWaitBound);
    loop.RunUntil([] { return false; }, 1500ms);  // the late answer is dropped
    probe.Stop();
    EXPECT_TRUE(view.Summaries.empty());
    EXPECT_EQ(stalled.ConnectionCount(), 1u);
}

}  // namespace
}  // namespace egaiss
