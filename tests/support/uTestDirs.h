#pragma once
// Temporary folders for tests: each test gets its own folder, removed when the test ends, and
// can make it the agent's data folder.
#include <filesystem>
#include <memory>
#include <string>

#include "core/uEgaissConfig.h"
#include "support/uScopedEnv.h"

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

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

}  // namespace egaiss::test
