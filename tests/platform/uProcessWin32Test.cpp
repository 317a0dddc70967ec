#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/uProcess.h"
#include "support/uTestChild.h"
#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

using namespace std::chrono_literals;
using test::TestChildPath;

// Waits up to `limit` for another process to end; true when it has.
bool ProcessEnds(DWORD pid, std::chrono::milliseconds limit) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return true;
    const bool ended = WaitForSingleObject(process, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

TEST(ProcessWin32Test, PassesArgumentsUnchangedAndGivesTheExitCode) {
    const TProcessResult echoed =
        RunProcess(TestChildPath(), {"echo", "a b", "c\"d", "", "e\\", "f\\\\\"g", "\xD0\xAF"}, 30s);
    EXPECT_EQ(echoed.ExitCode, 0);
    EXPECT_EQ(echoed.Output, "[a b]\n[c\"d]\n[]\n[e\\]\n[f\\\\\"g]\n[\xD0\xAF]\n");
    EXPECT_EQ(RunProcess(TestChildPath(), {"exit", "3"}, 30s).ExitCode, 3);
}

TEST(ProcessWin32Test, OutputBeyondTheLimitIsReadAndDropped) {
    TProcess process;
    process.SetMaxOutputBytes(1000);
    process.StartCaptured(TestChildPath(), {"flood", "300000"});
    ASSERT_TRUE(process.WaitForExit(30s));
    EXPECT_EQ(process.ExitCode(), 0);
    EXPECT_EQ(process.Output(), std::string(1000, 'x'));
}

TEST(ProcessWin32Test, TimeOutAndTerminateEndTheChildAndWhatItStarted) {
    const TProcessResult slow = RunProcess(TestChildPath(), {"sleep", "30000"}, 300ms);
    EXPECT_TRUE(slow.TimedOut);

    test::TTempDir dir;
    TProcess process;
    process.StartCaptured(TestChildPath(), {"spawn", dir.File("pid")});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (process.Output().find("started") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        process.WaitForExit(100ms);
    std::string pid;
    while (pid.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        try {
            pid = test::ReadFileText(dir.File("pid"));
        } catch (const std::exception&) {
        }
    }
    ASSERT_FALSE(pid.empty()) << process.Output();
    process.Terminate();
    EXPECT_TRUE(process.ExitCode());
    EXPECT_TRUE(ProcessEnds(static_cast<DWORD>(std::stoul(pid)), 10s));
}

TEST(ProcessWin32Test, MissingProgramRaisesWithTheSystemError) {
    TProcess process;
    try {
        process.StartCaptured(TestChildPath() + ".missing", {});
        FAIL() << "started a missing program";
    } catch (const EProcessError& error) {
        EXPECT_EQ(error.SystemError(), ERROR_FILE_NOT_FOUND);
    }
}

// Wine has no elevation prompt: "runas" starts the program at once, which is what can be checked here.
TEST(ProcessWin32Test, ElevatedStartIsTrackedToItsExitCode) {
    TProcess process;
    ASSERT_TRUE(process.StartElevated({TestChildPath(), "exit 7", false, {}}));
    ASSERT_TRUE(process.WaitForExit(30s));
    EXPECT_EQ(process.ExitCode(), 7);
}

}  // namespace
}  // namespace egaiss::platform
