// One datagram answering the scale search, read as the search reads it: at most 512 bytes, a
// probe answer frame, the serial from its data.
#include "scales/uMassaKDiscovery.h"
#include "scales/uMassaKProto.h"
#include "uFuzzSupport.h"

using namespace egaiss;

namespace {
constexpr std::size_t DatagramBuffer = 512;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t command = 0;
    TBytes body;
    if (!ParseMassaFrame({data, std::min(size, DatagramBuffer)}, command, body) || command != MassaAnsProbe)
        return 0;
    const std::string serial = SerialFromAnswer(body);
    fuzz::Require(serial.find_first_not_of("0123456789") == std::string::npos, "serial is not decimal");
    return 0;
}
