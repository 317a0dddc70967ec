#pragma once
// The socket classes are written once (uSockets.cpp) over the small calls declared here, which each
// system's unit implements. Not part of the sockets' interface.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/uSockets.h"

namespace egaiss::platform::socketdetail {

// A time-out in milliseconds, negative for none, as a point in time.
class TDeadline {
public:
    explicit TDeadline(int timeoutMs);
    // What is left, at least 0; -1 without a limit.
    int RemainingMs() const;

private:
    bool FUnlimited;
    std::chrono::steady_clock::time_point FAt;
};

// How one call on a non-blocking socket went.
enum class TStep {
    stDone,    // Bytes moved, or a connection was accepted
    stAgain,   // interrupted, or an error that is not about this call: call again at once
    stWait,    // it would block: wait until the socket is ready, then call again
    stFailed,  // ErrorCode says why
};

struct TAttempt {
    TStep Step = TStep::stDone;
    std::size_t Bytes = 0;
    int ErrorCode = 0;
};

enum class TSocketKind { skStream, skDatagram };
// What a wait is for, where the system tells the two apart.
enum class TReadiness { rdRead, rdWrite };

[[noreturn]] void RaiseSocketError(const std::string& what, int code);
TIoResult ClosedResult();
// A failed call's result: ioClosed once Close() was called, as that is what made it fail.
TIoResult Failure(const TSocketState& state, int code, std::size_t bytes = 0);

// --- per system ---

// Raises ETransportError when the system gives no socket.
TSocketStatePtr OpenSocket(TSocketKind kind);
bool WasClosed(const TSocketState& state) noexcept;
// Marks the state closed and wakes every wait on it; any thread.
void CloseSocket(TSocketState* state) noexcept;
// ioRefused, ioTimeout or ioError for the system's error code.
TIoStatus StatusOfError(int code);
// ioOk once the socket may be ready for another call.
TIoResult WaitFor(const TSocketState& state, TReadiness readiness, const TDeadline& deadline);

TIoResult ConnectSocket(const TSocketState& state, const TIPv4Endpoint& to, const TDeadline& deadline);
void SetNoDelay(const TSocketState& state);
void BindSocket(const TSocketState& state, const TIPv4Endpoint& at);  // raises ETransportError
// Binds and listens; raises ETransportError.
void ListenOn(const TSocketState& state, const TIPv4Endpoint& at, int backlog);
TIPv4Endpoint LocalEndpointOf(const TSocketState* state);
// The system resolver's first IPv4 address for a host name.
bool LookUpIPv4(const std::string& host, std::uint32_t& address);

TAttempt SendSome(const TSocketState& state, std::span<const std::uint8_t> data);
// Done with 0 bytes into a non-empty buffer: the stream has ended.
TAttempt ReceiveSome(const TSocketState& state, std::span<std::uint8_t> buffer);
TAttempt AcceptOne(const TSocketState& listener, TSocketStatePtr& accepted);
TAttempt SendDatagram(const TSocketState& state, const TIPv4Endpoint& to, std::span<const std::uint8_t> data);
TAttempt ReceiveDatagram(const TSocketState& state, std::span<std::uint8_t> buffer, TIPv4Endpoint& from);

}  // namespace egaiss::platform::socketdetail
