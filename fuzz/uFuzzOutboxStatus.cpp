// The server client's reader of the queue (outbox/status) answer.
#include "uFuzzHttp.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ReadServerAnswer(fuzz::AsBytes(data, size), [](TVelmoraApi& api) {
        std::vector<TOutboxStatusRow> rows;
        int queued = 0;
        int errors = 0;
        api.FetchOutboxStatus(rows, queued, errors);
    });
    return 0;
}
