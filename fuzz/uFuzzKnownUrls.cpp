// The server client's reader of the known URLs (inbox/known) answer.
#include "uFuzzHttp.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ReadServerAnswer(fuzz::AsBytes(data, size), [](TVelmoraApi& api) { api.KnownInboxURLs(); });
    return 0;
}
