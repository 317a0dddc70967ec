// The scales dialog's logic without a display: controls into settings, scales added by text and
// merged from a search.
#include <gtest/gtest.h>

#include "agent/uPortableLoop.h"
#include "agent/uScalesEditor.h"

namespace egaiss {
namespace {

struct TListView : TScalesEditorView {
    void ShowScales(const std::vector<TScaleEndpoint>& scales) override { Shown = scales; }
    void ShowSearching(bool, const std::string&) override {}
    void ShowSearchText(const std::string&) override {}
    std::vector<TScaleEndpoint> Shown;
};

TEST(ScalesEditor, ControlsBecomeSettingsWithTheirDefaults) {
    TListView view;
    TScalesConfig cfg;
    cfg.Brands[sbMassaK].Scales = {{"10.0.0.9", 0, "", true}};
    TPortableLoop loop;
    TScalesEditor editor(loop, view, sbMassaK, cfg, {});
    editor.ControlsToConfig({true, "  ", "", "0"});
    EXPECT_EQ(editor.BrandConfig().VesiDir, DefaultVesiDir);
    EXPECT_EQ(editor.BrandConfig().ExpectFile, "massa_k*.csv");
    EXPECT_EQ(editor.BrandConfig().PollSeconds, 3);
    EXPECT_EQ(editor.BrandConfig().Scales[0].Port, 5001);
    editor.ControlsToConfig({false, "D:\\Export\\", " prices.csv ", "120"});  // limited only when loaded
    EXPECT_EQ(editor.BrandConfig().PollSeconds, 120);
    EXPECT_EQ(editor.BrandConfig().ExpectFile, "prices.csv");
    editor.ControlsToConfig({false, "", "", "x"});
    EXPECT_EQ(editor.BrandConfig().PollSeconds, 3);
}

TEST(ScalesEditor, AddedAndFoundScales) {
    TListView view;
    TPortableLoop loop;
    TScalesEditor editor(loop, view, sbMassaK, {}, {});
    EXPECT_FALSE(editor.AddScale(" :5001"));
    EXPECT_TRUE(editor.AddScale("10.0.0.5"));
    EXPECT_TRUE(editor.AddScale("10.0.0.5:5001:off"));
    EXPECT_TRUE(editor.AddScale("Scale-A:0"));
    EXPECT_EQ(view.Shown,
              (std::vector<TScaleEndpoint>{
                  {"10.0.0.5", 5001, "", true}, {"10.0.0.5", 5001, "", false}, {"Scale-A", 5001, "", true}}));

    // Hosts match ignoring case; a known scale only gets a serial it lacks.
    editor.MergeFoundDevices({{"scale-a", 6000, "77"}, {"10.0.0.6", 6000, "88"}, {"SCALE-A", 6000, "99"}});
    editor.RemoveScale(1);
    editor.RemoveScale(7);
    EXPECT_EQ(view.Shown, (std::vector<TScaleEndpoint>{{"10.0.0.5", 5001, "", true},
                                                       {"Scale-A", 5001, "77", true},
                                                       {"10.0.0.6", 6000, "88", true}}));
}

}  // namespace
}  // namespace egaiss
