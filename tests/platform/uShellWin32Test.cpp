#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/uShell.h"
#include "support/uTestChild.h"
#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

using namespace std::chrono_literals;

TEST(ShellWin32Test, StartDetachedRunsTheProgramWithItsArguments) {
    test::TTempDir dir;
    const std::string out = dir.File("out.txt");
    ASSERT_TRUE(StartDetached(test::TestChildPath(), {"write", out, "hello world"}));
    std::string text;
    for (int i = 0; i < 200 && text.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
        try {
            text = test::ReadFileText(out);
        } catch (const std::exception&) {
        }
    }
    EXPECT_EQ(text, "hello world");
}

TEST(ShellWin32Test, ReportsWhatCannotBeStartedOrOpened) {
    test::TTempDir dir;
    EXPECT_FALSE(StartDetached(dir.File("missing.exe"), {}));
    EXPECT_FALSE(StartDetached("", {}));
    EXPECT_FALSE(OpenWithDesktop(dir.File("missing.txt")));
}

}  // namespace
}  // namespace egaiss::platform
