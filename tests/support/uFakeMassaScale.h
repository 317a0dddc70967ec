#pragma once
// In-process fake Massa-K scales on loopback that answer with exactly the bytes a test gives them:
// a TCP peer for the table load and a UDP peer for the LAN search.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/uBytes.h"
#include "platform/uSockets.h"

namespace egaiss::test {

struct TFakeReply {
    std::vector<TBytes> Chunks;  // written one by one with a short pause, so they arrive apart
    bool Close = false;          // end the connection after the chunks
};

// Called on the fake's thread for each whole request frame; `index` counts frames from 0 over all
// connections.
using TFakeMassaHandler = std::function<TFakeReply(const TBytes& request, std::size_t index)>;

class TFakeMassaTcpScale {
public:
    // Listens on 127.0.0.1 at a port of the system's choosing and serves one connection at a time.
    explicit TFakeMassaTcpScale(TFakeMassaHandler handler);
    ~TFakeMassaTcpScale();
    TFakeMassaTcpScale(const TFakeMassaTcpScale&) = delete;
    TFakeMassaTcpScale& operator=(const TFakeMassaTcpScale&) = delete;

    int Port() const { return FPort; }
    std::vector<TBytes> Requests() const;
    std::size_t Connections() const { return FConnections.load(); }

private:
    void Serve();
    void ServeConnection(platform::TTcpConnection& connection);

    TFakeMassaHandler FHandler;
    platform::TTcpListener FListener;
    int FPort = 0;
    std::atomic<std::size_t> FConnections{0};
    mutable std::mutex FLock;
    std::vector<TBytes> FRequests;
    platform::TTcpConnection* FCurrent = nullptr;  // guarded by FLock
    std::atomic<bool> FStopping{false};
    std::thread FThread;
};

class TFakeMassaUdpScale {
public:
    // Binds address:port (port 0: the system's choice) and answers every datagram with each of
    // `answers`, in order, sent back to its sender. Raises ETransportError when the bind fails.
    TFakeMassaUdpScale(std::uint32_t address, std::uint16_t port, std::vector<TBytes> answers);
    ~TFakeMassaUdpScale();
    TFakeMassaUdpScale(const TFakeMassaUdpScale&) = delete;
    TFakeMassaUdpScale& operator=(const TFakeMassaUdpScale&) = delete;

    std::uint16_t Port() const { return FPort; }
    std::vector<TBytes> Received() const;

private:
    void Serve();

    std::vector<TBytes> FAnswers;
    platform::TUdpSocket FSocket;
    std::uint16_t FPort = 0;
    mutable std::mutex FLock;
    std::vector<TBytes> FReceived;
    std::thread FThread;
};

}  // namespace egaiss::test
