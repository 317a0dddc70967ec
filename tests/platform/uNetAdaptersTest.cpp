#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/uNetAdapters.h"

namespace egaiss::platform {
namespace {

constexpr std::uint32_t Loopback127 = 0x7F000001;

TEST(NetAdapters, ListsLoopbackWithItsAddress) {
    const auto adapters = ListNetAdapters();
    const auto loopback = std::find_if(adapters.begin(), adapters.end(), [](const TNetAdapter& adapter) {
        return std::find(adapter.IPv4.begin(), adapter.IPv4.end(), TIPv4Prefix{Loopback127, 8}) !=
               adapter.IPv4.end();
    });
    ASSERT_NE(loopback, adapters.end()) << "no adapter holds 127.0.0.1/8";
    EXPECT_TRUE(loopback->Loopback);
    EXPECT_TRUE(loopback->Up);
    EXPECT_FALSE(loopback->Name.empty());
}

TEST(NetAdapters, EachAdapterAppearsOnceWithWellFormedFields) {
    const auto adapters = ListNetAdapters();
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        const TNetAdapter& adapter = adapters[i];
        SCOPED_TRACE(adapter.Name);
        EXPECT_FALSE(adapter.Name.empty());
        for (std::size_t j = i + 1; j < adapters.size(); ++j)
            EXPECT_NE(adapter.Name, adapters[j].Name);
        EXPECT_LE(adapter.PhysicalAddress.size(), 8u);
        for (const TIPv4Prefix& prefix : adapter.IPv4) {
            EXPECT_GE(prefix.PrefixLength, 0);
            EXPECT_LE(prefix.PrefixLength, 32);
        }
    }
}

#ifdef __linux__
std::string SysfsText(const std::string& name, const std::string& file) {
    std::ifstream in("/sys/class/net/" + name + "/" + file);
    std::string text;
    std::getline(in, text);
    return text;
}

// The kernel's own view of each link: Ethernet-like links (type 1) carry exactly 6 bytes.
TEST(NetAdapters, PhysicalAddressesAgreeWithTheKernel) {
    for (const TNetAdapter& adapter : ListNetAdapters()) {
        SCOPED_TRACE(adapter.Name);
        const std::string address = SysfsText(adapter.Name, "address");
        if (address.empty()) continue;
        if (SysfsText(adapter.Name, "type") == "1") {
            EXPECT_EQ(adapter.PhysicalAddress.size(), 6u);
        }
        std::string text;
        char pair[4];
        for (std::uint8_t byte : adapter.PhysicalAddress) {
            if (!text.empty()) text += ':';
            std::snprintf(pair, sizeof pair, "%02x", byte);
            text += pair;
        }
        EXPECT_EQ(address.substr(0, text.size()), text);
    }
}
#endif

TEST(NetAdapters, PrefixGivesMaskAndDottedText) {
    EXPECT_EQ((TIPv4Prefix{Loopback127, 8}.Mask()), 0xFF000000u);
    EXPECT_EQ((TIPv4Prefix{0xC0A8000F, 24}.Mask()), 0xFFFFFF00u);
    EXPECT_EQ((TIPv4Prefix{0xC0A8000F, 32}.Mask()), 0xFFFFFFFFu);
    EXPECT_EQ((TIPv4Prefix{0xC0A8000F, 0}.Mask()), 0u);
    EXPECT_EQ((TIPv4Prefix{0xC0A8000F, 24}.AddressText()), "192.168.0.15");
}

}  // namespace
}  // namespace egaiss::platform
