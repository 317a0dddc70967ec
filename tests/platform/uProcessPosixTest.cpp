#include "platform/uProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// True once a process is gone or only a zombie waiting for its parent.
bool ProcessEnded(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const auto close = line.rfind(')');
    return close == std::string::npos || line.substr(close + 2, 1) == "Z";
}

// Waits (without a time limit of its own beyond `limit`) for another process to end.
bool WaitUntilEnded(int pid, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ProcessEnded(pid)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(ProcessTest, CapturesStandardOutputAndErrorWithTheExitCode) {
    const TProcessResult result = RunProcess("sh", {"-c", "echo out; echo err >&2; exit 3"}, 30s);
    EXPECT_FALSE(result.TimedOut);
    EXPECT_EQ(result.ExitCode, 3);
    EXPECT_THAT(result.Output, HasSubstr("out\n"));
    EXPECT_THAT(result.Output, HasSubstr("err\n"));
}

TEST(ProcessTest, PassesArgumentsUnchangedAndGivesNoInput) {
    const TProcessResult result =
        RunProcess("sh", {"-c", "printf '%s|' \"$@\"; cat; echo end", "sh", "a b", "c\"d", "", "$HOME"}, 30s);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Output, "a b|c\"d||$HOME|end\n");
}

TEST(ProcessTest, ChildEndedBySignalGivesTheShellConvention) {
    const TProcessResult result = RunProcess("sh", {"-c", "kill -TERM $$"}, 30s);
    EXPECT_EQ(result.ExitCode, 128 + SIGTERM);
}

TEST(ProcessTest, TimeOutEndsTheChildAndWhatItStarted) {
    // The shell prints the id of its own child, then waits for it.
    const TProcessResult result = RunProcess("sh", {"-c", "sleep 30 & echo $!; wait"}, 300ms);
    EXPECT_TRUE(result.TimedOut);
    EXPECT_EQ(result.ExitCode, 128 + SIGKILL);
    const int sleeper = std::stoi(result.Output);
    EXPECT_TRUE(WaitUntilEnded(sleeper, 10s)) << "sleep " << sleeper << " survived";
}

TEST(ProcessTest, DoesNotWaitForOutputOfProcessesLeftBehind) {
    TProcess process;
    // The background sleep keeps the pipe open after the shell itself has ended.
    process.StartCaptured("sh", {"-c", "sleep 30 & echo $!; echo started"});
    ASSERT_TRUE(process.WaitForExit(25s));
    EXPECT_EQ(process.ExitCode(), 0);
    EXPECT_THAT(process.Output(), HasSubstr("started\n"));
    ::kill(std::stoi(process.Output()), SIGKILL);
}

TEST(ProcessTest, OutputBeyondTheLimitIsReadAndDropped) {
    TProcess process;
    process.SetMaxOutputBytes(1000);
    process.StartCaptured("sh", {"-c", "head -c 300000 /dev/zero; echo done >&2"});
    ASSERT_TRUE(process.WaitForExit(30s));
    EXPECT_EQ(process.ExitCode(), 0);
    EXPECT_EQ(process.Output().size(), 1000u);
}

TEST(ProcessTest, ProgramThatCannotStartRaises) {
    EXPECT_THROW(RunProcess("/nonexistent/program", {}, 5s), EProcessError);
    EXPECT_THROW(RunProcess("egaiss-no-such-program-on-path", {}, 5s), EProcessError);
    TProcess process;
    EXPECT_FALSE(process.Started());
    EXPECT_FALSE(process.WaitForExit(10ms));
    process.StartCaptured("true", {});
    EXPECT_THROW(process.StartCaptured("true", {}), EProcessError);
}

TEST(ProcessTest, DestroyingARunningProcessEndsIt) {
    int sleeper = 0;
    {
        TProcess process;
        process.StartCaptured("sh", {"-c", "echo $$; exec sleep 30"});
        while (process.Output().find('\n') == std::string::npos) {
            ASSERT_FALSE(process.WaitForExit(50ms)) << "ended early: " << process.Output();
        }
        sleeper = std::stoi(process.Output());
    }
    EXPECT_TRUE(ProcessEnded(sleeper));
}

TEST(ElevatedProcessTest, RunsTheProgramThroughTheElevatorAndMakesItExecutable) {
    test::TTempDir dir;
    const std::string program = dir.File("setup.sh");
    test::WriteFileText(program, "#!/bin/sh\nprintf '%s|' \"$@\" > '" + dir.File("args") + "'\nexit 7\n");
    std::filesystem::permissions(program,
                                 std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::remove);
    TProcess process;
    ASSERT_TRUE(process.StartElevated({program, R"(/S "a b")", false, {"env"}}));
    ASSERT_TRUE(process.WaitForExit(30s));
    EXPECT_EQ(process.ExitCode(), 7);
    EXPECT_EQ(test::ReadFileText(dir.File("args")), "/S|a b|");
    const auto perms = std::filesystem::status(program).permissions();
    EXPECT_NE(perms & std::filesystem::perms::owner_exec, std::filesystem::perms::none);
    EXPECT_THROW(process.StartElevated({program, "", false, {"env"}}), EProcessError);
}

TEST(ElevatedProcessTest, StartFailureCarriesTheSystemErrorCode) {
    TProcess process;
    try {
        process.StartElevated({"true", "", true, {"/nonexistent/elevator"}});
        FAIL() << "started";
    } catch (const EProcessError& error) {
        EXPECT_EQ(error.SystemError(), ENOENT);
    }
    EXPECT_FALSE(process.Started());
}

TEST(ElevatedProcessTest, CanBeEndedWhileAnotherThreadWaitsForIt) {
    TProcess process;
    ASSERT_TRUE(process.StartElevated({"sleep", "30", false, {"env"}}));
    bool ended = false;
    std::thread waiter([&] { ended = process.WaitForExit(60s); });
    std::this_thread::sleep_for(50ms);
    process.Terminate();
    waiter.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(process.ExitCode(), 128 + SIGKILL);
    process.Terminate();  // nothing left to end
}

TEST(ElevatedProcessTest, DestroyingTheObjectLeavesTheInstallerRunning) {
    test::TTempDir dir;
    int pid = 0;
    {
        TProcess process;
        ASSERT_TRUE(process.StartElevated(
            {"sh", "-c \"echo $$ > '" + dir.File("pid") + "'; exec sleep 30\"", false, {"env"}}));
        while (!std::filesystem::exists(dir.File("pid")) ||
               test::ReadFileText(dir.File("pid")).find('\n') == std::string::npos)
            ASSERT_FALSE(process.WaitForExit(20ms));
        pid = std::stoi(test::ReadFileText(dir.File("pid")));
    }
    EXPECT_FALSE(ProcessEnded(pid));
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(WaitUntilEnded(pid, 30s));
}

}  // namespace
}  // namespace egaiss::platform
