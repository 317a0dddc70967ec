// The real agent binary's `prepare-check` against egaiss-sim: the manifest comes from the server's
// download area (then from the cache beside the agent), and every check type runs for real against
// the simulated UTM and server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/uEgaissConfig.h"
#include "support/uSimProcess.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using test::TAgentFolder;
using test::TSimProcess;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// Every check type once, a non-object element that keeps its position, and a component without a
// check that is not required.
const char* SampleManifest = R"({"title":"Prepare PC for EGAIS","refresh_hours":24,"components":[
  {"id":"java","title":"Java 8","order":1,"required":false,
   "check":{"type":"java_version","also_registry_keywords":["java"]}},
  {"id":"utm","title":"UTM programs","order":2,"required":false,
   "check":{"type":"registry_uninstall","keywords":["egaiss-no-such-program"]}},
  {"id":"svc","title":"UTM service","order":3,"required":false,
   "check":{"type":"service_any_running","names":["egaiss-no-such-service"]}},
  "not a component",
  {"id":"arch","title":"Architecture","required":false,"check":{"type":"windows_arch","arch":"x86"}},
  {"id":"http","title":"UTM HTTP","check":{"type":"http_local","paths":["/egaiss-nothing-here","/"]}},
  {"id":"ping","title":"Server","check":{"type":"http_velmora_ping"}},
  {"id":"token","title":"Token","check":{"type":"usb_token"}},
  {"id":"odd","title":"Odd","required":false,"check":{"type":"Registry_Uninstall","keywords":["x"]}},
  {"id":"docs","title":"Manual","order":20,"required":false}
]})";

class PrepareCheckE2ETest : public ::testing::Test {
protected:
    void StartSim() {
        FSim = std::make_unique<TSimProcess>(EGAISS_SIM_EXE, "both",
                                             std::vector<std::string>{"--download-dir", FDownloads.Path()});
        FAgent.WriteIni(test::AgentIniFor(*FSim));
    }

    void Publish(const std::string& manifest) const {
        test::WriteFileText(FDownloads.File("egaiss-bootstrap.json"), manifest);
    }

    test::TRunResult Check() const { return FAgent.Run({"prepare-check"}); }

    test::TTempDir FDownloads;
    std::unique_ptr<TSimProcess> FSim;
    TAgentFolder FAgent{EGAISS_AGENT_EXE};
};

TEST_F(PrepareCheckE2ETest, PrintsOneLinePerComponentForEveryCheckType) {
    Publish(SampleManifest);
    StartSim();
    const auto result = Check();
    EXPECT_EQ(result.ExitCode, 0) << result.Output;

    const std::vector<std::string> lines = SplitTextLines(result.Output);
    ASSERT_EQ(lines.size(), 9u) << result.Output;
    // What the machine itself has (Java, services) decides between OK and a warning.
    EXPECT_THAT(lines[0], MatchesRegex(R"(1 \[(OK|WARN)\] Java 8 - .+)"));
    EXPECT_EQ(lines[1], "2 [WARN] UTM programs - Not found in Programs list");
    EXPECT_THAT(lines[2], MatchesRegex(R"(3 \[(OK|WARN)\] UTM service - .+)"));
    EXPECT_EQ(lines[3], "5 [WARN] Architecture - Architecture check failed");
    EXPECT_EQ(lines[4], "6 [OK] UTM HTTP - HTTP 200 " + FSim->UtmBaseURL() + "/");
    EXPECT_EQ(lines[5], "7 [OK] Server - Ping OK");
    EXPECT_EQ(lines[6], "8 [WARN] Token - USB token: insert token or run egaiss-env-inventory.ps1");
    EXPECT_EQ(lines[7], "9 [WARN] Odd - Unknown check: Registry_Uninstall");
    EXPECT_EQ(lines[8], "20 [FAIL] Manual - No check block");  // not required: no failure of the run

    const std::string log = FAgent.Log();
    EXPECT_THAT(log, HasSubstr("[Bootstrap] Manifest loaded: " + FSim->Server().BaseURL() +
                               "/api/download/egaiss-bootstrap.json"));
    EXPECT_THAT(log, HasSubstr("[Bootstrap] Check \"Server\" [ping]: OK - Ping OK"));
    EXPECT_THAT(log, HasSubstr("[Bootstrap] Checks finished: 9 item(s)"));
    EXPECT_TRUE(std::filesystem::exists(FAgent.File("egaiss-bootstrap.json")));

    // A fresh cache answers the next run: the server's new manifest is not fetched.
    Publish(R"({"components":[{"id":"new","check":{"type":"usb_token"}}]})");
    const auto again = Check();
    EXPECT_EQ(again.Output, result.Output);
    EXPECT_THAT(FAgent.Log(), ContainsRegex("Manifest loaded: cache:.*egaiss-bootstrap.json"));
}

TEST_F(PrepareCheckE2ETest, FailedRequiredCheckOrMissingManifestExitsOne) {
    StartSim();
    const auto missing = Check();
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_THAT(missing.Output, MatchesRegex("FAILED: HTTP 404.*\n"));

    Publish(R"({"refresh_hours":0,"components":[{"id":"arch","check":{"type":"windows_arch","arch":"x86"}},
        {"id":"token","check":{"type":"usb_token"}}]})");
    const auto failed = Check();
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_EQ(failed.Output,
              "1 [FAIL] arch - Architecture check failed\n2 [WARN] token - USB token: insert token or "
              "run egaiss-env-inventory.ps1\n");
}

TEST_F(PrepareCheckE2ETest, IncompleteSettingsExitTwo) {
    const auto result = Check();
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_EQ(result.Output, "Agent is not configured\n");
}

}  // namespace
}  // namespace egaiss
