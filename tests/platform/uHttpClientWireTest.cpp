// The HTTP client against a peer that sends exact bytes: the same contract on every system.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/uErrors.h"
#include "platform/uHttpClient.h"
#include "support/uScriptedHttpPeer.h"
#include "support/uTestDirs.h"
#include "support/uWine.h"

namespace egaiss::platform {
namespace {

using namespace std::chrono_literals;
using test::PeerReply;
using test::TPeerAnswer;
using test::TPeerRequest;
using test::TScriptedHttpPeer;
using ::testing::HasSubstr;

THttpRequest Get(const std::string& url) {
    THttpRequest request;
    request.URL = url;
    return request;
}

std::string TransportErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ETransportError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no ETransportError";
    return {};
}

TEST(HttpWireTest, GivesStatusReasonHeadersAndUndecodedBodyAsSent) {
    const std::string gzipped("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03\x00\xFF", 12);
    TScriptedHttpPeer peer([&](const TPeerRequest&) {
        return PeerReply("418 I'm a teapot", gzipped,
                         {"X-First: 1", "Content-Encoding: gzip", "X-Last: two words"});
    });
    THttpClient client;
    client.SetDefaultHeader("X-Agent", "a");
    THttpRequest request = Get(peer.BaseURL() + "/path?q=1");
    request.Method = THttpMethod::hmDelete;
    request.Headers = {{"X-Agent", "b"}, {"X-Extra", "c"}};
    const THttpResponse response = client.Send(request);

    EXPECT_EQ(response.StatusCode, 418);
    EXPECT_EQ(response.ReasonPhrase, "I'm a teapot");
    EXPECT_EQ(response.Header("x-last"), "two words");
    EXPECT_EQ(response.Header("Content-Encoding"), "gzip");
    EXPECT_EQ(std::string(AsText(response.Body)), gzipped);
    const TPeerRequest sent = peer.Requests().at(0);
    EXPECT_EQ(sent.Method(), "DELETE");
    EXPECT_EQ(sent.Target(), "/path?q=1");
    EXPECT_EQ(sent.Header("X-Agent"), "b");
    EXPECT_EQ(sent.Header("X-Extra"), "c");
    EXPECT_THAT(sent.Header("Accept-Encoding"), ::testing::Not(HasSubstr("gzip")));
}

TEST(HttpWireTest, PostsBytesAndMultipartForms) {
    TScriptedHttpPeer peer([](const TPeerRequest&) { return PeerReply("200 OK", "ok"); });
    THttpClient client;
    THttpRequest request = Get(peer.BaseURL() + "/in");
    request.Method = THttpMethod::hmPost;
    request.Body = ToBytes(std::string("a\0b", 3));
    client.Send(request);
    request.Body.clear();
    request.FilePart = THttpFilePart{"xml_file", "doc \"1\".xml", "text/xml", ToBytes("<a/>")};
    client.Send(request);

    const auto sent = peer.Requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].Method(), "POST");
    EXPECT_EQ(sent[0].Body, std::string("a\0b", 3));
    const std::string type = sent[1].Header("Content-Type");
    ASSERT_THAT(type, HasSubstr("multipart/form-data; boundary="));
    const std::string boundary = type.substr(type.find('=') + 1);
    EXPECT_EQ(sent[1].Body,
              "--" + boundary +
                  "\r\nContent-Disposition: form-data; name=\"xml_file\"; filename=\"doc %221%22.xml\"\r\n"
                  "Content-Type: text/xml\r\n\r\n<a/>\r\n--" +
                  boundary + "--\r\n");
}

TEST(HttpWireTest, FollowsRedirectsUnlessSwitchedOff) {
    TScriptedHttpPeer peer([](const TPeerRequest& request) {
        if (request.Target() == "/end") return PeerReply("200 OK", "end");
        return PeerReply("302 Found", "", {"Location: /end"});
    });
    THttpClient client;
    EXPECT_EQ(AsText(client.Send(Get(peer.BaseURL() + "/start")).Body), "end");
    client.SetFollowRedirects(false);
    const THttpResponse stopped = client.Send(Get(peer.BaseURL() + "/start"));
    EXPECT_EQ(stopped.StatusCode, 302);
    EXPECT_EQ(stopped.Header("Location"), "/end");
}

TEST(HttpWireTest, SilenceBeforeTheHeadersOrInTheBodyTimesOut) {
    TScriptedHttpPeer peer([](const TPeerRequest& request) {
        if (request.Target() == "/silent") return TPeerAnswer{{{"", 10s}}};
        return TPeerAnswer{{{"HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\nfirst part", 10s}}};
    });
    THttpClient client;
    client.SetResponseTimeoutMs(300);
    for (const char* path : {"/silent", "/stall-midway"}) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THAT(TransportErrorOf([&] { client.Send(Get(peer.BaseURL() + path)); }),
                    HasSubstr("timed out"))
            << path;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << path;
    }
}

TEST(HttpWireTest, BodyShorterThanAnnouncedFails) {
    TScriptedHttpPeer peer([](const TPeerRequest&) {
        return TPeerAnswer{{{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b"}}, true};
    });
    test::TTempDir dir;
    const std::string target = dir.File("part.bin");
    THttpClient client;
    EXPECT_FALSE(TransportErrorOf([&] { client.Send(Get(peer.BaseURL() + "/length")); }).empty());
    EXPECT_FALSE(
        TransportErrorOf([&] { client.DownloadToFile(Get(peer.BaseURL() + "/length"), target); }).empty());
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(HttpWireTest, ChunkedBodyCutBeforeItsLastChunkFails) {
    if (test::RunningUnderWine()) GTEST_SKIP() << test::WineChunkedEndBug;
    TScriptedHttpPeer peer([](const TPeerRequest&) {
        return TPeerAnswer{{{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"}}, true};
    });
    THttpClient client;
    EXPECT_FALSE(TransportErrorOf([&] { client.Send(Get(peer.BaseURL() + "/chunked")); }).empty());
}

}  // namespace
}  // namespace egaiss::platform
