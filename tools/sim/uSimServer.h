#pragma once
// The web service side of the agent's server contract: the JSON routes under "egaiss/agent/" given
// as the "route" query parameter of any path, guarded by the agent id and secret headers, and the
// download area served from a folder.
#include "uSimDocuments.h"
#include "uSimHost.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace egaiss::sim {

struct TServerSettings {
    std::string AgentId = "agent-1";
    std::string Secret = "secret";
    int Outbox = 2;                        // documents queued at start
    std::string DownloadDir;               // empty: no download area
    std::string FsrarId = "030000123456";  // the shop the outgoing documents are written for
    bool SyncNow = false;                  // a sync request is pending at start
    std::uint64_t Seed = 1;
};

class TSimServer : public TSimService {
public:
    explicit TSimServer(const TServerSettings& settings);

    const char* Role() const override { return "server"; }
    void Bound(int port) override;
    void Handle(const httplib::Request& req, TSimReply& reply) override;
    bool HandleControl(const httplib::Request& req, TSimReply& reply) override;
    void FailureReply(int status, TSimReply& reply) const override;
    void WriteState(TJsonWriter& writer) override;
    void Reset() override;

private:
    struct TInboxDoc {
        std::int64_t Id = 0;
        std::string UtmUrl;
        std::string DocType;
        std::string Xml;
        std::int64_t AtMs = 0;
    };
    struct TOutboxDoc {
        std::string DocId;
        std::string DocType;
        std::string Xml;
        std::string Status = "queued";  // queued, sent, error, cancelled
        std::string ErrorText;
        std::string UtmUrl;
        std::string UtmResponse;
        std::string Reason;  // why it was cancelled
        std::int64_t CreatedMs = 0;
        std::int64_t UpdatedMs = 0;
        int Offered = 0;  // times listed to the agent
    };
    struct TMark {
        std::string DocId;
        std::string Kind;  // sent or error
        std::string UtmUrl;
        std::string UtmResponse;
        std::string ErrorText;
        std::int64_t AtMs = 0;
    };
    struct TPing {
        std::string Kind;      // diagnosis, sync_completed, error_only, command_poll, health
        std::string Body;      // the JSON object received
        bool SyncNow = false;  // the answer to a command poll
        std::int64_t AtMs = 0;
    };
    struct TClear {
        std::vector<std::string> Statuses;
        std::string Reason;
        int Cleared = 0;
        std::int64_t AtMs = 0;
    };
    struct TDownload {
        std::string Name;
        int Status = 0;
        std::int64_t Size = 0;
        std::int64_t AtMs = 0;
    };

    void ServeRoute(const httplib::Request& req, const std::string& route, TSimReply& reply);
    void ServePing(const rapidjson::Document& body, TSimReply& reply);
    void ServeKnown(TSimReply& reply);
    void ServePushInbox(const rapidjson::Document& body, TSimReply& reply);
    void ServeOutbox(TSimReply& reply);
    void ServeOutboxStatus(TSimReply& reply);
    void ServeClear(const rapidjson::Document& body, TSimReply& reply);
    void ServeMark(const std::string& doc_id, const std::string& kind, const rapidjson::Document& body,
                   TSimReply& reply);
    void ServeDownload(const std::string& relative, TSimReply& reply);

    void ServeAddOutbox(const httplib::Request& req, TSimReply& reply);
    void ServeAddInbox(const httplib::Request& req, TSimReply& reply);
    void ServeConfig(const httplib::Request& req, TSimReply& reply);
    void ServeSyncNow(const httplib::Request& req, TSimReply& reply);

    TOutboxDoc& QueueLocked(TEgaisDocument doc, std::string doc_id);
    TOutboxDoc* FindOutboxLocked(const std::string& doc_id);
    void AddInboxLocked(std::string utm_url, std::string doc_type, std::string xml);
    template <class T>
    void Keep(std::vector<T>& list, T item);

    mutable std::mutex FLock;
    TServerSettings FSettings;
    TDocumentFactory FFactory;
    std::vector<TInboxDoc> FInbox;
    std::vector<TOutboxDoc> FOutbox;
    std::vector<TMark> FMarks;
    std::vector<TPing> FPings;
    std::vector<TClear> FClears;
    std::vector<TDownload> FDownloads;
    std::int64_t FNextInboxId = 1;
    std::int64_t FNextDocNumber = 1001;
    std::int64_t FDuplicates = 0;
    std::int64_t FUnauthorized = 0;
    std::int64_t FPingCount = 0;
    std::int64_t FSyncNowServed = 0;
    bool FSyncNow = false;
    int FPort = 0;
};

}  // namespace egaiss::sim
