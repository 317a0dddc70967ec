#include <sys/utsname.h>

#include <cstring>
#include <map>
#include <string_view>

#include "platform/uFileSystem.h"
#include "platform/uProcess.h"
#include "platform/uSystem.h"
#include "platform/uSystemFacts.h"

namespace egaiss::platform {
namespace {

constexpr std::string_view ServiceSuffix = ".service";

std::string UnitName(const std::string& service) {
    return service.ends_with(ServiceSuffix) ? service : service + std::string(ServiceSuffix);
}

std::string ServiceNameOf(std::string_view unit) {
    return std::string(unit.ends_with(ServiceSuffix) ? unit.substr(0, unit.size() - ServiceSuffix.size())
                                                     : unit);
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

// Blank-separated words of a line.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const auto start = line.find_first_not_of(" \t", pos);
        if (start == std::string_view::npos) break;
        const auto end = line.find_first_of(" \t", start);
        words.push_back(
            line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        pos = end == std::string_view::npos ? line.size() : end;
    }
    return words;
}

// "Key=value" lines of `systemctl show`, one block per unit separated by empty lines.
std::vector<std::map<std::string, std::string, std::less<>>> PropertyBlocks(std::string_view text) {
    std::vector<std::map<std::string, std::string, std::less<>>> blocks(1);
    for (const auto line : Lines(text)) {
        if (line.empty()) {
            if (!blocks.back().empty()) blocks.emplace_back();
            continue;
        }
        const auto equals = line.find('=');
        if (equals != std::string_view::npos) {
            blocks.back().emplace(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
        }
    }
    if (blocks.back().empty()) blocks.pop_back();
    return blocks;
}

// A state without a Windows counterpart gives 0, shown as "State=0".
int StateOfActiveState(std::string_view state) {
    if (state == "active" || state == "reloading" || state == "refreshing") return ServiceRunning;
    if (state == "inactive" || state == "failed" || state == "maintenance") return ServiceStopped;
    if (state == "activating") return ServiceStartPending;
    if (state == "deactivating") return ServiceStopPending;
    return 0;
}

class TPosixSystemFacts final : public TSystemFacts {
public:
    explicit TPosixSystemFacts(TSystemFactsOptions options) : FOptions(std::move(options)) {}

    std::vector<TInstalledProgram> InstalledPrograms(TProgramSource source) override {
        if (source != TProgramSource::psMachine || !TSystemFacts::FileExists(FOptions.DpkgStatusPath))
            return {};
        try {
            return ParseDpkgStatus(ReadWholeFile(FOptions.DpkgStatusPath));
        } catch (const EAgentError&) {
            return {};
        }
    }

    std::vector<TJavaRegistryEntry> JavaRegistryEntries() override { return {}; }

    std::vector<std::string> JavaSearchFolders() override { return {"/usr/lib/jvm", "/opt", "/usr/local"}; }

    std::string JavaProgramName() override { return "java"; }

    std::optional<std::string> RunJavaVersion(const std::string& program) override {
        try {
            return RunProcess(program, {"-version"}, FOptions.ProgramTimeout).Output;
        } catch (const EProcessError&) {
            return std::nullopt;
        }
    }

    std::vector<std::string> ServiceNames() override {
        std::vector<std::string> names;
        const auto add = [&](std::string_view unit) {
            if (!unit.ends_with(ServiceSuffix) || unit.ends_with("@.service")) return;
            std::string name = ServiceNameOf(unit);
            for (const auto& known : names) {
                if (known == name) return;
            }
            names.push_back(std::move(name));
        };
        // Loaded units first (running or not), then installed unit files that are not loaded.
        if (const auto listed =
                Systemctl({"list-units", "--type=service", "--all", "--no-legend", "--plain"})) {
            for (const auto line : Lines(*listed)) {
                auto words = Words(line);
                if (!words.empty() && words.front() == "\xE2\x97\x8F")
                    words.erase(words.begin());  // a bullet
                if (words.size() >= 2 && words[1] != "not-found") add(words[0]);
            }
        }
        if (const auto files = Systemctl({"list-unit-files", "--type=service", "--no-legend"})) {
            for (const auto line : Lines(*files)) {
                const auto words = Words(line);
                if (!words.empty()) add(words[0]);
            }
        }
        CacheImagePaths(names);
        return names;
    }

    std::string ServiceImagePath(const std::string& name) override {
        if (const auto cached = FImagePaths.find(name); cached != FImagePaths.end()) return cached->second;
        std::string path;
        if (const auto shown = Systemctl({"show", "--property=ExecStart", "--", UnitName(name)})) {
            const auto blocks = PropertyBlocks(*shown);
            if (!blocks.empty()) {
                if (const auto exec = blocks[0].find("ExecStart"); exec != blocks[0].end()) {
                    path = ParseSystemdExecPath(exec->second);
                }
            }
        }
        FImagePaths[name] = path;
        return path;
    }

    std::optional<int> ServiceState(const std::string& name) override {
        const auto shown = Systemctl({"show", "--property=LoadState,ActiveState", "--", UnitName(name)});
        if (!shown) return std::nullopt;
        const auto blocks = PropertyBlocks(*shown);
        if (blocks.empty()) return std::nullopt;
        const auto load = blocks[0].find("LoadState");
        const auto active = blocks[0].find("ActiveState");
        if (load == blocks[0].end() || active == blocks[0].end() || load->second == "not-found" ||
            load->second.empty()) {
            return std::nullopt;
        }
        return StateOfActiveState(active->second);
    }

    TServiceStartResult RequestServiceStart(const std::string& name) override {
        if (ServiceState(name) == ServiceRunning) return {TServiceStart::ssAlreadyRunning, {}};
        try {
            // --no-block: like the Windows service manager, answer once the request is queued.
            const auto run = RunProcess(FOptions.SystemctlProgram,
                                        {"start", "--no-block", "--no-ask-password", "--", UnitName(name)},
                                        FOptions.ProgramTimeout);
            if (run.ExitCode == 0) return {TServiceStart::ssAccepted, {}};
            std::string reason(TrimOutput(run.Output));
            if (reason.empty())
                reason = "systemctl start ended with exit code " + std::to_string(run.ExitCode);
            return {TServiceStart::ssFailed, reason};
        } catch (const EProcessError& error) {
            return {TServiceStart::ssFailed, error.what()};
        }
    }

    TCpuArchitecture NativeArchitecture() override {
        utsname names{};
        if (::uname(&names) != 0) return TCpuArchitecture::caOther;
        const std::string_view machine = names.machine;
        if (machine == "x86_64" || machine == "amd64") return TCpuArchitecture::caX64;
        if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86")
            return TCpuArchitecture::caX86;
        return TCpuArchitecture::caOther;
    }

    std::optional<std::string> EnvironmentVariable(const std::string& name) override {
        return platform::EnvironmentVariable(name);
    }

private:
    static std::string_view TrimOutput(std::string_view text) {
        while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
            text.remove_prefix(1);
        while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
            text.remove_suffix(1);
        return text;
    }

    // The output of a successful systemctl run; nothing where systemd is missing or refuses.
    std::optional<std::string> Systemctl(std::vector<std::string> args) {
        args.insert(args.begin(), "--no-pager");
        try {
            auto run = RunProcess(FOptions.SystemctlProgram, args, FOptions.ProgramTimeout);
            if (run.TimedOut || run.ExitCode != 0) return std::nullopt;
            return std::move(run.Output);
        } catch (const EProcessError&) {
            return std::nullopt;
        }
    }

    // One systemctl run for many units instead of one per unit: the heuristics read the image path
    // of most services.
    void CacheImagePaths(const std::vector<std::string>& names) {
        constexpr std::size_t Batch = 200;
        for (std::size_t first = 0; first < names.size(); first += Batch) {
            std::vector<std::string> args = {"show", "--property=Id,ExecStart", "--"};
            const std::size_t last = std::min(names.size(), first + Batch);
            for (std::size_t i = first; i < last; ++i)
                args.push_back(UnitName(names[i]));
            const auto shown = Systemctl(args);
            if (!shown) {
                // Without a running manager (a container) asking unit by unit would fail as well.
                for (std::size_t i = first; i < names.size(); ++i)
                    FImagePaths.emplace(names[i], std::string());
                return;
            }
            for (const auto& block : PropertyBlocks(*shown)) {
                const auto id = block.find("Id");
                if (id == block.end()) continue;
                const auto exec = block.find("ExecStart");
                FImagePaths[ServiceNameOf(id->second)] =
                    exec == block.end() ? std::string() : ParseSystemdExecPath(exec->second);
            }
        }
    }

    TSystemFactsOptions FOptions;
    std::map<std::string, std::string> FImagePaths;
};

}  // namespace

std::unique_ptr<TSystemFacts> NewSystemFacts(const TSystemFactsOptions& options) {
    return std::make_unique<TPosixSystemFacts>(options);
}

}  // namespace egaiss::platform
