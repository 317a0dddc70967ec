#include "prepare/uEnvChecker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "core/uEgaissRu.h"
#include "core/uVersion.h"
#include "platform/uPath.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using platform::TProgramSource;
using platform::TServiceStart;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A test path ("/usr/lib/jvm") as the checker's own joins write it: the platform's separator
// after the root.
std::string Native(std::string path) {
#ifdef _WIN32
    std::replace(path.begin() + 1, path.end(), '/', '\\');
#endif
    return path;
}

TJsonValue Json(const std::string& text) {
    auto parsed = ParseJson(text);
    if (!parsed) throw std::runtime_error("test JSON does not parse: " + text);
    return std::move(*parsed);
}

struct TFakeService {
    std::optional<int> State;  // nothing: cannot be opened
    std::string ImagePath;
    TServiceStart StartOutcome = TServiceStart::ssAccepted;
    std::string StartFailure;
    // After an accepted start the service runs once this much fake time has passed.
    std::optional<std::chrono::milliseconds> RunsAfter = std::chrono::milliseconds(0);
};

// A computer described by the test: nothing happens outside this object.
class TFakeFacts : public platform::TSystemFacts {
public:
    std::map<TProgramSource, std::vector<platform::TInstalledProgram>> Programs;
    std::vector<platform::TJavaRegistryEntry> JavaRegistry;
    std::vector<std::string> JavaFolders;
    std::map<std::string, std::string> JavaOutputs;  // program -> output of "-version"
    std::vector<std::string> JavaRuns;
    std::vector<std::pair<std::string, TFakeService>> Services;
    std::vector<std::string> StartRequests;
    platform::TCpuArchitecture Architecture = platform::TCpuArchitecture::caX64;
    std::map<std::string, std::string> Environment;
    std::vector<std::string> Files;  // in the order a search meets them
    std::set<std::string> Folders;
    std::chrono::steady_clock::time_point Clock;

    std::vector<platform::TInstalledProgram> InstalledPrograms(TProgramSource source) override {
        return Programs[source];
    }
    std::vector<platform::TJavaRegistryEntry> JavaRegistryEntries() override { return JavaRegistry; }
    std::vector<std::string> JavaSearchFolders() override { return JavaFolders; }
    std::string JavaProgramName() override { return "java"; }
    std::optional<std::string> RunJavaVersion(const std::string& program) override {
        JavaRuns.push_back(program);
        const auto output = JavaOutputs.find(program);
        if (output == JavaOutputs.end()) return std::nullopt;
        return output->second;
    }

    std::vector<std::string> ServiceNames() override {
        std::vector<std::string> names;
        for (const auto& service : Services)
            names.push_back(service.first);
        return names;
    }
    std::string ServiceImagePath(const std::string& name) override {
        const TFakeService* service = Find(name);
        return service ? service->ImagePath : std::string();
    }
    std::optional<int> ServiceState(const std::string& name) override {
        TFakeService* service = Find(name);
        if (service == nullptr) return std::nullopt;
        if (FStartedAt.count(name) && service->RunsAfter && Clock - FStartedAt[name] >= *service->RunsAfter) {
            service->State = platform::ServiceRunning;
        }
        return service->State;
    }
    platform::TServiceStartResult RequestServiceStart(const std::string& name) override {
        StartRequests.push_back(name);
        TFakeService* service = Find(name);
        if (service == nullptr) return {TServiceStart::ssFailed, "The specified service does not exist."};
        if (service->StartOutcome == TServiceStart::ssAccepted) {
            FStartedAt[name] = Clock;
            service->State = platform::ServiceStartPending;
        }
        if (service->StartOutcome == TServiceStart::ssAlreadyRunning)
            service->State = platform::ServiceRunning;
        return {service->StartOutcome, service->StartFailure};
    }

    platform::TCpuArchitecture NativeArchitecture() override { return Architecture; }
    std::optional<std::string> EnvironmentVariable(const std::string& name) override {
        const auto value = Environment.find(name);
        if (value == Environment.end()) return std::nullopt;
        return value->second;
    }
    bool FileExists(const std::string& path) override {
        return std::find(Files.begin(), Files.end(), path) != Files.end();
    }
    bool FolderExists(const std::string& path) override { return Folders.count(path) > 0; }
    std::vector<std::string> FindFiles(const std::string& folder, const std::string& fileName) override {
        std::vector<std::string> found;
        for (const auto& file : Files) {
            if (file.rfind(JoinPath(folder, ""), 0) == 0 && PathUtf8(Utf8Path(file).filename()) == fileName) {
                found.push_back(file);
            }
        }
        return found;
    }
    std::chrono::steady_clock::time_point Now() override { return Clock; }
    void Sleep(std::chrono::milliseconds duration) override { Clock += duration; }

    void AddService(const std::string& name, std::optional<int> state, const std::string& imagePath = {}) {
        TFakeService service;
        service.State = state;
        service.ImagePath = imagePath;
        Services.emplace_back(name, service);
    }
    TFakeService* Find(const std::string& name) {
        for (auto& service : Services) {
            if (service.first == name) return &service.second;
        }
        return nullptr;
    }

private:
    std::map<std::string, std::chrono::steady_clock::time_point> FStartedAt;
};

constexpr const char* Java8Output =
    "openjdk version \"1.8.0_392\"\nOpenJDK Runtime Environment (build 1.8.0_392-b08)\nOpenJDK 64-Bit Server "
    "VM\n";
constexpr const char* Java11Output = "openjdk version \"11.0.2\" 2019-01-15\n";

class EnvCheckerTest : public ::testing::Test {
protected:
    TEnvCheckResult Check(const std::string& component) { return FChecker.RunCheck(Json(component), FCfg); }

    TFakeFacts FFacts;
    TEnvChecker FChecker{FFacts};
    TEgaissConfig FCfg;
};

TEST(EnvStateTest, TextsForWindowAndLog) {
    EXPECT_EQ(EnvStateText(TEnvCheckState::ecsOk), "OK");
    EXPECT_EQ(EnvStateText(TEnvCheckState::ecsWarn), "Warning");
    EXPECT_EQ(EnvStateText(TEnvCheckState::ecsFail), "Failed");
    EXPECT_EQ(EnvStateText(TEnvCheckState::ecsSkip), "-");
    EXPECT_EQ(EnvStateTag(TEnvCheckState::ecsOk), "OK");
    EXPECT_EQ(EnvStateTag(TEnvCheckState::ecsWarn), "WARN");
    EXPECT_EQ(EnvStateTag(TEnvCheckState::ecsFail), "FAIL");
    EXPECT_EQ(EnvStateTag(TEnvCheckState::ecsSkip), "SKIP");
}

TEST_F(EnvCheckerTest, DispatchReportsMissingBlocksAndUnknownTypes) {
    EXPECT_EQ(Check(R"({"id":"x","required":false})"), TEnvCheckResult::Fail("No check block"));
    EXPECT_EQ(Check(R"({"check":{"type":"registry_uninstall"}})"), TEnvCheckResult::Fail("No check block"));
    EXPECT_EQ(Check(R"({"required":false,"check":{"type":"registry_uninstall","keywords":"UTM"}})"),
              TEnvCheckResult::Warn("No check block"));
    EXPECT_EQ(Check(R"({"check":{"type":"service_any_running"}})"), TEnvCheckResult::Fail("No check block"));
    EXPECT_EQ(Check(R"({"check":{"type":"windows_arch","arch":{}}})"),
              TEnvCheckResult::Fail("No check block"));
    EXPECT_EQ(Check(R"({"check":{"type":"Registry_Uninstall","keywords":["x"]}})"),
              TEnvCheckResult::Fail("Unknown check: Registry_Uninstall"));
    EXPECT_EQ(Check(R"({"required":"FALSE","check":{"type":"usb_token"}})"),
              TEnvCheckResult::Warn("USB token: insert token or run egaiss-env-inventory.ps1"));
    try {
        Check(R"({"check":{"keywords":["x"]}})");
        FAIL() << "a check block without type must raise";
    } catch (const EJsonError& error) {
        EXPECT_STREQ(error.what(), "Value 'type' not found");
    }
}

TEST_F(EnvCheckerTest, ArchitecturePassesOnlyForX64OnX64) {
    const std::string x64 = R"({"check":{"type":"windows_arch","arch":"x64"}})";
    EXPECT_EQ(Check(x64), TEnvCheckResult::Ok("x64"));
    FFacts.Architecture = platform::TCpuArchitecture::caX86;
    EXPECT_EQ(Check(x64), TEnvCheckResult::Warn("32-bit Windows - UTM usually needs x64"));
    FFacts.Architecture = platform::TCpuArchitecture::caOther;
    EXPECT_EQ(Check(x64), TEnvCheckResult::Fail("Architecture check failed"));
    FFacts.Architecture = platform::TCpuArchitecture::caX86;
    EXPECT_EQ(Check(R"({"check":{"type":"windows_arch","arch":"x86"}})"),
              TEnvCheckResult::Fail("Architecture check failed"));
    EXPECT_EQ(Check(R"({"required":false,"check":{"type":"windows_arch","arch":"X64"}})"),
              TEnvCheckResult::Warn("Architecture check failed"));
}

TEST_F(EnvCheckerTest, InstalledProgramMatchesAnyFieldInSourceOrder) {
    FFacts.Programs[TProgramSource::psUser] = {{"UTM user copy", "", ""}};
    FFacts.Programs[TProgramSource::psMachine32] = {{"", "Some Publisher", "/opt/utm-x"}, {"UTM 32", "", ""}};
    FFacts.Programs[TProgramSource::psMachine] = {{"Notepad", "", ""}};
    const std::string check = R"({"check":{"type":"registry_uninstall","keywords":["", 42, null, "UTM"]}})";
    // Matched through its install location: the publisher names it when there is no display name.
    EXPECT_EQ(Check(check), TEnvCheckResult::Ok("Some Publisher"));

    FFacts.Programs[TProgramSource::psMachine32].clear();
    EXPECT_EQ(Check(check), TEnvCheckResult::Ok("UTM user copy"));
    FFacts.Programs[TProgramSource::psMachine] = {{"Tool 42", "", ""}};
    EXPECT_EQ(Check(check), TEnvCheckResult::Ok("Tool 42"));

    FFacts.Programs.clear();
    FFacts.Programs[TProgramSource::psMachine] = {
        {"\xD0\xA3\xD0\xA2\xD0\x9C", "", ""}};  // Cyrillic, not folded
    EXPECT_EQ(Check(R"({"check":{"type":"registry_uninstall","keywords":["утм",""]}})"),
              TEnvCheckResult::Fail("Not found in Programs list"));
    EXPECT_EQ(Check(R"({"required":false,"check":{"type":"registry_uninstall","keywords":[""]}})"),
              TEnvCheckResult::Warn("Not found in Programs list"));
}

TEST(EnvTextTest, JavaVersionOutputNamesJava8) {
    EXPECT_TRUE(IsJava8Output(Java8Output));
    EXPECT_TRUE(IsJava8Output("java VERSION \"8\"\n"));
    EXPECT_TRUE(IsJava8Output("openjdk version \"8.0.1\""));
    EXPECT_FALSE(IsJava8Output(Java11Output));
    EXPECT_FALSE(IsJava8Output("openjdk version \"18.0.2\""));
    EXPECT_FALSE(IsJava8Output("version 1.8"));
}

TEST(EnvTextTest, CommaTextQuotesEntriesWithBlanksCommasAndQuotes) {
    EXPECT_EQ(CommaText({"Transport [Stopped]", "utm", "a,b", "say \"hi\"", "tab\there"}),
              "\"Transport [Stopped]\",utm,\"a,b\",\"say \"\"hi\"\"\",\"tab\there\"");
    EXPECT_EQ(CommaText({}), "");
}

TEST_F(EnvCheckerTest, JavaFromRegistryVersionKeysNamingJava8) {
    FFacts.JavaRegistry = {{"11.0", Native("/jre11")}, {"1.8", std::nullopt}, {"1.8.0_392", Native("/jre8")}};
    FFacts.Files = {Native("/jre11/bin/java"), Native("/jre8/bin/java")};
    FFacts.JavaOutputs = {{Native("/jre11/bin/java"), Java8Output}, {Native("/jre8/bin/java"), Java8Output}};
    EXPECT_EQ(Check(R"({"check":{"type":"java_version"}})"), TEnvCheckResult::Ok(TrimControl(Java8Output)));
    EXPECT_THAT(FFacts.JavaRuns, ElementsAre(Native("/jre8/bin/java")));
}

TEST_F(EnvCheckerTest, JavaCandidatesComeFromJavaHomeUninstallEntriesAndSearchFoldersOnce) {
    FFacts.Environment["JAVA_HOME"] = Native("/usr/lib/jvm/jdk8");
    FFacts.Folders = {Native("/usr/lib/jvm/jdk8"), Native("/usr/lib/jvm"), Native("/opt/utm"),
                      Native("/opt/none")};
    FFacts.Files = {Native("/usr/lib/jvm/jdk8/bin/java"), Native("/opt/utm/jre/bin/java"),
                    Native("/usr/lib/jvm/jdk11/bin/java"), Native("/usr/lib/jvm/jdk8/jre/bin/java"),
                    Native("/usr/lib/jvm/jdk11/bin/javac")};
    FFacts.JavaFolders = {Native("/missing"), Native("/usr/lib/jvm")};
    FFacts.Programs[TProgramSource::psMachine] = {{"UTM Transport", "", Native("/opt/utm")}};
    FFacts.Programs[TProgramSource::psMachine32] = {{"Other", "", Native("/opt/none")}};

    const TJsonValue keywords = Json(R"(["transport"])");
    EXPECT_THAT(FChecker.CollectJavaCandidates(&keywords),
                ElementsAre(Native("/usr/lib/jvm/jdk8/bin/java"), Native("/opt/utm/jre/bin/java"),
                            Native("/usr/lib/jvm/jdk11/bin/java"), Native("/usr/lib/jvm/jdk8/jre/bin/java")));
    EXPECT_THAT(FChecker.CollectJavaCandidates(nullptr),
                ElementsAre(Native("/usr/lib/jvm/jdk8/bin/java"), Native("/usr/lib/jvm/jdk11/bin/java"),
                            Native("/usr/lib/jvm/jdk8/jre/bin/java")));

    // A JAVA_HOME whose bin folder has no program adds nothing.
    FFacts.Environment["JAVA_HOME"] = Native("/opt/none");
    EXPECT_THAT(FChecker.CollectJavaCandidates(nullptr),
                ElementsAre(Native("/usr/lib/jvm/jdk8/bin/java"), Native("/usr/lib/jvm/jdk11/bin/java"),
                            Native("/usr/lib/jvm/jdk8/jre/bin/java")));
}

TEST_F(EnvCheckerTest, JavaCheckTriesCandidatesThenTheSearchPath) {
    FFacts.Folders = {Native("/usr/lib/jvm")};
    FFacts.JavaFolders = {Native("/usr/lib/jvm")};
    FFacts.Files = {Native("/usr/lib/jvm/jdk11/bin/java"), Native("/usr/lib/jvm/jdk8/bin/java")};
    FFacts.JavaOutputs = {{Native("/usr/lib/jvm/jdk11/bin/java"), Java11Output},
                          {Native("/usr/lib/jvm/jdk8/bin/java"), "  \r\n"}};
    // Java 8 that prints nothing readable is not recognised; the bare name is tried last.
    EXPECT_EQ(Check(R"({"check":{"type":"java_version"}})"),
              TEnvCheckResult::Fail("Java 1.8 not found (java -version)"));
    EXPECT_THAT(FFacts.JavaRuns, ElementsAre(Native("/usr/lib/jvm/jdk11/bin/java"),
                                             Native("/usr/lib/jvm/jdk8/bin/java"), "java"));

    FFacts.JavaOutputs["java"] = "java version \"1.8.0_202\"\r\n";
    EXPECT_EQ(Check(R"({"required":false,"check":{"type":"java_version"}})"),
              TEnvCheckResult::Ok("java version \"1.8.0_202\""));
}

TEST_F(EnvCheckerTest, ServiceNameAndImagePathHeuristics) {
    FFacts.AddService("Microsoft_Transport", platform::ServiceRunning);
    FFacts.AddService("BluetoothEgais", platform::ServiceRunning);
    FFacts.AddService("AudioTransportSvc", platform::ServiceRunning);
    FFacts.AddService("transport-updater", platform::ServiceRunning);
    FFacts.AddService("Transport-Monitoring", platform::ServiceRunning);
    FFacts.AddService("agent1", platform::ServiceRunning, "/opt/UTM/bin/agent");
    FFacts.AddService("agent2", platform::ServiceRunning, "C:\\UTM\\updater\\upd.exe");
    FFacts.AddService("agent3", platform::ServiceRunning, "C:\\Program Files\\fsrar\\x.exe");
    FFacts.AddService("agent4", platform::ServiceRunning, "/usr/bin/utm-runner");

    const std::pair<const char*, std::pair<bool, bool>> rows[] = {
        {"Microsoft_Transport", {false, false}},
        {"BluetoothEgais", {false, false}},
        {"AudioTransportSvc", {false, false}},
        {"transport-updater", {true, false}},
        {"Transport-Monitoring", {true, false}},
        {"EGAISUTM", {true, true}},
        {"fsrar-agent", {true, false}},
        {"agent1", {true, true}},
        {"agent2", {true, false}},
        {"agent3", {true, false}},
        {"agent4", {false, false}},
        {"netbt", {false, false}},
    };
    for (const auto& [name, expected] : rows) {
        EXPECT_EQ(FChecker.IsUtmServiceCandidate(name), expected.first) << name;
        EXPECT_EQ(FChecker.IsMainUtmService(name), expected.second) << name;
    }
    EXPECT_EQ(FChecker.UtmServiceRank("EgaisTransport"), 0);
    EXPECT_EQ(FChecker.UtmServiceRank("agent1"), 1);
    EXPECT_EQ(FChecker.UtmServiceRank("transport-updater"), 2);
    EXPECT_EQ(FChecker.UtmServiceRank("Transport-Monitoring"), 3);
    EXPECT_EQ(FChecker.UtmServiceRank("fsrar-agent"), 4);
}

TEST_F(EnvCheckerTest, RankedListPutsNamedAndMainServicesFirst) {
    FFacts.AddService("transport-updater", platform::ServiceRunning);
    FFacts.AddService("egais-monitor", platform::ServiceRunning);
    FFacts.AddService("utm-main", platform::ServiceRunning, "/opt/utm/transporter");
    FFacts.AddService("TRANSPORT", platform::ServiceStopped);
    EXPECT_THAT(FChecker.CollectUtmServices({"fsrar", "Transport", "", "UTM"}),
                ElementsAre("Transport", "UTM", "utm-main", "transport-updater", "egais-monitor", "fsrar"));
}

TEST_F(EnvCheckerTest, ServiceCheckFindsAnyRunningMainService) {
    const std::string check =
        R"({"check":{"type":"service_any_running","names":["Transport","EgaisTransport"]}})";
    EXPECT_EQ(Check(check), TEnvCheckResult::Fail("UTM service not found in Services"));

    FFacts.AddService("Transport", platform::ServiceStopped);
    FFacts.AddService("transport-updater", platform::ServiceRunning);
    FFacts.AddService("EgaisTransport", 7);
    EXPECT_EQ(Check(check),
              TEnvCheckResult::Fail("Found but not running: \"Transport [Stopped]\",\"EgaisTransport "
                                    "[State=7]\""));

    FFacts.Find("EgaisTransport")->State = platform::ServiceRunning;
    EXPECT_EQ(Check(check), TEnvCheckResult::Ok("Service EgaisTransport is running"));
}

TEST_F(EnvCheckerTest, StartActionStartsEveryUtmServiceAndReportsTheMainOne) {
    FFacts.AddService("Transport", platform::ServiceStopped);
    FFacts.Find("Transport")->RunsAfter = std::chrono::milliseconds(1500);
    FFacts.AddService("transport-updater", platform::ServiceStopped);
    FFacts.Find("transport-updater")->StartOutcome = TServiceStart::ssAlreadyRunning;
    FFacts.AddService("Spooler", platform::ServiceStopped);

    EXPECT_EQ(FChecker.RunAction(Json(R"({"type":"action","action":"Start_UTM_Services"})")),
              TEnvCheckResult::Ok("Started: Transport,transport-updater"));
    EXPECT_THAT(FFacts.StartRequests, ElementsAre("Transport", "transport-updater"));
}

TEST_F(EnvCheckerTest, StartActionReportsFailuresAndTimeouts) {
    FFacts.AddService("Transport", platform::ServiceStopped);
    FFacts.Find("Transport")->RunsAfter.reset();  // never comes up
    FFacts.AddService("egais-monitoring", platform::ServiceStopped);
    FFacts.Find("egais-monitoring")->StartOutcome = TServiceStart::ssFailed;
    FFacts.Find("egais-monitoring")->StartFailure = "Access is denied.";

    const auto start = FFacts.Clock;
    EXPECT_EQ(FChecker.StartUtmServices(),
              TEnvCheckResult::Fail("Failed to start Transport: Transport [StartPending]\r\n"
                                    "Failed to start egais-monitoring: Access is denied."));
    EXPECT_EQ(FFacts.Clock - start, std::chrono::milliseconds(60000));

    FFacts.Services.clear();
    FFacts.AddService("EgaisTransport", platform::ServiceRunning, "C:\\Tools\\x.exe");
    FFacts.AddService("UTM", std::nullopt);
    EXPECT_EQ(FChecker.StartUtmServices(), TEnvCheckResult::Ok("Started: EgaisTransport"));

    FFacts.Services.clear();
    EXPECT_EQ(FChecker.StartUtmServices(), TEnvCheckResult::Fail("UTM service not found in Services"));
    EXPECT_EQ(FChecker.RunAction(Json(R"({"type":"action"})")), TEnvCheckResult::Fail("Unknown action: "));
    EXPECT_EQ(FChecker.RunAction(Json(R"({"action":"reboot"})")),
              TEnvCheckResult::Fail("Unknown action: reboot"));
}

TEST_F(EnvCheckerTest, StartActionFailsWithTheSystemsReason) {
    FFacts.AddService("Transport", platform::ServiceStopped);
    FFacts.Find("Transport")->StartOutcome = TServiceStart::ssFailed;
    FFacts.Find("Transport")->StartFailure = "The service did not respond.";
    EXPECT_EQ(FChecker.StartUtmServices(),
              TEnvCheckResult::Fail("Failed to start Transport: The service did not respond."));
}

// A UTM with one answer per path.
class HttpLocalCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Get("/api/info/version", [](const test::TFakeRequest&, httplib::Response& res) {
            res.set_content("4.2.0", "text/plain");
        });
        FServer.Get("/missing", [](const test::TFakeRequest&, httplib::Response& res) { res.status = 404; });
        FServer.Start();
        FCfg.UtmHost = "127.0.0.1";
        FCfg.UtmPort = FServer.Port();
    }

    TEnvCheckResult Check(const std::string& paths) {
        return CheckHttpLocal(Json(R"({"type":"http_local","paths":)" + paths + "}"), FCfg);
    }

    test::TFakeHttpServer FServer;
    TEgaissConfig FCfg;
};

TEST_F(HttpLocalCheckTest, FirstSuccessfulPathWins) {
    EXPECT_EQ(Check(R"(["/missing","/api/info/version","/"])"),
              TEnvCheckResult::Ok("HTTP 200 http://127.0.0.1:" + std::to_string(FServer.Port()) +
                                  "/api/info/version"));
    EXPECT_EQ(FServer.RequestCount(), 2u);
}

TEST_F(HttpLocalCheckTest, ReportsTheLastTransportErrorOrNoResponse) {
    EXPECT_EQ(Check(R"(["/missing","/missing"])"), TEnvCheckResult::Fail("No response from UTM"));
    EXPECT_EQ(CheckHttpLocal(Json(R"({"type":"http_local","paths":"/"})"), FCfg),
              TEnvCheckResult::Fail("No paths in manifest"));

    FCfg.UtmPort = test::RefusedLoopbackPort();
    const TEnvCheckResult refused = Check(R"(["/"])");
    EXPECT_EQ(refused.State, TEnvCheckState::ecsFail);
    EXPECT_NE(refused.Detail, "No response from UTM");
    EXPECT_FALSE(refused.Detail.empty());
}

TEST_F(HttpLocalCheckTest, PathsThatCouldLeaveTheUtmFailBeforeAnyRequest) {
    for (const std::string path : {"@127.0.0.2:1/x", "api/info", "/a\\\\b", "/a\\u0009b", "   "}) {
        const TEnvCheckResult result = Check(R"(["/", ")" + path + "\"]");
        EXPECT_EQ(result.State, TEnvCheckState::ecsFail) << path;
        EXPECT_EQ(result.Detail.rfind("Invalid path in manifest: ", 0), 0u) << result.Detail;
    }
    EXPECT_EQ(FServer.RequestCount(), 0u);
    EXPECT_EQ(Check(R"([" /api/info/version "])").State, TEnvCheckState::ecsOk);
}

class ServerPingCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Post("/api/index.php", [this](const test::TFakeRequest&, httplib::Response& res) {
            const std::lock_guard<std::mutex> guard(FLock);
            res.status = FStatus;
            res.set_content(FBody, "application/json");
        });
        FServer.Start();
        FCfg.ServerURL = FServer.BaseURL() + "/api/index.php";
        FCfg.AgentID = "agent-7";
        FCfg.AgentSecret = "s3cret";
    }

    void Answer(int status, const std::string& body) {
        const std::lock_guard<std::mutex> guard(FLock);
        FStatus = status;
        FBody = body;
    }

    test::TTempDataDir FDataDir;
    test::TFakeHttpServer FServer;
    TEgaissConfig FCfg;
    std::mutex FLock;
    int FStatus = 200;
    std::string FBody = R"({"ok":true})";
};

TEST_F(ServerPingCheckTest, PingsWithTheAgentSettings) {
    EXPECT_EQ(CheckServerPing(FCfg), TEnvCheckResult::Ok("Ping OK"));
    EXPECT_EQ(FServer.LastRequest().Header("X-Egaiss-Agent-Id"), "agent-7");
    EXPECT_THAT(FServer.LastRequest().Body, HasSubstr(std::string("\"version\":\"") + AgentVersion + "\""));

    TEgaissConfig incomplete = FCfg;
    incomplete.AgentSecret.clear();
    EXPECT_EQ(CheckServerPing(incomplete), TEnvCheckResult::Fail("Agent is not configured"));
}

TEST_F(ServerPingCheckTest, UnauthorisedAnswerGetsTheSettingsHint) {
    Answer(401, R"({"error":"bad secret"})");
    EXPECT_EQ(
        CheckServerPing(FCfg),
        TEnvCheckResult::Fail("HTTP 401: bad secret\r\nCheck agent_id and agent_secret in agent settings."));
    Answer(500, R"({"error":"upstream said HTTP 401"})");
    EXPECT_EQ(CheckServerPing(FCfg), TEnvCheckResult::Fail("HTTP 500: upstream said HTTP 401"));
}

}  // namespace
}  // namespace egaiss
