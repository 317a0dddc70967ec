#include "app/uTrayAgent.h"

#include <iostream>
#include <memory>
#include <string_view>

#include "core/uEgaissLog.h"
#include "core/uVersion.h"
#include "platform/uPath.h"
#include "platform/uSharedModule.h"
#include "platform/uSystem.h"

namespace egaiss {
namespace {

void SayUnavailable(const std::string& reason) {
    const std::string text = "Tray front-end unavailable (" + reason + "): running headless";
    std::cerr << text << "\n";
    LogError(text);
}

// Beside the executable, whatever the data folder.
std::string ModulePath(std::string_view moduleName) {
    return PathUtf8(Utf8Path(platform::ExecutablePath()).parent_path() /
                    Utf8Path(platform::SharedModuleFileName(std::string(moduleName))));
}

}  // namespace

bool DisplayAvailable() {
    const auto set = [](const char* name) {
        const auto value = platform::EnvironmentVariable(name);
        return value && !value->empty();
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

std::optional<int> RunTrayAgent(int argc, char** argv, bool noUpdate) {
    constexpr std::string_view moduleName = EGAISS_TRAY_MODULE;
    if (moduleName.empty()) {
        SayUnavailable("this build has no window front-end");
        return std::nullopt;
    }
    const std::string path = ModulePath(moduleName);
    try {
        const platform::TSharedModule module(path);
        auto* entry = module.Function<TTrayEntry>(TrayEntryName);
        if (entry == nullptr) {
            SayUnavailable(path + " has no " + TrayEntryName);
            return std::nullopt;
        }
        const int code = entry(AgentVersion, argc, argv, noUpdate);
        if (code != TrayVersionMismatch) return code;
        SayUnavailable(path + " belongs to another version of the agent");
    } catch (const std::exception& error) {
        SayUnavailable(error.what());
    }
    return std::nullopt;
}

std::function<bool()> TrayAgentExitAsker() {
    constexpr std::string_view moduleName = EGAISS_TRAY_MODULE;
    std::shared_ptr<platform::TSharedModule> module;
    TTrayExitEntry* entry = nullptr;
    try {
        if (!moduleName.empty()) {
            module = std::make_shared<platform::TSharedModule>(ModulePath(moduleName));
            entry = module->Function<TTrayExitEntry>(TrayExitEntryName);
        }
    } catch (const std::exception& error) {
        // Without its front-end no tray agent runs on this system either.
        LogInfo(std::string("Stop command: tray front-end unavailable (") + error.what() + ")");
    }
    if (entry == nullptr) return [] { return false; };
    return [module, entry] { return entry(AgentVersion) == 1; };
}

}  // namespace egaiss
