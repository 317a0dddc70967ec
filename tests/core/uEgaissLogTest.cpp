#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <random>
#include <regex>
#include <string_view>
#include <thread>
#include <vector>

#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "core/uVersion.h"
#include "platform/uErrors.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"
#include "platform/uSystem.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using test::ReadFileText;
using test::TScopedEnv;
using test::TTempDataDir;
using test::WriteFileText;

// Local time `age` ago, formatted as the log writes it.
std::string StampAgo(std::chrono::seconds age) {
    const std::time_t when = std::time(nullptr) - age.count();
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool StartsWithStamp(const std::string& line) {
    static constexpr std::string_view Shape = "dddd-dd-dd dd:dd:dd ";
    if (line.size() < Shape.size()) return false;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (Shape[i] == 'd' ? !digit : line[i] != Shape[i]) return false;
    }
    return true;
}

// Each CR LF line of a file without its time stamp; a line without a stamp is marked "~".
std::vector<std::string> LoggedTexts(const std::string& path) {
    std::vector<std::string> texts;
    const std::string content = ReadFileText(path);
    std::size_t start = 0;
    while (start < content.size()) {
        auto end = content.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF at the end of " << path;
            end = content.size();
        }
        const std::string line = content.substr(start, end - start);
        texts.push_back(StartsWithStamp(line) ? line.substr(20) : "~" + line);
        start = end + 2;
    }
    return texts;
}

// What the tail must equal: the whole file decoded, split and cut.
std::string WholeFileTail(const std::string& bytes, int maxLines) {
    const auto lines = SplitTextLines(Utf8ToText(bytes));
    std::string text;
    const std::size_t from = lines.size() > static_cast<std::size_t>(maxLines) ? lines.size() - maxLines : 0;
    for (std::size_t i = from; i < lines.size(); ++i)
        text += lines[i] + "\r\n";
    return text;
}

class LogTest : public ::testing::Test {
protected:
    TTempDataDir FDir;
    std::string LogPath() const { return FDir.File("agent.log"); }
};

TEST_F(LogTest, EachOperationWritesItsLineFormat) {
    LogInfo("started");
    LogDebug("dbg text");
    LogError("failed");
    LogStep("Sync.in_fetch", "http://127.0.0.1:8080/opt/out/1");
    LogStep("Startup.first_sync");
    LogOut("WayBill_v4", "42", "");
    LogOut("WayBill_v4", "43", "sent");
    LogIn("TTNHISTORYF2REG", "7 (dup)");
    const EFileError fileError("Cannot open x");
    LogException("Sync thread", fileError);
    LogException("Scales poll", std::runtime_error("plain"));
    LogException("Startup.after_env", nullptr);
    LogException("Tray", EAgentError("No mapping for the Unicode character exists in the target"));
    WriteLogLine("raw \xD0\x9F text");
    WriteLogLine("massa_k_\xFF\xFE.csv");
    WriteLogLine("first\r\nsecond");

    const std::vector<std::string> expected = {
        "[INFO] started",
        "[DBG] dbg text",
        "[ERR] failed",
        "[STEP] Sync.in_fetch | http://127.0.0.1:8080/opt/out/1",
        "[STEP] Startup.first_sync",
        "[OUT] type=WayBill_v4 id=42 ",
        "[OUT] type=WayBill_v4 id=43 sent",
        "[IN] type=TTNHISTORYF2REG id=7 (dup)",
        "[EXC] Sync thread | EFileError: Cannot open x",
        "[EXC] Scales poll | std::runtime_error: plain",
        "[EXC] Startup.after_env | nil: ",
        "[EXC] Tray | EAgentError: No mapping for the Unicode character exists in the target",
        "[EXC] HINT: Win32 1113 (bad UTF-8 decode, tray Hint ANSI, or non-ASCII path)",
        "raw \xD0\x9F text",
        "massa_k_\xEF\xBF\xBD\xEF\xBF\xBD.csv",
        "first",
        "~second",
    };
    // A text with its own line break continues on a line without a stamp.
    const std::string content = ReadFileText(LogPath());
    EXPECT_EQ(LoggedTexts(LogPath()), expected);
    EXPECT_FALSE(content.starts_with("\xEF\xBB\xBF"));
}

TEST_F(LogTest, BlankTextsWriteNothing) {
    LogInfo("");
    LogInfo(" \t\r\n");
    LogDebug("\x01\x1F");
    LogError("   ");
    WriteLogLine("");
    WriteLogLine("\r\n");
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
    EXPECT_EQ(ReadLogTail(10), "");
}

TEST_F(LogTest, EnvironmentBlockHasSixteenLinesInOrder) {
    {
        const TScopedEnv computer("COMPUTERNAME", "SHOP-PC");
        const TScopedEnv user("USERNAME", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
        const TScopedEnv appData("APPDATA", FDir.File("appdata"));
        LogEnvironment();
    }
    {
        const TScopedEnv computer("COMPUTERNAME", std::nullopt);
        const TScopedEnv user("USERNAME", std::nullopt);
        LogEnvironment();
    }
    const auto texts = LoggedTexts(LogPath());
    ASSERT_EQ(texts.size(), 32u);
    const std::vector<std::string> keys = {
        "agent_version=", "exe=",     "exe_ascii=",     "data_dir=", "data_ascii=", "computer=",
        "user_ascii=",    "APPDATA=", "APPDATA_ascii=", "TEMP=",     "TEMP_short=", "TEMP_ascii=",
        "log=",           "config=",  "ACP=",           "cmd="};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(texts[i].rfind("[ENV] " + keys[i], 0), 0u) << texts[i];
        EXPECT_EQ(texts[i + 16].rfind("[ENV] " + keys[i], 0), 0u) << texts[i + 16];
    }
    EXPECT_EQ(texts[0], std::string("[ENV] agent_version=") + AgentVersion);
    EXPECT_EQ(texts[1], "[ENV] exe=" + platform::ExecutablePath());
    EXPECT_EQ(texts[3], "[ENV] data_dir=" + AgentDataDir());
    EXPECT_EQ(texts[5], "[ENV] computer=SHOP-PC user=\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
    EXPECT_EQ(texts[6], "[ENV] user_ascii=False");
    EXPECT_EQ(texts[7], "[ENV] APPDATA=" + FDir.File("appdata"));
    EXPECT_EQ(texts[12], "[ENV] log=" + LogPath());
    const auto pages = platform::SystemCodePages();
    EXPECT_EQ(texts[14], "[ENV] ACP=" + std::to_string(pages.Ansi) + " OEMCP=" + std::to_string(pages.Oem) +
                             " DefaultSystemCodePage=" + std::to_string(pages.Default8Bit));
    // Without the Windows variables the names come from the system.
    EXPECT_EQ(texts[21], "[ENV] computer=" + platform::ComputerName() + " user=" + platform::UserName());
    EXPECT_EQ(texts[22], "[ENV] user_ascii=True");
}

TEST_F(LogTest, TrimDropsLinesOlderThanADayAndKeepsTheRest) {
    using std::chrono::hours;
    const std::string old = StampAgo(hours(25)) + " [INFO] old";
    const std::string day = StampAgo(hours(23)) + " [INFO] day";
    const std::string now = StampAgo(hours(0)) + " [INFO] now";
    WriteFileText(LogPath(), old + "\r\n" + old + " twice\n" + day + "\r\n  \r\n" + "continued text\r" +
                                 "2024-02-30 10:00:00 not a real date\n" + now);
    TrimLogFile();
    // The file begins with the first kept line's stamp: no byte-order mark, nothing before it.
    EXPECT_EQ(ReadFileText(LogPath()),
              day + "\r\ncontinued text\r\n2024-02-30 10:00:00 not a real date\r\n" + now + "\r\n");
    EXPECT_FALSE(std::filesystem::exists(LogPath() + ".tmp"));
}

TEST_F(LogTest, TrimLeavesAYoungLogUntouched) {
    const std::string content =
        StampAgo(std::chrono::hours(23)) + " a\n\n   \n" + StampAgo(std::chrono::seconds(0)) + " b";
    WriteFileText(LogPath(), content);
    const auto stamp = std::filesystem::file_time_type::clock::now() - std::chrono::hours(5);
    std::filesystem::last_write_time(LogPath(), stamp);
    TrimLogFile();
    EXPECT_EQ(ReadFileText(LogPath()), content);
    EXPECT_EQ(std::filesystem::last_write_time(LogPath()), stamp);
}

TEST_F(LogTest, FailedTrimKeepsTheLog) {
    const std::string content = StampAgo(std::chrono::hours(30)) + " old\r\n";
    WriteFileText(LogPath(), content);
    std::filesystem::create_directory(LogPath() + ".tmp");  // the temporary file cannot be written
    EXPECT_NO_THROW(TrimLogFile());
    EXPECT_EQ(ReadFileText(LogPath()), content);
}

TEST_F(LogTest, UnwritableLogSendsLinesToTheCrashLog) {
    std::filesystem::create_directory(LogPath());
    EXPECT_NO_THROW(LogInfo("kept anyway"));
    EXPECT_NO_THROW(LogException("Ctx", nullptr));
    EXPECT_EQ(LoggedTexts(CrashLogFilePath()),
              (std::vector<std::string>{"[INFO] kept anyway", "[EXC] Ctx | nil: "}));
    EXPECT_EQ(CrashLogFilePath(), FDir.File("agent_crash.log"));
    EXPECT_NO_THROW(TrimLogFile());
    EXPECT_EQ(ReadLogTail(10), "");
}

// Support staff move, delete or replace the log while the agent runs; the next line must land in
// a file at the log's path, never in the moved or deleted one.
TEST_F(LogTest, LinesFollowTheLogPathWhenTheFileIsMovedDeletedOrReplaced) {
    LogInfo("first");
    std::filesystem::rename(LogPath(), FDir.File("agent.old.log"));
    LogInfo("after move");
    EXPECT_EQ(LoggedTexts(FDir.File("agent.old.log")), std::vector<std::string>{"[INFO] first"});
    EXPECT_EQ(LoggedTexts(LogPath()), std::vector<std::string>{"[INFO] after move"});

    std::filesystem::remove(LogPath());
    LogInfo("after delete");
    EXPECT_EQ(LoggedTexts(LogPath()), std::vector<std::string>{"[INFO] after delete"});

    WriteFileText(LogPath() + ".new", "edited\r\n");
    std::filesystem::rename(LogPath() + ".new", LogPath());
    LogInfo("after replace");
    EXPECT_EQ(LoggedTexts(LogPath()), (std::vector<std::string>{"~edited", "[INFO] after replace"}));

    std::filesystem::remove_all(FDir.Path());
    LogInfo("folder gone");
    EXPECT_EQ(LoggedTexts(LogPath()), std::vector<std::string>{"[INFO] folder gone"});
}

TEST_F(LogTest, TailReturnsTheLastLines) {
    EXPECT_EQ(ReadLogTail(300), "");  // no log yet
    std::string content;
    std::string last300;
    std::string last200;
    for (int i = 1; i <= 1000; ++i) {
        const std::string line = "2030-01-01 00:00:00 [INFO] line " + std::to_string(i) + "\r\n";
        content += line;
        if (i > 700) last300 += line;
        if (i > 800) last200 += line;
    }
    WriteFileText(LogPath(), content);
    EXPECT_EQ(ReadLogTail(300), last300);
    EXPECT_EQ(ReadLogTail(0), last200);
    EXPECT_EQ(ReadLogTail(5000), content);
}

TEST_F(LogTest, TailMatchesWholeFileSplitAtEveryBlockBoundary) {
    std::vector<std::string> inputs = {
        "",
        "one line without break",
        "\r\n",
        "\n\n\n",
        "\r\r\n\n\r",
        "a\r\nb\nc\rd",
        "a\r\nb\nc\rd\r\n",
        "\xD0\x9F\xD1\x80\xD0\xB8\r\n\xE2\x82\xAC\xE2\x82\xAC\n\xF0\x9F\x98\x80\r",
        "bad \xC3(\r\ncut at end \xE2\x82",
        "cut before break \xE2\x82\r\n\xA9 stray\n",
        std::string("\xEF\xBB\xBF") + "bom line\r\nnext",
    };
    std::mt19937 random(20240607);
    const std::string alphabet[] = {
        "a", "b", "\r", "\n", "\r\n", "\xD0\x9F", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE2", "\x80"};
    for (int n = 0; n < 200; ++n) {
        std::string text;
        const int pieces = static_cast<int>(random() % 40);
        for (int i = 0; i < pieces; ++i)
            text += alphabet[random() % std::size(alphabet)];
        inputs.push_back(text);
    }
    const std::string path = FDir.File("tail.txt");
    for (const auto& input : inputs) {
        WriteFileText(path, input);
        for (const std::size_t blockSize : {1u, 2u, 3u, 4u, 5u, 7u, 16u, 65536u}) {
            for (const int maxLines : {1, 2, 3, 5, 1000}) {
                ASSERT_EQ(ReadFileTail(path, maxLines, blockSize), WholeFileTail(input, maxLines))
                    << "input " << testing::PrintToString(input) << " block " << blockSize << " lines "
                    << maxLines;
            }
        }
    }
}

// Four writers, a reader and an outside program that keeps adding stale lines while trims run:
// every written line must end up in the file exactly once.
TEST_F(LogTest, ConcurrentWritersLoseNothingWhileTrimsRun) {
    constexpr int Writers = 4;
    constexpr int LinesEach = 10000;
    const std::string stale = StampAgo(std::chrono::hours(48)) + " [INFO] stale\r\n";
    WriteFileText(LogPath(), stale + stale);

    std::atomic<int> running{Writers};
    std::atomic<int> rewrites{0};
    std::vector<std::thread> threads;
    threads.reserve(Writers + 2);
    for (int w = 0; w < Writers; ++w) {
        threads.emplace_back([w, &running] {
            for (int n = 0; n < LinesEach; ++n)
                LogInfo("w=" + std::to_string(w) + " n=" + std::to_string(n));
            --running;
        });
    }
    threads.emplace_back([&] {
        while (running > 0) {
            platform::AppendToFile(LogPath(), stale);
            TrimLogFile();
            if (ReadFileText(LogPath()).find(" stale") == std::string::npos) ++rewrites;
        }
    });
    threads.emplace_back([&] {
        while (running > 0) {
            const auto lines = SplitTextLines(ReadLogTail(20));
            for (const auto& line : lines) {
                if (!StartsWithStamp(line)) ADD_FAILURE() << "torn line: " << line;
            }
        }
    });
    for (auto& thread : threads)
        thread.join();
    TrimLogFile();

    EXPECT_GT(rewrites.load(), 0);
    std::vector<std::vector<int>> seen(Writers, std::vector<int>(LinesEach, 0));
    for (const auto& text : LoggedTexts(LogPath())) {
        int w = -1;
        int n = -1;
        char end = 0;
        ASSERT_EQ(std::sscanf(text.c_str(), "[INFO] w=%d n=%d%c", &w, &n, &end), 2) << text;
        ASSERT_TRUE(w >= 0 && w < Writers && n >= 0 && n < LinesEach) << text;
        ++seen[w][n];
    }
    for (int w = 0; w < Writers; ++w) {
        for (int n = 0; n < LinesEach; ++n)
            ASSERT_EQ(seen[w][n], 1) << "w=" << w << " n=" << n;
    }
}

// Runs in a fresh process, so this is the log's first use there.
TEST(LogStartTest, FirstUseTrimsOnceBeforeWritingThenWaitsHalfAnHour) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto firstUse = [] {
        bool ok = false;
        {
            const TTempDataDir dir;
            const std::string path = LogFilePath();
            WriteFileText(path, StampAgo(std::chrono::hours(25)) + " old\r\n");
            LogInfo("first");
            const std::string afterFirst = ReadFileText(path);
            platform::AppendToFile(path, StampAgo(std::chrono::hours(25)) + " old again\r\n");
            LogInfo("second");
            const std::string afterSecond = ReadFileText(path);
            ok = afterFirst.find(" old") == std::string::npos && afterFirst.find("[INFO] first") == 20 &&
                 afterSecond.find(" old again") != std::string::npos;
        }
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(firstUse(), ::testing::ExitedWithCode(0), "");
}

TEST_F(LogTest, TempFilePathAndTextFileHelpers) {
    const std::string xml = MakeTempFilePath("velmora_egaiss_", "xml");
    EXPECT_TRUE(std::regex_match(xml, std::regex(".*/velmora_egaiss_[0-9A-F]{8}\\.xml")));
    EXPECT_EQ(Utf8Path(xml).parent_path(), Utf8Path(FDir.Path()));
    EXPECT_FALSE(std::filesystem::exists(xml));
    EXPECT_TRUE(std::regex_match(MakeTempFilePath("p", ".tmp"), std::regex(".*/p[0-9A-F]{8}\\.tmp")));
    EXPECT_TRUE(std::regex_match(MakeTempFilePath("p", ""), std::regex(".*/p[0-9A-F]{8}")));
    WriteFileText(xml, "taken");
    EXPECT_NE(MakeTempFilePath("velmora_egaiss_", "xml"), xml);

    const std::string file = FDir.File("sub/folder/out.txt");
    WriteUtf8TextFile(file, "\xD0\x9F\r\n", false);
    WriteUtf8TextFile(file, "tail", true);
    EXPECT_EQ(ReadFileText(file), "\xD0\x9F\r\ntail");
    WriteUtf8TextFile(file, "new", false);
    EXPECT_EQ(ReadFileText(file), "new");
    EXPECT_THROW(WriteUtf8TextFile(FDir.File("sub/folder/out.txt/inner"), "x", false), EFileError);
}

}  // namespace
}  // namespace egaiss
