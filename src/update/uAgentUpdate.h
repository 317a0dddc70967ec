#pragma once
// The self-update at start-up: read the update manifest egaiss-agent.json from the server's
// download area, and when it offers a newer agent, download it, verify it, move the running
// executable aside, write the new one in its place and start it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/uEgaissConfig.h"
#include "platform/uBytes.h"

namespace egaiss {

class TJsonValue;

#ifdef _WIN32
inline constexpr const char* AgentExeName = "VelmoraEgaissAgent.exe";
inline constexpr const char* BackupExeSuffix = ".old.exe";
#else
inline constexpr const char* AgentExeName = "VelmoraEgaissAgent";
inline constexpr const char* BackupExeSuffix = ".old";
#endif
inline constexpr const char* UpdateManifestFileName = "egaiss-agent.json";
inline constexpr const char* DefaultUpdatePackage = "VelmoraEgaissAgent.zip";
inline constexpr int RenameAttempts = 5;
inline constexpr auto RenameRetryPause = std::chrono::milliseconds(500);

// The file operations of replacing the running executable and the pause between rename attempts.
// The defaults work on the real file system; tests override single operations to simulate a locked
// file or a failing write. Failures raise EFileError.
class TExeFileOps {
public:
    virtual ~TExeFileOps() = default;

    virtual bool Exists(const std::string& path);
    virtual void Remove(const std::string& path);
    // Fails when `to` exists.
    virtual void Rename(const std::string& from, const std::string& to);
    // Creates `path` anew with `bytes`; it gets the permission bits of `modelPath` (the running
    // executable, now under its backup name), so that it can be started the same way.
    virtual void WriteExe(const std::string& path, const TBytes& bytes, const std::string& modelPath);
    virtual void Pause(std::chrono::milliseconds duration);
};

// What the check uses of the process besides the settings.
struct TUpdateEnvironment {
    bool NoUpdateSwitch = false;                          // "-noupdate" or "/noupdate" was given
    std::string ExePath;                                  // empty: the running executable
    TExeFileOps* Files = nullptr;                         // null: the real file system
    std::function<bool(const std::string& path)> Launch;  // empty: LaunchExe
};

// True when a new executable was written in place of the running one (and its start attempted):
// the caller must end the agent now. False in every other case, each reason logged. Never raises.
bool CheckForUpdate(const TEgaissConfig& cfg, const TUpdateEnvironment& environment = {});

// -1, 0 or 1. Parts split at "." and "-" compare as integers; a part that is not one counts as 0,
// a missing part too.
int CompareVersions(std::string_view a, std::string_view b);

// The member's text (as the manifest readers take it), trimmed; empty when absent.
std::string ManifestText(const TJsonValue& manifest, std::string_view name);

// What the update manifest offers, with the defaults applied.
struct TUpdateOffer {
    std::string Version;  // empty: nothing is offered
    std::string ExeName;
    std::string Sha256;  // empty: not checked
    std::string PackageURL;
    bool IsZip = false;
};
// `base` is the download base URL, ending with "/".
TUpdateOffer ReadUpdateOffer(const TJsonValue& manifest, const std::string& base);

// Whether the URL delivers a zip archive: it ends with ".zip" or holds ".zip?", letter case ignored.
bool IsZipURL(std::string_view url);

// GETs the URL into `stream` (emptied first); the byte count. Raises ETransportError, or EHttpError
// for a status of 400 or above.
std::int64_t DownloadToStream(const std::string& url, TBytes& stream);

// 64 lower-case hexadecimal digits.
std::string Sha256Hex(const TBytes& stream);

// Copies the first member whose file name (after the last "/" or "\") equals `memberName`, letter
// case ignored, decompressed into `target`. False, with the reason logged, when the archive cannot
// be read, has no such member, or that member is empty.
bool ExtractZipMember(const TBytes& zip, const std::string& memberName, TBytes& target);

// The running executable's file name without extension + BackupExeSuffix, in its folder.
std::string BackupExePath(const std::string& exePath);

// Moves the executable aside to its backup name (retrying while it is locked), writes `newExe` in
// its place and rolls back on failure. True when the new file is in place.
bool ReplaceRunningExe(const std::string& exePath, const TBytes& newExe, TExeFileOps& files);
bool ReplaceRunningExe(const std::string& exePath, const TBytes& newExe);

// Starts the program on its own, without arguments. False (logged) when it could not be started.
bool LaunchExe(const std::string& path);

}  // namespace egaiss
