// An HTTP body as the clients turn it into text: gzip inflated whatever the headers say, then
// UTF-8 with the ANSI fallback. The text is always well-formed UTF-8.
#include "clients/uHttpErrors.h"
#include "core/uEgaissRu.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::SilenceLog();
    try {
        const std::string text = HttpBodyToText(fuzz::AsBytes(data, size));
        fuzz::Require(Utf8ToText(text) == text, "HttpBodyToText gave malformed UTF-8");
    } catch (const EAgentError&) {
        // A corrupt gzip stream or an undecodable body is refused with a message.
    }
    return 0;
}
