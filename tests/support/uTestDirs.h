#pragma once
// Temporary folders for tests: each test gets its own folder, removed when the test ends, and
// can make it the agent's data folder.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/uEgaissConfig.h"

namespace egaiss::test {

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const;

private:
    std::string FPath;
};

// A temporary folder that is the agent's data folder while the object lives.
class TTempDataDir : public TTempDir {
public:
    TTempDataDir() : FOverride(Path()) {}

private:
    TDataDirOverride FOverride;
};

// Sets (or, given nothing, unsets) an environment variable while the object lives, then restores it.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::optional<std::string>& value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value);

    const char* FName;
    std::optional<std::string> FOld;
};

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

}  // namespace egaiss::test
