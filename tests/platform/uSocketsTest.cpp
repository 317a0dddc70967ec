#include <gtest/gtest.h>

#include <array>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "platform/uBytes.h"
#include "platform/uErrors.h"
#include "platform/uSockets.h"
#include "support/uWine.h"

namespace egaiss::platform {
namespace {

const TIPv4Endpoint AnyLoopbackPort{IPv4Loopback, 0};

// A loopback port that nothing listens on right now.
std::uint16_t FreeLoopbackPort() {
    const TTcpListener listener(AnyLoopbackPort);
    return listener.LocalEndpoint().Port;
}

// A connected pair over a loopback listener.
struct TConnectedPair {
    TTcpListener Listener{AnyLoopbackPort};
    TTcpConnection Client;
    TTcpConnection Server;

    TConnectedPair() {
        const TIoResult connected = Client.Connect(Listener.LocalEndpoint(), 2000);
        EXPECT_TRUE(connected.Ok()) << connected.Text();
        const TIoResult accepted = Listener.Accept(Server, 2000);
        EXPECT_TRUE(accepted.Ok()) << accepted.Text();
    }
};

TEST(Sockets, ParsesOnlyStrictDottedAddresses) {
    std::uint32_t address = 0;
    EXPECT_TRUE(ParseIPv4("192.168.1.10", address));
    EXPECT_EQ(address, 0xC0A8010Au);
    EXPECT_TRUE(ParseIPv4("255.255.255.255", address));
    EXPECT_EQ(address, 0xFFFFFFFFu);
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "a.b.c.d", "1..2.3", "1.2.3.1000"}) {
        EXPECT_FALSE(ParseIPv4(bad, address)) << bad;
    }
    EXPECT_EQ(IPv4Text(0x7F000002), "127.0.0.2");
    EXPECT_EQ((TIPv4Endpoint{IPv4Loopback, 5001}).Text(), "127.0.0.1:5001");
    ASSERT_TRUE(ResolveIPv4("127.0.0.3", address));
    EXPECT_EQ(address, 0x7F000003u);

    // Only text that can be a host name would ever reach the resolver.
    for (const char* name : {"scale-1", "SCALES.shop.local", "host_name", "shop.local."}) {
        EXPECT_TRUE(IsHostNameText(name)) << name;
    }
    for (const char* name : {"", ".", "scale one", "a..b", ".a", "a/b", "a\tb", "x:5001"}) {
        EXPECT_FALSE(IsHostNameText(name)) << name;
        EXPECT_FALSE(ResolveIPv4(name, address)) << name;
    }
    EXPECT_FALSE(IsHostNameText(std::string(64, 'a')));
    EXPECT_TRUE(IsHostNameText(std::string(63, 'a')));
}

TEST(Sockets, ConnectToAPortWithoutListenerIsRefused) {
    TTcpConnection client;
    const TIoResult result = client.Connect({IPv4Loopback, FreeLoopbackPort()}, 2000);
    EXPECT_EQ(result.Status, TIoStatus::ioRefused) << result.Text();
    EXPECT_FALSE(client.IsOpen());
}

TEST(Sockets, ConnectGivesUpWhenNobodyAnswers) {
    // A listener that never accepts and has a full queue drops further connection requests
    // unanswered, like a host that is switched off.
    const TTcpListener listener(AnyLoopbackPort, 0);
    std::vector<TTcpConnection> queued;
    bool timedOut = false;
    for (int attempt = 0; attempt < 16 && !timedOut; ++attempt) {
        TTcpConnection client;
        const TIoResult result = client.Connect(listener.LocalEndpoint(), 200);
        if (result.Ok()) {
            queued.push_back(std::move(client));
            continue;
        }
        EXPECT_EQ(result.Status, TIoStatus::ioTimeout) << result.Text();
        EXPECT_FALSE(client.IsOpen());
        timedOut = true;
    }
    EXPECT_TRUE(timedOut) << "every connect was accepted into the queue";
}

TEST(Sockets, BytesTravelBothWaysAndPeerCloseEndsTheStream) {
    TConnectedPair pair;
    const TBytes request = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x00, 0x00, 0x00};
    ASSERT_TRUE(pair.Client.SendAll(request, 1000).Ok());

    TBytes got;
    std::array<std::uint8_t, 3> small{};
    while (got.size() < request.size()) {
        const TIoResult received = pair.Server.Receive(small, 1000);
        ASSERT_TRUE(received.Ok()) << received.Text();
        ASSERT_LE(received.Bytes, small.size());
        got.insert(got.end(), small.begin(), small.begin() + static_cast<std::ptrdiff_t>(received.Bytes));
    }
    EXPECT_EQ(got, request);

    const TBytes big(std::size_t{256} * 1024, 0x5A);
    auto sender = std::async(std::launch::async, [&] { return pair.Server.SendAll(big, 5000); });
    std::size_t total = 0;
    std::array<std::uint8_t, 4096> buffer{};
    while (total < big.size()) {
        const TIoResult received = pair.Client.Receive(buffer, 5000);
        ASSERT_TRUE(received.Ok()) << received.Text();
        total += received.Bytes;
    }
    const TIoResult sent = sender.get();
    EXPECT_TRUE(sent.Ok());
    EXPECT_EQ(sent.Bytes, big.size());

    pair.Server = TTcpConnection();
    EXPECT_EQ(pair.Client.Receive(buffer, 1000).Status, TIoStatus::ioEndOfStream);
}

TEST(Sockets, ReceiveTimesOutWhenThePeerIsSilent) {
    TConnectedPair pair;
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(pair.Client.Receive(buffer, 50).Status, TIoStatus::ioTimeout);

    TUdpSocket udp;
    udp.Bind(AnyLoopbackPort);
    TIPv4Endpoint from;
    EXPECT_EQ(udp.ReceiveFrom(buffer, 50, from).Status, TIoStatus::ioTimeout);
}

TEST(Sockets, CloseFromAnotherThreadEndsAWaitWithoutLimit) {
    TConnectedPair pair;
    std::array<std::uint8_t, 16> buffer{};
    auto tcpWait = std::async(std::launch::async, [&] { return pair.Client.Receive(buffer, -1).Status; });

    TUdpSocket udp;
    udp.Bind(AnyLoopbackPort);
    std::array<std::uint8_t, 16> udpBuffer{};
    auto udpWait = std::async(std::launch::async, [&] {
        TIPv4Endpoint from;
        return udp.ReceiveFrom(udpBuffer, -1, from).Status;
    });

    TTcpListener listener(AnyLoopbackPort);
    auto acceptWait = std::async(std::launch::async, [&] {
        TTcpConnection accepted;
        return listener.Accept(accepted, -1).Status;
    });

    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the waits begin
    pair.Client.Close();
    udp.Close();
    listener.Close();
    EXPECT_EQ(tcpWait.get(), TIoStatus::ioClosed);
    EXPECT_EQ(udpWait.get(), TIoStatus::ioClosed);
    EXPECT_EQ(acceptWait.get(), TIoStatus::ioClosed);

    // Every later call fails the same way at once.
    EXPECT_TRUE(udp.IsClosed());
    EXPECT_EQ(pair.Client.SendAll(ToBytes("x"), -1).Status, TIoStatus::ioClosed);
    EXPECT_EQ(pair.Client.Receive(buffer, -1).Status, TIoStatus::ioClosed);
    EXPECT_EQ(udp.SendTo({IPv4Loopback, 9}, ToBytes("x")).Status, TIoStatus::ioClosed);
    pair.Client.Close();  // twice is harmless
}

TEST(Sockets, UdpRoundTripReportsTheSender) {
    TUdpSocket scale;
    scale.Bind({0x7F000002, 0});  // 127.0.0.2: the whole 127/8 is local
    TUdpSocket agent;
    agent.Bind(AnyLoopbackPort);
    agent.EnableBroadcast();

    const TBytes probe = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x00, 0x00, 0x00};
    ASSERT_TRUE(agent.SendTo(scale.LocalEndpoint(), probe).Ok());

    std::array<std::uint8_t, 512> buffer{};
    TIPv4Endpoint from;
    TIoResult received = scale.ReceiveFrom(buffer, 2000, from);
    ASSERT_TRUE(received.Ok()) << received.Text();
    EXPECT_EQ(TBytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(received.Bytes)), probe);
    EXPECT_EQ(from, agent.LocalEndpoint());

    ASSERT_TRUE(scale.SendTo(from, ToBytes("answer")).Ok());
    received = agent.ReceiveFrom(buffer, 2000, from);
    ASSERT_TRUE(received.Ok()) << received.Text();
    EXPECT_EQ(AsText(TBytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(received.Bytes))),
              "answer");
    if (test::RunningUnderWine()) GTEST_SKIP() << test::WineUdpLoopbackBug;
    EXPECT_EQ(from.Address, 0x7F000002u);
    EXPECT_EQ(from, scale.LocalEndpoint());
}

TEST(Sockets, BindingATakenPortRaisesTransportError) {
    TUdpSocket first;
    first.Bind(AnyLoopbackPort);
    TUdpSocket second;
    EXPECT_THROW(second.Bind(first.LocalEndpoint()), ETransportError);

    const TTcpListener listener(AnyLoopbackPort);
    EXPECT_THROW(TTcpListener(listener.LocalEndpoint()), ETransportError);
}

}  // namespace
}  // namespace egaiss::platform
