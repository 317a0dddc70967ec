#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "agent/uPortableLoop.h"
#include "core/uEgaissLog.h"
#include "platform/uWin32Text.h"
#include "support/uFakeAgentServices.h"
#include "support/uFakePrompts.h"
#include "support/uTestDirs.h"
#include "winui/uWin32Common.h"
#include "winui/uWin32InstanceChannel.h"
#include "winui/uWin32LogView.h"
#include "winui/uWin32MainWindow.h"
#include "winui/uWin32Prompts.h"
#include "winui/uWin32Resources.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;
using platform::WideToUtf8;
using test::CompleteConfig;

// Runs the agent's loop and the thread's window messages until `done` holds or `timeout` passes.
bool PumpUntil(TPortableLoop& loop, const std::function<bool()>& done,
               std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (true) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        loop.RunDue();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(5ms);
    }
}

std::string MenuItemText(HMENU menu, UINT id) {
    wchar_t text[512] = {};
    GetMenuStringW(menu, id, text, static_cast<int>(std::size(text)), MF_BYCOMMAND);
    return WideToUtf8(text);
}

// Wine without a display creates message-only windows alone.
bool DesktopWindowsWork() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
}

class Win32MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!DesktopWindowsWork()) GTEST_SKIP() << "no display for windows (run under Xvfb)";
    }

    void TearDown() override {
        if (FWindow) {
            FWindow->SetSyncPaused(true);
            EXPECT_TRUE(FWindow->Agent().WaitForJobs(10s));
            FWindow.reset();
        }
    }

    TWin32MainWindow& Start() {
        TWin32MainWindowLinks links;
        links.EditConfig = [this](TEgaissConfig&, HWND) {
            if (FSetupThrows) throw std::runtime_error("handler failed");
            return false;
        };
        links.OpenUrl = [](const std::string&) { return true; };
        links.Prompts = &FPrompts;
        FWindow = std::make_unique<TWin32MainWindow>(FLoop, FServices.All(), links);
        FWindow->OnExitRequested([this] { ++FExits; });
        FWindow->FormCreate();
        return *FWindow;
    }

    std::string Control(int id) const { return WideToUtf8(ControlText(GetDlgItem(FWindow->Handle(), id))); }
    void Command(int id) const { SendMessageW(FWindow->Handle(), WM_COMMAND, static_cast<WPARAM>(id), 0); }
    bool SyncDone() {
        return !FWindow->Agent().SyncBusy() && FWindow->Agent().Status().LastSyncAt.has_value();
    }

    test::TTempDataDir FData;
    test::TFakeServices FServices;
    test::TFakePrompts FPrompts;
    TPortableLoop FLoop;
    bool FSetupThrows = false;
    int FExits = 0;
    std::unique_ptr<TWin32MainWindow> FWindow;
};

TEST_F(Win32MainWindowTest, StatusTextsReachLabelMenuHintAndTrayIcon) {
    FServices.Cfg = CompleteConfig();
    FServices.Cfg.LabelText = "Shop 7";
    FServices.Outcome = {false, "UTM unavailable: http://127.0.0.1:8080"};
    TWin32MainWindow& window = Start();
    EXPECT_FALSE(IsWindowVisible(window.Handle())) << "a normal start stays in the tray";
    ASSERT_TRUE(PumpUntil(FLoop, [&] { return SyncDone(); }));
    const std::string failed = "Status: UTM unavailable: http://127.0.0.1:8080";
    EXPECT_EQ(Control(IDC_MAIN_STATUS), failed);
    EXPECT_EQ(MenuItemText(window.TrayMenu(), IDM_STATUS), failed);
    EXPECT_NE(MenuItemText(window.TrayMenu(), IDM_LAST_SYNC), "Last sync: -");
    EXPECT_EQ(WideToUtf8(window.TrayIcon().Hint()),
              "Velmora EGAIS - Shop 7 - UTM unavailable: http://127.0.0.1:8080");
    EXPECT_TRUE(window.TrayShowsAlert());
    EXPECT_TRUE(window.StatusTooltip().empty()) << "a line that fits needs no tooltip";

    FServices.Outcome = {true, "Sync OK in=1 out=0"};
    window.Agent().DoSyncAsync();
    ASSERT_TRUE(PumpUntil(FLoop, [&] { return SyncDone() && window.Agent().Status().StatusOK; }));
    EXPECT_EQ(Control(IDC_MAIN_STATUS), "Status: OK");
    EXPECT_EQ(WideToUtf8(window.TrayIcon().Hint()), "Velmora EGAIS - Shop 7 - OK");
    EXPECT_FALSE(window.TrayShowsAlert());

    // A long failure stays on one line; the tooltip and the menu hold the whole text.
    const std::string whole = "Status: UTM: " + std::string(300, 'x');
    FServices.Outcome = {false, "UTM: " + std::string(300, 'x')};
    window.Agent().DoSyncAsync();
    ASSERT_TRUE(PumpUntil(FLoop, [&] { return SyncDone() && !window.Agent().Status().StatusOK; }));
    EXPECT_EQ(WideToUtf8(window.StatusTooltip()), whole);
    EXPECT_EQ(MenuItemText(window.TrayMenu(), IDM_STATUS), whole);
}

TEST_F(Win32MainWindowTest, ClosingHidesToTrayAndOnlyExitEndsTheAgent) {
    FServices.Cfg = CompleteConfig();
    TWin32MainWindow& window = Start();
    Command(IDM_SHOW);
    EXPECT_TRUE(IsWindowVisible(window.Handle()));
    EXPECT_NE(Control(IDC_MAIN_LOG).find("Agent started v"), std::string::npos);
    SendMessageW(window.Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window.Handle()));
    Command(IDM_SHOW);
    SendMessageW(GetDlgItem(window.Handle(), IDC_MAIN_MINIMIZE), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window.Handle()));
    EXPECT_EQ(FExits, 0);
    Command(IDM_EXIT);
    EXPECT_EQ(FExits, 1);
    EXPECT_EQ(window.Handle(), nullptr);
}

TEST_F(Win32MainWindowTest, AnExceptionEscapingAHandlerReachesOneBoxAndTheLog) {
    FServices.Cfg = CompleteConfig();
    Start();
    FSetupThrows = true;
    Command(IDM_SETTINGS);
    ASSERT_EQ(FPrompts.Messages.size(), 1U);
    EXPECT_EQ(FPrompts.Messages[0].rfind("std::runtime_error: handler failed\r\nLog: ", 0), 0U)
        << FPrompts.Messages[0];
    EXPECT_NE(ReadLogTail(50).find("[EXC] Application.OnException | std::runtime_error: handler failed"),
              std::string::npos);
}

TEST_F(Win32MainWindowTest, RefreshingTheLogKeepsTheReadersSelection) {
    FServices.Cfg = CompleteConfig();
    TWin32MainWindow& window = Start();
    Command(IDM_SHOW);
    HWND log = GetDlgItem(window.Handle(), IDC_MAIN_LOG);
    const std::wstring shown = ControlText(log);
    const auto firstLineEnd = static_cast<LPARAM>(shown.find(L"\r\n"));
    SendMessageW(log, EM_SETSEL, 0, firstLineEnd);
    LogInfo("a new line while the user reads");
    ASSERT_TRUE(
        PumpUntil(FLoop, [&] { return Control(IDC_MAIN_LOG).ends_with("a new line while the user reads"); }));
    DWORD start = 1;
    DWORD end = 0;
    SendMessageW(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(ControlText(log).substr(start, end - start),
              shown.substr(0, static_cast<std::size_t>(firstLineEnd)));
}

TEST(Win32LogViewTest, DroppedLinesAreTheShownLinesTheNewTailNoLongerStartsWith) {
    const auto dropped = DroppedLines(L"a\r\nbb\r\nc", L"bb\r\nc\r\nd");
    ASSERT_TRUE(dropped.has_value());
    EXPECT_EQ(dropped->Lines, 1U);
    EXPECT_EQ(dropped->Chars, 3U);
    EXPECT_EQ(DroppedLines(L"", L"x")->Lines, 0U);
    EXPECT_FALSE(DroppedLines(L"a\r\nb", L"trimmed\r\nlog").has_value());
}

TEST(Win32PromptsTest, PickerFiltersBecomeShellFilterSpecs) {
    const auto filters = FileDialogFilters("CSV/XLS (*.csv *.xls *.xml);;All (*.*)");
    ASSERT_EQ(filters.size(), 2U);
    EXPECT_EQ(filters[0].first, L"CSV/XLS (*.csv *.xls *.xml)");
    EXPECT_EQ(filters[0].second, L"*.csv;*.xls;*.xml");
    EXPECT_EQ(filters[1].second, L"*.*");
    EXPECT_TRUE(FileDialogFilters("no patterns").empty());
}

TEST(Win32InstanceChannelTest, ASecondStartCountsOnlyAnAnsweringAgent) {
    const std::wstring name =
        InstanceChannelName("C:\\instance-test\\" + std::to_string(GetCurrentProcessId()));
    EXPECT_EQ(name, InstanceChannelName("C:\\instance-test\\" + std::to_string(GetCurrentProcessId())));
    TWin32InstanceChannel channel(name);
    TWin32InstanceChannel secondStart(name);
    EXPECT_FALSE(secondStart.AskRunningAgentToShow()) << "no agent yet";
    int shown = 0;
    int exits = 0;
    ASSERT_TRUE(channel.Listen([&] { ++shown; }, [&] { ++exits; }));
    EXPECT_TRUE(secondStart.AskRunningAgentToShow());
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(exits, 0);
    EXPECT_TRUE(secondStart.AskRunningAgentToExit()) << "the stop command";
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(exits, 1);
    channel.Close();  // an ending agent
    EXPECT_FALSE(secondStart.AskRunningAgentToShow());
    EXPECT_FALSE(secondStart.AskRunningAgentToExit());
}

}  // namespace
}  // namespace egaiss
