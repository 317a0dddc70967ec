#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "clients/uVelmoraApi.h"
#include "gui/uQueueForm.h"
#include "support/uSimProcess.h"
#include "support/uTestDirs.h"
#include "uGuiTestSupport.h"

namespace egaiss {
namespace {

using test::Control;
using test::JsonArray;
using test::WaitFor;

constexpr const char* LongId = "0f8e2c1a-77b4-4c1e-9d1a-5b2f3e4d5c6b";

class QueueFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto add = [&](const std::string& id, const std::string& type) {
            FSim.Server().Post("/sim/outbox", "{\"doc_id\":\"" + id + "\",\"doc_type\":\"" + type + "\"}");
        };
        add(LongId, "WayBill_v4");
        add("abc12", "WayBillAct_v4");
        add("sent-1", "WayBill_v4");
        add("err-1", "ActChargeOn_v2");
        FCfg.ServerURL = FSim.ServerURL();
        FCfg.AgentID = "agent-1";
        FCfg.AgentSecret = "secret";
        TVelmoraApi api(FCfg);
        api.MarkSent("sent-1", "http://127.0.0.1/opt/in/1", "<ok/>");
        api.MarkError("err-1", "Нет связи");
    }

    static QString Summary(QDialog& dialog) { return Control<QLabel>(dialog, "lblSummary").text(); }

    // Waits for the summary to change from `before`, as a finished request changes it.
    static bool SummaryChanges(QDialog& dialog, const QString& before) {
        return WaitFor([&] { return Summary(dialog) != before; });
    }

    static QStringList Rows(QDialog& dialog) {
        QStringList rows;
        auto& list = Control<QTreeWidget>(dialog, "lvQueue");
        for (int i = 0; i < list.topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list.topLevelItem(i);
            rows << item->text(0) + "|" + item->text(1) + "|" + item->text(2) + "|" + item->text(3);
        }
        return rows;
    }

    int ClearRequests() const { return static_cast<int>(JsonArray(FSim.Server().State(), "clears").Size()); }

    test::TTempDataDir FData;
    test::TTestPrompts FPrompts;
    test::TSimProcess FSim{EGAISS_SIM_EXE, "server", {"--outbox", "0"}};
    TEgaissConfig FCfg;
};

TEST_F(QueueFormTest, ListsWaitingAndFailedDocumentsAndClearsOnlyAfterYes) {
    test::DriveModal(
        [&] { TfrmQueue::ShowQueue(FCfg); },
        [&](QDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), "Outgoing queue to server");
            ASSERT_TRUE(SummaryChanges(dialog, "..."));
            EXPECT_EQ(Summary(dialog), "Queued: 2  /  Errors: 1  /  Total: 4");
            EXPECT_EQ(Rows(dialog),
                      (QStringList{"queued|WayBill_v4|0f8e2c1a-77b...|", "queued|WayBillAct_v4|abc12...|",
                                   "error|ActChargeOn_v2|err-1...|Нет связи"}));
            EXPECT_EQ(Control<QTreeWidget>(dialog, "lvQueue").topLevelItem(0)->toolTip(2), LongId);

            Control<QPushButton>(dialog, "btnClearErrors").click();
            EXPECT_EQ(FPrompts.Questions, QStringList{"Clear all documents with status \"error\"?"});
            EXPECT_EQ(ClearRequests(), 0) << "No sends nothing";

            FPrompts.Answers = {true};
            Control<QPushButton>(dialog, "btnClearBoth").click();
            ASSERT_TRUE(SummaryChanges(dialog, "Queued: 2  /  Errors: 1  /  Total: 4"));
            EXPECT_EQ(FPrompts.Messages, QStringList{"Cleared documents: 3"});
            EXPECT_EQ(Summary(dialog), "Queued: 0  /  Errors: 0  /  Total: 4");
            EXPECT_EQ(Rows(dialog).size(), 3) << "cancelled rows stay listed";
            EXPECT_TRUE(Rows(dialog)[0].startsWith("cancelled|"));
        });
    const auto state = FSim.Server().State();
    const auto& clear = JsonArray(state, "clears")[0];
    EXPECT_EQ(test::JsonText(clear, "reason"), "Cleared queue from agent window");
    EXPECT_EQ(clear["statuses"].Size(), 2u);
}

TEST_F(QueueFormTest, AServerThatDoesNotAnswerIsReportedAndTheWindowStaysUsable) {
    FSim.Server().SetFaults("{\"down\":true}");
    test::DriveModal([&] { TfrmQueue::ShowQueue(FCfg); },
                     [&](QDialog& dialog) {
                         ASSERT_TRUE(SummaryChanges(dialog, "..."));
                         EXPECT_TRUE(Summary(dialog).startsWith("Failed to load queue - "))
                             << Summary(dialog).toStdString();
                         FPrompts.Answers = {true};
                         Control<QPushButton>(dialog, "btnClearQueued").click();
                         ASSERT_TRUE(WaitFor([&] { return !FPrompts.Messages.empty(); }));
                         EXPECT_TRUE(FPrompts.Messages[0].startsWith("Failed to clear queue\n"));

                         FSim.Server().SetFaults("{\"down\":false}");
                         const QString failed = Summary(dialog);
                         Control<QPushButton>(dialog, "btnRefresh").click();
                         ASSERT_TRUE(SummaryChanges(dialog, failed));
                         EXPECT_EQ(Summary(dialog), "Queued: 2  /  Errors: 1  /  Total: 4");
                     });
    EXPECT_NE(test::ReadFileText(FData.File("agent.log")).find("[ERR] Queue load: "), std::string::npos);
}

TEST_F(QueueFormTest, ASlowServerNeverHoldsTheWindow) {
    FSim.Server().SetFaults("{\"delay_ms\":1500}");
    QElapsedTimer shown;
    shown.start();
    test::DriveModal([&] { TfrmQueue::ShowQueue(FCfg); },
                     [&](QDialog& dialog) {
                         EXPECT_FALSE(Control<QPushButton>(dialog, "btnRefresh").isEnabled())
                             << "one request at a time";
                         Control<QPushButton>(dialog, "btnClose").click();
                     });
    EXPECT_LT(shown.elapsed(), 1000);
    // The answer that comes after the window is gone is dropped.
    EXPECT_TRUE(WaitFor([&] { return shown.elapsed() > 2500; }));
}

}  // namespace
}  // namespace egaiss
