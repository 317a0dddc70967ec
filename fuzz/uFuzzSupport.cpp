#include "uFuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/uEgaissConfig.h"

namespace egaiss::fuzz {
namespace {

// Owns a temporary folder for the whole run.
class TTempFolder {
public:
    TTempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "egaiss-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) FailInvariant("cannot create a temporary folder");
        FPath = pattern;
    }
    ~TTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

struct TDataFolder {
    TTempFolder Folder;
    std::unique_ptr<TDataDirOverride> Override;
};

TDataFolder& DataFolder() {
    static TDataFolder folder;
    return folder;
}

}  // namespace

std::vector<std::string> SplitInput(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t end = text.find(separator);
        parts.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) return parts;
        text.remove_prefix(end + 1);
    }
}

std::pair<std::string, std::string> SplitOnce(std::string_view text, char separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) return {std::string(text), {}};
    return {std::string(text.substr(0, at)), std::string(text.substr(at + 1))};
}

void SilenceLog() {
    TDataFolder& data = DataFolder();
    if (data.Override) return;
    const std::string blocker = data.Folder.Path() + "/not-a-folder";
    if (std::FILE* file = std::fopen(blocker.c_str(), "w")) std::fclose(file);
    data.Override = std::make_unique<TDataDirOverride>(blocker + "/data");
}

const std::string& ScratchDir() {
    TDataFolder& data = DataFolder();
    if (!data.Override) {
        data.Override = std::make_unique<TDataDirOverride>(data.Folder.Path());
        setenv("XDG_CONFIG_HOME", data.Folder.Path().c_str(), 1);
    }
    return data.Folder.Path();
}

void FailInvariant(const std::string& what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what.c_str());
    std::abort();
}

}  // namespace egaiss::fuzz
