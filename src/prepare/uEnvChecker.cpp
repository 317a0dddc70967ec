#include "prepare/uEnvChecker.h"

#include <algorithm>
#include <optional>

#include "clients/uVelmoraApi.h"
#include "core/uEgaissRu.h"
#include "core/uVersion.h"
#include "platform/uHttpClient.h"
#include "platform/uPath.h"

namespace egaiss {
namespace {

using platform::TProgramSource;

constexpr std::chrono::milliseconds ServiceStartWait{60000};
constexpr std::chrono::milliseconds ServicePollInterval{500};

std::string FoldAscii(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FoldAscii(a) == FoldAscii(b);
}

bool HasFolderPart(std::string_view path) {
    return path.find_first_of("/\\") != std::string_view::npos;
}

std::string_view FileNamePart(std::string_view path) {
    const auto separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// Image-path tests name folders with either separator.
std::string FoldedImagePath(std::string_view imagePath) {
    std::string folded = FoldAscii(imagePath);
    std::replace(folded.begin(), folded.end(), '/', '\\');
    return folded;
}

bool IsMainServiceName(std::string_view folded) {
    return folded == "transport" || folded == "egaistransport" || folded == "utm" || folded == "egaisutm";
}

std::vector<std::string> ArrayTexts(const TJsonValue& array) {
    std::vector<std::string> texts;
    for (const auto& item : array.Items())
        texts.push_back(JsonArrayItemText(item));
    return texts;
}

// A path goes right after the UTM's port: anything that could make the URL name another host (user
// info, a backslash some stacks read as "/", a control character) or no path at all is refused.
bool IsSafeLocalPath(const std::string& path) {
    const std::string trimmed = TrimControl(path);
    if (trimmed.empty() || trimmed.front() != '/') return false;
    return std::none_of(trimmed.begin(), trimmed.end(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return c == '@' || c == '\\' || code < 0x20 || code == 0x7F;
    });
}

}  // namespace

std::string EnvStateText(TEnvCheckState state) {
    switch (state) {
        case TEnvCheckState::ecsOk:
            return "OK";
        case TEnvCheckState::ecsWarn:
            return "Warning";
        case TEnvCheckState::ecsFail:
            return "Failed";
        case TEnvCheckState::ecsSkip:
            return "-";
    }
    return "-";
}

std::string EnvStateTag(TEnvCheckState state) {
    switch (state) {
        case TEnvCheckState::ecsOk:
            return "OK";
        case TEnvCheckState::ecsWarn:
            return "WARN";
        case TEnvCheckState::ecsFail:
            return "FAIL";
        case TEnvCheckState::ecsSkip:
            return "SKIP";
    }
    return "SKIP";
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
    return !part.empty() && Contains(FoldAscii(text), FoldAscii(part));
}

std::string JsonArrayItemText(const TJsonValue& item) {
    return item.IsString() || item.IsNumber() ? item.Text() : std::string();
}

bool MatchesAnyKeyword(std::string_view value, const TJsonValue& keywords) {
    if (value.empty()) return false;
    return std::any_of(keywords.Items().begin(), keywords.Items().end(), [&](const TJsonValue& keyword) {
        return ContainsNoCase(value, JsonArrayItemText(keyword));
    });
}

bool IsJava8Output(std::string_view output) {
    const std::string folded = FoldAscii(output);
    return Contains(folded, "version \"1.8") || Contains(folded, "version \"8.") ||
           Contains(folded, "version \"8\"");
}

bool ImagePathLooksLikeUtm(std::string_view imagePath) {
    const std::string folded = FoldedImagePath(imagePath);
    return Contains(folded, "\\utm\\") || Contains(folded, "\\egais\\") || Contains(folded, "fsrar") ||
           Contains(folded, "transporter") || Contains(folded, "nmhtransport");
}

std::string CommaText(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        if (!text.empty()) text += ',';
        const bool quote = std::any_of(item.begin(), item.end(), [](char c) {
            return static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"';
        });
        if (!quote) {
            text += item;
            continue;
        }
        text += '"';
        for (const char c : item) {
            if (c == '"') text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

TEnvCheckResult TEnvChecker::RunCheck(const TJsonValue& component, const TEgaissConfig& cfg) {
    TEnvCheckResult result = TEnvCheckResult::Fail("No check block");
    bool required = true;
    TryGetJsonBool(component, "required", required);
    const TJsonValue* check = nullptr;
    if (!TryGetJsonValue(component, "check", check)) return result;

    const std::string type = GetJsonString(*check, "type");
    const TJsonValue* list = nullptr;
    if (type == "registry_uninstall") {
        if (TryGetJsonArray(*check, "keywords", list)) result = CheckRegistryUninstall(*list);
    } else if (type == "java_version") {
        result = CheckJavaVersion(*check);
    } else if (type == "service_any_running") {
        if (TryGetJsonArray(*check, "names", list)) result = CheckServiceAnyRunning(*list);
    } else if (type == "windows_arch") {
        if (std::string arch; TryGetJsonString(*check, "arch", arch)) result = CheckWindowsArch(arch);
    } else if (type == "http_local") {
        result = CheckHttpLocal(*check, cfg);
    } else if (type == "http_velmora_ping") {
        result = CheckServerPing(cfg);
    } else if (type == "usb_token") {
        result = TEnvCheckResult::Warn("USB token: insert token or run egaiss-env-inventory.ps1");
    } else {
        result = TEnvCheckResult::Fail("Unknown check: " + type);
    }

    if (result.State == TEnvCheckState::ecsFail && !required) result.State = TEnvCheckState::ecsWarn;
    return result;
}

TEnvCheckResult TEnvChecker::RunAction(const TJsonValue& installBlock) {
    std::string action;
    TryGetJsonString(installBlock, "action", action);
    if (!action.empty() && EqualsNoCase(action, "start_utm_services")) return StartUtmServices();
    return TEnvCheckResult::Fail("Unknown action: " + action);
}

TEnvCheckResult TEnvChecker::CheckRegistryUninstall(const TJsonValue& keywords) {
    for (const auto source :
         {TProgramSource::psMachine, TProgramSource::psMachine32, TProgramSource::psUser}) {
        for (const auto& program : FFacts.InstalledPrograms(source)) {
            if (MatchesAnyKeyword(program.DisplayName, keywords) ||
                MatchesAnyKeyword(program.Publisher, keywords) ||
                MatchesAnyKeyword(program.InstallLocation, keywords)) {
                return TEnvCheckResult::Ok(program.DisplayName.empty() ? program.Publisher
                                                                       : program.DisplayName);
            }
        }
    }
    return TEnvCheckResult::Fail("Not found in Programs list");
}

TEnvChecker::TJavaRun TEnvChecker::RunJavaVersion(const std::string& program) {
    TJavaRun run;
    if (HasFolderPart(program) && !FFacts.FileExists(program)) return run;
    const std::optional<std::string> output = FFacts.RunJavaVersion(program);
    if (!output) return run;
    const std::string text = Utf8ToText(*output);
    run.IsJava8 = IsJava8Output(text);
    run.Output = TrimControl(text);
    if (run.Output.empty()) run.Output = program;
    return run;
}

void TEnvChecker::AddJavaCandidate(std::vector<std::string>& list, std::string path) {
    if (path.empty()) return;
    const std::string program = FFacts.JavaProgramName();
    if (FileNamePart(path) != program && FFacts.FolderExists(path))
        path = JoinPath(JoinPath(path, "bin"), program);
    if (!EqualsNoCase(FileNamePart(path), program) || !FFacts.FileExists(path)) return;
    const bool known = std::any_of(list.begin(), list.end(),
                                   [&](const std::string& entry) { return EqualsNoCase(entry, path); });
    if (!known) list.push_back(std::move(path));
}

std::vector<std::string> TEnvChecker::CollectJavaCandidates(const TJsonValue* alsoKeywords) {
    std::vector<std::string> candidates;
    const std::string program = FFacts.JavaProgramName();
    if (const auto javaHome = FFacts.EnvironmentVariable("JAVA_HOME"))
        AddJavaCandidate(candidates, *javaHome);

    if (alsoKeywords != nullptr) {
        for (const auto source : {TProgramSource::psMachine32, TProgramSource::psMachine}) {
            for (const auto& entry : FFacts.InstalledPrograms(source)) {
                if (!MatchesAnyKeyword(entry.DisplayName, *alsoKeywords) &&
                    !MatchesAnyKeyword(entry.Publisher, *alsoKeywords) &&
                    !MatchesAnyKeyword(entry.InstallLocation, *alsoKeywords)) {
                    continue;
                }
                AddJavaCandidate(candidates, entry.InstallLocation);
                if (!FFacts.FolderExists(entry.InstallLocation)) continue;
                for (auto& found : FFacts.FindFiles(entry.InstallLocation, program)) {
                    AddJavaCandidate(candidates, std::move(found));
                }
            }
        }
    }

    for (const auto& folder : FFacts.JavaSearchFolders()) {
        if (!FFacts.FolderExists(folder)) continue;
        for (auto& found : FFacts.FindFiles(folder, program))
            AddJavaCandidate(candidates, std::move(found));
    }
    return candidates;
}

TEnvCheckResult TEnvChecker::CheckJavaVersion(const TJsonValue& check) {
    const TJsonValue* alsoKeywords = nullptr;
    TryGetJsonArray(check, "also_registry_keywords", alsoKeywords);
    const std::string program = FFacts.JavaProgramName();

    for (const auto& entry : FFacts.JavaRegistryEntries()) {
        if (!ContainsNoCase(entry.Version, "1.8") && !ContainsNoCase(entry.Version, "8.")) continue;
        if (!entry.JavaHome || entry.JavaHome->empty()) continue;
        const std::string java = JoinPath(JoinPath(*entry.JavaHome, "bin"), program);
        if (!FFacts.FileExists(java)) continue;
        if (const TJavaRun run = RunJavaVersion(java); run.IsJava8) return TEnvCheckResult::Ok(run.Output);
    }

    for (const auto& candidate : CollectJavaCandidates(alsoKeywords)) {
        if (const TJavaRun run = RunJavaVersion(candidate); run.IsJava8)
            return TEnvCheckResult::Ok(run.Output);
    }

    // Last, whatever the search path finds.
    if (const TJavaRun run = RunJavaVersion(program); run.IsJava8) return TEnvCheckResult::Ok(run.Output);
    return TEnvCheckResult::Fail("Java 1.8 not found (java -version)");
}

bool TEnvChecker::ServiceExists(const std::string& name) {
    return FFacts.ServiceState(name).has_value();
}

bool TEnvChecker::IsServiceRunning(const std::string& name) {
    return FFacts.ServiceState(name) == platform::ServiceRunning;
}

std::string TEnvChecker::ServiceStateText(const std::string& name) {
    const std::optional<int> state = FFacts.ServiceState(name);
    if (!state) return "Unknown";
    switch (*state) {
        case platform::ServiceStopped:
            return "Stopped";
        case platform::ServiceStartPending:
            return "StartPending";
        case platform::ServiceStopPending:
            return "StopPending";
        case platform::ServiceRunning:
            return "Running";
        default:
            return "State=" + std::to_string(*state);
    }
}

bool TEnvChecker::IsUtmServiceCandidate(const std::string& name) {
    const std::string folded = FoldAscii(name);
    if (folded.rfind("microsoft_", 0) == 0 || Contains(folded, "bluetooth") || Contains(folded, "netbt"))
        return false;
    if (Contains(folded, "audio") && Contains(folded, "transport")) return false;
    if (IsMainServiceName(folded)) return true;
    if (Contains(folded, "transport-updater") || Contains(folded, "transport-monitoring")) return true;
    if (Contains(folded, "egais") || Contains(folded, "fsrar") || Contains(folded, "nmhtransport"))
        return true;
    const std::string imagePath = FFacts.ServiceImagePath(name);
    return !imagePath.empty() && ImagePathLooksLikeUtm(imagePath);
}

bool TEnvChecker::IsMainUtmService(const std::string& name) {
    if (!IsUtmServiceCandidate(name)) return false;
    const std::string folded = FoldAscii(name);
    if (Contains(folded, "updater") || Contains(folded, "monitor")) return false;
    if (IsMainServiceName(folded)) return true;
    const std::string imagePath = FoldedImagePath(FFacts.ServiceImagePath(name));
    if (imagePath.empty()) return false;
    return (Contains(imagePath, "\\utm\\") || Contains(imagePath, "transporter") ||
            Contains(imagePath, "nmhtransport")) &&
           !Contains(imagePath, "updater") && !Contains(imagePath, "monitor");
}

int TEnvChecker::UtmServiceRank(const std::string& name) {
    const std::string folded = FoldAscii(name);
    if (folded == "transport" || folded == "egaistransport") return 0;
    if (IsMainUtmService(name)) return 1;
    if (Contains(folded, "updater")) return 2;
    if (Contains(folded, "monitor")) return 3;
    return 4;
}

std::vector<std::string> TEnvChecker::CollectUtmServices(const std::vector<std::string>& names) {
    std::vector<std::string> list;
    const auto add = [&](const std::string& name) {
        if (name.empty()) return;
        const bool known = std::any_of(list.begin(), list.end(),
                                       [&](const std::string& entry) { return EqualsNoCase(entry, name); });
        if (!known) list.push_back(name);
    };
    for (const auto& name : names)
        add(name);
    for (const auto& name : FFacts.ServiceNames()) {
        if (IsUtmServiceCandidate(name)) add(name);
    }

    // An exchange sort, not a stable one: names of equal rank may change places through a third.
    std::vector<int> ranks;
    ranks.reserve(list.size());
    for (const auto& name : list)
        ranks.push_back(UtmServiceRank(name));
    for (std::size_t i = 0; i < list.size(); ++i) {
        for (std::size_t j = i + 1; j < list.size(); ++j) {
            if (ranks[j] < ranks[i]) {
                std::swap(list[i], list[j]);
                std::swap(ranks[i], ranks[j]);
            }
        }
    }
    return list;
}

TEnvCheckResult TEnvChecker::CheckServiceAnyRunning(const TJsonValue& names) {
    std::vector<std::string> notRunning;
    bool found = false;
    for (const auto& name : CollectUtmServices(ArrayTexts(names))) {
        if (!IsMainUtmService(name) || !ServiceExists(name)) continue;
        found = true;
        if (IsServiceRunning(name)) return TEnvCheckResult::Ok("Service " + name + " is running");
        notRunning.push_back(name + " [" + ServiceStateText(name) + "]");
    }
    if (!found) return TEnvCheckResult::Fail("UTM service not found in Services");
    return TEnvCheckResult::Fail("Found but not running: " + CommaText(notRunning));
}

TEnvCheckResult TEnvChecker::CheckWindowsArch(const std::string& arch) {
    if (arch == "x64") {
        switch (FFacts.NativeArchitecture()) {
            case platform::TCpuArchitecture::caX64:
                return TEnvCheckResult::Ok("x64");
            case platform::TCpuArchitecture::caX86:
                return TEnvCheckResult::Warn("32-bit Windows - UTM usually needs x64");
            default:
                break;
        }
    }
    return TEnvCheckResult::Fail("Architecture check failed");
}

bool TEnvChecker::WaitServiceRunning(const std::string& name, std::chrono::milliseconds limit) {
    const auto start = FFacts.Now();
    for (;;) {
        if (IsServiceRunning(name)) return true;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(FFacts.Now() - start);
        if (elapsed >= limit) return false;
        FFacts.Sleep(std::min(ServicePollInterval, limit - elapsed));
    }
}

bool TEnvChecker::StartServiceAndWait(const std::string& name, std::string& reason) {
    reason.clear();
    if (IsServiceRunning(name)) return true;
    const platform::TServiceStartResult request = FFacts.RequestServiceStart(name);
    switch (request.Outcome) {
        case platform::TServiceStart::ssAlreadyRunning:
            return true;
        case platform::TServiceStart::ssFailed:
            reason = request.Reason;
            return false;
        case platform::TServiceStart::ssAccepted:
            break;
    }
    if (WaitServiceRunning(name, ServiceStartWait)) return true;
    reason = name + " [" + ServiceStateText(name) + "]";
    return false;
}

TEnvCheckResult TEnvChecker::StartUtmServices() {
    const std::vector<std::string> services =
        CollectUtmServices({DefaultUtmServiceNames.begin(), DefaultUtmServiceNames.end()});
    std::vector<std::string> started;
    std::vector<std::string> failures;
    // Updater and monitoring services are started too: the main service may need them.
    for (const auto& name : services) {
        if (!IsUtmServiceCandidate(name) || !ServiceExists(name)) continue;
        if (IsServiceRunning(name)) {
            started.push_back(name);
            continue;
        }
        if (std::string reason; StartServiceAndWait(name, reason)) {
            started.push_back(name);
        } else {
            failures.push_back(std::string("Failed to start ").append(name).append(": ").append(reason));
        }
    }

    for (const auto& name : services) {
        if (!IsMainUtmService(name) || !IsServiceRunning(name)) continue;
        if (started.empty()) return TEnvCheckResult::Ok("Service " + name + " is running");
        return TEnvCheckResult::Ok("Started: " + CommaText(started));
    }

    if (!failures.empty()) {
        std::string lines;
        for (const auto& failure : failures)
            lines.append(failure).append("\r\n");
        return TEnvCheckResult::Fail(TrimControl(lines));
    }
    if (ServiceExists("Transport") || ServiceExists("EgaisTransport")) {
        return TEnvCheckResult::Fail("UTM services are not running");
    }
    return TEnvCheckResult::Fail("UTM service not found in Services");
}

TEnvCheckResult CheckHttpLocal(const TJsonValue& check, const TEgaissConfig& cfg) {
    const std::string host = cfg.UtmHost.empty() ? std::string("127.0.0.1") : cfg.UtmHost;
    const int port = cfg.UtmPort < 1 ? 8080 : cfg.UtmPort;
    const TJsonValue* paths = nullptr;
    if (!TryGetJsonArray(check, "paths", paths)) return TEnvCheckResult::Fail("No paths in manifest");

    const std::vector<std::string> texts = ArrayTexts(*paths);
    for (const std::string& path : texts) {
        if (!IsSafeLocalPath(path)) return TEnvCheckResult::Fail("Invalid path in manifest: " + path);
    }

    platform::THttpClient client;
    client.SetConnectTimeoutMs(5000);
    client.SetResponseTimeoutMs(5000);
    std::optional<std::string> lastError;
    for (const std::string& path : texts) {
        platform::THttpRequest request;
        request.URL = "http://" + host + ":" + std::to_string(port) + TrimControl(path);
        try {
            const platform::THttpResponse response = client.Send(request);
            if (response.StatusCode >= 200 && response.StatusCode <= 299) {
                return TEnvCheckResult::Ok("HTTP " + std::to_string(response.StatusCode) + " " + request.URL);
            }
        } catch (const std::exception& error) {
            lastError = error.what();
        }
    }
    return TEnvCheckResult::Fail(lastError ? *lastError : "No response from UTM");
}

TEnvCheckResult CheckServerPing(const TEgaissConfig& cfg) {
    if (!cfg.IsComplete()) return TEnvCheckResult::Fail("Agent is not configured");
    try {
        TVelmoraApi api(cfg);
        api.PingErrorOnly(AgentVersion, "");
        return TEnvCheckResult::Ok("Ping OK");
    } catch (const std::exception& error) {
        std::string message = error.what();
        if (message.rfind("HTTP 401", 0) == 0)
            message += "\r\nCheck agent_id and agent_secret in agent settings.";
        return TEnvCheckResult::Fail(message);
    }
}

TEnvCheckResult RunEnvCheck(const TJsonValue& component, const TEgaissConfig& cfg) {
    const auto facts = platform::NewSystemFacts();
    return TEnvChecker(*facts).RunCheck(component, cfg);
}

TEnvCheckResult RunEnvAction(const TJsonValue& installBlock) {
    const auto facts = platform::NewSystemFacts();
    return TEnvChecker(*facts).RunAction(installBlock);
}

}  // namespace egaiss
