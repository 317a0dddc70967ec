// The Windows tray agent (the .exe under Wine) on the test's X display with a tray host of its
// own: it docks its icon, stays hidden, syncs, comes to the front on a second start and ends on
// the stop command.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "support/uChildProcess.h"
#include "support/uSimProcess.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;
using test::TAgentFolder;
using test::TChildProcess;
using test::TSimProcess;
using test::WaitUntil;

constexpr const char* Trayer = "/usr/bin/trayer";
constexpr const char* Xwininfo = "/usr/bin/xwininfo";
constexpr const char* Xdotool = "/usr/bin/xdotool";

std::size_t Indent(const std::string& line) {
    return line.find_first_not_of(' ');
}

// Wine docks tray icons as windows of its explorer.exe inside the tray host's "panel" window.
bool TrayHostHoldsAnIcon() {
    std::istringstream tree(test::RunProgram(Xwininfo, {"-root", "-tree"}, 10s).Output);
    std::string line;
    std::size_t panel = std::string::npos;
    while (std::getline(tree, line)) {
        if (line.find("(\"panel\" \"trayer\")") != std::string::npos) {
            panel = Indent(line);
        } else if (panel != std::string::npos) {
            if (Indent(line) <= panel) return false;
            if (line.find("(\"explorer.exe\"") != std::string::npos) return true;
        }
    }
    return false;
}

bool MainWindowVisible() {
    return test::RunProgram(Xdotool, {"search", "--onlyvisible", "--name", "^Velmora EGAIS$"}, 10s)
               .ExitCode == 0;
}

TEST(Win32TrayAgentE2ETest, DocksInTheTrayHiddenSyncsComesUpOnASecondStartAndStops) {
    const auto runner = std::getenv("EGAISS_E2E_AGENT_RUNNER");
    if (runner == nullptr || *runner == '\0') GTEST_SKIP() << "the Windows agent under Wine only";
    const auto display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "needs an X display";
    for (const char* tool : {Trayer, Xwininfo, Xdotool})
        if (!std::filesystem::exists(tool)) GTEST_SKIP() << tool << " is not installed";

    TSimProcess sim(EGAISS_SIM_EXE, "both", {"--docs", "2"});
    TAgentFolder agent(EGAISS_AGENT_EXE);
    agent.WriteIni(test::AgentIniFor(sim));
    TChildProcess trayHost(Trayer,
                           {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "160"},
                           agent.File("trayer.out"));
    ASSERT_TRUE(WaitUntil(
        [] {
            return test::RunProgram(Xwininfo, {"-root", "-tree"}, 10s)
                       .Output.find("(\"panel\" \"trayer\")") != std::string::npos;
        },
        10s));
    ASSERT_FALSE(TrayHostHoldsAnIcon());

    const auto tray = agent.Start({"-noupdate"}, "tray.out");
    ASSERT_TRUE(agent.WaitForLog("[INFO] Sync OK in=2 out=2", 60s)) << agent.Log();
    EXPECT_TRUE(WaitUntil(TrayHostHoldsAnIcon, 10s));
    EXPECT_FALSE(MainWindowVisible()) << "a configured agent starts hidden";

    const auto second = agent.Run({"-noupdate"}, 30s);
    EXPECT_EQ(second.ExitCode, 3);
    EXPECT_EQ(second.Output, "Agent already running\n");
    EXPECT_TRUE(WaitUntil(MainWindowVisible, 10s));

    const auto stop = agent.Run({"stop"}, 60s);
    EXPECT_EQ(stop.ExitCode, 0);
    EXPECT_EQ(stop.Output, "Agent stopped\n");
    EXPECT_EQ(tray->Wait(10s), 0) << TAgentFolder::Output(*tray);
    EXPECT_FALSE(WaitUntil(TrayHostHoldsAnIcon, 0ms)) << "the icon left the tray";
    const auto again = agent.Run({"stop"}, 60s);
    EXPECT_EQ(again.ExitCode, 0);
    EXPECT_EQ(again.Output, "No agent running\n");
    for (const char* line : {"[INFO] Agent already running", "[INFO] Agent stopped",
                             "[INFO] Stop command: Agent stopped", "[INFO] Stop command: No agent running"})
        EXPECT_NE(agent.Log().find(line), std::string::npos) << line;
}

}  // namespace
}  // namespace egaiss
