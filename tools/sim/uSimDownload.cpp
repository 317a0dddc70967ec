#include "uSimDownload.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace egaiss::sim {

namespace fs = std::filesystem;

std::optional<std::string> DownloadRelativeName(const std::string& path) {
    static const std::string segment = "/download/";
    const auto pos = path.find(segment);
    if (pos == std::string::npos) return std::nullopt;
    return path.substr(pos + segment.size());
}

std::optional<fs::path> ResolveDownload(const fs::path& folder, const std::string& relative,
                                        std::string& why) {
    if (relative.empty()) {
        why = "no file name";
        return std::nullopt;
    }
    fs::path joined = folder;
    std::size_t start = 0;
    while (start <= relative.size()) {
        const auto end = std::min(relative.find('/', start), relative.size());
        const std::string part = relative.substr(start, end - start);
        const bool unsafe = std::any_of(part.begin(), part.end(), [](char c) {
            return c == '\\' || c == ':' || static_cast<unsigned char>(c) < 32 || c == 127;
        });
        if (part.empty() || part == "." || part == ".." || unsafe) {
            why = "unsafe file name";
            return std::nullopt;
        }
        joined /= part;
        start = end + 1;
    }
    std::error_code error;
    const fs::path root = fs::canonical(folder, error);
    if (error) {
        why = "download folder unavailable";
        return std::nullopt;
    }
    const fs::path file = fs::canonical(joined, error);
    if (error || !fs::is_regular_file(file, error)) {
        why = "no such file";
        return std::nullopt;
    }
    if (std::mismatch(root.begin(), root.end(), file.begin(), file.end()).first != root.end()) {
        why = "outside the download folder";
        return std::nullopt;
    }
    return file;
}

std::string DownloadContentType(const std::string& name) {
    std::string extension = fs::path(name).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".json") return "application/json";
    if (extension == ".zip") return "application/zip";
    if (extension == ".txt" || extension == ".log") return "text/plain; charset=utf-8";
    if (extension == ".xml") return "application/xml";
    if (extension == ".html" || extension == ".htm") return "text/html; charset=utf-8";
    return "application/octet-stream";
}

}  // namespace egaiss::sim
