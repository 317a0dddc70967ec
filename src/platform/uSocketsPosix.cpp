#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/uErrors.h"
#include "platform/uPosixFd.h"
#include "platform/uSockets.h"

namespace egaiss::platform {

// The socket plus a self-pipe: every wait polls both, so Close() from another thread wakes it.
struct TSocketState {
    TUniqueFd Socket;
    TUniqueFd WakeRead;
    TUniqueFd WakeWrite;
    std::atomic<bool> Closed{false};
};

namespace {

using TClock = std::chrono::steady_clock;

#ifdef MSG_NOSIGNAL
constexpr int SendFlags = MSG_NOSIGNAL;  // a vanished peer is an error result, not SIGPIPE
#else
constexpr int SendFlags = 0;
#endif

class TDeadline {
public:
    explicit TDeadline(int timeoutMs)
        : FUnlimited(timeoutMs < 0), FAt(TClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0))) {}

    // For poll(): -1 waits without limit.
    int RemainingMs() const {
        if (FUnlimited) return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(FAt - TClock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }

private:
    bool FUnlimited;
    TClock::time_point FAt;
};

bool MakeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

[[noreturn]] void RaiseSocketError(const std::string& what, int code) {
    throw ETransportError(what + ": " + SocketErrorText(code));
}

std::unique_ptr<TSocketState> StateFor(int socketFd) {
    auto state = std::make_unique<TSocketState>();
    state->Socket.Reset(socketFd);
    if (!MakeNonBlocking(socketFd)) RaiseSocketError("socket mode", errno);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) RaiseSocketError("socket wake pipe", errno);
    state->WakeRead.Reset(pipeFds[0]);
    state->WakeWrite.Reset(pipeFds[1]);
    if (!MakeNonBlocking(pipeFds[0]) || !MakeNonBlocking(pipeFds[1]))
        RaiseSocketError("socket wake pipe", errno);
    return state;
}

std::unique_ptr<TSocketState> NewState(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) RaiseSocketError("socket", errno);
    return StateFor(fd);
}

void CloseState(TSocketState* state) noexcept {
    if (state == nullptr || state->Closed.exchange(true)) return;
    ::shutdown(state->Socket.Get(), SHUT_RDWR);
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(state->WakeWrite.Get(), &byte, 1);
}

TIoResult Failure(const TSocketState& state, int code, std::size_t bytes = 0) {
    TIoResult result{TIoStatus::ioError, bytes, code};
    if (state.Closed) {
        result.Status = TIoStatus::ioClosed;
    } else if (code == ECONNREFUSED) {
        result.Status = TIoStatus::ioRefused;
    } else if (code == ETIMEDOUT) {
        result.Status = TIoStatus::ioTimeout;
    }
    return result;
}

TIoResult Closed() {
    return {TIoStatus::ioClosed, 0, 0};
}

bool WouldBlock(int code) {
    return code == EAGAIN || code == EWOULDBLOCK;
}

// ioOk when the socket is ready for `events`.
TIoResult Wait(const TSocketState& state, short events, const TDeadline& deadline) {
    for (;;) {
        if (state.Closed) return Closed();
        pollfd fds[2] = {{state.Socket.Get(), events, 0}, {state.WakeRead.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, deadline.RemainingMs());
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Failure(state, errno);
        }
        if (fds[1].revents != 0 || state.Closed) return Closed();
        if (ready == 0) return {TIoStatus::ioTimeout, 0, 0};
        return {};
    }
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
    socklen_t length = sizeof address;
    if (::getsockname(state->Socket.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return FromSockaddr(address);
}

void BindState(const TSocketState& state, const TIPv4Endpoint& at) {
    const sockaddr_in address = ToSockaddr(at);
    if (::bind(state.Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        RaiseSocketError("bind " + at.Text(), errno);
    }
}

void SetNoDelay(const TSocketState& state) {
    // Frames are small and each waits for its answer.
    const int on = 1;
    ::setsockopt(state.Socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

bool InitSockets() {
    return true;
}

std::string SocketErrorText(int code) {
    return std::system_category().message(code);
}

bool ResolveIPv4(const std::string& host, std::uint32_t& address) {
    if (ParseIPv4(host, address)) return true;
    if (!IsHostNameText(host)) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) return false;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(raw, &::freeaddrinfo);
    for (const addrinfo* item = list.get(); item != nullptr; item = item->ai_next) {
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
    auto state = NewState(SOCK_STREAM);
    const TDeadline deadline(timeoutMs);
    const sockaddr_in address = ToSockaddr(to);
    TIoResult result;
    if (::connect(state->Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = Failure(*state, errno);
        } else {
            result = Wait(*state, POLLOUT, deadline);
            if (result.Ok()) {
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(state->Socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                    error = errno;
                if (error != 0) result = Failure(*state, error);
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
        const auto count = ::send(FState->Socket.Get(), data.data() + sent, data.size() - sent, SendFlags);
        if (count >= 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        const int code = errno;
        if (code == EINTR) continue;
        if (!WouldBlock(code)) return Failure(*FState, code, sent);
        TIoResult waited = Wait(*FState, POLLOUT, deadline);
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
        const auto count = ::recv(FState->Socket.Get(), buffer.data(), buffer.size(), 0);
        if (count > 0 || (count == 0 && buffer.empty()))
            return {TIoStatus::ioOk, static_cast<std::size_t>(count), 0};
        if (count == 0) return FState->Closed ? Closed() : TIoResult{TIoStatus::ioEndOfStream, 0, 0};
        const int code = errno;
        if (code == EINTR) continue;
        if (!WouldBlock(code)) return Failure(*FState, code);
        const TIoResult waited = Wait(*FState, POLLIN, deadline);
        if (!waited.Ok()) return waited;
    }
}

void TTcpConnection::Close() noexcept {
    CloseState(FState.get());
}

// --- TCP listener ---

TTcpListener::TTcpListener(const TIPv4Endpoint& at, int backlog) : FState(NewState(SOCK_STREAM)) {
    const int on = 1;
    ::setsockopt(FState->Socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    BindState(*FState, at);
    if (::listen(FState->Socket.Get(), std::max(backlog, 0)) != 0)
        RaiseSocketError("listen " + at.Text(), errno);
}

TTcpListener::~TTcpListener() = default;

TIPv4Endpoint TTcpListener::LocalEndpoint() const {
    return LocalEndpointOf(FState.get());
}

TIoResult TTcpListener::Accept(TTcpConnection& connection, int timeoutMs) {
    const TDeadline deadline(timeoutMs);
    for (;;) {
        if (FState->Closed) return Closed();
        const int fd = ::accept(FState->Socket.Get(), nullptr, nullptr);
        if (fd >= 0) {
            connection.FState = StateFor(fd);
            SetNoDelay(*connection.FState);
            return {};
        }
        const int code = errno;
        if (code == EINTR || code == ECONNABORTED) continue;
        if (!WouldBlock(code)) return Failure(*FState, code);
        const TIoResult waited = Wait(*FState, POLLIN, deadline);
        if (!waited.Ok()) return waited;
    }
}

void TTcpListener::Close() noexcept {
    CloseState(FState.get());
}

// --- UDP ---

TUdpSocket::TUdpSocket() : FState(NewState(SOCK_DGRAM)) {}

TUdpSocket::~TUdpSocket() = default;

void TUdpSocket::Bind(const TIPv4Endpoint& at) {
    BindState(*FState, at);
}

void TUdpSocket::EnableBroadcast() {
    const int on = 1;
    if (::setsockopt(FState->Socket.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        RaiseSocketError("broadcast option", errno);
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
        const auto count = ::sendto(FState->Socket.Get(), data.data(), data.size(), SendFlags,
                                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (count >= 0) return {TIoStatus::ioOk, static_cast<std::size_t>(count), 0};
        const int code = errno;
        if (code == EINTR) continue;
        if (!WouldBlock(code)) return Failure(*FState, code);
        const TIoResult waited = Wait(*FState, POLLOUT, deadline);
        if (!waited.Ok()) return waited;
    }
}

TIoResult TUdpSocket::ReceiveFrom(std::span<std::uint8_t> buffer, int timeoutMs, TIPv4Endpoint& from) {
    const TDeadline deadline(timeoutMs);
    for (;;) {
        if (FState->Closed) return Closed();
        sockaddr_in address{};
        socklen_t length = sizeof address;
        const auto count = ::recvfrom(FState->Socket.Get(), buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&address), &length);
        if (count >= 0) {
            if (FState->Closed) return Closed();
            from = FromSockaddr(address);
            return {TIoStatus::ioOk, static_cast<std::size_t>(count), 0};
        }
        const int code = errno;
        // ECONNREFUSED is a late ICMP report about an earlier datagram, not about this receive.
        if (code == EINTR || code == ECONNREFUSED) continue;
        if (!WouldBlock(code)) return Failure(*FState, code);
        const TIoResult waited = Wait(*FState, POLLIN, deadline);
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
