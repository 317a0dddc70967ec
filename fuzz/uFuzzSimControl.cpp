// The body of a simulator control request (POST /sim/.../add), as the simulators read it.
#include "uFuzzSupport.h"
#include "uSimControl.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    httplib::Request request;
    request.body = fuzz::AsString(data, size);
    sim::TSimReply reply;
    rapidjson::Document body;
    if (!sim::ReadBodyObject(request, body, reply)) {
        fuzz::Require(reply.Status == 400, "a refused control body did not answer 400");
        return 0;
    }
    if (const auto add = sim::ReadAddRequest(body, "type", reply))
        fuzz::Require(add->Count >= 1 && add->Count <= 10000 && (!add->Xml || add->Type),
                      "ReadAddRequest let a bad request through");
    return 0;
}
