// The scales dialog offscreen: the LAN search against simulated scales on a loopback subnet, stop
// and close during a search, "load now" and saving.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <climits>
#include <filesystem>
#include <memory>

#include "gui/uScalesForm.h"
#include "support/uSimScaleProcess.h"
#include "support/uTestDirs.h"
#include "uGuiTestSupport.h"

namespace egaiss {
namespace {

using test::Control;
using test::WaitFor;

constexpr std::uint32_t Lo(std::uint8_t last) {
    return 0x7F000000u | last;
}

class ScalesFormTest : public ::testing::Test {
protected:
    // Two scales on one port of 127.0.0.42 and .43; the search probes 127.0.0.40/29 only.
    void StartScales() {
        FFirst = std::make_unique<test::TSimScaleProcess>(EGAISS_SIM_EXE, FDir, "127.0.0.42", 0, "111");
        ASSERT_NE(FFirst->Port(), 0) << FFirst->Output();
        FSecond = std::make_unique<test::TSimScaleProcess>(EGAISS_SIM_EXE, FDir, "127.0.0.43", FFirst->Port(),
                                                           "222");
        ASSERT_NE(FSecond->Port(), 0) << FSecond->Output();
    }

    TMassaDiscoveryParams Search(int listenMs = 150) const {
        TMassaDiscoveryParams params;
        params.Port = FFirst ? FFirst->Port() : 9;
        params.TimeoutMs = listenMs;
        params.MinListenMs = listenMs;
        params.Subnets = std::vector<TLocalSubnet>{TLocalSubnet::Of(Lo(40), 0xFFFFFFF8)};
        params.LimitedBroadcast = Lo(47);
        params.LocalAddress = Lo(1);
        return params;
    }

    std::unique_ptr<TfrmScales> Dialog(const TScalesConfig& cfg, TMassaDiscoveryParams search) {
        auto dialog = std::make_unique<TfrmScales>(sbMassaK, cfg, std::move(search));
        dialog->show();
        return dialog;
    }

    static QString Cell(TfrmScales& dialog, int row, int column) {
        return Control<QTreeWidget>(dialog, "lvScales").topLevelItem(row)->text(column);
    }
    static QString SearchText(TfrmScales& dialog) { return Control<QLabel>(dialog, "lblSearch").text(); }
    static bool SearchEnded(TfrmScales& dialog) {
        return Control<QPushButton>(dialog, "btnFind").isEnabled();
    }

    test::TTempDataDir FDir;
    test::TTestPrompts FPrompts;
    std::unique_ptr<test::TSimScaleProcess> FFirst;
    std::unique_ptr<test::TSimScaleProcess> FSecond;
};

TEST_F(ScalesFormTest, SearchFillsTheSerialOfAKnownScaleAndAddsANewOneEnabled) {
    StartScales();
    TScalesConfig cfg;
    cfg.Brands[sbMassaK].Scales = {{"127.0.0.42", 5001, "", false}};
    auto dialog = Dialog(cfg, Search());
    Control<QPushButton>(*dialog, "btnFind").click();
    EXPECT_EQ(SearchText(*dialog), "Поиск Масса-К в сети...");
    EXPECT_TRUE(Control<QPushButton>(*dialog, "btnStopFind").isEnabled());
    ASSERT_TRUE(WaitFor([&] { return SearchEnded(*dialog); }));

    EXPECT_EQ(SearchText(*dialog), "Найдено: 2");
    ASSERT_EQ(Control<QTreeWidget>(*dialog, "lvScales").topLevelItemCount(), 2);
    // The known scale keeps its port and stays disabled; only its serial is new.
    EXPECT_EQ(Cell(*dialog, 0, 1), "5001");
    EXPECT_EQ(Cell(*dialog, 0, 2), "111");
    EXPECT_EQ(Cell(*dialog, 0, 3), "0");
    EXPECT_EQ(Cell(*dialog, 1, 0), "127.0.0.43");
    EXPECT_EQ(Cell(*dialog, 1, 1), QString::number(FFirst->Port()));
    EXPECT_EQ(Cell(*dialog, 1, 2), "222");
    EXPECT_EQ(Cell(*dialog, 1, 3), "1");
}

TEST_F(ScalesFormTest, StopAndClosingEndTheSearchKeepingWhatItFound) {
    StartScales();
    auto dialog = Dialog({}, Search(INT_MAX / 2));
    Control<QPushButton>(*dialog, "btnFind").click();
    ASSERT_TRUE(WaitFor([&] { return SearchText(*dialog) == "Поиск: listen  (найдено: 2)"; }))
        << SearchText(*dialog).toStdString();

    // Closing is refused while the search runs, and stops it.
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(SearchText(*dialog), "Остановка поиска...");
    ASSERT_TRUE(WaitFor([&] { return SearchEnded(*dialog); }));
    EXPECT_EQ(SearchText(*dialog), "Поиск прерван. Найдено: 2");
    EXPECT_EQ(Control<QTreeWidget>(*dialog, "lvScales").topLevelItemCount(), 2);

    Control<QPushButton>(*dialog, "btnFind").click();
    ASSERT_TRUE(WaitFor([&] { return SearchText(*dialog).startsWith("Поиск: listen"); }));
    Control<QPushButton>(*dialog, "btnStopFind").click();
    EXPECT_EQ(SearchText(*dialog), "Остановка...");
    EXPECT_FALSE(Control<QPushButton>(*dialog, "btnStopFind").isEnabled());
    ASSERT_TRUE(WaitFor([&] { return SearchEnded(*dialog); }));
    EXPECT_EQ(SearchText(*dialog), "Поиск прерван. Найдено: 2");
    EXPECT_EQ(Control<QTreeWidget>(*dialog, "lvScales").topLevelItemCount(), 2);  // merged, not doubled

    EXPECT_TRUE(dialog->close());
}

TEST_F(ScalesFormTest, LoadNowUsesTheSettingsOnScreen) {
    StartScales();
    auto dialog = Dialog({}, Search());
    Control<QLineEdit>(*dialog, "edtDir").setText(QString::fromStdString(FDir.Path()));
    Control<QPushButton>(*dialog, "btnLoadNow").click();
    ASSERT_TRUE(WaitFor([&] { return FPrompts.Messages.size() == 1; }));
    EXPECT_EQ(FPrompts.MessageKinds[0], TMessageKind::mkWarning);
    EXPECT_EQ(FPrompts.Messages[0], "Add or find scales on the network.");

    FPrompts.Input = "127.0.0.42:" + QString::number(FFirst->Port());
    Control<QPushButton>(*dialog, "btnAdd").click();
    test::WriteFileText(FDir.File("massa_k_1.csv"),
                        "PLU;NAME;PRICE;CODE;CONTENT;TYPE\r\n101;Сыр;99,90;C1;;0\r\n");
    Control<QPushButton>(*dialog, "btnLoadNow").click();
    EXPECT_FALSE(Control<QPushButton>(*dialog, "btnLoadNow").isEnabled()) << "the load runs off the window";
    ASSERT_TRUE(WaitFor([&] { return FPrompts.Messages.size() == 2; }));
    EXPECT_TRUE(Control<QPushButton>(*dialog, "btnLoadNow").isEnabled());
    EXPECT_EQ(FPrompts.MessageKinds[1], TMessageKind::mkInformation) << FPrompts.Messages[1].toStdString();
    EXPECT_FALSE(FFirst->Plu().empty());
    EXPECT_FALSE(std::filesystem::exists(FDir.File("massa_k_1.csv")));
}

TEST_F(ScalesFormTest, SavingNeedsAnExpectedFileOnlyWhenEnabled) {
    auto dialog = Dialog({}, Search());
    Control<QLineEdit>(*dialog, "edtFile").setText("  ");
    Control<QLineEdit>(*dialog, "edtDir").setText("");
    Control<QLineEdit>(*dialog, "edtPoll").setText("x");
    Control<QCheckBox>(*dialog, "chkEnabled").setChecked(true);
    Control<QPushButton>(*dialog, "btnSave").click();
    ASSERT_EQ(FPrompts.Messages.size(), 1);
    EXPECT_EQ(FPrompts.Messages[0], "Укажите ожидаемое имя файла.");
    EXPECT_TRUE(dialog->isVisible());

    Control<QCheckBox>(*dialog, "chkEnabled").setChecked(false);
    Control<QPushButton>(*dialog, "btnSave").click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    const TScaleBrandConfig saved = LoadScalesConfig().Brands[sbMassaK];
    EXPECT_EQ(saved.ExpectFile, "massa_k*.csv");
    EXPECT_EQ(saved.VesiDir, DefaultVesiDir);
    EXPECT_EQ(saved.PollSeconds, 3);
}

}  // namespace
}  // namespace egaiss
