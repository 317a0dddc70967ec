#include "uSimFaults.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace egaiss::sim {

TFaultInjector::TFaultInjector(const TFaultSettings& settings, std::uint64_t seed)
    : FSettings(settings), FRandom(seed) {}

TFaultDecision TFaultInjector::Decide(std::string_view target) {
    std::lock_guard lock(FLock);
    TFaultDecision decision;
    if (!FSettings.Match.empty() && target.find(FSettings.Match) == std::string_view::npos) return decision;
    decision.Gzip = FSettings.Gzip;
    decision.DelayMs = FSettings.DelayMs;
    decision.FailStatus = FSettings.FailStatus;
    if (FSettings.Down) {
        decision.Reset = true;
        return decision;
    }
    if (FSettings.DropNext > 0) {
        --FSettings.DropNext;
        decision.Drop = true;
    } else if (FSettings.DropRate > 0.0 && FShare(FRandom) < FSettings.DropRate) {
        decision.Drop = true;
    }
    if (decision.Drop) return decision;
    if (FSettings.FailNext > 0) {
        --FSettings.FailNext;
        decision.Fail = true;
    } else if (FSettings.FailRate > 0.0 && FShare(FRandom) < FSettings.FailRate) {
        decision.Fail = true;
    }
    return decision;
}

TFaultSettings TFaultInjector::Settings() const {
    std::lock_guard lock(FLock);
    return FSettings;
}

namespace {

bool ReadShare(const rapidjson::Value& patch, const char* key, double& out, std::string& error) {
    if (!patch.HasMember(key)) return true;
    const auto value = JsonNumber(patch, key);
    if (!value) {
        error = std::string("\"") + key + "\" must be a number";
        return false;
    }
    out = *value;
    return true;
}

bool ReadInt(const rapidjson::Value& patch, const char* key, int& out, std::string& error) {
    if (!patch.HasMember(key)) return true;
    const auto value = JsonInt(patch, key);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        error = std::string("\"") + key + "\" must be an integer";
        return false;
    }
    out = static_cast<int>(*value);
    return true;
}

bool ReadBool(const rapidjson::Value& patch, const char* key, bool& out, std::string& error) {
    if (!patch.HasMember(key)) return true;
    const auto value = JsonBool(patch, key);
    if (!value) {
        error = std::string("\"") + key + "\" must be true or false";
        return false;
    }
    out = *value;
    return true;
}

}  // namespace

bool TFaultInjector::Apply(const rapidjson::Value& patch, std::string& error) {
    if (!patch.IsObject()) {
        error = "expected a JSON object";
        return false;
    }
    std::lock_guard lock(FLock);
    TFaultSettings next = FSettings;
    if (!ReadShare(patch, "fail_rate", next.FailRate, error) ||
        !ReadInt(patch, "fail_status", next.FailStatus, error) ||
        !ReadInt(patch, "fail_next", next.FailNext, error) ||
        !ReadShare(patch, "drop_rate", next.DropRate, error) ||
        !ReadInt(patch, "drop_next", next.DropNext, error) ||
        !ReadInt(patch, "delay_ms", next.DelayMs, error) || !ReadBool(patch, "gzip", next.Gzip, error) ||
        !ReadBool(patch, "down", next.Down, error)) {
        return false;
    }
    if (patch.HasMember("match")) {
        if (!patch["match"].IsString()) {
            error = "\"match\" must be a string";
            return false;
        }
        next.Match = patch["match"].GetString();
    }
    if (!ValidateFaults(next, error)) return false;
    FSettings = next;
    return true;
}

bool ValidateFaults(const TFaultSettings& settings, std::string& error) {
    if (settings.FailRate < 0.0 || settings.FailRate > 1.0 || settings.DropRate < 0.0 ||
        settings.DropRate > 1.0) {
        error = "rates must lie between 0 and 1";
        return false;
    }
    if (settings.FailStatus < 400 || settings.FailStatus > 599) {
        error = "fail status must lie between 400 and 599";
        return false;
    }
    if (settings.FailNext < 0 || settings.DropNext < 0 || settings.DelayMs < 0) {
        error = "counts and delay must not be negative";
        return false;
    }
    return true;
}

void WriteFaults(TJsonWriter& writer, const TFaultSettings& settings) {
    writer.StartObject();
    WriteMember(writer, "fail_rate", settings.FailRate);
    WriteMember(writer, "fail_status", settings.FailStatus);
    WriteMember(writer, "fail_next", settings.FailNext);
    WriteMember(writer, "drop_rate", settings.DropRate);
    WriteMember(writer, "drop_next", settings.DropNext);
    WriteMember(writer, "delay_ms", settings.DelayMs);
    WriteMember(writer, "gzip", settings.Gzip);
    WriteMember(writer, "down", settings.Down);
    WriteMember(writer, "match", settings.Match);
    writer.EndObject();
}

std::string GzipText(std::string_view data) {
    z_stream stream{};
    // 15 window bits plus 16 selects the gzip wrapper instead of zlib's.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    const std::unique_ptr<z_stream, decltype(&deflateEnd)> guard(&stream, deflateEnd);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate failed");
    out.resize(stream.total_out);
    return out;
}

namespace {

bool SameEndpoint(const sockaddr_storage& address, const std::string& ip, int port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        return ntohs(v4.sin_port) == port && ip == text;
    }
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return ntohs(v6.sin6_port) == port && ip == text;
    }
    return false;
}

int FindConnection(const httplib::Request& req) {
    rlimit limit{};
    int highest = 4096;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        highest = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
    }
    for (int fd = 3; fd < highest; ++fd) {
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) continue;
        if (!SameEndpoint(local, req.local_addr, req.local_port)) continue;
        sockaddr_storage peer{};
        length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
        if (SameEndpoint(peer, req.remote_addr, req.remote_port)) return fd;
    }
    return -1;
}

}  // namespace

bool CutConnection(const httplib::Request& req, TCutKind kind) {
    const int fd = FindConnection(req);
    if (fd < 0) return false;
    if (kind == TCutKind::ckClose) return shutdown(fd, SHUT_RDWR) == 0;
    // A zero linger time makes the last close send a reset. Putting a fresh unconnected socket in
    // the descriptor's place closes the connection now while httplib keeps a valid descriptor.
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    const int stand_in = socket(AF_INET, SOCK_STREAM, 0);
    if (stand_in < 0) return shutdown(fd, SHUT_RDWR) == 0;
    const bool replaced = dup2(stand_in, fd) == fd;
    close(stand_in);
    return replaced || shutdown(fd, SHUT_RDWR) == 0;
}

}  // namespace egaiss::sim
