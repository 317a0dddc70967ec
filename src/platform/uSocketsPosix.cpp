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
#include <memory>
#include <system_error>

#include "platform/uErrors.h"
#include "platform/uPosixFd.h"
#include "platform/uSockaddr.h"
#include "platform/uSockets.h"
#include "platform/uSocketsShared.h"

namespace egaiss::platform {

// The socket plus a self-pipe: every wait polls both, so Close() from another thread wakes it.
struct TSocketState {
    TUniqueFd Socket;
    TUniqueFd WakeRead;
    TUniqueFd WakeWrite;
    std::atomic<bool> Closed{false};
};

void TSocketStateDelete::operator()(TSocketState* state) const noexcept {
    delete state;
}

namespace socketdetail {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int SendFlags = MSG_NOSIGNAL;  // a vanished peer is an error result, not SIGPIPE
#else
constexpr int SendFlags = 0;
#endif

bool MakeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

TSocketStatePtr StateFor(int socketFd) {
    TSocketStatePtr state(new TSocketState);
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

TAttempt Moved(ssize_t count) {
    return {TStep::stDone, static_cast<std::size_t>(count), 0};
}

TAttempt AfterError(int code) {
    if (code == EINTR) return {TStep::stAgain};
    if (code == EAGAIN || code == EWOULDBLOCK) return {TStep::stWait};
    return {TStep::stFailed, 0, code};
}

}  // namespace

TSocketStatePtr OpenSocket(TSocketKind kind) {
    const int fd = ::socket(AF_INET, kind == TSocketKind::skStream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (fd < 0) RaiseSocketError("socket", errno);
    return StateFor(fd);
}

bool WasClosed(const TSocketState& state) noexcept {
    return state.Closed;
}

void CloseSocket(TSocketState* state) noexcept {
    if (state == nullptr || state->Closed.exchange(true)) return;
    ::shutdown(state->Socket.Get(), SHUT_RDWR);
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(state->WakeWrite.Get(), &byte, 1);
}

TIoStatus StatusOfError(int code) {
    if (code == ECONNREFUSED) return TIoStatus::ioRefused;
    if (code == ETIMEDOUT) return TIoStatus::ioTimeout;
    return TIoStatus::ioError;
}

TIoResult WaitFor(const TSocketState& state, TReadiness readiness, const TDeadline& deadline) {
    const short events = readiness == TReadiness::rdRead ? POLLIN : POLLOUT;
    for (;;) {
        if (state.Closed) return ClosedResult();
        pollfd fds[2] = {{state.Socket.Get(), events, 0}, {state.WakeRead.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, deadline.RemainingMs());
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Failure(state, errno);
        }
        if (fds[1].revents != 0 || state.Closed) return ClosedResult();
        if (ready == 0) return {TIoStatus::ioTimeout, 0, 0};
        return {};
    }
}

TIoResult ConnectSocket(const TSocketState& state, const TIPv4Endpoint& to, const TDeadline& deadline) {
    const sockaddr_in address = ToSockaddr(to);
    if (::connect(state.Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return {};
    if (errno != EINPROGRESS && errno != EINTR) return Failure(state, errno);
    const TIoResult result = WaitFor(state, TReadiness::rdWrite, deadline);
    if (!result.Ok()) return result;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(state.Socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    return error != 0 ? Failure(state, error) : result;
}

void SetNoDelay(const TSocketState& state) {
    // Frames are small and each waits for its answer.
    const int on = 1;
    ::setsockopt(state.Socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void BindSocket(const TSocketState& state, const TIPv4Endpoint& at) {
    const sockaddr_in address = ToSockaddr(at);
    if (::bind(state.Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        RaiseSocketError("bind " + at.Text(), errno);
    }
}

void ListenOn(const TSocketState& state, const TIPv4Endpoint& at, int backlog) {
    const int on = 1;
    ::setsockopt(state.Socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    BindSocket(state, at);
    if (::listen(state.Socket.Get(), std::max(backlog, 0)) != 0)
        RaiseSocketError("listen " + at.Text(), errno);
}

TIPv4Endpoint LocalEndpointOf(const TSocketState* state) {
    if (state == nullptr) return {};
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(state->Socket.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return FromSockaddr(address);
}

bool LookUpIPv4(const std::string& host, std::uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) return false;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(raw, &::freeaddrinfo);
    return FirstIPv4(list.get(), address);
}

TAttempt SendSome(const TSocketState& state, std::span<const std::uint8_t> data) {
    const auto count = ::send(state.Socket.Get(), data.data(), data.size(), SendFlags);
    return count >= 0 ? Moved(count) : AfterError(errno);
}

TAttempt ReceiveSome(const TSocketState& state, std::span<std::uint8_t> buffer) {
    const auto count = ::recv(state.Socket.Get(), buffer.data(), buffer.size(), 0);
    return count >= 0 ? Moved(count) : AfterError(errno);
}

TAttempt AcceptOne(const TSocketState& listener, TSocketStatePtr& accepted) {
    const int fd = ::accept(listener.Socket.Get(), nullptr, nullptr);
    if (fd >= 0) {
        accepted = StateFor(fd);
        return {};
    }
    // The peer gave up before the connection was taken; another may be waiting.
    return errno == ECONNABORTED ? TAttempt{TStep::stAgain} : AfterError(errno);
}

TAttempt SendDatagram(const TSocketState& state, const TIPv4Endpoint& to,
                      std::span<const std::uint8_t> data) {
    const sockaddr_in address = ToSockaddr(to);
    const auto count = ::sendto(state.Socket.Get(), data.data(), data.size(), SendFlags,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return count >= 0 ? Moved(count) : AfterError(errno);
}

TAttempt ReceiveDatagram(const TSocketState& state, std::span<std::uint8_t> buffer, TIPv4Endpoint& from) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const auto count = ::recvfrom(state.Socket.Get(), buffer.data(), buffer.size(), 0,
                                  reinterpret_cast<sockaddr*>(&address), &length);
    if (count >= 0) {
        from = FromSockaddr(address);
        return Moved(count);
    }
    // ECONNREFUSED is a late ICMP report about an earlier datagram, not about this receive.
    return errno == ECONNREFUSED ? TAttempt{TStep::stAgain} : AfterError(errno);
}

}  // namespace socketdetail

bool InitSockets() {
    return true;
}

std::string SocketErrorText(int code) {
    return std::system_category().message(code);
}

void TUdpSocket::EnableBroadcast() {
    const int on = 1;
    if (::setsockopt(FState->Socket.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        socketdetail::RaiseSocketError("broadcast option", errno);
    }
}

}  // namespace egaiss::platform
