// The configured server URL turned into the download area's URL.
#include "prepare/uBootstrapManifest.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const std::string base = DownloadBaseURL(fuzz::AsString(data, size));
        fuzz::Require(base.ends_with("download/"), "DownloadBaseURL does not end in download/: " + base);
    } catch (const EAgentError&) {
        // "Invalid server URL: ..."
    }
    return 0;
}
