#include "core/uXmlCompleteness.h"
#include "uSimDocuments.h"
#include "uSimDownload.h"
#include "uSimFaults.h"
#include "uSimJson.h"
#include "uSimOptions.h"
#include "uSimTestSupport.h"
#include "uSimUtm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace egaiss::sim::test {
namespace {

namespace fs = std::filesystem;

// Elements the public schemas have where older simulator documents had others.
TEST(SimDocuments, IncomingDocumentsFollowTheSchemasShapes) {
    TDocumentFactory factory("030000123456", 7);
    // Without the line breaks and indentation, so that nesting reads as adjacent tags.
    const auto xml = [&](const char* type) {
        std::string text;
        bool indent = false;
        for (const char c : factory.Incoming(type).Xml) {
            indent = c == '\n' || (indent && c == ' ');
            if (!indent) text += c;
        }
        return text;
    };
    const std::string waybill = xml("WayBill_v4");
    EXPECT_NE(waybill.find("<wb:Transport><wb:ChangeOwnership>NotChange</wb:ChangeOwnership>"
                           "<wb:TRAN_TYPE>413</wb:TRAN_TYPE><wb:TRANSPORT_TYPE>car</wb:TRANSPORT_TYPE>"),
              std::string::npos)
        << waybill;
    EXPECT_EQ(waybill.find("TRAN_CAR"), std::string::npos);
    const std::string inform = xml("FORM2REGINFO");
    EXPECT_NE(inform.find("<wbr:Consignee><oref:UL>"), std::string::npos) << inform;
    EXPECT_TRUE(inform.find("<wbr:Shipper><oref:UL>") != std::string::npos ||
                inform.find("<wbr:Shipper><oref:FL>") != std::string::npos);
    const std::string history = xml("TTNHISTORYF2REG");
    EXPECT_NE(history.find("<wbr:Content><wbr:Position>"), std::string::npos) << history;
    EXPECT_EQ(history.find("InformF2RegId"), std::string::npos);
    EXPECT_EQ(xml("ReplyNATTN").find("ShipperName"), std::string::npos);
}

// The agent hands on only documents that arrived whole; every simulated one must pass its check.
TEST(SimDocuments, EveryDocumentPassesTheAgentsCompletenessCheck) {
    TDocumentFactory factory("030000123456", 11);
    std::vector<TEgaisDocument> documents = {factory.Incoming("Untemplated"), factory.Outgoing("Untemplated"),
                                             factory.Ticket("QueryRests_v2", factory.Guid())};
    for (int round = 0; round < 5; ++round) {
        for (std::size_t i = 0; i < TDocumentFactory::IncomingTypes().size(); ++i)
            documents.push_back(factory.NextIncoming());
        for (std::size_t i = 0; i < TDocumentFactory::OutgoingTypes().size(); ++i)
            documents.push_back(factory.NextOutgoing());
    }
    for (const auto& document : documents)
        EXPECT_EQ(IncompleteXmlReason(document.Xml), std::nullopt) << document.Type << "\n" << document.Xml;
}

TEST(SimDownload, TakesOnlyPlainNamesInsideTheFolder) {
    const fs::path folder = fs::temp_directory_path() / ("egaiss-sim-safe-" + std::to_string(::getpid()));
    fs::create_directories(folder / "sub");
    std::ofstream(folder / "sub" / "a.zip") << "zip";
    std::ofstream(folder.parent_path() / "egaiss-sim-outside.txt") << "secret";
    fs::create_symlink(folder.parent_path() / "egaiss-sim-outside.txt", folder / "link.txt");
    std::string why;
    EXPECT_TRUE(ResolveDownload(folder, "sub/a.zip", why));
    for (const char* bad : {"", "../egaiss-sim-outside.txt", "sub/../sub/a.zip", "sub//a.zip", "./sub/a.zip",
                            "sub\\a.zip", "C:a.zip", "sub", "link.txt", "/etc/passwd"}) {
        EXPECT_FALSE(ResolveDownload(folder, bad, why)) << bad;
    }
    EXPECT_EQ(DownloadRelativeName("/crm/download/egaiss-bootstrap.json"), "egaiss-bootstrap.json");
    EXPECT_FALSE(DownloadRelativeName("/downloads/x"));
    fs::remove_all(folder);
    fs::remove(folder.parent_path() / "egaiss-sim-outside.txt");
}

TEST(SimFaults, CountedFaultsHitOnlyMatchingRequestsAndThenStop) {
    TFaultInjector faults({}, 1);
    rapidjson::Document patch;
    patch.Parse(R"({"fail_next":2,"fail_status":503,"match":"/opt/in/"})");
    std::string error;
    ASSERT_TRUE(faults.Apply(patch, error)) << error;
    EXPECT_FALSE(faults.Decide("/opt/out?refresh=true").Fail);
    const TFaultDecision first = faults.Decide("/opt/in/QueryRests_v2");
    EXPECT_TRUE(first.Fail);
    EXPECT_EQ(first.FailStatus, 503);
    EXPECT_TRUE(faults.Decide("/opt/in/QueryRests_v2").Fail);
    EXPECT_FALSE(faults.Decide("/opt/in/QueryRests_v2").Fail);
}

TEST(SimFaults, ABadPatchChangesNothing) {
    TFaultInjector faults({}, 1);
    rapidjson::Document patch;
    patch.Parse(R"({"gzip":true,"drop_rate":1.5})");
    std::string error;
    EXPECT_FALSE(faults.Apply(patch, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(faults.Settings().Gzip);
}

TEST(SimFaults, DroppedAndDownRequestsGetNoAnswerWhileControlRoutesWork) {
    TUtmSettings settings;
    settings.Docs = 1;
    TRunningSim<TSimUtm, TUtmSettings> utm(settings);
    auto client = utm.Client();
    utm.Faults(R"({"drop_next":1})");
    EXPECT_FALSE(client.Get("/diagnosis"));
    EXPECT_TRUE(client.Get("/diagnosis"));
    utm.Faults(R"({"down":true})");
    EXPECT_FALSE(client.Get("/"));
    const auto state = utm.State();
    ASSERT_TRUE(state.IsObject()) << "control routes stay up";
    EXPECT_STREQ(state["requests"][0]["fault"].GetString(), "drop");
    EXPECT_STREQ(state["requests"][2]["fault"].GetString(), "reset");
}

TEST(SimFaults, GzipFaultEncodesTheBodyExactlyOnce) {
    TUtmSettings settings;
    settings.Docs = 2;
    TRunningSim<TSimUtm, TUtmSettings> utm(settings);
    auto client = utm.Client();
    const std::string plain = client.Get("/opt/out?refresh=true")->body;
    utm.Faults(R"({"gzip":true})");
    client.set_decompress(true);
    auto encoded = client.Get("/opt/out?refresh=true");
    ASSERT_TRUE(encoded);
    EXPECT_EQ(encoded->get_header_value("Content-Encoding"), "gzip");
    EXPECT_EQ(encoded->body, plain);
}

TEST(SimOptions, ParsesRoleOptionsAndRefusesOthers) {
    TSimOptions options;
    std::string error;
    ASSERT_TRUE(
        ParseSimOptions({"utm", "--port", "0", "--docs=5", "--fail-rate", "0.5", "--gzip"}, options, error))
        << error;
    EXPECT_EQ(options.Mode, TSimMode::smUtm);
    EXPECT_EQ(options.Utm.Docs, 5);
    EXPECT_DOUBLE_EQ(options.Faults.FailRate, 0.5);
    EXPECT_TRUE(options.Faults.Gzip);
    EXPECT_FALSE(ParseSimOptions({"utm", "--outbox", "2"}, options, error));
    EXPECT_FALSE(ParseSimOptions({"server", "--bind", "0.0.0.0"}, options, error));
    EXPECT_TRUE(ParseSimOptions({"server", "--bind", "127.0.0.1"}, options, error));
    EXPECT_FALSE(ParseSimOptions({"utm", "--drop-rate", "1.1"}, options, error));
    EXPECT_FALSE(ParseSimOptions({"utm", "--fsrar-id", "12345"}, options, error));
    EXPECT_FALSE(ParseSimOptions({}, options, error));
    EXPECT_TRUE(ParseSimOptions({"server", "--help"}, options, error));
    EXPECT_EQ(options.Mode, TSimMode::smHelp);
}

TEST(SimJson, EchoedTextIsAlwaysValidUtf8) {
    EXPECT_EQ(ValidUtf8("Привет"), "Привет");
    EXPECT_EQ(ValidUtf8("a\xFF"
                        "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ValidUtf8("\xD0"), "\xEF\xBF\xBD") << "a sequence cut at the end";
    EXPECT_EQ(ValidUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(SimJson, DeeplyNestedBodyIsRefusedWithoutExhaustingTheStack) {
    rapidjson::Document doc;
    EXPECT_FALSE(ParseJsonObject(std::string(100000, '['), doc));
    EXPECT_TRUE(ParseJsonObject(std::string(1000, ' ') + R"({"a":[[[[1]]]]})", doc));
}

}  // namespace
}  // namespace egaiss::sim::test
