#include "platform/uShell.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

// The started program writes its answer into the file when it is done.
std::string WaitForFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(path + ".done")) return test::ReadFileText(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "timed out";
}

TEST(StartDetachedTest, StartsAProgramThatIsNoChildAndInheritsNoFiles) {
    test::TTempDir dir;
    // A descriptor the caller left inheritable must not reach the program.
    const int leaked = ::open(dir.File("held.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(leaked, 0);
    const int high = ::dup2(leaked, 57);
    ASSERT_EQ(high, 57);
    const std::string out = dir.File("answer.txt");
    const std::string script =
        "if [ -e /proc/$$/fd/57 ]; then r=inherited; else r=closed; fi; "
        "read line </dev/stdin && r=\"$r stdin\"; echo \"$1 $r\" > \"$2\"; touch \"$2.done\"";
    ASSERT_TRUE(StartDetached("sh", {"-c", script, "sh", "hello world", out}));
    ::close(leaked);
    ::close(high);

    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "nothing is left to reap";
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(WaitForFile(out), "hello world closed\n");
}

TEST(StartDetachedTest, ReportsAProgramThatCannotStart) {
    test::TTempDir dir;
    EXPECT_FALSE(StartDetached(dir.File("no-such-program"), {}));
    test::WriteFileText(dir.File("not-executable"), "#!/bin/sh\n");
    EXPECT_FALSE(StartDetached(dir.File("not-executable"), {}));
    EXPECT_FALSE(StartDetached("", {}));
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace egaiss::platform
