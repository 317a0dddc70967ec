// The real agent binary's `prepare-install` against the download area of egaiss-sim server: the
// install tests' stand-in installer (EGAISS_E2E_INSTALLER names the Windows one when the agent runs
// under Wine), and a `pkexec` of the test's own (first on PATH) runs it without asking for rights.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/uSha256.h"
#include "support/uScopedEnv.h"
#include "support/uSimProcess.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

namespace fs = std::filesystem;
using test::TAgentFolder;
using test::TSimProcess;
using ::testing::HasSubstr;

class PrepareInstallE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string pkexec = FBin.File("pkexec");
        test::WriteFileText(pkexec, "#!/bin/sh\nexec \"$@\"\n");
        fs::permissions(pkexec, fs::perms::owner_all, fs::perm_options::add);
        FOldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
        ::setenv("PATH", (FBin.Path() + ":" + FOldPath).c_str(), 1);
        FSim = std::make_unique<TSimProcess>(EGAISS_SIM_EXE, "server",
                                             std::vector<std::string>{"--download-dir", FDownloads.Path()});
        FAgent.WriteIni(test::AgentIniFor(*FSim));
    }
    void TearDown() override { ::setenv("PATH", FOldPath.c_str(), 1); }

    // One component whose installer notes its arguments beside the agent and ends with `exitCode`.
    void Publish(int exitCode, const std::string& hash = {}) {
        const char* windowsInstaller = std::getenv("EGAISS_E2E_INSTALLER");
        const std::string installer =
            test::ReadFileText(windowsInstaller != nullptr ? windowsInstaller : EGAISS_TEST_INSTALLER_EXE);
        test::WriteFileText(FDownloads.File("setup.exe"), installer);
        FInstallerAction = std::make_unique<test::TScopedEnv>("EGAISS_TEST_INSTALLER_ACTION",
                                                              "exit " + std::to_string(exitCode));
        test::WriteFileText(
            FDownloads.File("egaiss-bootstrap.json"),
            R"({"components":[{"id":"java","title":"Java 8","check":{"type":"registry_uninstall","keywords":["egaiss-none"]},)"
            R"("install":{"url":")" +
                Downloads() +
                R"(setup.exe","file":"setup.exe","args":"/S",)"
                R"("sha256":")" +
                (hash.empty() ? platform::Sha256Hex(installer) : hash) + R"("}}]})");
    }

    std::string Downloads() const { return FSim->Server().BaseURL() + "/download/"; }
    bool Installed() const { return fs::exists(FAgent.File("installer.args")); }

    test::TTempDir FBin;
    test::TTempDir FDownloads;
    std::string FOldPath;
    std::unique_ptr<TSimProcess> FSim;
    TAgentFolder FAgent{EGAISS_AGENT_EXE};
    test::TScopedEnv FInstallerDir{"EGAISS_TEST_INSTALLER_DIR", FAgent.Home()};
    std::unique_ptr<test::TScopedEnv> FInstallerAction;
};

TEST_F(PrepareInstallE2ETest, DownloadsVerifiesAndRunsTheInstaller) {
    Publish(0);
    const auto result = FAgent.Run({"prepare-install", "java"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_THAT(result.Output, HasSubstr("[1/1] Java 8: download " + Downloads() + "setup.exe\n"));
    EXPECT_THAT(result.Output, HasSubstr("[1/1] Java 8: verified: SHA-256\n"));
    EXPECT_THAT(result.Output, HasSubstr("[1/1] Java 8: installer exit code 0\n[1/1] Java 8: installed\n"));
    ASSERT_TRUE(Installed());
    EXPECT_EQ(test::ReadFileText(FAgent.File("installer.args")), "/S\n");  // silent: the manifest's args
    EXPECT_THAT(FAgent.Log(), HasSubstr("[Bootstrap] SHA256 verified: "));
}

TEST_F(PrepareInstallE2ETest, AWrongChecksumIsRefusedBeforeAnythingRuns) {
    Publish(0, std::string(64, '0'));
    const auto result = FAgent.Run({"prepare-install", "--all"});
    EXPECT_EQ(result.ExitCode, 1) << result.Output;
    EXPECT_THAT(result.Output, HasSubstr("[1/1] Java 8: FAILED: SHA256 mismatch | Expected: 000"));
    EXPECT_FALSE(Installed());
}

TEST_F(PrepareInstallE2ETest, AFailingInstallerOrAnUnknownIdFails) {
    Publish(3);
    auto result = FAgent.Run({"prepare-install", "--all"});
    EXPECT_EQ(result.ExitCode, 1) << result.Output;
    EXPECT_THAT(result.Output, HasSubstr("[1/1] Java 8: FAILED: Installer exit code 3"));
    result = FAgent.Run({"prepare-install", "nope"});
    EXPECT_EQ(result.ExitCode, 2) << result.Output;
    EXPECT_THAT(result.Output, HasSubstr("no component with the id 'nope'"));
}

}  // namespace
}  // namespace egaiss
