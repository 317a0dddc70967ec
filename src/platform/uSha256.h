#pragma once
// SHA-256 of bytes and files, by the system's crypto library. Digests are given as 64 lower-case
// hexadecimal digits; compare a digest from outside with Sha256HexEquals, which ignores letter case.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/uBytes.h"

namespace egaiss::platform {

using TSha256Digest = std::array<std::uint8_t, 32>;

// An incremental hasher: feed it any number of blocks, then finish. Raises EAgentError only when the
// crypto library itself fails.
class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    void Update(const void* data, std::size_t size);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    void Update(const TBytes& bytes) { Update(bytes.data(), bytes.size()); }

    // The digest of everything fed so far; the hasher then starts over empty.
    TSha256Digest Finish();
    std::string FinishHex();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

std::string DigestHex(const TSha256Digest& digest);

std::string Sha256Hex(std::string_view bytes);
inline std::string Sha256Hex(const TBytes& bytes) {
    return Sha256Hex(AsText(bytes));
}
// Reads the file in blocks, never whole. Raises EFileError when it cannot be read.
std::string Sha256FileHex(const std::string& path);

// True when both texts are the same hexadecimal digest, letter case ignored.
bool Sha256HexEquals(std::string_view a, std::string_view b);

}  // namespace egaiss::platform
