// The server client's reader of the command poll answer.
#include "uFuzzHttp.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ReadServerAnswer(fuzz::AsBytes(data, size), [](TVelmoraApi& api) { api.PollSyncCommand("0.4.3"); });
    return 0;
}
