#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/uEgaissConfig.h"
#include "support/uScopedEnv.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

TEST(ConfigPosixTest, SavedSettingsAreReadableByTheOwnerOnly) {
    test::TTempDir home;
    const test::TScopedEnv xdg("XDG_CONFIG_HOME", home.Path());
    const test::TTempDataDir data;
    SaveConfigText("agent_secret=S", false);
    struct stat info {};
    ASSERT_EQ(::stat(data.File("agent.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace egaiss
