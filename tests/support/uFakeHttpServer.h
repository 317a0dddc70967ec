#pragma once
// An in-process HTTP peer for tests and benchmarks: cpp-httplib on 127.0.0.1 with a port of the
// system's choosing, recording every handled request with its headers in the order they arrived
// (httplib itself keeps them sorted) and counting the connections it accepted.
#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace egaiss::test {

struct TFakeRequest {
    std::string Method;
    std::string Target;  // as in the request line, query included, not decoded
    std::string Path;    // decoded, without the query
    std::vector<std::pair<std::string, std::string>> Headers;  // in the order received
    std::string Body;
    std::vector<httplib::MultipartFormData> Files;
    httplib::Params Params;  // decoded query parameters

    // The first header of that name (any case), or empty.
    std::string Header(const std::string& name) const;
    // Names of the headers in the order received.
    std::vector<std::string> HeaderNames() const;
    std::string Param(const std::string& name) const;
};

using TFakeHandler = std::function<void(const TFakeRequest& request, httplib::Response& response)>;

class TFakeHttpServer {
public:
    TFakeHttpServer();
    ~TFakeHttpServer();
    TFakeHttpServer(const TFakeHttpServer&) = delete;
    TFakeHttpServer& operator=(const TFakeHttpServer&) = delete;

    // Handlers are registered before Start; `pattern` is httplib's (a regular expression over the
    // decoded path).
    void Get(const std::string& pattern, TFakeHandler handler);
    void Post(const std::string& pattern, TFakeHandler handler);
    void Delete(const std::string& pattern, TFakeHandler handler);

    // Binds `host` (a loopback address) on a free port and serves on a thread of its own until Stop or
    // destruction.
    void Start(const std::string& host = "127.0.0.1");
    void Stop();

    int Port() const { return FPort; }
    // "http://<host>:<port>"
    std::string BaseURL() const;

    std::vector<TFakeRequest> Requests() const;
    TFakeRequest LastRequest() const;
    std::size_t RequestCount() const;
    std::size_t ConnectionCount() const { return FConnections.load(); }

private:
    class TServer;
    httplib::Server::Handler Wrap(TFakeHandler handler);

    std::unique_ptr<TServer> FServer;
    std::thread FThread;
    std::string FHost;
    int FPort = 0;
    std::atomic<std::size_t> FConnections{0};
    std::atomic<bool> FListenEnded{false};
    mutable std::mutex FLock;
    std::vector<TFakeRequest> FRequests;
};

// A loopback port on which nothing listens right now (connections to it are refused).
int RefusedLoopbackPort();

}  // namespace egaiss::test
