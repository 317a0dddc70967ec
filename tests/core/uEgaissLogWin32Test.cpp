#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "core/uEgaissLog.h"
#include "platform/uPath.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

std::string ReadIfExists(const std::string& path) {
    return std::filesystem::exists(Utf8Path(path)) ? test::ReadFileText(path) : std::string();
}

// Another program's handle on agent.log, opened as text editors open it.
class TForeignReader {
public:
    TForeignReader(const std::string& path, DWORD share)
        : FHandle(CreateFileW(Utf8Path(path).wstring().c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~TForeignReader() {
        if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
    }
    TForeignReader(const TForeignReader&) = delete;
    TForeignReader& operator=(const TForeignReader&) = delete;

    bool IsOpen() const { return FHandle != INVALID_HANDLE_VALUE; }

private:
    HANDLE FHandle;
};

TEST(LogWin32Test, ALogHeldOpenByAnotherProgramGetsItsLinesOrTheyGoToTheCrashLog) {
    const test::TTempDataDir dir;
    test::WriteFileText(LogFilePath(), "");
    {
        // Most editors let others go on writing: the lines still reach agent.log.
        const TForeignReader editor(LogFilePath(), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        ASSERT_TRUE(editor.IsOpen());
        LogInfo("while an editor reads");
    }
    EXPECT_NE(test::ReadFileText(LogFilePath()).find("[INFO] while an editor reads"), std::string::npos);

    const test::TTempDataDir other;
    test::WriteFileText(LogFilePath(), "");
    {
        // One that lets others only read keeps the agent out of agent.log: the line is not lost.
        const TForeignReader strict(LogFilePath(), FILE_SHARE_READ);
        ASSERT_TRUE(strict.IsOpen());
        LogInfo("while a strict reader reads");
    }
    EXPECT_NE(
        (ReadIfExists(LogFilePath()) + ReadIfExists(CrashLogFilePath())).find("while a strict reader reads"),
        std::string::npos);
}

}  // namespace
}  // namespace egaiss
