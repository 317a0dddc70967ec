#include "uSimOptions.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <functional>
#include <limits>

namespace egaiss::sim {

namespace {

enum TRoleBits : unsigned { rbUtm = 1, rbServer = 2, rbBoth = 4, rbAll = 7, rbScale = 8 };

struct TOptionRule {
    const char* Name;
    bool TakesValue;
    unsigned Roles;
    std::function<bool(const std::string& value, TSimOptions& options, std::string& error)> Apply;
};

template <class T>
bool ParseNumber(const std::string& text, T low, T high, T& out) {
    T value{};
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool ParseShare(const std::string& text, double& out) {
    std::size_t used = 0;
    try {
        const double value = std::stod(text, &used);
        if (used != text.size() || !(value >= 0.0 && value <= 1.0)) return false;
        out = value;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool IntOption(const std::string& value, int low, int high, int& out, std::string& error) {
    if (ParseNumber(value, low, high, out)) return true;
    error = "expected a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
            ", got '" + value + "'";
    return false;
}

bool ShareOption(const std::string& value, double& out, std::string& error) {
    if (ParseShare(value, out)) return true;
    error = "expected a share from 0 to 1, got '" + value + "'";
    return false;
}

// "0x43" or "67": one byte.
bool CodeOption(const std::string& value, int& out, std::string& error) {
    const bool hex = value.rfind("0x", 0) == 0 || value.rfind("0X", 0) == 0;
    const std::string digits = hex ? value.substr(2) : value;
    int code = 0;
    const auto [end, failure] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    if (digits.empty() || failure != std::errc() || end != digits.data() + digits.size() || code < 0 ||
        code > 255) {
        error = "expected a byte such as 0x43, got '" + value + "'";
        return false;
    }
    out = code;
    return true;
}

bool StepOption(const std::string& value, unsigned& steps, std::string& error) {
    unsigned step = 0;
    if (!ParseScaleStep(value, step)) {
        error = "expected work-mode, reset, dfile, probe or all, got '" + value + "'";
        return false;
    }
    steps |= step;
    return true;
}

// --answer STEP=CODE
bool AnswerOption(const std::string& value, TScaleSettings& scale, std::string& error) {
    const auto equals = value.find('=');
    unsigned step = 0;
    if (equals == std::string::npos || !ParseScaleStep(value.substr(0, equals), step) || step == ssAll) {
        error = "expected STEP=CODE with STEP work-mode, reset, dfile or probe, got '" + value + "'";
        return false;
    }
    int* target = step == ssWorkMode ? &scale.WorkModeAnswer
                  : step == ssReset  ? &scale.ResetAnswer
                  : step == ssDFile  ? &scale.DFileAnswer
                                     : &scale.ProbeAnswer;
    return CodeOption(value.substr(equals + 1), *target, error);
}

// --answer-part FILE:N=CODE
bool PartOption(const std::string& value, TScaleSettings& scale, std::string& error) {
    const auto colon = value.find(':');
    const auto equals = value.find('=');
    TScalePartFault fault;
    const std::string file = value.substr(0, colon);
    if (colon == std::string::npos || equals == std::string::npos || equals < colon ||
        (file != "goods" && file != "plu") ||
        !ParseNumber(value.substr(colon + 1, equals - colon - 1), 1, 65535, fault.Part)) {
        error = "expected goods:N=CODE or plu:N=CODE, got '" + value + "'";
        return false;
    }
    fault.FileCode = file == "goods" ? 1 : 5;
    if (!CodeOption(value.substr(equals + 1), fault.Code, error)) return false;
    scale.PartFaults.push_back(fault);
    return true;
}

const std::vector<TOptionRule>& ScaleRules() {
    static const std::vector<TOptionRule> rules = {
        {"--serial", true, rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (ParseNumber(v, std::uint32_t{0}, std::numeric_limits<std::uint32_t>::max(), o.Scale.Serial))
                 return true;
             e = "expected a whole number from 0 to 4294967295, got '" + v + "'";
             return false;
         }},
        {"--out-dir", true, rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             std::error_code error;
             std::filesystem::create_directories(v, error);
             if (!std::filesystem::is_directory(v, error)) {
                 e = "cannot use the folder '" + v + "'";
                 return false;
             }
             o.Scale.OutDir = std::filesystem::absolute(v, error).string();
             return true;
         }},
        {"--answer", true, rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) { return AnswerOption(v, o.Scale, e); }},
        {"--answer-part", true, rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) { return PartOption(v, o.Scale, e); }},
        {"--silent", true, rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return StepOption(v, o.Scale.Silent, e);
         }},
        {"--bad-crc", true, rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return StepOption(v, o.Scale.BadCrc, e);
         }},
        {"--split", false, rbScale,
         [](const std::string&, TSimOptions& o, std::string&) {
             o.Scale.Split = true;
             return true;
         }},
        {"--noise", true, rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return IntOption(v, 0, 64, o.Scale.Noise, e);
         }},
        {"--quiet", false, rbScale,
         [](const std::string&, TSimOptions& o, std::string&) {
             o.Scale.Quiet = true;
             return true;
         }},
    };
    return rules;
}

const std::vector<TOptionRule>& Rules() {
    constexpr int kMaxCount = 100000;
    static const std::vector<TOptionRule> rules = {
        {"--port", true, rbAll | rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return IntOption(v, 0, 65535, o.Port, e);
         }},
        {"--server-port", true, rbBoth,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return IntOption(v, 0, 65535, o.ServerPort, e);
         }},
        {"--bind", true, rbAll | rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (o.Mode == TSimMode::smScale) {
                 if (IsLoopbackAddress(v)) {
                     o.Scale.Bind = v;
                     return true;
                 }
                 e = "the scale simulator binds 127.x.x.x addresses only, not '" + v + "'";
                 return false;
             }
             if (v == kLoopbackHost) return true;
             e = "the simulators listen on 127.0.0.1 only, not on '" + v + "'";
             return false;
         }},
        {"--seed", true, rbAll,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             std::uint64_t seed = 0;
             if (!ParseNumber(v, std::uint64_t{0}, std::numeric_limits<std::uint64_t>::max(), seed)) {
                 e = "expected a whole number, got '" + v + "'";
                 return false;
             }
             o.Utm.Seed = o.Server.Seed = seed;
             return true;
         }},
        {"--fsrar-id", true, rbAll,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (v.size() != 12 ||
                 !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                 e = "an FSRAR id is 12 digits, got '" + v + "'";
                 return false;
             }
             o.Utm.FsrarId = o.Server.FsrarId = v;
             return true;
         }},
        {"--fail-rate", true, rbAll,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return ShareOption(v, o.Faults.FailRate, e);
         }},
        {"--fail-status", true, rbAll,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return IntOption(v, 400, 599, o.Faults.FailStatus, e);
         }},
        {"--delay-ms", true, rbAll | rbScale,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (!IntOption(v, 0, 3600000, o.Faults.DelayMs, e)) return false;
             o.Scale.DelayMs = o.Faults.DelayMs;
             return true;
         }},
        {"--drop-rate", true, rbAll,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return ShareOption(v, o.Faults.DropRate, e);
         }},
        {"--match", true, rbAll,
         [](const std::string& v, TSimOptions& o, std::string&) {
             o.Faults.Match = v;
             return true;
         }},
        {"--gzip", false, rbAll,
         [](const std::string&, TSimOptions& o, std::string&) {
             o.Faults.Gzip = true;
             return true;
         }},
        {"--down", false, rbAll,
         [](const std::string&, TSimOptions& o, std::string&) {
             o.Faults.Down = true;
             return true;
         }},
        {"--docs", true, rbUtm | rbBoth,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return IntOption(v, 0, kMaxCount, o.Utm.Docs, e);
         }},
        {"--new-every", true, rbUtm | rbBoth,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return IntOption(v, 0, 86400, o.Utm.NewEverySec, e);
         }},
        {"--utm-version", true, rbUtm | rbBoth,
         [](const std::string& v, TSimOptions& o, std::string&) {
             o.Utm.Version = v;
             return true;
         }},
        {"--version-path", true, rbUtm | rbBoth,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (v != "/info/version" && v != "/api/info/version" && v != "/info/") {
                 e = "expected /info/version, /api/info/version or /info/, got '" + v + "'";
                 return false;
             }
             o.Utm.VersionPath = v;
             return true;
         }},
        {"--no-token", false, rbUtm | rbBoth,
         [](const std::string&, TSimOptions& o, std::string&) {
             o.Utm.Token = false;
             return true;
         }},
        {"--tickets", false, rbUtm | rbBoth,
         [](const std::string&, TSimOptions& o, std::string&) {
             o.Utm.Tickets = true;
             return true;
         }},
        {"--agent-id", true, rbServer | rbBoth,
         [](const std::string& v, TSimOptions& o, std::string&) {
             o.Server.AgentId = v;
             return true;
         }},
        {"--secret", true, rbServer | rbBoth,
         [](const std::string& v, TSimOptions& o, std::string&) {
             o.Server.Secret = v;
             return true;
         }},
        {"--outbox", true, rbServer | rbBoth,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             return IntOption(v, 0, kMaxCount, o.Server.Outbox, e);
         }},
        {"--download-dir", true, rbServer | rbBoth,
         [](const std::string& v, TSimOptions& o, std::string& e) {
             std::error_code error;
             if (!std::filesystem::is_directory(v, error)) {
                 e = "no such folder: '" + v + "'";
                 return false;
             }
             o.Server.DownloadDir = std::filesystem::absolute(v, error).string();
             return true;
         }},
        {"--sync-now", false, rbServer | rbBoth,
         [](const std::string&, TSimOptions& o, std::string&) {
             o.Server.SyncNow = true;
             return true;
         }},
    };
    static const std::vector<TOptionRule> all = [] {
        std::vector<TOptionRule> joined = rules;
        for (const TOptionRule& rule : ScaleRules())
            joined.push_back(rule);
        return joined;
    }();
    return all;
}

}  // namespace

bool ParseSimOptions(const std::vector<std::string>& args, TSimOptions& options, std::string& error) {
    options = TSimOptions{};
    if (std::find_if(args.begin(), args.end(),
                     [](const std::string& a) { return a == "--help" || a == "-h"; }) != args.end()) {
        options.Mode = TSimMode::smHelp;
        return true;
    }
    if (args.empty()) {
        error = "name a simulator: utm, server, both or scale";
        return false;
    }
    unsigned role = 0;
    if (args[0] == "utm") {
        options.Mode = TSimMode::smUtm;
        role = rbUtm;
    } else if (args[0] == "server") {
        options.Mode = TSimMode::smServer;
        role = rbServer;
    } else if (args[0] == "both") {
        options.Mode = TSimMode::smBoth;
        role = rbBoth;
    } else if (args[0] == "scale") {
        options.Mode = TSimMode::smScale;
        role = rbScale;
    } else {
        error = "unknown simulator '" + args[0] + "' (utm, server, both or scale)";
        return false;
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inline_value = false;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            inline_value = true;
        }
        const auto& rules = Rules();
        const auto rule =
            std::find_if(rules.begin(), rules.end(), [&](const TOptionRule& s) { return name == s.Name; });
        if (rule == rules.end()) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if ((rule->Roles & role) == 0) {
            error = "option " + name + " does not apply to '" + args[0] + "'";
            return false;
        }
        if (rule->TakesValue && !inline_value) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        } else if (!rule->TakesValue && inline_value) {
            error = "option " + name + " takes no value";
            return false;
        }
        if (!rule->Apply(value, options, error)) {
            error.insert(0, name + ": ");
            return false;
        }
    }
    if (options.Mode == TSimMode::smBoth && options.Port != 0 && options.Port == options.ServerPort) {
        error = "--port and --server-port must differ";
        return false;
    }
    return true;
}

std::string SimUsage() {
    return R"(Usage: egaiss-sim utm    [options]
       egaiss-sim server [options]
       egaiss-sim both   [options]      (a UTM and a server in one process)
       egaiss-sim scale  [options]      (a Massa-K label scale)
       egaiss-sim --help

Simulates the agent's HTTP peers on 127.0.0.1 for tests, demos and support.
Once serving, each simulator prints one line, then one line per request:
  utm listening on 127.0.0.1:PORT
  server listening on 127.0.0.1:PORT
It runs until SIGINT or SIGTERM and then exits with status 0 (1 when it could
not listen, 2 for a usage error).

Common options:
  --port N           port to listen on, 0 = one the system picks (default 0);
                     in "both" mode the UTM's port
  --bind ADDR        accepted only as 127.0.0.1, the one address served
  --seed N           seed of the document generator and of the faults (1)
  --fsrar-id ID      the shop's 12-digit FSRAR id (030000123456)
Faults (in "both" mode they apply to both simulators):
  --fail-rate P      share 0..1 of requests answered with --fail-status
  --fail-status N    status of failed requests, 400..599 (500)
  --delay-ms N       delay before every answer
  --drop-rate P      share 0..1 of requests whose connection is closed unanswered
  --gzip             gzip-encode every body, whatever the client accepts
  --down             reset every connection (control routes keep working)
  --match TEXT       faults only hit requests whose "path?query" (query
                     decoded) contains TEXT

UTM options:
  --docs N           documents waiting on the out side at start (3)
  --new-every S      a new out document every S seconds (0 = never)
  --utm-version T    version text (4.2.0); empty = no version path answers
  --version-path P   which answers: /info/version, /api/info/version, /info/
  --no-token         the diagnosis holds no certificate (no FSRAR id)
  --tickets          answer every accepted upload with a Ticket on the out side

Server options:
  --agent-id ID      expected X-Egaiss-Agent-Id (agent-1)
  --secret S         expected X-Egaiss-Agent-Secret (secret)
  --outbox N         documents queued in the outbox at start (2)
  --download-dir D   serve D under <any path>/download/
  --sync-now         the first command poll is answered with sync_now true
  --server-port N    ("both" only) the server's port (0)

Scale options (TCP table load and UDP search answer on the same port):
  --bind ADDR        a 127.x.x.x address (127.0.0.1); prints
                     "scale listening on ADDR:PORT"
  --serial N         serial number in the search answer (12345678)
  --out-dir D        write each complete table to D/goods.bin and D/plu.bin
  --delay-ms N       delay before every answer
  --answer S=CODE    answer step S with CODE (say work-mode=0x52)
  --answer-part F:N=CODE  answer part N of file F (goods or plu) with CODE
                     (0x43 BAD_DFILE, 0x44 BAD_DFILE_SIZE)
  --silent S         never answer step S (the connection stays open)
  --bad-crc S        answer step S with a broken checksum
  --split            send every TCP answer in two segments 30 ms apart
  --noise N          N noise bytes before every TCP answer frame (0..64)
  --quiet            no line per exchange
  Steps S: work-mode (0x91), reset (0x81), dfile (0x82), probe (UDP 0x00), all.

Control routes (JSON; not subject to faults, not in the request history):
  GET  /sim/state    the simulator's whole state
  GET  /sim/faults   the fault settings; POST merges the members given:
                     fail_rate, fail_status, fail_next, drop_rate, drop_next,
                     delay_ms, gzip, down, match
  POST /sim/reset    forget documents, records and the request history
  GET|POST /sim/config  UTM: fsrar_id, version, version_path, token, tickets,
                     new_every; server: agent_id, secret
  UTM:    POST /sim/docs {"count","type","xml","reply_id"}, DELETE /sim/docs
  Server: POST /sim/outbox {"count","doc_id","doc_type","xml"}, DELETE /sim/outbox,
          POST /sim/inbox {"utm_url","doc_type","xml"} or {"utm_urls":[...]},
          POST /sim/sync-now [{"sync_now":false} cancels]
)";
}

}  // namespace egaiss::sim
