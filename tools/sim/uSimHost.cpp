#include "uSimHost.h"

#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <stdexcept>

namespace egaiss::sim {

namespace {

constexpr std::size_t kHistoryLimit = 1000;
constexpr std::size_t kWorkerThreads = 16;  // room for control requests while delayed ones wait

std::string ClockText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

bool IsControl(const httplib::Request& req) {
    return req.path.rfind("/sim/", 0) == 0;
}

}  // namespace

void TSimReply::Text(int status, std::string body) {
    Status = status;
    Body = std::move(body);
    ContentType = "text/plain; charset=utf-8";
}

void TSimReply::Xml(int status, std::string body) {
    Status = status;
    Body = std::move(body);
    ContentType = "application/xml; charset=utf-8";
}

void TSimReply::Json(int status, std::string body) {
    Status = status;
    Body = std::move(body);
    ContentType = "application/json; charset=utf-8";
}

void TSimReply::JsonError(int status, std::string_view message) {
    Json(status, ErrorJson(message));
}

std::string RawQuery(const httplib::Request& req) {
    const auto mark = req.target.find('?');
    return mark == std::string::npos ? std::string() : req.target.substr(mark + 1);
}

std::optional<std::string> QueryParam(const httplib::Request& req, const std::string& name) {
    httplib::Params params;
    httplib::detail::parse_query_text(RawQuery(req), params);
    const auto it = params.find(name);
    if (it == params.end()) return std::nullopt;
    return it->second;
}

std::string LogTarget(const httplib::Request& req) {
    const std::string query = RawQuery(req);
    return query.empty() ? req.path : req.path + "?" + httplib::detail::decode_url(query, true);
}

void PrintLine(const std::string& line) {
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintEvent(const char* role, const std::string& text) {
    PrintLine(ClockText() + " " + role + " " + text);
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TSimHost::TSimHost(TSimService& service, const TFaultSettings& faults, std::uint64_t seed)
    : FService(service), FFaults(faults, seed) {
    FServer.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // httplib's default also sets SO_REUSEPORT, which would let a second simulator share a busy port.
    FServer.set_socket_options([](socket_t sock) {
        const int on = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    FServer.set_tcp_nodelay(true);  // answers must not wait for the client's delayed acknowledgement
    FServer.set_keep_alive_timeout(2);
    FServer.set_payload_max_length(std::size_t{64} * 1024 * 1024);
    const auto handler = [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); };
    FServer.Get(".*", handler);
    FServer.Post(".*", handler);
    FServer.Put(".*", handler);
    FServer.Patch(".*", handler);
    FServer.Delete(".*", handler);
}

TSimHost::~TSimHost() {
    Stop();
}

int TSimHost::Bind(int port) {
    if (port == 0) {
        FPort = FServer.bind_to_any_port(kLoopbackHost);
        if (FPort <= 0) throw std::runtime_error("cannot bind 127.0.0.1 on any port");
    } else {
        if (!FServer.bind_to_port(kLoopbackHost, port)) {
            throw std::runtime_error("cannot bind 127.0.0.1:" + std::to_string(port) +
                                     " (in use or not permitted)");
        }
        FPort = port;
    }
    FService.Bound(FPort);
    return FPort;
}

void TSimHost::Start(std::function<void()> on_failure) {
    FService.Start();
    FThread = std::thread([this, on_failure = std::move(on_failure)] {
        FServer.listen_after_bind();
        if (!FStopping && on_failure) on_failure();
    });
}

void TSimHost::Stop() {
    if (FStopping.exchange(true)) return;
    // stop() only reaches a server that has begun listening.
    for (int i = 0; i < 200 && FThread.joinable() && !FServer.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    { std::lock_guard lock(FPauseLock); }
    FPauseWake.notify_all();
    FService.Stop();
    FServer.stop();
    if (FThread.joinable()) FThread.join();
}

bool TSimHost::Pause(int ms) {
    std::unique_lock lock(FPauseLock);
    return !FPauseWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FStopping.load(); });
}

void TSimHost::Remember(THistoryEntry entry) {
    std::lock_guard lock(FHistoryLock);
    ++FRequestCount;
    FHistory.push_back(std::move(entry));
    while (FHistory.size() > kHistoryLimit)
        FHistory.pop_front();
}

void TSimHost::Serve(const httplib::Request& req, httplib::Response& res) {
    const auto started = std::chrono::steady_clock::now();
    const std::string target = LogTarget(req);
    const bool control = IsControl(req);
    TSimReply reply;
    std::string fault;
    std::string extra;
    bool gzip = false;
    bool answered = true;

    try {
        if (control) {
            if (!ServeCommonControl(req, reply) && !FService.HandleControl(req, reply)) {
                reply.JsonError(404, "unknown control route " + req.method + " " + req.path);
            }
        } else {
            const TFaultDecision decision = FFaults.Decide(target);
            if (decision.DelayMs > 0 && !decision.Reset) {
                extra += " delay=" + std::to_string(decision.DelayMs) + "ms";
                Pause(decision.DelayMs);
            }
            if (decision.Reset || decision.Drop) {
                fault = decision.Reset ? "reset" : "drop";
                answered = false;
            } else if (decision.Fail) {
                fault = "fail";
                FService.FailureReply(decision.FailStatus, reply);
            } else {
                FService.Handle(req, reply);
            }
            gzip = decision.Gzip && answered;
        }
    } catch (const std::exception& error) {
        reply.Text(500, std::string("simulator error: ") + error.what() + "\n");
        reply.Note = "exception";
    }

    std::int64_t bytes = 0;
    if (answered) {
        for (const auto& [name, value] : reply.Headers)
            res.set_header(name, value);
        res.status = reply.Status;
        if (gzip && !reply.Body.empty()) {
            reply.Body = GzipText(reply.Body);
            res.set_header("Content-Encoding", "gzip");
            extra += " gzip";
        }
        bytes = static_cast<std::int64_t>(reply.Body.size());
        // httplib compresses plain bodies by itself for clients that accept gzip; a provider with a
        // known length it leaves alone, so the encoding is the fault settings' choice only.
        auto body = std::make_shared<std::string>(std::move(reply.Body));
        res.set_content_provider(body->size(), reply.ContentType,
                                 [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     sink.write(body->data() + offset, length);
                                     return true;
                                 });
    } else {
        res.status = 500;
    }

    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    const std::string outcome =
        answered ? std::to_string(reply.Status) : (fault == "reset" ? "RESET" : "DROP");
    std::string line = ClockText() + " " + Role() + " " + req.method + " " + target + " -> " + outcome + " " +
                       std::to_string(bytes) + "B " + std::to_string(elapsed) + "ms" + extra;
    if (fault == "fail") line += " fail";
    if (!reply.Note.empty()) line += " - " + reply.Note;
    PrintLine(line);

    // Recorded before the cut, so that a client seeing the cut also finds it in /sim/state.
    if (!control) {
        Remember({NowMs(), req.method, target, answered ? reply.Status : 0, fault, bytes});
    }
    if (!answered && !CutConnection(req, fault == "reset" ? TCutKind::ckReset : TCutKind::ckClose)) {
        res.status = 503;
        res.set_content("connection could not be cut\n", "text/plain; charset=utf-8");
        PrintLine(ClockText() + " " + Role() + " could not cut the connection; answered 503");
    }
}

bool TSimHost::ServeCommonControl(const httplib::Request& req, TSimReply& reply) {
    if (req.path == "/sim/state" && req.method == "GET") {
        WriteState(reply);
        return true;
    }
    if (req.path == "/sim/faults" && (req.method == "GET" || req.method == "POST")) {
        if (req.method == "POST") {
            rapidjson::Document patch;
            std::string error;
            if (!ParseJsonObject(req.body, patch)) {
                reply.JsonError(400, "expected a JSON object");
                return true;
            }
            if (!FFaults.Apply(patch, error)) {
                reply.JsonError(400, error);
                return true;
            }
        }
        rapidjson::StringBuffer buffer;
        TJsonWriter writer(buffer);
        WriteFaults(writer, FFaults.Settings());
        reply.Json(200, buffer.GetString());
        return true;
    }
    if (req.path == "/sim/reset" && req.method == "POST") {
        FService.Reset();
        {
            std::lock_guard lock(FHistoryLock);
            FHistory.clear();
            FRequestCount = 0;
        }
        reply.Json(200, "{\"reset\":true}");
        return true;
    }
    return false;
}

void TSimHost::WriteState(TSimReply& reply) {
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    WriteMember(writer, "role", Role());
    WriteMember(writer, "port", FPort);
    writer.Key("faults");
    WriteFaults(writer, FFaults.Settings());
    {
        std::lock_guard lock(FHistoryLock);
        WriteMember(writer, "request_count", FRequestCount);
        WriteObjectArray(writer, "requests", FHistory, [&](const THistoryEntry& entry) {
            WriteMember(writer, "at_ms", entry.AtMs);
            WriteMember(writer, "method", entry.Method);
            WriteMember(writer, "target", entry.Target);
            WriteMember(writer, "status", entry.Status);
            WriteMember(writer, "fault", entry.Fault);
            WriteMember(writer, "bytes", entry.Bytes);
        });
    }
    FService.WriteState(writer);
    writer.EndObject();
    reply.Json(200, buffer.GetString());
}

}  // namespace egaiss::sim
