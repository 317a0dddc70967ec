#include "platform/uSha256.h"

#include <fstream>
#include <vector>

#include "platform/uErrors.h"
#include "platform/uPath.h"

namespace egaiss::platform {
namespace {

constexpr std::size_t FileBlockBytes = std::size_t{64} * 1024;

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string TSha256::FinishHex() {
    return DigestHex(Finish());
}

std::string DigestHex(const TSha256Digest& digest) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

std::string Sha256Hex(std::string_view bytes) {
    TSha256 hasher;
    hasher.Update(bytes);
    return hasher.FinishHex();
}

std::string Sha256FileHex(const std::string& path) {
    std::ifstream file(Utf8Path(path), std::ios::binary);
    if (!file) throw EFileError("Cannot open " + path);
    TSha256 hasher;
    std::vector<char> block(FileBlockBytes);
    while (file) {
        file.read(block.data(), static_cast<std::streamsize>(block.size()));
        const std::streamsize got = file.gcount();
        if (got > 0) hasher.Update(block.data(), static_cast<std::size_t>(got));
    }
    if (file.bad()) throw EFileError("Cannot read " + path);
    return hasher.FinishHex();
}

bool Sha256HexEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

}  // namespace egaiss::platform
