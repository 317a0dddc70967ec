#pragma once
// Loopback ports for tests that need a peer to be absent.

namespace egaiss::test {

// A loopback port on which nothing listens right now (connections to it are refused).
int RefusedLoopbackPort();

}  // namespace egaiss::test
