#pragma once
// Client of the server's JSON interface: every call is one request to the server URL with a
// "route=" query under "egaiss/agent/", authenticated by the agent id and secret headers. One
// object keeps one HTTP connection alive across its requests and belongs to one thread.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "clients/uUtmApi.h"
#include "core/uEgaissConfig.h"

namespace egaiss {

namespace platform {
class THttpClient;
}

// One document the server wants sent to the UTM.
struct TOutboxDoc {
    std::string DocID;
    std::string DocType;
    std::string XML;

    bool operator==(const TOutboxDoc&) const = default;
};

// One row of the server's outbox queue.
struct TOutboxStatusRow {
    std::string DocID;
    std::string DocType;
    std::string Status;          // queued, error, cancelled, ...
    std::int64_t CreatedAt = 0;  // as the server sends them, not interpreted
    std::int64_t UpdatedAt = 0;
    std::string ErrorText;

    bool operator==(const TOutboxStatusRow&) const = default;
};

// Compared exactly, letter case included.
using TKnownInboxURLs = std::unordered_set<std::string>;

class TVelmoraApi {
public:
    // Keeps a copy of the settings with the server URL normalised.
    explicit TVelmoraApi(const TEgaissConfig& cfg);
    ~TVelmoraApi();
    TVelmoraApi(TVelmoraApi&&) noexcept;
    TVelmoraApi& operator=(TVelmoraApi&&) noexcept;
    TVelmoraApi(const TVelmoraApi&) = delete;
    TVelmoraApi& operator=(const TVelmoraApi&) = delete;

    // All operations raise on transport failures and on a status of 400 or more.
    void PingWithDiagnosis(const std::string& version, const TUtmDiagnosis& diagnosis,
                           const std::string& lastError, bool syncCompleted);
    void PingSyncCompleted(const std::string& version);
    void PingErrorOnly(const std::string& version, const std::string& lastError);
    // True only when the server answers with "sync_now": true.
    bool PollSyncCommand(const std::string& version);

    // False for an empty answer (no body or "[]"): nothing is queued. An element without "doc_id" or
    // "doc_type" is skipped with a log line. Raises EAgentError "Server outbox: unreadable answer" for
    // any other answer that is not an object with an array "documents" (or none).
    bool FetchOutbox(std::vector<TOutboxDoc>& docs);
    // The Boolean results say whether the answer was a JSON object.
    bool FetchOutboxStatus(std::vector<TOutboxStatusRow>& rows, int& queued, int& errors);
    bool ClearOutbox(const std::vector<std::string>& statuses, const std::string& reason, int& cleared);

    void MarkSent(const std::string& docID, const std::string& utmURL, const std::string& utmResponse);
    void MarkError(const std::string& docID, const std::string& errorText);

    TKnownInboxURLs KnownInboxURLs();
    // Always true when it returns; `duplicate` tells that the server already held the document.
    bool PushInbox(const std::string& utmURL, const std::string& docType, const std::string& xml,
                   bool& duplicate);

    // The request URL of a route: server URL, "?" or "&", "route=", the route percent-encoded.
    std::string RouteURL(const std::string& route) const;

private:
    std::string GetRoute(const std::string& route);
    std::string PostRoute(const std::string& route, const std::string& body);
    std::string PostRouteQuick(const std::string& route, const std::string& body);
    std::string Post(const std::string& route, const std::string& body, bool quick);

    TEgaissConfig FCfg;
    std::unique_ptr<platform::THttpClient> FHttp;
};

// The "utm_diagnosis" object the pings carry, as compact JSON text.
std::string UtmDiagnosisJson(const TUtmDiagnosis& diagnosis);

// JSON string escaping that leaves non-ASCII characters as they are (raw UTF-8).
std::string JsonEscape(const std::string& text);

}  // namespace egaiss
