#pragma once
// Scale settings: per brand the drop folder, the expected price file, the poll interval and the
// scales on the LAN, plus the agent's MAC address. They live as key=value lines in agent.ini
// beside the agent settings; only the scale lines are read and rewritten here.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/uConfigEdit.h"
#include "core/uEgaissConfig.h"
#include "platform/uNetAdapters.h"

namespace egaiss {

// Stored and passed as a number; numbers outside 0..3 are tolerated by every function below.
enum TScaleBrand : int { sbMassaK = 0, sbShtrih = 1, sbCas = 2, sbDigi = 3 };
inline constexpr int ScaleBrandCount = 4;

inline constexpr int DefaultScalePollSeconds = 3;
inline constexpr const char* DefaultVesiDir = "c:\\kassa\\vesi";

struct TScaleEndpoint {
    std::string Host;
    int Port = 5001;
    std::string Serial;  // informational only
    bool Enabled = true;

    // "host:port[:serial][:off]"
    std::string AsLine() const;
    static TScaleEndpoint FromLine(std::string_view text);

    bool operator==(const TScaleEndpoint&) const = default;
};

struct TScaleBrandConfig {
    bool Enabled = false;
    std::string VesiDir = DefaultVesiDir;
    std::string ExpectFile;  // exact name or mask; DefaultBrandConfig fills the brand's default
    int PollSeconds = DefaultScalePollSeconds;
    std::vector<TScaleEndpoint> Scales;
    // Where the LAN search looks: "a.b.c.d/n" entries separated by commas or blanks; empty means
    // this computer's subnets. Support staff narrow it to one subnet, tests to loopback.
    std::string SearchSubnets;

    bool operator==(const TScaleBrandConfig&) const = default;
};

std::array<TScaleBrandConfig, ScaleBrandCount> DefaultBrandConfigs();

struct TScalesConfig {
    std::string MacAddr;  // 12 upper-case hex digits or empty
    std::array<TScaleBrandConfig, ScaleBrandCount> Brands = DefaultBrandConfigs();

    bool operator==(const TScalesConfig&) const = default;
};

std::string ScaleBrandKey(int brand);    // "massa", ...; "unknown" outside 0..3
std::string ScaleBrandTitle(int brand);  // display name; "?" outside 0..3
std::string DefaultExpectFile(int brand);
int DefaultScalePort(int brand = sbMassaK);
bool IsBrandSupported(int brand);
TScaleBrandConfig DefaultBrandConfig(int brand);

// Reads agent.ini; a missing MAC address is detected but not written back. Raises EFileError
// when the file exists but cannot be read.
TScalesConfig LoadScalesConfig();
// The scale settings found in a settings text, defaults and clamps applied; MacAddr as written.
TScalesConfig ParseScalesConfigText(const std::string& text);
// Replaces every scale line of agent.ini by the current form at the end of the file; all other
// lines stay in place. Raises EFileError.
void SaveScalesConfig(const TScalesConfig& cfg);

// Writes agent.ini from the settings dialog's or `config --set`'s draft, keeping the scale lines of
// the current file whose keys the draft does not set itself: a block pasted from the server carries
// no scale settings, and saving it must not switch the scales off. Returns the agent settings read
// back. Raises EFileError.
TEgaissConfig SaveConfigDraftKeepingScales(const TConfigDraft& draft);

// First non-loopback adapter with a physical address of at least 6 bytes, as 12 upper-case hex
// digits; empty when there is none.
std::string DetectMacAddress();
std::string DetectMacAddress(const std::vector<platform::TNetAdapter>& adapters);
// Fills a blank MacAddr from the adapters; returns MacAddr.
std::string EnsureMacAddr(TScalesConfig& cfg);

bool HasEnabledScale(const TScaleBrandConfig& brand);
bool IsBrandReady(const TScaleBrandConfig& brand);
bool IsBrandActive(const TScaleBrandConfig& brand);
// What the user still has to do before the brand loads, or empty.
std::string BrandHint(const TScaleBrandConfig& brand);
bool AnyBrandActive(const TScalesConfig& cfg);
// Seconds between looks into the drop folder for the scales timer.
int ScalesPollSeconds(const TScalesConfig& cfg);

// The file-name part of `fileName` against an exact name or a mask with "*", "?" and [sets],
// ignoring case (Latin, Latin-1 and Cyrillic letters).
bool MatchesExpectFile(std::string_view fileName, std::string_view mask);

}  // namespace egaiss
