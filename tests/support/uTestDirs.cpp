#include "support/uTestDirs.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/uPath.h"
#include "platform/uSystem.h"

namespace egaiss::test {

TTempDir::TTempDir() {
    static std::atomic<unsigned> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        const auto candidate =
            base / ("egaiss-test-" + std::to_string(platform::ProcessId()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(candidate)) {
            FPath = PathUtf8(candidate);
            return;
        }
    }
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Utf8Path(FPath), ignored);
}

std::string TTempDir::File(const std::string& name) const {
    return JoinPath(FPath, name);
}

std::string ReadFileText(const std::string& path) {
    std::ifstream file(Utf8Path(path), std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void WriteFileText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(Utf8Path(path).parent_path());
    std::ofstream file(Utf8Path(path), std::ios::binary | std::ios::trunc);
    file << text;
    if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace egaiss::test
