// The self-update of the real agent binary, installed in a temporary folder, against egaiss-sim
// serving the download area. The "newer agent" is a small program that records that it ran. Under
// Wine (see TAgentFolder) EGAISS_E2E_RECORD_RUN names the Windows build of that program.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "core/uVersion.h"
#include "platform/uSha256.h"
#include "support/uChildProcess.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

namespace fs = std::filesystem;
using test::TChildProcess;

std::string EnvironmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

const std::string Runner = EnvironmentOr("EGAISS_E2E_AGENT_RUNNER", "");
const std::string AgentExe = EnvironmentOr("EGAISS_E2E_AGENT_EXE", EGAISS_AGENT_EXE);
const std::string RecordRunExe = EnvironmentOr("EGAISS_E2E_RECORD_RUN", EGAISS_RECORD_RUN_EXE);
const std::string ExeName = fs::path(AgentExe).filename().string();
// What the agent names its backup: "VelmoraEgaissAgent.old", "VelmoraEgaissAgent.old.exe".
const std::string BackupName =
    fs::path(ExeName).stem().string() + ".old" + fs::path(ExeName).extension().string();
// Wine turns SIGINT into Ctrl+C.
const int StopSignal = Runner.empty() ? SIGTERM : SIGINT;

// The agent at `exe` started with `args`, through the runner when there is one.
std::unique_ptr<TChildProcess> StartAgent(const std::string& exe, std::vector<std::string> args,
                                          const std::string& output) {
    if (Runner.empty()) return std::make_unique<TChildProcess>(exe, args, output);
    args.insert(args.begin(), exe);
    return std::make_unique<TChildProcess>(Runner, args, output);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class SelfUpdateE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(FApp);
        fs::create_directories(FDownload);
        fs::copy_file(AgentExe, FExe);
        FAgentBytes = test::ReadFileText(FExe);
        FNewBytes = test::ReadFileText(RecordRunExe);
        MakePackage();

        FSim = std::make_unique<TChildProcess>(
            EGAISS_SIM_EXE,
            std::vector<std::string>{"server", "--port", "0", "--download-dir", FDownload, "--agent-id",
                                     "shop-1", "--secret", "s3cret"},
            FDir.File("sim.out"));
        const std::regex listening("server listening on 127\\.0\\.0\\.1:(\\d+)");
        std::smatch match;
        ASSERT_TRUE(WaitUntil(
            [&] {
                // The child creates its output file only after it has started.
                if (!fs::exists(FDir.File("sim.out"))) return false;
                const std::string output = FSim->Output();
                if (!std::regex_search(output, match, listening)) return false;
                FSimPort = std::stoi(match[1]);
                return true;
            },
            std::chrono::seconds(20)))
            << FSim->Output();
        test::WriteFileText(fs::path(FApp) / "agent.ini",
                            "server_url=http://127.0.0.1:" + std::to_string(FSimPort) +
                                "/index.php\nagent_id=shop-1\nagent_secret=s3cret\nutm_port=" +
                                std::to_string(test::RefusedLoopbackPort()) + "\n");
    }

    void TearDown() override {
        if (FSim) FSim->Signal(SIGTERM);
        if (FSim) FSim->Wait(std::chrono::seconds(10));
    }

    // The new program as bin/VelmoraEgaissAgent in a zip made by the zip command.
    void MakePackage() {
        const fs::path stage = fs::path(FDir.Path()) / "stage";
        fs::create_directories(stage / "bin");
        fs::copy_file(RecordRunExe, stage / "bin" / ExeName);
        const auto zipped = test::RunProgram("/bin/sh", {"-c", "cd \"$1\" && zip -q -r \"$2\" bin", "sh",
                                                         stage.string(), FDownload + "/agent-0.4.4.zip"});
        ASSERT_EQ(zipped.ExitCode, 0) << zipped.Output;
    }

    void WriteManifest(const std::string& version, const std::string& sha256) {
        test::WriteFileText(
            fs::path(FDownload) / "egaiss-agent.json",
            R"({"version":")" + version + R"(","zip":"agent-0.4.4.zip","sha256":")" + sha256 + "\"}");
    }

    std::string Log() const {
        const std::string path = (fs::path(FApp) / "agent.log").string();
        return fs::exists(path) ? test::ReadFileText(path) : std::string();
    }

    std::string SimState() const {
        httplib::Client client("127.0.0.1", FSimPort);
        const auto answer = client.Get("/sim/state");
        return answer ? answer->body : std::string();
    }

    // Runs the agent until it has started its first sync, then stops it as a user would.
    void RunAgentThatStartsNormally(const std::vector<std::string>& args) {
        const auto agent = StartAgent(FExe, args, FDir.File("agent.out"));
        ASSERT_TRUE(WaitUntil([&] { return Log().find("[STEP] Startup.first_sync") != std::string::npos; },
                              std::chrono::seconds(30)))
            << Log() << agent->Output();
        agent->Signal(StopSignal);
        const auto code = agent->Wait(std::chrono::seconds(20));
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(*code, 0) << agent->Output();
    }

    void ExpectUntouched() const {
        EXPECT_EQ(test::ReadFileText(FExe), FAgentBytes);
        EXPECT_FALSE(fs::exists(fs::path(FApp) / BackupName));
        EXPECT_FALSE(fs::exists(fs::path(FApp) / "record-run.txt"));
    }

    test::TTempDir FDir;
    std::string FApp = FDir.File("app");
    std::string FDownload = FDir.File("download");
    std::string FExe = (fs::path(FApp) / ExeName).string();
    std::string FAgentBytes;
    std::string FNewBytes;
    std::unique_ptr<TChildProcess> FSim;
    int FSimPort = 0;
};

TEST_F(SelfUpdateE2ETest, ReplacesItselfStartsTheNewProgramAndExits) {
    WriteManifest("0.4.4", Upper(platform::Sha256Hex(FNewBytes)));
    const auto permissions = fs::status(FExe).permissions();

    const auto agent = StartAgent(FExe, {"--headless"}, FDir.File("agent.out"));
    const auto code = agent->Wait(std::chrono::seconds(60));
    ASSERT_TRUE(code.has_value()) << "the agent did not end after updating itself\n" << Log();
    EXPECT_EQ(*code, 0) << agent->Output();

    const fs::path marker = fs::path(FApp) / "record-run.txt";
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(marker); }, std::chrono::seconds(20))) << Log();
    EXPECT_TRUE(
        WaitUntil([&] { return test::ReadFileText(marker.string()) == "ran " + ExeName + " args=0\n"; },
                  std::chrono::seconds(5)))
        << test::ReadFileText(marker.string());
    EXPECT_EQ(test::ReadFileText(FExe), FNewBytes);
    if (Runner.empty()) {  // Wine keeps no POSIX permissions
        EXPECT_EQ(fs::status(FExe).permissions(), permissions);
    }
    EXPECT_EQ(test::ReadFileText((fs::path(FApp) / BackupName).string()), FAgentBytes);

    const std::string log = Log();
    std::size_t at = 0;
    for (const std::string& line : std::vector<std::string>{
             "[STEP] Startup.self_update",
             "[INFO] Update check: http://127.0.0.1:" + std::to_string(FSimPort) +
                 "/download/egaiss-agent.json",
             std::string("[INFO] Update: local=") + AgentVersion + " remote=0.4.4", "(zip=True)",
             "[INFO] Update: extracted " + ExeName + " (", "[INFO] Update: sha256 OK",
             "[INFO] Update: exe replaced OK (" + std::to_string(FNewBytes.size()) + " bytes)",
             "[INFO] Update: launching new process...", "[INFO] Agent stopped"}) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << log;
    }
    EXPECT_EQ(log.find("Startup.first_sync"), std::string::npos) << "no timer may start after the update";
}

TEST_F(SelfUpdateE2ETest, AWrongHashLeavesTheExecutableAndTheAgentStartsNormally) {
    WriteManifest("0.4.4", std::string(64, 'a'));
    RunAgentThatStartsNormally({"--headless"});
    ExpectUntouched();
    EXPECT_NE(Log().find("[ERR] Update: sha256 mismatch expected=" + std::string(64, 'a') +
                         " got=" + platform::Sha256Hex(FNewBytes)),
              std::string::npos)
        << Log();
    EXPECT_NE(SimState().find("agent-0.4.4.zip"), std::string::npos);
}

TEST_F(SelfUpdateE2ETest, AVersionThatIsNotNewerIsNotDownloaded) {
    WriteManifest("0.4.3.0", platform::Sha256Hex(FNewBytes));
    RunAgentThatStartsNormally({"--headless"});
    ExpectUntouched();
    EXPECT_NE(Log().find("[INFO] Update: already current"), std::string::npos) << Log();
    const std::string state = SimState();
    EXPECT_NE(state.find("egaiss-agent.json"), std::string::npos) << state;
    EXPECT_EQ(state.find("agent-0.4.4.zip"), std::string::npos) << state;
}

TEST_F(SelfUpdateE2ETest, TheNoUpdateSwitchDoesNotAskTheServer) {
    WriteManifest("0.4.4", platform::Sha256Hex(FNewBytes));
    RunAgentThatStartsNormally({"--headless", "/NoUpdate"});
    ExpectUntouched();
    EXPECT_NE(Log().find("[INFO] Update skipped (--noupdate)"), std::string::npos) << Log();
    const std::string state = SimState();
    ASSERT_NE(state.find("\"downloads\""), std::string::npos) << state;
    EXPECT_EQ(state.find("egaiss-agent.json"), std::string::npos) << state;
}

}  // namespace
}  // namespace egaiss
