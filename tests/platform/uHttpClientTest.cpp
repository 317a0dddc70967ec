#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/uErrors.h"
#include "platform/uHttpClient.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

using test::TFakeHttpServer;
using test::TFakeRequest;

constexpr std::size_t Mebibyte = std::size_t{1024} * 1024;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

THttpRequest Get(const std::string& url, std::vector<THttpHeader> headers = {}) {
    THttpRequest request;
    request.URL = url;
    request.Headers = std::move(headers);
    return request;
}

// Bytes 0..255 repeated: catches any text-mode or NUL-terminated handling.
TBytes BinaryBytes(std::size_t count) {
    TBytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

std::string TransportErrorOf(THttpClient& client, const THttpRequest& request) {
    try {
        client.Send(request);
    } catch (const ETransportError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no ETransportError for " << request.URL;
    return {};
}

// Lets a stalling handler return once the test is done with it, so the server can stop.
struct TRelease {
    std::atomic<bool> Done{false};
    void WaitUpTo(std::chrono::milliseconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!Done && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

TEST(HttpClientTest, SendsEachMethodWithHeadersInTheOrderGiven) {
    TFakeHttpServer server;
    const auto echo = [](const TFakeRequest& request, httplib::Response& response) {
        response.set_content(request.Method + ":" + request.Body, "text/plain");
    };
    server.Get("/doc", echo);
    server.Delete("/doc", echo);
    server.Post("/doc", echo);
    server.Start();

    THttpClient client;
    client.SetDefaultHeader("Accept-Encoding", "identity");
    client.SetDefaultHeader("X-Zeta", "old");
    client.SetDefaultHeader("x-zeta", "default");

    THttpRequest request =
        Get(server.BaseURL() + "/doc", {{"X-Second", "2"}, {"X-First", "1"}, {"X-Third", "3"}});
    EXPECT_EQ(AsText(client.Send(request).Body), "GET:");
    request.Method = THttpMethod::hmDelete;
    EXPECT_EQ(AsText(client.Send(request).Body), "DELETE:");
    request.Method = THttpMethod::hmPost;
    request.Body = ToBytes("<xml/>");
    request.Headers.push_back({"Content-Type", "application/xml"});
    const THttpResponse posted = client.Send(request);
    EXPECT_EQ(AsText(posted.Body), "POST:<xml/>");
    EXPECT_EQ(posted.StatusCode, 200);
    EXPECT_EQ(posted.ReasonPhrase, "OK");

    for (const TFakeRequest& seen : server.Requests()) {
        std::vector<std::string> ours;
        for (const auto& name : seen.HeaderNames()) {
            if (name.rfind("X-", 0) == 0 || name.rfind("x-", 0) == 0 || name == "Accept-Encoding")
                ours.push_back(name);
        }
        EXPECT_THAT(ours, ElementsAre("Accept-Encoding", "X-Zeta", "X-Second", "X-First", "X-Third"))
            << seen.Method;
        EXPECT_EQ(seen.Header("Accept-Encoding"), "identity");
        EXPECT_EQ(seen.Header("X-Zeta"), "default");
    }
}

TEST(HttpClientTest, RequestHeaderReplacesDefaultOfSameName) {
    TFakeHttpServer server;
    server.Get("/", [](const TFakeRequest&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    });
    server.Start();
    THttpClient client;
    client.SetDefaultHeader("X-Token", "default");
    client.Send(Get(server.BaseURL() + "/", {{"x-token", "mine"}}));
    const TFakeRequest seen = server.LastRequest();
    EXPECT_EQ(seen.Header("X-Token"), "mine");
    const std::vector<std::string> names = seen.HeaderNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "X-Token"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "x-token"), 1);
}

TEST(HttpClientTest, RejectsHeadersThatWouldBreakTheHeaderBlock) {
    THttpClient client;
    EXPECT_THROW(client.SetDefaultHeader("X-Bad", "a\r\nInjected: 1"), EAgentError);
    EXPECT_THROW(client.Send(Get("http://127.0.0.1:1/", {{"Bad Name", "x"}})), EAgentError);
}

TEST(HttpClientTest, PostsOneFilePartAsMultipartForm) {
    TFakeHttpServer server;
    server.Post("/upload", [](const TFakeRequest&, httplib::Response& response) {
        response.set_content("stored", "text/plain");
    });
    server.Start();

    THttpRequest request = Get(server.BaseURL() + "/upload");
    request.Method = THttpMethod::hmPost;
    request.FilePart = THttpFilePart{"xml_file", "WayBill_v4.xml", "application/xml", BinaryBytes(70000)};
    THttpClient client;
    EXPECT_EQ(client.Send(request).StatusCode, 200);

    const TFakeRequest seen = server.LastRequest();
    ASSERT_EQ(seen.Files.size(), 1u);
    EXPECT_EQ(seen.Files[0].name, "xml_file");
    EXPECT_EQ(seen.Files[0].filename, "WayBill_v4.xml");
    EXPECT_EQ(seen.Files[0].content_type, "application/xml");
    EXPECT_EQ(ToBytes(seen.Files[0].content), BinaryBytes(70000));
    EXPECT_THAT(seen.Header("Content-Type"), HasSubstr("multipart/form-data; boundary="));
}

TEST(HttpClientTest, ReturnsCompressedBodiesExactlyAsSent) {
    const TBytes gzipped = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x4B, 0x4C,
                            0x4A, 0x06, 0x00, 0xC2, 0x41, 0x24, 0x35, 0x03, 0x00, 0x00, 0x00};  // "abc"
    TFakeHttpServer server;
    server.Get("/gz", [&](const TFakeRequest&, httplib::Response& response) {
        response.set_header("Content-Encoding", "gzip");
        response.set_content(std::string(AsText(gzipped)), "text/plain");
    });
    server.Start();

    THttpClient client;
    client.SetAutomaticDecompression(false);
    EXPECT_THROW(client.SetAutomaticDecompression(true), EAgentError);
    const THttpResponse response = client.Send(Get(server.BaseURL() + "/gz"));
    EXPECT_EQ(response.Body, gzipped);
    EXPECT_EQ(response.Header("content-encoding"), "gzip");
    // Without a default header the client asks for no encoding at all.
    EXPECT_EQ(server.LastRequest().Header("Accept-Encoding"), "");
}

TEST(HttpClientTest, ReportsStatusReasonAndHeadersOfErrorAnswers) {
    TFakeHttpServer server;
    server.Get("/missing", [](const TFakeRequest&, httplib::Response& response) {
        response.status = 404;
        response.set_header("X-Reason", "no such document");
        response.set_content("{\"error\":\"gone\"}", "application/json");
    });
    server.Start();
    THttpClient client;
    const THttpResponse response = client.Send(Get(server.BaseURL() + "/missing"));
    EXPECT_EQ(response.StatusCode, 404);
    EXPECT_EQ(response.ReasonPhrase, "Not Found");
    EXPECT_EQ(response.Header("x-reason"), "no such document");
    EXPECT_EQ(response.Header("Content-Type"), "application/json");
    EXPECT_EQ(AsText(response.Body), "{\"error\":\"gone\"}");
}

TEST(HttpClientTest, RefusedConnectionSaysConnection) {
    THttpClient client;
    client.SetConnectTimeoutMs(2000);
    const int port = test::RefusedLoopbackPort();
    const std::string message =
        TransportErrorOf(client, Get("http://127.0.0.1:" + std::to_string(port) + "/"));
    EXPECT_THAT(message, HasSubstr("connection"));
    EXPECT_THAT(message, HasSubstr("127.0.0.1 port " + std::to_string(port)));
}

TEST(HttpClientTest, SilentServerFailsAfterResponseTimeout) {
    TRelease release;
    TFakeHttpServer server;
    server.Get("/stall", [&](const TFakeRequest&, httplib::Response& response) {
        release.WaitUpTo(std::chrono::seconds(10));
        response.set_content("late", "text/plain");
    });
    server.Get("/stall-midway", [&](const TFakeRequest&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [&](std::size_t, httplib::DataSink& sink) {
            sink.write("first part", 10);
            release.WaitUpTo(std::chrono::seconds(10));
            sink.done();
            return true;
        });
    });
    server.Start();

    THttpClient client;
    client.SetResponseTimeoutMs(300);
    EXPECT_THAT(TransportErrorOf(client, Get(server.BaseURL() + "/stall")), HasSubstr("timed out"));
    EXPECT_THAT(TransportErrorOf(client, Get(server.BaseURL() + "/stall-midway")), HasSubstr("timed out"));
    release.Done = true;
}

TEST(HttpClientTest, SlowButSteadyBodyIsNotCutOff) {
    TFakeHttpServer server;
    server.Get("/trickle", [](const TFakeRequest&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= 15) {
                sink.done();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sink.write("x", 1);
            return true;
        });
    });
    server.Start();

    THttpClient client;
    // The whole body takes longer than the time-out; no gap between pieces comes near it.
    client.SetResponseTimeoutMs(1000);
    const THttpResponse response = client.Send(Get(server.BaseURL() + "/trickle"));
    EXPECT_EQ(AsText(response.Body), std::string(15, 'x'));
}

TEST(HttpClientTest, FollowsAtMostFiveRedirectsUnlessSwitchedOff) {
    TFakeHttpServer server;
    server.Get(R"(/hop/(\d+))", [](const TFakeRequest& request, httplib::Response& response) {
        const int left = std::stoi(request.Path.substr(5));
        if (left == 0) {
            response.set_content("arrived", "text/plain");
        } else {
            response.set_redirect("/hop/" + std::to_string(left - 1));
        }
    });
    server.Start();

    THttpClient client;
    const THttpResponse followed = client.Send(Get(server.BaseURL() + "/hop/5"));
    EXPECT_EQ(followed.StatusCode, 200);
    EXPECT_EQ(followed.ReasonPhrase, "OK");
    EXPECT_EQ(AsText(followed.Body), "arrived");
    EXPECT_EQ(followed.Header("Location"), "");  // headers of the final answer only

    EXPECT_THAT(TransportErrorOf(client, Get(server.BaseURL() + "/hop/6")), HasSubstr("redirect"));

    client.SetFollowRedirects(false);
    const THttpResponse notFollowed = client.Send(Get(server.BaseURL() + "/hop/2"));
    EXPECT_EQ(notFollowed.StatusCode, 302);
    EXPECT_EQ(notFollowed.ReasonPhrase, "Found");
    EXPECT_EQ(notFollowed.Header("Location"), "/hop/1");
}

TEST(HttpClientTest, RedirectKeepsMethodAndBodyAndALockedClientItsHost) {
    TFakeHttpServer other;
    other.Get("/elsewhere", [](const TFakeRequest&, httplib::Response& response) {
        response.set_content("elsewhere", "text/plain");
    });
    other.Start("127.0.0.2");
    TFakeHttpServer server;
    server.Post(R"(/moved/(\d+))", [](const TFakeRequest& request, httplib::Response& response) {
        response.set_redirect("/stored", std::stoi(request.Path.substr(7)));
    });
    const auto stored = [](const TFakeRequest& request, httplib::Response& response) {
        response.set_content(request.Method + ":" + request.Body + ":" + request.Header("X-Secret"),
                             "text/plain");
    };
    server.Get("/stored", stored);
    server.Post("/stored", stored);
    server.Get("/away", [&](const TFakeRequest&, httplib::Response& response) {
        response.set_redirect(other.BaseURL() + "/elsewhere");
    });
    server.Get("/absolute", [&](const TFakeRequest&, httplib::Response& response) {
        response.set_redirect(server.BaseURL() + "/stored", 308);
    });
    server.Start();

    THttpClient client;
    client.SetSameHostRedirectsOnly(true);
    for (const int status : {301, 302, 303, 307, 308}) {
        THttpRequest post = Get(server.BaseURL() + "/moved/" + std::to_string(status), {{"X-Secret", "s"}});
        post.Method = THttpMethod::hmPost;
        post.Body = ToBytes("<doc/>");
        EXPECT_EQ(AsText(client.Send(post).Body), "POST:<doc/>:s") << status;
    }
    EXPECT_EQ(AsText(client.Send(Get(server.BaseURL() + "/absolute")).Body), "GET::");

    EXPECT_EQ(TransportErrorOf(client, Get(server.BaseURL() + "/away", {{"X-Secret", "s"}})),
              "Redirect to another host refused: 127.0.0.2");
    EXPECT_EQ(other.RequestCount(), 0u);
    THttpClient download;
    EXPECT_EQ(AsText(download.Send(Get(server.BaseURL() + "/away")).Body), "elsewhere");
}

TEST(HttpClientTest, TricklingBodyEndsAtTheDeadlineOrBelowTheMinimumRate) {
    TRelease release;
    TFakeHttpServer server;
    server.Get("/trickle", [&](const TFakeRequest&, httplib::Response& response) {
        response.set_content_provider(100000, "application/octet-stream",
                                      [&](std::size_t, std::size_t, httplib::DataSink& sink) {
                                          std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                          return !release.Done && sink.write("x", 1);
                                      });
    });
    server.Start();

    const auto failsWithin = [&](THttpClient& client, const std::string& expected) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THAT(TransportErrorOf(client, Get(server.BaseURL() + "/trickle")), HasSubstr(expected));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
    };
    THttpClient client;
    client.SetConnectTimeoutMs(500);
    client.SetResponseTimeoutMs(1000);
    failsWithin(client, "Request took longer than 1500 ms");
    THttpClient download;
    download.SetResponseTimeoutMs(60000);
    download.SetMinimumRate(100, 1500);
    failsWithin(download, "Transfer too slow: ");
    release.Done = true;
}

TEST(HttpClientTest, ReusesOneConnectionForSeveralRequests) {
    TFakeHttpServer server;
    server.Get("/ping", [](const TFakeRequest&, httplib::Response& response) {
        response.set_content("pong", "text/plain");
    });
    server.Post("/ping", [](const TFakeRequest&, httplib::Response& response) {
        response.set_content("posted", "text/plain");
    });
    server.Start();

    THttpClient client;
    client.Send(Get(server.BaseURL() + "/ping"));
    client.SetResponseTimeoutMs(5000);  // changing settings keeps the connection
    THttpRequest post = Get(server.BaseURL() + "/ping");
    post.Method = THttpMethod::hmPost;
    post.Body = ToBytes("x");
    client.Send(post);
    client.Send(Get(server.BaseURL() + "/ping"));
    EXPECT_EQ(server.RequestCount(), 3u);
    EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(HttpClientTest, BodyOverTheLimitFailsWhetherAnnouncedOrDiscovered) {
    TFakeHttpServer server;
    server.Get("/announced", [](const TFakeRequest&, httplib::Response& response) {
        // Announces 300 MiB but sends only a little before giving up.
        response.set_content_provider(300 * Mebibyte, "application/octet-stream",
                                      [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                          sink.write("abc", 3);
                                          return false;
                                      });
    });
    server.Get("/chunked", [](const TFakeRequest&, httplib::Response& response) {
        response.set_chunked_content_provider("application/octet-stream",
                                              [](std::size_t offset, httplib::DataSink& sink) {
                                                  if (offset >= 3 * Mebibyte) {
                                                      sink.done();
                                                      return true;
                                                  }
                                                  const std::string block(Mebibyte / 16, 'z');
                                                  sink.write(block.data(), block.size());
                                                  return true;
                                              });
    });
    server.Start();

    THttpClient client;
    EXPECT_EQ(TransportErrorOf(client, Get(server.BaseURL() + "/announced")),
              "Response body exceeds 256 MiB");
    client.SetMaxBodyBytes(Mebibyte);
    EXPECT_EQ(TransportErrorOf(client, Get(server.BaseURL() + "/chunked")), "Response body exceeds 1 MiB");
    client.SetMaxBodyBytes(4 * Mebibyte);
    EXPECT_EQ(client.Send(Get(server.BaseURL() + "/chunked")).Body.size(), 3 * Mebibyte);
}

TEST(HttpClientTest, DownloadStreamsSuccessToFileAndKeepsErrorBodiesInMemory) {
    TFakeHttpServer server;
    server.Get("/big", [](const TFakeRequest&, httplib::Response& response) {
        std::string body;
        for (std::size_t i = 0; i < 2 * Mebibyte; ++i)
            body += static_cast<char>(i % 251);
        response.set_content(body, "application/octet-stream");
    });
    server.Get("/missing", [](const TFakeRequest&, httplib::Response& response) {
        response.status = 404;
        response.set_content("{\"error\":\"no file\"}", "application/json");
    });
    server.Start();

    test::TTempDir dir;
    THttpClient client;
    client.SetMaxBodyBytes(Mebibyte);  // no limit applies to a download

    const std::string target = dir.File("setup.bin");
    const THttpResponse ok = client.DownloadToFile(Get(server.BaseURL() + "/big"), target);
    EXPECT_EQ(ok.StatusCode, 200);
    EXPECT_TRUE(ok.Body.empty());
    const std::string written = test::ReadFileText(target);
    ASSERT_EQ(written.size(), 2 * Mebibyte);
    EXPECT_EQ(static_cast<unsigned char>(written[251 * 3 + 7]), 7);

    const std::string untouched = dir.File("keep.bin");
    test::WriteFileText(untouched, "previous");
    const THttpResponse missing = client.DownloadToFile(Get(server.BaseURL() + "/missing"), untouched);
    EXPECT_EQ(missing.StatusCode, 404);
    EXPECT_EQ(AsText(missing.Body), "{\"error\":\"no file\"}");
    EXPECT_EQ(test::ReadFileText(untouched), "previous");

    EXPECT_THROW(client.DownloadToFile(Get(server.BaseURL() + "/big"), dir.File("no/such/folder/x.bin")),
                 EFileError);
}

TEST(HttpClientTest, TruncatedDownloadLeavesNoPartialFile) {
    TFakeHttpServer server;
    server.Get("/cut", [](const TFakeRequest&, httplib::Response& response) {
        response.set_content_provider(100000, "application/octet-stream",
                                      [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                          const std::string part(1000, 'p');
                                          sink.write(part.data(), part.size());
                                          return false;
                                      });
    });
    server.Start();
    test::TTempDir dir;
    THttpClient client;
    const std::string target = dir.File("part.bin");
    EXPECT_THROW(client.DownloadToFile(Get(server.BaseURL() + "/cut"), target), ETransportError);
    EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace egaiss::platform
