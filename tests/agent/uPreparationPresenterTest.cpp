// The preparation window's rules without a display, against a server that stalls: the checks and
// the installs run off the loop, a failed refresh keeps the rows the cache gave, and closing during
// an install asks first and then waits for nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "agent/uPortableLoop.h"
#include "agent/uPreparationPresenter.h"
#include "support/uFakePrompts.h"
#include "support/uLoopProbe.h"
#include "support/uScriptedHttpPeer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

struct TRecordingView : TPreparationView {
    void ShowRows(const std::vector<TPreparationRow>& rows) override { Rows = rows; }
    void ShowRow(int row, const TPreparationRow& cells) override {
        Rows.at(static_cast<std::size_t>(row)) = cells;
    }
    void SelectRow(int row) override { Selected = row; }
    void ShowProgress(const TPreparationProgress& progress) override {
        if (progress.CaptionShown && !progress.Caption.empty() &&
            (Captions.empty() || Captions.back() != progress.Caption))
            Captions.push_back(progress.Caption);
    }
    void ShowManifestText(const std::string& text) override { ManifestText = text; }
    void ShowEnabled(const TPreparationButtons& enabled) override { Enabled = enabled; }
    void ShowBusy(bool busy) override { Busy = busy; }
    void CloseWindow() override { Closed = true; }

    std::vector<TPreparationRow> Rows;
    int Selected = -1;
    std::vector<std::string> Captions;
    std::string ManifestText;
    TPreparationButtons Enabled;
    bool Busy = false;
    bool Closed = false;
};

constexpr TPreparationButtons OnlyClose{false, false, false, true, false, false};

class PreparationPresenter : public ::testing::Test {
protected:
    PreparationPresenter()
        : FServer(std::make_unique<test::TScriptedHttpPeer>([this](const test::TPeerRequest&) {
              // Stalls, then drops the connection without an answer.
              return test::TPeerAnswer{{{"", std::chrono::milliseconds(FStallMs.load())}}, true};
          })) {
        FCfg.ServerURL = FServer->BaseURL() + "/api/";
    }

    // Alpha fails its check and installs from the stalling server; Beta passes.
    void CacheManifest() const {
        test::WriteFileText(TBootstrapManifest::CacheFilePath(),
                            R"({"components":[{"id":"alpha","title":"Alpha","install":{"url":")" +
                                FServer->BaseURL() + R"(/download/a.exe","file":"a.exe"}},"junk",)" +
                                R"({"id":"beta","title":"Beta"}]})");
    }

    std::unique_ptr<TPreparationPresenter> Open() {
        TInstallOptions options;
        options.RunCheck = [](const TJsonValue& component, const TEgaissConfig&) {
            return GetJsonString(component, "id") == "beta" ? TEnvCheckResult::Ok("installed")
                                                            : TEnvCheckResult::Fail("missing");
        };
        auto presenter = std::make_unique<TPreparationPresenter>(
            FLoop, FView, FPrompts, FCfg, [this](bool paused) { FPaused.push_back(paused); },
            std::move(options));
        presenter->Open();
        presenter->Shown();
        EXPECT_TRUE(FLoop.RunUntil([&] { return !presenter->Busy(); }, 5s));
        return presenter;
    }

    // Runs the loop until the server has had `count` requests and `extra` more, measuring it.
    void ServeWhileStalled(std::size_t count, std::chrono::milliseconds extra = 300ms) {
        test::TLoopProbe probe(FLoop);
        probe.Start();
        const bool asked = FLoop.RunUntil([&] { return FServer->Requests().size() == count; }, 5s);
        FLoop.RunUntil([] { return false; }, extra);
        probe.Stop();
        FLoop.RunDue();  // the last probe, which posts no other
        ASSERT_TRUE(asked);
        EXPECT_LT(probe.LongestWait(), test::LoopWaitBound);
        EXPECT_GT(probe.Ran(), 5);
    }

    // A closed window leaves its worker to end on its own: it does once the server has gone and it
    // has logged `lastLine`.
    void EndStalledWorker(const std::string& lastLine) {
        FServer.reset();
        const auto deadline = TClock::now() + 5s;
        while (test::ReadFileText(FData.File("agent.log")).find(lastLine) == std::string::npos &&
               TClock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        FLoop.RunDue();
    }

    test::TTempDataDir FData;
    std::atomic<int> FStallMs{30000};
    std::unique_ptr<test::TScriptedHttpPeer> FServer;
    TEgaissConfig FCfg;
    TPortableLoop FLoop;
    TRecordingView FView;
    test::TFakePrompts FPrompts;
    std::vector<bool> FPaused;
};

TEST_F(PreparationPresenter, RefreshAgainstAStalledServerKeepsTheLoopServingAndTheCachedRows) {
    CacheManifest();
    auto presenter = Open();
    EXPECT_TRUE(FServer->Requests().empty()) << "the first run reads the cache";
    EXPECT_EQ(FView.ManifestText, "Manifest: cache:" + TBootstrapManifest::CacheFilePath());
    EXPECT_EQ(FView.Captions,
              (std::vector<std::string>{"Loading manifest...", "Check: Alpha  (1/3)", "Check: Beta  (2/3)"}));
    const std::vector<TPreparationRow> cached{{"1", "Failed", "Alpha", "missing", false},
                                              {"3", "", "Beta", "installed", true}};
    EXPECT_EQ(FView.Rows, cached);
    EXPECT_EQ(FView.Selected, 0);
    EXPECT_EQ(FView.Enabled, (TPreparationButtons{true, true, true, true, true, true}));

    FStallMs = 600;
    presenter->RefreshClicked();
    EXPECT_EQ(FView.Enabled, OnlyClose);
    EXPECT_TRUE(FView.Busy);
    ServeWhileStalled(1);
    ASSERT_TRUE(FLoop.RunUntil([&] { return !presenter->Busy(); }, 5s));
    ASSERT_EQ(FPrompts.Messages.size(), 1u);
    EXPECT_EQ(FPrompts.Kinds[0], TMessageKind::mkError);
    EXPECT_EQ(FView.Rows, cached);
    EXPECT_EQ(presenter->Rows().size(), 2u);
    EXPECT_FALSE(FView.Busy);
    EXPECT_TRUE(FView.Enabled.InstallAll);

    // Closed while the server stalls: no question, no wait, and the late failure shows nowhere.
    FStallMs = 30000;
    presenter->RefreshClicked();
    ASSERT_TRUE(FLoop.RunUntil([&] { return FServer->Requests().size() == 2; }, 5s));
    presenter->CloseClicked();
    EXPECT_TRUE(FView.Closed);
    const auto closing = TClock::now();
    presenter.reset();
    EXPECT_LT(TClock::now() - closing, test::LoopWaitBound);
    EXPECT_EQ(FPaused, (std::vector<bool>{true, false}));
    EndStalledWorker("[Bootstrap] Checks failed: ");
    EXPECT_TRUE(FPrompts.Questions.empty());
    EXPECT_EQ(FPrompts.Messages.size(), 1u);
}

TEST_F(PreparationPresenter, InstallingOneRunsOffTheLoop) {
    CacheManifest();
    auto presenter = Open();
    FStallMs = 500;
    FPrompts.Answers = {true};
    presenter->InstallClicked(false);
    EXPECT_EQ(FPrompts.Questions.at(0),
              "Download and install \"Alpha\"?\r\nAdministrator rights may be required.");
    EXPECT_EQ(FView.Enabled, OnlyClose);
    ServeWhileStalled(1, 100ms);
    ASSERT_TRUE(FLoop.RunUntil([&] { return !presenter->Busy(); }, 5s));
    ASSERT_EQ(FPrompts.Messages.size(), 1u) << "the dropped download";
    EXPECT_EQ(FPrompts.Kinds[0], TMessageKind::mkError);
    EXPECT_TRUE(FView.Enabled.Install);
}

TEST_F(PreparationPresenter, ClosingDuringInstallAllAsksAndThenWaitsForNothing) {
    CacheManifest();
    auto presenter = Open();
    FPrompts.Answers = {true};
    presenter->InstallAllClicked(true);
    EXPECT_TRUE(FPrompts.Questions.at(0).ends_with("\r\n\r\nMode: silent install."));
    ASSERT_TRUE(FLoop.RunUntil([&] { return FServer->Requests().size() == 1; }, 5s));
    FLoop.RunDue();  // the steps posted before the download began
    EXPECT_EQ(FView.Rows[0].Status, "Running...");
    EXPECT_EQ(FView.Captions.back(), "Download: Alpha  (1/1)");
    EXPECT_EQ(FView.Enabled, OnlyClose);

    const std::string question = "Install is running. Cancel?\r\nCurrent installer window will stay open.";
    presenter->CloseClicked();  // No
    EXPECT_EQ(FPrompts.Questions.back(), question);
    EXPECT_FALSE(FView.Closed);
    EXPECT_TRUE(presenter->Busy());

    FPrompts.Answers = {true};
    presenter->CloseClicked();
    EXPECT_EQ(FPrompts.Questions.size(), 3u);
    EXPECT_TRUE(FView.Closed);
    const auto closing = TClock::now();
    presenter.reset();
    EXPECT_LT(TClock::now() - closing, test::LoopWaitBound) << "the download is not waited for";
    EndStalledWorker("[Bootstrap] Install all step failed: ");
    EXPECT_TRUE(FPrompts.Messages.empty());
}

}  // namespace
}  // namespace egaiss
