#include "support/uScriptedHttpPeer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <span>

namespace egaiss::test {
namespace {

using namespace platform;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool SendText(TTcpConnection& connection, const std::string& text) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    return connection.SendAll(std::span<const std::uint8_t>(data, text.size()), 5000).Ok();
}

// Appends what arrives until `buffer` holds at least `size` bytes; false when the stream ended.
bool ReceiveUntil(TTcpConnection& connection, std::string& buffer, std::size_t size) {
    std::uint8_t chunk[4096];
    while (buffer.size() < size) {
        const TIoResult got = connection.Receive(chunk, -1);
        if (!got.Ok()) return false;
        buffer.append(reinterpret_cast<const char*>(chunk), got.Bytes);
    }
    return true;
}

// Reads one request from `buffer` (filling it from the connection), leaving what follows it there.
bool ReadRequest(TTcpConnection& connection, std::string& buffer, TPeerRequest& request) {
    std::size_t headEnd = buffer.find("\r\n\r\n");
    while (headEnd == std::string::npos) {
        if (!ReceiveUntil(connection, buffer, buffer.size() + 1)) return false;
        headEnd = buffer.find("\r\n\r\n");
    }
    request.Head = buffer.substr(0, headEnd);
    buffer.erase(0, headEnd + 4);
    if (Lower(request.Header("Expect")) == "100-continue" &&
        !SendText(connection, "HTTP/1.1 100 Continue\r\n\r\n"))
        return false;
    const std::string length = request.Header("Content-Length");
    const std::size_t size = length.empty() ? 0 : std::stoul(length);
    if (!ReceiveUntil(connection, buffer, size)) return false;
    request.Body = buffer.substr(0, size);
    buffer.erase(0, size);
    return true;
}

}  // namespace

std::string TPeerRequest::Method() const {
    return Head.substr(0, Head.find(' '));
}

std::string TPeerRequest::Target() const {
    const std::size_t start = Head.find(' ') + 1;
    return Head.substr(start, Head.find(' ', start) - start);
}

std::string TPeerRequest::Header(const std::string& name) const {
    const std::string wanted = "\r\n" + Lower(name) + ":";
    const std::string lower = Lower(Head);
    const std::size_t at = lower.find(wanted);
    if (at == std::string::npos) return {};
    std::size_t start = at + wanted.size();
    while (start < Head.size() && Head[start] == ' ')
        ++start;
    return Head.substr(start, Head.find("\r\n", start) - start);
}

TPeerAnswer PeerReply(const std::string& status, const std::string& body,
                      const std::vector<std::string>& headers) {
    std::string bytes = "HTTP/1.1 " + status + "\r\n";
    for (const auto& header : headers)
        bytes += header + "\r\n";
    bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return {{{bytes}}};
}

TScriptedHttpPeer::TScriptedHttpPeer(TPeerScript script)
    : FScript(std::move(script)), FListener({IPv4Loopback, 0}) {
    FAcceptor = std::thread([this] { AcceptLoop(); });
}

TScriptedHttpPeer::~TScriptedHttpPeer() {
    {
        const std::lock_guard lock(FLock);
        FStopping = true;
        for (auto& connection : FConnections)
            connection->Close();
    }
    FWake.notify_all();
    FListener.Close();
    FAcceptor.join();
    for (auto& server : FServers)
        server.join();
}

std::string TScriptedHttpPeer::BaseURL() const {
    return "http://127.0.0.1:" + std::to_string(FListener.LocalEndpoint().Port);
}

std::vector<TPeerRequest> TScriptedHttpPeer::Requests() const {
    const std::lock_guard lock(FLock);
    return FRequests;
}

std::size_t TScriptedHttpPeer::ConnectionCount() const {
    const std::lock_guard lock(FLock);
    return FConnections.size();
}

void TScriptedHttpPeer::AcceptLoop() {
    for (;;) {
        auto connection = std::make_unique<TTcpConnection>();
        if (!FListener.Accept(*connection, -1).Ok()) return;
        const std::lock_guard lock(FLock);
        if (FStopping) return;
        TTcpConnection& served = *connection;
        FConnections.push_back(std::move(connection));
        FServers.emplace_back([this, &served] { Serve(served); });
    }
}

void TScriptedHttpPeer::Serve(TTcpConnection& connection) {
    std::string buffer;
    TPeerRequest request;
    while (ReadRequest(connection, buffer, request)) {
        {
            const std::lock_guard lock(FLock);
            FRequests.push_back(request);
        }
        const TPeerAnswer answer = FScript(request);
        for (const auto& step : answer.Steps) {
            if (!SendText(connection, step.Bytes) || !Pause(step.PauseAfter)) return;
        }
        if (answer.Close) {
            connection.Close();
            return;
        }
    }
}

bool TScriptedHttpPeer::Pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(FLock);
    return !FWake.wait_for(lock, duration, [this] { return FStopping.load(); });
}

}  // namespace egaiss::test
