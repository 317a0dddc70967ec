#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clients/uHttpErrors.h"
#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr std::size_t Mebibyte = std::size_t{1024} * 1024;

// gzip of `count` copies of the text, deflated piece by piece so that a huge output never exists
// in memory.
TBytes Gzip(const std::string& text, std::size_t count = 1) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
    TBytes out;
    unsigned char buffer[65536];
    for (std::size_t i = 0; i <= count; ++i) {
        const bool last = i == count;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        stream.avail_in = last ? 0 : static_cast<uInt>(text.size());
        do {
            stream.next_out = buffer;
            stream.avail_out = sizeof buffer;
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

platform::THttpResponse Answer(int status, const TBytes& body, std::string reason = {},
                               std::vector<platform::THttpHeader> headers = {}) {
    platform::THttpResponse response;
    response.StatusCode = status;
    response.ReasonPhrase = std::move(reason);
    response.Body = body;
    response.Headers = std::move(headers);
    return response;
}

std::string Repeat(const std::string& piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

std::vector<std::string> LogLinesContaining(const std::string& needle) {
    std::vector<std::string> found;
    for (const std::string& line : SplitTextLines(test::ReadFileText(LogFilePath()))) {
        if (line.find(needle) != std::string::npos) found.push_back(line);
    }
    return found;
}

TEST(HttpErrorsTest, HexPreviewShowsAtMostTheLimitAndMarksTheRest) {
    EXPECT_EQ(HexPreview({}, 16), "");
    TBytes bytes;
    for (int i = 0; i < 16; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i * 17));
    const std::string sixteen = "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF";
    EXPECT_EQ(HexPreview(bytes, 16), sixteen);
    bytes.push_back(0x0A);
    EXPECT_EQ(HexPreview(bytes, 16), sixteen + "...");
    EXPECT_EQ(HexPreview({0x1F, 0x8B}, 0), "...");
}

TEST(HttpErrorsTest, GzipIsRecognisedByItsMagicAlone) {
    EXPECT_FALSE(IsGzipBytes({}));
    EXPECT_FALSE(IsGzipBytes({0x1F}));
    EXPECT_FALSE(IsGzipBytes({0x8B, 0x1F}));
    EXPECT_TRUE(IsGzipBytes({0x1F, 0x8B}));

    const std::string xml = "<Documents>Пиво светлое</Documents>";
    EXPECT_EQ(HttpResponseAsUtf8(Answer(200, Gzip(xml))), xml);  // no Content-Encoding header
    EXPECT_EQ(HttpResponseAsUtf8(Answer(200, ToBytes("plain"), "OK", {{"Content-Encoding", "gzip"}})),
              "plain");
    EXPECT_EQ(HttpResponseAsUtf8(nullptr), "");
    EXPECT_EQ(HttpResponseAsUtf8(Answer(200, {})), "");
    EXPECT_TRUE(ReadResponseBytes(nullptr).empty());
}

TEST(HttpErrorsTest, InflatesConcatenatedMembersAndRejectsDamagedStreams) {
    TBytes two = Gzip("first ");
    const TBytes second = Gzip("second");
    two.insert(two.end(), second.begin(), second.end());
    EXPECT_EQ(AsText(GunzipBytes(two)), "first second");

    TBytes corrupt = Gzip(Repeat("data ", 100));
    corrupt[12] ^= 0xFF;
    corrupt[13] ^= 0xFF;
    try {
        GunzipBytes(corrupt);
        ADD_FAILURE() << "corrupt stream inflated";
    } catch (const EGzipError& error) {
        EXPECT_THAT(error.what(), StartsWith("Gzip inflate failed: "));
        EXPECT_STRNE(error.ClassName(), "EAgentError");
    }

    TBytes truncated = Gzip(Repeat("data ", 100));
    truncated.resize(truncated.size() - 6);
    EXPECT_THROW(GunzipBytes(truncated), EGzipError);
    EXPECT_THROW(GunzipBytes({0x1F, 0x8B, 0x08}), EGzipError);
}

TEST(HttpErrorsTest, GzipBombStopsAtTheInflateLimit) {
    test::TTempDataDir dir;
    // 300 MiB of zeros in a few hundred kilobytes.
    const TBytes bomb = Gzip(std::string(Mebibyte, '\0'), 300);
    ASSERT_LT(bomb.size(), Mebibyte);

    EXPECT_THROW(GunzipBytes(bomb, 8 * Mebibyte), EGzipError);
    try {
        HttpResponseAsUtf8(Answer(200, bomb));
        ADD_FAILURE() << "gzip bomb inflated";
    } catch (const EGzipError& error) {
        EXPECT_STREQ(error.what(), "Gzip body inflates to more than 256 MiB");
    }
    EXPECT_EQ(LogLinesContaining("[EXC] HttpResponseAsUtf8 | EGzipError: Gzip body inflates").size(), 1u);
}

TEST(HttpErrorsTest, DecodingAGzipBodyLogsFourLinesInOrder) {
    test::TTempDataDir dir;
    const std::string text = Repeat("Ёлка ", 20);
    const TBytes body = Gzip(text);
    EXPECT_EQ(HttpResponseAsUtf8(Answer(200, body, "OK", {{"Content-Encoding", "gzip"}})), text);

    const std::vector<std::string> lines = LogLinesContaining("HTTP ");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_THAT(lines[0], HasSubstr("[DBG] HTTP decode status=200 enc=gzip bytes=" +
                                    std::to_string(body.size()) + " hex=[" + HexPreview(body, 16) + "]"));
    EXPECT_THAT(lines[0], HasSubstr("hex=[1F 8B 08 "));
    EXPECT_THAT(lines[1],
                HasSubstr("[DBG] HTTP body is gzip, inflate manually size=" + std::to_string(body.size())));
    EXPECT_THAT(lines[2], HasSubstr("[DBG] HTTP inflate ok size=" + std::to_string(text.size())));
    EXPECT_THAT(lines[3], HasSubstr("[DBG] HTTP decode OK chars=100"));
}

TEST(HttpErrorsTest, EmptyBodyLogsZeroBytesAndEmptyHex) {
    test::TTempDataDir dir;
    EXPECT_EQ(HttpResponseAsUtf8(Answer(204, {})), "");
    const std::vector<std::string> lines = LogLinesContaining("HTTP decode");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], HasSubstr("HTTP decode status=204 enc= bytes=0 hex=[]"));
    EXPECT_THAT(lines[1], HasSubstr("HTTP decode OK chars=0"));
}

TEST(HttpErrorsTest, JsonErrorTextReadsErrorThenMessage) {
    EXPECT_EQ(TryJsonErrorText(R"({"error":"bad secret","message":"ignored"})"), "bad secret");
    EXPECT_EQ(TryJsonErrorText(R"({"error":"","message":"use the new key"})"), "use the new key");
    EXPECT_EQ(TryJsonErrorText(R"({"error":{"code":7},"message":"nested"})"), "nested");
    EXPECT_EQ(TryJsonErrorText(R"({"error":null,"message":false})"), "false");
    EXPECT_EQ(TryJsonErrorText(R"({"error":1.50})"), "1.50");
    EXPECT_EQ(TryJsonErrorText(R"({"error":true})"), "true");
    EXPECT_EQ(TryJsonErrorText(R"({"error":"Ошибка \u0022X\u0022"})"), "Ошибка \"X\"");

    for (const char* notFound : {R"({"error":{"code":7}})", R"({"error":"","message":""})",
                                 R"({"status":"x"})", R"(["error","message"])", R"("error")", "null", "", "{",
                                 "{\"error\":\"x\"} trailing", "<html>error</html>"}) {
        EXPECT_EQ(TryJsonErrorText(notFound), std::nullopt) << notFound;
    }
}

TEST(HttpErrorsTest, ErrorExceptionFallsBackFromJsonToBodyToReasonPhrase) {
    test::TTempDataDir dir;
    const EHttpError json =
        NewHttpError(Answer(401, ToBytes(R"({"error":"","message":"Agent disabled"})"), "Unauthorized"));
    EXPECT_STREQ(json.what(), "HTTP 401: Agent disabled");
    EXPECT_EQ(json.StatusCode(), 401);
    EXPECT_STREQ(json.ClassName(), "EHttpError");
    EXPECT_EQ(ExceptionClassName(json), "EHttpError");

    const std::string arrayBody = R"([{"error":"in an array"}])";
    EXPECT_STREQ(NewHttpError(Answer(400, ToBytes(arrayBody))).what(), ("HTTP 400: " + arrayBody).c_str());

    const std::string latin = Repeat("0123456789", 100);
    EXPECT_EQ(HttpErrorText(Answer(500, ToBytes(latin), "Internal Server Error")), latin.substr(0, 300));
    EXPECT_STREQ(NewHttpError(Answer(500, ToBytes(latin))).what(),
                 ("HTTP 500: " + latin.substr(0, 300)).c_str());

    // Cut by characters, not bytes: 300 Cyrillic letters are 600 bytes.
    const std::string cyrillic = Repeat("Щ", 1000);
    const std::string cut = HttpErrorText(Answer(500, ToBytes(cyrillic)));
    EXPECT_EQ(TextLength(cut), 300u);
    EXPECT_EQ(cut, Repeat("Щ", 300));

    EXPECT_STREQ(NewHttpError(Answer(502, {}, "Bad Gateway")).what(), "HTTP 502: Bad Gateway");
    EXPECT_STREQ(NewHttpError(Answer(502, {})).what(), "HTTP 502: HTTP error");

    // A body that cannot be inflated still yields an error, with the inflater's reason as its text.
    TBytes corrupt = Gzip(Repeat("x", 500));
    corrupt[11] ^= 0xFF;
    EXPECT_THAT(NewHttpError(Answer(500, corrupt)).what(), StartsWith("HTTP 500: Gzip inflate failed: "));
}

TEST(HttpErrorsTest, PreparedClientsAskForIdentityAndServerProfileFollowsRedirects) {
    PrepareHttpClient(nullptr);

    test::TFakeHttpServer server;
    server.Get("/old",
               [](const test::TFakeRequest&, httplib::Response& response) { response.set_redirect("/new"); });
    server.Get("/new", [](const test::TFakeRequest&, httplib::Response& response) {
        response.set_content("moved", "text/plain");
    });
    server.Start();

    platform::THttpRequest request;
    request.URL = server.BaseURL() + "/old";

    platform::THttpClient server1;
    server1.SetFollowRedirects(false);
    ConfigureServerClient(server1, true);
    const platform::THttpResponse followed = server1.Send(request);
    EXPECT_EQ(followed.StatusCode, 200);
    EXPECT_EQ(server.LastRequest().Header("Accept-Encoding"), "identity");

    platform::THttpClient utm;
    ConfigureUtmClient(utm, false);
    ConfigureUtmClient(utm, true);  // applying a profile twice keeps one header
    EXPECT_EQ(utm.Send(request).StatusCode, 200);
    const test::TFakeRequest seen = server.LastRequest();
    const std::vector<std::string> names = seen.HeaderNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "Accept-Encoding"), 1);
}

}  // namespace
}  // namespace egaiss
