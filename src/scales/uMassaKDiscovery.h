#pragma once
// The search for Massa-K scales on the LAN: a probe frame by UDP to the limited broadcast, to each
// local subnet's broadcast and to every address of the subnet's 256-address block, collecting the
// scales that answer. Runs on a worker thread; another thread stops it with the cancel flag and
// CloseDiscoverySocket.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/uNetAdapters.h"

namespace egaiss {

inline constexpr std::uint8_t MassaCmdProbe = 0x00;
inline constexpr std::uint8_t MassaAnsProbe = 0x01;
inline constexpr std::uint32_t MassaLimitedBroadcast = 0xFFFFFFFF;

struct TMassaDevice {
    std::string Host;    // dotted address the answer came from
    int Port = 0;        // the port the search used
    std::string Serial;  // unsigned decimal, empty when the answer is too short

    bool operator==(const TMassaDevice&) const = default;
};

// All four in host byte order.
struct TLocalSubnet {
    std::uint32_t Ip = 0;
    std::uint32_t Mask = 0;
    std::uint32_t Net = 0;    // Ip AND Mask
    std::uint32_t Bcast = 0;  // Net OR NOT Mask

    static TLocalSubnet Of(std::uint32_t ip, std::uint32_t mask) {
        return {ip, mask, ip & mask, (ip & mask) | ~mask};
    }
    bool operator==(const TLocalSubnet&) const = default;
};

// The addresses probed one by one in a subnet: First..Last, skipping the subnet's own Ip. Subnets of
// 24 bits and shorter are scanned only in the 256-address block of Ip.
struct TMassaScanRange {
    std::uint32_t First = 0;
    std::uint32_t Last = 0;
    bool Empty = true;
};
TMassaScanRange MassaScanRange(const TLocalSubnet& subnet);

// Progress texts: the limited broadcast address, "bc " + a subnet broadcast, the address being
// probed, "listen"; `found` is the number of scales found so far. Both callbacks run on the
// search thread.
using TMassaProgress = std::function<void(const std::string& text, int found)>;
using TMassaFound = std::function<void(const TMassaDevice& device)>;

struct TMassaDiscoveryParams {
    int TimeoutMs = 5000;  // the listen phase lasts half of it, at least MinListenMs
    int Port = 5001;
    // Subnets to probe; unset means this computer's own (GetLocalSubnets).
    std::optional<std::vector<TLocalSubnet>> Subnets;
    std::uint32_t LimitedBroadcast = MassaLimitedBroadcast;
    std::uint32_t LocalAddress = 0;  // address the search socket binds (port of the system's choice)
    // Pauses for answers after each phase.
    int BroadcastWaitMs = 300;
    int SubnetBroadcastWaitMs = 400;
    int AfterScanWaitMs = 200;
    int MinListenMs = 800;
};

// The scales that answered, in the order found. The search ends early, keeping what it found, when
// `cancel` is set or its socket is closed by CloseDiscoverySocket. No socket: no devices at once.
std::vector<TMassaDevice> DiscoverMassaScales(const TMassaDiscoveryParams& params,
                                              const std::atomic<bool>& cancel, const TMassaProgress& progress,
                                              const TMassaFound& found);
// The search of this computer's subnets and 255.255.255.255 on `port`.
std::vector<TMassaDevice> DiscoverMassaScales(int timeoutMs, int port, const std::atomic<bool>& cancel,
                                              const TMassaProgress& progress, const TMassaFound& found);
// Closes the socket of the running search, if any; safe from any thread.
void CloseDiscoverySocket();

// "a.b.c.d/n", or a single address as /32. The subnet's own address is its network address, so
// that a scan skips no host of it. False for anything else.
bool ParseSubnet(const std::string& text, TLocalSubnet& subnet);
// `params` probing only `subnets`: the opening limited-broadcast probe goes to the first one's
// broadcast instead, so that nothing leaves the subnets named. Nothing changes for an empty list.
void RestrictSearch(TMassaDiscoveryParams& params, const std::vector<TLocalSubnet>& subnets);
// The search the scales dialog runs for a brand: restricted to its SearchSubnets (entries that
// do not parse are skipped), else this computer's subnets.
TMassaDiscoveryParams BrandSearchParams(const std::string& searchSubnets);

// IPv4 subnets of the adapters that are up, without loopback, link-local and unset addresses,
// each (Net, Mask) once; a prefix of 0 or above 32 counts as 24.
std::vector<TLocalSubnet> GetLocalSubnets();
std::vector<TLocalSubnet> GetLocalSubnets(const std::vector<platform::TNetAdapter>& adapters);

// "192.168.1.10", most significant byte first.
std::string IpToText(std::uint32_t address);
// The serial in a probe answer's data: bytes 5..8 as an unsigned 32-bit little-endian number, in
// decimal; empty when the data is shorter.
std::string SerialFromAnswer(std::span<const std::uint8_t> data);

}  // namespace egaiss
