#include "platform/uLocalSocketPosix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "platform/uErrors.h"

namespace egaiss::platform {
namespace {

constexpr std::chrono::milliseconds RetryPause{100};

[[noreturn]] void RaiseSocketError(const std::string& what, const std::string& path, int code) {
    throw EAgentError(what + " " + path + ": " + std::strerror(code));
}

// False when `path` does not fit a socket address.
bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Waits up to `timeout` for `events` on `fd`; false on a timeout or an error.
bool WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0 && (entry.revents & events) != 0;
    }
}

bool SameUser(int socket) {
    ucred peer{};
    socklen_t size = sizeof(peer);
    return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

}  // namespace

bool TLocalConnection::WriteByte(char byte, std::chrono::milliseconds timeout) {
    return WaitFor(FSocket.Get(), POLLOUT, timeout) && ::send(FSocket.Get(), &byte, 1, MSG_NOSIGNAL) == 1;
}

std::optional<char> TLocalConnection::ReadByte(std::chrono::milliseconds timeout) {
    char byte = 0;
    if (!WaitFor(FSocket.Get(), POLLIN, timeout) || ::recv(FSocket.Get(), &byte, 1, 0) != 1)
        return std::nullopt;
    return byte;
}

std::optional<TLocalConnection> ConnectLocalSocket(const std::string& path,
                                                   std::chrono::milliseconds timeout) {
    sockaddr_un address{};
    if (!SocketAddress(path, address)) return std::nullopt;
    TUniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.Valid()) return std::nullopt;
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        // A full backlog makes a non-blocking connect wait like a TCP one.
        if (errno != EAGAIN && errno != EINPROGRESS) return std::nullopt;
        int error = 0;
        socklen_t size = sizeof(error);
        if (!WaitFor(socket.Get(), POLLOUT, timeout) ||
            ::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return std::nullopt;
        }
    }
    return TLocalConnection(std::move(socket));
}

TLocalSocketServer::TLocalSocketServer(std::string path) : FPath(std::move(path)) {
    sockaddr_un address{};
    if (!SocketAddress(FPath, address)) throw EAgentError("Socket path too long: " + FPath);
    FListener.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!FListener.Valid()) RaiseSocketError("Cannot make a socket for", FPath, errno);
    // Whoever held this name before has ended: its folder's lock is ours.
    ::unlink(FPath.c_str());
    if (::bind(FListener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        RaiseSocketError("Cannot bind", FPath, errno);
    }
    // Other users are also turned away by their credentials; this keeps them from connecting.
    if (::chmod(FPath.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(FListener.Get(), 8) != 0) {
        const int code = errno;
        ::unlink(FPath.c_str());
        RaiseSocketError("Cannot listen on", FPath, code);
    }
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        const int code = errno;
        ::unlink(FPath.c_str());
        RaiseSocketError("Cannot make a pipe for", FPath, code);
    }
    FWakeRead.Reset(wake[0]);
    FWakeWrite.Reset(wake[1]);
}

TLocalSocketServer::~TLocalSocketServer() {
    ::unlink(FPath.c_str());
}

std::optional<TLocalConnection> TLocalSocketServer::Accept() {
    for (;;) {
        pollfd entries[2] = {{FListener.Get(), POLLIN, 0}, {FWakeRead.Get(), POLLIN, 0}};
        const int ready = ::poll(entries, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        // Stop closed the pipe's write end, which reads as end of file.
        if (ready < 0 || entries[1].revents != 0) return std::nullopt;
        TUniqueFd peer(::accept4(FListener.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (peer.Valid()) {
            if (SameUser(peer.Get())) return TLocalConnection(std::move(peer));
            continue;
        }
        // Out of descriptors or memory, the pending connection stays: wait a while (or for Stop)
        // instead of spinning on it.
        if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED &&
            WaitFor(FWakeRead.Get(), POLLIN, RetryPause)) {
            return std::nullopt;
        }
    }
}

void TLocalSocketServer::Stop() {
    FWakeWrite.Reset();
}

}  // namespace egaiss::platform
