// Gzip streams from peers: corrupt ones and bombs are refused, never inflated past the limit.
#include "clients/uHttpErrors.h"
#include "uFuzzSupport.h"

using namespace egaiss;

namespace {
constexpr std::uint64_t Limit = 1024 * 1024;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const TBytes inflated = GunzipBytes(fuzz::AsBytes(data, size), Limit);
        fuzz::Require(inflated.size() <= Limit, "GunzipBytes inflated past its limit");
    } catch (const EGzipError&) {
    }
    return 0;
}
