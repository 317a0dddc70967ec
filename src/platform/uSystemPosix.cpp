#include <langinfo.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/uSystem.h"

namespace egaiss::platform {

// Read once: the data folder follows it for every log line, and after a self-update has renamed
// the running file the link would name the backup instead of the path the agent was started as.
std::string ExecutablePath() {
    static const std::string path = [] {
        std::error_code error;
        const auto link = std::filesystem::read_symlink("/proc/self/exe", error);
        return error ? std::string() : link.string();
    }();
    return path;
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string ComputerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string UserName() {
    if (const auto user = EnvironmentVariable("USER"); user && !user->empty()) return *user;
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return {};
}

std::string TempFolder() {
    std::string folder = EnvironmentVariable("TMPDIR").value_or("");
    if (folder.empty()) folder = "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string ShortPath(const std::string& path) {
    return path;
}

TCodePages SystemCodePages() {
    // POSIX has no code-page numbers; a UTF-8 locale is reported as code page 65001.
    const char* codeset = nl_langinfo(CODESET);
    const int page = (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0) ? 65001 : 0;
    return {page, page, 65001};
}

std::string CommandLine() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    for (char& c : text) {
        if (c == '\0') c = ' ';
    }
    return text;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::uint32_t ProcessId() {
    return static_cast<std::uint32_t>(getpid());
}

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

std::uint32_t TickCountMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace egaiss::platform
