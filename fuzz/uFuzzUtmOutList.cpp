// The UTM's /opt/out list as ListOutURLs reads it: absolute document URLs, <url> elements, or one
// URL a line. What it returns are non-empty URLs, none twice.
#include <set>

#include "uFuzzHttp.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ReadUtmAnswer(fuzz::AsBytes(data, size), [](TUtmApi& api) {
        const std::vector<std::string> urls = api.ListOutURLs();
        const std::set<std::string> distinct(urls.begin(), urls.end());
        fuzz::Require(distinct.size() == urls.size() && !distinct.contains(""),
                      "ListOutURLs gave an empty or repeated URL");
    });
    return 0;
}
