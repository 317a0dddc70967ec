#include <openssl/evp.h>

#include "platform/uErrors.h"
#include "platform/uSha256.h"

namespace egaiss::platform {
namespace {

struct TMdCtxDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

struct TSha256::TImpl {
    std::unique_ptr<EVP_MD_CTX, TMdCtxDeleter> Context{EVP_MD_CTX_new()};

    void Start() {
        if (!Context || EVP_DigestInit_ex(Context.get(), EVP_sha256(), nullptr) != 1) {
            throw EAgentError("SHA-256: cannot initialise the digest");
        }
    }
};

TSha256::TSha256() : FImpl(std::make_unique<TImpl>()) {
    FImpl->Start();
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, std::size_t size) {
    if (size == 0) return;
    if (EVP_DigestUpdate(FImpl->Context.get(), data, size) != 1)
        throw EAgentError("SHA-256: digest update failed");
}

TSha256Digest TSha256::Finish() {
    TSha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(FImpl->Context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        throw EAgentError("SHA-256: cannot finish the digest");
    }
    FImpl->Start();
    return digest;
}

}  // namespace egaiss::platform
