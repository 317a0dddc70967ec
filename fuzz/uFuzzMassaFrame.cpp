// A frame from a scale. A frame that parses is exactly what BuildMassaFrame makes of its command and
// data, and whatever BuildMassaFrame makes parses back.
#include <algorithm>

#include "scales/uMassaKProto.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::uint8_t command = 0;
    TBytes body;
    if (ParseMassaFrame(bytes, command, body)) {
        const TBytes built = BuildMassaFrame(command, body);
        fuzz::Require(built.size() <= size && std::equal(built.begin(), built.end(), data),
                      "ParseMassaFrame accepted a frame BuildMassaFrame would not write");
    }
    if (size == 0 || size > MassaMaxFrameSize - 8) return 0;
    const TBytes built = BuildMassaFrame(data[0], bytes.subspan(1));
    fuzz::Require(ParseMassaFrame(built, command, body) && command == data[0] &&
                      std::equal(body.begin(), body.end(), data + 1, data + size),
                  "a frame of BuildMassaFrame does not parse back");
    return 0;
}
