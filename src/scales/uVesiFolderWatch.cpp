#include "scales/uVesiFolderWatch.h"

#include <cctype>
#include <ctime>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "platform/uErrors.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"
#include "platform/uSystem.h"
#include "scales/uMassaKFile.h"
#include "scales/uPriceFile.h"

namespace egaiss {
namespace {

namespace fs = std::filesystem;

constexpr const char* Utf8Bom = "\xEF\xBB\xBF";
constexpr const char* ErrSuffix = ".err";

bool EndsWithErr(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ErrSuffix;
}

std::string FileNamePart(const std::string& path) {
    return PathUtf8(Utf8Path(path).filename());
}

std::string Endpoint(const TScaleEndpoint& scale) {
    return scale.Host + ":" + std::to_string(scale.Port);
}

// A list item as a comma-joined list writes it: quoted when it holds a blank, a comma or a quote.
std::string ListItem(const std::string& item) {
    bool quote = false;
    for (const char c : item) {
        if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') quote = true;
    }
    if (!quote) return item;
    std::string text = "\"";
    for (const char c : item) {
        if (c == '"') text += '"';
        text += c;
    }
    return text + "\"";
}

std::string LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    const std::tm local = platform::LocalTime(now);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool FileExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

bool BrandQualifies(const TScaleBrandConfig& brandCfg, bool force) {
    return force ? IsBrandReady(brandCfg) : IsBrandActive(brandCfg);
}

}  // namespace

bool PollScalesFolders(const TScalesConfig& cfg, bool force, TVesiLoadResult& result,
                       const TMassaTimeouts& timeouts) {
    result = {};
    bool tried = false;
    if (force) LogInfo("Scales LOAD NOW started");
    for (int brand = 0; brand < ScaleBrandCount; ++brand) {
        if (!IsBrandSupported(brand)) continue;
        const TScaleBrandConfig& brandCfg = cfg.Brands[static_cast<std::size_t>(brand)];
        if (BrandQualifies(brandCfg, force)) {
            tried = true;
            if (PollBrandFolder(brand, brandCfg, force, result, timeouts) || result.Ok) return true;
        } else if (force) {
            LogInfo("Scales skip " + ScaleBrandTitle(brand) + ": " + BrandHint(brandCfg));
        }
    }
    if (!tried) {
        for (int brand = 0; brand < ScaleBrandCount; ++brand) {
            if (!IsBrandSupported(brand)) continue;
            result.Message = BrandHint(cfg.Brands[static_cast<std::size_t>(brand)]);
            if (!result.Message.empty()) {
                LogError("Scales inactive: " + result.Message);
                return false;
            }
        }
        result.Message = "Scales module inactive";
        LogError("Scales module inactive");
        return false;
    }
    if (force && !result.Message.empty()) LogInfo("Scales LOAD NOW result: " + result.Message);
    return false;
}

bool PollBrandFolder(int brand, const TScaleBrandConfig& brandCfg, bool force, TVesiLoadResult& result,
                     const TMassaTimeouts& timeouts) {
    result = {};
    if (force && !IsBrandReady(brandCfg)) {
        result.Message = BrandHint(brandCfg);
        LogError("Scales " + ScaleBrandTitle(brand) + ": " + result.Message);
        return false;
    }
    if (!force && !IsBrandActive(brandCfg)) return false;
    if (!IsBrandSupported(brand)) {
        result.Message = ScaleBrandTitle(brand) + ": protocol not implemented yet";
        LogError(result.Message);
        return false;
    }

    std::error_code error;
    if (!fs::is_directory(Utf8Path(brandCfg.VesiDir), error)) {
        LogInfo("Scales create folder " + brandCfg.VesiDir);
        fs::create_directories(Utf8Path(brandCfg.VesiDir), error);
        if (error) LogError("Scales create folder failed: " + error.message());
    }

    const TPendingScan scan = FindPendingFile(brandCfg.VesiDir, brandCfg.ExpectFile);
    if (force || !scan.Path.empty()) {
        LogInfo("Scales " + ScaleBrandTitle(brand) + ": dir=" + brandCfg.VesiDir +
                " expect=" + brandCfg.ExpectFile + " enabled=" + BoolText(brandCfg.Enabled) +
                " force=" + BoolText(force) + "; " + HostsSummary(brandCfg));
        LogStep("Scales.scan", brandCfg.VesiDir + " | " + scan.Summary);
    }
    if (!scan.Path.empty()) {
        LogInfo("Scales pending file: " + scan.Path);
        return LoadFileIntoScales(scan.Path, brandCfg, result, timeouts);
    }

    result.Message = "No file to load (" + brandCfg.ExpectFile + ") in " + brandCfg.VesiDir;
    if (force) {
        if (scan.Skipped > 0) {
            LogInfo("Scales: " + std::to_string(scan.Skipped) +
                    " file(s) skipped (*.err) - remove .err to retry");
        }
        LogInfo("Scales: no pending file for " + ScaleBrandTitle(brand));
    }
    return false;
}

TPendingScan FindPendingFile(const std::string& dir, const std::string& mask) {
    TPendingScan scan;
    const fs::path folder = Utf8Path(dir);
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        scan.Summary = "dir missing";
        return scan;
    }
    std::optional<fs::path> candidate;
    fs::file_time_type candidateTime{};
    // A listing that fails part way counts what it saw, as the system's own listing would.
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code entryError;
        if (it->is_directory(entryError)) continue;
        const std::string name = PathUtf8(it->path().filename());
        if (EndsWithErr(name)) continue;
        if (!MatchesExpectFile(name, mask)) {
            ++scan.Other;
            continue;
        }
        if (FileExists(folder / Utf8Path(name + ErrSuffix))) {
            ++scan.Skipped;
            continue;
        }
        ++scan.Matched;
        // A file that vanished meanwhile gets the latest time, so that any other file wins.
        fs::file_time_type written = it->last_write_time(entryError);
        if (entryError) written = fs::file_time_type::max();
        if (!candidate || written < candidateTime) {
            candidate = it->path();
            candidateTime = written;
        }
    }
    if (candidate) scan.Path = JoinPath(dir, PathUtf8(candidate->filename()));
    scan.Summary = "match=" + std::to_string(scan.Matched) + " err_skip=" + std::to_string(scan.Skipped) +
                   " other=" + std::to_string(scan.Other);
    return scan;
}

bool LoadFileIntoScales(const std::string& path, const TScaleBrandConfig& brandCfg, TVesiLoadResult& result,
                        const TMassaTimeouts& timeouts) {
    result = {false, {}, FileNamePart(path)};
    LogStep("Scales.parse", path);
    TScaleTables tables;
    std::string parseError;
    if (!LoadPriceFileTables(path, tables, parseError)) {
        result.Message = "Parse: " + parseError;
        MarkErrorFile(path, result.Message);
        LogError("Scales parse failed: " + result.Message);
        return false;
    }
    const TBytes& goods = tables.Goods;
    const TBytes& plu = tables.Plu;
    LogInfo("Scales Massa-K file=" + result.FileName + " PLU=" + std::to_string(tables.Rows) +
            " goods=" + std::to_string(goods.size()) + " bytes plu=" + std::to_string(plu.size()) +
            " bytes; " + HostsSummary(brandCfg));

    int tried = 0;
    int loaded = 0;
    bool failed = false;
    const std::string listSize = std::to_string(brandCfg.Scales.size());
    for (const TScaleEndpoint& scale : brandCfg.Scales) {
        if (!scale.Enabled) {
            LogInfo("Scales skip disabled " + scale.Host);
            continue;
        }
        if (TrimControl(scale.Host).empty()) continue;
        ++tried;
        const std::string target = Endpoint(scale);
        LogStep("Scales.upload", target + " (" + std::to_string(tried) + "/" + listSize + ")");
        try {
            std::string err;
            if (UploadToMassaScale(scale.Host, scale.Port, goods, plu, err, timeouts)) {
                ++loaded;
                LogInfo("Scales OK " + target);
            } else {
                failed = true;
                LogError("Scales FAIL " + target + " - " + err);
                result.Message = target + " - " + err;
            }
        } catch (const std::exception& error) {
            failed = true;
            LogException("Scales.upload.outer", error);
            result.Message = target + " - " + ExceptionClassName(error) + ": " + error.what();
        }
    }

    if (tried == 0) {
        result.Message = "No enabled scales to upload";
        LogError("Scales: no enabled hosts to upload");
        return false;
    }
    if (failed) {
        LogError("Scales load partial/fail: ok=" + std::to_string(loaded) +
                 " tried=" + std::to_string(tried));
        MarkErrorFile(path, result.Message);
        return false;
    }

    LogStep("Scales.delete", path);
    std::error_code error;
    if (!fs::remove(Utf8Path(path), error) && !error)
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    if (error) {
        result.Message = "Loaded but delete failed: " + error.message();
        LogError(result.Message);
        return false;
    }
    result.Ok = true;
    result.Message = "Loaded " + std::to_string(tables.Rows) + " PLU -> " + std::to_string(loaded) +
                     " scale(s), file removed";
    LogInfo("Scales SUCCESS: " + result.Message);
    return true;
}

bool MarkErrorFile(const std::string& path, const std::string& reason) {
    try {
        platform::WriteFileAtomically(path + ErrSuffix, Utf8Bom + LocalTimeText() + "\r\n" + reason);
        LogInfo("Scales marked error file: " + FileNamePart(path) + ErrSuffix);
        return true;
    } catch (const std::exception& error) {
        LogError(std::string("Scales mark .err failed: ") + error.what());
        return false;
    }
}

std::string HostsSummary(const TScaleBrandConfig& brandCfg) {
    std::vector<std::string> items;
    for (const TScaleEndpoint& scale : brandCfg.Scales) {
        if (scale.Enabled && !TrimControl(scale.Host).empty()) items.push_back(Endpoint(scale));
    }
    if (items.empty()) return "hosts=0";
    std::string list;
    for (const std::string& item : items) {
        if (!list.empty()) list += ",";
        list += ListItem(item);
    }
    return "hosts=" + std::to_string(items.size()) + " [" + list + "]";
}

}  // namespace egaiss
