// The program's arguments, one per NUL-separated part of the input.
#include "app/uCommandLine.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    if (size > 0) args = fuzz::SplitInput(fuzz::AsString(data, size), '\0');
    const TCommandLine commandLine = ParseCommandLine(args);
    fuzz::Require((commandLine.Mode == TRunMode::rmInvalid) == !commandLine.Error.empty(),
                  "ParseCommandLine: invalid without a reason, or a reason without being invalid");
    return 0;
}
