// Many sync cycles of the real agent against both simulators with failures, dropped connections,
// delays and gzip bodies switched on, then a check that no document was lost, stored twice,
// deleted from the UTM before the server had it, or left unanswered in the outbox.
//
// Cycles come from repeated `sync` runs (each one real cycle under the data folder's lock) with a
// headless agent phase in the middle; the headless agent syncs at start and then every 60 s.
//   EGAISS_SOAK_CYCLES            `sync` runs (default 30)
//   EGAISS_SOAK_HEADLESS_SECONDS  how long the headless agent runs after its first cycle (default 5;
//                                 60 or more adds timer cycles)
//   EGAISS_SOAK_SEED              seed of the simulators' faults and documents (default 1)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

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

int EnvInt(const char* name, int fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return fallback;
    return std::atoi(value);
}

struct TOffered {
    std::string Type;
    std::string Xml;
};

// What the test put on the UTM, by URL: the documents of the simulator's start plus those it added.
class TSoakFeeder {
public:
    explicit TSoakFeeder(const TSimProcess& sim) : FSim(sim) {
        const rapidjson::Document utm = FSim.Utm().State();
        for (const auto& doc : JsonArray(utm, "documents").GetArray()) {
            FOffered[JsonText(doc, "url")] = {JsonText(doc, "type"), JsonText(doc, "xml")};
        }
    }

    // New documents on both sides. The incoming ones carry the test's own XML, so that their content
    // is known even when the agent moves them before the next look at the UTM.
    void Feed() {
        static const char* const types[] = {"WayBill_v4", "FORM2REGINFO", "Ticket", "ReplyRests_v2"};
        const int incoming = 1 + FRound % 3;
        for (int i = 0; i < incoming; ++i) {
            const std::string type = types[(FRound + i) % 4];
            const std::string xml =
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ns:Documents xmlns:ns=\"" +
                std::string("http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\"><ns:Note>Документ ") +
                std::to_string(FRound) + "." + std::to_string(i) + " «проверка»\t\\ \"</ns:Note>" +
                std::string(static_cast<std::size_t>(200 * (FRound % 7)), 'x') + "</ns:Documents>";
            rapidjson::Document added;
            const std::string answer =
                FSim.Utm().Post("/sim/docs", "{\"type\":\"" + type + "\",\"xml\":" + JsonQuote(xml) + "}");
            added.Parse(answer.c_str());
            for (const auto& doc : JsonArray(added, "added").GetArray())
                FOffered[JsonText(doc, "url")] = {type, xml};
        }
        // Outgoing ones are unique too, so that a document the UTM got twice shows.
        for (int i = 0; i < 1 + FRound % 2; ++i) {
            const std::string xml =
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ns:Documents xmlns:ns=\"" +
                std::string("http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\"><ns:Note>Исходящий ") +
                std::to_string(FRound) + "." + std::to_string(i) + "</ns:Note></ns:Documents>";
            FSim.Server().Post("/sim/outbox",
                               "{\"doc_type\":\"QueryRests_v2\",\"xml\":" + JsonQuote(xml) + "}");
        }
        ++FRound;
    }

    const std::map<std::string, TOffered>& Offered() const { return FOffered; }

private:
    const TSimProcess& FSim;
    std::map<std::string, TOffered> FOffered;
    int FRound = 0;
};

struct TStoreCheck {
    int Stored = 0;     // on the server
    int Stranded = 0;   // on the server and still on the UTM (stored, the delete failed)
    int OnlyOnUtm = 0;  // not moved yet
};

// Every offered document is on the server exactly once, unchanged, or still on the UTM; nothing
// left the UTM before the server stored it.
TStoreCheck CheckNoDocumentLost(const TSimProcess& sim, const TSoakFeeder& feeder) {
    const auto utm = sim.Utm().State();
    const auto server = sim.Server().State();
    std::map<std::string, std::vector<const rapidjson::Value*>> stored;
    for (const auto& doc : JsonArray(server, "inbox").GetArray())
        stored[JsonText(doc, "utm_url")].push_back(&doc);
    std::set<std::string> waiting;
    for (const auto& doc : JsonArray(utm, "documents").GetArray())
        waiting.insert(JsonText(doc, "url"));

    TStoreCheck check;
    for (const auto& [url, offered] : feeder.Offered()) {
        SCOPED_TRACE(url);
        const auto it = stored.find(url);
        if (it == stored.end()) {
            EXPECT_EQ(waiting.count(url), 1u) << "neither on the server nor on the UTM";
            ++check.OnlyOnUtm;
            continue;
        }
        EXPECT_EQ(it->second.size(), 1u) << "stored more than once";
        EXPECT_EQ(JsonText(*it->second.front(), "doc_type"), offered.Type);
        EXPECT_EQ(JsonText(*it->second.front(), "xml"), offered.Xml) << "stored changed";
        ++check.Stored;
        check.Stranded += static_cast<int>(waiting.count(url));
    }
    for (const auto& deleted : JsonArray(utm, "deleted").GetArray()) {
        const std::string url = JsonText(deleted, "url");
        SCOPED_TRACE("deleted " + url);
        EXPECT_EQ(feeder.Offered().count(url), 1u) << "a document the test never offered";
        const auto it = stored.find(url);
        if (it == stored.end()) {
            ADD_FAILURE() << "deleted from the UTM, never stored on the server";
            continue;
        }
        EXPECT_LE(JsonInt(*it->second.front(), "at_ms"), JsonInt(deleted, "at_ms"))
            << "deleted from the UTM before the server stored it";
    }
    return check;
}

// Every outbox document is marked; what is marked sent reached the UTM unchanged.
struct TOutboxCheck {
    int Sent = 0;
    int Failed = 0;
    int FailedButDelivered = 0;  // the UTM took it, marking it sent failed
    int DeliveredTwice = 0;      // neither mark reached the server, so the next cycle sent it again
};

TOutboxCheck CheckOutboxAnswered(const TSimProcess& sim) {
    const auto server = sim.Server().State();
    const auto utm = sim.Utm().State();
    std::map<std::string, const rapidjson::Value*> received;
    std::map<std::string, int> receivedXml;
    for (const auto& doc : JsonArray(utm, "received").GetArray()) {
        received[JsonText(doc, "guid")] = &doc;
        ++receivedXml[JsonText(doc, "xml")];
    }
    TOutboxCheck check;
    for (const auto& doc : JsonArray(server, "outbox").GetArray()) {
        const std::string status = JsonText(doc, "status");
        SCOPED_TRACE(JsonText(doc, "doc_id") + " " + status);
        EXPECT_TRUE(status == "sent" || status == "error");
        const int deliveries = receivedXml[JsonText(doc, "xml")];
        check.DeliveredTwice += deliveries > 1;
        if (status == "error") {
            EXPECT_FALSE(JsonText(doc, "error").empty());
            ++check.Failed;
            check.FailedButDelivered += deliveries > 0;
            continue;
        }
        ++check.Sent;
        const std::string response = JsonText(doc, "utm_response");
        const rapidjson::Value* receipt = nullptr;
        for (const auto& [guid, item] : received) {
            if (response.find(guid) != std::string::npos) receipt = item;
        }
        if (receipt == nullptr) {
            ADD_FAILURE() << "marked sent without a receipt of the UTM: " << response;
            continue;
        }
        EXPECT_EQ(JsonText(*receipt, "type"), JsonText(doc, "doc_type"));
        EXPECT_EQ(JsonText(*receipt, "xml"), JsonText(doc, "xml"));
    }
    return check;
}

void ExpectNoUnhandledFailure(const TAgentFolder& agent) {
    const std::string log = agent.Log();
    // The cycle reports its failures itself; these contexts only catch what escaped it.
    for (const char* escaped : {"[EXC] Sync thread", "[EXC] Sync command", "Application.OnException",
                                "Startup.after_env", "terminate called"}) {
        EXPECT_EQ(log.find(escaped), std::string::npos) << escaped;
    }
    EXPECT_FALSE(std::filesystem::exists(agent.File("agent_crash.log")));
}

TEST(NoDocumentLostSoakTest, ManyCyclesWithFaultsLoseNothing) {
    const int cycles = EnvInt("EGAISS_SOAK_CYCLES", 30);
    const int headlessSeconds = EnvInt("EGAISS_SOAK_HEADLESS_SECONDS", 5);
    const std::string seed = std::to_string(EnvInt("EGAISS_SOAK_SEED", 1));
    std::cout << "soak: " << cycles << " sync runs, headless " << headlessSeconds << " s, seed " << seed
              << "\n";

    // The faults hit both simulators.
    TSimProcess sim(EGAISS_SIM_EXE, "both",
                    {"--docs", "8", "--outbox", "0", "--seed", seed, "--fail-rate", "0.06", "--drop-rate",
                     "0.04", "--delay-ms", "5", "--gzip"});
    TSoakFeeder feeder(sim);
    TAgentFolder agent(EGAISS_AGENT_EXE);
    agent.WriteIni(test::AgentIniFor(sim));

    int okRuns = 0;
    int failedRuns = 0;
    const auto runSync = [&] {
        const auto result = agent.Run({"sync"}, std::chrono::minutes(5));
        // 0 and 1 are a cycle's outcome; anything else is a crash or a lock left behind.
        ASSERT_TRUE(result.ExitCode == 0 || result.ExitCode == 1) << result.ExitCode << " " << result.Output;
        ASSERT_EQ(result.Output.rfind(result.ExitCode == 0 ? "OK: " : "FAILED: ", 0), 0u) << result.Output;
        (result.ExitCode == 0 ? okRuns : failedRuns) += 1;
    };

    for (int cycle = 0; cycle < cycles; ++cycle) {
        feeder.Feed();
        if (cycle == cycles / 2) {
            auto& headless = agent.StartHeadless();
            ASSERT_TRUE(agent.WaitForLog("[STEP] Sync.thread_leave", std::chrono::minutes(2)))
                << headless.Output();
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(headlessSeconds);
            while (std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::seconds(std::min(5, headlessSeconds)));
                feeder.Feed();
                ASSERT_FALSE(headless.Wait(std::chrono::milliseconds(0))) << "the headless agent ended";
            }
            ASSERT_FALSE(headless.Wait(std::chrono::milliseconds(0))) << "the headless agent ended";
            EXPECT_EQ(agent.StopHeadless(), 0) << headless.Output();
        }
        runSync();
        if (HasFatalFailure()) return;
    }
    const TStoreCheck underFaults = CheckNoDocumentLost(sim, feeder);
    std::cout << "under faults: " << okRuns << " runs OK, " << failedRuns << " failed; " << underFaults.Stored
              << " of " << feeder.Offered().size() << " documents stored\n";
    EXPECT_GT(failedRuns, 0) << "the faults never hit a cycle";

    // With the faults gone one cycle moves everything that can still move.
    for (const auto& control : {sim.Utm(), sim.Server()}) {
        control.SetFaults(R"({"fail_rate":0,"drop_rate":0,"delay_ms":0,"gzip":false})");
    }
    const auto clean = agent.Run({"sync"});
    EXPECT_EQ(clean.Output, "OK: Sync finished\n");

    const TStoreCheck drained = CheckNoDocumentLost(sim, feeder);
    EXPECT_EQ(drained.OnlyOnUtm, 0) << "documents the server does not know are still waiting";
    const TOutboxCheck outbox = CheckOutboxAnswered(sim);
    std::cout << "final: " << drained.Stored << " stored, " << drained.Stranded
              << " stored but left on the UTM (known, so never deleted); outbox " << outbox.Sent << " sent, "
              << outbox.Failed << " error (" << outbox.FailedButDelivered << " of them delivered), "
              << outbox.DeliveredTwice << " delivered to the UTM more than once\n";
    ExpectNoUnhandledFailure(agent);
}

}  // namespace
}  // namespace egaiss
