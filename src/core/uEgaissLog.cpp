#include "core/uEgaissLog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/uEgaissConfig.h"
#include "core/uEgaissRu.h"
#include "core/uVersion.h"
#include "platform/uErrors.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"
#include "platform/uSystem.h"

namespace egaiss {
namespace {

constexpr const char* LogFileName = "agent.log";
constexpr const char* CrashLogFileName = "agent_crash.log";
constexpr const char* UnicodeMappingFailure = "No mapping for the Unicode character";
constexpr const char* UnicodeMappingHint =
    "[EXC] HINT: Win32 1113 (bad UTF-8 decode, tray Hint ANSI, or non-ASCII path)";
constexpr int DefaultTailLines = 200;
constexpr std::size_t DefaultTailBlock = std::size_t{64} * 1024;
constexpr std::int64_t KeepSeconds = 24LL * 60 * 60;
constexpr auto TrimInterval = std::chrono::minutes(30);
constexpr std::size_t TimestampLength = 19;
constexpr std::size_t MaxShortPathLength = 260;

using TSteadyClock = std::chrono::steady_clock;

struct TLogState {
    std::recursive_mutex Lock;
    // Steady-clock ticks of the last trim; read and set without the lock.
    std::atomic<TSteadyClock::rep> LastTrim{0};
    std::atomic<bool> Started{false};
    // Used under the lock.
    platform::TFileAppender Appender;
    // The log's path resolved for this data folder: resolving copies legacy files, a file-system
    // probe that is due again only when the data folder changes.
    std::string ResolvedFor;
    std::string Path;
};

// Never destroyed: threads that are still logging while the process ends must find it alive.
TLogState& State() {
    static TLogState* state = new TLogState;
    return *state;
}

std::string FormatTimestamp(const std::tm& t) {
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

// Lines come in bursts; each thread formats the local time once per second.
const std::string& TimestampNow() {
    thread_local std::time_t stampedSecond = -1;
    thread_local std::string stamp;
    const std::time_t now = std::time(nullptr);
    if (now != stampedSecond) {
        stamp = FormatTimestamp(platform::LocalTime(now));
        stampedSecond = now;
    }
    return stamp;
}

// Local wall-clock time as seconds on a naive calendar, so that stamps from the file and "now"
// compare as the dates and times they read as.
std::int64_t WallSeconds(int year, unsigned month, unsigned day, int hour, int minute, int second) {
    const std::chrono::sys_days days{std::chrono::year{year} / std::chrono::month{month} /
                                     std::chrono::day{day}};
    const std::int64_t seconds = ((std::int64_t{hour} * 60) + minute) * 60 + second;
    return std::int64_t{days.time_since_epoch().count()} * 86400 + seconds;
}

std::int64_t WallSecondsNow() {
    const std::tm t = platform::LocalTime(std::time(nullptr));
    return WallSeconds(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                       static_cast<unsigned>(t.tm_mday), t.tm_hour, t.tm_min, t.tm_sec);
}

// The time of a line that starts with "yyyy-mm-dd hh:nn:ss", or nothing for any other line.
std::optional<std::int64_t> LineTimestamp(std::string_view line) {
    if (line.size() < TimestampLength) return std::nullopt;
    if (line[4] != '-' || line[7] != '-' || line[10] != ' ' || line[13] != ':' || line[16] != ':') {
        return std::nullopt;
    }
    bool digits = true;
    const auto number = [&](std::size_t from, std::size_t count) {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            const char c = line[i];
            if (c < '0' || c > '9') digits = false;
            value = value * 10 + (c - '0');
        }
        return value;
    };
    const int year = number(0, 4);
    const int month = number(5, 2);
    const int day = number(8, 2);
    const int hour = number(11, 2);
    const int minute = number(14, 2);
    const int second = number(17, 2);
    if (!digits || year < 1 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) return std::nullopt;
    return WallSeconds(year, static_cast<unsigned>(month), static_cast<unsigned>(day), hour, minute, second);
}

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(Utf8Path(path), error);
}

std::string JoinCrLf(const std::vector<std::string>& lines, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < lines.size(); ++i) {
        text += lines[i];
        text += "\r\n";
    }
    return text;
}

std::string AsciiFlag(const std::string& text) {
    return BoolText(IsAsciiText(text));
}

void TrimWhenDue() {
    auto& state = State();
    const auto now = TSteadyClock::now().time_since_epoch().count();
    auto last = state.LastTrim.load();
    if (TSteadyClock::duration(now - last) < TrimInterval) return;
    // Whoever claims the slot trims; a thread that lost the race has nothing left to do.
    if (state.LastTrim.compare_exchange_strong(last, now)) TrimLogFile();
}

// The first use of the log trims it once before anything is written. Other threads wait on the
// lock meanwhile; a line logged from inside that trim (same thread) finds the flag already set.
void EnsureStarted() {
    auto& state = State();
    if (state.Started.load(std::memory_order_acquire)) return;
    const std::lock_guard lock(state.Lock);
    if (state.Started.load(std::memory_order_relaxed)) return;
    state.LastTrim = TSteadyClock::now().time_since_epoch().count();
    state.Started.store(true, std::memory_order_release);
    TrimLogFile();
}

// Spaces and control characters alone make no line.
bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 33; });
}

// The log's path for the current data folder. Under the log lock.
const std::string& CurrentLogPath(TLogState& state) {
    std::string folder = DataDirLocation();
    if (state.Path.empty() || state.ResolvedFor != folder) {
        state.Path = DataFilePath(LogFileName);
        state.ResolvedFor = std::move(folder);
    }
    return state.Path;
}

// One line: the time stamp and the parts, put together once. File names and peer answers reach
// log lines as raw bytes; the log stays UTF-8 anyway.
void WriteLine(std::initializer_list<std::string_view> parts) {
    try {
        EnsureStarted();
        std::size_t size = TimestampLength + 3;
        for (const std::string_view part : parts)
            size += part.size();
        std::string line;
        line.reserve(size);
        line.append(TimestampNow()).append(1, ' ');
        for (const std::string_view part : parts)
            AppendUtf8Text(line, part);
        line.append("\r\n");
        try {
            auto& state = State();
            const std::lock_guard lock(state.Lock);
            state.Appender.Append(CurrentLogPath(state), line);
        } catch (...) {
            try {
                WriteUtf8TextFile(CrashLogFilePath(), line, true);
            } catch (...) {
            }
        }
        TrimWhenDue();
    } catch (...) {
    }
}

// A line whose tag is followed by a text that may be blank, in which case nothing is written.
void WriteTagged(std::string_view tag, std::string_view text) {
    if (!IsBlank(text)) WriteLine({tag, text});
}

}  // namespace

void WriteLogLine(const std::string& text) {
    WriteTagged({}, text);
}

void LogInfo(const std::string& text) {
    WriteTagged("[INFO] ", text);
}

void LogDebug(const std::string& text) {
    WriteTagged("[DBG] ", text);
}

void LogError(const std::string& text) {
    WriteTagged("[ERR] ", text);
}

void LogStep(const std::string& step, const std::string& detail) {
    if (detail.empty()) {
        WriteLine({"[STEP] ", step});
    } else {
        WriteLine({"[STEP] ", step, " | ", detail});
    }
}

void LogException(const std::string& context, const std::exception* error) {
    try {
        const std::string className = error != nullptr ? ExceptionClassName(*error) : "nil";
        const std::string_view message = error != nullptr ? error->what() : "";
        WriteLine({"[EXC] ", context, " | ", className, ": ", message});
        if (error != nullptr && message.find(UnicodeMappingFailure) != std::string_view::npos) {
            WriteLine({UnicodeMappingHint});
        }
    } catch (...) {
    }
}

void LogOut(const std::string& docType, const std::string& docId, const std::string& extra) {
    WriteLine({"[OUT] type=", docType, " id=", docId, " ", extra});
}

void LogIn(const std::string& docType, const std::string& docId) {
    WriteLine({"[IN] type=", docType, " id=", docId});
}

void LogEnvironment() {
    try {
        const auto variable = [](const char* name) {
            return platform::EnvironmentVariable(name).value_or("");
        };
        // Outside Windows these variables are normally unset; the system still knows both names.
        const std::string computer =
            platform::EnvironmentVariable("COMPUTERNAME").value_or(platform::ComputerName());
        const std::string user = platform::EnvironmentVariable("USERNAME").value_or(platform::UserName());
        const std::string exe = platform::ExecutablePath();
        const std::string dataDir = AgentDataDir();
        const std::string appData = variable("APPDATA");
        const std::string temp = platform::TempFolder();
        const platform::TCodePages pages = platform::SystemCodePages();
        char codePages[96];
        std::snprintf(codePages, sizeof codePages, "[ENV] ACP=%d OEMCP=%d DefaultSystemCodePage=%d",
                      pages.Ansi, pages.Oem, pages.Default8Bit);

        WriteLogLine(std::string("[ENV] agent_version=") + AgentVersion);
        WriteLogLine("[ENV] exe=" + exe);
        WriteLogLine("[ENV] exe_ascii=" + AsciiFlag(exe));
        WriteLogLine("[ENV] data_dir=" + dataDir);
        WriteLogLine("[ENV] data_ascii=" + AsciiFlag(dataDir));
        WriteLogLine("[ENV] computer=" + computer + " user=" + user);
        WriteLogLine("[ENV] user_ascii=" + AsciiFlag(user));
        WriteLogLine("[ENV] APPDATA=" + appData);
        WriteLogLine("[ENV] APPDATA_ascii=" + AsciiFlag(appData));
        WriteLogLine("[ENV] TEMP=" + temp);
        WriteLogLine("[ENV] TEMP_short=" + ShortPathOf(temp));
        WriteLogLine("[ENV] TEMP_ascii=" + AsciiFlag(temp));
        WriteLogLine("[ENV] log=" + LogFilePath());
        WriteLogLine("[ENV] config=" + ConfigFilePath());
        WriteLogLine(codePages);
        WriteLogLine("[ENV] cmd=" + platform::CommandLine());
    } catch (...) {
    }
}

std::string ReadFileTail(const std::string& path, int maxLines, std::size_t blockSize) {
    if (maxLines <= 0) return {};
    if (blockSize == 0) blockSize = DefaultTailBlock;
    std::ifstream file(Utf8Path(path), std::ios::binary);
    if (!file) throw EFileError("Cannot open " + path);
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    if (end < 0) throw EFileError("Cannot read " + path);
    const auto size = static_cast<std::uint64_t>(end);

    // Walk back block by block, counting the places where a line starts: after an LF, or after a
    // CR that no LF follows. The end of the file starts no line.
    std::vector<std::string> blocks;  // newest first
    std::uint64_t blockStart = size;
    std::uint64_t firstLine = size;
    int found = 0;
    int byteAfterBlock = -1;
    while (found < maxLines && blockStart > 0) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, blockStart));
        blockStart -= count;
        std::string block(count, '\0');
        file.seekg(static_cast<std::streamoff>(blockStart));
        file.read(block.data(), static_cast<std::streamsize>(count));
        if (static_cast<std::size_t>(file.gcount()) != count) throw EFileError("Cannot read " + path);
        for (std::size_t i = count; i-- > 0 && found < maxLines;) {
            const std::uint64_t start = blockStart + i + 1;
            if (start >= size) continue;
            const char c = block[i];
            const int next = i + 1 < count ? static_cast<unsigned char>(block[i + 1]) : byteAfterBlock;
            if (c == '\n' || (c == '\r' && next != '\n')) {
                ++found;
                firstLine = start;
            }
        }
        byteAfterBlock = static_cast<unsigned char>(block[0]);
        blocks.push_back(std::move(block));
    }
    if (found < maxLines && size > 0) firstLine = 0;

    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size - blockStart));
    for (auto block = blocks.rbegin(); block != blocks.rend(); ++block)
        bytes += *block;
    bytes.erase(0, static_cast<std::size_t>(firstLine - blockStart));

    // A line start is also where UTF-8 decoding starts afresh, so decoding just this part gives
    // the same text as decoding the whole file.
    const std::vector<std::string> lines = SplitTextLines(Utf8ToText(bytes));
    const std::size_t from = lines.size() > static_cast<std::size_t>(maxLines) ? lines.size() - maxLines : 0;
    return JoinCrLf(lines, from);
}

std::string ReadLogTail(int maxLines) {
    try {
        if (maxLines <= 0) maxLines = DefaultTailLines;
        const std::lock_guard lock(State().Lock);
        const std::string path = LogFilePath();
        if (!IsRegularFile(path)) return {};
        return ReadFileTail(path, maxLines);
    } catch (...) {
        return {};
    }
}

void TrimLogFile() {
    std::string temporary;
    try {
        auto& state = State();
        // Held from reading to replacing, so that no line appended meanwhile is lost.
        const std::lock_guard lock(state.Lock);
        const std::string path = CurrentLogPath(state);
        if (!IsRegularFile(path)) return;
        const std::int64_t cutoff = WallSecondsNow() - KeepSeconds;

        const std::string text = Utf8ToText(platform::ReadWholeFile(path));
        if (text.empty()) return;
        std::vector<std::string> kept;
        int dropped = 0;
        for (auto& line : SplitTextLines(text)) {
            if (IsBlank(line)) continue;
            const auto stamp = LineTimestamp(line);
            if (stamp && *stamp < cutoff) {
                ++dropped;
                continue;
            }
            kept.push_back(std::move(line));
        }
        if (dropped == 0) return;

        temporary = path + ".tmp";
        state.Appender.Replace(path, temporary, JoinCrLf(kept, 0));
    } catch (...) {
        if (!temporary.empty()) {
            std::error_code ignored;
            std::filesystem::remove(Utf8Path(temporary), ignored);
        }
    }
}

std::string LogFilePath() {
    auto& state = State();
    const std::lock_guard lock(state.Lock);
    return CurrentLogPath(state);
}

std::string CrashLogFilePath() {
    return JoinPath(AgentDataDir(), CrashLogFileName);
}

std::string ShortPathOf(const std::string& path) {
    try {
        std::string shortPath = platform::ShortPath(path);
        if (!shortPath.empty() && TextLength(shortPath) < MaxShortPathLength) return shortPath;
    } catch (...) {
    }
    return path;
}

std::string MakeTempFilePath(const std::string& prefix, const std::string& extension) {
    const std::string ext = (extension.empty() || extension[0] == '.') ? extension : "." + extension;

    std::string folder = AgentDataDir();  // created when missing
    if (!IsAsciiText(folder)) folder = ShortPathOf(folder);
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(Utf8Path(folder), error)) {
#ifdef _WIN32
        folder = "C:\\Windows\\Temp";
#else
        folder = platform::TempFolder();
#endif
        std::filesystem::create_directories(Utf8Path(folder), error);
        if (error) throw EFileError("Cannot create folder " + folder + ": " + error.message());
    }

    auto value = platform::TickCountMs() ^ platform::ProcessId();
    for (;;) {
        char name[16];
        std::snprintf(name, sizeof name, "%08X", static_cast<unsigned>(value));
        std::string fileName = prefix;
        fileName += name;
        fileName += ext;
        std::string path = JoinPath(folder, fileName);
        // Two calls within one millisecond would otherwise get the same name.
        if (!std::filesystem::exists(Utf8Path(path), error)) return path;
        ++value;
    }
}

void WriteUtf8TextFile(const std::string& path, const std::string& text, bool append) {
    if (append) {
        platform::AppendToFile(path, text);
    } else {
        platform::WriteWholeFile(path, text);
    }
}

}  // namespace egaiss
