#include <windows.h>
// bcrypt.h needs the types of windows.h first.
#include <bcrypt.h>

#include <vector>

#include "platform/uErrors.h"
#include "platform/uSha256.h"

namespace egaiss::platform {
namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

[[noreturn]] void RaiseCrypto(const char* what, NTSTATUS status) {
    throw EAgentError(std::string("SHA-256: ") + what + " failed (status " +
                      std::to_string(static_cast<unsigned long>(status)) + ")");
}

struct TAlgorithmDeleter {
    void operator()(void* handle) const {
        BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(handle), 0);
    }
};

struct THashDeleter {
    void operator()(void* handle) const { BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(handle)); }
};

}  // namespace

struct TSha256::TImpl {
    std::unique_ptr<void, TAlgorithmDeleter> Algorithm;
    std::vector<UCHAR> HashObject;
    std::unique_ptr<void, THashDeleter> Hash;

    TImpl() {
        BCRYPT_ALG_HANDLE algorithm = nullptr;
        NTSTATUS status = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        if (!Succeeded(status)) RaiseCrypto("BCryptOpenAlgorithmProvider", status);
        Algorithm.reset(algorithm);

        DWORD objectLength = 0;
        ULONG got = 0;
        status = BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                   sizeof objectLength, &got, 0);
        if (!Succeeded(status)) RaiseCrypto("BCryptGetProperty", status);
        HashObject.resize(objectLength);
        Start();
    }

    void Start() {
        Hash.reset();
        BCRYPT_HASH_HANDLE hash = nullptr;
        const NTSTATUS status =
            BCryptCreateHash(static_cast<BCRYPT_ALG_HANDLE>(Algorithm.get()), &hash, HashObject.data(),
                             static_cast<ULONG>(HashObject.size()), nullptr, 0, 0);
        if (!Succeeded(status)) RaiseCrypto("BCryptCreateHash", status);
        Hash.reset(hash);
    }
};

TSha256::TSha256() : FImpl(std::make_unique<TImpl>()) {}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, std::size_t size) {
    // BCryptHashData takes at most a ULONG of bytes per call.
    const auto* bytes = static_cast<const UCHAR*>(data);
    while (size > 0) {
        const ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        const NTSTATUS status = BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(FImpl->Hash.get()),
                                               const_cast<PUCHAR>(bytes), chunk, 0);
        if (!Succeeded(status)) RaiseCrypto("BCryptHashData", status);
        bytes += chunk;
        size -= chunk;
    }
}

TSha256Digest TSha256::Finish() {
    TSha256Digest digest{};
    const NTSTATUS status = BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(FImpl->Hash.get()),
                                             digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (!Succeeded(status)) RaiseCrypto("BCryptFinishHash", status);
    FImpl->Start();
    return digest;
}

}  // namespace egaiss::platform
