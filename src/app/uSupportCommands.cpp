#include "app/uSupportCommands.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <atomic>
#include <charconv>
#include <ostream>
#include <thread>

#include "app/uCommandLine.h"
#include "clients/uUtmApi.h"
#include "clients/uVelmoraApi.h"
#include "core/uConfigEdit.h"
#include "core/uEgaissLog.h"
#include "platform/uErrors.h"
#include "platform/uPath.h"
#include "prepare/uBootstrapInstall.h"
#include "prepare/uPrepareCheck.h"
#include "prepare/uPrepareInstall.h"
#include "scales/uMassaKDiscovery.h"
#include "scales/uScalesConfig.h"
#include "scales/uVesiFolderWatch.h"
#include "sync/uSyncWorker.h"

namespace egaiss {
namespace {

constexpr auto LockWait = std::chrono::seconds(10);
constexpr int MaxFindTimeoutMs = 600000;

bool ParseWholeNumber(const std::string& text, int low, int high, int& value) {
    int parsed = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (failure != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

struct TFindOptions {
    std::vector<TLocalSubnet> Subnets;
    int Port = DefaultScalePort();
    int TimeoutMs = 5000;
};

bool ParseFindOptions(const std::vector<std::string>& args, TFindOptions& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        } else if (name == "--subnet" || name == "--port" || name == "--timeout-ms") {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (name == "--subnet") {
            TLocalSubnet subnet;
            if (!ParseSubnet(value, subnet)) {
                error = "--subnet: expected a.b.c.d/n, got '" + value + "'";
                return false;
            }
            options.Subnets.push_back(subnet);
        } else if (name == "--port") {
            if (!ParseWholeNumber(value, 1, 65535, options.Port)) {
                error = "--port: expected 1..65535, got '" + value + "'";
                return false;
            }
        } else if (name == "--timeout-ms") {
            if (!ParseWholeNumber(value, 0, MaxFindTimeoutMs, options.TimeoutMs)) {
                error =
                    "--timeout-ms: expected 0.." + std::to_string(MaxFindTimeoutMs) + ", got '" + value + "'";
                return false;
            }
        } else {
            error = "scales-find: unknown option: " + args[i];
            return false;
        }
    }
    return true;
}

// Indented, with non-ASCII characters as UTF-8 text instead of \u escapes.
std::string JsonForPeople(const std::string& json) {
    rapidjson::Document doc;
    doc.Parse(json.data(), json.size());
    if (doc.HasParseError()) return json;
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    doc.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// Applies "KEY=VALUE" arguments to the draft; the reason of the first refused one, else empty.
std::string SetDraftValues(TConfigDraft& draft, const std::vector<std::string>& assignments) {
    for (const std::string& assignment : assignments) {
        const auto equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) return "expected KEY=VALUE, got '" + assignment + "'";
        std::string refused =
            SetDraftValue(draft, assignment.substr(0, equals), assignment.substr(equals + 1));
        if (!refused.empty()) return refused;
    }
    return {};
}

int SetConfigValues(const std::vector<std::string>& assignments, std::ostream& out, std::ostream& err) {
    try {
        TConfigDraft draft = LoadConfigDraft();
        std::string refused = SetDraftValues(draft, assignments);
        if (refused.empty()) refused = DraftRefusal(draft);
        if (!refused.empty()) {
            err << "VelmoraEgaissAgent: config --set: " << refused << "\n";
            return ExitUsage;
        }
        out << EffectiveConfigText(SaveConfigDraftKeepingScales(draft));
        return ExitOk;
    } catch (const std::exception& error) {
        LogException("Config command", error);
        err << "Failed to save settings: " << error.what() << "\n";
        return ExitFailed;
    }
}

}  // namespace

std::string DataFolderLockPath() {
    return JoinPath(AgentDataDir(), "agent.lock");
}

std::unique_ptr<platform::TInstanceLock> LockDataFolder() {
    auto lock = std::make_unique<platform::TInstanceLock>(DataFolderLockPath());
    if (lock->Acquire(LockWait)) return lock;
    LogInfo("Agent already running");
    return nullptr;
}

std::optional<TEgaissConfig> LoadConfigOrReport(std::ostream& err) {
    try {
        return LoadConfig();
    } catch (const std::exception& error) {
        const std::string line = std::string("Cannot read agent.ini: ") + error.what();
        LogError(line);
        err << line << "\n";
        return std::nullopt;
    }
}

int RunStopCommand(const std::function<bool()>& askToExit, const std::string& lockPath,
                   std::chrono::milliseconds wait, std::ostream& out) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    bool asked = false;
    for (;;) {
        if (!asked) asked = askToExit();
        // Free for a moment: no agent holds the folder, and none that starts now is kept out long.
        if (platform::TInstanceLock(lockPath).Acquire(std::chrono::milliseconds(0))) {
            const std::string text = asked ? "Agent stopped" : "No agent running";
            LogInfo("Stop command: " + text);
            out << text << "\n";
            return ExitOk;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::string text =
        "Agent still running after " +
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait).count()) + " s" +
        (asked ? "" : " (it did not answer: an agent run with --headless ends on Ctrl+C or SIGTERM)");
    LogError("Stop command: " + text);
    out << text << "\n";
    return ExitFailed;
}

int RunSyncCommand(const TEgaissConfig& cfg, std::ostream& out) {
    if (!cfg.IsComplete()) {
        out << "Agent is not configured\n";
        return ExitUsage;
    }
    const auto lock = LockDataFolder();
    if (!lock) {
        out << "Agent already running\n";
        return ExitAlreadyRunning;
    }
    bool ok = false;
    std::string msg;
    try {
        RunSyncCycle(cfg, ok, msg);
    } catch (const std::exception& error) {
        LogException("Sync command", error);
        msg = error.what();
    }
    out << (ok ? "OK: " : "FAILED: ") << msg << "\n";
    return ok ? ExitOk : ExitFailed;
}

int RunDiagnoseCommand(const TEgaissConfig& cfg, std::ostream& out) {
    TUtmDiagnosis diagnosis;
    TUtmApi(cfg.UtmBaseURL()).FetchDiagnosis(diagnosis);
    out << JsonForPeople(UtmDiagnosisJson(diagnosis)) << "\n";
    return diagnosis.OK ? ExitOk : ExitFailed;
}

std::string EffectiveConfigText(const TEgaissConfig& cfg) {
    TEgaissConfig shown = cfg;
    if (!shown.AgentSecret.empty()) shown.AgentSecret = "***";
    std::string text;
    for (const std::string& line : SplitTextLines(ConfigToText(shown))) {
        if (!line.empty() && line[0] != '#') text += line + "\n";
    }
    return text + "autostart=" + (cfg.AutoStart ? "1" : "0") + "\n";
}

int RunConfigCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        out << EffectiveConfigText(LoadConfig());
        return ExitOk;
    }
    if (args.front() != "--set" || args.size() < 2) {
        err << "VelmoraEgaissAgent: config: expected --set KEY=VALUE...\n";
        return ExitUsage;
    }
    return SetConfigValues({args.begin() + 1, args.end()}, out, err);
}

int RunScalesLoadCommand(std::ostream& out) {
    try {
        TVesiLoadResult result;
        const bool loaded = PollScalesFolders(LoadScalesConfig(), true, result);
        out << result.Message << "\n";
        return loaded ? ExitOk : ExitFailed;
    } catch (const std::exception& error) {
        LogException("Scales load command", error);
        out << ExceptionClassName(error) << ": " << error.what() << "\n";
        return ExitFailed;
    }
}

int RunScalesFindCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TFindOptions options;
    std::string error;
    if (!ParseFindOptions(args, options, error)) {
        err << "VelmoraEgaissAgent: " << error << "\n";
        return ExitUsage;
    }
    TMassaDiscoveryParams params;
    params.TimeoutMs = options.TimeoutMs;
    params.Port = options.Port;
    RestrictSearch(params, options.Subnets);
    const std::atomic<bool> cancel{false};
    const std::vector<TMassaDevice> devices = DiscoverMassaScales(params, cancel, {}, {});
    for (const TMassaDevice& device : devices) {
        out << TScaleEndpoint{device.Host, device.Port, device.Serial, true}.AsLine() << "\n";
    }
    return devices.empty() ? ExitFailed : ExitOk;
}

namespace {

// The manifest as the preparation window loads it (the cache rules apply); false after printing
// why it cannot be had.
bool LoadCommandManifest(const TEgaissConfig& cfg, TBootstrapManifest& manifest, std::ostream& out) {
    try {
        manifest.Load(cfg.ServerURL, false);
    } catch (const std::exception& error) {
        LogBootstrapError("Checks failed: " + std::string(error.what()));
        out << "FAILED: " << error.what() << "\n";
        return false;
    }
    LogBootstrap("Manifest loaded: " + manifest.SourceURL());
    return true;
}

}  // namespace

int RunPrepareCheckCommand(const TEgaissConfig& cfg, std::ostream& out) {
    if (!cfg.IsComplete()) {
        out << "Agent is not configured\n";
        return ExitUsage;
    }
    LogBootstrap("Start environment checks");
    TBootstrapManifest manifest;
    if (!LoadCommandManifest(cfg, manifest, out)) return ExitFailed;
    const auto rows = RunComponentChecks(manifest.Components(), cfg);
    for (const auto& row : rows)
        out << ComponentCheckLine(row) << "\n";
    return AnyRequiredCheckFailed(rows) ? ExitFailed : ExitOk;
}

int RunPrepareInstallCommand(const TEgaissConfig& cfg, const std::vector<std::string>& args,
                             std::ostream& out, std::ostream& err) {
    TPrepareInstallChoice choice;
    for (const std::string& arg : args) {
        if (arg == "--all") {
            choice.All = true;
        } else if (arg.starts_with('-')) {
            err << "VelmoraEgaissAgent: prepare-install: unknown option: " << arg << "\n";
            return ExitUsage;
        } else {
            choice.Ids.push_back(arg);
        }
    }
    if (choice.All == !choice.Ids.empty()) {
        err << "VelmoraEgaissAgent: prepare-install: name component ids or --all\n";
        return ExitUsage;
    }
    if (!cfg.IsComplete()) {
        out << "Agent is not configured\n";
        return ExitUsage;
    }
    TBootstrapManifest manifest;
    if (!LoadCommandManifest(cfg, manifest, out)) return ExitFailed;
    std::vector<int> indices;
    std::string error;
    if (!ChooseInstallIndices(manifest.Components(), cfg, choice, indices, error, out)) {
        err << "VelmoraEgaissAgent: prepare-install: " << error << "\n";
        return ExitUsage;
    }
    if (indices.empty()) {
        out << "Nothing to install.\n";
        return ExitOk;
    }
    return InstallComponents(manifest.Components(), indices, cfg, out) ? ExitOk : ExitFailed;
}

}  // namespace egaiss
