// Two version texts of an update manifest, split at the first NUL byte. The order is antisymmetric
// and every version equals itself.
#include "uFuzzSupport.h"
#include "update/uAgentUpdate.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [a, b] = fuzz::SplitOnce(fuzz::AsString(data, size), '\0');
    const int order = CompareVersions(a, b);
    fuzz::Require(order >= -1 && order <= 1 && CompareVersions(b, a) == -order && CompareVersions(a, a) == 0,
                  "CompareVersions is not an order");
    return 0;
}
