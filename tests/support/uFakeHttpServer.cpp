#include "support/uFakeHttpServer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace egaiss::test {
namespace {

#ifdef _WIN32
int PollSocket(socket_t sock, short events, int timeoutMs) {
    WSAPOLLFD entry{sock, events, 0};
    return ::WSAPoll(&entry, 1, timeoutMs);
}
void CloseSocket(socket_t sock) {
    ::shutdown(sock, SD_BOTH);
    ::closesocket(sock);
}
constexpr int SendFlags = 0;
#else
int PollSocket(socket_t sock, short events, int timeoutMs) {
    pollfd entry{sock, events, 0};
    return ::poll(&entry, 1, timeoutMs);
}
void CloseSocket(socket_t sock) {
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}
constexpr int SendFlags = MSG_NOSIGNAL;
#endif

constexpr int ReadTimeoutMs = 5000;

// A socket stream that remembers the bytes handed to the parser since the last request began,
// so that the header block can be read again in its original order.
class TRecordingStream : public httplib::Stream {
public:
    explicit TRecordingStream(socket_t sock) : FSock(sock) {}

    bool is_readable() const override {
        return FPos < FBuffer.size() || PollSocket(FSock, POLLIN, ReadTimeoutMs) > 0;
    }
    bool is_writable() const override { return PollSocket(FSock, POLLOUT, ReadTimeoutMs) > 0; }

    ssize_t read(char* ptr, size_t size) override {
        if (FPos >= FBuffer.size()) {
            if (PollSocket(FSock, POLLIN, ReadTimeoutMs) <= 0) return -1;
            char chunk[16384];
            const auto got = ::recv(FSock, chunk, static_cast<int>(sizeof chunk), 0);
            if (got <= 0) return got;
            FBuffer.assign(chunk, static_cast<std::size_t>(got));
            FPos = 0;
        }
        const std::size_t count = std::min(size, FBuffer.size() - FPos);
        std::memcpy(ptr, FBuffer.data() + FPos, count);
        FConsumed.append(ptr, count);
        FPos += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        std::size_t sent = 0;
        while (sent < size) {
            const auto put = ::send(FSock, ptr + sent, static_cast<int>(size - sent), SendFlags);
            if (put <= 0) return -1;
            sent += static_cast<std::size_t>(put);
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(FSock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            Describe(address, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(FSock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            Describe(address, ip, port);
    }
    socket_t socket() const override { return FSock; }

    bool HasBuffered() const { return FPos < FBuffer.size(); }
    const std::string& Consumed() const { return FConsumed; }
    void ClearConsumed() { FConsumed.clear(); }

private:
    static void Describe(const sockaddr_storage& address, std::string& ip, int& port) {
        if (address.ss_family != AF_INET) return;
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        ip = text;
        port = ntohs(v4.sin_port);
    }

    socket_t FSock;
    std::string FBuffer;
    std::size_t FPos = 0;
    std::string FConsumed;
};

thread_local TRecordingStream* CurrentStream = nullptr;

bool SameTextAscii(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// Header lines of the request the current stream is reading, in the order they arrived.
std::vector<std::pair<std::string, std::string>> CurrentHeaders() {
    std::vector<std::pair<std::string, std::string>> headers;
    if (CurrentStream == nullptr) return headers;
    const std::string& raw = CurrentStream->Consumed();
    const std::size_t end = raw.find("\r\n\r\n");
    std::size_t pos = raw.find("\r\n");
    while (pos != std::string::npos && pos < end) {
        const std::size_t start = pos + 2;
        const std::size_t next = raw.find("\r\n", start);
        const std::string line = raw.substr(start, next - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::size_t value = colon + 1;
            while (value < line.size() && (line[value] == ' ' || line[value] == '\t'))
                ++value;
            headers.emplace_back(line.substr(0, colon), line.substr(value));
        }
        pos = next;
    }
    return headers;
}

}  // namespace

class TFakeHttpServer::TServer : public httplib::Server {
public:
    explicit TServer(std::atomic<std::size_t>& connections) : FConnections(connections) {}

private:
    // Same keep-alive loop as httplib's own, over a stream that records what it reads.
    bool process_and_close_socket(socket_t sock) override {
        ++FConnections;
        // Without it a response written in two pieces waits for the peer's delayed ACK.
        const int noDelay = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
        bool ok = false;
        {
            TRecordingStream stream(sock);
            for (std::size_t left = keep_alive_max_count_; left > 0 && WaitForRequest(stream); --left) {
                bool closed = false;
                CurrentStream = &stream;
                ok = process_request(stream, left == 1, closed, nullptr);
                CurrentStream = nullptr;
                stream.ClearConsumed();
                if (!ok || closed) break;
            }
        }
        CloseSocket(sock);
        return ok;
    }

    bool WaitForRequest(const TRecordingStream& stream) const {
        if (stream.HasBuffered()) return true;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
        while (svr_sock_ != INVALID_SOCKET && std::chrono::steady_clock::now() < deadline) {
            const int ready = PollSocket(stream.socket(), POLLIN, 50);
            if (ready != 0) return ready > 0;
        }
        return false;
    }

    std::atomic<std::size_t>& FConnections;
};

std::string TFakeRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : Headers) {
        if (SameTextAscii(key, name)) return value;
    }
    return {};
}

std::vector<std::string> TFakeRequest::HeaderNames() const {
    std::vector<std::string> names;
    names.reserve(Headers.size());
    for (const auto& header : Headers)
        names.push_back(header.first);
    return names;
}

std::string TFakeRequest::Param(const std::string& name) const {
    const auto found = Params.find(name);
    return found == Params.end() ? std::string() : found->second;
}

TFakeHttpServer::TFakeHttpServer() : FServer(std::make_unique<TServer>(FConnections)) {
    // httplib closes a connection after 5 requests by default, which would hide connection reuse.
    FServer->set_keep_alive_max_count(100000);
}

TFakeHttpServer::~TFakeHttpServer() {
    Stop();
}

httplib::Server::Handler TFakeHttpServer::Wrap(TFakeHandler handler) {
    return [this, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
        TFakeRequest request;
        request.Method = req.method;
        request.Target = req.target;
        request.Path = req.path;
        request.Headers = CurrentHeaders();
        request.Body = req.body;
        request.Params = req.params;
        for (const auto& [name, file] : req.files)
            request.Files.push_back(file);
        {
            const std::lock_guard<std::mutex> guard(FLock);
            FRequests.push_back(request);
        }
        handler(request, res);
    };
}

void TFakeHttpServer::Get(const std::string& pattern, TFakeHandler handler) {
    FServer->Get(pattern, Wrap(std::move(handler)));
}

void TFakeHttpServer::Post(const std::string& pattern, TFakeHandler handler) {
    FServer->Post(pattern, Wrap(std::move(handler)));
}

void TFakeHttpServer::Delete(const std::string& pattern, TFakeHandler handler) {
    FServer->Delete(pattern, Wrap(std::move(handler)));
}

void TFakeHttpServer::Start(const std::string& host) {
    FHost = host;
    FPort = FServer->bind_to_any_port(host);
    if (FPort <= 0) throw std::runtime_error("fake HTTP server: cannot bind " + host);
    FThread = std::thread([this] {
        FServer->listen_after_bind();
        FListenEnded = true;
    });
    // stop() is a no-op until the loop runs, so Stop right after Start would otherwise hang.
    while (!FServer->is_running() && !FListenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TFakeHttpServer::Stop() {
    if (!FThread.joinable()) return;
    FServer->stop();
    FThread.join();
}

std::string TFakeHttpServer::BaseURL() const {
    return "http://" + FHost + ":" + std::to_string(FPort);
}

std::vector<TFakeRequest> TFakeHttpServer::Requests() const {
    const std::lock_guard<std::mutex> guard(FLock);
    return FRequests;
}

TFakeRequest TFakeHttpServer::LastRequest() const {
    const std::lock_guard<std::mutex> guard(FLock);
    if (FRequests.empty()) throw std::runtime_error("fake HTTP server: no request received");
    return FRequests.back();
}

std::size_t TFakeHttpServer::RequestCount() const {
    const std::lock_guard<std::mutex> guard(FLock);
    return FRequests.size();
}

int RefusedLoopbackPort() {
    // Bound but never listening: the port stays ours while we read it, then is closed again.
    const socket_t sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock == INVALID_SOCKET) throw std::runtime_error("cannot create a socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool ok = ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    CloseSocket(sock);
    if (!ok) throw std::runtime_error("cannot bind a loopback port");
    return ntohs(address.sin_port);
}

}  // namespace egaiss::test
