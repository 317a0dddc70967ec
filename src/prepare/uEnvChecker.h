#pragma once
// The environment checks of the preparation manifest: whether one component (Java, the UTM programs
// and services, the architecture, the UTM's HTTP interface, the server connection, the token) is
// present and working, and the one repair action a manifest may ask for, starting the UTM services.
// The operating system is reached only through platform::TSystemFacts.
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/uEgaissConfig.h"
#include "platform/uSystemFacts.h"
#include "prepare/uBootstrapManifest.h"

namespace egaiss {

enum class TEnvCheckState : std::uint8_t { ecsOk, ecsWarn, ecsFail, ecsSkip };

struct TEnvCheckResult {
    TEnvCheckState State = TEnvCheckState::ecsFail;
    std::string Detail;

    static TEnvCheckResult Ok(std::string detail) { return {TEnvCheckState::ecsOk, std::move(detail)}; }
    static TEnvCheckResult Warn(std::string detail) { return {TEnvCheckState::ecsWarn, std::move(detail)}; }
    static TEnvCheckResult Fail(std::string detail) { return {TEnvCheckState::ecsFail, std::move(detail)}; }

    bool operator==(const TEnvCheckResult&) const = default;
};

// "OK", "Warning", "Failed", "-" (window).
std::string EnvStateText(TEnvCheckState state);
// "OK", "WARN", "FAIL", "SKIP" (log).
std::string EnvStateTag(TEnvCheckState state);

// Runs the check of one component against the running system. Raises EJsonError when the check block
// has no "type"; every problem found is reported in the result.
TEnvCheckResult RunEnvCheck(const TJsonValue& component, const TEgaissConfig& cfg);
// Runs the action of an install block ("start_utm_services" is the only one).
TEnvCheckResult RunEnvAction(const TJsonValue& installBlock);

// Service names the start action looks for besides those found by the name heuristics.
inline constexpr std::array<const char*, 5> DefaultUtmServiceNames = {"Transport", "EgaisTransport", "UTM",
                                                                      "EgaisUTM", "egais"};

// The checks over given system facts. Holds no state of its own besides the facts.
class TEnvChecker {
public:
    explicit TEnvChecker(platform::TSystemFacts& facts) : FFacts(facts) {}

    TEnvCheckResult RunCheck(const TJsonValue& component, const TEgaissConfig& cfg);
    TEnvCheckResult RunAction(const TJsonValue& installBlock);

    // One function per check type.
    TEnvCheckResult CheckRegistryUninstall(const TJsonValue& keywords);
    TEnvCheckResult CheckJavaVersion(const TJsonValue& check);
    TEnvCheckResult CheckServiceAnyRunning(const TJsonValue& names);
    TEnvCheckResult CheckWindowsArch(const std::string& arch);
    TEnvCheckResult StartUtmServices();

    // Java: the candidate programs in the order they are tried, each once.
    std::vector<std::string> CollectJavaCandidates(const TJsonValue* alsoKeywords);

    // Services: the given names and every service the heuristics pick, best ranked first.
    std::vector<std::string> CollectUtmServices(const std::vector<std::string>& names);
    bool IsUtmServiceCandidate(const std::string& name);
    bool IsMainUtmService(const std::string& name);
    int UtmServiceRank(const std::string& name);
    bool ServiceExists(const std::string& name);
    bool IsServiceRunning(const std::string& name);
    // "Stopped", "StartPending", "StopPending", "Running", "State=<n>" or "Unknown".
    std::string ServiceStateText(const std::string& name);
    // Starts a service and waits up to 60 s for it to run; `reason` tells why it did not.
    bool StartServiceAndWait(const std::string& name, std::string& reason);

private:
    struct TJavaRun {
        bool IsJava8 = false;
        std::string Output;
    };
    TJavaRun RunJavaVersion(const std::string& program);
    void AddJavaCandidate(std::vector<std::string>& list, std::string path);
    bool WaitServiceRunning(const std::string& name, std::chrono::milliseconds limit);

    platform::TSystemFacts& FFacts;
};

// Checks that need no system facts.
TEnvCheckResult CheckHttpLocal(const TJsonValue& check, const TEgaissConfig& cfg);
TEnvCheckResult CheckServerPing(const TEgaissConfig& cfg);

// Text helpers of the checks. "Without case" folds only the letters A to Z.
bool ContainsNoCase(std::string_view text, std::string_view part);
// A string's text, a number as written; empty for other kinds.
std::string JsonArrayItemText(const TJsonValue& item);
// True when `value` is not empty and contains one of the non-empty keywords.
bool MatchesAnyKeyword(std::string_view value, const TJsonValue& keywords);
// The text of `java -version` names Java 8 ("1.8", "8." or exactly "8" after version and a quote).
bool IsJava8Output(std::string_view output);
bool ImagePathLooksLikeUtm(std::string_view imagePath);
// Entries separated by ","; an entry with a blank, control character, comma or double quote is
// enclosed in double quotes with inner quotes doubled.
std::string CommaText(const std::vector<std::string>& items);

}  // namespace egaiss
