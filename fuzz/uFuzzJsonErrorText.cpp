// The error text of a failed answer's JSON body. Never raises.
#include "clients/uHttpErrors.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TryJsonErrorText(fuzz::AsString(data, size));
    return 0;
}
