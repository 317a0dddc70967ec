// Runs the real agent binary, copied into a temporary folder as a user would install it, against
// in-process fakes of the UTM and the server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "core/uVersion.h"
#include "platform/uUtf8.h"
#include "support/uChildProcess.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using test::TChildProcess;
using test::TFakeHttpServer;
using test::TFakeRequest;

class AgentBinaryTest : public ::testing::Test {
protected:
    void SetUp() override {
        FExe = FDir.File("VelmoraEgaissAgent");
        std::filesystem::copy_file(EGAISS_AGENT_EXE, FExe);
        FUtm.Get("/",
                 [](const TFakeRequest&, httplib::Response& res) { res.set_content("UTM", "text/html"); });
        FUtm.Get("/diagnosis", [](const TFakeRequest&, httplib::Response& res) {
            res.set_content("<A><CN>FSRAR-RSA-030000123456</CN><O>ООО Ромашка</O><OU>Магазин</OU></A>",
                            "text/xml");
        });
        FUtm.Get("/info/version",
                 [](const TFakeRequest&, httplib::Response& res) { res.set_content("4.2.0", "text/plain"); });
        FUtm.Get("/opt/out", [this](const TFakeRequest&, httplib::Response& res) {
            res.set_content("<?xml version=\"1.0\"?><A>" + FOutListing + "<ver>2</ver></A>", "text/xml");
        });
        FUtm.Get("/opt/out/.+", [](const TFakeRequest&, httplib::Response& res) {
            res.set_content("<ns:Documents xmlns:ns=\"x\"/>", "text/xml");
        });
        FUtm.Delete("/opt/out/.+", [](const TFakeRequest&, httplib::Response&) {});
        FServer.Get("/api", [this](const TFakeRequest& req, httplib::Response& res) { Serve(req, res); });
        FServer.Post("/api", [this](const TFakeRequest& req, httplib::Response& res) { Serve(req, res); });
        FUtm.Start();
        FServer.Start();
    }

    void Serve(const TFakeRequest& req, httplib::Response& res) {
        if (req.Header("X-Egaiss-Agent-Secret") != "s3cret") {
            res.status = 401;
            res.set_content("{\"error\":\"bad secret\"}", "application/json");
            return;
        }
        const std::string route = req.Param("route");
        if (route == "egaiss/agent/inbox/known")
            res.set_content("{\"utm_urls\":[]}", "application/json");
        else if (route == "egaiss/agent/outbox")
            res.set_content("{\"documents\":[]}", "application/json");
        else
            res.set_content("{\"ok\":true}", "application/json");
    }

    void WriteIni(const std::string& secret = "s3cret", int utmPort = 0) {
        test::WriteFileText(
            FDir.File("agent.ini"),
            "server_url=" + FServer.BaseURL() + "/api\nagent_id=shop-1\nagent_secret=" + secret +
                "\nutm_port=" + std::to_string(utmPort ? utmPort : FUtm.Port()) + "\nlabel=Shop\n");
    }

    test::TRunResult Run(const std::vector<std::string>& args) { return test::RunProgram(FExe, args); }

    void WaitForLog(TChildProcess& agent, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::filesystem::exists(FDir.File("agent.log")) ? Log().find(text) == std::string::npos
                                                               : true) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no \"" << text << "\" within 20 s";
            ASSERT_FALSE(agent.Wait(std::chrono::milliseconds(50))) << agent.Output();
        }
    }

    void StopAgent(TChildProcess& agent) {
        agent.Signal(SIGTERM);
        const auto code = agent.Wait(std::chrono::seconds(15));
        ASSERT_TRUE(code.has_value()) << agent.Output();
        EXPECT_EQ(*code, 0) << agent.Output();
    }
    std::string Log() const { return test::ReadFileText(FDir.File("agent.log")); }

    test::TTempDir FDir;
    std::string FExe;
    TFakeHttpServer FUtm;
    TFakeHttpServer FServer;
    std::string FOutListing;  // url elements of the UTM's out side
};

TEST_F(AgentBinaryTest, VersionHelpAndBadArguments) {
    EXPECT_EQ(Run({"--version"}).Output, std::string(AgentVersion) + "\n");
    const auto help = Run({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    for (const char* word :
         {"--headless", "sync", "diagnose", "config --set KEY=VALUE", "stop", "-noupdate"}) {
        EXPECT_NE(help.Output.find(word), std::string::npos) << word;
    }
    const auto bad = Run({"sync", "--frobnicate"});
    EXPECT_EQ(bad.ExitCode, 2);
    EXPECT_EQ(bad.Output.rfind("VelmoraEgaissAgent: unknown argument: --frobnicate\nUsage:", 0), 0u)
        << bad.Output;
    EXPECT_EQ(Run({"--noupdate", "config"}).ExitCode, 2) << "two hyphens are not the switch";
    EXPECT_EQ(Run({"/NoUpdate", "config"}).ExitCode, 0);
}

TEST_F(AgentBinaryTest, ConfigPrintsEffectiveSettingsWithTheSecretHidden) {
    WriteIni();
    const auto result = Run({"config"});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Output, "server_url=" + FServer.BaseURL() + "/api\nagent_id=shop-1\nagent_secret=***\n" +
                                 "utm_host=127.0.0.1\nutm_port=" + std::to_string(FUtm.Port()) +
                                 "\npoll_seconds=300\nlabel=Shop\nautostart=0\n");
    EXPECT_FALSE(std::filesystem::exists(FDir.File("agent.log")) &&
                 Log().find("s3cret") != std::string::npos);
}

TEST_F(AgentBinaryTest, ConfigSetSavesLikeTheSettingsDialogOrWritesNothing) {
    const test::TScopedEnv xdg("XDG_CONFIG_HOME", FDir.File("xdg"));
    const std::string desktopEntry = FDir.File("xdg/autostart/VelmoraEgaissAgent.desktop");
    test::WriteFileText(FDir.File("agent.ini"),
                        "# shop\nagent_id=old\nvesi_massak_dir=/srv/vesi\nagent_id=older\n");
    const auto refused = [&](const std::vector<std::string>& args, const std::string& why) {
        const auto result = Run(args);
        EXPECT_EQ(result.ExitCode, 2) << result.Output;
        EXPECT_NE(result.Output.find("config --set: " + why), std::string::npos) << result.Output;
    };
    refused({"config", "--set", "server_url=http://velmora.example/api"}, "Missing fields: server_url");
    refused({"config", "--set", "fsrar_id=030000123456"}, "unknown key: fsrar_id");
    refused({"config", "--set", "agent_secret=s", "utm_port=80a"},
            "utm_port: expected a port 1..65535, got '80a'");
    refused({"config", "--set", "autostart=on"}, "autostart: expected");
    EXPECT_EQ(Run({"config", "--set"}).ExitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(desktopEntry));

    auto result = Run({"config", "--set", "server_url=http://velmora.example/api", "Agent_ID=A1",
                       "agent_secret=s=3", "poll_seconds=120", "autostart=yes"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_EQ(result.Output,
              "server_url=https://velmora.example/api\nagent_id=A1\nagent_secret=***\n"
              "utm_host=127.0.0.1\nutm_port=8080\npoll_seconds=120\nautostart=1\n");
    EXPECT_EQ(
        test::ReadFileText(FDir.File("agent.ini")),
        "\xEF\xBB\xBF# shop\r\nagent_id=A1\r\nvesi_massak_dir=/srv/vesi\r\n"
        "server_url=https://velmora.example/api\r\nagent_secret=s=3\r\npoll_seconds=120\r\nautostart=1\r\n");
    EXPECT_TRUE(std::filesystem::exists(desktopEntry));

    result = Run({"config", "--set", "autostart=0"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_FALSE(std::filesystem::exists(desktopEntry));
}

TEST_F(AgentBinaryTest, SyncReportsOutcomeAndExitCode) {
    auto result = Run({"sync"});
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_EQ(result.Output, "Agent is not configured\n");

    WriteIni();
    result = Run({"sync"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_EQ(result.Output, "OK: Sync finished\n");
    EXPECT_NE(Log().find("[INFO] Sync OK in=0 out=0"), std::string::npos);

    WriteIni("wrong");
    result = Run({"sync"});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Output, "FAILED: HTTP 401: bad secret\n");
}

TEST_F(AgentBinaryTest, DiagnosePrintsTheDiagnosisObject) {
    WriteIni();
    auto result = Run({"diagnose"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_EQ(result.Output.rfind("{\n  \"ok\": true,\n  \"fsrar_id\": \"030000123456\",\n", 0), 0u)
        << result.Output;
    EXPECT_NE(result.Output.find("\"cert_o\": \"ООО Ромашка\""), std::string::npos) << "Cyrillic as text";

    WriteIni("s3cret", test::RefusedLoopbackPort());
    result = Run({"diagnose"});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find("\"ok\": false"), std::string::npos) << result.Output;
}

TEST_F(AgentBinaryTest, HeadlessAgentSyncsHoldsTheFolderAndStopsOnSigterm) {
    WriteIni();
    // Two hyphens are not the switch, but an agent does not refuse to start over an unknown argument.
    TChildProcess agent(FExe, {"--headless", "--noupdate", "-noupdate"}, FDir.File("headless.out"));
    WaitForLog(agent, "Sync OK");
    const auto second = Run({"sync"});
    EXPECT_EQ(second.ExitCode, 3);
    EXPECT_EQ(second.Output, "Agent already running\n");

    StopAgent(agent);
    const std::string log = Log();
    for (const std::string& line : std::vector<std::string>{
             "[INFO] Ignored argument: --noupdate", std::string("[INFO] Agent started v") + AgentVersion,
             "[INFO] Update skipped (--noupdate)", "[STEP] Startup.first_sync",
             "[INFO] Diagnosis FSRAR_ID=030000123456", "[INFO] Agent stopping (signal)",
             "[INFO] Agent stopped"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
}

TEST_F(AgentBinaryTest, UnreadableSettingsEndTheAgentAndTheCommandsWithExitTwo) {
    std::filesystem::create_directory(FDir.File("agent.ini"));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"config"}, {"sync"}, {"scales-load"}, {"--headless", "-noupdate"}}) {
        const auto result = Run(args);
        EXPECT_EQ(result.ExitCode, 2) << args[0];
        EXPECT_EQ(result.Output.rfind("Cannot read agent.ini: ", 0), 0u) << result.Output;
    }
    EXPECT_NE(Log().find("[ERR] Cannot read agent.ini: "), std::string::npos);
}

TEST_F(AgentBinaryTest, AFailingStartUpStepIsLoggedAndTheAgentRunsOn) {
    // The autostart entry's folder cannot be created below a file.
    test::WriteFileText(FDir.File("home"), "not a folder");
    const test::TScopedEnv xdg("XDG_CONFIG_HOME", FDir.File("home"));
    WriteIni();
    test::WriteFileText(FDir.File("agent.ini"), test::ReadFileText(FDir.File("agent.ini")) + "autostart=1\n");
    TChildProcess agent(FExe, {"--headless", "-noupdate"}, FDir.File("headless.out"));
    WaitForLog(agent, "Sync OK");
    StopAgent(agent);
    const std::string log = Log();
    EXPECT_NE(log.find("[EXC] Startup.ApplyAutostart | EFileError: "), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO] Agent started v0.4.3"), std::string::npos);
}

TEST_F(AgentBinaryTest, ListedDocumentsAreFetchedAndDeletedOnlyOnTheConfiguredUtm) {
    TFakeHttpServer elsewhere;
    elsewhere.Get(".*",
                  [](const TFakeRequest&, httplib::Response& res) { res.set_content("<a/>", "text/xml"); });
    elsewhere.Delete(".*", [](const TFakeRequest&, httplib::Response&) {});
    elsewhere.Start();
    const std::string escaping = FUtm.BaseURL() + "/opt/out/../../admin/WayBill_v4/2";
    const std::string onOtherHost = elsewhere.BaseURL() + "/opt/out/WayBill_v4/3";
    FOutListing = "<url>" + escaping + "</url><url>" + onOtherHost + "</url>";
    WriteIni();
    EXPECT_EQ(Run({"sync"}).Output, "OK: Sync finished\n");

    EXPECT_EQ(elsewhere.RequestCount(), 0u);
    std::vector<std::string> documentCalls;
    for (const auto& request : FUtm.Requests()) {
        if (request.Path.size() > 1 && request.Path != "/opt/out")
            documentCalls.push_back(request.Method + " " + request.Target);
    }
    EXPECT_THAT(documentCalls,
                ::testing::ElementsAre("GET /opt/out/WayBill_v4/3", "DELETE /opt/out/WayBill_v4/3"));
    // The server still sees the URL as listed.
    std::string pushed;
    for (const auto& request : FServer.Requests()) {
        if (request.Param("route") == "egaiss/agent/inbox") pushed = request.Body;
    }
    EXPECT_NE(pushed.find("\"utm_url\":\"" + onOtherHost + "\""), std::string::npos) << pushed;
    EXPECT_NE(Log().find("[INFO] UTM /opt/out: skipped URL outside /opt/out/: " + escaping),
              std::string::npos);
}

TEST_F(AgentBinaryTest, AFileNameThatIsNotUtf8KeepsTheLogUtf8) {
    const std::string drop = FDir.File("drop");
    std::filesystem::create_directory(drop);
    test::WriteFileText(drop + "/massa_k_\xFF\xFE.csv",
                        "PLU;NAME;PRICE;CODE;CONTENT;TYPE\r\n101;x;1,00;C1;y;0\r\n");
    test::WriteFileText(FDir.File("agent.ini"), "massa_enabled=1\nmassa_dir=" + drop +
                                                    "\nmassa_file=massa_k*.csv\nmassa_0=127.0.0.1:" +
                                                    std::to_string(test::RefusedLoopbackPort()) + "\n");
    EXPECT_EQ(Run({"scales-load"}).ExitCode, 1);
    const std::string log = Log();
    EXPECT_TRUE(IsWellFormedUtf8(log));
    EXPECT_NE(log.find("file=massa_k_\xEF\xBF\xBD\xEF\xBF\xBD.csv"), std::string::npos) << log;
}

TEST_F(AgentBinaryTest, WithoutADisplayOrItsWindowModuleTheTrayAgentSaysSoAndRunsHeadless) {
    WriteIni();
    const test::TScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
    const auto runsHeadless = [&](const std::string& said) {
        std::filesystem::remove(FDir.File("agent.log"));
        TChildProcess agent(FExe, {"-noupdate"}, FDir.File("tray.out"));
        WaitForLog(agent, "Sync OK");
        StopAgent(agent);
        EXPECT_NE(agent.Output().find(said), std::string::npos) << agent.Output();
    };
    {
        const test::TScopedEnv display("DISPLAY", std::nullopt);
        runsHeadless("No display (DISPLAY and WAYLAND_DISPLAY are not set): running headless");
    }
    // The window module was not copied beside the executable.
    const test::TScopedEnv display("DISPLAY", ":0");
    runsHeadless("Tray front-end unavailable (Cannot load " + FDir.File("VelmoraEgaissAgent-qt.so"));
    EXPECT_NE(Log().find("[ERR] Tray front-end unavailable (Cannot load "), std::string::npos) << Log();
}

}  // namespace
}  // namespace egaiss
