#pragma once
// Faults the simulators inject on demand: failures, delays, dropped connections, gzip bodies and a
// down mode. Settings change at run time, so every decision is taken under one lock.
#include "uSimJson.h"

#include <httplib.h>

#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <string_view>

namespace egaiss::sim {

struct TFaultSettings {
    double FailRate = 0.0;  // share of requests answered with FailStatus, 0..1
    int FailStatus = 500;
    int FailNext = 0;       // the next N matching requests fail, before the rate is consulted
    double DropRate = 0.0;  // share of requests whose connection is closed without an answer
    int DropNext = 0;
    int DelayMs = 0;    // added before every matching answer
    bool Gzip = false;  // bodies gzip-encoded whatever the client accepts
    bool Down = false;  // every request is answered with a connection reset
    std::string Match;  // only requests whose log target contains this text; empty = all
};

struct TFaultDecision {
    bool Reset = false;
    bool Drop = false;
    bool Fail = false;
    int FailStatus = 500;
    int DelayMs = 0;
    bool Gzip = false;
};

class TFaultInjector {
public:
    TFaultInjector(const TFaultSettings& settings, std::uint64_t seed);

    // What to do with one request; `target` is the path with its decoded query, as logged.
    TFaultDecision Decide(std::string_view target);

    TFaultSettings Settings() const;
    // Merges the members present in `patch` into the settings; false with `error` when a member is
    // of the wrong kind or out of range, and then nothing changes.
    bool Apply(const rapidjson::Value& patch, std::string& error);

private:
    mutable std::mutex FLock;
    TFaultSettings FSettings;
    std::mt19937_64 FRandom;
    std::uniform_real_distribution<double> FShare{0.0, 1.0};
};

// Checks ranges: rates 0..1, status 400..599, counts and delay not negative.
bool ValidateFaults(const TFaultSettings& settings, std::string& error);

void WriteFaults(TJsonWriter& writer, const TFaultSettings& settings);

// A gzip member (RFC 1952) holding `data`.
std::string GzipText(std::string_view data);

enum class TCutKind {
    ckClose,  // orderly close: the client reads the end of the stream and no answer
    ckReset,  // connection reset, as from a peer that went away
};

// Ends the connection that carries `req` without answering it. httplib does not hand the socket to
// handlers, so it is found by its two endpoints among the process's descriptors; false when it is
// not found. The descriptor stays open for httplib, whose own write then fails and closes it.
bool CutConnection(const httplib::Request& req, TCutKind kind);

}  // namespace egaiss::sim
