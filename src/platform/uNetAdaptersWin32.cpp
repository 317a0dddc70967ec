// Winsock 2 must come before the IP Helper and Windows headers.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/uNetAdapters.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {
namespace {

struct TMallocDeleter {
    void operator()(void* block) const { std::free(block); }
};
using TAdapterBuffer = std::unique_ptr<IP_ADAPTER_ADDRESSES, TMallocDeleter>;

// The list can grow between the size query and the second call, so a few rounds are allowed.
TAdapterBuffer QueryAdapters() {
    constexpr ULONG Flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    for (int attempt = 0; attempt < 4; ++attempt) {
        TAdapterBuffer buffer(static_cast<IP_ADAPTER_ADDRESSES*>(std::malloc(size)));
        if (!buffer) return nullptr;
        const ULONG result = GetAdaptersAddresses(AF_UNSPEC, Flags, nullptr, buffer.get(), &size);
        if (result == ERROR_SUCCESS) return buffer;
        if (result != ERROR_BUFFER_OVERFLOW) return nullptr;
    }
    return nullptr;
}

}  // namespace

std::vector<TNetAdapter> ListNetAdapters() {
    std::vector<TNetAdapter> adapters;
    const TAdapterBuffer buffer = QueryAdapters();
    for (const IP_ADAPTER_ADDRESSES* item = buffer.get(); item != nullptr; item = item->Next) {
        TNetAdapter& adapter = adapters.emplace_back();
        if (item->FriendlyName != nullptr && item->FriendlyName[0] != L'\0') {
            adapter.Name = WideToUtf8(item->FriendlyName);
        } else if (item->AdapterName != nullptr) {
            adapter.Name = item->AdapterName;
        }
        const ULONG length = std::min<ULONG>(item->PhysicalAddressLength, MAX_ADAPTER_ADDRESS_LENGTH);
        adapter.PhysicalAddress.assign(item->PhysicalAddress, item->PhysicalAddress + length);
        adapter.Loopback = item->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        adapter.Up = item->OperStatus == IfOperStatusUp;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = item->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) continue;
            const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
            adapter.IPv4.push_back(
                {ntohl(ipv4->sin_addr.s_addr), std::clamp<int>(unicast->OnLinkPrefixLength, 0, 32)});
        }
    }
    return adapters;
}

}  // namespace egaiss::platform
