#include "platform/uFileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/uErrors.h"
#include "platform/uInstanceLock.h"
#include "platform/uPath.h"
#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

using namespace std::chrono_literals;

TEST(FileSystemTest, AtomicWriteReplacesTheWholeFileAndLeavesNothingElse) {
    test::TTempDir dir;
    const std::string path = dir.File("agent.ini");
    WriteFileAtomically(path, std::string(100000, 'o'));
    WriteFileAtomically(path, "new");
    EXPECT_EQ(ReadWholeFile(path), "new");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Utf8Path(dir.Path())))
        ++entries;
    EXPECT_EQ(entries, 1);
    EXPECT_THROW(WriteFileAtomically(dir.File("agent.ini/inner"), "x"), EFileError);
}

TEST(FileSystemTest, AppenderFollowsALogRenamedOrDeletedMeanwhile) {
    test::TTempDir dir;
    const std::string log = dir.File("agent.log");
    TFileAppender appender;
    appender.Append(log, "a");
    std::filesystem::rename(Utf8Path(log), Utf8Path(log + ".old"));
    appender.Append(log, "b");
    std::filesystem::remove(Utf8Path(log));
    appender.Append(log, "c");
    appender.Append(log, "d");
    EXPECT_EQ(ReadWholeFile(log + ".old"), "a");
    EXPECT_EQ(ReadWholeFile(log), "cd");
}

// The trim's replacement and a folder the first append had to create are followed like any file.
TEST(FileSystemTest, AppenderFollowsAReplacedLogAndOneInANewFolder) {
    test::TTempDir dir;
    const std::string log = dir.File("agent.log");
    TFileAppender appender;
    appender.Append(log, "old");
    appender.Replace(log, log + ".tmp", "kept");
    appender.Append(log, "a");
    EXPECT_EQ(ReadWholeFile(log), "kepta");
    EXPECT_FALSE(std::filesystem::exists(Utf8Path(log + ".tmp")));
    std::filesystem::rename(Utf8Path(log), Utf8Path(log + ".old"));
    appender.Append(log, "b");
    EXPECT_EQ(ReadWholeFile(log), "b");

    const std::string nested = dir.File("new/agent.log");
    appender.Append(nested, "c");
    std::filesystem::rename(Utf8Path(nested), Utf8Path(nested + ".old"));
    appender.Append(nested, "d");
    EXPECT_EQ(ReadWholeFile(nested), "d");
}

TEST(InstanceLockTest, OneHolderAtATimeUntilItGoes) {
    test::TTempDir dir;
    const std::string path = dir.File("agent.lock");
    TInstanceLock second(path);
    {
        TInstanceLock first(path);
        ASSERT_TRUE(first.Acquire(0ms));
        EXPECT_TRUE(first.Held());
        EXPECT_FALSE(second.Acquire(100ms));
        EXPECT_FALSE(second.Held());
    }
    EXPECT_TRUE(second.Acquire(1000ms));
    EXPECT_THROW(TInstanceLock(dir.File("no/such/folder/agent.lock")).Acquire(0ms), EFileError);
}

}  // namespace
}  // namespace egaiss::platform
