// A listed document's URL and its XML: the type GuessDocType takes from them and the URL that
// ResolveURL makes of the reference. Input: URL, a NUL byte, XML.
#include "clients/uUtmApi.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [url, xml] = fuzz::SplitOnce(fuzz::AsString(data, size), '\0');
    TUtmApi::GuessDocType(url, xml);
    TUtmApi::ResolveURL("http://127.0.0.1:8080", url);
    return 0;
}
