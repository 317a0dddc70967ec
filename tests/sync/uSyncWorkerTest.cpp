#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <map>
#include <mutex>
#include <set>

#include "core/uEgaissLog.h"
#include "core/uVersion.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"
#include "sync/uSyncWorker.h"

namespace egaiss {
namespace {

using test::TFakeHttpServer;
using test::TFakeRequest;

const std::string WayBill =
    "<?xml version=\"1.0\"?><ns:Documents><ns:WayBill_v4>Накладная</ns:WayBill_v4></ns:Documents>";

// A UTM and a server, both in-process, with documents and failures set by each test.
class SyncCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        FUtm.Get("/", [](const TFakeRequest&, httplib::Response& res) {
            res.set_content("<html>UTM</html>", "text/html");
        });
        FUtm.Get("/opt/out", [this](const TFakeRequest&, httplib::Response& res) {
            std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><A>";
            for (const auto& url : UtmUrls())
                xml += "<url replyId=\"r\">" + url + "</url>";
            res.set_content(xml + "<ver>2</ver></A>", "text/xml");
        });
        FUtm.Get("/opt/out/.+", [this](const TFakeRequest& req, httplib::Response& res) {
            if (FFailFetch.count(req.Path)) return void(res.status = 500);
            const bool cut = FCutOff.count(req.Path) != 0;
            res.set_content(cut ? WayBill.substr(0, WayBill.find("</ns:WayBill_v4>")) : WayBill, "text/xml");
        });
        FUtm.Delete("/opt/out/.+", [this](const TFakeRequest& req, httplib::Response& res) {
            const std::lock_guard lock(FMutex);
            if (FFailDelete.count(req.Path)) return void(res.status = 500);
            FUtmDocs.erase(req.Path);
        });
        FUtm.Post("/opt/in/.+", [this](const TFakeRequest& req, httplib::Response& res) {
            if (req.Path == "/opt/in/Refused") {
                res.status = 500;
                res.set_content(FRefusal, "text/plain");
                return;
            }
            res.set_content(
                "<?xml version=\"1.0\"?><A><url>" + FUtm.BaseURL() + "/opt/in/guid-1</url><ver>2</ver></A>",
                "text/xml");
        });
        FServer.Get("/api", [this](const TFakeRequest& req, httplib::Response& res) { ServeGet(req, res); });
        FServer.Post("/api",
                     [this](const TFakeRequest& req, httplib::Response& res) { ServePost(req, res); });
        FUtm.Start();
        FServer.Start();
        FCfg.ServerURL = FServer.BaseURL() + "/api";
        FCfg.AgentID = "agent-1";
        FCfg.AgentSecret = "secret";
        FCfg.UtmPort = FUtm.Port();
    }

    void AddUtmDoc(const std::string& path) { FUtmDocs.insert(path); }
    std::string Url(const std::string& path) const { return FUtm.BaseURL() + path; }

    std::vector<std::string> UtmUrls() {
        const std::lock_guard lock(FMutex);
        std::vector<std::string> urls;
        for (const auto& path : FUtmDocs)
            urls.push_back(Url(path));
        return urls;
    }

    void ServeGet(const TFakeRequest& req, httplib::Response& res) {
        const std::string route = req.Param("route");
        if (route == "egaiss/agent/inbox/known") {
            std::string json = "{\"utm_urls\":[";
            for (const auto& url : FKnown)
                json += (json.back() == '[' ? "\"" : ",\"") + url + "\"";
            res.set_content(json + "]}", "application/json");
        } else if (route == "egaiss/agent/outbox") {
            if (FOutboxFails) {
                res.status = 503;
                res.set_content("{\"error\":\"outbox offline\"}", "application/json");
                return;
            }
            res.set_content(FOutbox, "application/json");
        }
    }

    void ServePost(const TFakeRequest& req, httplib::Response& res) {
        const std::string route = req.Param("route");
        rapidjson::Document body;
        body.Parse(req.Body.c_str());
        const std::lock_guard lock(FMutex);
        if (route == "egaiss/agent/inbox") {
            if (FPushFails) return void(res.status = 500);
            const std::string url = body["utm_url"].GetString();
            const bool duplicate = FDuplicates.count(url) != 0;
            FPushed.push_back(url);
            res.set_content(duplicate ? "{\"duplicate\":true}" : "{\"ok\":true}", "application/json");
        } else if (route == "egaiss/agent/ping") {
            FPings.push_back(req.Body);
        } else if (route.size() > 5 && route.substr(route.size() - 5) == "/sent") {
            FMarks.push_back("sent " + route + " " + body["utm_url"].GetString());
        } else if (route.size() > 6 && route.substr(route.size() - 6) == "/error") {
            FMarks.push_back("error " + route + " " + body["error"].GetString());
        }
    }

    std::pair<bool, std::string> Run() {
        bool ok = true;
        std::string msg = "unset";
        RunSyncCycle(FCfg, ok, msg);
        return {ok, msg};
    }

    std::string Log() const { return ReadLogTail(5000); }
    std::size_t Count(const std::string& needle) const {
        const std::string log = Log();
        std::size_t count = 0;
        for (auto pos = log.find(needle); pos != std::string::npos; pos = log.find(needle, pos + 1))
            ++count;
        return count;
    }

    test::TTempDataDir FData;
    TFakeHttpServer FUtm;
    TFakeHttpServer FServer;
    TEgaissConfig FCfg;
    std::mutex FMutex;
    std::set<std::string> FUtmDocs;
    std::set<std::string> FFailFetch, FFailDelete, FDuplicates, FCutOff;
    std::vector<std::string> FKnown;
    std::string FOutbox = "{\"documents\":[]}";
    std::string FRefusal = "refused";
    bool FOutboxFails = false;
    bool FPushFails = false;
    std::vector<std::string> FPushed, FPings, FMarks;
};

TEST_F(SyncCycleTest, EmptyUtmAndOutboxFinishWithACompletedPing) {
    const auto [ok, msg] = Run();
    EXPECT_TRUE(ok);
    EXPECT_EQ(msg, "Sync finished");
    EXPECT_EQ(Count("[INFO] Sync OK in=0 out=0"), 1u);
    EXPECT_EQ(Count("[STEP] Sync.end | Sync finished"), 1u);
    ASSERT_EQ(FPings.size(), 1u);
    EXPECT_EQ(FPings[0], std::string("{\"version\":\"") + AgentVersion +
                             "\",\"sync_completed\":true,\"error_only\":true,\"last_error\":\"\"}");
}

TEST_F(SyncCycleTest, UtmDownGivesOnePingOneErrorLineAndNothingElse) {
    FCfg.UtmPort = test::RefusedLoopbackPort();
    const auto [ok, msg] = Run();
    const std::string expected = "UTM unavailable: http://127.0.0.1:" + std::to_string(FCfg.UtmPort);
    EXPECT_FALSE(ok);
    EXPECT_EQ(msg, expected);
    EXPECT_EQ(Count("[ERR] UTM ping FAILED: " + expected), 1u);
    EXPECT_EQ(Count("[ERR]"), 1u);
    EXPECT_EQ(Count("Sync.end"), 0u);
    EXPECT_EQ(FServer.RequestCount(), 1u) << "only the error ping reaches the server";
    ASSERT_EQ(FPings.size(), 1u);
    EXPECT_NE(FPings[0].find("\"last_error\":\"" + expected + "\",\"error_only\":true"), std::string::npos);
}

TEST_F(SyncCycleTest, MovesNewDocumentsSkipsKnownAndDeletesDuplicates) {
    for (const char* path :
         {"/opt/out/WayBill_v4/1", "/opt/out/WayBill_v4/2", "/opt/out/Ticket/3/", "/opt/out/x/4"}) {
        AddUtmDoc(path);
    }
    FKnown = {Url("/opt/out/WayBill_v4/1"), Url("/opt/out/x/4")};
    FDuplicates = {Url("/opt/out/Ticket/3/")};

    const auto [ok, msg] = Run();
    EXPECT_TRUE(ok) << msg;
    EXPECT_EQ(FPushed, (std::vector<std::string>{Url("/opt/out/Ticket/3/"), Url("/opt/out/WayBill_v4/2")}));
    EXPECT_EQ(FUtmDocs, (std::set<std::string>{"/opt/out/WayBill_v4/1", "/opt/out/x/4"}))
        << "known documents are neither fetched nor deleted";
    EXPECT_EQ(Count("IN skip (already known): "), 2u);
    EXPECT_EQ(Count("[INFO] IN skipped known=2"), 1u);
    EXPECT_EQ(Count("id=3 (dup, not deleted from UTM yet)"), 1u)
        << "the id is the segment before a final slash";
    EXPECT_EQ(Count("[IN] type=WayBill_v4 id=2 -> server"), 1u);
    EXPECT_EQ(Count("[INFO] Sync OK in=1 out=0"), 1u) << "duplicates are not counted";
    for (const auto& request : FUtm.Requests()) {
        EXPECT_EQ(request.Target.find("/opt/out/WayBill_v4/1"), std::string::npos) << request.Target;
    }
}

TEST_F(SyncCycleTest, DeleteFailureStopsTheCycleBeforeLaterDocumentsAndTheOutbox) {
    for (int i = 1; i <= 5; ++i)
        AddUtmDoc("/opt/out/WayBill_v4/" + std::to_string(i));
    FFailDelete = {"/opt/out/WayBill_v4/2"};
    FOutbox = "{\"documents\":[{\"doc_id\":\"7\",\"doc_type\":\"WayBillAct\",\"xml\":\"<a/>\"}]}";

    const auto [ok, msg] = Run();
    EXPECT_FALSE(ok);
    EXPECT_EQ(msg.rfind("HTTP 500: ", 0), 0u) << msg;
    EXPECT_EQ(FPushed.size(), 2u);
    EXPECT_EQ(FUtmDocs.size(), 4u);
    EXPECT_TRUE(FMarks.empty()) << "the outgoing part waits for the next cycle";
    EXPECT_EQ(Count("[EXC] Sync.in_delete | EHttpError: HTTP 500"), 1u);
    EXPECT_EQ(Count("[ERR] Sync FAILED: EHttpError: HTTP 500"), 1u);
    EXPECT_EQ(Count("Sync.end"), 0u);
    ASSERT_EQ(FPings.size(), 1u);
    EXPECT_NE(FPings[0].find("\"error_only\":true"), std::string::npos);
}

TEST_F(SyncCycleTest, FetchAndListFailuresNameTheirStep) {
    AddUtmDoc("/opt/out/WayBill_v4/1");
    FFailFetch = {"/opt/out/WayBill_v4/1"};
    auto [ok, msg] = Run();
    EXPECT_FALSE(ok);
    EXPECT_EQ(msg.rfind("GET документ из УТМ: HTTP 500", 0), 0u) << msg;
    EXPECT_TRUE(FPushed.empty());

    FPushFails = true;
    FFailFetch.clear();
    std::tie(ok, msg) = Run();
    EXPECT_EQ(msg.rfind("HTTP 500: ", 0), 0u) << msg;
    EXPECT_EQ(FUtmDocs.size(), 1u) << "a document the server did not store stays in the UTM";

    FOutboxFails = true;
    FPushFails = false;
    std::tie(ok, msg) = Run();
    EXPECT_EQ(msg, "HTTP 503: outbox offline");
    EXPECT_EQ(Count("[EXC] Sync.outbox_get | EHttpError: HTTP 503: outbox offline"), 1u);
}

TEST_F(SyncCycleTest, OneFailingOutgoingDocumentDoesNotStopTheOthers) {
    FRefusal = std::string(300, 'e');
    FOutbox =
        "{\"documents\":[{\"doc_id\":\"a/1\",\"doc_type\":\"Refused\",\"xml\":\"<x/>\"},"
        "{\"doc_id\":\"2\",\"doc_type\":\"WayBillAct_v4\",\"xml\":\"<Акт/>\"}]}";
    const auto [ok, msg] = Run();
    const std::string error = "Refused: HTTP 500: " + std::string(300, 'e');
    EXPECT_FALSE(ok);
    EXPECT_EQ(msg, error);
    ASSERT_EQ(FMarks.size(), 2u) << Log();
    EXPECT_EQ(FMarks[0], "error egaiss/agent/outbox/a/1/error " + error) << "sent whole to the server";
    const std::string reply =
        "<?xml version=\"1.0\"?><A><url>" + FUtm.BaseURL() + "/opt/in/guid-1</url><ver>2</ver></A>";
    EXPECT_EQ(FMarks[1], "sent egaiss/agent/outbox/2/sent " + reply);
    EXPECT_EQ(Count("[INFO] Sync DONE with errors in=0 out_ok=1 out_fail=1"), 1u);
    const std::string message = "HTTP 500: " + std::string(300, 'e');
    EXPECT_EQ(Count("[OUT] type=Refused id=a/1 error: " + message.substr(0, 180) + "...\r\n"), 1u)
        << "cut to 180 characters in the log";
    EXPECT_EQ(Count("[OUT] type=WayBillAct_v4 id=2 sent " + FlattenForLog(reply, 120)), 1u);
    ASSERT_EQ(FPings.size(), 1u);
    EXPECT_NE(FPings[0].find(error), std::string::npos);
}

TEST_F(SyncCycleTest, CutOffDocumentsStayWhereTheyAreWhileTheOthersMove) {
    for (int i = 1; i <= 3; ++i)
        AddUtmDoc("/opt/out/WayBill_v4/" + std::to_string(i));
    FCutOff = {"/opt/out/WayBill_v4/2"};
    FOutbox =
        "{\"documents\":[{\"doc_id\":\"5\",\"doc_type\":\"QueryRests_v2\",\"xml\":\"<q><r>\"},"
        "{\"doc_id\":\"6\",\"doc_type\":\"QueryNATTN\",\"xml\":\"<n/>\"}]}";

    auto [ok, msg] = Run();
    const std::string outError =
        "QueryRests_v2: Incomplete document: root element <q> is not closed at the end";
    EXPECT_FALSE(ok);
    EXPECT_EQ(msg, outError);
    EXPECT_EQ(FPushed,
              (std::vector<std::string>{Url("/opt/out/WayBill_v4/1"), Url("/opt/out/WayBill_v4/3")}));
    EXPECT_EQ(FUtmDocs, (std::set<std::string>{"/opt/out/WayBill_v4/2"}));
    const std::string inError =
        Url("/opt/out/WayBill_v4/2") + ": root element <ns:Documents> is not closed at the end";
    EXPECT_EQ(Count("[ERR] IN incomplete, left in the UTM: " + inError), 1u);
    ASSERT_EQ(FMarks.size(), 2u) << Log();
    EXPECT_EQ(FMarks[0], "error egaiss/agent/outbox/5/error " + outError);
    EXPECT_EQ(FMarks[1].rfind("sent egaiss/agent/outbox/6/sent ", 0), 0u) << FMarks[1];
    std::size_t posts = 0;
    for (const auto& request : FUtm.Requests())
        posts += request.Method == "POST" ? 1 : 0;
    EXPECT_EQ(posts, 1u) << "the cut-off outbox document never reaches the UTM";
    EXPECT_EQ(Count("[INFO] Sync DONE with errors in=2 out_ok=1 out_fail=1 in_incomplete=1"), 1u);

    // The next cycle tries the document again; with nothing else failing its reason is the outcome.
    FOutbox = "{\"documents\":[]}";
    std::tie(ok, msg) = Run();
    EXPECT_FALSE(ok);
    EXPECT_EQ(msg, "Incomplete document " + inError);
    EXPECT_EQ(FUtmDocs.size(), 1u);
    EXPECT_EQ(Count("[ERR] IN incomplete, left in the UTM: " + inError), 2u);
    ASSERT_EQ(FPings.size(), 2u);
    EXPECT_NE(FPings[1].find("\"last_error\":\"Incomplete document " + inError + "\""), std::string::npos)
        << FPings[1];
}

TEST(SyncTextTest, FlattenAndLastSegment) {
    EXPECT_EQ(FlattenForLog(" a\r\nb\nc\rd ", 100), "a b c d");
    EXPECT_EQ(FlattenForLog("абвгд", 3), "абв...");
    EXPECT_EQ(FlattenForLog("abc", 3), "abc");
    EXPECT_EQ(UrlLastSegment("http://h/opt/out/WayBill/17"), "17");
    EXPECT_EQ(UrlLastSegment("http://h/opt/out/WayBill/17//"), "17");
    EXPECT_EQ(UrlLastSegment("plain"), "plain");
    EXPECT_EQ(UrlLastSegment("///"), "///");
}

}  // namespace
}  // namespace egaiss
