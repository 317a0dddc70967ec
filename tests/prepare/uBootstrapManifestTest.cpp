#include "prepare/uBootstrapManifest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

#include "clients/uHttpErrors.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using ::testing::StartsWith;

TJsonValue Json(const std::string& text) {
    auto parsed = ParseJson(text);
    if (!parsed) throw std::runtime_error("test JSON does not parse: " + text);
    return std::move(*parsed);
}

std::string Base(const std::string& serverURL) {
    return DownloadBaseURL(serverURL);
}

TEST(DownloadBaseURLTest, PathRulesRunInOrderAndEachAtMostOnce) {
    const std::pair<const char*, const char*> rows[] = {
        {"", "/download/"},
        {"/", "/download/"},
        {"/index.php", "/download/"},
        {"/shop/index.php", "/shop/download/"},
        {"/api/public", "/download/"},
        {"/api/public/", "/download/"},
        {"/crm/api/public/", "/crm/download/"},
        {"/index.php/api/public", "/index.php/download/"},
        {"/API/Public", "/download/"},
        {"/Shop/INDEX.PHP", "/Shop/download/"},
        {"/shop//", "/shop/download/"},
        {"/api/public/index.php", "/download/"},
        {"/egais", "/egais/download/"},
    };
    for (const auto& [path, expected] : rows) {
        EXPECT_EQ(Base(std::string("https://example.test") + path),
                  std::string("https://example.test") + expected)
            << "path " << path;
    }
}

TEST(DownloadBaseURLTest, KeepsOnlyPortsThatAreNotTheSchemesDefault) {
    EXPECT_EQ(Base("http://h:8080/x/index.php"), "http://h:8080/x/download/");
    EXPECT_EQ(Base("http://h:80/"), "http://h/download/");
    EXPECT_EQ(Base("https://h:443/"), "https://h/download/");
    EXPECT_EQ(Base("HTTPS://h:443/"), "HTTPS://h/download/");
    EXPECT_EQ(Base("https://h:80/"), "https://h:80/download/");
    EXPECT_EQ(Base("http://h:443/"), "http://h:443/download/");
    EXPECT_EQ(Base("http://[::1]:8443/api/public"), "http://[::1]:8443/download/");
    EXPECT_EQ(Base("http://[::1]/"), "http://[::1]/download/");
}

TEST(DownloadBaseURLTest, DropsUserQueryAndFragment) {
    EXPECT_EQ(Base("https://user:pw@h.test/crm/index.php?route=x#top"), "https://h.test/crm/download/");
    EXPECT_EQ(Base("https://h.test?route=x"), "https://h.test/download/");
    EXPECT_EQ(ManifestURL("https://h.test/api/public"), "https://h.test/download/egaiss-bootstrap.json");
}

TEST(DownloadBaseURLTest, RaisesForUrlsWithoutSchemeOrHost) {
    for (const char* url :
         {"h.test/index.php", "://h.test/", "1http://h/", "http:///x", "http://h:99999/", "http://h:x/"}) {
        EXPECT_THROW(DownloadBaseURL(url), EAgentError) << url;
    }
}

TEST(JsonParseTest, RejectsInvalidTextWithoutRaising) {
    for (const char* text : {"", "{", "{} x", "{'a':1}", "[1,]", "{\"a\":01}", "nul"}) {
        EXPECT_FALSE(ParseJson(text).has_value()) << text;
    }
    EXPECT_FALSE(ParseJson(std::string("{}\0{}", 5)).has_value());
    EXPECT_FALSE(ParseJson("{\"a\":\"\xFF\"}").has_value());
    // A lone low surrogate would decode to bytes that are not UTF-8 and could not be written back.
    EXPECT_FALSE(ParseJson(R"({"a":"\udc00"})").has_value());
    EXPECT_FALSE(ParseJson(R"({"\ude00":1})").has_value());
    EXPECT_FALSE(ParseJson(std::string(600, '[') + std::string(600, ']')).has_value());
    EXPECT_TRUE(ParseJson(std::string(100, '[') + std::string(100, ']')).has_value());
    EXPECT_TRUE(ParseJson("\xEF\xBB\xBF{\"a\":1}").has_value());
}

TEST(JsonParseTest, WritesCompactAsciiAndKeepsNumberLiterals) {
    const TJsonValue value = Json(
        "{ \"b\" : [1.50, -0, 1E3, true, null],\n \"a\": \"\xD0\xAF\\u0001\\\"/\", \"emoji\": "
        "\"\xF0\x9F\x98\x80\" }");
    EXPECT_EQ(JsonToText(value),
              "{\"b\":[1.50,-0,1E3,true,null],\"a\":\"\\u042F\\u0001\\\"/\",\"emoji\":\"\\uD83D\\uDE00\"}");
    EXPECT_EQ(JsonToText(Json(JsonToText(value))), JsonToText(value));
}

class JsonReaderTest : public ::testing::Test {
protected:
    const TJsonValue FObj = Json(R"({
        "s": "text", "digits": "12", "neg": "-7", "plus": "+5", "num": 1.50, "int": 42, "exp": 1e3,
        "t": true, "f": false, "n": null, "o": {"x": 1}, "a": [1, "b"],
        "big": 2147483648, "min": -2147483648, "i64max": 9223372036854775807, "i64over": 9223372036854775808,
        "upper": "TRUE", "one": "1", "zero": 0, "zerofrac": 0.0, "zeroexp": 0e5, "half": 0.5, "spaced": " 3",
        "dup": 1, "dup": 2
    })");
};

TEST_F(JsonReaderTest, StringReaderGivesTextOfScalarsOnly) {
    std::string text = "old";
    const std::pair<const char*, const char*> rows[] = {{"s", "text"}, {"num", "1.50"}, {"exp", "1e3"},
                                                        {"t", "true"}, {"f", "false"},  {"n", ""},
                                                        {"dup", "1"}};
    for (const auto& [key, expected] : rows) {
        EXPECT_TRUE(TryGetJsonString(FObj, key, text)) << key;
        EXPECT_EQ(text, expected) << key;
    }
    for (const char* key : {"o", "a", "missing"}) {
        text = "old";
        EXPECT_FALSE(TryGetJsonString(FObj, key, text)) << key;
        EXPECT_EQ(text, "") << key;
    }
    EXPECT_FALSE(TryGetJsonString(Json("[1]"), "0", text));
}

TEST_F(JsonReaderTest, IntReadersAcceptWholeNumbersInRangeAndLeaveTheTargetOtherwise) {
    const std::pair<const char*, int> accepted[] = {
        {"int", 42}, {"digits", 12}, {"neg", -7}, {"plus", 5}, {"t", 1}, {"f", 0}, {"min", -2147483647 - 1}};
    for (const auto& [key, expected] : accepted) {
        int n = 99;
        EXPECT_TRUE(TryGetJsonInt(FObj, key, n)) << key;
        EXPECT_EQ(n, expected) << key;
    }
    for (const char* key : {"num", "exp", "s", "n", "o", "a", "big", "spaced", "zerofrac", "missing"}) {
        int n = 99;
        EXPECT_FALSE(TryGetJsonInt(FObj, key, n)) << key;
        EXPECT_EQ(n, 99) << key;
    }

    std::int64_t wide = 5;
    EXPECT_TRUE(TryGetJsonInt64(FObj, "big", wide));
    EXPECT_EQ(wide, 2147483648LL);
    EXPECT_TRUE(TryGetJsonInt64(FObj, "i64max", wide));
    EXPECT_EQ(wide, INT64_MAX);
    wide = 5;
    EXPECT_FALSE(TryGetJsonInt64(FObj, "i64over", wide));
    EXPECT_FALSE(TryGetJsonInt64(FObj, "num", wide));
    EXPECT_EQ(wide, 5);
}

TEST_F(JsonReaderTest, BoolReaderTakesWordsInAnyCaseAndNumbersButNotDigitStrings) {
    const std::pair<const char*, bool> accepted[] = {{"t", true},        {"f", false},    {"upper", true},
                                                     {"int", true},      {"zero", false}, {"zerofrac", false},
                                                     {"zeroexp", false}, {"half", true}};
    for (const auto& [key, expected] : accepted) {
        bool b = !expected;
        EXPECT_TRUE(TryGetJsonBool(FObj, key, b)) << key;
        EXPECT_EQ(b, expected) << key;
    }
    for (const char* key : {"one", "s", "n", "o", "a", "missing"}) {
        bool b = true;
        EXPECT_FALSE(TryGetJsonBool(FObj, key, b)) << key;
        EXPECT_TRUE(b) << key;
    }
}

TEST_F(JsonReaderTest, ArrayValueAndRequiredStringReaders) {
    const TJsonValue* found = &FObj;
    EXPECT_TRUE(TryGetJsonArray(FObj, "a", found));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Items().size(), 2u);
    EXPECT_FALSE(TryGetJsonArray(FObj, "o", found));
    EXPECT_EQ(found, nullptr);

    EXPECT_TRUE(TryGetJsonValue(FObj, "n", found));
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(found->IsNull());
    EXPECT_FALSE(TryGetJsonValue(FObj, "missing", found));

    EXPECT_EQ(GetJsonString(FObj, "num"), "1.50");
    EXPECT_EQ(GetJsonString(FObj, "n"), "");
    try {
        GetJsonString(FObj, "type");
        FAIL() << "no error for a missing key";
    } catch (const EJsonError& error) {
        EXPECT_STREQ(error.what(), "Value 'type' not found");
    }
    EXPECT_THROW(GetJsonString(FObj, "o"), EJsonError);
}

TEST(BootstrapManifestTest, ParseKeepsThePreviousManifestWhenTheTextIsNoObject) {
    TBootstrapManifest manifest;
    EXPECT_FALSE(manifest.Loaded());
    EXPECT_TRUE(manifest.IsStale());
    EXPECT_EQ(manifest.Title(), "Prepare PC for EGAIS");
    EXPECT_EQ(manifest.RefreshHours(), 24);
    EXPECT_EQ(manifest.Components(), nullptr);

    manifest.ParseText(R"({"title": "Shop PC", "components": [{"id": "java"}, 5]})");
    for (const char* text : {"[]", "null", "not json", "", "\"x\""}) {
        try {
            manifest.ParseText(text);
            FAIL() << "accepted " << text;
        } catch (const EJsonError& error) {
            EXPECT_STREQ(error.what(), "Manifest: expected JSON object");
        }
    }
    EXPECT_EQ(manifest.Title(), "Shop PC");
    ASSERT_NE(manifest.Components(), nullptr);
    EXPECT_EQ(manifest.Components()->Items().size(), 2u);

    manifest.ParseText(R"({"components": {"id": "java"}})");
    EXPECT_EQ(manifest.Components(), nullptr);
    EXPECT_EQ(manifest.Title(), "Prepare PC for EGAIS");
}

TEST(BootstrapManifestTest, RefreshHoursReadsWholeNumbersOnly) {
    TBootstrapManifest manifest;
    const std::pair<const char*, int> rows[] = {
        {R"({"refresh_hours": "12"})", 12},
        {R"({"refresh_hours": 1.5})", 24},
        {R"({"refresh_hours": "soon"})", 24},
        {R"({"refresh_hours": 0})", 0},
        {R"({})", 24},
    };
    for (const auto& [text, hours] : rows) {
        manifest.ParseText(text);
        EXPECT_EQ(manifest.RefreshHours(), hours) << text;
    }
}

TEST(BootstrapManifestTest, StaleAfterRefreshHoursWholeHours) {
    auto now = std::chrono::steady_clock::time_point() + std::chrono::hours(1000);
    TBootstrapManifest manifest([&] { return now; });
    manifest.ParseText(R"({"refresh_hours": 2})");
    EXPECT_FALSE(manifest.IsStale());
    now += std::chrono::hours(2) - std::chrono::milliseconds(1);
    EXPECT_FALSE(manifest.IsStale());
    now += std::chrono::milliseconds(1);
    EXPECT_TRUE(manifest.IsStale());

    manifest.ParseText(R"({"refresh_hours": -1})");
    EXPECT_TRUE(manifest.IsStale());
}

TEST(BootstrapManifestTest, CacheIsAsciiJsonAfterAByteOrderMark) {
    test::TTempDataDir dataDir;
    TBootstrapManifest manifest;
    EXPECT_FALSE(manifest.SaveToCache());
    EXPECT_FALSE(manifest.LoadFromCache());

    manifest.ParseText("{\"title\": \"\xD0\x9F\xD0\x9A\", \"refresh_hours\": 12, \"components\": []}");
    ASSERT_TRUE(manifest.SaveToCache());
    const std::string path = dataDir.File("egaiss-bootstrap.json");
    EXPECT_EQ(TBootstrapManifest::CacheFilePath(), path);
    EXPECT_EQ(test::ReadFileText(path),
              "\xEF\xBB\xBF{\"title\":\"\\u041F\\u041A\",\"refresh_hours\":12,\"components\":[]}");

    TBootstrapManifest reread;
    ASSERT_TRUE(reread.LoadFromCache());
    EXPECT_EQ(reread.Title(), "\xD0\x9F\xD0\x9A");
    EXPECT_EQ(reread.SourceURL(), "cache:" + path);
}

TEST(BootstrapManifestTest, UnreadableCacheCountsAsNone) {
    test::TTempDataDir dataDir;
    TBootstrapManifest manifest;
    manifest.ParseText(R"({"title": "kept"})");
    for (const char* text : {"[1,2]", "{broken", ""}) {
        test::WriteFileText(dataDir.File("egaiss-bootstrap.json"), text);
        EXPECT_FALSE(manifest.LoadFromCache()) << text;
    }
    EXPECT_EQ(manifest.Title(), "kept");
    EXPECT_EQ(manifest.SourceURL(), "");
}

// The server's download area with a manifest body and status that tests change.
class ManifestLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Get("/shop/download/egaiss-bootstrap.json",
                    [this](const test::TFakeRequest&, httplib::Response& res) {
                        const std::lock_guard<std::mutex> guard(FLock);
                        res.status = FStatus;
                        res.set_content(FBody, "application/json");
                    });
        FServer.Start();
        FServerURL = FServer.BaseURL() + "/shop/index.php";
    }

    void Serve(const std::string& body, int status = 200) {
        const std::lock_guard<std::mutex> guard(FLock);
        FBody = body;
        FStatus = status;
    }

    void WriteCache(const std::string& text) const {
        test::WriteFileText(FDataDir.File("egaiss-bootstrap.json"), text);
    }
    std::string CacheText() const { return test::ReadFileText(FDataDir.File("egaiss-bootstrap.json")); }

    test::TTempDataDir FDataDir;
    test::TFakeHttpServer FServer;
    std::string FServerURL;
    std::mutex FLock;
    std::string FBody = R"({"title":"server"})";
    int FStatus = 200;
};

TEST_F(ManifestLoadTest, EmptyServerUrlReadsNothing) {
    WriteCache(R"({"title":"cached"})");
    TBootstrapManifest manifest;
    EXPECT_FALSE(manifest.Load("", false));
    EXPECT_FALSE(manifest.Loaded());
    EXPECT_EQ(FServer.RequestCount(), 0u);
}

TEST_F(ManifestLoadTest, FreshCacheIsUsedWithoutAskingTheServer) {
    WriteCache(R"({"title":"cached","refresh_hours":24})");
    TBootstrapManifest manifest;
    EXPECT_TRUE(manifest.Load(FServerURL, false));
    EXPECT_EQ(manifest.Title(), "cached");
    EXPECT_THAT(manifest.SourceURL(), StartsWith("cache:"));
    EXPECT_EQ(FServer.RequestCount(), 0u);
}

TEST_F(ManifestLoadTest, DownloadReplacesCacheWhenForcedOrWhenRefreshHoursIsZero) {
    WriteCache(R"({"title":"cached","refresh_hours":0})");
    TBootstrapManifest manifest;
    EXPECT_TRUE(manifest.Load(FServerURL, false));
    EXPECT_EQ(FServer.RequestCount(), 1u);
    EXPECT_EQ(manifest.Title(), "server");
    EXPECT_EQ(manifest.SourceURL(), FServer.BaseURL() + "/shop/download/egaiss-bootstrap.json");
    EXPECT_EQ(CacheText(), "\xEF\xBB\xBF{\"title\":\"server\"}");
    EXPECT_EQ(FServer.LastRequest().Header("Accept-Encoding"), "identity");

    Serve(R"({"title":"forced","refresh_hours":24})");
    EXPECT_TRUE(manifest.Load(FServerURL, true));
    EXPECT_EQ(FServer.RequestCount(), 2u);
    EXPECT_EQ(manifest.Title(), "forced");
    EXPECT_TRUE(manifest.Load(FServerURL, false));
    EXPECT_EQ(FServer.RequestCount(), 2u);
}

TEST_F(ManifestLoadTest, HttpErrorFallsBackToCacheOrRaises) {
    Serve("missing", 404);
    TBootstrapManifest manifest;
    try {
        manifest.Load(FServerURL, true);
        FAIL() << "no error for 404 without cache";
    } catch (const EHttpError& error) {
        EXPECT_EQ(error.StatusCode(), 404);
        EXPECT_STREQ(error.what(), "HTTP 404: missing");
    }

    WriteCache(R"({"title":"cached"})");
    EXPECT_TRUE(manifest.Load(FServerURL, true));
    EXPECT_EQ(manifest.Title(), "cached");
    EXPECT_EQ(manifest.SourceURL(), "cache:" + FDataDir.File("egaiss-bootstrap.json"));
}

TEST_F(ManifestLoadTest, BodyThatIsNoObjectRaisesAndLeavesTheCacheAlone) {
    WriteCache(R"({"title":"cached","refresh_hours":0})");
    Serve("[1,2,3]");
    TBootstrapManifest manifest;
    EXPECT_THROW(manifest.Load(FServerURL, false), EJsonError);
    EXPECT_EQ(CacheText(), R"({"title":"cached","refresh_hours":0})");
    EXPECT_EQ(manifest.Title(), "cached");
}

TEST_F(ManifestLoadTest, TransportFailureIsRaisedWithoutCacheFallback) {
    WriteCache(R"({"title":"cached"})");
    TBootstrapManifest manifest;
    const std::string refused = "http://127.0.0.1:" + std::to_string(test::RefusedLoopbackPort()) + "/";
    EXPECT_THROW(manifest.Load(refused, true), ETransportError);
    EXPECT_THROW(manifest.Load("no-scheme.test/index.php", true), EAgentError);
}

}  // namespace
}  // namespace egaiss
