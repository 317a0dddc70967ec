#include "platform/uProcess.h"

namespace egaiss::platform {

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          std::chrono::milliseconds timeout) {
    TProcess process;
    process.StartCaptured(program, args);
    TProcessResult result;
    if (!process.WaitForExit(timeout)) {
        process.Terminate();
        result.TimedOut = true;
    }
    result.ExitCode = process.ExitCode().value_or(-1);
    result.Output = process.Output();
    return result;
}

}  // namespace egaiss::platform
