// What a scale sends back during one exchange: MassaTcpTransact scans the received bytes for the
// first valid frame, over a loopback connection whose peer sends the input and then ends its side.
#include "platform/uSockets.h"
#include "scales/uMassaKProto.h"
#include "uFuzzSupport.h"

using namespace egaiss;
using namespace egaiss::platform;

namespace {

struct TLoopback {
    TTcpListener Listener{{IPv4Loopback, 0}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::SilenceLog();
    static TLoopback loopback;
    TTcpConnection agent;
    TTcpConnection scale;
    fuzz::Require(agent.Connect(loopback.Listener.LocalEndpoint(), 1000).Ok() &&
                      loopback.Listener.Accept(scale, 1000).Ok(),
                  "no loopback connection");
    fuzz::Require(scale.SendAll({data, size}, 1000).Ok(), "the scale side could not send");
    scale.Close();
    std::uint8_t command = 0;
    TBytes answer;
    MassaTcpTransact(agent, BuildMassaFrame(MassaCmdSetWorkMode), 1000, command, answer);
    return 0;
}
