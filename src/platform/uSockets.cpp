#include "platform/uSockets.h"

#include <utility>

#include "platform/uSocketsShared.h"

namespace egaiss::platform {

std::string TIPv4Endpoint::Text() const {
    return IPv4Text(Address) + ":" + std::to_string(Port);
}

bool ParseIPv4(std::string_view text, std::uint32_t& address) {
    std::uint32_t value = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        std::uint32_t number = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            number = number * 10 + static_cast<std::uint32_t>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || number > 255) return false;
        value = (value << 8) | number;
    }
    if (pos != text.size()) return false;
    address = value;
    return true;
}

bool IsHostNameText(std::string_view text) {
    if (!text.empty() && text.back() == '.') text.remove_suffix(1);  // fully qualified form
    if (text.empty() || text.size() > 253) return false;
    std::size_t label = 0;
    for (const char c : text) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        const bool allowed = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                             (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte >= 0x80;
        if (!allowed || ++label > 63) return false;
    }
    return label > 0;
}

std::string IPv4Text(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string TIoResult::Text() const {
    switch (Status) {
        case TIoStatus::ioOk:
            return "ok";
        case TIoStatus::ioTimeout:
            return "timed out";
        case TIoStatus::ioRefused:
            return "connection refused";
        case TIoStatus::ioEndOfStream:
            return "connection closed by peer";
        case TIoStatus::ioClosed:
            return "socket closed";
        case TIoStatus::ioError:
            break;
    }
    return SocketErrorText(ErrorCode);
}

bool ResolveIPv4(const std::string& host, std::uint32_t& address) {
    if (ParseIPv4(host, address)) return true;
    return IsHostNameText(host) && socketdetail::LookUpIPv4(host, address);
}

using namespace socketdetail;

namespace {

// Calls `attempt` until it is done or fails, waiting for the socket whenever it would block, until
// the deadline passes or Close() is called.
template <class TCall>
TIoResult Repeat(const TSocketState& state, TReadiness readiness, const TDeadline& deadline, TCall attempt) {
    for (;;) {
        if (WasClosed(state)) return ClosedResult();
        const TAttempt done = attempt();
        if (done.Step == TStep::stDone) return {TIoStatus::ioOk, done.Bytes, 0};
        if (done.Step == TStep::stFailed) return Failure(state, done.ErrorCode);
        if (done.Step == TStep::stAgain) continue;
        const TIoResult waited = WaitFor(state, readiness, deadline);
        if (!waited.Ok()) return waited;
    }
}

}  // namespace

// --- TCP connection ---

TTcpConnection::TTcpConnection() noexcept = default;
TTcpConnection::~TTcpConnection() = default;
TTcpConnection::TTcpConnection(TTcpConnection&& other) noexcept = default;
TTcpConnection& TTcpConnection::operator=(TTcpConnection&& other) noexcept = default;

TIoResult TTcpConnection::Connect(const TIPv4Endpoint& to, int timeoutMs) {
    FState.reset();
    TSocketStatePtr state = OpenSocket(TSocketKind::skStream);
    const TIoResult result = ConnectSocket(*state, to, TDeadline(timeoutMs));
    if (result.Ok()) {
        SetNoDelay(*state);
        FState = std::move(state);
    }
    return result;
}

TIoResult TTcpConnection::SendAll(std::span<const std::uint8_t> data, int timeoutMs) {
    if (!FState) return ClosedResult();
    const TDeadline deadline(timeoutMs);
    std::size_t sent = 0;
    while (sent < data.size()) {
        const TIoResult chunk = Repeat(*FState, TReadiness::rdWrite, deadline,
                                       [&] { return SendSome(*FState, data.subspan(sent)); });
        if (!chunk.Ok()) return {chunk.Status, sent, chunk.ErrorCode};
        sent += chunk.Bytes;
    }
    return {TIoStatus::ioOk, sent, 0};
}

TIoResult TTcpConnection::Receive(std::span<std::uint8_t> buffer, int timeoutMs) {
    if (!FState) return ClosedResult();
    const TIoResult result = Repeat(*FState, TReadiness::rdRead, TDeadline(timeoutMs),
                                    [&] { return ReceiveSome(*FState, buffer); });
    // Nothing for a buffer with room: the peer closed its side, or Close() shut ours down.
    if (result.Ok() && result.Bytes == 0 && !buffer.empty()) {
        return WasClosed(*FState) ? ClosedResult() : TIoResult{TIoStatus::ioEndOfStream, 0, 0};
    }
    return result;
}

void TTcpConnection::Close() noexcept {
    CloseSocket(FState.get());
}

// --- TCP listener ---

TTcpListener::TTcpListener(const TIPv4Endpoint& at, int backlog) : FState(OpenSocket(TSocketKind::skStream)) {
    ListenOn(*FState, at, backlog);
}

TTcpListener::~TTcpListener() = default;

TIPv4Endpoint TTcpListener::LocalEndpoint() const {
    return LocalEndpointOf(FState.get());
}

TIoResult TTcpListener::Accept(TTcpConnection& connection, int timeoutMs) {
    TSocketStatePtr accepted;
    const TIoResult result = Repeat(*FState, TReadiness::rdRead, TDeadline(timeoutMs),
                                    [&] { return AcceptOne(*FState, accepted); });
    if (result.Ok()) {
        connection.FState = std::move(accepted);
        SetNoDelay(*connection.FState);
    }
    return result;
}

void TTcpListener::Close() noexcept {
    CloseSocket(FState.get());
}

// --- UDP ---

TUdpSocket::TUdpSocket() : FState(OpenSocket(TSocketKind::skDatagram)) {}

TUdpSocket::~TUdpSocket() = default;

void TUdpSocket::Bind(const TIPv4Endpoint& at) {
    BindSocket(*FState, at);
}

TIPv4Endpoint TUdpSocket::LocalEndpoint() const {
    return LocalEndpointOf(FState.get());
}

TIoResult TUdpSocket::SendTo(const TIPv4Endpoint& to, std::span<const std::uint8_t> data) {
    // A full send buffer drains within moments; a datagram is not worth a longer wait.
    constexpr int SendWaitMs = 1000;
    return Repeat(*FState, TReadiness::rdWrite, TDeadline(SendWaitMs),
                  [&] { return SendDatagram(*FState, to, data); });
}

TIoResult TUdpSocket::ReceiveFrom(std::span<std::uint8_t> buffer, int timeoutMs, TIPv4Endpoint& from) {
    TIPv4Endpoint sender;
    const TIoResult result = Repeat(*FState, TReadiness::rdRead, TDeadline(timeoutMs),
                                    [&] { return ReceiveDatagram(*FState, buffer, sender); });
    if (!result.Ok()) return result;
    // Close() may end a pending receive with an empty datagram.
    if (WasClosed(*FState)) return ClosedResult();
    from = sender;
    return result;
}

void TUdpSocket::Close() noexcept {
    CloseSocket(FState.get());
}

bool TUdpSocket::IsClosed() const noexcept {
    return WasClosed(*FState);
}

}  // namespace egaiss::platform
