#include "update/uAgentUpdate.h"

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "clients/uHttpErrors.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "core/uVersion.h"
#include "platform/uErrors.h"
#include "platform/uFileSystem.h"
#include "platform/uHttpClient.h"
#include "platform/uPath.h"
#include "platform/uSha256.h"
#include "platform/uShell.h"
#include "platform/uSystem.h"
#include "prepare/uBootstrapManifest.h"

namespace egaiss {
namespace {

constexpr std::size_t CopyBlockBytes = std::size_t{1024} * 1024;
// A deflated member may expand far beyond its download; an agent is never this large.
constexpr std::uint64_t MaxExeBytes = platform::MaxHttpBodyBytes;

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// A version part as an integer; anything else, overflow included, is 0.
std::int64_t VersionPart(std::string_view part) {
    if (!part.empty() && part.front() == '+') part.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || error != std::errc() || end != part.data() + part.size()) return 0;
    return value;
}

std::vector<std::string_view> SplitVersion(std::string_view version) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= version.size(); ++i) {
        if (i == version.size() || version[i] == '.' || version[i] == '-') {
            parts.push_back(version.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

std::string MemberFileName(std::string_view name) {
    const auto separator = name.find_last_of("/\\");
    return std::string(separator == std::string_view::npos ? name : name.substr(separator + 1));
}

struct TZipSourceDeleter {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
struct TZipDeleter {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct TZipFileDeleter {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using TZipSource = std::unique_ptr<zip_source_t, TZipSourceDeleter>;
using TZip = std::unique_ptr<zip_t, TZipDeleter>;
using TZipFile = std::unique_ptr<zip_file_t, TZipFileDeleter>;

// Opens an archive held in memory for reading; nothing when it is not a readable zip archive.
TZip OpenZipInMemory(const TBytes& zip) {
    // An empty buffer would pass as an empty archive; an empty download is no archive at all.
    if (zip.empty()) return nullptr;
    zip_error_t error;
    zip_error_init(&error);
    TZipSource source(zip_source_buffer_create(zip.data(), zip.size(), 0, &error));
    if (!source) {
        zip_error_fini(&error);
        return nullptr;
    }
    TZip archive(zip_open_from_source(source.get(), ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (archive) static_cast<void>(source.release());  // the archive owns its source now
    return archive;
}

// Reads one member whole; false with `why` when it cannot be read or is too large.
bool ReadZipMember(zip_t* archive, zip_uint64_t index, TBytes& target, std::string& why) {
    TZipFile file(zip_fopen_index(archive, index, 0));
    if (!file) {
        why = zip_strerror(archive);
        return false;
    }
    std::vector<std::uint8_t> block(CopyBlockBytes);
    for (;;) {
        const zip_int64_t got = zip_fread(file.get(), block.data(), block.size());
        if (got < 0) {
            why = zip_file_strerror(file.get());
            return false;
        }
        if (got == 0) return true;
        if (target.size() + static_cast<std::uint64_t>(got) > MaxExeBytes) {
            why = "larger than " + std::to_string(MaxExeBytes) + " bytes";
            return false;
        }
        target.insert(target.end(), block.data(), block.data() + got);
    }
}

[[noreturn]] void RaiseFileError(const std::string& action, const std::string& path,
                                 const std::error_code& error) {
    throw EFileError(action + " " + path + ": " + error.message());
}

void RemoveQuietly(TExeFileOps& files, const std::string& path) {
    try {
        if (files.Exists(path)) files.Remove(path);
    } catch (const std::exception&) {
    }
}

// Puts the backup back in place of the executable after a failed write.
void RestoreBackup(TExeFileOps& files, const std::string& exePath, const std::string& backup) {
    try {
        if (files.Exists(backup)) files.Rename(backup, exePath);
    } catch (const std::exception& error) {
        LogError("Update: cannot restore backup - " + std::string(error.what()));
    }
}

// The update manifest as a JSON object, or nothing with the reason logged.
std::optional<TJsonValue> FetchUpdateManifest(const std::string& manifestURL) {
    std::string body;
    try {
        platform::THttpClient client;
        PrepareHttpClient(&client);
        client.SetConnectTimeoutMs(15000);
        client.SetResponseTimeoutMs(30000);
        platform::THttpRequest request;
        request.URL = manifestURL;
        const platform::THttpResponse response = client.Send(request);
        if (response.StatusCode >= 400) {
            LogInfo("Update: manifest HTTP " + std::to_string(response.StatusCode) + " - skip");
            return std::nullopt;
        }
        body = HttpResponseAsUtf8(response);
    } catch (const std::exception& error) {
        LogInfo("Update: manifest failed - " + std::string(error.what()));
        return std::nullopt;
    }
    std::optional<TJsonValue> manifest = ParseJson(body);
    if (!manifest || !manifest->IsObject()) {
        LogInfo("Update: bad manifest JSON");
        return std::nullopt;
    }
    return manifest;
}

// The new executable's bytes from the package, or nothing with the reason logged.
std::optional<TBytes> DownloadNewExe(const TUpdateOffer& offer) {
    TBytes package;
    std::int64_t size = 0;
    try {
        size = DownloadToStream(offer.PackageURL, package);
    } catch (const std::exception& error) {
        LogError("Update download failed: " + std::string(error.what()));
        return std::nullopt;
    }
    LogInfo("Update: downloaded " + std::to_string(size) + " bytes");
    if (size == 0) {
        LogError("Update: empty download");
        return std::nullopt;
    }
    TBytes exe;
    if (offer.IsZip) {
        if (!ExtractZipMember(package, offer.ExeName, exe)) return std::nullopt;
    } else {
        exe = std::move(package);
        LogInfo("Update: bare exe payload (" + std::to_string(exe.size()) + " bytes)");
    }
    if (exe.empty()) {
        LogError("Update: no exe bytes to install");
        return std::nullopt;
    }
    return exe;
}

bool VerifySha256(const TUpdateOffer& offer, const TBytes& exe) {
    if (offer.Sha256.empty()) {
        LogInfo("Update: sha256 not in manifest - skip check");
        return true;
    }
    const std::string got = Sha256Hex(exe);
    LogInfo("Update: sha256=" + got);
    if (!platform::Sha256HexEquals(got, offer.Sha256)) {
        LogError("Update: sha256 mismatch expected=" + AsciiLower(offer.Sha256) + " got=" + got);
        return false;
    }
    LogInfo("Update: sha256 OK");
    return true;
}

bool RunUpdateCheck(const TEgaissConfig& cfg, const TUpdateEnvironment& environment) {
    if (!cfg.IsComplete()) return false;
    if (environment.NoUpdateSwitch) {
        LogInfo("Update skipped (--noupdate)");
        return false;
    }
    const std::string base = DownloadBaseURL(cfg.ServerURL);
    const std::string manifestURL = base + UpdateManifestFileName;
    LogInfo("Update check: " + manifestURL);

    const std::optional<TJsonValue> manifest = FetchUpdateManifest(manifestURL);
    if (!manifest) return false;
    const TUpdateOffer offer = ReadUpdateOffer(*manifest, base);
    if (offer.Version.empty()) return false;

    LogInfo(std::string("Update: local=") + AgentVersion + " remote=" + offer.Version);
    if (CompareVersions(AgentVersion, offer.Version) != -1) {
        LogInfo("Update: already current");
        return false;
    }

    const std::string exePath =
        environment.ExePath.empty() ? platform::ExecutablePath() : environment.ExePath;
    LogInfo("Update: downloading " + offer.PackageURL + " (zip=" + BoolText(offer.IsZip) + ")");
    if (exePath.empty()) {
        // Without it there is nothing to replace; the download would be wasted.
        LogError("Update: cannot tell the running executable's path");
        return false;
    }
    const std::optional<TBytes> exe = DownloadNewExe(offer);
    if (!exe || !VerifySha256(offer, *exe)) return false;

    TExeFileOps realFiles;
    if (!ReplaceRunningExe(exePath, *exe, environment.Files != nullptr ? *environment.Files : realFiles)) {
        return false;
    }
    LogInfo("Update: launching new process...");
    const bool launched = environment.Launch ? environment.Launch(exePath) : LaunchExe(exePath);
    if (!launched) LogError("Update: new exe on disk; start manually if needed");
    return true;
}

}  // namespace

bool TExeFileOps::Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(Utf8Path(path), error);
}

void TExeFileOps::Remove(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::remove(Utf8Path(path), error) && error)
        RaiseFileError("Cannot delete", path, error);
}

void TExeFileOps::Rename(const std::string& from, const std::string& to) {
    // std::filesystem::rename replaces an existing target on POSIX; the backup must never be lost.
    if (Exists(to)) throw EFileError("Cannot rename " + from + " to " + to + ": the target exists");
    std::error_code error;
    std::filesystem::rename(Utf8Path(from), Utf8Path(to), error);
    if (error) RaiseFileError("Cannot rename", from + " to " + to, error);
}

void TExeFileOps::WriteExe(const std::string& path, const TBytes& bytes, const std::string& modelPath) {
    // Written beside and renamed into place, so that a crash never leaves half an executable.
    platform::WriteFileAtomically(path, std::string(AsText(bytes)));
    std::error_code error;
    const auto status = std::filesystem::status(Utf8Path(modelPath), error);
    if (!error) std::filesystem::permissions(Utf8Path(path), status.permissions(), error);
    if (error) RaiseFileError("Cannot set the permissions of", path, error);
}

void TExeFileOps::Pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

bool CheckForUpdate(const TEgaissConfig& cfg, const TUpdateEnvironment& environment) {
    try {
        return RunUpdateCheck(cfg, environment);
    } catch (const std::exception& error) {
        LogError("Update: unexpected - " + std::string(error.what()));
    } catch (...) {
        LogError("Update: unexpected - unknown error");
    }
    return false;
}

int CompareVersions(std::string_view a, std::string_view b) {
    const auto partsA = SplitVersion(a);
    const auto partsB = SplitVersion(b);
    const std::size_t count = std::max(partsA.size(), partsB.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t left = i < partsA.size() ? VersionPart(partsA[i]) : 0;
        const std::int64_t right = i < partsB.size() ? VersionPart(partsB[i]) : 0;
        if (left != right) return left < right ? -1 : 1;
    }
    return 0;
}

std::string ManifestText(const TJsonValue& manifest, std::string_view name) {
    std::string text;
    TryGetJsonString(manifest, name, text);
    return TrimControl(text);
}

TUpdateOffer ReadUpdateOffer(const TJsonValue& manifest, const std::string& base) {
    TUpdateOffer offer;
    offer.Version = ManifestText(manifest, "version");
    offer.ExeName = ManifestText(manifest, "exe_name");
    if (offer.ExeName.empty()) offer.ExeName = AgentExeName;
    offer.Sha256 = ManifestText(manifest, "sha256");

    const auto inBase = [&base](const std::string& name) { return name.empty() ? name : base + name; };
    const std::string candidates[] = {ManifestText(manifest, "zip_url"),
                                      inBase(ManifestText(manifest, "zip")), ManifestText(manifest, "url"),
                                      inBase(ManifestText(manifest, "file")), base + DefaultUpdatePackage};
    offer.PackageURL = *std::find_if(std::begin(candidates), std::end(candidates),
                                     [](const std::string& candidate) { return !candidate.empty(); });
    offer.IsZip = IsZipURL(offer.PackageURL);
    return offer;
}

bool IsZipURL(std::string_view url) {
    const std::string lower = AsciiLower(TrimControl(url));
    return lower.ends_with(".zip") || lower.find(".zip?") != std::string::npos;
}

std::int64_t DownloadToStream(const std::string& url, TBytes& stream) {
    platform::THttpClient client;
    PrepareHttpClient(&client);
    client.SetConnectTimeoutMs(30000);
    client.SetResponseTimeoutMs(600000);
    ConfigureDownloadRate(client);
    platform::THttpRequest request;
    request.URL = url;
    platform::THttpResponse response = client.Send(request);
    if (response.StatusCode >= 400) throw NewHttpError(response);
    // The body is taken over, not copied: the package is held in memory once.
    stream = std::move(response.Body);
    return static_cast<std::int64_t>(stream.size());
}

std::string Sha256Hex(const TBytes& stream) {
    return platform::Sha256Hex(stream);
}

bool ExtractZipMember(const TBytes& zip, const std::string& memberName, TBytes& target) {
    target.clear();
    const TZip archive = OpenZipInMemory(zip);
    if (!archive) {
        LogError("Update: downloaded file is not a valid zip");
        return false;
    }
    const std::string wanted = AsciiLower(memberName);
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char* name = zip_get_name(archive.get(), index, 0);
        if (name == nullptr || AsciiLower(MemberFileName(name)) != wanted) continue;

        std::string why;
        if (!ReadZipMember(archive.get(), index, target, why)) {
            target.clear();
            LogError("Update: cannot read zip member " + memberName + " - " + why);
            return false;
        }
        if (target.empty()) {
            LogError("Update: zip member empty: " + memberName);
            return false;
        }
        LogInfo("Update: extracted " + memberName + " (" + std::to_string(target.size()) +
                " bytes) from zip");
        return true;
    }
    LogError("Update: zip has no member " + memberName);
    return false;
}

std::string BackupExePath(const std::string& exePath) {
    const std::filesystem::path path = Utf8Path(exePath);
    return PathUtf8(path.parent_path() / Utf8Path(PathUtf8(path.stem()) + BackupExeSuffix));
}

bool ReplaceRunningExe(const std::string& exePath, const TBytes& newExe, TExeFileOps& files) {
    const std::string backup = BackupExePath(exePath);
    try {
        if (files.Exists(backup)) files.Remove(backup);
    } catch (const std::exception& error) {
        LogInfo("Update: cannot delete old backup - " + std::string(error.what()));
    }

    bool renamed = false;
    for (int attempt = 1; attempt <= RenameAttempts && !renamed; ++attempt) {
        try {
            files.Rename(exePath, backup);
            renamed = true;
        } catch (const std::exception&) {
            LogInfo("Update: rename busy, retry " + std::to_string(attempt) + "/" +
                    std::to_string(RenameAttempts));
            files.Pause(RenameRetryPause);
        }
    }
    if (!renamed) {
        LogError("Update: cannot rename running exe (file locked)");
        return false;
    }

    try {
        files.WriteExe(exePath, newExe, backup);
    } catch (const std::exception& error) {
        LogError("Update: write new exe failed - " + std::string(error.what()));
        RemoveQuietly(files, exePath);
        RestoreBackup(files, exePath, backup);
        return false;
    }
    if (!files.Exists(exePath)) {
        LogError("Update: new exe missing after write");
        RestoreBackup(files, exePath, backup);
        return false;
    }
    LogInfo("Update: exe replaced OK (" + std::to_string(newExe.size()) + " bytes)");
    return true;
}

bool ReplaceRunningExe(const std::string& exePath, const TBytes& newExe) {
    TExeFileOps files;
    return ReplaceRunningExe(exePath, newExe, files);
}

bool LaunchExe(const std::string& path) {
    if (platform::StartDetached(path, {})) return true;
    LogError("Update: ShellExecute new exe failed");
    return false;
}

}  // namespace egaiss
