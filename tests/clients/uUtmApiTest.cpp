#include "clients/uUtmApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "clients/uHttpErrors.h"
#include "core/uEgaissLog.h"
#include "platform/uPath.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using test::TFakeHttpServer;
using test::TFakeRequest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// "Документ"
const std::string& Cyrillic() {
    static const std::string text = "\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82";
    return text;
}

test::TFakeHandler Reply(int status, const std::string& body, const std::string& contentType = "text/xml") {
    return [=](const TFakeRequest&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, contentType);
    };
}

class UtmApiTest : public ::testing::Test {
protected:
    std::string LogText() const { return test::ReadFileText(LogFilePath()); }

    std::vector<std::string> TempUploads() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Utf8Path(FDataDir.Path()))) {
            const std::string name = PathUtf8(entry.path().filename());
            if (name.rfind("velmora_egaiss_", 0) == 0) names.push_back(name);
        }
        return names;
    }

    std::string RefusedURL() const {
        return "http://127.0.0.1:" + std::to_string(test::RefusedLoopbackPort());
    }

    test::TTempDataDir FDataDir;
    TFakeHttpServer FServer;
};

TEST(UtmTextTest, XmlTagTextMatchesPrefixedAttributedElementsByNamePrefix) {
    EXPECT_EQ(XmlTagText("<a><ns:CN id=\"1\">\r\n FSRAR-RSA-1 \t</ns:CN></a>", "CN"), "FSRAR-RSA-1");
    EXPECT_EQ(XmlTagText("<cn>x</cn>", "CN"), "x");
    // The tag is a prefix of the element name, so an earlier OU or Owner wins over O.
    EXPECT_EQ(XmlTagText("<OU>shop</OU><O>firm</O>", "O"), "shop");
    EXPECT_EQ(XmlTagText("<Owner>me</Owner><O>firm</O>", "O"), "me");
    EXPECT_EQ(XmlTagText("<axb>no</axb>", "a.b"), "");
    EXPECT_EQ(XmlTagText("<O>unterminated", "O"), "");
    EXPECT_EQ(XmlTagText("", "O"), "");
}

TEST(UtmTextTest, ExtractFsrarIdTakesDigitsAfterPrefixOrAllDigits) {
    EXPECT_EQ(ExtractFsrarId(" FSRAR-RSA-030000123456 "), "030000123456");
    EXPECT_EQ(ExtractFsrarId("030000123456"), "030000123456");
    EXPECT_EQ(ExtractFsrarId("ab-12c3"), "123");
    // Every digit after the prefix, later elements included.
    EXPECT_EQ(ExtractFsrarId("<CN>x1</CN><S>fsrar-rsa-0300</S><T>12</T>"), "030012");
    EXPECT_EQ(ExtractFsrarId("FSRAR-RSA-none"), "");
    EXPECT_EQ(ExtractFsrarId(" \r\n"), "");
}

TEST(UtmTextTest, ConnectionErrorTextRecognisesFailedConnections) {
    EXPECT_EQ(ConnectionErrorText("Error 12029 occurred"), "Failed to connect to UTM");
    EXPECT_EQ(ConnectionErrorText("Error Sending Data"), "Failed to connect to UTM");
    EXPECT_EQ(ConnectionErrorText("\xD0\x9D\xD0\xB5 \xD1\x83\xD0\xB4\xD0\xB0\xD0\xB5\xD1\x82\xD1\x81\xD1\x8F "
                                  "\xD1\x81\xD0\xB2\xD1\x8F\xD0\xB7\xD0\xB0\xD1\x82\xD1\x8C\xD1\x81\xD1\x8F"),
              "Failed to connect to UTM");  // "Не удается связаться"
    EXPECT_EQ(ConnectionErrorText("Connection refused"), "Failed to connect to UTM");
    EXPECT_EQ(ConnectionErrorText("HTTP 500: boom"), "HTTP 500: boom");
    EXPECT_EQ(ConnectionErrorText(""), "HTTP unavailable");
}

TEST(UtmTextTest, GuessDocTypeUsesLastNonNumericPartThenXmlPrefix) {
    EXPECT_EQ(TUtmApi::GuessDocType("http://u:8080/opt/out/WayBill_v4/123", ""), "WayBill_v4");
    EXPECT_EQ(TUtmApi::GuessDocType("ReplyRests//-7/", ""), "ReplyRests");
    EXPECT_EQ(TUtmApi::GuessDocType("/12/34", "<ns:Documents xmlns:ns=\"x\"/>"), "ns");
    EXPECT_EQ(TUtmApi::GuessDocType("", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ns:Documents/>"), "");
    EXPECT_EQ(TUtmApi::GuessDocType("1", ":root"), "");
    EXPECT_EQ(TUtmApi::GuessDocType("1", "<plain/>"), "");
}

TEST(UtmTextTest, ResolveURLJoinsRelativeAndExtractsFromXml) {
    const std::string base = "http://127.0.0.1:8080";
    EXPECT_EQ(TUtmApi::ResolveURL(base, " HTTPS://h/opt/out/A/1 "), "HTTPS://h/opt/out/A/1");
    EXPECT_EQ(TUtmApi::ResolveURL(base, "<url>http://h/opt/out/A/1</url>"), "http://h/opt/out/A/1");
    EXPECT_EQ(TUtmApi::ResolveURL(base, "opt/out/A/1"), base + "/opt/out/A/1");
    EXPECT_EQ(TUtmApi::ResolveURL(base, "/opt/out/A/1"), base + "/opt/out/A/1");
    EXPECT_EQ(TUtmApi::ResolveURL(base, ""), base + "/");
    EXPECT_EQ(TUtmApi(base + "//").BaseURL(), base);
}

TEST_F(UtmApiTest, ListOutURLsTrimsPunctuationAndDropsCaseDuplicates) {
    const std::string listing =
        "<A>(see http://127.0.0.1:8080/opt/out/WayBill_v4/1).\n"
        "<url>HTTP://127.0.0.1:8080/OPT/OUT/WAYBILL_V4/1</url>"
        "<url>https://127.0.0.1:8080/opt/in/Ticket/2],</url></A>";
    FServer.Get("/opt/out", Reply(200, listing));
    FServer.Start();
    TUtmApi utm(FServer.BaseURL());
    EXPECT_THAT(utm.ListOutURLs(), ElementsAre("http://127.0.0.1:8080/opt/out/WayBill_v4/1"));
    EXPECT_EQ(FServer.LastRequest().Target, "/opt/out?refresh=true");
}

TEST_F(UtmApiTest, ListOutURLsFallsBackToUrlElementsThenPlainLines) {
    std::string listing = "<A><url> opt/out/TTN/5 </url><url>opt/out/ttn/5</url><url>opt/out/7</url></A>";
    FServer.Get("/opt/out",
                [&](const TFakeRequest&, httplib::Response& res) { res.set_content(listing, "text/xml"); });
    FServer.Get("/opt/out/TTN/5", Reply(200, "<doc/>"));
    FServer.Start();
    TUtmApi utm(FServer.BaseURL());
    const auto urls = utm.ListOutURLs();
    EXPECT_THAT(urls, ElementsAre("opt/out/TTN/5", "opt/out/7"));
    EXPECT_EQ(utm.FetchDocument(urls.front()), "<doc/>");
    EXPECT_EQ(FServer.LastRequest().Path, "/opt/out/TTN/5");

    listing =
        "http://h/opt/out/ticket/1\r\n  http://h/opt/out/x  "
        "\nhttp://h/OPT/x\n<b>http://h/opt/y</b>\nftp://h/opt/z";
    EXPECT_THAT(utm.ListOutURLs(), ElementsAre("http://h/opt/out/ticket/1", "http://h/opt/out/x"));
    listing = "<A></A>";
    EXPECT_TRUE(utm.ListOutURLs().empty());
}

TEST_F(UtmApiTest, ListedDocumentsLeaveNeitherTheOutSideNorTheConfiguredUtm) {
    const std::string listing =
        "<A><url>http://u/opt/out/../../admin/WayBill_v4/2</url><url>http://u/opt/out/%2e%2E/%2E./x/3</url>"
        "<url>http://u/opt/out/..\\..\\x/4</url><url>http://u/opt/outside/5</url><url>http://u/opt/out/</url>"
        "<url>http://u/opt/out/A/\x01"
        "B/8</url><url>http://127.0.0.2:1/opt/out/A/./B/../6?q=%2e#frag</url></A>";
    FServer.Get("/opt/out", Reply(200, listing));
    FServer.Get("/opt/out/A/6", Reply(200, "<doc/>"));
    FServer.Delete("/opt/out/A/6", Reply(200, ""));
    TFakeHttpServer elsewhere;
    elsewhere.Get("/opt/out/A/7", Reply(200, "<stolen/>"));
    elsewhere.Start("127.0.0.2");
    FServer.Get("/opt/out/A/7", [&](const TFakeRequest&, httplib::Response& res) {
        res.status = 302;
        res.set_header("Location", elsewhere.BaseURL() + "/opt/out/A/7");
    });
    FServer.Start();
    TUtmApi utm(FServer.BaseURL());
    const auto urls = utm.ListOutURLs();
    ASSERT_THAT(urls, ElementsAre("http://127.0.0.2:1/opt/out/A/./B/../6?q=%2e#frag"));
    EXPECT_THAT(LogText(), HasSubstr("[INFO] UTM /opt/out: skipped URL outside /opt/out/: "
                                     "http://u/opt/out/../../admin/WayBill_v4/2\r\n"));
    EXPECT_THAT(LogText(),
                HasSubstr("[INFO] UTM /opt/out: skipped malformed URL: http://u/opt/out/A/?B/8\r\n"));

    EXPECT_EQ(utm.FetchDocument(urls.front()), "<doc/>");
    utm.DeleteDocument(urls.front());
    EXPECT_EQ(FServer.LastRequest().Method, "DELETE");
    EXPECT_EQ(FServer.LastRequest().Target, "/opt/out/A/6?q=%2e");

    // Nor does a redirect take a document request to another host.
    try {
        utm.FetchDocument("http://u/opt/out/A/7");
        FAIL() << "the redirect was followed";
    } catch (const std::exception& error) {
        EXPECT_THAT(error.what(), HasSubstr("Redirect to another host refused: 127.0.0.2"));
    }
    EXPECT_EQ(elsewhere.RequestCount(), 0u);
}

TEST_F(UtmApiTest, FetchDocumentLogsEveryStepAndReusesTheConnection) {
    FServer.Get("/opt/out/WayBill_v4/1", Reply(200, "<d>" + Cyrillic() + "</d>"));
    FServer.Start();
    TUtmApi utm(FServer.BaseURL());
    const std::string url = FServer.BaseURL() + "/opt/out/WayBill_v4/1";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(utm.FetchDocument(url), "<d>" + Cyrillic() + "</d>");
    EXPECT_EQ(FServer.ConnectionCount(), 1u);
    EXPECT_EQ(FServer.LastRequest().Header("Accept-Encoding"), "identity");

    const std::string log = LogText();
    EXPECT_THAT(log, HasSubstr("[STEP] UTM GET | " + url + "\r\n"));
    EXPECT_THAT(log, HasSubstr("[DBG] UTM GET status=200 url=" + url + "\r\n"));
    EXPECT_THAT(log, HasSubstr("[STEP] UTM GET done | chars=15\r\n"));
}

TEST_F(UtmApiTest, FailedRequestsRaiseWithStatusAndErrorText) {
    FServer.Get("/json", Reply(500, R"({"error":"token locked"})", "application/json"));
    FServer.Get("/long", Reply(404, std::string(1000, 'x'), "text/plain"));
    FServer.Get("/empty", Reply(502, ""));
    FServer.Start();
    TUtmApi utm(FServer.BaseURL());
    const auto messageOf = [&](const std::string& path) {
        try {
            utm.FetchDocument(path);
        } catch (const EHttpError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(messageOf("/json"), "HTTP 500: token locked");
    EXPECT_EQ(messageOf("/long"), "HTTP 404: " + std::string(300, 'x'));
    EXPECT_EQ(messageOf("/empty"), "HTTP 502: Bad Gateway");
}

TEST_F(UtmApiTest, RefusedConnectionReadsAsFailedToConnectAndIsLogged) {
    TUtmApi utm(RefusedURL());
    try {
        utm.FetchDocument("/opt/out/A/1");
        FAIL() << "no error";
    } catch (const ETransportError& error) {
        EXPECT_EQ(ConnectionErrorText(error.what()), "Failed to connect to UTM") << error.what();
    }
    EXPECT_THAT(LogText(), HasSubstr("[EXC] UTM GET transport | ETransportError: "));
    EXPECT_FALSE(utm.Ping());
}

TEST_F(UtmApiTest, DeleteDocumentAcceptsNotFoundButNotOtherFailures) {
    FServer.Delete("/opt/out/A/1", Reply(404, "gone"));
    FServer.Delete("/opt/out/A/2", Reply(500, "broken"));
    FServer.Start();
    TUtmApi utm(FServer.BaseURL());
    EXPECT_NO_THROW(utm.DeleteDocument("opt/out/A/1"));
    EXPECT_EQ(FServer.LastRequest().Method, "DELETE");
    EXPECT_THROW(utm.DeleteDocument("/opt/out/A/2"), EHttpError);
}

TEST_F(UtmApiTest, FetchDiagnosisReadsTokenIdentityAndVersion) {
    FServer.Get("/", Reply(200, "UTM"));
    FServer.Get("/info/version", Reply(404, ""));
    FServer.Get("/api/info/version", Reply(200, " \r\n"));
    FServer.Get("/info/", Reply(200, " 4.2.0\n"));
    FServer.Get("/diagnosis", Reply(200, "<Diag><CN>FSRAR-RSA-030000123456</CN><O>" + Cyrillic() +
                                             "</O><OU>Shop 1</OU></Diag>"));
    FServer.Start();
    TUtmDiagnosis diagnosis;
    TUtmApi(FServer.BaseURL()).FetchDiagnosis(diagnosis);
    TUtmDiagnosis expected;
    expected.OK = true;
    expected.UtmReachable = true;
    expected.FsrarId = "030000123456";
    expected.CertCn = "FSRAR-RSA-030000123456";
    expected.CertO = Cyrillic();
    expected.CertOu = "Shop 1";
    expected.UtmVersion = "4.2.0";
    EXPECT_EQ(diagnosis, expected);
}

TEST_F(UtmApiTest, FetchDiagnosisReportsWhyItFailed) {
    // The declaration's digits and a date must not pass for an id when no token is plugged in.
    std::string diagnosisXml = "<?xml version=\"1.0\"?><Diag><CN>no token</CN><At>2026-12-09</At></Diag>";
    int diagnosisStatus = 200;
    FServer.Get("/", Reply(200, "UTM"));
    FServer.Get("/diagnosis", [&](const TFakeRequest&, httplib::Response& res) {
        res.status = diagnosisStatus;
        res.set_content(diagnosisXml, "text/xml");
    });
    FServer.Start();
    TUtmApi utm(FServer.BaseURL());

    TUtmDiagnosis diagnosis;
    utm.FetchDiagnosis(diagnosis);
    EXPECT_TRUE(diagnosis.UtmReachable);
    EXPECT_EQ(diagnosis.UtmVersion, "");
    EXPECT_FALSE(diagnosis.OK);
    EXPECT_EQ(diagnosis.ErrorText, "No FSRAR_ID (CN) in /diagnosis. Check USB token.");

    diagnosisXml = "<Diag><Cert>FSRAR-RSA-0300</Cert><N>77</N></Diag>";  // no CN: digits after the prefix
    utm.FetchDiagnosis(diagnosis);
    EXPECT_EQ(diagnosis.FsrarId, "030077");

    diagnosisStatus = 500;
    diagnosisXml = "token error";
    utm.FetchDiagnosis(diagnosis);
    EXPECT_FALSE(diagnosis.OK);
    EXPECT_EQ(diagnosis.ErrorText, "HTTP 500: token error");

    TUtmApi(RefusedURL()).FetchDiagnosis(diagnosis);
    EXPECT_FALSE(diagnosis.UtmReachable);
    EXPECT_EQ(diagnosis.ErrorText, "HTTP unavailable");
}

TEST_F(UtmApiTest, SendDocumentUploadsOneXmlPartAndRemovesTheTempFile) {
    std::string reply = "<A><url>a9d8-77</url><sign>x</sign></A>";
    FServer.Post("/opt/in/WayBill_v4", [&](const TFakeRequest&, httplib::Response& res) {
        EXPECT_EQ(TempUploads().size(), 1u);  // the file exists while the request runs
        res.set_content(reply, "text/xml");
    });
    FServer.Start();
    TUtmApi utm(FServer.BaseURL() + "/");
    const std::string xml = "<?xml version=\"1.0\"?>\r\n<ns:Doc>" + Cyrillic() + "</ns:Doc>";
    std::string utmURL = "stale";
    std::string utmResponse = "stale";
    EXPECT_TRUE(utm.SendDocument("WayBill_v4", xml, utmURL, utmResponse));
    EXPECT_EQ(utmURL, reply);
    EXPECT_EQ(utmResponse, reply);

    const TFakeRequest request = FServer.LastRequest();
    EXPECT_EQ(request.Target, "/opt/in/WayBill_v4");
    EXPECT_THAT(request.Header("Content-Type"), StartsWith("multipart/form-data; boundary="));
    ASSERT_EQ(request.Files.size(), 1u);
    EXPECT_EQ(request.Files[0].name, "xml_file");
    EXPECT_THAT(request.Files[0].filename, StartsWith("velmora_egaiss_"));
    EXPECT_EQ(request.Files[0].content_type, "text/xml");
    EXPECT_EQ(request.Files[0].content, xml);
    EXPECT_TRUE(TempUploads().empty());
    EXPECT_THAT(LogText(), HasSubstr("[STEP] UTM POST done | url=" + reply + "\r\n"));

    reply = "  Accepted\r\nsee HTTPS://utm/opt/in/WayBill_v4/9 now ";
    utm.SendDocument("WayBill_v4", xml, utmURL, utmResponse);
    EXPECT_EQ(utmURL, "HTTPS://utm/opt/in/WayBill_v4/9");
    EXPECT_EQ(utmResponse, "Accepted\r\nsee HTTPS://utm/opt/in/WayBill_v4/9 now");
}

TEST_F(UtmApiTest, SendDocumentRaisesOnUtmErrorReplyWhateverTheStatus) {
    int status = 200;
    FServer.Post("/opt/in/.*", [&](const TFakeRequest&, httplib::Response& res) {
        res.status = status;
        res.set_content("<?xml version=\"1.0\"?><A><error> " + Cyrillic() + " </error><ver>2</ver></A>",
                        "text/xml");
    });
    FServer.Start();
    TUtmApi utm(FServer.BaseURL());
    std::string utmURL;
    std::string utmResponse;
    for (const int code : {200, 400}) {
        status = code;
        try {
            utm.SendDocument("WayBill_v4", "<x/>", utmURL, utmResponse);
            ADD_FAILURE() << "accepted with status " << code;
        } catch (const EUtmError& error) {
            EXPECT_EQ(std::string(error.what()), "UTM error: " + Cyrillic());
        }
        EXPECT_TRUE(TempUploads().empty());
    }
    EXPECT_EQ(utmURL, "");
}

TEST_F(UtmApiTest, SendDocumentRemovesTheTempFileWhenTheRequestFails) {
    FServer.Post("/opt/in/.*", Reply(500, "<A><url>x</url><error>later</error></A>"));
    FServer.Start();
    std::string utmURL;
    std::string utmResponse;
    EXPECT_THROW(TUtmApi(FServer.BaseURL()).SendDocument("T", "<x/>", utmURL, utmResponse), EHttpError);
    EXPECT_THROW(TUtmApi(RefusedURL()).SendDocument("T", "<x/>", utmURL, utmResponse), ETransportError);
    EXPECT_TRUE(TempUploads().empty());
    EXPECT_THAT(LogText(), HasSubstr("[EXC] UTM POST transport | ETransportError: "));
}

}  // namespace
}  // namespace egaiss
