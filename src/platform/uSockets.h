#pragma once
// IPv4 TCP and UDP sockets for the scales. Every wait is bounded by a time-out in milliseconds
// (negative: no limit), and Close() may be called from another thread: it makes a pending wait
// return at once with ioClosed and every later call fail the same way. The descriptor itself is
// released by the destructor, so a thread still inside a call never meets a reused descriptor.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace egaiss::platform {

inline constexpr std::uint32_t IPv4Any = 0;
inline constexpr std::uint32_t IPv4Loopback = 0x7F000001;  // 127.0.0.1

struct TIPv4Endpoint {
    std::uint32_t Address = 0;  // host byte order, as TIPv4Prefix
    std::uint16_t Port = 0;

    std::string Text() const;  // "127.0.0.1:5001"
    bool operator==(const TIPv4Endpoint&) const = default;
};

// Strict dotted decimal "a.b.c.d"; false for anything else.
bool ParseIPv4(std::string_view text, std::uint32_t& address);
std::string IPv4Text(std::uint32_t address);
// A dotted address as it is, else the first IPv4 address the system resolver gives for the name.
// Text that cannot be a host name is not looked up at all.
bool ResolveIPv4(const std::string& host, std::uint32_t& address);
// Dot-separated labels of 1..63 letters, digits, '-', '_' or non-ASCII bytes; at most 253 bytes.
bool IsHostNameText(std::string_view text);

// Starts the socket library once per process (Winsock); always true on POSIX.
bool InitSockets();

enum class TIoStatus {
    ioOk,
    ioTimeout,
    ioRefused,      // connect: nothing listens there
    ioEndOfStream,  // receive: the peer closed its side
    ioClosed,       // Close() was called on this object
    ioError,
};

struct TIoResult {
    TIoStatus Status = TIoStatus::ioOk;
    std::size_t Bytes = 0;  // bytes sent or received, also before a failure
    int ErrorCode = 0;      // errno or WSAGetLastError() of a failure

    bool Ok() const { return Status == TIoStatus::ioOk; }
    // For logs: "timed out", "connection refused", the system's text of ErrorCode, ...
    std::string Text() const;
};

std::string SocketErrorText(int code);

struct TSocketState;  // per platform
// Releases a socket's state; defined beside it.
struct TSocketStateDelete {
    void operator()(TSocketState* state) const noexcept;
};
using TSocketStatePtr = std::unique_ptr<TSocketState, TSocketStateDelete>;

class TTcpConnection {
public:
    TTcpConnection() noexcept;  // not open
    ~TTcpConnection();
    TTcpConnection(TTcpConnection&& other) noexcept;
    TTcpConnection& operator=(TTcpConnection&& other) noexcept;
    TTcpConnection(const TTcpConnection&) = delete;
    TTcpConnection& operator=(const TTcpConnection&) = delete;

    // Opens a new socket (a previous one is released) and connects within timeoutMs; on failure the
    // socket is released again. Raises ETransportError when the system gives no socket.
    TIoResult Connect(const TIPv4Endpoint& to, int timeoutMs);
    bool IsOpen() const noexcept { return FState != nullptr; }

    TIoResult SendAll(std::span<const std::uint8_t> data, int timeoutMs);
    // Waits for at least one byte; Bytes is the number received.
    TIoResult Receive(std::span<std::uint8_t> buffer, int timeoutMs);
    // Any thread, once the connection is open.
    void Close() noexcept;

private:
    friend class TTcpListener;
    TSocketStatePtr FState;
};

class TTcpListener {
public:
    // Binds and listens; raises ETransportError.
    explicit TTcpListener(const TIPv4Endpoint& at, int backlog = 16);
    ~TTcpListener();
    TTcpListener(const TTcpListener&) = delete;
    TTcpListener& operator=(const TTcpListener&) = delete;

    TIPv4Endpoint LocalEndpoint() const;
    // ioOk with the accepted connection in `connection`.
    TIoResult Accept(TTcpConnection& connection, int timeoutMs);
    void Close() noexcept;  // any thread

private:
    TSocketStatePtr FState;
};

class TUdpSocket {
public:
    // Opens the socket; raises ETransportError. Unbound until Bind or the first SendTo.
    TUdpSocket();
    ~TUdpSocket();
    TUdpSocket(const TUdpSocket&) = delete;
    TUdpSocket& operator=(const TUdpSocket&) = delete;

    void Bind(const TIPv4Endpoint& at);  // raises ETransportError
    void EnableBroadcast();              // raises ETransportError
    TIPv4Endpoint LocalEndpoint() const;

    TIoResult SendTo(const TIPv4Endpoint& to, std::span<const std::uint8_t> data);
    // One datagram, cut to the buffer's size; Bytes is its length, `from` its sender.
    TIoResult ReceiveFrom(std::span<std::uint8_t> buffer, int timeoutMs, TIPv4Endpoint& from);
    void Close() noexcept;  // any thread
    bool IsClosed() const noexcept;

private:
    TSocketStatePtr FState;
};

}  // namespace egaiss::platform
