#pragma once
// Paths travel through the program as UTF-8 text; these convert at the std::filesystem boundary
// so that non-ASCII folders work on Windows too (where a narrow path would mean the ANSI code page).
#include <filesystem>
#include <string>
#include <string_view>

namespace egaiss {

inline std::filesystem::path Utf8Path(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string PathUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Joins a folder and a name with the platform's separator.
inline std::string JoinPath(std::string_view folder, std::string_view name) {
    return PathUtf8(Utf8Path(folder) / Utf8Path(name));
}

}  // namespace egaiss
