#pragma once
// sockaddr_in helpers, the same for BSD sockets and Winsock. For the socket units only.
#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <cstdint>

#include "platform/uSockets.h"

namespace egaiss::platform {

inline sockaddr_in ToSockaddr(const TIPv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.Address);
    address.sin_port = htons(endpoint.Port);
    return address;
}

inline TIPv4Endpoint FromSockaddr(const sockaddr_in& address) {
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

// The first IPv4 address of a resolver's answer (addrinfo, ADDRINFOW), in host byte order.
template <class TAddrInfo>
bool FirstIPv4(const TAddrInfo* list, std::uint32_t& address) {
    for (const TAddrInfo* item = list; item != nullptr; item = item->ai_next) {
        if (item->ai_family != AF_INET || item->ai_addr == nullptr) continue;
        address = ntohl(reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr);
        return true;
    }
    return false;
}

}  // namespace egaiss::platform
