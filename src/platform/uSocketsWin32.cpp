// Winsock 2 must come before the Windows headers.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mswsock.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>

#include "platform/uErrors.h"
#include "platform/uSockaddr.h"
#include "platform/uSockets.h"
#include "platform/uSocketsShared.h"
#include "platform/uWin32Handle.h"
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

// The socket is non-blocking through WSAEventSelect; every wait watches its network event and a
// wake event, so Close() from another thread ends the wait.
struct TSocketState {
    TUniqueSocket Socket;
    std::unique_ptr<void, TWsaEventDeleter> NetEvent;
    TUniqueHandle WakeEvent;
    std::atomic<bool> Closed{false};
};

void TSocketStateDelete::operator()(TSocketState* state) const noexcept {
    delete state;
}

namespace socketdetail {
namespace {

constexpr long WatchedEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE | FD_ACCEPT;

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

TSocketStatePtr StateFor(SOCKET socket) {
    TSocketStatePtr state(new TSocketState);
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

// ioOk after any network event, which `seen` then lists.
TIoResult WaitForEvents(const TSocketState& state, const TDeadline& deadline, WSANETWORKEVENTS& seen) {
    seen = {};
    if (state.Closed) return ClosedResult();
    WSAEVENT events[2] = {state.NetEvent.get(), state.WakeEvent.get()};
    const int left = deadline.RemainingMs();
    const DWORD waitMs = left < 0 ? WSA_INFINITE : static_cast<DWORD>(left);
    const DWORD signalled = WSAWaitForMultipleEvents(2, events, FALSE, waitMs, FALSE);
    if (signalled == WSA_WAIT_FAILED) return Failure(state, WSAGetLastError());
    if (state.Closed || signalled == WSA_WAIT_EVENT_0 + 1) return ClosedResult();
    if (signalled == WSA_WAIT_TIMEOUT) return {TIoStatus::ioTimeout, 0, 0};
    if (WSAEnumNetworkEvents(state.Socket.Get(), state.NetEvent.get(), &seen) != 0) {
        return Failure(state, WSAGetLastError());
    }
    return {};
}

int ChunkLength(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

TAttempt Moved(int count) {
    return {TStep::stDone, static_cast<std::size_t>(count), 0};
}

TAttempt AfterError(int code) {
    if (code == WSAEWOULDBLOCK) return {TStep::stWait};
    return {TStep::stFailed, 0, code};
}

}  // namespace

TSocketStatePtr OpenSocket(TSocketKind kind) {
    if (!InitSockets()) throw ETransportError("Winsock init failed");
    const bool stream = kind == TSocketKind::skStream;
    const SOCKET socket =
        ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP);
    if (socket == INVALID_SOCKET) RaiseSocketError("socket", WSAGetLastError());
    TSocketStatePtr state = StateFor(socket);
    if (!stream) {
        // Otherwise an ICMP "port unreachable" for one probe fails the next receive.
        BOOL reportReset = FALSE;
        DWORD returned = 0;
        WSAIoctl(state->Socket.Get(), SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0,
                 &returned, nullptr, nullptr);
    }
    return state;
}

bool WasClosed(const TSocketState& state) noexcept {
    return state.Closed;
}

void CloseSocket(TSocketState* state) noexcept {
    if (state == nullptr || state->Closed.exchange(true)) return;
    // As on POSIX, the peer learns of the close now, not only when the socket is released.
    shutdown(state->Socket.Get(), SD_BOTH);
    SetEvent(state->WakeEvent.get());
}

TIoStatus StatusOfError(int code) {
    if (code == WSAECONNREFUSED) return TIoStatus::ioRefused;
    if (code == WSAETIMEDOUT) return TIoStatus::ioTimeout;
    return TIoStatus::ioError;
}

TIoResult WaitFor(const TSocketState& state, TReadiness, const TDeadline& deadline) {
    // Any network event will do: the caller's next call re-arms the event it needs.
    WSANETWORKEVENTS seen{};
    return WaitForEvents(state, deadline, seen);
}

TIoResult ConnectSocket(const TSocketState& state, const TIPv4Endpoint& to, const TDeadline& deadline) {
    const sockaddr_in address = ToSockaddr(to);
    if (connect(state.Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return {};
    const int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK) return Failure(state, code);
    for (;;) {
        WSANETWORKEVENTS seen{};
        const TIoResult result = WaitForEvents(state, deadline, seen);
        if (!result.Ok()) return result;
        if ((seen.lNetworkEvents & FD_CONNECT) == 0) continue;
        const int error = seen.iErrorCode[FD_CONNECT_BIT];
        return error != 0 ? Failure(state, error) : result;
    }
}

void SetNoDelay(const TSocketState& state) {
    // Frames are small and each waits for its answer.
    const BOOL on = TRUE;
    setsockopt(state.Socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void BindSocket(const TSocketState& state, const TIPv4Endpoint& at) {
    const sockaddr_in address = ToSockaddr(at);
    if (bind(state.Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        RaiseSocketError("bind " + at.Text(), WSAGetLastError());
    }
}

void ListenOn(const TSocketState& state, const TIPv4Endpoint& at, int backlog) {
    // No SO_REUSEADDR: on Windows it would let another program take over the port.
    BindSocket(state, at);
    if (listen(state.Socket.Get(), std::max(backlog, 0)) != 0) {
        RaiseSocketError("listen " + at.Text(), WSAGetLastError());
    }
}

TIPv4Endpoint LocalEndpointOf(const TSocketState* state) {
    if (state == nullptr) return {};
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(state->Socket.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return FromSockaddr(address);
}

bool LookUpIPv4(const std::string& host, std::uint32_t& address) {
    if (!InitSockets()) return false;
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* raw = nullptr;
    if (GetAddrInfoW(Utf8ToWide(host).c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) return false;
    const std::unique_ptr<ADDRINFOW, decltype(&FreeAddrInfoW)> list(raw, &FreeAddrInfoW);
    return FirstIPv4(list.get(), address);
}

TAttempt SendSome(const TSocketState& state, std::span<const std::uint8_t> data) {
    const int count =
        send(state.Socket.Get(), reinterpret_cast<const char*>(data.data()), ChunkLength(data.size()), 0);
    return count != SOCKET_ERROR ? Moved(count) : AfterError(WSAGetLastError());
}

TAttempt ReceiveSome(const TSocketState& state, std::span<std::uint8_t> buffer) {
    const int count =
        recv(state.Socket.Get(), reinterpret_cast<char*>(buffer.data()), ChunkLength(buffer.size()), 0);
    return count != SOCKET_ERROR ? Moved(count) : AfterError(WSAGetLastError());
}

TAttempt AcceptOne(const TSocketState& listener, TSocketStatePtr& accepted) {
    const SOCKET socket = accept(listener.Socket.Get(), nullptr, nullptr);
    if (socket != INVALID_SOCKET) {
        // The accepted socket shares the listener's event until it gets its own.
        accepted = StateFor(socket);
        return {};
    }
    const int code = WSAGetLastError();
    return code == WSAECONNRESET ? TAttempt{TStep::stAgain} : AfterError(code);
}

TAttempt SendDatagram(const TSocketState& state, const TIPv4Endpoint& to,
                      std::span<const std::uint8_t> data) {
    const sockaddr_in address = ToSockaddr(to);
    const int count =
        sendto(state.Socket.Get(), reinterpret_cast<const char*>(data.data()), ChunkLength(data.size()), 0,
               reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return count != SOCKET_ERROR ? Moved(count) : AfterError(WSAGetLastError());
}

TAttempt ReceiveDatagram(const TSocketState& state, std::span<std::uint8_t> buffer, TIPv4Endpoint& from) {
    sockaddr_in address{};
    int length = sizeof address;
    const int count = recvfrom(state.Socket.Get(), reinterpret_cast<char*>(buffer.data()),
                               ChunkLength(buffer.size()), 0, reinterpret_cast<sockaddr*>(&address), &length);
    const int code = count == SOCKET_ERROR ? WSAGetLastError() : 0;
    if (count != SOCKET_ERROR || code == WSAEMSGSIZE) {
        from = FromSockaddr(address);
        // WSAEMSGSIZE: the datagram was longer than the buffer and is cut to it.
        return {TStep::stDone, count == SOCKET_ERROR ? buffer.size() : static_cast<std::size_t>(count), 0};
    }
    return code == WSAECONNRESET ? TAttempt{TStep::stAgain} : AfterError(code);
}

}  // namespace socketdetail

bool InitSockets() {
    static socketdetail::TWinsock winsock;
    return winsock.Started;
}

std::string SocketErrorText(int code) {
    return Win32ErrorText(static_cast<DWORD>(code));
}

void TUdpSocket::EnableBroadcast() {
    const BOOL on = TRUE;
    if (setsockopt(FState->Socket.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0) {
        socketdetail::RaiseSocketError("broadcast option", WSAGetLastError());
    }
}

}  // namespace egaiss::platform
