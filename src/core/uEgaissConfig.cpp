#include "core/uEgaissConfig.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <mutex>

#include "core/uEgaissRu.h"
#include "platform/uAutostart.h"
#include "platform/uErrors.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"
#include "platform/uSystem.h"

namespace egaiss {
namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr const char* ConfigFileName = "agent.ini";
constexpr const char* LegacyFolderName = "VelmoraEgaiss";
constexpr int DefaultUtmPort = 8080;
constexpr int DefaultPollSeconds = 300;
constexpr int MinPollSeconds = 60;

std::mutex DataDirOverrideLock;
std::optional<std::string> DataDirOverride;

std::string WithoutBom(std::string text) {
    if (text.starts_with(Utf8Bom)) text.erase(0, Utf8Bom.size());
    return text;
}

std::optional<int> ParseInteger(std::string_view text) {
    int value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last) return std::nullopt;
    return value;
}

int IntegerOr(const std::string& text, int fallback) {
    return ParseInteger(text).value_or(fallback);
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(Utf8Path(path), error);
}

std::string StripTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

std::string JoinLinesCrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

std::string ParsedKey(const std::string& line) {
    const auto parsed = ParseConfigLine(line);
    return parsed ? parsed->Key : std::string();
}

void ApplyClamps(TEgaissConfig& cfg) {
    if (cfg.UtmHost.empty()) cfg.UtmHost = "127.0.0.1";
    if (cfg.UtmPort < 1) cfg.UtmPort = DefaultUtmPort;
    if (cfg.PollSeconds < MinPollSeconds) cfg.PollSeconds = DefaultPollSeconds;
    cfg.ServerURL = NormalizeServerURL(cfg.ServerURL);
}

// The older sectioned file: keys of the [agent] section, read with INI rules (section and key
// names in any case, first occurrence of a key wins, values trimmed).
TEgaissConfig ReadLegacySection(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> values;
    bool inAgent = false;
    for (const auto& rawLine : SplitTextLines(text)) {
        const std::string line = TrimControl(rawLine);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const auto close = line.find(']');
            inAgent =
                close != std::string::npos && LowerAscii(TrimControl(line.substr(1, close - 1))) == "agent";
            continue;
        }
        const auto equals = line.find('=');
        if (!inAgent || equals == std::string::npos) continue;
        const std::string key = LowerAscii(TrimControl(line.substr(0, equals)));
        const bool known =
            std::any_of(values.begin(), values.end(), [&](const auto& v) { return v.first == key; });
        if (!known) values.emplace_back(key, TrimControl(line.substr(equals + 1)));
    }
    const auto read = [&](const char* key, const std::string& fallback) {
        for (const auto& [name, value] : values) {
            if (name == key) return value;
        }
        return fallback;
    };
    TEgaissConfig cfg;
    cfg.ServerURL = read("server_url", "");
    cfg.AgentID = read("agent_id", "");
    cfg.AgentSecret = read("agent_secret", "");
    cfg.FirmID = read("firm_id", "");
    cfg.LabelText = read("label", "");
    cfg.UtmHost = read("utm_host", "127.0.0.1");
    cfg.UtmPort = IntegerOr(read("utm_port", ""), DefaultUtmPort);
    cfg.PollSeconds = IntegerOr(read("poll_seconds", ""), DefaultPollSeconds);
    cfg.IdSklad = IntegerOr(read("id_sklad", ""), 0);
    cfg.AutoStart = IntegerOr(read("autostart", ""), 0) != 0;
    cfg.ServerURL = NormalizeServerURL(cfg.ServerURL);
    if (cfg.PollSeconds < MinPollSeconds) cfg.PollSeconds = DefaultPollSeconds;
    return cfg;
}

}  // namespace

// The data folder as a path, without touching the disk: every log line asks for it, and the file
// writes create the folder themselves when it turns out to be missing.
std::string DataDirLocation() {
    {
        const std::lock_guard lock(DataDirOverrideLock);
        if (DataDirOverride && !DataDirOverride->empty()) return StripTrailingSeparators(*DataDirOverride);
    }
    // The executable does not move while it runs.
    static const std::string exeFolder = [] {
        const std::string exe = platform::ExecutablePath();
        return exe.empty() ? std::string() : StripTrailingSeparators(PathUtf8(Utf8Path(exe).parent_path()));
    }();
    if (!exeFolder.empty()) return exeFolder;
    std::error_code error;
    return StripTrailingSeparators(PathUtf8(std::filesystem::current_path(error)));
}

bool TEgaissConfig::IsComplete() const {
    return !ServerURL.empty() && !AgentID.empty() && !AgentSecret.empty() && !UtmHost.empty() && UtmPort > 0;
}

std::string TEgaissConfig::UtmBaseURL() const {
    return "http://" + UtmHost + ":" + std::to_string(UtmPort);
}

TDataDirOverride::TDataDirOverride(const std::string& folder) {
    const std::lock_guard lock(DataDirOverrideLock);
    FPrevious = DataDirOverride;
    DataDirOverride = StripTrailingSeparators(folder);
}

TDataDirOverride::~TDataDirOverride() {
    const std::lock_guard lock(DataDirOverrideLock);
    DataDirOverride = FPrevious;
}

std::string AgentDataDir() {
    std::string folder = DataDirLocation();
    std::error_code ignored;
    std::filesystem::create_directories(Utf8Path(folder), ignored);
    return folder;
}

std::string LegacyDataDir() {
    const std::string appData = platform::EnvironmentVariable("APPDATA").value_or("");
    return appData.empty() ? std::string() : JoinPath(appData, LegacyFolderName);
}

std::string ConfigFilePath() {
    return DataFilePath(ConfigFileName);
}

std::string DataFilePath(std::string_view name) {
    MigrateLegacyFiles();
    return JoinPath(DataDirLocation(), name);
}

void MigrateLegacyFiles() {
    const std::string legacy = LegacyDataDir();
    if (legacy.empty()) return;
    const std::string data = DataDirLocation();
    if (LowerAscii(StripTrailingSeparators(legacy)) == LowerAscii(data)) return;
    std::error_code error;
    if (!std::filesystem::is_directory(Utf8Path(legacy), error)) return;
    for (const char* name : {"agent.ini", "agent.log", "egaiss-bootstrap.json"}) {
        const auto from = Utf8Path(JoinPath(legacy, name));
        const auto to = Utf8Path(JoinPath(data, name));
        if (!std::filesystem::exists(from, error) || std::filesystem::exists(to, error)) continue;
        std::filesystem::create_directories(Utf8Path(data), error);
        // Another thread may copy the same file at the same moment; whoever loses simply retries later.
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::skip_existing, error);
    }
}

void MigrateLegacyIni() {
    // A file that comes from the legacy folder is converted in this same read.
    const std::string path = ConfigFilePath();
    if (!FileExists(path)) return;
    const std::string text = WithoutBom(platform::ReadWholeFile(path));
    if (LowerAscii(text).find("[agent]") == std::string::npos) return;
    const TEgaissConfig legacy = ReadLegacySection(text);
    if (legacy.IsComplete()) SaveConfigText(ConfigToText(legacy), legacy.AutoStart);
}

std::string ReadConfigText() {
    MigrateLegacyIni();
    const std::string path = ConfigFilePath();
    // A folder or an unreadable file in its place is an error to report, not "no settings".
    std::error_code missing;
    if (!std::filesystem::exists(Utf8Path(path), missing)) return {};
    // In UTF-8 the byte-order mark and a leading U+FEFF are the same three bytes.
    return WithoutBom(platform::ReadWholeFile(path));
}

TEgaissConfig LoadConfig() {
    const std::string text = ReadConfigText();
    return text.empty() ? TEgaissConfig{} : ParseConfigText(text);
}

std::vector<std::string> SplitTextLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '\r' || c == '\n') {
            lines.push_back(text.substr(start, pos - start));
            pos += (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
            start = pos;
        } else {
            ++pos;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::optional<TConfigLine> ParseConfigLine(const std::string& line) {
    std::string trimmed = TrimControl(line);
    if (trimmed.starts_with(Utf8Bom)) trimmed.erase(0, Utf8Bom.size());
    if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';' || trimmed[0] == '[') return std::nullopt;
    const auto equals = trimmed.find('=');
    if (equals == std::string::npos || equals == 0) return std::nullopt;
    TConfigLine parsed{LowerAscii(TrimControl(trimmed.substr(0, equals))),
                       TrimControl(trimmed.substr(equals + 1))};
    if (parsed.Key.empty()) return std::nullopt;
    return parsed;
}

bool ParseConfigBool(const std::string& text) {
    const std::string value = LowerAscii(TrimControl(text));
    return value == "1" || value == "true" || value == "yes";
}

std::string NormalizeServerURL(const std::string& url) {
    std::string text = TrimControl(url);
    if (text.empty()) return text;
    const std::string lower = LowerAscii(text);
    if (lower.find("127.0.0.1") != std::string::npos || lower.find("localhost") != std::string::npos)
        return text;
    if (lower.starts_with("http://")) text = "https://" + text.substr(7);
    return text;
}

TEgaissConfig ParseConfigText(const std::string& text) {
    TEgaissConfig cfg;
    for (const auto& line : SplitTextLines(text)) {
        const auto parsed = ParseConfigLine(line);
        if (!parsed) continue;
        const std::string& key = parsed->Key;
        const std::string& value = parsed->Value;
        if (key == "server_url")
            cfg.ServerURL = value;
        else if (key == "agent_id")
            cfg.AgentID = value;
        else if (key == "agent_secret")
            cfg.AgentSecret = value;
        else if (key == "utm_host")
            cfg.UtmHost = value;
        else if (key == "utm_port")
            cfg.UtmPort = IntegerOr(value, DefaultUtmPort);
        else if (key == "poll_seconds")
            cfg.PollSeconds = IntegerOr(value, DefaultPollSeconds);
        else if (key == "firm_id")
            cfg.FirmID = value;
        else if (key == "id_sklad")
            cfg.IdSklad = IntegerOr(value, 0);
        else if (key == "label")
            cfg.LabelText = value;
        else if (key == "autostart")
            cfg.AutoStart = ParseConfigBool(value);
    }
    ApplyClamps(cfg);
    return cfg;
}

std::string ConfigToText(const TEgaissConfig& cfg) {
    std::vector<std::string> lines = {
        "# Velmora EGAIS agent settings",
        "server_url=" + cfg.ServerURL,
        "agent_id=" + cfg.AgentID,
        "agent_secret=" + cfg.AgentSecret,
        "utm_host=" + cfg.UtmHost,
        "utm_port=" + std::to_string(cfg.UtmPort),
        "poll_seconds=" + std::to_string(cfg.PollSeconds),
    };
    if (!cfg.FirmID.empty()) lines.push_back("firm_id=" + cfg.FirmID);
    if (cfg.IdSklad > 0) lines.push_back("id_sklad=" + std::to_string(cfg.IdSklad));
    if (!cfg.LabelText.empty()) lines.push_back("label=" + cfg.LabelText);
    return JoinLinesCrLf(lines);
}

std::string ConfigTextForEditing(const std::string& text) {
    std::vector<std::string> kept;
    for (const auto& line : SplitTextLines(text)) {
        const std::string key = ParsedKey(line);
        if (key != "autostart" && key != "fsrar_id") kept.push_back(line);
    }
    return JoinLinesCrLf(kept);
}

void SaveConfigText(const std::string& text, bool autoStart) {
    std::vector<std::string> lines;
    for (const auto& line : SplitTextLines(text)) {
        const auto parsed = ParseConfigLine(line);
        const std::string key = parsed ? parsed->Key : std::string();
        if (key == "fsrar_id" || key == "autostart") continue;
        lines.push_back(key == "server_url" ? "server_url=" + NormalizeServerURL(parsed->Value) : line);
    }
    lines.push_back(std::string("autostart=") + (autoStart ? "1" : "0"));
    const std::string written = JoinLinesCrLf(lines);
    // The file holds the agent secret: only the user may read it, and it is replaced in one step.
    platform::WriteFileAtomically(JoinPath(AgentDataDir(), ConfigFileName), std::string(Utf8Bom) + written,
                                  platform::TFileAccess::faOwnerOnly);
    TEgaissConfig cfg = ParseConfigText(written);
    cfg.AutoStart = autoStart;
    ApplyAutostart(cfg);
}

void ApplyAutostart(const TEgaissConfig& cfg) {
    if (cfg.AutoStart) {
        platform::WriteAutostartEntry(platform::ExecutablePath());
    } else {
        platform::RemoveAutostartEntry();
    }
}

}  // namespace egaiss
