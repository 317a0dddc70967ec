#pragma once
// An HTTP peer for the client's contract tests on every system, built on the project's own sockets
// (cpp-httplib exists for Linux only): it reads each request as raw bytes and answers with exactly
// the bytes a test scripted, so pauses, truncation and odd answers are exact.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/uSockets.h"

namespace egaiss::test {

struct TPeerRequest {
    std::string Head;  // request line and header lines, up to the blank line
    std::string Body;  // the Content-Length bytes after it

    std::string Method() const;
    std::string Target() const;
    // The first header of that name (any case), or empty.
    std::string Header(const std::string& name) const;
};

struct TPeerStep {
    std::string Bytes;
    std::chrono::milliseconds PauseAfter{0};
};

struct TPeerAnswer {
    std::vector<TPeerStep> Steps;
    bool Close = false;  // close the connection after the steps
};

using TPeerScript = std::function<TPeerAnswer(const TPeerRequest& request)>;

// "HTTP/1.1 <status>" with the headers, Content-Length and the body, as one step.
TPeerAnswer PeerReply(const std::string& status, const std::string& body,
                      const std::vector<std::string>& headers = {});

// Listens on 127.0.0.1 with a port of the system's choosing; every connection is served on a thread
// of its own until the peer is destroyed, which also cuts pauses short.
class TScriptedHttpPeer {
public:
    explicit TScriptedHttpPeer(TPeerScript script);
    ~TScriptedHttpPeer();
    TScriptedHttpPeer(const TScriptedHttpPeer&) = delete;
    TScriptedHttpPeer& operator=(const TScriptedHttpPeer&) = delete;

    std::string BaseURL() const;  // "http://127.0.0.1:<port>"
    std::vector<TPeerRequest> Requests() const;
    std::size_t ConnectionCount() const;

private:
    void AcceptLoop();
    void Serve(platform::TTcpConnection& connection);
    bool Pause(std::chrono::milliseconds duration);

    TPeerScript FScript;
    platform::TTcpListener FListener;
    std::atomic<bool> FStopping{false};
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::vector<TPeerRequest> FRequests;
    std::vector<std::unique_ptr<platform::TTcpConnection>> FConnections;
    std::vector<std::thread> FServers;
    std::thread FAcceptor;
};

}  // namespace egaiss::test
