// The preparation window offscreen against the download area of egaiss-sim server: rows, progress
// texts, the install buttons, install-all in "order" and a failure shown in the progress label.
// Installers are shell scripts started through `env` in place of an elevation prompt.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <memory>

#include "gui/uBootstrapForm.h"
#include "platform/uPath.h"
#include "platform/uSha256.h"
#include "support/uSimProcess.h"
#include "support/uTestDirs.h"
#include "uGuiTestSupport.h"

namespace egaiss {
namespace {

namespace fs = std::filesystem;
using test::Control;
using test::WaitFor;

class BootstrapFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSim = std::make_unique<test::TSimProcess>(
            EGAISS_SIM_EXE, "server", std::vector<std::string>{"--download-dir", FDownloads.Path()});
        FCfg.ServerURL = FSim->ServerURL();
        test::WriteFileText(Marker("gamma"), "");
    }

    std::string Marker(const std::string& id) const { return FDir.File("installed-" + id); }

    // An installer that notes its run and leaves the mark its component's check looks for, unless
    // it is told otherwise.
    std::string Installer(const std::string& id, const std::string& body = {}) const {
        const std::string script = "#!/bin/sh\necho " + id + " >> '" + FDir.File("order.txt") + "'\n" +
                                   (body.empty() ? "touch '" + Marker(id) + "'\n" : body);
        test::WriteFileText(FDownloads.File(id + ".sh"), script);
        return R"({"url":")" + DownloadBaseURL(FCfg.ServerURL) + id + R"(.sh","file":")" + id +
               R"(.sh","sha256":")" + platform::Sha256Hex(script) + R"("})";
    }

    // Alpha and Beta need installing (Beta first by "order"), Gamma passes its check, Delta has
    // nothing to install; a string element keeps its position.
    void Publish(const std::string& betaInstall = {}) const {
        test::WriteFileText(FDownloads.File("egaiss-bootstrap.json"),
                            R"({"components":[{"id":"alpha","title":"Alpha","order":5,"install":)" +
                                Installer("alpha") +
                                R"(},"junk",{"id":"beta","title":"Beta","order":1,"install":)" +
                                (betaInstall.empty() ? Installer("beta") : betaInstall) +
                                R"(},{"id":"gamma","title":"Gamma","install":)" + Installer("gamma") +
                                R"(},{"id":"delta","title":"Delta"}]})");
    }

    std::unique_ptr<TfrmBootstrap> OpenWindow() {
        TInstallOptions options;
        options.WaitCycle = std::chrono::milliseconds(50);
        options.ElevationCommand = {"env"};
        options.RunCheck = [this](const TJsonValue& component, const TEgaissConfig&) {
            const std::string id = GetJsonString(component, "id");
            if (id == "delta") return TEnvCheckResult::Warn("optional");
            return fs::exists(Utf8Path(Marker(id))) ? TEnvCheckResult::Ok("installed")
                                                    : TEnvCheckResult::Fail("missing");
        };
        auto window = std::make_unique<TfrmBootstrap>(FCfg, std::move(options));
        FWindow = window.get();
        window->show();
        EXPECT_TRUE(WaitFor([&] { return Idle(); }));
        return window;
    }

    // The checks and the installs run on workers; the window waits with the refresh button disabled.
    bool Idle() const { return Enabled("btnRefresh"); }
    QTreeWidget& List() const { return Control<QTreeWidget>(*FWindow, "lvChecks"); }
    QString Cell(int row, int column) const { return List().topLevelItem(row)->text(column); }
    bool Enabled(const char* button) const { return Control<QPushButton>(*FWindow, button).isEnabled(); }
    std::string InstalledOrder() const {
        return fs::exists(Utf8Path(FDir.File("order.txt"))) ? test::ReadFileText(FDir.File("order.txt")) : "";
    }

    test::TTempDataDir FDir;
    test::TTempDir FDownloads;
    test::TTestPrompts FPrompts;
    std::unique_ptr<test::TSimProcess> FSim;
    TEgaissConfig FCfg;
    TfrmBootstrap* FWindow = nullptr;
};

TEST_F(BootstrapFormTest, ListsEveryComponentAndFollowsTheSelection) {
    Publish();
    const auto window = OpenWindow();
    ASSERT_EQ(List().topLevelItemCount(), 4);
    const QString orders[] = {"5", "1", "4", "5"};
    const QString states[] = {"Failed", "Failed", "", "Warning"};
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(Cell(row, 0), orders[row]);
        EXPECT_EQ(Cell(row, 1), states[row]);
    }
    EXPECT_TRUE(Control<QLabel>(*window, "lblManifest").toolTip().startsWith("Manifest: http://127.0.0.1:"));

    EXPECT_TRUE(Enabled("btnInstall"));  // row 0 selected after the run
    EXPECT_TRUE(Enabled("btnInstallAll"));
    List().setCurrentItem(List().topLevelItem(2));  // passes its check, but has an installer
    EXPECT_TRUE(Enabled("btnInstall"));
    List().setCurrentItem(List().topLevelItem(3));
    EXPECT_FALSE(Enabled("btnInstall"));
}

TEST_F(BootstrapFormTest, InstallAllRunsInOrderAndChecksAgain) {
    Publish();
    const auto window = OpenWindow();
    FPrompts.Answers.push_back(true);
    Control<QPushButton>(*window, "btnInstallAll").click();
    ASSERT_EQ(FPrompts.Questions.size(), 1);
    EXPECT_TRUE(FPrompts.Questions[0].contains("\r\n\r\n1. Beta\r\n2. Alpha\r\n"));
    EXPECT_TRUE(FPrompts.Questions[0].endsWith("Mode: interactive install - confirm each dialog."));
    ASSERT_TRUE(WaitFor([&] { return Idle() && Cell(0, 1).isEmpty() && Cell(1, 1).isEmpty(); }));
    EXPECT_EQ(InstalledOrder(), "beta\nalpha\n");
    EXPECT_FALSE(Enabled("btnInstallAll"));
}

TEST_F(BootstrapFormTest, AFailedInstallShowsItsErrorInTheProgressLabel) {
    Publish(R"({"url":")" + DownloadBaseURL(FCfg.ServerURL) + R"(beta.sh","file":"beta.sh","sha256":"00"})");
    test::WriteFileText(FDownloads.File("beta.sh"), "#!/bin/sh\n");
    const auto window = OpenWindow();
    FPrompts.Answers.push_back(true);
    Control<QPushButton>(*window, "btnInstallAll").click();
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));

    const QLabel& progress = Control<QLabel>(*window, "lblProgress");
    EXPECT_TRUE(progress.isVisible());
    EXPECT_TRUE(progress.text().startsWith("SHA256 mismatch\nExpected: 00\nFile: "))
        << progress.text().toStdString();
    EXPECT_EQ(Cell(1, 1), "Running...");  // until the next check run
    EXPECT_EQ(InstalledOrder(), "");      // Alpha comes after the failure
    EXPECT_TRUE(Enabled("btnRefresh"));
    EXPECT_TRUE(Control<QCheckBox>(*window, "chkSilentInstall").isEnabled());
    EXPECT_TRUE(Enabled("btnInstallAll"));
}

TEST_F(BootstrapFormTest, ClosingDuringInstallAllAsksFirst) {
    Publish(Installer("beta", "exec sleep 30\n"));
    const auto window = OpenWindow();
    FPrompts.Answers.push_back(true);
    Control<QPushButton>(*window, "btnInstallAll").click();
    ASSERT_TRUE(WaitFor([&] { return InstalledOrder() == "beta\n" && Cell(1, 1) == "Running..."; }));
    EXPECT_TRUE(Enabled("btnClose"));

    window->close();  // the title bar, answered No
    ASSERT_EQ(FPrompts.Questions.size(), 2);
    EXPECT_EQ(FPrompts.Questions[1],
              "Install is running. Cancel?\r\nCurrent installer window will stay open.");
    EXPECT_TRUE(window->isVisible());

    FPrompts.Answers.push_back(true);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &escape);
    EXPECT_EQ(FPrompts.Questions.size(), 3);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(WaitFor([&] {
        return test::ReadFileText(FDir.File("agent.log"))
                   .find("Install all step failed: Install cancelled by user") != std::string::npos;
    })) << "the installer was ended";
}

}  // namespace
}  // namespace egaiss
