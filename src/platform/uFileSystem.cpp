#include "platform/uFileSystem.h"

namespace egaiss::platform {

std::string ReadWholeFile(const std::string& path) {
    TFileReader file(path);
    std::string bytes;
    char buffer[65536];
    while (const std::size_t got = file.Read(buffer, sizeof buffer))
        bytes.append(buffer, got);
    return bytes;
}

}  // namespace egaiss::platform
