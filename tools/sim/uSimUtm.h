#pragma once
// The UTM as the agent sees it: version and diagnosis, the out side with the documents EGAIS
// delivered (listed, fetched, deleted) and the in side that takes the shop's documents as
// multipart uploads.
#include "uSimDocuments.h"
#include "uSimHost.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace egaiss::sim {

struct TUtmSettings {
    int Docs = 3;         // documents waiting at start
    int NewEverySec = 0;  // a new out document every so many seconds; 0: none
    std::string FsrarId = "030000123456";
    std::string Version = "4.2.0";              // empty: no path answers a version
    std::string VersionPath = "/info/version";  // the one of the agent's three version paths that answers
    bool Token = true;                          // false: the diagnosis carries no certificate
    bool Tickets = false;  // every accepted upload is answered later by a Ticket on the out side
    std::uint64_t Seed = 1;
};

class TSimUtm : public TSimService {
public:
    explicit TSimUtm(const TUtmSettings& settings);
    ~TSimUtm() override;

    const char* Role() const override { return "utm"; }
    void Bound(int port) override;
    void Handle(const httplib::Request& req, TSimReply& reply) override;
    bool HandleControl(const httplib::Request& req, TSimReply& reply) override;
    void FailureReply(int status, TSimReply& reply) const override;
    void WriteState(TJsonWriter& writer) override;
    void Reset() override;
    void Start() override;
    void Stop() override;

private:
    struct THeldDoc {
        std::int64_t Id = 0;
        std::string Type;
        std::string Xml;
        std::string ReplyId;
        std::int64_t AddedMs = 0;
        int Fetches = 0;
    };
    struct TReceivedDoc {
        std::int64_t Id = 0;
        std::string Guid;
        std::string Type;
        std::string FileName;
        std::string ContentType;
        std::string Xml;
        std::int64_t AtMs = 0;
    };
    struct TDeletedDoc {
        std::int64_t Id = 0;
        std::string Type;
        std::string Url;
        std::int64_t AtMs = 0;
    };

    std::string BaseUrl() const;
    std::string OutUrl(const THeldDoc& doc) const;
    const THeldDoc& AddLocked(TEgaisDocument doc, std::string reply_id);
    THeldDoc* FindHeldLocked(const std::string& path);

    void ServeVersion(const httplib::Request& req, TSimReply& reply);
    void ServeDiagnosis(TSimReply& reply);
    void ServeOutList(TSimReply& reply);
    void ServeOutDocument(const httplib::Request& req, TSimReply& reply);
    void ServeInList(TSimReply& reply);
    void ServeInDocument(const httplib::Request& req, TSimReply& reply);
    void ServeUpload(const httplib::Request& req, TSimReply& reply);
    void ServeAddDocuments(const httplib::Request& req, TSimReply& reply);
    void ServeConfig(const httplib::Request& req, TSimReply& reply);
    void WriteConfigLocked(TJsonWriter& writer) const;
    void GeneratorLoop();

    mutable std::mutex FLock;
    TUtmSettings FSettings;
    TDocumentFactory FFactory;
    std::vector<THeldDoc> FHeld;  // in arrival order
    std::vector<TReceivedDoc> FReceived;
    std::vector<TDeletedDoc> FDeleted;
    std::int64_t FNextId = 1;
    std::int64_t FNextReceivedId = 1;
    int FPort = 0;

    std::thread FGenerator;
    std::condition_variable FWake;
    bool FStopping = false;
};

// "<?xml ...?><A><error>message</error><ver>2</ver></A>", how the UTM words a refusal.
std::string UtmErrorXml(const std::string& message);

}  // namespace egaiss::sim
