#include "platform/uSystemFacts.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "platform/uPath.h"

namespace egaiss::platform {
namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool SameFileName(const std::string& found, const std::string& wanted) {
#ifdef _WIN32
    return EqualsNoCase(found, wanted);
#else
    return found == wanted;
#endif
}

// One stanza of the dpkg database while it is being read.
struct TDpkgStanza {
    std::string Package;
    std::string Maintainer;
    std::optional<std::string> Status;

    void FlushInto(std::vector<TInstalledProgram>& programs) {
        // "install ok installed": the last word is the package's state.
        const bool installed = !Status || Status->substr(Status->find_last_of(' ') + 1) == "installed";
        if (!Package.empty() && installed) programs.push_back({Package, Maintainer, {}});
        *this = {};
    }
};

}  // namespace

bool TSystemFacts::FileExists(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(Utf8Path(path), error);
}

bool TSystemFacts::FolderExists(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(Utf8Path(path), error);
}

std::vector<std::string> TSystemFacts::FindFiles(const std::string& folder, const std::string& fileName) {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    std::error_code error;
    fs::recursive_directory_iterator it(Utf8Path(folder), fs::directory_options::skip_permission_denied,
                                        error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code statusError;
        if (SameFileName(PathUtf8(it->path().filename()), fileName) && it->is_regular_file(statusError)) {
            found.push_back(PathUtf8(it->path()));
        }
    }
    return found;
}

std::chrono::steady_clock::time_point TSystemFacts::Now() {
    return std::chrono::steady_clock::now();
}

void TSystemFacts::Sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

std::vector<TInstalledProgram> ParseDpkgStatus(std::string_view text) {
    std::vector<TInstalledProgram> programs;
    TDpkgStanza stanza;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (TrimBlanks(line).empty()) {
            stanza.FlushInto(programs);
            continue;
        }
        if (line.front() == ' ' || line.front() == '\t') continue;  // continuation of a long field
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = line.substr(0, colon);
        const std::string value(TrimBlanks(line.substr(colon + 1)));
        if (EqualsNoCase(name, "Package")) {
            stanza.Package = value;
        } else if (EqualsNoCase(name, "Maintainer")) {
            stanza.Maintainer = value;
        } else if (EqualsNoCase(name, "Status")) {
            stanza.Status = value;
        }
    }
    stanza.FlushInto(programs);
    return programs;
}

std::string ParseSystemdExecPath(std::string_view execStart) {
    const auto start = execStart.find("path=");
    if (start == std::string_view::npos) return {};
    std::string_view rest = execStart.substr(start + 5);
    const auto end = rest.find(" ;");
    return std::string(TrimBlanks(rest.substr(0, end)));
}

}  // namespace egaiss::platform
