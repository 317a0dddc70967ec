// A document's body as the sync cycle checks it before handing it on: any bytes give a verdict, a
// reason is one short line of valid UTF-8, and a document that passes no longer passes without its
// final ">".
#include "core/uEgaissRu.h"
#include "core/uXmlCompleteness.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string xml = fuzz::AsString(data, size);
    const auto reason = IncompleteXmlReason(xml);
    if (reason) {
        fuzz::Require(!reason->empty() && TextLength(*reason) <= 120, "reason empty or long");
        fuzz::Require(Utf8ToText(*reason) == *reason, "reason is not valid UTF-8");
        fuzz::Require(reason->find_first_of("\r\n") == std::string::npos, "reason spans lines");
        return 0;
    }
    const std::size_t last = xml.find_last_not_of(" \t\r\n");
    fuzz::Require(last != std::string::npos && xml[last] == '>', "a whole document ends without \">\"");
    fuzz::Require(IncompleteXmlReason(std::string_view(xml).substr(0, last)).has_value(),
                  "a document cut before its final \">\" passes");
    return 0;
}
