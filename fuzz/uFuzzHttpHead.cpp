// The head of an HTTP answer line by line, as the transport's header callback reads it: status
// lines, folded lines, "Name: value" headers and the Content-Length check.
#include "platform/uHttpClientShared.h"
#include "uFuzzSupport.h"

using namespace egaiss;
using namespace egaiss::platform;
using namespace egaiss::platform::httpdetail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    THttpResponse response;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size() - 1);
        const std::string_view line = rest.substr(0, end + 1);
        rest.remove_prefix(end + 1);
        int code = 0;
        std::string reason;
        if (ParseStatusLine(line, code, reason)) {
            fuzz::Require(code >= 0 && code <= 999, "status code out of three digits");
            response = {code, reason, {}, {}};
            continue;
        }
        if (FoldContinuation(response.Headers, line)) continue;
        THttpHeader header;
        if (!ParseHeaderLine(line, header)) continue;
        if (SameNameAscii(header.Name, "Content-Length")) AnnouncesMoreThan(header.Value, MaxHttpBodyBytes);
        response.Headers.push_back(std::move(header));
    }
    response.Header("Content-Type");
    return 0;
}
