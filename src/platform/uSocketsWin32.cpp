// Winsock 2 must come before the Windows headers.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mswsock.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <utility>

#include "platform/uErrors.h"
#include "platform/uSockets.h"
#include "platform/uWin32Text.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace egaiss::platform {

class TUniqueSocket {
public:
    TUniqueSocket() = default;
    ~TUniqueSocket() { Reset(INVALID_SOCKET); }
    TUniqueSocket(const TUniqueSocket&) = delete;
    TUniqueSocket& operator=(const TUniqueSocket&) = delete;

    SOCKET Get() const { return FSocket; }
    void Reset(SOCKET socket) {
        if (FSocket != INVALID_SOCKET) closesocket(FSocket);
        FSocket = socket;
    }

private:
    SOCKET FSocket = INVALID_SOCKET;
};

struct TWsaEventDeleter {
    void operator()(void* event) const { WSACloseEvent(static_cast<WSAEVENT>(event)); }
};
struct THandleDeleter {
    void operator()(void* handle) const { CloseHandle(static_cast<HANDLE>(handle)); }
};

// The socket is non-blocking through WSAEventSelect; every wait watches its network event and a
// wake event, so Close() from another thread ends the wait.
struct TSocketState {
    TUniqueSocket Socket;
    std::unique_ptr<void, TWsaEventDeleter> NetEvent;
    std::unique_ptr<void, THandleDeleter> WakeEvent;
    std::atomic<bool> Closed{false};
};

namespace {

using TClock = std::chrono::steady_clock;

constexpr long WatchedEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE | FD_ACCEPT;

class TDeadline {
public:
    explicit TDeadline(int timeoutMs)
        : FUnlimited(timeoutMs < 0), FAt(TClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0))) {}

    DWORD RemainingMs() const {
        if (FUnlimited) return WSA_INFINITE;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(FAt - TClock::now()).count();
        return static_cast<DWORD>(std::clamp<long long>(left, 0, INT_MAX));
    }

private:
    bool FUnlimited;
    TClock::time_point FAt;
};

struct TWinsock {
    bool Started = false;
    TWinsock() {
        WSADATA data{};
        Started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~TWinsock() {
        if (Started) WSACleanup();
    }
    TWinsock(const TWinsock&) = delete;
    TWinsock& operator=(const TWinsock&) = delete;
};

[[noreturn]] void RaiseSocketError(const std::string& what, int code) {
    throw ETransportError(what + ": " + SocketErrorText(code));
}

std::unique_ptr<TSocketState> StateFor(SOCKET socket) {
    auto state = std::make_unique<TSocketState>();
    state->Socket.Reset(socket);
    state->NetEvent.reset(WSACreateEvent());
    if (state->NetEvent.get() == WSA_INVALID_EVENT) {
        state->NetEvent.release();
        RaiseSocketError("socket event", WSAGetLastError());
    }
    state->WakeEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!state->WakeEvent) RaiseSocketError("socket wake event", static_cast<int>(GetLastError()));
    if (WSAEventSelect(socket, state->NetEvent.get(), WatchedEvents) != 0) {
        RaiseSocketError("socket mode", WSAGetLastError());
    }
    return state;
}

std::unique_ptr<TSocketState> NewState(int type, int protocol) {
    if (!InitSockets()) throw ETransportError("Winsock init failed");
    const SOCKET socket = ::socket(AF_INET, type, protocol);
    if (socket == INVALID_SOCKET) RaiseSocketError("socket", WSAGetLastError());
    return StateFor(socket);
}

void CloseState(TSocketState* state) noexcept {
    if (state == nullptr || state->Closed.exchange(true)) return;
    SetEvent(state->WakeEvent.get());
}

TIoResult Failure(const TSocketState& state, int code, std::size_t bytes = 0) {
    TIoResult result{TIoStatus::ioError, bytes, code};
    if (state.Closed) {
        result.Status = TIoStatus::ioClosed;
    } else if (code == WSAECONNREFUSED) {
        result.Status = TIoStatus::ioRefused;
    } else if (code == WSAETIMEDOUT) {
        result.Status = TIoStatus::ioTimeout;
    }
    return result;
}

TIoResult Closed() {
    return {TIoStatus::ioClosed, 0, 0};
}

// ioOk after any network event; the caller retries its call, which re-arms the event it needs.
TIoResult Wait(const TSocketState& state, const TDeadline& deadline, WSANETWORKEVENTS& seen) {
    seen = {};
    if (state.Closed) return Closed();
    WSAEVENT events[2] = {state.NetEvent.get(), state.WakeEvent.get()};
    const DWORD signalled = WSAWaitForMultipleEvents(2, events, FALSE, deadline.RemainingMs(), FALSE);
    if (signalled == WSA_WAIT_FAILED) return Failure(state, WSAGetLastError());
    if (state.Closed || signalled == WSA_WAIT_EVENT_0 + 1) return Closed();
    if (signalled == WSA_WAIT_TIMEOUT) return {TIoStatus::ioTimeout, 0, 0};
    if (WSAEnumNetworkEvents(state.Socket.Get(), state.NetEvent.get(), &seen) != 0) {
        return Failure(state, WSAGetLastError());
    }
    return {};
}

TIoResult Wait(const TSocketState& state, const TDeadline& deadline) {
    WSANETWORKEVENTS seen{};
    return Wait(state, deadline, seen);
}

sockaddr_in ToSockaddr(const TIPv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.Address);
    address.sin_port = htons(endpoint.Port);
    return address;
}

TIPv4Endpoint FromSockaddr(const sockaddr_in& address) {
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

TIPv4Endpoint LocalEndpointOf(const TSocketState* state) {
    if (state == nullptr) return {};
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(state->Socket.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return FromSockaddr(address);
}

void BindState(const TSocketState& state, const TIPv4Endpoint& at) {
    const sockaddr_in address = ToSockaddr(at);
    if (bind(state.Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        RaiseSocketError("bind " + at.Text(), WSAGetLastError());
    }
}

void SetNoDelay(const TSocketState& state) {
    // Frames are small and each waits for its answer.
    const BOOL on = TRUE;
    setsockopt(state.Socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

int ChunkLength(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

}  // namespace

bool InitSockets() {
    static TWinsock winsock;
    return winsock.Started;
}

std::string SocketErrorText(int code) {
    return Win32ErrorText(static_cast<DWORD>(code));
}

bool ResolveIPv4(const std::string& host, std::uint32_t& address) {
    if (ParseIPv4(host, address)) return true;
    if (!IsHostNameText(host) || !InitSockets()) return false;
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* raw = nullptr;
    if (GetAddrInfoW(Utf8ToWide(host).c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) return false;
    const std::unique_ptr<ADDRINFOW, decltype(&FreeAddrInfoW)> list(raw, &FreeAddrInfoW);
    for (const ADDRINFOW* item = list.get(); item != nullptr; item = item->ai_next) {
        if (item->ai_family != AF_INET || item->ai_addr == nullptr) continue;
        address = ntohl(reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr);
        return true;
    }
    return false;
}

// --- TCP connection ---

TTcpConnection::TTcpConnection() noexcept = default;
TTcpConnection::~TTcpConnection() = default;
TTcpConnection::TTcpConnection(TTcpConnection&& other) noexcept = default;
TTcpConnection& TTcpConnection::operator=(TTcpConnection&& other) noexcept = default;

TIoResult TTcpConnection::Connect(const TIPv4Endpoint& to, int timeoutMs) {
    FState.reset();
    auto state = NewState(SOCK_STREAM, IPPROTO_TCP);
    const TDeadline deadline(timeoutMs);
    const sockaddr_in address = ToSockaddr(to);
    TIoResult result;
    if (connect(state->Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int code = WSAGetLastError();
        if (code != WSAEWOULDBLOCK) {
            result = Failure(*state, code);
        } else {
            for (;;) {
                WSANETWORKEVENTS seen{};
                result = Wait(*state, deadline, seen);
                if (!result.Ok()) break;
                if ((seen.lNetworkEvents & FD_CONNECT) == 0) continue;
                if (const int error = seen.iErrorCode[FD_CONNECT_BIT]; error != 0)
                    result = Failure(*state, error);
                break;
            }
        }
    }
    if (result.Ok()) {
        SetNoDelay(*state);
        FState = std::move(state);
    }
    return result;
}

TIoResult TTcpConnection::SendAll(std::span<const std::uint8_t> data, int timeoutMs) {
    if (!FState) return Closed();
    const TDeadline deadline(timeoutMs);
    std::size_t sent = 0;
    while (sent < data.size()) {
        if (FState->Closed) return {TIoStatus::ioClosed, sent, 0};
        const int count = send(FState->Socket.Get(), reinterpret_cast<const char*>(data.data() + sent),
                               ChunkLength(data.size() - sent), 0);
        if (count != SOCKET_ERROR) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        const int code = WSAGetLastError();
        if (code != WSAEWOULDBLOCK) return Failure(*FState, code, sent);
        TIoResult waited = Wait(*FState, deadline);
        if (!waited.Ok()) {
            waited.Bytes = sent;
            return waited;
        }
    }
    return {TIoStatus::ioOk, sent, 0};
}

TIoResult TTcpConnection::Receive(std::span<std::uint8_t> buffer, int timeoutMs) {
    if (!FState) return Closed();
    const TDeadline deadline(timeoutMs);
    for (;;) {
        if (FState->Closed) return Closed();
        const int count =
            recv(FState->Socket.Get(), reinterpret_cast<char*>(buffer.data()), ChunkLength(buffer.size()), 0);
        if (count > 0 || (count == 0 && buffer.empty()))
            return {TIoStatus::ioOk, static_cast<std::size_t>(count), 0};
        if (count == 0) return TIoResult{TIoStatus::ioEndOfStream, 0, 0};
        const int code = WSAGetLastError();
        if (code != WSAEWOULDBLOCK) return Failure(*FState, code);
        const TIoResult waited = Wait(*FState, deadline);
        if (!waited.Ok()) return waited;
    }
}

void TTcpConnection::Close() noexcept {
    CloseState(FState.get());
}

// --- TCP listener ---

TTcpListener::TTcpListener(const TIPv4Endpoint& at, int backlog)
    : FState(NewState(SOCK_STREAM, IPPROTO_TCP)) {
    // No SO_REUSEADDR: on Windows it would let another program take over the port.
    BindState(*FState, at);
    if (listen(FState->Socket.Get(), std::max(backlog, 0)) != 0) {
        RaiseSocketError("listen " + at.Text(), WSAGetLastError());
    }
}

TTcpListener::~TTcpListener() = default;

TIPv4Endpoint TTcpListener::LocalEndpoint() const {
    return LocalEndpointOf(FState.get());
}

TIoResult TTcpListener::Accept(TTcpConnection& connection, int timeoutMs) {
    const TDeadline deadline(timeoutMs);
    for (;;) {
        if (FState->Closed) return Closed();
        const SOCKET socket = accept(FState->Socket.Get(), nullptr, nullptr);
        if (socket != INVALID_SOCKET) {
            // The accepted socket shares the listener's event until it gets its own.
            connection.FState = StateFor(socket);
            SetNoDelay(*connection.FState);
            return {};
        }
        const int code = WSAGetLastError();
        if (code == WSAECONNRESET) continue;
        if (code != WSAEWOULDBLOCK) return Failure(*FState, code);
        const TIoResult waited = Wait(*FState, deadline);
        if (!waited.Ok()) return waited;
    }
}

void TTcpListener::Close() noexcept {
    CloseState(FState.get());
}

// --- UDP ---

TUdpSocket::TUdpSocket() : FState(NewState(SOCK_DGRAM, IPPROTO_UDP)) {
    // Otherwise an ICMP "port unreachable" for one probe fails the next receive.
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    WSAIoctl(FState->Socket.Get(), SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned,
             nullptr, nullptr);
}

TUdpSocket::~TUdpSocket() = default;

void TUdpSocket::Bind(const TIPv4Endpoint& at) {
    BindState(*FState, at);
}

void TUdpSocket::EnableBroadcast() {
    const BOOL on = TRUE;
    if (setsockopt(FState->Socket.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0) {
        RaiseSocketError("broadcast option", WSAGetLastError());
    }
}

TIPv4Endpoint TUdpSocket::LocalEndpoint() const {
    return LocalEndpointOf(FState.get());
}

TIoResult TUdpSocket::SendTo(const TIPv4Endpoint& to, std::span<const std::uint8_t> data) {
    // A full send buffer drains within moments; a datagram is not worth a longer wait.
    constexpr int SendWaitMs = 1000;
    const TDeadline deadline(SendWaitMs);
    const sockaddr_in address = ToSockaddr(to);
    for (;;) {
        if (FState->Closed) return Closed();
        const int count =
            sendto(FState->Socket.Get(), reinterpret_cast<const char*>(data.data()), ChunkLength(data.size()),
                   0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (count != SOCKET_ERROR) return {TIoStatus::ioOk, static_cast<std::size_t>(count), 0};
        const int code = WSAGetLastError();
        if (code != WSAEWOULDBLOCK) return Failure(*FState, code);
        const TIoResult waited = Wait(*FState, deadline);
        if (!waited.Ok()) return waited;
    }
}

TIoResult TUdpSocket::ReceiveFrom(std::span<std::uint8_t> buffer, int timeoutMs, TIPv4Endpoint& from) {
    const TDeadline deadline(timeoutMs);
    for (;;) {
        if (FState->Closed) return Closed();
        sockaddr_in address{};
        int length = sizeof address;
        const int count =
            recvfrom(FState->Socket.Get(), reinterpret_cast<char*>(buffer.data()), ChunkLength(buffer.size()),
                     0, reinterpret_cast<sockaddr*>(&address), &length);
        int code = count == SOCKET_ERROR ? WSAGetLastError() : 0;
        if (count != SOCKET_ERROR || code == WSAEMSGSIZE) {
            from = FromSockaddr(address);
            // WSAEMSGSIZE: the datagram was longer than the buffer and is cut to it.
            return {TIoStatus::ioOk, count == SOCKET_ERROR ? buffer.size() : static_cast<std::size_t>(count),
                    0};
        }
        if (code == WSAECONNRESET) continue;
        if (code != WSAEWOULDBLOCK) return Failure(*FState, code);
        const TIoResult waited = Wait(*FState, deadline);
        if (!waited.Ok()) return waited;
    }
}

void TUdpSocket::Close() noexcept {
    CloseState(FState.get());
}

bool TUdpSocket::IsClosed() const noexcept {
    return FState->Closed;
}

}  // namespace egaiss::platform
