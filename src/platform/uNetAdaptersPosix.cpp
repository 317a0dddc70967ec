#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#ifdef __linux__
#include <linux/if_packet.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/uNetAdapters.h"

namespace egaiss::platform {
namespace {

struct TIfAddrsDeleter {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};
using TIfAddrsList = std::unique_ptr<ifaddrs, TIfAddrsDeleter>;

int PrefixLengthOf(const sockaddr* netmask) {
    if (netmask == nullptr || netmask->sa_family != AF_INET) return 32;
    const auto mask = ntohl(reinterpret_cast<const sockaddr_in*>(netmask)->sin_addr.s_addr);
    return std::countl_one(mask);
}

// Old-style alias labels ("eth0:1") carry addresses of the adapter before the colon.
TNetAdapter& AdapterNamed(std::vector<TNetAdapter>& adapters, const std::string& name) {
    const auto find = [&](const std::string& wanted) {
        return std::find_if(adapters.begin(), adapters.end(),
                            [&](const TNetAdapter& adapter) { return adapter.Name == wanted; });
    };
    if (auto it = find(name); it != adapters.end()) return *it;
    if (const auto colon = name.find(':'); colon != std::string::npos) {
        if (auto it = find(name.substr(0, colon)); it != adapters.end()) return *it;
    }
    TNetAdapter& added = adapters.emplace_back();
    added.Name = name;
    return added;
}

// "aa:bb:cc:dd:ee:ff" as /sys/class/net/<name>/address gives it.
TBytes ParseHardwareAddress(const std::string& text) {
    TBytes bytes;
    std::size_t pos = 0;
    while (pos + 2 <= text.size()) {
        char* end = nullptr;
        const std::string pair = text.substr(pos, 2);
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) return {};
        bytes.push_back(static_cast<std::uint8_t>(value));
        pos += 2;
        if (pos < text.size() && text[pos] != ':') return {};
        ++pos;
    }
    return bytes;
}

// Where the system gave no link-layer entry (some containers), the sysfs file still knows it.
TBytes SysfsHardwareAddress(const std::string& name) {
    if (name.find('/') != std::string::npos || name == "." || name == "..") return {};
    std::ifstream file("/sys/class/net/" + name + "/address");
    std::string text;
    if (!file || !std::getline(file, text)) return {};
    return ParseHardwareAddress(text);
}

}  // namespace

std::vector<TNetAdapter> ListNetAdapters() {
    std::vector<TNetAdapter> adapters;
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) return adapters;
    const TIfAddrsList list(raw);

    std::vector<std::string> withLinkEntry;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) continue;
        TNetAdapter& adapter = AdapterNamed(adapters, entry->ifa_name);
        adapter.Loopback = adapter.Loopback || (entry->ifa_flags & IFF_LOOPBACK) != 0;
        adapter.Up =
            adapter.Up || ((entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0);
        if (entry->ifa_addr == nullptr) continue;
        switch (entry->ifa_addr->sa_family) {
#ifdef __linux__
            case AF_PACKET: {
                const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
                const std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof link->sll_addr);
                adapter.PhysicalAddress.assign(link->sll_addr, link->sll_addr + length);
                withLinkEntry.push_back(adapter.Name);
                break;
            }
#endif
            case AF_INET: {
                const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
                TIPv4Prefix prefix{ntohl(address->sin_addr.s_addr), PrefixLengthOf(entry->ifa_netmask)};
                if (std::find(adapter.IPv4.begin(), adapter.IPv4.end(), prefix) == adapter.IPv4.end()) {
                    adapter.IPv4.push_back(prefix);
                }
                break;
            }
            default:
                break;
        }
    }
    for (TNetAdapter& adapter : adapters) {
        if (std::find(withLinkEntry.begin(), withLinkEntry.end(), adapter.Name) == withLinkEntry.end()) {
            adapter.PhysicalAddress = SysfsHardwareAddress(adapter.Name);
        }
    }
    return adapters;
}

}  // namespace egaiss::platform
