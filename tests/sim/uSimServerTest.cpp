#include "uSimServer.h"
#include "uSimTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace egaiss::sim::test {
namespace {

using TServer = TRunningSim<TSimServer, TServerSettings>;

TServerSettings Settings(int outbox = 0) {
    TServerSettings settings;
    settings.AgentId = "shop-7";
    settings.Secret = "s3cret";
    settings.Outbox = outbox;
    return settings;
}

const httplib::Headers kAgent = {{"X-Egaiss-Agent-Id", "shop-7"}, {"X-Egaiss-Agent-Secret", "s3cret"}};

std::string Route(const std::string& encoded) {
    return "/api/public?route=" + encoded;
}

rapidjson::Document Json(const httplib::Result& res) {
    rapidjson::Document doc;
    if (res) doc.Parse(res->body.c_str());
    return doc;
}

httplib::Result PostJson(httplib::Client& client, const std::string& path, const std::string& body) {
    return client.Post(path.c_str(), kAgent, body, "application/json; charset=utf-8");
}

TEST(SimServer, RefusesAWrongIdOrSecretWith401AndAnErrorMember) {
    TServer server(Settings());
    auto client = server.Client();
    const std::string known = Route("egaiss%2Fagent%2Finbox%2Fknown");
    auto missing = client.Get(known.c_str());
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 401);
    EXPECT_TRUE(Json(missing)["error"].IsString());
    const httplib::Headers wrong = {{"X-Egaiss-Agent-Id", "shop-7"}, {"X-Egaiss-Agent-Secret", "nope"}};
    EXPECT_EQ(client.Get(known.c_str(), wrong)->status, 401);
    EXPECT_EQ(client.Get(known.c_str(), kAgent)->status, 200);
    EXPECT_EQ(server.State()["unauthorized"].GetInt(), 2);
}

TEST(SimServer, InboxReportsADuplicateByExactUrl) {
    TServer server(Settings());
    auto client = server.Client();
    const std::string inbox = Route("egaiss%2Fagent%2Finbox");
    const std::string body =
        R"({"utm_url":"http://127.0.0.1:8080/opt/out/WayBill_v4/1","doc_type":"WayBill_v4","xml":"<a>Накладная</a>"})";
    EXPECT_FALSE(Json(PostJson(client, inbox, body))["duplicate"].GetBool());
    EXPECT_TRUE(Json(PostJson(client, inbox, body))["duplicate"].GetBool());
    const std::string other_case = R"({"utm_url":"http://127.0.0.1:8080/opt/out/waybill_v4/1"})";
    EXPECT_FALSE(Json(PostJson(client, inbox, other_case))["duplicate"].GetBool());
    EXPECT_EQ(PostJson(client, inbox, R"({"doc_type":"x"})")->status, 400);
    EXPECT_EQ(PostJson(client, inbox, "not json")->status, 400);

    const auto known = Json(client.Get(Route("egaiss%2Fagent%2Finbox%2Fknown").c_str(), kAgent));
    ASSERT_EQ(known["utm_urls"].Size(), 2U);
    EXPECT_STREQ(known["utm_urls"][0].GetString(), "http://127.0.0.1:8080/opt/out/WayBill_v4/1");
    const auto state = server.State();
    EXPECT_STREQ(state["inbox"][0]["xml"].GetString(), "<a>Накладная</a>");
    EXPECT_EQ(state["duplicates"].GetInt(), 1);
}

TEST(SimServer, CommandPollAnswersSyncNowOnceAfterItWasRequested) {
    TServer server(Settings());
    auto client = server.Client();
    const std::string ping = Route("egaiss%2Fagent%2Fping");
    const std::string poll = R"({"version":"0.4.3","command_poll":true})";
    EXPECT_FALSE(Json(PostJson(client, ping, poll))["sync_now"].GetBool());
    client.Post("/sim/sync-now", "{}", "application/json");
    EXPECT_FALSE(Json(PostJson(client, ping, R"({"version":"0.4.3","last_error":"x","error_only":true})"))
                     .HasMember("sync_now"))
        << "an ordinary ping does not consume the request";
    EXPECT_TRUE(Json(PostJson(client, ping, poll))["sync_now"].GetBool());
    EXPECT_FALSE(Json(PostJson(client, ping, poll))["sync_now"].GetBool());

    const auto state = server.State();
    ASSERT_EQ(state["pings"].Size(), 4U);
    EXPECT_STREQ(state["pings"][1]["kind"].GetString(), "error_only");
    EXPECT_STREQ(state["pings"][1]["body"]["last_error"].GetString(), "x");
    EXPECT_TRUE(state["pings"][2]["sync_now"].GetBool());
    EXPECT_EQ(state["sync_now_served"].GetInt(), 1);
}

TEST(SimServer, MarksAndClearsChangeTheOutboxStatus) {
    TServer server(Settings(3));
    auto client = server.Client();
    const auto outbox = Json(client.Get(Route("egaiss%2Fagent%2Foutbox").c_str(), kAgent));
    ASSERT_EQ(outbox["documents"].Size(), 3U);
    EXPECT_STREQ(outbox["documents"][0]["doc_id"].GetString(), "1001");
    EXPECT_STREQ(outbox["documents"][0]["doc_type"].GetString(), "WayBillAct_v4");
    EXPECT_NE(std::string(outbox["documents"][0]["xml"].GetString()).find("<ns:WayBillAct_v4>"),
              std::string::npos);

    client.Post("/sim/outbox", R"({"doc_id":"док 1/a+b","doc_type":"QueryNATTN"})", "application/json");
    EXPECT_EQ(PostJson(client, Route("egaiss%2Fagent%2Foutbox%2F1001%2Fsent"),
                       R"({"utm_url":"g","utm_response":"r"})")
                  ->status,
              200);
    EXPECT_EQ(
        PostJson(client, Route("egaiss%2Fagent%2Foutbox%2F1002%2Ferror"), R"({"error":"HTTP 400: отказ"})")
            ->status,
        200);
    EXPECT_EQ(PostJson(client, Route("egaiss%2Fagent%2Foutbox%2F%D0%B4%D0%BE%D0%BA%201%2Fa%2Bb%2Fsent"), "{}")
                  ->status,
              200);
    EXPECT_EQ(PostJson(client, Route("egaiss%2Fagent%2Foutbox%2F999%2Fsent"), "{}")->status, 404);

    const auto status = Json(client.Get(Route("egaiss%2Fagent%2Foutbox%2Fstatus").c_str(), kAgent));
    EXPECT_EQ(status["counts"]["queued"].GetInt(), 1);
    EXPECT_EQ(status["counts"]["error"].GetInt(), 1);
    EXPECT_TRUE(status["documents"][0]["error"].IsNull());
    EXPECT_STREQ(status["documents"][1]["error"].GetString(), "HTTP 400: отказ");

    const auto cleared = Json(PostJson(client, Route("egaiss%2Fagent%2Foutbox%2Fclear"),
                                       R"({"statuses":["error","queued"],"reason":"r"})"));
    EXPECT_EQ(cleared["cleared"].GetInt(), 2);
    EXPECT_EQ(Json(client.Get(Route("egaiss%2Fagent%2Foutbox").c_str(), kAgent))["documents"].Size(), 0U);
    const auto state = server.State();
    EXPECT_EQ(state["counts"]["sent"].GetInt(), 2);
    EXPECT_EQ(state["counts"]["cancelled"].GetInt(), 2);
    EXPECT_STREQ(state["marks"][2]["doc_id"].GetString(), "док 1/a+b");
}

// Tests and the demo queue documents through /sim/outbox; a request it cannot honour must change
// nothing and say why.
TEST(SimServer, QueuesOutboxDocumentsOnRequestAndRefusesBadRequestsWithoutChange) {
    TServer server(Settings());
    auto client = server.Client();
    const auto queue = [&](const std::string& body) {
        return client.Post("/sim/outbox", body, "application/json");
    };
    for (const char* bad :
         {R"({"count":0})", R"({"count":10001})", R"({"doc_type":"Way Bill"})", R"({"xml":"<a/>"})",
          R"({"doc_id":"","count":1})", R"({"doc_id":"7","count":2})", "[1]"}) {
        const auto res = queue(bad);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << bad;
        EXPECT_TRUE(Json(res)["error"].IsString()) << bad;
    }
    EXPECT_EQ(server.State()["counts"]["outbox"].GetInt(), 0);

    EXPECT_EQ(queue(R"({"doc_id":"7","doc_type":"QueryRests_v2","xml":"<q>Остатки</q>"})")->status, 200);
    EXPECT_EQ(queue(R"({"doc_id":"7"})")->status, 409);
    const auto added = Json(queue(R"({"count":2})"));
    EXPECT_EQ(added["added"].Size(), 2U);
    const auto state = server.State();
    EXPECT_EQ(state["counts"]["queued"].GetInt(), 3);
    EXPECT_STREQ(state["outbox"][0]["xml"].GetString(), "<q>Остатки</q>");
}

TEST(SimServer, ServesTheDownloadFolderUnderAnyApiFolder) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("egaiss-sim-dl-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "pkg");
    std::ofstream(folder / "egaiss-agent.json") << R"({"version":"0.4.4"})";
    std::ofstream(folder / "pkg" / "jre.txt") << "jre";
    TServerSettings settings = Settings();
    settings.DownloadDir = folder.string();
    {
        TServer server(settings);
        auto client = server.Client();
        auto manifest = client.Get("/shop/download/egaiss-agent.json");
        ASSERT_TRUE(manifest);
        EXPECT_EQ(manifest->status, 200);
        EXPECT_EQ(manifest->body, R"({"version":"0.4.4"})");
        EXPECT_EQ(client.Get("/download/pkg/jre.txt")->body, "jre");
        EXPECT_EQ(client.Get("/download/missing.json")->status, 404);
        EXPECT_EQ(client.Get("/download/pkg/%2e%2e/egaiss-agent.json")->status, 404);
        EXPECT_EQ(server.State()["downloads"].Size(), 4U);
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace egaiss::sim::test
