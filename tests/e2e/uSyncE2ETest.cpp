// The real agent binary, in a folder of its own, moving documents between egaiss-sim's UTM and
// server: what each side holds afterwards, what the agent reports, and what it leaves alone.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/uFakeHttpServer.h"
#include "support/uSimProcess.h"

namespace egaiss {
namespace {

using test::CountOccurrences;
using test::JsonArray;
using test::JsonInt;
using test::JsonQuote;
using test::JsonText;
using test::TAgentFolder;
using test::TSimProcess;

struct TUtmDoc {
    std::string Type;
    std::string Xml;
};

// The documents waiting on the UTM, by URL.
std::map<std::string, TUtmDoc> WaitingDocs(const rapidjson::Value& utmState) {
    std::map<std::string, TUtmDoc> docs;
    for (const auto& doc : JsonArray(utmState, "documents").GetArray()) {
        docs[JsonText(doc, "url")] = {JsonText(doc, "type"), JsonText(doc, "xml")};
    }
    return docs;
}

std::vector<std::string> Texts(const rapidjson::Value& array, const char* member) {
    std::vector<std::string> texts;
    for (const auto& item : array.GetArray())
        texts.push_back(JsonText(item, member));
    return texts;
}

const rapidjson::Value* FindBy(const rapidjson::Value& array, const char* member, const std::string& value) {
    for (const auto& item : array.GetArray()) {
        if (JsonText(item, member) == value) return &item;
    }
    return nullptr;
}

class SyncE2ETest : public ::testing::Test {
protected:
    TSimProcess& StartSim(const std::vector<std::string>& args) {
        FSim = std::make_unique<TSimProcess>(EGAISS_SIM_EXE, "both", args);
        FAgent.WriteIni(test::AgentIniFor(*FSim));
        return *FSim;
    }

    test::TRunResult Sync() const { return FAgent.Run({"sync"}); }

    std::unique_ptr<TSimProcess> FSim;
    TAgentFolder FAgent{EGAISS_AGENT_EXE};
};

TEST_F(SyncE2ETest, MovesIncomingAndOutgoingDocumentsBothWays) {
    auto& sim = StartSim({"--docs", "3", "--outbox", "2"});
    const auto waiting = WaitingDocs(sim.Utm().State());
    const auto serverBefore = sim.Server().State();
    const auto queuedXml = Texts(JsonArray(serverBefore, "outbox"), "xml");
    ASSERT_EQ(waiting.size(), 3u);
    ASSERT_EQ(queuedXml.size(), 2u);

    const auto result = Sync();
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_EQ(result.Output, "OK: Sync finished\n");

    const auto utm = sim.Utm().State();
    const auto server = sim.Server().State();
    EXPECT_TRUE(JsonArray(utm, "documents").Empty());
    EXPECT_EQ(JsonArray(utm, "deleted").Size(), 3u);
    const auto& inbox = JsonArray(server, "inbox");
    ASSERT_EQ(inbox.Size(), 3u);
    for (const auto& [url, doc] : waiting) {
        SCOPED_TRACE(url);
        const auto* stored = FindBy(inbox, "utm_url", url);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(JsonText(*stored, "doc_type"), doc.Type);
        EXPECT_EQ(JsonText(*stored, "xml"), doc.Xml) << "the document reached the server changed";
    }

    const auto& received = JsonArray(utm, "received");
    ASSERT_EQ(received.Size(), 2u);
    const auto& outbox = JsonArray(server, "outbox");
    for (rapidjson::SizeType i = 0; i < outbox.Size(); ++i) {
        SCOPED_TRACE(JsonText(outbox[i], "doc_id"));
        EXPECT_EQ(JsonText(outbox[i], "status"), "sent");
        EXPECT_EQ(JsonText(received[i], "type"), JsonText(outbox[i], "doc_type"));
        EXPECT_EQ(JsonText(received[i], "xml"), queuedXml[i]);
        EXPECT_EQ(JsonText(received[i], "content_type"), "text/xml");
        // The server learns the UTM's receipt for the document.
        EXPECT_NE(JsonText(outbox[i], "utm_response").find(JsonText(received[i], "guid")), std::string::npos);
    }
    const auto& pings = JsonArray(server, "pings");
    ASSERT_FALSE(pings.Empty());
    EXPECT_EQ(JsonText(pings[pings.Size() - 1], "kind"), "sync_completed");
    EXPECT_NE(FAgent.Log().find("[INFO] Sync OK in=3 out=2"), std::string::npos);

    // Nothing is moved twice.
    const auto again = Sync();
    EXPECT_EQ(again.Output, "OK: Sync finished\n");
    EXPECT_NE(FAgent.Log().find("[INFO] Sync OK in=0 out=0"), std::string::npos);
    EXPECT_EQ(JsonArray(sim.Server().State(), "inbox").Size(), 3u);
    EXPECT_EQ(JsonArray(sim.Utm().State(), "received").Size(), 2u);
}

TEST_F(SyncE2ETest, SkipsKnownUrlsWithoutFetchingOrDeleting) {
    auto& sim = StartSim({"--docs", "3", "--outbox", "0"});
    std::vector<std::string> urls;
    for (const auto& [url, doc] : WaitingDocs(sim.Utm().State()))
        urls.push_back(url);
    ASSERT_EQ(urls.size(), 3u);
    sim.Server().Post("/sim/inbox", "{\"utm_urls\":[" + JsonQuote(urls[0]) + "," + JsonQuote(urls[2]) + "]}");

    const auto result = Sync();
    EXPECT_EQ(result.Output, "OK: Sync finished\n");

    const auto utm = sim.Utm().State();
    const auto& documents = JsonArray(utm, "documents");
    ASSERT_EQ(documents.Size(), 2u);
    for (const auto& doc : documents.GetArray()) {
        EXPECT_TRUE(JsonText(doc, "url") == urls[0] || JsonText(doc, "url") == urls[2]);
        EXPECT_EQ(JsonInt(doc, "fetches"), 0) << JsonText(doc, "url");
    }
    EXPECT_EQ(Texts(JsonArray(utm, "deleted"), "url"), std::vector<std::string>{urls[1]});
    EXPECT_EQ(JsonArray(sim.Server().State(), "inbox").Size(), 3u);
    const std::string log = FAgent.Log();
    EXPECT_EQ(CountOccurrences(log, "[INFO] IN skip (already known): "), 2);
    EXPECT_NE(log.find("[INFO] IN skipped known=2"), std::string::npos);
    EXPECT_NE(log.find("[INFO] Sync OK in=1 out=0"), std::string::npos);
}

TEST_F(SyncE2ETest, DuplicateOnTheServerIsStillDeletedFromTheUtm) {
    auto& sim = StartSim({"--docs", "2", "--outbox", "0"});
    const auto waiting = WaitingDocs(sim.Utm().State());
    ASSERT_EQ(waiting.size(), 2u);
    const std::string first = waiting.begin()->first;
    // The listing waits, so the server can learn the document after the agent read its known set.
    sim.Utm().SetFaults("{\"delay_ms\":3000,\"match\":\"/opt/out?refresh\"}");

    const auto agent = FAgent.Start({"sync"}, "sync.out");
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            const rapidjson::Document state = sim.Server().State();
            for (const auto& request : JsonArray(state, "requests").GetArray()) {
                if (JsonText(request, "target").find("inbox/known") != std::string::npos) return true;
            }
            return false;
        },
        std::chrono::seconds(20)));
    sim.Server().Post("/sim/inbox", "{\"utm_url\":" + JsonQuote(first) + ",\"doc_type\":\"" +
                                        waiting.begin()->second.Type + "\",\"xml\":\"<stored/>\"}");
    ASSERT_EQ(agent->Wait(std::chrono::seconds(60)), 0) << agent->Output();
    EXPECT_EQ(TAgentFolder::Output(*agent), "OK: Sync finished\n");

    const auto utm = sim.Utm().State();
    EXPECT_TRUE(JsonArray(utm, "documents").Empty());
    EXPECT_EQ(JsonArray(utm, "deleted").Size(), 2u);
    const auto server = sim.Server().State();
    EXPECT_EQ(JsonInt(server, "duplicates"), 1);
    int storedFirst = 0;
    for (const auto& doc : JsonArray(server, "inbox").GetArray())
        storedFirst += JsonText(doc, "utm_url") == first;
    EXPECT_EQ(storedFirst, 1);

    const std::string log = FAgent.Log();
    const std::string id = first.substr(first.rfind('/') + 1);
    const auto dupLine = log.find(" id=" + id + " (dup, not deleted from UTM yet)");
    ASSERT_NE(dupLine, std::string::npos) << log;
    EXPECT_NE(log.find("[INFO] IN DELETE " + first, dupLine), std::string::npos);
    EXPECT_NE(log.find("[INFO] Sync OK in=1 out=0"), std::string::npos);
}

TEST_F(SyncE2ETest, RefusedOutgoingDocumentIsMarkedErrorWhileTheOthersAreSent) {
    auto& sim = StartSim({"--docs", "0", "--outbox", "0"});
    sim.Server().Post("/sim/outbox", R"({"doc_id":"A-1","doc_type":"WayBillAct_v4"})");
    // The agent refuses an upload that is not XML before the UTM sees it; the UTM refuses the next one.
    sim.Server().Post("/sim/outbox",
                      R"({"doc_id":"B-2","doc_type":"QueryRests_v2","xml":"not an XML document"})");
    sim.Server().Post("/sim/outbox", R"({"doc_id":"C-3","doc_type":"QueryResendDoc"})");
    sim.Server().Post("/sim/outbox", R"({"doc_id":"D-4","doc_type":"QueryNATTN"})");
    sim.Utm().SetFaults(R"({"fail_next":1,"match":"/opt/in/QueryResendDoc"})");

    const auto result = Sync();
    EXPECT_EQ(result.ExitCode, 1);
    // The UTM's own wording of the refusal reaches the status.
    const std::string failure = "QueryResendDoc: UTM error: Simulated failure";
    EXPECT_EQ(result.Output, "FAILED: " + failure + "\n");

    const auto server = sim.Server().State();
    const auto& outbox = JsonArray(server, "outbox");
    ASSERT_EQ(outbox.Size(), 4u);
    EXPECT_EQ(JsonText(outbox[0], "status"), "sent");
    EXPECT_EQ(JsonText(outbox[1], "status"), "error");
    EXPECT_EQ(JsonText(outbox[1], "error"),
              "QueryRests_v2: Incomplete document: does not start with an element");
    EXPECT_EQ(JsonText(outbox[2], "status"), "error");
    EXPECT_EQ(JsonText(outbox[3], "status"), "sent");
    const std::string errorText = JsonText(outbox[2], "error");
    EXPECT_EQ(errorText, failure);

    EXPECT_EQ(Texts(JsonArray(sim.Utm().State(), "received"), "type"),
              (std::vector<std::string>{"WayBillAct_v4", "QueryNATTN"}));
    const auto& pings = JsonArray(server, "pings");
    ASSERT_FALSE(pings.Empty());
    const auto& last = pings[pings.Size() - 1];
    EXPECT_EQ(JsonText(last, "kind"), "error_only");
    EXPECT_EQ(JsonText(last["body"], "last_error"), errorText);
    EXPECT_NE(FAgent.Log().find("[INFO] Sync DONE with errors in=0 out_ok=2 out_fail=2"), std::string::npos);
}

TEST_F(SyncE2ETest, UnreachableUtmGivesOneFailureAndOneErrorPingOnly) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "nothing listens on the UTM port" : "the UTM resets every connection");
        TSimProcess sim(EGAISS_SIM_EXE, "both", {"--docs", "2", "--outbox", "1"});
        TAgentFolder agent(EGAISS_AGENT_EXE);
        auto ini = test::AgentIniFor(sim);
        if (refused) {
            ini.UtmPort = test::RefusedLoopbackPort();
        } else {
            sim.Utm().SetFaults(R"({"down":true})");
        }
        agent.WriteIni(ini);
        const std::string utmURL = "http://127.0.0.1:" + std::to_string(ini.UtmPort);

        const auto result = agent.Run({"sync"});
        EXPECT_EQ(result.ExitCode, 1);
        EXPECT_EQ(result.Output, "FAILED: UTM unavailable: " + utmURL + "\n");

        const std::string log = agent.Log();
        EXPECT_EQ(CountOccurrences(log, "[ERR] UTM ping FAILED: UTM unavailable: " + utmURL), 1);
        EXPECT_EQ(log.find("Sync.known_inbox"), std::string::npos);
        const auto server = sim.Server().State();
        EXPECT_EQ(JsonInt(server, "request_count"), 1);
        const auto& pings = JsonArray(server, "pings");
        ASSERT_EQ(pings.Size(), 1u);
        EXPECT_EQ(JsonText(pings[0], "kind"), "error_only");
        EXPECT_EQ(JsonText(pings[0]["body"], "last_error"), "UTM unavailable: " + utmURL);
        EXPECT_EQ(JsonText(JsonArray(server, "outbox")[0], "status"), "queued");
        const auto utm = sim.Utm().State();
        EXPECT_EQ(JsonInt(utm, "request_count"), refused ? 0 : 1);
        EXPECT_EQ(JsonArray(utm, "documents").Size(), 2u);
    }
}

TEST_F(SyncE2ETest, RefusedSecretReachesTheStatusAndTouchesNoDocument) {
    auto& sim = StartSim({"--docs", "2", "--outbox", "1"});
    auto ini = test::AgentIniFor(sim);
    ini.AgentSecret = "not-the-secret";
    FAgent.WriteIni(ini);

    const auto result = Sync();
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Output, "FAILED: HTTP 401: Invalid agent credentials\n");

    const auto server = sim.Server().State();
    EXPECT_EQ(JsonInt(server, "unauthorized"), 2) << "the known-set request and the error ping";
    EXPECT_TRUE(JsonArray(server, "inbox").Empty());
    EXPECT_EQ(JsonText(JsonArray(server, "outbox")[0], "status"), "queued");
    const rapidjson::Document utm = sim.Utm().State();
    for (const auto& doc : JsonArray(utm, "documents").GetArray()) {
        EXPECT_EQ(JsonInt(doc, "fetches"), 0);
    }
    const std::string log = FAgent.Log();
    EXPECT_NE(log.find("[ERR] Sync FAILED: EHttpError: HTTP 401: Invalid agent credentials"),
              std::string::npos);
    EXPECT_NE(log.find("[EXC] ReportSyncError ping | EHttpError: HTTP 401: "), std::string::npos);
}

TEST_F(SyncE2ETest, FailedFetchLeavesTheRestForTheNextCycleEvenWithGzipBodies) {
    auto& sim = StartSim({"--docs", "0", "--outbox", "1", "--gzip"});
    std::vector<std::string> urls;
    const std::string added = sim.Utm().Post("/sim/docs", R"({"count":5,"type":"WayBill_v4"})");
    rapidjson::Document addedJson;
    addedJson.Parse(added.c_str());
    urls = Texts(JsonArray(addedJson, "added"), "url");
    ASSERT_EQ(urls.size(), 5u);
    const auto waiting = WaitingDocs(sim.Utm().State());
    sim.Utm().SetFaults("{\"fail_next\":1,\"match\":\"" + urls[1].substr(urls[1].find("/opt/")) + "\"}");

    const auto failed = Sync();
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_EQ(failed.Output.rfind("FAILED: GET документ из УТМ: HTTP 500: ", 0), 0u) << failed.Output;
    auto utm = sim.Utm().State();
    EXPECT_EQ(Texts(JsonArray(utm, "deleted"), "url"), std::vector<std::string>{urls[0]});
    EXPECT_EQ(Texts(JsonArray(utm, "documents"), "url"),
              std::vector<std::string>(urls.begin() + 1, urls.end()));
    auto server = sim.Server().State();
    EXPECT_EQ(JsonInt(JsonArray(server, "outbox")[0], "offered"), 0) << "the outgoing part waits";
    const auto& pings = JsonArray(server, "pings");
    ASSERT_EQ(pings.Size(), 1u);
    EXPECT_EQ("FAILED: " + JsonText(pings[0]["body"], "last_error") + "\n", failed.Output);

    const auto next = Sync();
    EXPECT_EQ(next.Output, "OK: Sync finished\n");
    utm = sim.Utm().State();
    server = sim.Server().State();
    EXPECT_TRUE(JsonArray(utm, "documents").Empty());
    EXPECT_EQ(JsonText(JsonArray(server, "outbox")[0], "status"), "sent");
    const auto& inbox = JsonArray(server, "inbox");
    ASSERT_EQ(inbox.Size(), 5u);
    for (const auto& [url, doc] : waiting) {
        const auto* stored = FindBy(inbox, "utm_url", url);
        ASSERT_NE(stored, nullptr) << url;
        EXPECT_EQ(JsonText(*stored, "xml"), doc.Xml) << url;
    }
}

TEST_F(SyncE2ETest, HeadlessAgentSyncsAtEveryStartAndStopsCleanly) {
    auto& sim = StartSim({"--docs", "2", "--outbox", "1"});
    FAgent.StartHeadless();
    ASSERT_TRUE(FAgent.WaitForLog("[STEP] Sync.thread_leave", std::chrono::seconds(30))) << FAgent.Log();
    ASSERT_TRUE(FAgent.WaitForLog("[INFO] Diagnosis FSRAR_ID=030000123456", std::chrono::seconds(30)));
    auto server = sim.Server().State();
    EXPECT_TRUE(JsonArray(sim.Utm().State(), "documents").Empty());
    EXPECT_EQ(JsonArray(server, "inbox").Size(), 2u);
    const auto* diagnosis = FindBy(JsonArray(server, "pings"), "kind", "diagnosis");
    ASSERT_NE(diagnosis, nullptr);
    const auto& report = (*diagnosis)["body"]["utm_diagnosis"];
    EXPECT_EQ(JsonText(report, "fsrar_id"), "030000123456");
    EXPECT_EQ(JsonText(report, "utm_version"), "4.2.0");

    sim.Utm().Post("/sim/docs", R"({"count":3})");
    sim.Server().Post("/sim/outbox", R"({"count":2})");
    EXPECT_EQ(FAgent.StopHeadless(), 0);
    EXPECT_NE(FAgent.Log().find("[INFO] Agent stopped"), std::string::npos);

    FAgent.StartHeadless();
    ASSERT_TRUE(FAgent.WaitForLog("[STEP] Sync.thread_leave", std::chrono::seconds(30), 2)) << FAgent.Log();
    server = sim.Server().State();
    EXPECT_TRUE(JsonArray(sim.Utm().State(), "documents").Empty());
    EXPECT_EQ(JsonArray(server, "inbox").Size(), 5u);
    for (const auto& doc : JsonArray(server, "outbox").GetArray())
        EXPECT_EQ(JsonText(doc, "status"), "sent");
    EXPECT_EQ(FAgent.StopHeadless(), 0);
    EXPECT_EQ(CountOccurrences(FAgent.Log(), "[INFO] Agent stopped"), 2);
}

// Nothing waits in a buffer: each line is in agent.log once its call returned, so a killed agent
// leaves the line it wrote before every DELETE the UTM saw.
TEST_F(SyncE2ETest, LinesWrittenBeforeAKillAreAllInTheLog) {
    auto& sim = StartSim({"--docs", "200", "--outbox", "0", "--delay-ms", "5"});
    test::TChildProcess& agent = FAgent.StartHeadless();
    ASSERT_TRUE(FAgent.WaitForLog("[INFO] IN DELETE ", std::chrono::seconds(60), 5)) << FAgent.Log();
    agent.Signal(SIGKILL);
    ASSERT_TRUE(agent.Wait(std::chrono::seconds(10)).has_value());

    const std::string log = FAgent.Log();
    const auto utm = sim.Utm().State();
    const auto& deleted = JsonArray(utm, "deleted");
    ASSERT_GE(deleted.Size(), 4u);
    ASSERT_LT(deleted.Size(), 200u) << "the sync ended before the kill";
    for (const auto& doc : deleted.GetArray()) {
        const std::string url = JsonText(doc, "url");
        EXPECT_NE(log.find("[STEP] Sync.in_delete | " + url + "\r\n"), std::string::npos) << url;
        EXPECT_NE(log.find("[INFO] IN DELETE " + url + "\r\n"), std::string::npos) << url;
    }
    EXPECT_TRUE(log.ends_with("\r\n"));
}

}  // namespace
}  // namespace egaiss
