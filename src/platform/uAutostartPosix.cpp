#include <filesystem>

#include "platform/uAutostart.h"
#include "platform/uErrors.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"
#include "platform/uSystem.h"

namespace egaiss::platform {
namespace {

std::string AutostartFolder() {
    std::string base = EnvironmentVariable("XDG_CONFIG_HOME").value_or("");
    if (base.empty()) base = JoinPath(EnvironmentVariable("HOME").value_or(""), ".config");
    return JoinPath(base, "autostart");
}

// The Exec key of a desktop entry takes a quoted path with \, " ` and $ escaped.
std::string QuoteForExec(const std::string& path) {
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string AutostartEntryLocation() {
    return JoinPath(AutostartFolder(), std::string(AutostartEntryName) + ".desktop");
}

void WriteAutostartEntry(const std::string& executablePath) {
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Velmora EGAIS\n"
        "Comment=Velmora EGAIS agent\n"
        "Exec=" +
        QuoteForExec(executablePath) +
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    WriteFileAtomically(AutostartEntryLocation(), entry);
}

std::optional<std::string> AutostartEntryCommand() {
    std::string entry;
    try {
        entry = ReadWholeFile(AutostartEntryLocation());
    } catch (const EFileError&) {
        return std::nullopt;
    }
    const std::string key = "\nExec=";
    const std::size_t start = entry.find(key);
    if (start == std::string::npos) return std::nullopt;
    const std::size_t from = start + key.size();
    return entry.substr(from, entry.find('\n', from) - from);
}

void RemoveAutostartEntry() {
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(AutostartEntryLocation()), ignored);
}

}  // namespace egaiss::platform
