#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/uErrors.h"
#include "scales/uMassaKDiscovery.h"
#include "scales/uMassaKProto.h"
#include "support/uFakeMassaScale.h"

namespace egaiss {
namespace {

using platform::TNetAdapter;
using test::TFakeMassaUdpScale;
using ::testing::ElementsAre;

constexpr std::uint32_t Lo(std::uint8_t last) {
    return 0x7F000000u | last;
}  // 127.0.0.<last>
constexpr std::uint32_t Mask24 = 0xFFFFFF00;

TBytes Probe() {
    return {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x00, 0x00, 0x00};
}

// A probe answer (command 0x01) with `dataSize` data bytes, bytes 5..8 holding `serial` when they fit.
TBytes ProbeAnswer(std::size_t dataSize,
                   std::initializer_list<std::uint8_t> serial = {0x4E, 0x61, 0xBC, 0x00}) {
    TBytes data(dataSize, 0x30);
    std::size_t at = 5;
    for (const std::uint8_t byte : serial) {
        if (at < data.size()) data[at++] = byte;
    }
    return BuildMassaFrame(MassaAnsProbe, data);
}

// Fake scales on several loopback addresses sharing one port, as real scales share 5001.
std::vector<std::unique_ptr<TFakeMassaUdpScale>> FakesOnOnePort(
    const std::vector<std::pair<std::uint32_t, std::vector<TBytes>>>& layout) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::vector<std::unique_ptr<TFakeMassaUdpScale>> fakes;
        try {
            std::uint16_t port = 0;
            for (const auto& [address, answers] : layout) {
                fakes.push_back(std::make_unique<TFakeMassaUdpScale>(address, port, answers));
                port = fakes.front()->Port();
            }
            return fakes;
        } catch (const ETransportError&) {
            // The port was taken on one of the other addresses; try another.
        }
    }
    ADD_FAILURE() << "no common port for the fake scales";
    return {};
}

struct TRecorder {
    std::mutex Lock;
    std::vector<std::pair<std::string, int>> Progress;
    std::vector<TMassaDevice> Found;

    TMassaProgress ProgressFn() {
        return [this](const std::string& text, int found) {
            const std::lock_guard lock(Lock);
            Progress.emplace_back(text, found);
        };
    }
    TMassaFound FoundFn() {
        return [this](const TMassaDevice& device) {
            const std::lock_guard lock(Lock);
            Found.push_back(device);
        };
    }
    std::vector<std::string> Texts() {
        const std::lock_guard lock(Lock);
        std::vector<std::string> texts;
        for (const auto& [text, found] : Progress)
            texts.push_back(text);
        return texts;
    }
};

// A search that never leaves 127.0.0.0/8 and spends little time listening.
TMassaDiscoveryParams LoopbackSearch(std::uint16_t port, std::vector<TLocalSubnet> subnets,
                                     std::uint32_t broadcast) {
    TMassaDiscoveryParams params;
    params.TimeoutMs = 200;
    params.MinListenMs = 150;
    params.Port = port;
    params.Subnets = std::move(subnets);
    params.LimitedBroadcast = broadcast;
    params.LocalAddress = Lo(1);
    return params;
}

TEST(MassaDiscovery, ASearchRestrictedToSubnetsSendsNothingElsewhere) {
    const TMassaDiscoveryParams params = BrandSearchParams("127.0.0.40/29, bad 127.0.0.9 10.0.0.0/33");
    ASSERT_TRUE(params.Subnets.has_value());
    EXPECT_EQ(*params.Subnets, (std::vector<TLocalSubnet>{TLocalSubnet::Of(Lo(40), 0xFFFFFFF8),
                                                          TLocalSubnet::Of(Lo(9), 0xFFFFFFFF)}));
    EXPECT_EQ(params.LimitedBroadcast, Lo(47));
    EXPECT_FALSE(BrandSearchParams("").Subnets.has_value());
    EXPECT_EQ(BrandSearchParams("").LimitedBroadcast, MassaLimitedBroadcast);
}

TEST(MassaDiscovery, SubnetsComeFromAdaptersThatAreUp) {
    const std::vector<TNetAdapter> adapters = {
        {"lo", {}, {{Lo(1), 8}}, true, true},
        {"eth0", {}, {{0xC0A8010A, 24}, {0x0A141E28, 16}}, false, true},  // 192.168.1.10/24, 10.20.30.40/16
        {"eth1", {}, {{0xC0A80114, 24}}, false, true},                    // 192.168.1.20: same subnet
        {"wlan0", {}, {{0xA9FE0304, 16}, {0x00000000, 8}}, false, true},  // link-local, unset
        {"eth2", {}, {{0xAC100509, 0}, {0xC0A80282, 25}}, false, true},   // no prefix: /24; 192.168.2.130/25
        {"tun0", {}, {{0xAC1F0001, 24}}, false, false},                   // down
        {"odd", {}, {{0x7F000102, 24}}, false, true},                     // loopback range elsewhere
    };
    EXPECT_THAT(GetLocalSubnets(adapters),
                ElementsAre(TLocalSubnet{0xC0A8010A, Mask24, 0xC0A80100, 0xC0A801FF},
                            TLocalSubnet{0x0A141E28, 0xFFFF0000, 0x0A140000, 0x0A14FFFF},
                            TLocalSubnet{0xAC100509, Mask24, 0xAC100500, 0xAC1005FF},
                            TLocalSubnet{0xC0A80282, 0xFFFFFF80, 0xC0A80280, 0xC0A802FF}));
    EXPECT_TRUE(GetLocalSubnets({}).empty());
}

TEST(MassaDiscovery, ScanCoversTheBlockOfTheOwnAddress) {
    const auto range = [](std::uint32_t ip, std::uint32_t mask) {
        const TMassaScanRange r = MassaScanRange(TLocalSubnet::Of(ip, mask));
        return r.Empty ? std::string("empty") : IpToText(r.First) + "-" + IpToText(r.Last);
    };
    EXPECT_EQ(range(0xC0A8010A, Mask24), "192.168.1.1-192.168.1.254");
    EXPECT_EQ(range(0x0A141E28, 0xFFFF0000), "10.20.30.1-10.20.30.254");
    EXPECT_EQ(range(0xC0A80182, 0xFFFFFF80), "192.168.1.129-192.168.1.254");
    EXPECT_EQ(range(0xC0A80105, 0xFFFFFFFC), "192.168.1.5-192.168.1.6");
    EXPECT_EQ(range(0xC0A80105, 0xFFFFFFFE), "empty");
    EXPECT_EQ(range(0xC0A80105, 0xFFFFFFFF), "empty");
    EXPECT_EQ(TLocalSubnet::Of(0x0A141E28, 0xFFFF0000).Bcast, 0x0A14FFFFu);
}

TEST(MassaDiscovery, AddressTextAndSerial) {
    EXPECT_EQ(IpToText(0xC0A8010A), "192.168.1.10");
    EXPECT_EQ(IpToText(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(IpToText(0), "0.0.0.0");
    const TBytes data = {0, 1, 2, 3, 4, 0x4E, 0x61, 0xBC, 0x00};
    EXPECT_EQ(SerialFromAnswer(data), "12345678");
    EXPECT_EQ(SerialFromAnswer(TBytes{0, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 9, 9}), "4294967295");
    EXPECT_EQ(SerialFromAnswer(TBytes(data.begin(), data.end() - 1)), "");
}

TEST(MassaDiscovery, FindsLoopbackScalesOnceEachWithTheirSerials) {
    auto fakes = FakesOnOnePort({
        {Lo(2), {ProbeAnswer(22)}},                                           // serial 12345678
        {Lo(3), {ProbeAnswer(21)}},                                           // too short for a serial
        {Lo(4), {BuildMassaFrame(0x02, TBytes(22, 0)), {0x01, 0x02, 0x03}}},  // not scales
        {Lo(10), {ProbeAnswer(22)}},                                          // the "own" address
    });
    ASSERT_EQ(fakes.size(), 4u);
    const std::uint16_t port = fakes[0]->Port();
    TRecorder recorder;
    const std::atomic<bool> cancel{false};
    // 127.0.0.3 stands in for the limited broadcast, so that scale answers twice.
    const auto devices = DiscoverMassaScales(LoopbackSearch(port, {TLocalSubnet::Of(Lo(10), Mask24)}, Lo(3)),
                                             cancel, recorder.ProgressFn(), recorder.FoundFn());

    const TMassaDevice third{"127.0.0.3", port, ""};
    const TMassaDevice second{"127.0.0.2", port, "12345678"};
    EXPECT_THAT(devices, ElementsAre(third, second));
    EXPECT_EQ(recorder.Found, devices);

    const auto texts = recorder.Texts();
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0], "127.0.0.3");
    EXPECT_EQ(texts[1], "bc 127.0.0.255");
    EXPECT_EQ(texts[2], "127.0.0.1");
    EXPECT_EQ(texts[texts.size() - 2], "127.0.0.254");
    EXPECT_EQ(recorder.Progress.back(), std::make_pair(std::string("listen"), 2));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "127.0.0.10"), 0);

    EXPECT_THAT(fakes[0]->Received(), ElementsAre(Probe()));
    EXPECT_THAT(fakes[1]->Received(), ElementsAre(Probe(), Probe()));
    EXPECT_THAT(fakes[2]->Received(), ElementsAre(Probe()));
    EXPECT_TRUE(fakes[3]->Received().empty()) << "the computer's own address is not probed";
}

TEST(MassaDiscovery, CancelEndsTheSearchKeepingWhatWasFound) {
    auto fakes = FakesOnOnePort({{Lo(2), {ProbeAnswer(22)}}, {Lo(3), {ProbeAnswer(22, {1, 0, 0, 0})}}});
    ASSERT_EQ(fakes.size(), 2u);
    const std::uint16_t port = fakes[0]->Port();
    TRecorder recorder;
    std::atomic<bool> cancel{false};
    const auto devices = DiscoverMassaScales(LoopbackSearch(port, {TLocalSubnet::Of(Lo(1), Mask24)}, Lo(3)),
                                             cancel, recorder.ProgressFn(), [&](const TMassaDevice& device) {
                                                 recorder.FoundFn()(device);
                                                 cancel = true;
                                             });
    EXPECT_THAT(devices, ElementsAre(TMassaDevice{"127.0.0.3", port, "1"}));
    EXPECT_THAT(recorder.Texts(), ElementsAre("127.0.0.3"));
    EXPECT_TRUE(fakes[0]->Received().empty());
}

TEST(MassaDiscovery, ClosingTheSocketEndsASearchThatWouldListenForever) {
    CloseDiscoverySocket();  // nothing running: no effect
    auto fakes = FakesOnOnePort({{Lo(2), {ProbeAnswer(22)}}});
    ASSERT_EQ(fakes.size(), 1u);
    TMassaDiscoveryParams params = LoopbackSearch(fakes[0]->Port(), {}, Lo(2));
    params.MinListenMs = INT_MAX / 2;
    std::atomic<bool> cancel{false};
    std::promise<void> listening;
    auto search = std::async(std::launch::async, [&] {
        return DiscoverMassaScales(params, cancel,
                                   [&](const std::string& text, int) {
                                       if (text == "listen") listening.set_value();
                                   },
                                   {});
    });
    listening.get_future().wait();
    CloseDiscoverySocket();
    if (search.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        cancel = true;  // let the thread end before failing
        FAIL() << "closing the socket did not end the search";
    }
    EXPECT_THAT(search.get(), ElementsAre(TMassaDevice{"127.0.0.2", fakes[0]->Port(), "12345678"}));

    // The slot is empty again and a new search works.
    CloseDiscoverySocket();
    params.MinListenMs = 100;
    cancel = false;
    EXPECT_EQ(DiscoverMassaScales(params, cancel, {}, {}).size(), 1u);
}

TEST(MassaDiscovery, WithoutAUsablePortNothingIsSentOrReported) {
    TRecorder recorder;
    const std::atomic<bool> cancel{false};
    EXPECT_TRUE(
        DiscoverMassaScales(LoopbackSearch(0, {}, Lo(2)), cancel, recorder.ProgressFn(), recorder.FoundFn())
            .empty());
    EXPECT_TRUE(recorder.Progress.empty());
}

}  // namespace
}  // namespace egaiss
