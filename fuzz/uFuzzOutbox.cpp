// The server client's reader of the outbox (the documents to send) answer.
#include "uFuzzHttp.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ReadServerAnswer(fuzz::AsBytes(data, size), [](TVelmoraApi& api) {
        std::vector<TOutboxDoc> docs;
        api.FetchOutbox(docs);
    });
    return 0;
}
