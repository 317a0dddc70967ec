#include "prepare/uBootstrapInstall.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <regex>
#include <thread>

#include "clients/uHttpErrors.h"
#include "platform/uPath.h"
#include "platform/uProcess.h"
#include "platform/uSha256.h"
#include "platform/uSystem.h"
#include "support/uFakeHttpServer.h"
#include "support/uProcessProbe.h"
#include "support/uScopedEnv.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr const char* TestInstallerName = "egaiss-test-installer.exe";
#else
constexpr const char* TestInstallerName = "egaiss-test-installer";
#endif

TJsonValue Json(const std::string& text) {
    auto parsed = ParseJson(text);
    if (!parsed) throw std::runtime_error("test JSON does not parse: " + text);
    return std::move(*parsed);
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Stands in for the preparation window and records what reaches it, in order.
class TRecordingWindow : public TBootstrapWindow {
public:
    void BeginProgress(int maximum) override { Events.push_back("begin " + std::to_string(maximum)); }
    void SetProgressSafe(int position, const std::string& caption) override {
        Events.push_back("progress " + std::to_string(position) + " " + caption);
    }
    void MarkRowRunning(int index) override { Events.push_back("running " + std::to_string(index)); }
    void UpdateRow(int index, const TEnvCheckResult& result) override {
        Events.push_back("row " + std::to_string(index) + " " + EnvStateTag(result.State) + " " +
                         result.Detail);
    }
    void InstallAllFinished(const std::string& errMsg) override {
        Events.push_back("finished " + errMsg);
        Finished = true;
    }
    bool IsSilentMode() const override { return Silent; }
    const TJsonValue* ComponentAt(int index) const override {
        const TJsonValue* components = nullptr;
        if (!TryGetJsonArray(Manifest, "components", components) || index < 0 ||
            index >= static_cast<int>(components->Items().size()))
            return nullptr;
        const TJsonValue& item = components->Items()[static_cast<std::size_t>(index)];
        return item.IsObject() ? &item : nullptr;
    }

    TJsonValue Manifest;
    bool Silent = true;
    bool Finished = false;
    std::vector<std::string> Events;
};

// The main thread's queue: posted steps wait here until the test runs them. Like the windows'
// job tracker, it drops every step once its receiver is gone (Stop).
class TStepQueue {
public:
    TMainThreadPoster Poster() {
        return [this](std::function<void()> step) {
            const std::lock_guard guard(FLock);
            if (FStopped) return;
            FSteps.push_back(std::move(step));
            FReady.notify_all();
        };
    }

    void Stop() {
        const std::lock_guard guard(FLock);
        FStopped = true;
        FSteps.clear();
    }

    // Runs steps on the calling thread until `done` holds; false when it did not within a minute.
    bool RunUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!done()) {
            std::function<void()> step;
            {
                std::unique_lock lock(FLock);
                if (!FReady.wait_until(lock, deadline, [this] { return !FSteps.empty(); })) return false;
                step = std::move(FSteps.front());
                FSteps.pop_front();
            }
            step();
        }
        return true;
    }

    void RunPending() {
        for (;;) {
            std::function<void()> step;
            {
                const std::lock_guard guard(FLock);
                if (FSteps.empty()) return;
                step = std::move(FSteps.front());
                FSteps.pop_front();
            }
            step();
        }
    }

    std::size_t Size() {
        const std::lock_guard guard(FLock);
        return FSteps.size();
    }

private:
    std::mutex FLock;
    std::condition_variable FReady;
    std::deque<std::function<void()>> FSteps;
    bool FStopped = false;
};

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Get("/download/(.*)", [this](const test::TFakeRequest& request, httplib::Response& response) {
            const std::lock_guard guard(FFilesLock);
            const std::string name = request.Path.substr(std::string("/download/").size());
            const auto file = FFiles.find(name);
            if (file == FFiles.end()) {
                response.status = 404;
                response.set_content("not found", "text/plain");
                return;
            }
            response.set_content(file->second, "application/octet-stream");
        });
        FServer.Start();
#ifndef _WIN32
        test::WriteFileText(FDir.File("elevator.sh"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" +
                                                          FDir.File("elevator.args") + "'\nexec \"$@\"\n");
        fs::permissions(Utf8Path(FDir.File("elevator.sh")), fs::perms::owner_all, fs::perm_options::add);
#endif
    }

    void Serve(const std::string& name, const std::string& body) {
        const std::lock_guard guard(FFilesLock);
        FFiles[name] = body;
    }

    std::string Url(const std::string& name) const {
        return FServer.BaseURL() + "/download/" + name;
    }

    // Serves the stand-in installer (tests/prepare/helpers) as `name`; once run, it does `action`.
    void ServeInstaller(const std::string& name, const std::string& action) {
        const std::string standIn =
            JoinPath(PathUtf8(Utf8Path(platform::ExecutablePath()).parent_path()), TestInstallerName);
        Serve(name, test::ReadFileText(standIn));
        FInstallerAction = std::make_unique<test::TScopedEnv>("EGAISS_TEST_INSTALLER_ACTION", action);
    }

    TInstallOptions Options() {
        TInstallOptions options;
        options.WaitCycle = 50ms;
        options.ElevationCommand = {FDir.File("elevator.sh")};  // POSIX only
        options.RunCheck = [this](const TJsonValue&, const TEgaissConfig&) {
            return fs::exists(Utf8Path(FDir.File("installed.marker"))) ? TEnvCheckResult::Ok("installed")
                                                                       : TEnvCheckResult::Fail("missing");
        };
        options.RunAction = [](const TJsonValue&) {
            return TEnvCheckResult::Ok("Service Transport is running");
        };
        return options;
    }

    std::unique_ptr<TBootstrapInstaller> Installer(TInstallOptions options) {
        return std::make_unique<TBootstrapInstaller>(FWindow, TEgaissConfig{}, FQueue.Poster(),
                                                     std::move(options));
    }
    std::unique_ptr<TBootstrapInstaller> Installer() {
        return Installer(Options());
    }

    std::string Log() const {
        const std::string path = FDir.File("agent.log");
        return fs::exists(Utf8Path(path)) ? test::ReadFileText(path) : std::string();
    }

    std::string InstallPath(const std::string& name) const {
        return JoinPath(JoinPath(FDir.Path(), "install"), name);
    }

    // Whether the installer process that noted its pid still exists.
    bool InstallerAlive() const {
        return test::ProcessAlive(
            static_cast<std::uint32_t>(std::stoul(test::ReadFileText(FDir.File("installer.pid")))));
    }

    test::TTempDataDir FDir;
    test::TScopedEnv FInstallerDir{"EGAISS_TEST_INSTALLER_DIR", FDir.Path()};
    std::unique_ptr<test::TScopedEnv> FInstallerAction;
    test::TFakeHttpServer FServer;
    std::mutex FFilesLock;
    std::map<std::string, std::string> FFiles;
    TStepQueue FQueue;
    TRecordingWindow FWindow;
};

TEST(SilentArgsTest, AddsSwitchesOnlyWhenTheArgumentsDoNotAskForSilence) {
    EXPECT_EQ(ApplySilentArgs("msi", ""), "/quiet /norestart");
    EXPECT_EQ(ApplySilentArgs("MSI", "  TARGETDIR=C:\\UTM "), "TARGETDIR=C:\\UTM /quiet /norestart");
    EXPECT_EQ(ApplySilentArgs("msi", "/QN"), "/QN");
    EXPECT_EQ(ApplySilentArgs("msi", "/Quiet ALLUSERS=1"), "/Quiet ALLUSERS=1");
    EXPECT_EQ(ApplySilentArgs("exe", "/S"), "/S");
    EXPECT_EQ(ApplySilentArgs("exe", "/s"), "/s");  // compared in upper case
    EXPECT_EQ(ApplySilentArgs("Exe", "/verysilent"), "/verysilent");
    EXPECT_EQ(ApplySilentArgs("exe", "-install"), "-install /VERYSILENT /SUPPRESSMSGBOXES /NORESTART");
    EXPECT_EQ(ApplySilentArgs("exe", ""), "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART");
    EXPECT_EQ(ApplySilentArgs("zip", "  -x  "), "-x");
}

TEST(ItemTitleTest, TitleElseIdElseRaises) {
    EXPECT_EQ(ItemTitle(nullptr), "");
    const TJsonValue both = Json(R"({"id":"java","title":"Java 8"})");
    EXPECT_EQ(ItemTitle(&both), "Java 8");
    const TJsonValue idOnly = Json(R"({"id":"java"})");
    EXPECT_EQ(ItemTitle(&idOnly), "java");
    const TJsonValue neither = Json(R"({"order":1})");
    EXPECT_THROW(
        {
            try {
                ItemTitle(&neither);
            } catch (const EJsonError& error) {
                EXPECT_STREQ(error.what(), "Value 'id' not found");
                throw;
            }
        },
        EJsonError);
}

TEST(FileNameTest, OnlyPlainNamesStayInsideTheInstallFolder) {
    for (const char* good :
         {"setup.exe", "jre-8u392.msi", "installer.bin", "a..b", ".hidden", "name with blank"})
        EXPECT_TRUE(IsPlainFileName(good)) << good;
    for (const char* bad : {"", ".", "..", "...", " ", "..\\..\\x.exe", "../x.exe", "/tmp/x.exe", "C:\\x.exe",
                            "C:x.exe", "sub/x.exe", "x\nexe"})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}

TEST_F(InstallTest, DownloadGoesThroughThePartFileAndIsVerified) {
    const std::string body(300000, 'z');
    Serve("setup.exe", body);
    std::string hash = Upper(platform::Sha256Hex(body));
    for (std::size_t at = 56; at > 0; at -= 8)
        hash.insert(at, " ");  // groups as some sites print them
    const TJsonValue block = Json(R"({"url":")" + Url("setup.exe") + R"(","file":"setup.exe","sha256":")" +
                                  hash + R"(","size_bytes":300000})");
    std::string fileName;
    ASSERT_TRUE(Installer()->DownloadComponent(block, fileName));

    EXPECT_EQ(fileName, InstallPath("setup.exe"));
    EXPECT_EQ(test::ReadFileText(fileName), body);
    EXPECT_FALSE(fs::exists(Utf8Path(fileName + ".part")));
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("[Bootstrap] Download start: file=setup.exe url=" + Url("setup.exe") +
                               " fallback= dest=" + fileName));
    EXPECT_THAT(log, HasSubstr("Download OK: " + fileName + " from " + Url("setup.exe") + " (300000 bytes)"));
    EXPECT_THAT(log, HasSubstr("SHA256 verified: " + Upper(platform::Sha256Hex(body))));
    EXPECT_THAT(log, HasSubstr("Size verified: 300000 bytes"));
}

TEST_F(InstallTest, DownloadWithoutFileNameOrUrl) {
    Serve("x", "bytes");
    std::string fileName = "stale";
    EXPECT_FALSE(Installer()->DownloadComponent(Json(R"({"file":"a.exe"})"), fileName));
    EXPECT_EQ(fileName, "");
    EXPECT_THAT(Log(), HasSubstr("[Bootstrap] Download skipped: no url in manifest"));
    EXPECT_EQ(FServer.RequestCount(), 0u);

    ASSERT_TRUE(Installer()->DownloadComponent(Json(R"({"url":")" + Url("x") + R"("})"), fileName));
    EXPECT_EQ(fileName, InstallPath("installer.bin"));
}

TEST_F(InstallTest, FallbackOnlyWhenThePrimaryIsUnreachable) {
    Serve("jre.msi", "package");
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test::RefusedLoopbackPort()) + "/download/jre.msi";
    std::string fileName;
    ASSERT_TRUE(Installer()->DownloadComponent(
        Json(R"({"url":")" + refused + R"(","fallback_url":")" + Url("jre.msi") + R"(","file":"jre.msi"})"),
        fileName));
    EXPECT_EQ(test::ReadFileText(fileName), "package");
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("Primary URL failed ("));
    EXPECT_THAT(log, HasSubstr("), trying fallback: " + Url("jre.msi")));
    EXPECT_THAT(log, HasSubstr("Download OK: " + fileName + " from " + Url("jre.msi") + " (7 bytes)"));

    // An answer of the server, even 404, is no reason for the fallback.
    const TJsonValue missing = Json(R"({"url":")" + Url("gone.msi") + R"(","fallback_url":")" +
                                    Url("jre.msi") + R"(","file":"gone.msi"})");
    const std::size_t before = FServer.RequestCount();
    try {
        Installer()->DownloadComponent(missing, fileName);
        FAIL() << "404 did not raise";
    } catch (const EHttpError& error) {
        EXPECT_EQ(error.StatusCode(), 404);
        EXPECT_THAT(error.what(), StartsWith("HTTP 404"));
    }
    EXPECT_EQ(FServer.RequestCount(), before + 1);
    EXPECT_FALSE(fs::exists(Utf8Path(InstallPath("gone.msi"))));
    EXPECT_FALSE(fs::exists(Utf8Path(InstallPath("gone.msi.part"))));

    // Without a fallback the transport error itself is the failure.
    EXPECT_THROW(Installer()->DownloadComponent(Json(R"({"url":")" + refused + R"("})"), fileName),
                 ETransportError);
}

TEST_F(InstallTest, VerificationFailuresKeepTheFileForInspection) {
    Serve("a.exe", "abc");
    const auto failure = [&](const std::string& extra) {
        std::string fileName;
        try {
            Installer()->DownloadComponent(
                Json(R"({"url":")" + Url("a.exe") + R"(","file":"a.exe",)" + extra + "}"), fileName);
        } catch (const EInstallError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    const std::string actual = Upper(platform::Sha256Hex(std::string("abc")));
    EXPECT_EQ(failure(R"("sha256":"00 11")"), "SHA256 mismatch\r\nExpected: 0011\r\nFile: " + actual);
    EXPECT_EQ(failure(R"("sha256":"")"), "SHA256 mismatch\r\nExpected: \r\nFile: " + actual);
    EXPECT_EQ(failure(R"("size_bytes":4)"), "File size does not match manifest");
    EXPECT_EQ(failure(R"("size_bytes":"3")"), "no error");
    EXPECT_TRUE(fs::exists(Utf8Path(InstallPath("a.exe"))));
}

TEST_F(InstallTest, NamesLeadingOutOfTheInstallFolderAreRefused) {
    Serve("x.exe", "payload");
    for (const std::string name : {"..\\\\..\\\\x.exe", "../x.exe", "/tmp/x.exe", "sub/x.exe", ".."}) {
        std::string fileName;
        try {
            Installer()->DownloadComponent(
                Json(R"({"url":")" + Url("x.exe") + R"(","file":")" + name + R"("})"), fileName);
            ADD_FAILURE() << name << " was accepted";
        } catch (const EInstallError& error) {
            EXPECT_THAT(error.what(), StartsWith("Invalid file name in manifest: ")) << name;
        }
    }
    EXPECT_EQ(FServer.RequestCount(), 0u);
    EXPECT_FALSE(fs::exists(Utf8Path(FDir.File("x.exe"))));
}

TEST_F(InstallTest, TargetThatCannotBeDeletedGetsAnAlternateName) {
    Serve("setup.exe", "new");
    // A non-empty folder of that name cannot be deleted, like an installer still running on Windows.
    test::WriteFileText(JoinPath(InstallPath("setup.exe"), "busy"), "x");
    std::string fileName;
    ASSERT_TRUE(Installer()->DownloadComponent(
        Json(R"({"url":")" + Url("setup.exe") + R"(","file":"setup.exe"})"), fileName));
    EXPECT_TRUE(
        std::regex_match(fs::path(fileName).filename().string(), std::regex(R"(setup-\d{8}-\d{6}\.exe)")))
        << fileName;
    EXPECT_EQ(test::ReadFileText(fileName), "new");
    EXPECT_THAT(Log(), HasSubstr("Target file locked, using alternate path: " + fileName));
}

TEST_F(InstallTest, InstallerRunsElevatedWithSilentArgumentsOnlyInSilentModeAndIsTrackedOnlyWhenWaitedFor) {
    ServeInstaller("setup.exe", "exit 3");
    const TJsonValue component = Json(R"({"id":"utm","title":"UTM","install":{"url":")" + Url("setup.exe") +
                                      R"(","file":"setup.exe","args":"-q"}})");
    const auto installer = Installer();
    ASSERT_TRUE(installer->InstallComponent(&component, true, true));

    const std::string file = InstallPath("setup.exe");
    EXPECT_EQ(test::ReadFileText(FDir.File("installer.args")),
              "-q\n/VERYSILENT\n/SUPPRESSMSGBOXES\n/NORESTART\n");
#ifndef _WIN32
    EXPECT_EQ(test::ReadFileText(FDir.File("elevator.args")),
              file + "\n-q\n/VERYSILENT\n/SUPPRESSMSGBOXES\n/NORESTART\n");
#endif
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("[Bootstrap] Install component: UTM"));
    EXPECT_THAT(log,
                HasSubstr("Launch installer: type=exe silent=True wait=True verb=runas show=0 file=" + file +
                          " params=-q /VERYSILENT /SUPPRESSMSGBOXES /NORESTART manifest_args=-q"));
    EXPECT_THAT(log, HasSubstr("Installer finished: exit_code=3 file=" + file));
    EXPECT_FALSE(installer->InstallerTracked());

    ASSERT_TRUE(installer->InstallComponent(&component, true, false));
    EXPECT_EQ(test::ReadFileText(FDir.File("installer.args")), "");  // no arguments at all
    EXPECT_THAT(Log(), HasSubstr("silent=False wait=True verb=runas show=1 file=" + file +
                                 " params= manifest_args=-q"));

    ASSERT_TRUE(installer->InstallComponent(&component, false, true));
    EXPECT_FALSE(installer->InstallerTracked());
    EXPECT_THAT(Log(), HasSubstr("Installer started (no wait): " + file));
}

TEST_F(InstallTest, UnrunnableTypesAndFailedStartsRaise) {
    Serve("pkg.zip", "zip");
    const auto install = [&](const std::string& type, TInstallOptions options) {
        const TJsonValue component = Json(R"({"id":"c","install":{"type":")" + type + R"(","url":")" +
                                          Url("pkg.zip") + R"(","file":"pkg.zip"}})");
        try {
            Installer(std::move(options))->InstallComponent(&component, true, true);
        } catch (const EInstallError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(install("zip", Options()), "Install type not supported: zip");
    EXPECT_TRUE(fs::exists(Utf8Path(InstallPath("pkg.zip"))));  // the download came first
    if (!platform::CanRunMsiPackages()) {
        EXPECT_EQ(install("msi", Options()), "Install type not supported: msi");
    }

#ifndef _WIN32
    TInstallOptions refused = Options();
    refused.ElevationCommand = {FDir.File("no-such-elevator")};
    EXPECT_EQ(install("EXE", refused), "Failed to start installer (UAC?)");
    EXPECT_THAT(Log(), HasSubstr("[Bootstrap] ShellExecuteEx failed: type=EXE file=" +
                                 InstallPath("pkg.zip") + " error=" + std::to_string(ENOENT)));
#endif
}

TEST_F(InstallTest, SingleInstallOfActionsAndOfComponentsWithoutInstaller) {
    const auto installer = Installer();
    EXPECT_FALSE(installer->InstallComponent(nullptr, true, true));
    const TJsonValue action =
        Json(R"({"id":"svc","install":{"type":"Action","action":"start_utm_services"}})");
    EXPECT_TRUE(installer->InstallComponent(&action, true, true));
    EXPECT_THAT(Log(), HasSubstr("[Bootstrap] Execute action: start_utm_services"));
    EXPECT_THAT(Log(), HasSubstr("[Bootstrap] Action OK: Service Transport is running"));

    TInstallOptions failing = Options();
    failing.RunAction = [](const TJsonValue&) {
        return TEnvCheckResult::Fail("UTM services are not running");
    };
    EXPECT_THROW(
        {
            try {
                Installer(failing)->InstallComponent(&action, true, true);
            } catch (const EInstallError& error) {
                EXPECT_STREQ(error.what(), "UTM services are not running");
                throw;
            }
        },
        EInstallError);

    for (const char* text : {R"({"id":"token"})", R"({"id":"token","install":{"file":"x.exe"}})"}) {
        const TJsonValue component = Json(text);
        try {
            installer->InstallComponent(&component, true, true);
            ADD_FAILURE() << text;
        } catch (const EInstallError& error) {
            EXPECT_STREQ(error.what(), "No installer file for this item.");
        }
    }
}

TEST_F(InstallTest, WaitEndsAndTheInstallerIsEndedOnceThePostCheckPasses) {
    ServeInstaller("setup.exe", "mark");
    const TJsonValue component =
        Json(R"({"id":"utm","install":{"url":")" + Url("setup.exe") + R"(","file":"setup.exe"}})");
    const auto installer = Installer();
    ASSERT_TRUE(installer->InstallComponent(&component, true, true));

    EXPECT_THAT(Log(), HasSubstr("Install detected as complete (post-check OK): setup.exe"));
    EXPECT_THAT(Log(), HasSubstr("Installer finished: exit_code=0 file=" + InstallPath("setup.exe")));
    EXPECT_FALSE(installer->InstallerTracked());
    EXPECT_FALSE(InstallerAlive());
}

TEST_F(InstallTest, WaitGivesUpAtTheTimeLimitAndEndsTheInstaller) {
    ServeInstaller("setup.exe", "sleep");
    const TJsonValue component =
        Json(R"({"id":"utm","install":{"url":")" + Url("setup.exe") + R"(","file":"setup.exe"}})");
    TInstallOptions options = Options();
    options.WaitLimit = 1s;
    options.StillRunningNote = 200ms;
    const auto installer = Installer(options);
    try {
        installer->InstallComponent(&component, true, true);
        FAIL() << "the wait did not end";
    } catch (const EInstallError& error) {
        EXPECT_STREQ(error.what(), "Installer wait timeout (1 sec): setup.exe");
    }
    EXPECT_THAT(Log(), HasSubstr("[Bootstrap] Installer timeout after 0 min: " + InstallPath("setup.exe")));
    EXPECT_THAT(Log(), HasSubstr("sec): setup.exe"));  // the still-running note
    EXPECT_FALSE(installer->InstallerTracked());
    EXPECT_FALSE(InstallerAlive());
}

TEST_F(InstallTest, CancelFromTheMainThreadEndsTheWaitedInstaller) {
    ServeInstaller("setup.exe", "sleep");
    FWindow.Manifest = Json(R"({"components":[{"id":"utm","install":{"url":")" + Url("setup.exe") +
                            R"(","file":"setup.exe"}}]})");
    const auto installer = Installer();
    installer->InstallAllAsync({0});
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    const std::string pidFile = FDir.File("installer.pid");
    while ((!installer->InstallerTracked() || !fs::exists(Utf8Path(pidFile)) ||
            test::ReadFileText(pidFile).find('\n') == std::string::npos) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(installer->InstallerTracked());

    installer->CancelInstall();
    installer->KillInstaller();
    ASSERT_TRUE(FQueue.RunUntil([&] { return FWindow.Finished; }));
    EXPECT_EQ(FWindow.Events.back(), "finished Install cancelled by user");
    EXPECT_FALSE(installer->InstallAllBusy());
    EXPECT_FALSE(installer->InstallerTracked());
    EXPECT_FALSE(InstallerAlive());
    EXPECT_THAT(Log(), HasSubstr("[Bootstrap] Install all step failed: Install cancelled by user"));
    EXPECT_THAT(Log(), Not(HasSubstr("Installer finished")));
}

TEST_F(InstallTest, InstallAllStopsAtTheFirstFailureWithStepsPostedInOrder) {
    ServeInstaller("a.exe", "exit 0");
    FWindow.Manifest = Json(R"({"components":[
        {"id":"a","title":"Alpha","install":{"url":")" +
                            Url("a.exe") + R"(","file":"a.exe"}},
        "not a component",
        {"id":"b","install":{"type":"action","action":"start_utm_services"}},
        {"id":"c","title":"Gamma","install":{"url":")" +
                            Url("missing.exe") + R"(","file":"c.exe"}},
        {"id":"d","title":"Delta","install":{"url":")" +
                            Url("a.exe") + R"(","file":"d.exe"}}]})");
    FWindow.Silent = false;
    const auto installer = Installer();
    installer->InstallAllAsync({0, 2, 3, 4});
    EXPECT_TRUE(installer->InstallAllBusy());
    ASSERT_TRUE(FQueue.RunUntil([&] { return FWindow.Finished; }));

    ASSERT_EQ(FWindow.Events.size(), 11u);
    EXPECT_THAT(std::vector<std::string>(FWindow.Events.begin(), FWindow.Events.end() - 1),
                ElementsAre("begin 8", "running 0", "progress 1 Download: Alpha  (1/4)",
                            "progress 2 Install pkg: Alpha  (1/4)", "row 0 FAIL missing", "running 2",
                            "progress 4 Install pkg: b  (2/4)", "row 2 FAIL missing", "running 3",
                            "progress 5 Download: Gamma  (3/4)"));
    EXPECT_THAT(FWindow.Events.back(), StartsWith("finished HTTP 404"));
    EXPECT_FALSE(installer->InstallAllBusy());
    EXPECT_FALSE(fs::exists(Utf8Path(InstallPath("d.exe"))));
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("[Bootstrap] Install all started: 4 component(s), silent=False"));
    EXPECT_THAT(log, HasSubstr("silent=False wait=True verb=runas show=1"));
    EXPECT_THAT(log, HasSubstr("[Bootstrap] Install all step failed: HTTP 404"));

    // A finished run makes way for the next one.
    FWindow.Finished = false;
    installer->InstallAllAsync({2});
    ASSERT_TRUE(FQueue.RunUntil([&] { return FWindow.Finished; }));
    EXPECT_EQ(FWindow.Events.back(), "finished ");
}

TEST_F(InstallTest, DestroyedWhileInstallAllRunsWithItsOwnerGone) {
    FWindow.Manifest = Json(R"({"components":[{"id":"a"}]})");
    auto installer = Installer();
    installer->InstallAllAsync({0, 5});
    EXPECT_THROW(installer->InstallAllAsync({0}), EInstallError);  // still busy
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (FQueue.Size() < 2 && std::chrono::steady_clock::now() < deadline)  // "running" and the end step
        std::this_thread::sleep_for(10ms);
    FQueue.Stop();  // the window detaches its poster before its installer goes
    installer.reset();
    FQueue.RunPending();
    EXPECT_THAT(FWindow.Events, ElementsAre("begin 4"));
    EXPECT_THAT(Log(), HasSubstr("Install all step failed: No installer file for this item."));
}

}  // namespace
}  // namespace egaiss
