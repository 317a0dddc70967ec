#pragma once
// The agent settings record and its file agent.ini in the data folder.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace egaiss {

// The longest sync interval: a day, well inside what a millisecond timer can count.
constexpr int MaxPollSeconds = 86400;

struct TEgaissConfig {
    std::string ServerURL;
    std::string AgentID;
    std::string AgentSecret;
    std::string UtmHost = "127.0.0.1";
    int UtmPort = 8080;
    int PollSeconds = 300;
    std::string FirmID;
    int IdSklad = 0;
    std::string LabelText;
    bool AutoStart = false;

    // What "configured" means everywhere in the agent.
    bool IsComplete() const;
    // "http://host:port", no trailing slash.
    std::string UtmBaseURL() const;

    bool operator==(const TEgaissConfig&) const = default;
};

// The folder of the running executable (created when missing), without a trailing separator.
std::string AgentDataDir();
// agent.ini in the data folder; copies missing files from the legacy folder first.
std::string ConfigFilePath();
// A file beside agent.ini, after the same legacy-file copy (the log is one).
std::string DataFilePath(std::string_view name);
// APPDATA + "VelmoraEgaiss"; empty where APPDATA is unset.
std::string LegacyDataDir();

TEgaissConfig LoadConfig();
std::string ReadConfigText();
TEgaissConfig ParseConfigText(const std::string& text);

struct TConfigLine {
    std::string Key;  // lower case
    std::string Value;
};
// Nothing for a line the parser ignores (blank, comment, section header, no key).
std::optional<TConfigLine> ParseConfigLine(const std::string& line);
bool ParseConfigBool(const std::string& text);
std::string NormalizeServerURL(const std::string& url);

std::string ConfigToText(const TEgaissConfig& cfg);
std::string ConfigTextForEditing(const std::string& text);
// Writes agent.ini (atomically, owner-only) and rewrites the autostart entry. Raises EFileError.
void SaveConfigText(const std::string& text, bool autoStart);
void ApplyAutostart(const TEgaissConfig& cfg);

void MigrateLegacyFiles();
void MigrateLegacyIni();

// Splits text at CR LF, LF or CR; a final line break does not make an empty last line.
std::vector<std::string> SplitTextLines(const std::string& text);

// Tests and benchmarks run from a build folder and must not write beside the executable: while
// an object of this class lives, AgentDataDir answers the given folder instead.
class TDataDirOverride {
public:
    explicit TDataDirOverride(const std::string& folder);
    ~TDataDirOverride();
    TDataDirOverride(const TDataDirOverride&) = delete;
    TDataDirOverride& operator=(const TDataDirOverride&) = delete;

private:
    std::optional<std::string> FPrevious;
};

}  // namespace egaiss
