// A service's ExecStart property as systemctl prints it.
#include "platform/uSystemFacts.h"
#include "uFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    egaiss::platform::ParseSystemdExecPath(egaiss::fuzz::AsString(data, size));
    return 0;
}
