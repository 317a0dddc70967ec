#pragma once
// One simulated peer on 127.0.0.1: an httplib server whose every request passes through the fault
// injector, leaves one line on stdout and, unless it is a control request under /sim/, an entry in
// the request history that /sim/state reports.
#include "uSimFaults.h"
#include "uSimJson.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace egaiss::sim {

// The only address the simulators listen on.
inline constexpr const char* kLoopbackHost = "127.0.0.1";

struct TSimReply {
    int Status = 200;
    std::string Body;
    std::string ContentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Note;  // appended to the request's log line

    void Text(int status, std::string body);
    void Xml(int status, std::string body);
    void Json(int status, std::string body);
    void JsonError(int status, std::string_view message);
};

// The behaviour of one simulated peer. Implementations keep their state thread-safe: the host calls
// them from httplib's worker threads.
class TSimService {
public:
    virtual ~TSimService() = default;
    virtual const char* Role() const = 0;
    // The port is known: called once after binding, before the first request.
    virtual void Bound(int port) = 0;
    virtual void Handle(const httplib::Request& req, TSimReply& reply) = 0;
    // Control routes under /sim/ other than state, faults and reset; false when the route is unknown.
    virtual bool HandleControl(const httplib::Request& req, TSimReply& reply) = 0;
    // The answer of a request that the fault injector fails.
    virtual void FailureReply(int status, TSimReply& reply) const = 0;
    // Writes the peer's own members into the open /sim/state object.
    virtual void WriteState(TJsonWriter& writer) = 0;
    virtual void Reset() = 0;
    virtual void Start() {}
    virtual void Stop() {}
};

class TSimHost {
public:
    TSimHost(TSimService& service, const TFaultSettings& faults, std::uint64_t seed);
    ~TSimHost();
    TSimHost(const TSimHost&) = delete;
    TSimHost& operator=(const TSimHost&) = delete;

    // Binds 127.0.0.1 on `port` (0: one of the system's choosing) and returns the port bound;
    // throws std::runtime_error when the port cannot be had.
    int Bind(int port);
    // Serves on a thread of its own; `on_failure` runs there when serving ends without Stop.
    void Start(std::function<void()> on_failure);
    // Ends serving: pending delays are cut short, running requests finish, the thread is joined.
    void Stop();

    int Port() const { return FPort; }
    const char* Role() const { return FService.Role(); }

private:
    struct THistoryEntry {
        std::int64_t AtMs = 0;
        std::string Method;
        std::string Target;
        int Status = 0;
        std::string Fault;
        std::int64_t Bytes = 0;
    };

    void Serve(const httplib::Request& req, httplib::Response& res);
    bool ServeCommonControl(const httplib::Request& req, TSimReply& reply);
    void WriteState(TSimReply& reply);
    bool Pause(int ms);  // false when Stop interrupted the pause
    void Remember(THistoryEntry entry);

    TSimService& FService;
    TFaultInjector FFaults;
    httplib::Server FServer;
    std::thread FThread;
    int FPort = 0;
    std::atomic<bool> FStopping{false};
    std::mutex FPauseLock;
    std::condition_variable FPauseWake;
    mutable std::mutex FHistoryLock;
    std::deque<THistoryEntry> FHistory;
    std::int64_t FRequestCount = 0;
};

// The request as the log shows it: the path and the decoded query.
std::string LogTarget(const httplib::Request& req);

// A parameter of the query string alone (httplib also files form bodies under the parameters).
std::optional<std::string> QueryParam(const httplib::Request& req, const std::string& name);

// Writes one line to stdout and flushes it; lines of concurrent requests never interleave.
void PrintLine(const std::string& line);

// A log line about something that happened outside a request, such as a document that arrived.
void PrintEvent(const char* role, const std::string& text);

// Milliseconds since the Unix epoch.
std::int64_t NowMs();

}  // namespace egaiss::sim
