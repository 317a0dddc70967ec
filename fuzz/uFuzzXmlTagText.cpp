// The UTM's /diagnosis answer: the certificate's CN, O and OU by XmlTagText and the FSRAR id by
// ExtractFsrarId, as FetchDiagnosis reads them, and ExtractFsrarId on any text.
#include "uFuzzHttp.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::AsString(data, size);
    const std::string id = ExtractFsrarId(text);
    fuzz::Require(id.find_first_not_of("0123456789") == std::string::npos, "ExtractFsrarId gave a non-digit");
    fuzz::ReadUtmAnswer(fuzz::AsBytes(data, size), [](TUtmApi& api) {
        TUtmDiagnosis diagnosis;
        api.FetchDiagnosis(diagnosis);
    });
    return 0;
}
