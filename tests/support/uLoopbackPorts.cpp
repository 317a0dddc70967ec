#include "support/uLoopbackPorts.h"

#include "platform/uSockets.h"

namespace egaiss::test {

int RefusedLoopbackPort() {
    // The system hands out a free port; once the listener is closed, nothing listens there.
    platform::TTcpListener listener({platform::IPv4Loopback, 0});
    return listener.LocalEndpoint().Port;
}

}  // namespace egaiss::test
