#include "support/uFakeMassaScale.h"

#include <array>
#include <chrono>

namespace egaiss::test {
namespace {

constexpr auto ChunkPause = std::chrono::milliseconds(30);

// The whole frames at the front of `buffer`, by their length field; anything before a header is
// dropped (the agent under test never sends it).
std::vector<TBytes> TakeFrames(TBytes& buffer) {
    std::vector<TBytes> frames;
    std::size_t start = 0;
    while (buffer.size() - start >= 5) {
        if (buffer[start] != 0xF8 || buffer[start + 1] != 0x55 || buffer[start + 2] != 0xCE) {
            ++start;
            continue;
        }
        const std::size_t need = (buffer[start + 3] | (buffer[start + 4] << 8)) + 7u;
        if (buffer.size() - start < need) break;
        frames.emplace_back(buffer.begin() + static_cast<std::ptrdiff_t>(start),
                            buffer.begin() + static_cast<std::ptrdiff_t>(start + need));
        start += need;
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(start));
    return frames;
}

}  // namespace

TFakeMassaTcpScale::TFakeMassaTcpScale(TFakeMassaHandler handler)
    : FHandler(std::move(handler)), FListener({platform::IPv4Loopback, 0}) {
    FPort = FListener.LocalEndpoint().Port;
    FThread = std::thread([this] { Serve(); });
}

TFakeMassaTcpScale::~TFakeMassaTcpScale() {
    FStopping = true;
    FListener.Close();
    {
        const std::lock_guard lock(FLock);
        if (FCurrent != nullptr) FCurrent->Close();
    }
    FThread.join();
}

std::vector<TBytes> TFakeMassaTcpScale::Requests() const {
    const std::lock_guard lock(FLock);
    return FRequests;
}

void TFakeMassaTcpScale::Serve() {
    while (!FStopping) {
        platform::TTcpConnection connection;
        if (!FListener.Accept(connection, -1).Ok()) return;
        ++FConnections;
        {
            const std::lock_guard lock(FLock);
            if (FStopping) return;
            FCurrent = &connection;
        }
        ServeConnection(connection);
        const std::lock_guard lock(FLock);
        FCurrent = nullptr;
    }
}

void TFakeMassaTcpScale::ServeConnection(platform::TTcpConnection& connection) {
    TBytes buffer;
    std::array<std::uint8_t, 4096> chunk{};
    for (;;) {
        const platform::TIoResult received = connection.Receive(chunk, -1);
        if (!received.Ok()) return;
        buffer.insert(buffer.end(), chunk.begin(),
                      chunk.begin() + static_cast<std::ptrdiff_t>(received.Bytes));
        for (const TBytes& request : TakeFrames(buffer)) {
            std::size_t index = 0;
            {
                const std::lock_guard lock(FLock);
                index = FRequests.size();
                FRequests.push_back(request);
            }
            const TFakeReply reply = FHandler(request, index);
            for (std::size_t i = 0; i < reply.Chunks.size(); ++i) {
                if (i > 0) std::this_thread::sleep_for(ChunkPause);
                if (!connection.SendAll(reply.Chunks[i], 5000).Ok()) return;
            }
            if (reply.Close) return;
        }
    }
}

TFakeMassaUdpScale::TFakeMassaUdpScale(std::uint32_t address, std::uint16_t port, std::vector<TBytes> answers)
    : FAnswers(std::move(answers)) {
    FSocket.Bind({address, port});
    FPort = FSocket.LocalEndpoint().Port;
    FThread = std::thread([this] { Serve(); });
}

TFakeMassaUdpScale::~TFakeMassaUdpScale() {
    FSocket.Close();
    FThread.join();
}

std::vector<TBytes> TFakeMassaUdpScale::Received() const {
    const std::lock_guard lock(FLock);
    return FReceived;
}

void TFakeMassaUdpScale::Serve() {
    std::array<std::uint8_t, 2048> buffer{};
    for (;;) {
        platform::TIPv4Endpoint from;
        const platform::TIoResult received = FSocket.ReceiveFrom(buffer, -1, from);
        if (!received.Ok()) return;
        {
            const std::lock_guard lock(FLock);
            FReceived.emplace_back(buffer.begin(),
                                   buffer.begin() + static_cast<std::ptrdiff_t>(received.Bytes));
        }
        for (const TBytes& answer : FAnswers)
            FSocket.SendTo(from, answer);
    }
}

}  // namespace egaiss::test
