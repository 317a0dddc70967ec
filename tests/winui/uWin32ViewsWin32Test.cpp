#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <thread>

#include "agent/uPortableLoop.h"
#include "core/uEgaissLog.h"
#include "platform/uPath.h"
#include "platform/uWin32Text.h"
#include "scales/uMassaKProto.h"
#include "support/uFakeAgentServices.h"
#include "support/uFakeMassaScale.h"
#include "support/uFakePrompts.h"
#include "support/uScriptedHttpPeer.h"
#include "support/uTestDirs.h"
#include "winui/uWin32Common.h"
#include "winui/uWin32Controls.h"
#include "winui/uWin32Dialog.h"
#include "winui/uWin32InstanceChannel.h"
#include "winui/uWin32LogView.h"
#include "winui/uWin32MainLoop.h"
#include "winui/uWin32MainWindow.h"
#include "winui/uWin32PreparationWindow.h"
#include "winui/uWin32Prompts.h"
#include "winui/uWin32QueueWindow.h"
#include "winui/uWin32Resources.h"
#include "winui/uWin32ScalesDialog.h"
#include "winui/uWin32SetupDialog.h"

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

// The modal dialogs are driven from inside their own message loop: a timer finds the dialog once the
// loop has shown it (which it does when its queue first runs empty), clicks and types into it through
// messages and pumps the thread's messages while the presenter's workers report back through the
// Win32 loop.
class Win32DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!DesktopWindowsWork()) GTEST_SKIP() << "no display for windows (run under Xvfb)";
        FLoop = std::make_unique<TWin32MainLoop>();
    }

    // Runs `drive` on the dialog that `open` shows modally; a dialog that `drive` leaves open (a
    // failed assertion) is ended.
    void DriveModal(const std::function<void()>& drive, const std::function<void()>& open) {
        FDrive = drive;
        FDriveDeadline = std::chrono::steady_clock::now() + 10s;
        FDriven = this;
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, &DriveTick);
        open();
        KillTimer(nullptr, timer);
        EXPECT_EQ(FDriven, nullptr) << "the dialog did not run its message loop";
        FDriven = nullptr;
    }

    static void CALLBACK DriveTick(HWND, UINT, UINT_PTR timer, DWORD) {
        Win32DialogTest* self = FDriven;
        HWND dialog = ThreadDialog(true);
        if (self != nullptr && dialog == nullptr && std::chrono::steady_clock::now() < self->FDriveDeadline)
            return;  // not shown yet
        KillTimer(nullptr, timer);
        FDriven = nullptr;
        if (self == nullptr) return;
        if (dialog == nullptr) {
            ADD_FAILURE() << "no dialog came up";
            EndDialog(ThreadDialog(false), IDCANCEL);
            return;
        }
        self->FDialog = dialog;
        self->FDrive();
        if (IsWindowVisible(dialog)) EndDialog(dialog, IDCANCEL);
    }

    static HWND ThreadDialog(bool shown) {
        struct TSearch {
            bool Shown;
            HWND Found;
        } search{shown, nullptr};
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM param) -> BOOL {
                auto& search = *reinterpret_cast<TSearch*>(param);
                wchar_t name[16] = {};
                GetClassNameW(window, name, static_cast<int>(std::size(name)));
                if (std::wstring(name) != L"#32770" || (search.Shown && !IsWindowVisible(window)))
                    return TRUE;
                search.Found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.Found;
    }

    // Dispatches the thread's messages until `done` holds or `timeout` passes.
    static bool Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    HWND Item(int id) const { return GetDlgItem(FDialog, id); }
    std::string Text(int id) const { return WideToUtf8(ControlText(Item(id))); }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    void Click(int id) const { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    void Type(int id, const wchar_t* text) const {
        SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    std::string Cell(int list, int row, int column) const { return ReportCell(Item(list), row, column); }

    test::TTempDataDir FData;
    test::TFakePrompts FPrompts;
    std::unique_ptr<TWin32MainLoop> FLoop;
    HWND FDialog = nullptr;

private:
    static inline Win32DialogTest* FDriven = nullptr;
    std::function<void()> FDrive;
    std::chrono::steady_clock::time_point FDriveDeadline;
};

// The first start, without agent.ini: the settings dialog in its first-run form takes what the
// web service's page put on the clipboard and saves it.
TEST_F(Win32DialogTest, TheFirstRunFormPastesTheCopiedSettingsAndSavesThem) {
    FPrompts.Clipboard = "server_url=https://velmora.example\nagent_id=A1\nagent_secret=s3\n";
    TEgaissConfig cfg;
    bool saved = false;
    DriveModal(
        [&] {
            EXPECT_EQ(Text(IDC_SETUP_HINT), setup_texts::FirstRunHint);
            EXPECT_EQ(Text(IDCANCEL), setup_texts::ScalesOnly);
            Click(IDC_SETUP_PASTE);
            EXPECT_NE(Text(IDC_SETUP_CONFIG).find("agent_id=A1"), std::string::npos);
            Click(IDOK);
        },
        [&] { saved = TWin32SetupDialog::EditConfig(cfg, nullptr, {}, &FPrompts); });
    EXPECT_TRUE(saved);
    EXPECT_EQ(cfg.AgentID, "A1");
    EXPECT_NE(test::ReadFileText(FData.File("agent.ini")).find("agent_secret=s3"), std::string::npos);
}

// The queue window lists what the server's outbox answers, fetched off the window's thread.
TEST_F(Win32DialogTest, TheQueueWindowListsTheServersOutbox) {
    test::TScriptedHttpPeer server([](const test::TPeerRequest&) {
        return test::PeerReply("200 OK", R"({"counts":{"queued":1,"error":1},"documents":[)"
                                         R"({"doc_id":"d-1","doc_type":"WayBill_v4","status":"queued"},)"
                                         R"({"doc_id":"d-2","doc_type":"QueryRests_v2","status":"error",)"
                                         R"("error":"UTM refused"}]})");
    });
    TEgaissConfig cfg = test::CompleteConfig();
    cfg.ServerURL = server.BaseURL() + "/api";
    DriveModal(
        [&] {
            ASSERT_TRUE(Pump([&] { return ListView_GetItemCount(Item(IDC_QUEUE_LIST)) == 2; }));
            EXPECT_EQ(Text(IDC_QUEUE_SUMMARY), "Queued: 1  /  Errors: 1  /  Total: 2");
            EXPECT_EQ(Cell(IDC_QUEUE_LIST, 1, 1), "QueryRests_v2");
        },
        [&] { TWin32QueueWindow::ShowQueue(*FLoop, cfg, nullptr, &FPrompts); });
}

constexpr std::uint32_t Loopback = 0x7F000001;  // 127.0.0.1

// A Massa-K scale with the serial 12345678 answering the search on 127.0.0.1 (Wine's UDP serves no
// other loopback address), which the search probes alone.
class Win32ScalesDialogTest : public Win32DialogTest {
protected:
    TMassaDiscoveryParams Search(int listenMs) const {
        TMassaDiscoveryParams params;
        params.Port = FScale.Port();
        params.TimeoutMs = listenMs;
        params.MinListenMs = listenMs;
        params.Subnets = std::vector<TLocalSubnet>{TLocalSubnet::Of(Loopback, 0xFFFFFFFF)};
        params.LimitedBroadcast = Loopback;
        params.LocalAddress = Loopback;
        return params;
    }

    static TBytes ProbeAnswer() {
        TBytes data(22, 0x30);
        const std::uint8_t serial[] = {0x4E, 0x61, 0xBC, 0x00};
        std::copy(std::begin(serial), std::end(serial), data.begin() + 5);
        return BuildMassaFrame(MassaAnsProbe, data);
    }

    test::TFakeMassaUdpScale FScale{Loopback, 0, {ProbeAnswer()}};
};

TEST_F(Win32ScalesDialogTest, SearchFillsTheSerialOfAKnownScaleAndStopOrClosingEndIt) {
    TScalesConfig cfg;
    cfg.Brands[sbMassaK].Scales = {{"127.0.0.1", 5001, "", false}};
    const std::string listening = "Поиск: listen  (найдено: 1)";
    bool saved = true;
    DriveModal(
        [&] {
            EXPECT_FALSE(Enabled(IDC_SCALES_STOP));
            EXPECT_FALSE(IsWindowVisible(Item(IDC_SCALES_SEARCH_BAR)));
            Click(IDC_SCALES_FIND);
            EXPECT_EQ(Text(IDC_SCALES_SEARCH), "Поиск Масса-К в сети...");
            EXPECT_FALSE(Enabled(IDC_SCALES_FIND));
            EXPECT_TRUE(Enabled(IDC_SCALES_STOP));
            EXPECT_TRUE(IsWindowVisible(Item(IDC_SCALES_SEARCH_BAR)));
            ASSERT_TRUE(Pump([&] { return Text(IDC_SCALES_SEARCH) == listening; }))
                << Text(IDC_SCALES_SEARCH);
            // The known scale keeps its port and stays off; only its serial is new.
            ASSERT_EQ(ReportRowCount(Item(IDC_SCALES_LIST)), 1);
            EXPECT_EQ(Cell(IDC_SCALES_LIST, 0, 0), "127.0.0.1");
            EXPECT_EQ(Cell(IDC_SCALES_LIST, 0, 1), "5001");
            EXPECT_EQ(Cell(IDC_SCALES_LIST, 0, 2), "12345678");
            EXPECT_EQ(Cell(IDC_SCALES_LIST, 0, 3), "0");

            // The title bar's close is refused while the search runs, and stops it.
            SendMessageW(FDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_TRUE(IsWindowVisible(FDialog));
            EXPECT_EQ(Text(IDC_SCALES_SEARCH), "Остановка поиска...");
            ASSERT_TRUE(Pump([&] { return Enabled(IDC_SCALES_FIND); }));
            EXPECT_EQ(Text(IDC_SCALES_SEARCH), "Поиск прерван. Найдено: 1");
            EXPECT_FALSE(IsWindowVisible(Item(IDC_SCALES_SEARCH_BAR)));

            Click(IDC_SCALES_FIND);
            ASSERT_TRUE(Pump([&] { return Text(IDC_SCALES_SEARCH) == listening; }));
            Click(IDC_SCALES_STOP);
            EXPECT_EQ(Text(IDC_SCALES_SEARCH), "Остановка...");
            EXPECT_FALSE(Enabled(IDC_SCALES_STOP));
            ASSERT_TRUE(Pump([&] { return Enabled(IDC_SCALES_FIND); }));
            EXPECT_EQ(Text(IDC_SCALES_SEARCH), "Поиск прерван. Найдено: 1");
            EXPECT_EQ(ReportRowCount(Item(IDC_SCALES_LIST)), 1) << "merged, not doubled";
            Click(IDCANCEL);
            EXPECT_FALSE(IsWindowVisible(FDialog));
        },
        [&] {
            saved = TWin32ScalesDialog::Edit(*FLoop, sbMassaK, cfg, nullptr, &FPrompts, Search(INT_MAX / 2));
        });
    EXPECT_FALSE(saved);
    EXPECT_TRUE(cfg.Brands[sbMassaK].Scales[0].Serial.empty()) << "cancelled";
}

TEST_F(Win32ScalesDialogTest, ScalesAddedAndRemovedAndThePickedFileReachTheSavedSettings) {
    TScalesConfig cfg;
    FPrompts.Inputs = {"10.0.0.5:5001:off", "10.0.0.6"};
    const std::string folder = JoinPath(FData.Path(), "export");
    FPrompts.Files.push_back(JoinPath(folder, "prices_1.csv"));
    bool saved = false;
    DriveModal(
        [&] {
            EXPECT_EQ(WideToUtf8(ControlText(FDialog)), "Весы: Масса-К");
            EXPECT_EQ(Text(IDC_SCALES_ENABLED), "Включить Масса-К");
            EXPECT_FALSE(Text(IDC_SCALES_MAC).empty());
            Click(IDC_SCALES_ADD);
            Click(IDC_SCALES_ADD);
            ASSERT_EQ(ReportRowCount(Item(IDC_SCALES_LIST)), 2);
            EXPECT_EQ(Cell(IDC_SCALES_LIST, 0, 3), "0");
            Click(IDC_SCALES_REMOVE);  // nothing selected
            SelectReportRow(Item(IDC_SCALES_LIST), 0);
            Click(IDC_SCALES_REMOVE);
            ASSERT_EQ(ReportRowCount(Item(IDC_SCALES_LIST)), 1);
            EXPECT_EQ(Cell(IDC_SCALES_LIST, 0, 0), "10.0.0.6");

            Click(IDC_SCALES_BROWSE_FILE);
            EXPECT_EQ(Text(IDC_SCALES_DIR), JoinPath(folder, ""));
            EXPECT_EQ(Text(IDC_SCALES_FILE), "prices_1.csv");
            Click(IDC_SCALES_ENABLED);
            Type(IDC_SCALES_POLL, L"45");
            Type(IDC_SCALES_FILE, L"prices.csv");
            Click(IDOK);
            EXPECT_FALSE(IsWindowVisible(FDialog));
        },
        [&] { saved = TWin32ScalesDialog::Edit(*FLoop, sbMassaK, cfg, nullptr, &FPrompts, Search(100)); });
    ASSERT_TRUE(saved);
    const TScaleBrandConfig& brand = cfg.Brands[sbMassaK];
    EXPECT_TRUE(brand.Enabled);
    EXPECT_EQ(brand.VesiDir, JoinPath(folder, ""));
    EXPECT_EQ(brand.ExpectFile, "prices.csv");
    EXPECT_EQ(brand.PollSeconds, 45);
    EXPECT_EQ(brand.Scales, (std::vector<TScaleEndpoint>{{"10.0.0.6", 5001, "", true}}));
    EXPECT_EQ(LoadScalesConfig().Brands[sbMassaK].ExpectFile, "prices.csv") << "written to the settings file";
}

// While the agent runs, a failed save reaches its handler and the dialog keeps the user's edits.
TEST_F(Win32ScalesDialogTest, AFailedSaveIsShownAndTheDialogStaysOpen) {
    std::filesystem::create_directory(Utf8Path(FData.File("agent.ini")));  // cannot be written
    std::vector<std::string> shown;
    TWin32Dialog::SetAppExceptionHandler(
        [&](const std::exception& error) { shown.emplace_back(error.what()); });
    TScalesConfig cfg;
    DriveModal(
        [&] {
            Click(IDOK);
            EXPECT_EQ(shown.size(), 1u);
            EXPECT_TRUE(IsWindowVisible(FDialog));
        },
        [&] { EXPECT_FALSE(TWin32ScalesDialog::Edit(*FLoop, sbMassaK, cfg, nullptr, &FPrompts)); });
    TWin32Dialog::SetAppExceptionHandler({});
}

// A server on 127.0.0.1 that publishes the manifest and stalls every download. Alpha fails its check
// and installs from the server, Beta passes; the string between them gets no row.
class Win32PreparationWindowTest : public Win32DialogTest {
protected:
    void SetUp() override {
        Win32DialogTest::SetUp();
        FServer = std::make_unique<test::TScriptedHttpPeer>([this](const test::TPeerRequest& request) {
            if (request.Target().ends_with("egaiss-bootstrap.json"))
                return test::PeerReply("200 OK",
                                       R"({"components":[{"id":"alpha","title":"Alpha","install":{"url":")" +
                                           FServer->BaseURL() +
                                           R"(/download/a.exe","file":"a.exe"}},"junk",)" +
                                           R"({"id":"beta","title":"Beta"}]})",
                                       {"Content-Type: application/json"});
            return test::TPeerAnswer{{{"", 30s}}, true};
        });
        FCfg.ServerURL = FServer->BaseURL() + "/api/";
    }

    void Open(const std::function<void()>& drive) {
        TInstallOptions options;
        options.RunCheck = [](const TJsonValue& component, const TEgaissConfig&) {
            return GetJsonString(component, "id") == "beta" ? TEnvCheckResult::Ok("installed")
                                                            : TEnvCheckResult::Fail("missing");
        };
        DriveModal(
            [&] {
                ASSERT_TRUE(Pump([&] { return Enabled(IDC_PREPARATION_REFRESH); })) << "the first check run";
                drive();
            },
            [&] {
                TWin32PreparationWindow::Show(
                    *FLoop, FCfg, [this](bool paused) { FPaused.push_back(paused); }, nullptr, &FPrompts,
                    std::move(options));
            });
    }

    // Whether the status cell of `row` shows a pixel of the tick's green.
    bool Ticked(int row) const {
        HWND list = Item(IDC_PREPARATION_LIST);
        UpdateWindow(list);
        RECT cell{};
        cell.top = 1;
        cell.left = LVIR_BOUNDS;
        SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
        HDC dc = GetDC(list);
        bool green = false;
        for (int y = cell.top; y < cell.bottom && !green; ++y)
            for (int x = cell.left; x < cell.right && !green; ++x)
                green = GetPixel(dc, x, y) == RGB(69, 167, 40);
        ReleaseDC(list, dc);
        return green;
    }

    std::unique_ptr<test::TScriptedHttpPeer> FServer;
    TEgaissConfig FCfg;
    std::vector<bool> FPaused;
};

TEST_F(Win32PreparationWindowTest, ListsTheChecksWithTheTickAndFollowsTheSelection) {
    Open([&] {
        EXPECT_EQ(WideToUtf8(ControlText(FDialog)), "Prepare PC for EGAIS");
        EXPECT_EQ(Text(IDC_PREPARATION_MANIFEST), "Manifest: " + ManifestURL(FCfg.ServerURL));
        HWND list = Item(IDC_PREPARATION_LIST);
        ASSERT_EQ(ReportRowCount(list), 2);
        const char* const cells[2][4] = {{"1", "Failed", "Alpha", "missing"}, {"3", "", "Beta", "installed"}};
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 4; ++column)
                EXPECT_EQ(Cell(IDC_PREPARATION_LIST, row, column), cells[row][column]);
        EXPECT_FALSE(Ticked(0));
        EXPECT_TRUE(Ticked(1));
        EXPECT_FALSE(IsWindowVisible(Item(IDC_PREPARATION_BAR)));

        EXPECT_EQ(SelectedReportRow(list), 0);
        EXPECT_TRUE(Enabled(IDC_PREPARATION_INSTALL));
        EXPECT_TRUE(Enabled(IDC_PREPARATION_INSTALL_ALL));
        SelectReportRow(list, 1);  // Beta has nothing to install
        EXPECT_FALSE(Enabled(IDC_PREPARATION_INSTALL));
        SelectReportRow(list, 0);
        EXPECT_TRUE(Enabled(IDC_PREPARATION_INSTALL));
        Click(IDCANCEL);  // nothing runs: no question
        EXPECT_FALSE(IsWindowVisible(FDialog));
    });
    EXPECT_TRUE(FPrompts.Questions.empty());
    EXPECT_EQ(FPaused, (std::vector<bool>{true, false}));
}

TEST_F(Win32PreparationWindowTest, TheTitleBarEscapeAndTheCloseButtonAskWhileAnInstallRuns) {
    const std::string question = "Install is running. Cancel?\r\nCurrent installer window will stay open.";
    FPrompts.Answers = {true, false, false, true};
    Open([&] {
        Click(IDC_PREPARATION_INSTALL_ALL);
        ASSERT_TRUE(Pump([&] { return Cell(IDC_PREPARATION_LIST, 0, 1) == "Running..."; }));
        EXPECT_FALSE(Enabled(IDC_PREPARATION_REFRESH));
        EXPECT_FALSE(Enabled(IDC_PREPARATION_INSTALL_ALL));
        EXPECT_TRUE(IsWindowVisible(Item(IDC_PREPARATION_BAR)));
        EXPECT_TRUE(Enabled(IDCANCEL));

        SendMessageW(FDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(IsWindowVisible(FDialog));
        // Esc, as the dialog manager turns it into a command.
        SendMessageW(FDialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(IsWindowVisible(FDialog));
        EXPECT_EQ(FPrompts.Questions,
                  (std::vector<std::string>{FPrompts.Questions.at(0), question, question}));
        Click(IDCANCEL);
        EXPECT_FALSE(IsWindowVisible(FDialog));
    });
    EXPECT_EQ(FPrompts.Questions.size(), 4u);
    EXPECT_EQ(FPaused, (std::vector<bool>{true, false}));
    // The download left behind ends once the server has gone.
    FServer.reset();
    EXPECT_TRUE(Pump([&] {
        return test::ReadFileText(FData.File("agent.log")).find("[Bootstrap] Install all step failed: ") !=
               std::string::npos;
    }));
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
