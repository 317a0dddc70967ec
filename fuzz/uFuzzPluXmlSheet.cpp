// An XML spreadsheet price file's text.
#include "scales/uPriceFile.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TMassaPluRows rows;
    std::string err;
    const bool ok = ParsePluXmlSheet(fuzz::AsString(data, size), rows, err);
    fuzz::Require(ok == err.empty(), "ParsePluXmlSheet: the result and the error text disagree");
    return 0;
}
