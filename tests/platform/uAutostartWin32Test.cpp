#include <gtest/gtest.h>

#include "platform/uAutostart.h"

namespace egaiss::platform {
namespace {

// Writes the current user's Run key: run it only in a Windows (or Wine) profile made for tests.
TEST(AutostartWin32Test, RunValueStartsTheQuotedProgramAndGoesAway) {
    EXPECT_EQ(AutostartEntryLocation(),
              "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\VelmoraEgaissAgent");
    const std::string program =
        "C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3 \xD0\x9C\xD0\xB0\xD0\xB3\\agent.exe";  // with a space
    WriteAutostartEntry(program);
    EXPECT_EQ(AutostartEntryCommand(), "\"" + program + "\"");
    WriteAutostartEntry("C:\\b.exe");
    EXPECT_EQ(AutostartEntryCommand(), "\"C:\\b.exe\"");
    RemoveAutostartEntry();
    EXPECT_FALSE(AutostartEntryCommand());
    RemoveAutostartEntry();
}

}  // namespace
}  // namespace egaiss::platform
