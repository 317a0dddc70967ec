#include "clients/uVelmoraApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "clients/uHttpErrors.h"
#include "core/uEgaissLog.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using test::TFakeRequest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// "Ошибка"
const std::string& Cyrillic() {
    static const std::string text = "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0";
    return text;
}
const std::string& CyrillicEscaped() {
    static const std::string text = "\\u041E\\u0448\\u0438\\u0431\\u043A\\u0430";
    return text;
}

// A server that answers every route with the answer set last (status 200 and "{}" at first).
class VelmoraApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto answer = [this](const TFakeRequest&, httplib::Response& res) {
            const std::lock_guard<std::mutex> guard(FLock);
            res.status = FStatus;
            res.set_content(FAnswer, "application/json");
        };
        FServer.Get("/api/index.php", answer);
        FServer.Post("/api/index.php", answer);
        FServer.Start();
        FCfg.ServerURL = FServer.BaseURL() + "/api/index.php";
        FCfg.AgentID = "agent-7";
        FCfg.AgentSecret = "s3cret";
    }

    void Answer(const std::string& body, int status = 200) {
        const std::lock_guard<std::mutex> guard(FLock);
        FAnswer = body;
        FStatus = status;
    }

    std::string LastBody() const { return FServer.LastRequest().Body; }
    std::string LastRoute() const { return FServer.LastRequest().Param("route"); }

    // The headers the client chose, in the order they arrived.
    static std::vector<std::pair<std::string, std::string>> OwnHeaders(const TFakeRequest& request) {
        std::vector<std::pair<std::string, std::string>> own;
        for (const auto& header : request.Headers) {
            if (header.first == "Content-Type" || header.first == "Accept" ||
                header.first.rfind("X-Egaiss-", 0) == 0) {
                own.push_back(header);
            }
        }
        return own;
    }

    test::TTempDataDir FDataDir;
    test::TFakeHttpServer FServer;
    TEgaissConfig FCfg;
    std::mutex FLock;
    std::string FAnswer = "{}";
    int FStatus = 200;
};

TEST(VelmoraRouteTest, RouteURLEncodesTheRouteAfterQuestionMarkOrAmpersand) {
    TEgaissConfig cfg;
    cfg.ServerURL = "http://example.invalid/api/index.php";  // not loopback: normalised to https
    EXPECT_EQ(TVelmoraApi(cfg).RouteURL("egaiss/agent/ping"),
              "https://example.invalid/api/index.php?route=egaiss%2Fagent%2Fping");
    cfg.ServerURL = "http://127.0.0.1:1/x?site=2";
    EXPECT_EQ(TVelmoraApi(cfg).RouteURL("a-b.c_d~e/\xD0\xAF &"),
              "http://127.0.0.1:1/x?site=2&route=a-b.c_d~e%2F%D0%AF%20%26");
}

TEST(VelmoraRouteTest, JsonEscapeKeepsNonAsciiRaw) {
    EXPECT_EQ(JsonEscape("a\"b\\c/\b\t\n\f\r\x01\x1F\x7F" + Cyrillic()),
              "a\\\"b\\\\c/\\b\\t\\n\\f\\r\\u0001\\u001F\x7F" + Cyrillic());
    // Long plain runs are looked through a word at a time; an escape anywhere in a word is found.
    const std::string run = "<Documents Version=1.0>" + Cyrillic();
    for (std::size_t at = 0; at <= run.size(); ++at) {
        std::string text = run;
        text.insert(at, "\"");
        std::string expected = run;
        expected.insert(at, "\\\"");
        EXPECT_EQ(JsonEscape(text + run + "\n"), expected + run + "\\n") << at;
    }
}

TEST_F(VelmoraApiTest, PingBodiesAreCompactWithOptionalMembersLeftOut) {
    TVelmoraApi api(FCfg);
    TUtmDiagnosis diagnosis;
    diagnosis.OK = true;
    diagnosis.UtmReachable = true;
    diagnosis.FsrarId = "030000123456";
    diagnosis.CertCn = "FSRAR-RSA-030000123456";
    diagnosis.CertO = Cyrillic();
    diagnosis.CertOu = "Shop \"1\"";
    diagnosis.UtmVersion = "4.2.0";
    api.PingWithDiagnosis("1.2.3", diagnosis, "", false);
    EXPECT_EQ(LastRoute(), "egaiss/agent/ping");
    EXPECT_EQ(LastBody(), R"({"version":"1.2.3","utm_diagnosis":{"ok":true,"fsrar_id":"030000123456",)"
                          R"("cert_cn":"FSRAR-RSA-030000123456","cert_o":")" +
                              CyrillicEscaped() +
                              R"(","cert_ou":"Shop \"1\"","utm_version":"4.2.0","utm_reachable":true}})");

    TUtmDiagnosis unreachable;
    unreachable.ErrorText = "HTTP unavailable";
    api.PingWithDiagnosis("1.2.3", unreachable, "last\r\n", true);
    EXPECT_EQ(LastBody(),
              R"({"version":"1.2.3","last_error":"last\r\n","sync_completed":true,"utm_diagnosis":)"
              R"({"ok":false,"fsrar_id":"","cert_cn":"","cert_o":"","cert_ou":"","utm_version":"",)"
              R"("utm_reachable":false,"error":"HTTP unavailable"}})");

    api.PingSyncCompleted("1.2.3");
    EXPECT_EQ(LastBody(), R"({"version":"1.2.3","sync_completed":true,"error_only":true,"last_error":""})");
    api.PingErrorOnly("1.2.3", "UTM unavailable: http://127.0.0.1:8080");
    EXPECT_EQ(
        LastBody(),
        R"({"version":"1.2.3","last_error":"UTM unavailable: http://127.0.0.1:8080","error_only":true})");
    api.PollSyncCommand("1.2.3");
    EXPECT_EQ(LastBody(), R"({"version":"1.2.3","command_poll":true})");
}

TEST_F(VelmoraApiTest, HeadersArriveInTheirOrder) {
    TVelmoraApi api(FCfg);
    api.MarkSent("1", "u", "r");
    const TFakeRequest post = FServer.LastRequest();
    EXPECT_THAT(
        OwnHeaders(post),
        ElementsAre(std::pair<std::string, std::string>("Content-Type", "application/json; charset=utf-8"),
                    std::pair<std::string, std::string>("Accept", "application/json"),
                    std::pair<std::string, std::string>("X-Egaiss-Agent-Id", "agent-7"),
                    std::pair<std::string, std::string>("X-Egaiss-Agent-Secret", "s3cret")));
    EXPECT_EQ(post.Header("Accept-Encoding"), "identity");
    EXPECT_EQ(post.Body, R"({"utm_url":"u","utm_response":"r"})");

    api.KnownInboxURLs();
    EXPECT_THAT(OwnHeaders(FServer.LastRequest()),
                ElementsAre(std::pair<std::string, std::string>("Accept", "application/json"),
                            std::pair<std::string, std::string>("X-Egaiss-Agent-Id", "agent-7"),
                            std::pair<std::string, std::string>("X-Egaiss-Agent-Secret", "s3cret")));
    EXPECT_EQ(FServer.ConnectionCount(), 1u);
}

TEST_F(VelmoraApiTest, MarkErrorEscapesTextAndEncodesTheDocumentId) {
    TVelmoraApi api(FCfg);
    api.MarkError("a/b c&1", Cyrillic() + " \xF0\x9F\x98\x80 /\x01");  // U+1F600 needs a surrogate pair
    EXPECT_THAT(FServer.LastRequest().Target,
                HasSubstr("?route=egaiss%2Fagent%2Foutbox%2Fa%2Fb%20c%261%2Ferror"));
    EXPECT_EQ(LastRoute(), "egaiss/agent/outbox/a/b c&1/error");
    EXPECT_EQ(LastBody(), R"({"error":")" + CyrillicEscaped() + R"( \uD83D\uDE00 /\u0001"})");
}

TEST_F(VelmoraApiTest, PushInboxSendsRawUtf8AndReadsDuplicate) {
    TVelmoraApi api(FCfg);
    bool duplicate = true;
    Answer(R"({"duplicate":true})");
    EXPECT_TRUE(api.PushInbox("http://u/opt/out/T/1", "T", "<a>" + Cyrillic() + "\t\"</a>", duplicate));
    EXPECT_TRUE(duplicate);
    EXPECT_EQ(LastRoute(), "egaiss/agent/inbox");
    EXPECT_EQ(LastBody(), R"({"utm_url":"http://u/opt/out/T/1","doc_type":"T","xml":"<a>)" + Cyrillic() +
                              R"(\t\"</a>"})");

    Answer("stored");
    EXPECT_TRUE(api.PushInbox("u", "T", "x", duplicate));
    EXPECT_FALSE(duplicate);
}

TEST_F(VelmoraApiTest, PollSyncCommandNeedsTheLiteralTrue) {
    TVelmoraApi api(FCfg);
    Answer(R"({"sync_now":true})");
    EXPECT_TRUE(api.PollSyncCommand("1.2.3"));
    for (const char* answer : {R"({"sync_now":1})", R"({"sync_now":"true"})", R"({"sync_now":false})", "{}",
                               "[true]", "sync_now", ""}) {
        Answer(answer);
        EXPECT_FALSE(api.PollSyncCommand("1.2.3")) << answer;
    }
}

TEST_F(VelmoraApiTest, FetchOutboxSkipsUnusableElementsAndRefusesUnreadableAnswers) {
    TVelmoraApi api(FCfg);
    std::vector<TOutboxDoc> docs;
    Answer(
        R"({"documents":[{"doc_id":42,"doc_type":"WayBill_v4","xml":"<a>\ud83d\ude00</a>"},7,{"doc_id":"x-1"},)"
        R"({"doc_id":"y","doc_type":"T"}]})");
    EXPECT_TRUE(api.FetchOutbox(docs));
    EXPECT_THAT(docs, ElementsAre(TOutboxDoc{"42", "WayBill_v4", "<a>\xF0\x9F\x98\x80</a>"},
                                  TOutboxDoc{"y", "T", ""}));
    EXPECT_THAT(test::ReadFileText(LogFilePath()),
                HasSubstr("[ERR] Server outbox: document #3 skipped, it has no doc_id or doc_type\r\n"));

    for (const char* empty : {"", " \r\n", "[]", "{}", R"({"documents":null})"}) {
        Answer(empty);
        api.FetchOutbox(docs);
        EXPECT_TRUE(docs.empty()) << empty;
    }
    for (const char* unreadable : {R"({"documents":[{"doc_id":"1","doc_type":"T","xml":"\ud800"}]})",
                                   R"({"documents":[{"doc_id":"1","doc_type":"T","xml":"\udc00"}]})",
                                   R"([{"doc_id":1}])", R"({"documents":{}})", "null", "<html>"}) {
        Answer(unreadable);
        try {
            api.FetchOutbox(docs);
            ADD_FAILURE() << "no error for " << unreadable;
        } catch (const EAgentError& error) {
            EXPECT_STREQ(error.what(), "Server outbox: unreadable answer");
        }
    }
}

TEST_F(VelmoraApiTest, FetchOutboxStatusReadsCountsAndRowsWithDefaults) {
    TVelmoraApi api(FCfg);
    std::vector<TOutboxStatusRow> rows;
    int queued = -1;
    int errors = -1;
    Answer(
        R"({"counts":{"queued":"3","error":2.5},"documents":[)"
        R"({"doc_id":7,"doc_type":"T","status":"error","created_at":1700000000123,"updated_at":"x","error":"bad"},)"
        R"({"doc_id":"8","status":"queued","created_at":-5,"error":null}]})");
    EXPECT_TRUE(api.FetchOutboxStatus(rows, queued, errors));
    EXPECT_EQ(queued, 3);
    EXPECT_EQ(errors, 0);
    EXPECT_THAT(rows, ElementsAre(TOutboxStatusRow{"7", "T", "error", 1700000000123, 0, "bad"},
                                  TOutboxStatusRow{"8", "", "queued", -5, 0, ""}));

    Answer("not json");
    EXPECT_FALSE(api.FetchOutboxStatus(rows, queued, errors));
    EXPECT_EQ(queued, 0);
    EXPECT_TRUE(rows.empty());
}

TEST_F(VelmoraApiTest, ClearOutboxSendsStatusesInOrderAndReadsCleared) {
    TVelmoraApi api(FCfg);
    int cleared = -1;
    Answer(R"({"cleared":5})");
    EXPECT_TRUE(api.ClearOutbox({"error", "queued"}, "user", cleared));
    EXPECT_EQ(cleared, 5);
    EXPECT_EQ(LastBody(), R"({"statuses":["error","queued"],"reason":"user"})");
    Answer(R"({"cleared":"many"})");
    EXPECT_TRUE(api.ClearOutbox({}, "", cleared));
    EXPECT_EQ(cleared, 0);
    Answer("[]");
    EXPECT_FALSE(api.ClearOutbox({}, "", cleared));
}

TEST_F(VelmoraApiTest, KnownInboxURLsTakesStringsAndNumbersExactly) {
    TVelmoraApi api(FCfg);
    Answer(R"({"utm_urls":["http://u/opt/out/A/1","",12,true,null,{"a":1},"HTTP://U/OPT/OUT/A/1"]})");
    EXPECT_EQ(api.KnownInboxURLs(), (TKnownInboxURLs{"http://u/opt/out/A/1", "12", "HTTP://U/OPT/OUT/A/1"}));
    Answer(R"({"utm_urls":"http://u"})");
    EXPECT_TRUE(api.KnownInboxURLs().empty());
}

TEST_F(VelmoraApiTest, FailuresCarryStatusAndBestErrorText) {
    TVelmoraApi api(FCfg);
    const auto messageOf = [&](const std::function<void()>& call) {
        try {
            call();
        } catch (const EHttpError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    Answer(R"({"error":"","message":"bad secret"})", 401);
    EXPECT_EQ(messageOf([&] { api.PingErrorOnly("1.2.3", "x"); }), "HTTP 401: bad secret");
    Answer(std::string(1000, 'z'), 500);
    EXPECT_EQ(messageOf([&] { api.KnownInboxURLs(); }), "HTTP 500: " + std::string(300, 'z'));
    Answer("", 502);
    EXPECT_EQ(messageOf([&] { api.MarkError("1", "x"); }), "HTTP 502: Bad Gateway");
}

TEST_F(VelmoraApiTest, GetRouteLogsItsStepsAndTransportFailures) {
    TVelmoraApi api(FCfg);
    Answer(R"({"documents":[]})");
    std::vector<TOutboxDoc> docs;
    api.FetchOutbox(docs);
    const std::string url = FCfg.ServerURL + "?route=egaiss%2Fagent%2Foutbox";
    std::string log = test::ReadFileText(LogFilePath());
    EXPECT_THAT(log, HasSubstr("[STEP] HTTP GET | egaiss/agent/outbox\r\n"));
    EXPECT_THAT(log, HasSubstr("[DBG] HTTP GET url=" + url + "\r\n"));
    EXPECT_THAT(log, HasSubstr("[DBG] HTTP GET egaiss/agent/outbox status=200\r\n"));
    EXPECT_THAT(log, HasSubstr("[STEP] HTTP GET done | egaiss/agent/outbox chars=16\r\n"));

    FCfg.ServerURL = "http://127.0.0.1:" + std::to_string(test::RefusedLoopbackPort()) + "/api";
    TVelmoraApi refused(FCfg);
    EXPECT_THROW(refused.KnownInboxURLs(), ETransportError);
    EXPECT_THROW(refused.PingSyncCompleted("1.2.3"), ETransportError);
    log = test::ReadFileText(LogFilePath());
    EXPECT_THAT(log, HasSubstr("[EXC] HTTP GET transport egaiss/agent/inbox/known | ETransportError: "));
}

}  // namespace
}  // namespace egaiss
