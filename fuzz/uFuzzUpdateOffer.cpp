// The update manifest egaiss-agent.json as the self-update reads its offer.
#include "prepare/uBootstrapManifest.h"
#include "uFuzzSupport.h"
#include "update/uAgentUpdate.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<TJsonValue> manifest = ParseJson(fuzz::AsString(data, size));
    if (!manifest) return 0;
    const TUpdateOffer offer = ReadUpdateOffer(*manifest, "https://127.0.0.1/download/");
    CompareVersions("0.4.3", offer.Version);
    IsZipURL(offer.PackageURL);
    return 0;
}
