#include "platform/uProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace egaiss::platform {
namespace {

using ::testing::ElementsAre;

TEST(CommandLineTest, SplitsTheWayTheWindowsRuntimeDoes) {
    EXPECT_THAT(SplitCommandLine("  /S  /D=x\t-q "), ElementsAre("/S", "/D=x", "-q"));
    EXPECT_THAT(SplitCommandLine(R"(/i "C:\Program Files\a.msi" /quiet)"),
                ElementsAre("/i", "C:\\Program Files\\a.msi", "/quiet"));
    EXPECT_THAT(SplitCommandLine(R"(a\\"b c" d\"e "" "x""y")"), ElementsAre("a\\b c", "d\"e", "", "x\"y"));
    EXPECT_THAT(SplitCommandLine(R"(dir\sub\)"), ElementsAre("dir\\sub\\"));
    EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

}  // namespace
}  // namespace egaiss::platform
