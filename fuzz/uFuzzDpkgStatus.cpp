// The dpkg status database read for the installed programs.
#include "platform/uSystemFacts.h"
#include "uFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    egaiss::platform::ParseDpkgStatus(egaiss::fuzz::AsString(data, size));
    return 0;
}
