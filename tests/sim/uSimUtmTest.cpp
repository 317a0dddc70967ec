#include "uSimTestSupport.h"
#include "uSimUtm.h"

#include <gtest/gtest.h>

#include <regex>

namespace egaiss::sim::test {
namespace {

using TUtm = TRunningSim<TSimUtm, TUtmSettings>;

TUtmSettings WithDocs(int docs) {
    TUtmSettings settings;
    settings.Docs = docs;
    return settings;
}

std::vector<std::string> ListedUrls(const std::string& body) {
    std::vector<std::string> urls;
    const std::regex url("<url[^>]*>([^<]+)</url>");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), url); it != std::sregex_iterator(); ++it) {
        urls.push_back((*it)[1]);
    }
    return urls;
}

httplib::MultipartFormDataItems XmlFile(const std::string& name, const std::string& content) {
    return {{name, content, "doc.xml", "text/xml"}};
}

TEST(SimUtm, ListsWaitingDocumentsUntilEachIsDeletedOnce) {
    TUtm utm(WithDocs(2));
    auto client = utm.Client();
    auto list = client.Get("/opt/out?refresh=true");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, 200);
    const auto urls = ListedUrls(list->body);
    ASSERT_EQ(urls.size(), 2U);
    EXPECT_EQ(urls[0], utm.BaseUrl() + "/opt/out/WayBill_v4/1");
    EXPECT_NE(list->body.find("<url replyId=\""), std::string::npos);
    EXPECT_NE(list->body.find("<ver>2</ver></A>"), std::string::npos);

    auto doc = client.Get("/opt/out/WayBill_v4/1");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->status, 200);
    EXPECT_NE(doc->body.find("<ns:WayBill_v4>"), std::string::npos);
    EXPECT_NE(doc->body.find("Договор поставки"), std::string::npos);
    EXPECT_EQ(client.Get("/opt/out/Ticket/1")->status, 404) << "the type is part of the address";

    EXPECT_EQ(client.Delete("/opt/out/WayBill_v4/1")->status, 200);
    EXPECT_EQ(client.Delete("/opt/out/WayBill_v4/1")->status, 404);
    EXPECT_EQ(client.Get("/opt/out/WayBill_v4/1")->status, 404);
    EXPECT_EQ(ListedUrls(client.Get("/opt/out?refresh=true")->body).size(), 1U);

    const auto state = utm.State();
    ASSERT_TRUE(state.IsObject());
    EXPECT_EQ(state["counts"]["documents"].GetInt(), 1);
    ASSERT_EQ(state["deleted"].Size(), 1U);
    EXPECT_STREQ(state["deleted"][0]["url"].GetString(), urls[0].c_str());
}

TEST(SimUtm, AcceptsOnlyMultipartUploadsWithAnXmlFilePart) {
    TUtm utm(WithDocs(0));
    auto client = utm.Client();
    const std::string xml = "<?xml version=\"1.0\"?><ns:Documents>Остатки</ns:Documents>";
    EXPECT_EQ(client.Post("/opt/in/QueryRests_v2", xml, "text/xml")->status, 400);
    EXPECT_EQ(client.Post("/opt/in/QueryRests_v2", XmlFile("file", xml))->status, 400);
    EXPECT_EQ(client.Post("/opt/in/QueryRests_v2", XmlFile("xml_file", "not xml"))->status, 400);
    EXPECT_EQ(client.Post("/opt/in/Bad%20Type", XmlFile("xml_file", xml))->status, 400);

    auto accepted = client.Post("/opt/in/QueryRests_v2", XmlFile("xml_file", xml));
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->status, 200);
    const std::regex answer(
        "<\\?xml version=\"1.0\" encoding=\"UTF-8\"\\?><A><url>([0-9a-f-]{36})</url><sign>[0-9A-F]+</sign>"
        "<ver>2</ver></A>");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(accepted->body, match, answer)) << accepted->body;

    const auto state = utm.State();
    ASSERT_EQ(state["received"].Size(), 1U) << "refused uploads are not kept";
    EXPECT_STREQ(state["received"][0]["xml"].GetString(), xml.c_str());
    EXPECT_STREQ(state["received"][0]["type"].GetString(), "QueryRests_v2");
    EXPECT_STREQ(state["received"][0]["guid"].GetString(), match[1].str().c_str());
}

TEST(SimUtm, AnswersAnUploadWithATicketWhenTicketsAreOn) {
    TUtmSettings settings = WithDocs(0);
    settings.Tickets = true;
    TUtm utm(settings);
    auto client = utm.Client();
    auto accepted = client.Post("/opt/in/WayBillAct_v4", XmlFile("xml_file", "<a/>"));
    ASSERT_TRUE(accepted);
    const std::string guid = accepted->body.substr(accepted->body.find("<url>") + 5, 36);
    auto list = client.Get("/opt/out");
    EXPECT_NE(list->body.find("replyId=\"" + guid + "\">" + utm.BaseUrl() + "/opt/out/Ticket/1<"),
              std::string::npos)
        << list->body;
    EXPECT_NE(client.Get("/opt/out/Ticket/1")->body.find("<tc:DocType>WayBillAct_v4</tc:DocType>"),
              std::string::npos);
}

TEST(SimUtm, DiagnosisNamesTheTokenOwnerOnlyWhenATokenIsPresent) {
    TUtmSettings settings = WithDocs(0);
    settings.FsrarId = "030000987654";
    TUtm utm(settings);
    auto client = utm.Client();
    const std::string with_token = client.Get("/diagnosis")->body;
    EXPECT_NE(with_token.find("<CN>FSRAR-RSA-030000987654</CN><O>"), std::string::npos);
    EXPECT_LT(with_token.find("<O>"), with_token.find("<OU>")) << "O must come before OU";

    client.Post("/sim/config", R"({"token":false})", "application/json");
    const std::string without = client.Get("/diagnosis")->body;
    EXPECT_EQ(without.find_first_of("0123456789"), std::string::npos) << without;
}

TEST(SimUtm, VersionAnswersOnlyOnTheChosenPath) {
    TUtm utm(WithDocs(0));
    auto client = utm.Client();
    EXPECT_EQ(client.Get("/info/version")->body, "4.2.0");
    EXPECT_EQ(client.Get("/api/info/version")->status, 404);
    client.Post("/sim/config", R"({"version":"4.1.1","version_path":"/info/"})", "application/json");
    EXPECT_EQ(client.Get("/info/version")->status, 404);
    EXPECT_EQ(client.Get("/info/")->body, "4.1.1");
    EXPECT_EQ(client.Post("/sim/config", R"({"version_path":"/x"})", "application/json")->status, 400);
    client.Post("/sim/config", R"({"version":""})", "application/json");
    EXPECT_EQ(client.Get("/info/")->status, 404);
    EXPECT_EQ(client.Get("/")->status, 200);
}

TEST(SimUtm, ControlRouteAddsDocumentsOfTheGivenType) {
    TUtm utm(WithDocs(0));
    auto client = utm.Client();
    auto added = client.Post("/sim/docs", R"({"count":2,"type":"ReplyRests_v2"})", "application/json");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->status, 200);
    rapidjson::Document body;
    body.Parse(added->body.c_str());
    ASSERT_EQ(body["added"].Size(), 2U);
    EXPECT_STREQ(body["added"][1]["url"].GetString(), (utm.BaseUrl() + "/opt/out/ReplyRests_v2/2").c_str());
    EXPECT_NE(client.Get("/opt/out/ReplyRests_v2/2")->body.find("<rst:StockPosition>"), std::string::npos);
    EXPECT_EQ(client.Post("/sim/docs", R"({"type":"../x"})", "application/json")->status, 400);
}

}  // namespace
}  // namespace egaiss::sim::test
