#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSystemTrayIcon>
#include <QTimer>
#include <future>
#include <stdexcept>

#include "core/uEgaissLog.h"
#include "gui/uAgentApplication.h"
#include "gui/uGuiTestSupport.h"
#include "gui/uInstanceChannel.h"
#include "gui/uMain.h"
#include "support/uFakeAgentServices.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;
using test::CompleteConfig;
using test::ProcessEventsUntil;

class MainFormTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (FForm) {
            FForm->SetSyncPaused(true);
            EXPECT_TRUE(FForm->Agent().WaitForJobs(10s));
            FForm.reset();
        }
    }

    TfrmMain& Start() {
        TMainWindowLinks links;
        links.EditConfig = [this](TEgaissConfig& cfg, QWidget*) {
            ++FSetupOpened;
            if (!FSetupSaves) return false;
            FServices.Cfg = CompleteConfig();
            cfg = FServices.Cfg;
            return true;
        };
        links.ShowQueue = [](const TEgaissConfig&, QWidget*) {};
        links.OpenUrl = [this](const std::string& url) {
            FOpened.push_back(url);
            return true;
        };
        FForm = std::make_unique<TfrmMain>(FServices.All(), links);
        FForm->FormCreate();
        return *FForm;
    }

    QString Item(const char* name) { return FForm->PopupMenu().findChild<QAction*>(name)->text(); }
    bool SyncDone() { return !FForm->Agent().SyncBusy() && FForm->Agent().Status().LastSyncAt.has_value(); }

    test::TTempDataDir FData;
    test::TFakeServices FServices;
    test::TTestPrompts FPrompts;
    int FSetupOpened = 0;
    bool FSetupSaves = false;
    std::vector<std::string> FOpened;
    std::unique_ptr<TfrmMain> FForm;
};

TEST_F(MainFormTest, StatusTextsFollowAFailedAndASuccessfulSync) {
    FServices.Cfg = CompleteConfig();
    FServices.Cfg.LabelText = "Shop 7";
    FServices.Outcome = {false, "UTM unavailable: http://127.0.0.1:8080"};
    TfrmMain& form = Start();
    EXPECT_FALSE(form.IsShown()) << "a normal start stays in the tray";
    ASSERT_TRUE(ProcessEventsUntil([&] { return SyncDone(); }));
    const QString failed = "Status: UTM unavailable: http://127.0.0.1:8080";
    EXPECT_EQ(form.StatusLabel().text(), failed);
    EXPECT_EQ(Item("mnuStatus"), failed);
    EXPECT_EQ(form.TrayIcon().toolTip(), "Velmora EGAIS - Shop 7 - UTM unavailable: http://127.0.0.1:8080");
    EXPECT_TRUE(Item("mnuLastSync").startsWith("Last sync: ")) << Item("mnuLastSync").toStdString();
    EXPECT_NE(Item("mnuLastSync"), "Last sync: -");
    EXPECT_TRUE(form.TrayShowsAlert());

    FServices.Outcome = {true, "Sync OK in=1 out=0"};
    form.Agent().DoSyncAsync();
    ASSERT_TRUE(ProcessEventsUntil([&] { return SyncDone() && form.Agent().Status().StatusOK; }));
    EXPECT_EQ(form.StatusLabel().text(), "Status: OK");
    EXPECT_EQ(Item("mnuStatus"), "Status: OK");
    EXPECT_EQ(form.TrayIcon().toolTip(), "Velmora EGAIS - Shop 7 - OK");
    EXPECT_FALSE(form.TrayShowsAlert());

    // A long failure stays on one line, elided, the whole text in the tooltip and the menu.
    const std::string longError = "UTM: " + std::string(300, 'x');
    FServices.Outcome = {false, longError};
    form.Agent().DoSyncAsync();
    ASSERT_TRUE(ProcessEventsUntil([&] { return SyncDone() && !form.Agent().Status().StatusOK; }));
    const QString whole = QString::fromStdString("Status: " + longError);
    form.ShowMainWindow();
    form.grab();  // paints the label
    EXPECT_EQ(form.StatusLabel().text(), whole);
    EXPECT_TRUE(form.StatusLabel().ShownText().endsWith(QChar(0x2026)));
    EXPECT_LT(form.StatusLabel().ShownText().size(), 100);
    EXPECT_EQ(form.StatusLabel().toolTip(), whole);
    EXPECT_EQ(Item("mnuStatus"), whole);
}

TEST_F(MainFormTest, ClosingHidesToTrayAndOnlyExitEndsTheAgent) {
    FServices.Cfg = CompleteConfig();
    TfrmMain& form = Start();
    int exits = 0;
    QObject::connect(&form, &TfrmMain::ExitRequested, [&] { ++exits; });
    form.ShowMainWindow();
    EXPECT_TRUE(form.IsShown());
    EXPECT_TRUE(form.LogView().toPlainText().contains("Agent started v"));
    form.close();
    EXPECT_FALSE(form.IsShown());
    EXPECT_EQ(exits, 0);
    form.mnuExitClick();
    EXPECT_EQ(exits, 1);
}

TEST_F(MainFormTest, ScalesOnlyShowsTheWindowUntilSettingsAreSaved) {
    TfrmMain& form = Start();
    EXPECT_EQ(FSetupOpened, 1);
    EXPECT_TRUE(form.IsShown());
    EXPECT_EQ(form.StatusLabel().text(), "Status: Scales only (EGAIS not configured)");
    form.mnuOpenUtmClick();
    EXPECT_EQ(FPrompts.Messages, QStringList{"Agent is not configured"});
    EXPECT_TRUE(FOpened.empty());

    FSetupSaves = true;
    form.mnuSettingsClick();
    EXPECT_TRUE(form.Agent().SyncTimer().IsActive());
    ASSERT_TRUE(ProcessEventsUntil([&] { return SyncDone(); }));
    EXPECT_EQ(form.StatusLabel().text(), "Status: OK");
    form.mnuOpenUtmClick();
    EXPECT_EQ(FOpened, std::vector<std::string>{"http://127.0.0.1:8080/"});
    form.mnuScalesBrandClick(sbCas);
    EXPECT_EQ(FPrompts.Messages.back(), "CAS: протокол будет в следующих версиях.");
}

TEST_F(MainFormTest, EncodingErrorBoxAtMostOncePerFifteenSeconds) {
    FServices.Cfg = CompleteConfig();
    TfrmMain& form = Start();
    const std::runtime_error encoding("No mapping for the Unicode character exists in the target code page");
    const auto t0 = std::chrono::steady_clock::now();
    form.HandleAppException(encoding, t0);
    form.HandleAppException(encoding, t0 + 5s);
    ASSERT_EQ(FPrompts.Messages.size(), 1);
    EXPECT_TRUE(FPrompts.Messages[0].startsWith("Unicode encoding error (Win32 1113).\r\nSee log:\r\n"));
    form.HandleAppException(encoding, t0 + 16s);
    EXPECT_EQ(FPrompts.Messages.size(), 2);

    // Escaping an event handler: logged, one box, and the program goes on.
    QTimer::singleShot(0, &form, [] { throw std::runtime_error("handler failed"); });
    ASSERT_TRUE(ProcessEventsUntil([&] { return FPrompts.Messages.size() == 3; }));
    EXPECT_TRUE(FPrompts.Messages[2].startsWith("std::runtime_error: handler failed\r\nLog: "));
    EXPECT_NE(ReadLogTail(50).find("[EXC] Application.OnException | std::runtime_error: handler failed"),
              std::string::npos);
}

TEST_F(MainFormTest, RefreshLogKeepsTheReadersSelection) {
    FServices.Cfg = CompleteConfig();
    TfrmMain& form = Start();
    form.ShowMainWindow();
    QPlainTextEdit& view = form.LogView();
    QTextCursor selection = view.textCursor();
    selection.setPosition(0);
    selection.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
    view.setTextCursor(selection);
    const QString selected = view.textCursor().selectedText();
    LogInfo("a new line while the user reads");
    form.RefreshLog();
    EXPECT_TRUE(view.toPlainText().endsWith("a new line while the user reads"));
    EXPECT_EQ(view.textCursor().selectedText(), selected);
}

TEST(InstanceChannelTest, ASecondStartCountsOnlyAnAnsweringAgent) {
    const QString name =
        InstanceChannelName("/instance-test/" + std::to_string(QCoreApplication::applicationPid()));
    TLocalSocketChannel channel(name);
    TLocalSocketChannel secondStart(name);
    int shown = 0;
    int exits = 0;
    ASSERT_TRUE(channel.Listen([&] { ++shown; }, [&] { ++exits; }));
    // The asking side blocks, as a second process does; the agent answers from its event loop.
    const auto ask = [&](bool (TLocalSocketChannel::*request)()) {
        auto asked = std::async(std::launch::async, [&] { return (secondStart.*request)(); });
        EXPECT_TRUE(ProcessEventsUntil([&] { return asked.wait_for(0s) == std::future_status::ready; }));
        return asked.get();
    };
    EXPECT_TRUE(ask(&TLocalSocketChannel::AskRunningAgentToShow));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(exits, 0);
    EXPECT_TRUE(ask(&TLocalSocketChannel::AskRunningAgentToExit)) << "the stop command";
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(exits, 1);

    channel.Close();  // an ending agent
    EXPECT_FALSE(secondStart.AskRunningAgentToShow());
    EXPECT_FALSE(secondStart.AskRunningAgentToExit());
}

}  // namespace
}  // namespace egaiss
