#include <gtest/gtest.h>

#include "platform/uAutostart.h"
#include "platform/uSystem.h"
#include "support/uScopedEnv.h"
#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

TEST(AutostartPosixTest, DesktopEntryUnderTheConfigFolderStartsTheQuotedProgram) {
    test::TTempDir home;
    const test::TScopedEnv xdg("XDG_CONFIG_HOME", home.Path());
    EXPECT_EQ(AutostartEntryLocation(), home.File("autostart/VelmoraEgaissAgent.desktop"));

    WriteAutostartEntry("/opt/a \"b\"/$x");
    const std::string desktop = test::ReadFileText(AutostartEntryLocation());
    EXPECT_EQ(desktop.rfind("[Desktop Entry]\n", 0), 0u) << desktop;
    EXPECT_EQ(AutostartEntryCommand(), "\"/opt/a \\\"b\\\"/\\$x\"");
    RemoveAutostartEntry();
    EXPECT_FALSE(AutostartEntryCommand());
}

}  // namespace
}  // namespace egaiss::platform
