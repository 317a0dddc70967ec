// An update package: the agent's executable taken out of a zip archive from the server.
#include "uFuzzSupport.h"
#include "update/uAgentUpdate.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::SilenceLog();
    TBytes exe;
    if (ExtractZipMember(fuzz::AsBytes(data, size), AgentExeName, exe))
        fuzz::Require(!exe.empty(), "ExtractZipMember succeeded with an empty member");
    return 0;
}
