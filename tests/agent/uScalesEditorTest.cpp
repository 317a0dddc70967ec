// The scales dialog's rules without a display: controls into settings, scales added by text and
// merged from a search, "load now" off the loop.
#include <gtest/gtest.h>

#include <thread>

#include "agent/uPortableLoop.h"
#include "agent/uScalesEditor.h"
#include "platform/uPath.h"
#include "support/uFakeMassaScale.h"
#include "support/uFakePrompts.h"
#include "support/uLoopProbe.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;

struct TListView : TScalesEditorView {
    void ShowValues(const TScalesFormValues& values, const std::string&) override { Values = values; }
    void ShowDir(const std::string& dir) override { Values.Dir = dir; }
    void ShowFile(const std::string& file) override { Values.File = file; }
    void ShowScales(const std::vector<TScaleEndpoint>& scales) override { Shown = scales; }
    void ShowSearching(bool, const std::string&) override {}
    void ShowSearchText(const std::string&) override {}
    void ShowStopping(const std::string&) override {}
    void ShowLoading(bool on) override { Loading = on; }
    void CloseSaved() override { Saved = true; }
    TScalesFormValues Values;
    std::vector<TScaleEndpoint> Shown;
    bool Loading = false;
    bool Saved = false;
};

class ScalesEditor : public ::testing::Test {
protected:
    std::unique_ptr<TScalesEditor> Editor(const TScalesConfig& cfg = {}, TMassaTimeouts timeouts = {}) {
        return std::make_unique<TScalesEditor>(FLoop, FView, FPrompts, sbMassaK, cfg, TMassaDiscoveryParams{},
                                               timeouts);
    }

    test::TTempDataDir FData;
    TPortableLoop FLoop;
    TListView FView;
    test::TFakePrompts FPrompts;
};

TEST_F(ScalesEditor, ControlsBecomeSettingsWithTheirDefaults) {
    TScalesConfig cfg;
    cfg.Brands[sbMassaK].Scales = {{"10.0.0.9", 0, "", true}};
    auto editor = Editor(cfg);
    editor->ControlsToConfig({true, "  ", "", "0"});
    EXPECT_EQ(editor->BrandConfig().VesiDir, DefaultVesiDir);
    EXPECT_EQ(editor->BrandConfig().ExpectFile, "massa_k*.csv");
    EXPECT_EQ(editor->BrandConfig().PollSeconds, 3);
    EXPECT_EQ(editor->BrandConfig().Scales[0].Port, 5001);
    editor->ControlsToConfig({false, "D:\\Export\\", " prices.csv ", "120"});  // limited only when loaded
    EXPECT_EQ(editor->BrandConfig().PollSeconds, 120);
    EXPECT_EQ(editor->BrandConfig().ExpectFile, "prices.csv");
    editor->ControlsToConfig({false, "", "", "x"});
    EXPECT_EQ(editor->BrandConfig().PollSeconds, 3);
}

TEST_F(ScalesEditor, AddedAndFoundScales) {
    auto editor = Editor();
    EXPECT_FALSE(editor->AddScale(" :5001"));
    EXPECT_TRUE(editor->AddScale("10.0.0.5"));
    EXPECT_TRUE(editor->AddScale("10.0.0.5:5001:off"));
    FPrompts.Inputs.push_back("Scale-A:0");
    editor->AddClicked();
    EXPECT_EQ(FPrompts.Asked.back(), "192.168.0.1:5001") << "the prompt's preset";
    EXPECT_EQ(FView.Shown,
              (std::vector<TScaleEndpoint>{
                  {"10.0.0.5", 5001, "", true}, {"10.0.0.5", 5001, "", false}, {"Scale-A", 5001, "", true}}));

    // Hosts match ignoring case; a known scale only gets a serial it lacks.
    editor->MergeFoundDevices({{"scale-a", 6000, "77"}, {"10.0.0.6", 6000, "88"}, {"SCALE-A", 6000, "99"}});
    editor->RemoveScale(1);
    editor->RemoveScale(7);
    EXPECT_EQ(FView.Shown, (std::vector<TScaleEndpoint>{{"10.0.0.5", 5001, "", true},
                                                        {"Scale-A", 5001, "77", true},
                                                        {"10.0.0.6", 6000, "88", true}}));
}

TEST_F(ScalesEditor, AChosenFileIsExpectedByItsNameInItsFolder) {
    auto editor = Editor();
    FPrompts.Files.push_back(JoinPath(JoinPath(FData.Path(), "export"), "prices_1.csv"));
    editor->BrowseFileClicked(FData.Path(), "massa_k*.csv");
    EXPECT_EQ(FView.Values.File, "prices_1.csv");
    EXPECT_EQ(FView.Values.Dir, JoinPath(JoinPath(FData.Path(), "export"), ""));
    editor->BrowseFileClicked(FData.Path(), "x.csv");  // cancelled
    EXPECT_EQ(FView.Values.File, "prices_1.csv");
}

TEST_F(ScalesEditor, LoadNowAgainstAStalledScaleKeepsTheLoopServingAndClosingDoesNotWait) {
    test::TFakeMassaTcpScale stalled([](const TBytes&, std::size_t) { return test::TFakeReply{}; });
    TScalesConfig cfg;
    cfg.Brands[sbMassaK].Scales = {{"127.0.0.1", stalled.Port(), "", true}};
    test::WriteFileText(JoinPath(FData.Path(), "massa_k_1.csv"),
                        "PLU;NAME;PRICE;CODE;CONTENT;TYPE\r\n101;Сыр;99,90;C1;;0\r\n");
    auto editor = Editor(cfg, {1000, 400, 400});
    test::TLoopProbe probe(FLoop);
    probe.Start();
    editor->LoadNowClicked({true, FData.Path(), "massa_k*.csv", "3"});
    EXPECT_TRUE(FView.Loading);
    editor->LoadNowClicked({true, FData.Path(), "massa_k*.csv", "3"});  // no second load meanwhile
    ASSERT_TRUE(FLoop.RunUntil([&] { return !FView.Loading; }, 5s));
    EXPECT_LT(probe.LongestWait(), test::LoopWaitBound);
    EXPECT_GT(probe.Ran(), 5);
    ASSERT_EQ(FPrompts.Messages.size(), 1u);
    EXPECT_EQ(FPrompts.Kinds[0], TMessageKind::mkWarning) << FPrompts.Messages[0];
    EXPECT_EQ(stalled.Connections(), 1u);

    // Closed while a load waits for the scale: the dialog goes at once, the late result is dropped.
    test::WriteFileText(JoinPath(FData.Path(), "massa_k_2.csv"),
                        "PLU;NAME;PRICE;CODE;CONTENT;TYPE\r\n102;Хлеб;30,00;C2;;0\r\n");
    editor->LoadNowClicked({true, FData.Path(), "massa_k*.csv", "3"});
    const auto closing = std::chrono::steady_clock::now();
    editor.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, test::LoopWaitBound);
    EXPECT_TRUE(FLoop.RunUntil([&] { return stalled.Connections() == 2; }, 5s)) << "the load went on";
    probe.Stop();
    std::this_thread::sleep_for(1500ms);  // the load gives up on the scale meanwhile
    FLoop.RunDue();
    EXPECT_EQ(FPrompts.Messages.size(), 1u);
}

}  // namespace
}  // namespace egaiss
