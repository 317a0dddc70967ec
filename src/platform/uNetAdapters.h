#pragma once
// The machine's network adapters as the system lists them: the agent's MAC address comes from
// here, and the scale search takes its subnets from the IPv4 addresses.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/uBytes.h"

namespace egaiss::platform {

struct TIPv4Prefix {
    std::uint32_t Address = 0;  // host byte order: 192.168.0.15 is 0xC0A8000F
    int PrefixLength = 0;       // 0..32

    std::uint32_t Mask() const {
        return PrefixLength <= 0 ? 0u : PrefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> PrefixLength);
    }
    // Dotted decimal form of Address.
    std::string AddressText() const {
        return std::to_string(Address >> 24) + "." + std::to_string((Address >> 16) & 0xFF) + "." +
               std::to_string((Address >> 8) & 0xFF) + "." + std::to_string(Address & 0xFF);
    }

    bool operator==(const TIPv4Prefix&) const = default;
};

struct TNetAdapter {
    std::string Name;        // interface name (POSIX) or the adapter's friendly name (Windows)
    TBytes PhysicalAddress;  // empty when the adapter has none
    std::vector<TIPv4Prefix> IPv4;
    bool Loopback = false;
    bool Up = false;  // operationally up

    bool operator==(const TNetAdapter&) const = default;
};

// All adapters in the order the system lists them. Never raises: a system failure gives an
// empty list.
std::vector<TNetAdapter> ListNetAdapters();

}  // namespace egaiss::platform
