#include "update/uAgentUpdate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <vector>

#include "core/uEgaissLog.h"
#include "platform/uErrors.h"
#include "platform/uPath.h"
#include "platform/uSha256.h"
#include "prepare/uBootstrapManifest.h"
#include "support/uFakeHttpServer.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct TZipEntry {
    std::string Name;
    std::string Bytes;
    bool Deflate = true;
    bool Folder = false;
};

// A real archive, written by libzip into `folder` and read back.
TBytes MakeZip(const test::TTempDir& folder, const std::vector<TZipEntry>& entries) {
    const std::string path = folder.File("package.zip");
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) throw std::runtime_error("zip_open failed");
    for (const TZipEntry& entry : entries) {
        if (entry.Folder) {
            zip_dir_add(archive, entry.Name.c_str(), ZIP_FL_ENC_UTF_8);
            continue;
        }
        zip_source_t* source = zip_source_buffer(archive, entry.Bytes.data(), entry.Bytes.size(), 0);
        const zip_int64_t index = zip_file_add(archive, entry.Name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) throw std::runtime_error("zip_file_add failed");
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 entry.Deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
    }
    if (zip_close(archive) != 0) throw std::runtime_error("zip_close failed");
    return ToBytes(test::ReadFileText(path));
}

std::string Log() {
    return std::filesystem::exists(LogFilePath()) ? test::ReadFileText(LogFilePath()) : std::string();
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TJsonValue Json(const std::string& text) {
    auto parsed = ParseJson(text);
    if (!parsed) throw std::runtime_error("test JSON does not parse: " + text);
    return std::move(*parsed);
}

TEST(CompareVersionsTest, ComparesPartsAsIntegers) {
    EXPECT_EQ(CompareVersions("0.4.10", "0.4.9"), 1);
    EXPECT_EQ(CompareVersions("0.4.9", "0.4.10"), -1);
    EXPECT_EQ(CompareVersions("0.4.3", "0.4.4"), -1);
    EXPECT_EQ(CompareVersions("1.0", "0.9.9"), 1);
    EXPECT_EQ(CompareVersions("0.4.3", "0.4.3.1"), -1);
}

TEST(CompareVersionsTest, MissingWordsAndEmptyPartsCountAsZero) {
    EXPECT_EQ(CompareVersions("0.4.3", "0.4.3"), 0);
    EXPECT_EQ(CompareVersions("0.4.3", "0.4.3.0"), 0);
    EXPECT_EQ(CompareVersions("0.4.3", "0.4.3-beta"), 0);
    EXPECT_EQ(CompareVersions("0.4.3-2", "0.4.3.1"), 1);
    EXPECT_EQ(CompareVersions("0..3", "0.0.3"), 0);
    EXPECT_EQ(CompareVersions("", "0"), 0);
    EXPECT_EQ(CompareVersions("0.x.9", "0.0.9"), 0);
    EXPECT_EQ(CompareVersions("0.99999999999999999999999", "0.0"), 0) << "overflow is not a number";
    EXPECT_EQ(CompareVersions("0.4.5b", "0.4.0"), 0);
}

TEST(IsZipURLTest, DecidesByTheUrlAlone) {
    EXPECT_TRUE(IsZipURL("http://h/download/VelmoraEgaissAgent.zip"));
    EXPECT_TRUE(IsZipURL("http://h/download/AGENT.ZIP"));
    EXPECT_TRUE(IsZipURL("http://h/get/agent.zip?token=1"));
    EXPECT_TRUE(IsZipURL("  http://h/agent.zip \r\n"));
    EXPECT_FALSE(IsZipURL("http://h/download/VelmoraEgaissAgent.exe"));
    EXPECT_FALSE(IsZipURL("http://h/download/agent.zipped"));
    EXPECT_FALSE(IsZipURL("http://h/agent.zip/latest"));
    EXPECT_FALSE(IsZipURL(""));
}

TEST(ReadUpdateOfferTest, PicksThePackageUrlInOrderOfPrecedence) {
    const std::string base = "http://h/download/";
    const auto offer = [&](const std::string& json) { return ReadUpdateOffer(Json(json), base); };
    EXPECT_EQ(
        offer(R"({"zip_url":"http://a/p.zip","zip":"z.zip","url":"http://u/x","file":"f.exe"})").PackageURL,
        "http://a/p.zip");
    EXPECT_EQ(offer(R"({"zip_url":"  ","zip":"pkg/z.zip","url":"http://u/x","file":"f.exe"})").PackageURL,
              base + "pkg/z.zip");
    EXPECT_EQ(offer(R"({"url":"http://u/agent.exe","file":"f.zip"})").PackageURL, "http://u/agent.exe");
    EXPECT_EQ(offer(R"({"url":null,"file":"f.exe"})").PackageURL, base + "f.exe");
    EXPECT_EQ(offer(R"({"zip":{"a":1}})").PackageURL, base + "VelmoraEgaissAgent.zip");

    EXPECT_TRUE(offer("{}").IsZip);
    EXPECT_FALSE(offer(R"({"file":"f.exe"})").IsZip);
    EXPECT_TRUE(offer(R"({"url":"http://u/get.ZIP?v=2"})").IsZip);
}

TEST(ReadUpdateOfferTest, TrimsMembersAndAppliesDefaults) {
    const auto offer = ReadUpdateOffer(Json(R"({"version":" 0.4.4\t","sha256":" AB ","exe_name":""})"), "b/");
    EXPECT_EQ(offer.Version, "0.4.4");
    EXPECT_EQ(offer.Sha256, "AB");
    EXPECT_EQ(offer.ExeName, AgentExeName);
    EXPECT_EQ(ReadUpdateOffer(Json(R"({"version":1})"), "b/").Version, "1");
    EXPECT_EQ(ManifestText(Json(R"({"a":[1]})"), "a"), "");
    EXPECT_EQ(ManifestText(Json(R"({"a":" x "})"), "missing"), "");
}

class ExtractZipMemberTest : public ::testing::Test {
protected:
    test::TTempDataDir FDir;
    TBytes FTarget = ToBytes("stale");
};

TEST_F(ExtractZipMemberTest, FindsTheMemberByFileNameInAnyFolderAndCase) {
    const std::string exe(300000, 'x');
    const TBytes zip = MakeZip(FDir, {{"readme.txt", "read me"},
                                      {"VelmoraEgaissAgent/", "", true, true},
                                      {"bin/x64/velmoraegaissagent", exe + "deflated"}});
    ASSERT_TRUE(ExtractZipMember(zip, "VelmoraEgaissAgent", FTarget));
    EXPECT_EQ(AsText(FTarget), exe + "deflated");
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update: extracted VelmoraEgaissAgent (300008 bytes) from zip"));

    const TBytes stored = MakeZip(FDir, {{"dist\\Agent.EXE", "stored bytes", false}});
    ASSERT_TRUE(ExtractZipMember(stored, "agent.exe", FTarget));
    EXPECT_EQ(AsText(FTarget), "stored bytes");
}

TEST_F(ExtractZipMemberTest, FirstMatchingMemberDecidesEvenWhenEmpty) {
    const TBytes zip = MakeZip(FDir, {{"old/Agent.exe", ""}, {"new/Agent.exe", "good bytes"}});
    EXPECT_FALSE(ExtractZipMember(zip, "Agent.exe", FTarget));
    EXPECT_TRUE(FTarget.empty());
    EXPECT_THAT(Log(), HasSubstr("[ERR] Update: zip member empty: Agent.exe"));
    EXPECT_THAT(Log(), Not(HasSubstr("extracted")));
}

TEST_F(ExtractZipMemberTest, ReportsMissingMembersAndArchivesThatAreNotZip) {
    EXPECT_FALSE(ExtractZipMember(MakeZip(FDir, {{"Agent.exe.bak", "x"}}), "Agent.exe", FTarget));
    EXPECT_THAT(Log(), HasSubstr("[ERR] Update: zip has no member Agent.exe"));

    EXPECT_FALSE(ExtractZipMember(ToBytes("MZ this is an executable"), "Agent.exe", FTarget));
    EXPECT_FALSE(ExtractZipMember(TBytes{}, "Agent.exe", FTarget));
    TBytes truncated = MakeZip(FDir, {{"Agent.exe", std::string(1000, 'a')}});
    truncated.resize(truncated.size() / 2);
    EXPECT_FALSE(ExtractZipMember(truncated, "Agent.exe", FTarget));
    EXPECT_EQ(CountOf(Log(), "[ERR] Update: downloaded file is not a valid zip"), 3u);
    EXPECT_TRUE(FTarget.empty());
}

// The real file system, with a rename that fails while the file is "locked" and a write that can be
// made to fail halfway.
class TScriptedFiles : public TExeFileOps {
public:
    int LockedRenames = 0;
    bool FailWrite = false;
    std::vector<std::chrono::milliseconds> Pauses;

    void Rename(const std::string& from, const std::string& to) override {
        if (LockedRenames > 0) {
            --LockedRenames;
            throw EFileError("Cannot rename " + from + ": sharing violation");
        }
        TExeFileOps::Rename(from, to);
    }
    void WriteExe(const std::string& path, const TBytes& bytes, const std::string& modelPath) override {
        if (!FailWrite) return TExeFileOps::WriteExe(path, bytes, modelPath);
        test::WriteFileText(path, "half");
        throw EFileError("Cannot write " + path + ": No space left on device");
    }
    void Pause(std::chrono::milliseconds duration) override { Pauses.push_back(duration); }
};

class ReplaceRunningExeTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteFileText(FExe, "old agent");
        std::filesystem::permissions(FExe, std::filesystem::perms(0750));
    }

    test::TTempDataDir FDir;
    std::string FExe = FDir.File(AgentExeName);
    std::string FBackup = BackupExePath(FExe);
    TScriptedFiles FFiles;
};

TEST_F(ReplaceRunningExeTest, BackupNameFollowsThePlatform) {
#ifdef _WIN32
    EXPECT_EQ(BackupExePath(FDir.File("VelmoraEgaissAgent.exe")), FDir.File("VelmoraEgaissAgent.old.exe"));
#else
    EXPECT_EQ(FBackup, FDir.File("VelmoraEgaissAgent.old"));
    EXPECT_EQ(BackupExePath("/opt/agent/run.bin"), "/opt/agent/run.old");
#endif
}

TEST_F(ReplaceRunningExeTest, MovesTheOldAsideAndWritesTheNewWithItsPermissions) {
    test::WriteFileText(FBackup, "backup of an earlier update");
    ASSERT_TRUE(ReplaceRunningExe(FExe, ToBytes("new agent"), FFiles));
    EXPECT_EQ(test::ReadFileText(FExe), "new agent");
    EXPECT_EQ(test::ReadFileText(FBackup), "old agent");
#ifndef _WIN32
    // Windows keeps no POSIX permissions to carry over.
    EXPECT_EQ(std::filesystem::status(FExe).permissions(), std::filesystem::perms(0750));
#endif
    EXPECT_TRUE(FFiles.Pauses.empty());
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update: exe replaced OK (9 bytes)"));
}

TEST_F(ReplaceRunningExeTest, RetriesALockedRenameFiveTimesThenGivesUp) {
    FFiles.LockedRenames = 100;
    EXPECT_FALSE(ReplaceRunningExe(FExe, ToBytes("new agent"), FFiles));
    EXPECT_EQ(FFiles.Pauses, std::vector<std::chrono::milliseconds>(5, std::chrono::milliseconds(500)));
    const std::string log = Log();
    for (int i = 1; i <= 5; ++i) {
        EXPECT_THAT(log, HasSubstr("[INFO] Update: rename busy, retry " + std::to_string(i) + "/5"));
    }
    EXPECT_EQ(CountOf(log, "rename busy"), 5u);
    EXPECT_THAT(log, HasSubstr("[ERR] Update: cannot rename running exe (file locked)"));
    EXPECT_EQ(test::ReadFileText(FExe), "old agent");
    EXPECT_FALSE(std::filesystem::exists(FBackup));
}

TEST_F(ReplaceRunningExeTest, SucceedsWhenTheLockGoesAwayBetweenAttempts) {
    FFiles.LockedRenames = 2;
    EXPECT_TRUE(ReplaceRunningExe(FExe, ToBytes("new agent"), FFiles));
    EXPECT_EQ(FFiles.Pauses.size(), 2u);
    EXPECT_EQ(CountOf(Log(), "rename busy"), 2u);
    EXPECT_EQ(test::ReadFileText(FExe), "new agent");
}

TEST_F(ReplaceRunningExeTest, RollsBackAFailedWrite) {
    FFiles.FailWrite = true;
    EXPECT_FALSE(ReplaceRunningExe(FExe, ToBytes("new agent"), FFiles));
    EXPECT_EQ(test::ReadFileText(FExe), "old agent");
    EXPECT_FALSE(std::filesystem::exists(FBackup));
    EXPECT_THAT(Log(), HasSubstr("[ERR] Update: write new exe failed - Cannot write " + FExe +
                                 ": No space left on device"));
    EXPECT_THAT(Log(), Not(HasSubstr("replaced OK")));
}

TEST_F(ReplaceRunningExeTest, AnUndeletableOldBackupEndsAsALockedRename) {
    // A folder in place of the backup cannot be deleted as a file, and the rename must not replace it.
    std::filesystem::create_directories(Utf8Path(FBackup) / "in-use");
    EXPECT_FALSE(ReplaceRunningExe(FExe, ToBytes("new agent"), FFiles));
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update: cannot delete old backup - "));
    EXPECT_EQ(CountOf(Log(), "rename busy"), 5u);
    EXPECT_EQ(test::ReadFileText(FExe), "old agent");
    EXPECT_TRUE(std::filesystem::exists(Utf8Path(FBackup) / "in-use"));
}

// The whole check against an in-process server, with the executable in a temporary folder and the
// launch recorded instead of performed.
class CheckForUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Get("/shop/download/(.*)", [this](const test::TFakeRequest& req, httplib::Response& res) {
            const std::string name = req.Path.substr(std::string("/shop/download/").size());
            if (name == "egaiss-agent.json" && FManifestStatus != 200) {
                res.status = FManifestStatus;
                return;
            }
            const auto found = FFiles.find(name);
            if (found == FFiles.end()) {
                res.status = 404;
                return;
            }
            res.set_content(found->second, "application/octet-stream");
        });
        FServer.Start();
        FCfg.ServerURL = FServer.BaseURL() + "/shop/index.php";
        FCfg.AgentID = "shop-1";
        FCfg.AgentSecret = "s3cret";
        test::WriteFileText(FExe, "old agent");
        FEnvironment.ExePath = FExe;
        FEnvironment.Launch = [this](const std::string& path) {
            FLaunched.push_back(path);
            return FLaunchWorks;
        };
    }

    std::string ManifestURL() const { return FServer.BaseURL() + "/shop/download/egaiss-agent.json"; }
    bool Check() { return CheckForUpdate(FCfg, FEnvironment); }

    test::TTempDataDir FDir;
    test::TFakeHttpServer FServer;
    std::map<std::string, std::string> FFiles;
    int FManifestStatus = 200;
    TEgaissConfig FCfg;
    std::string FExe = FDir.File(AgentExeName);
    TUpdateEnvironment FEnvironment;
    std::vector<std::string> FLaunched;
    bool FLaunchWorks = true;
};

TEST_F(CheckForUpdateTest, InstallsAVerifiedBareExecutableAndStartsIt) {
    const std::string exe = "new agent bytes";
    std::string upper = platform::Sha256Hex(exe);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FFiles["egaiss-agent.json"] =
        R"({"version":"0.4.10","file":"agent-0.4.10.bin","sha256":")" + upper + "\"}";
    FFiles["agent-0.4.10.bin"] = exe;

    EXPECT_TRUE(Check());
    EXPECT_EQ(test::ReadFileText(FExe), exe);
    EXPECT_EQ(test::ReadFileText(BackupExePath(FExe)), "old agent");
    EXPECT_EQ(FLaunched, std::vector<std::string>{FExe});
    const std::string log = Log();
    std::size_t at = 0;
    for (const std::string& line : {
             "[INFO] Update check: " + ManifestURL(),
             std::string("[INFO] Update: local=0.4.3 remote=0.4.10"),
             "[INFO] Update: downloading " + FServer.BaseURL() +
                 "/shop/download/agent-0.4.10.bin (zip=False)",
             std::string("[INFO] Update: downloaded 15 bytes"),
             std::string("[INFO] Update: bare exe payload (15 bytes)"),
             "[INFO] Update: sha256=" + platform::Sha256Hex(exe),
             std::string("[INFO] Update: sha256 OK"),
             std::string("[INFO] Update: exe replaced OK (15 bytes)"),
             std::string("[INFO] Update: launching new process..."),
         }) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << log;
    }
}

TEST_F(CheckForUpdateTest, InstallsFromAZipAndStillEndsWhenTheLaunchFails) {
    FFiles["egaiss-agent.json"] = R"({"version":"0.5","zip":"pkg.zip","exe_name":"Agent.bin"})";
    FFiles["pkg.zip"] = std::string(AsText(MakeZip(FDir, {{"app/Agent.bin", "zipped agent"}})));
    FLaunchWorks = false;
    EXPECT_TRUE(Check());
    EXPECT_EQ(test::ReadFileText(FExe), "zipped agent");
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("(zip=True)"));
    EXPECT_THAT(log, HasSubstr("[INFO] Update: sha256 not in manifest - skip check"));
    EXPECT_THAT(log, HasSubstr("[ERR] Update: new exe on disk; start manually if needed"));
}

TEST_F(CheckForUpdateTest, LeavesTheExecutableAloneOnAWrongHash) {
    FFiles["egaiss-agent.json"] =
        R"({"version":"0.4.4","url":")" + FServer.BaseURL() + R"(/shop/download/a.exe","sha256":"00AA"})";
    FFiles["a.exe"] = "tampered";
    EXPECT_FALSE(Check());
    EXPECT_EQ(test::ReadFileText(FExe), "old agent");
    EXPECT_FALSE(std::filesystem::exists(BackupExePath(FExe)));
    EXPECT_TRUE(FLaunched.empty());
    EXPECT_THAT(Log(), HasSubstr("[ERR] Update: sha256 mismatch expected=00aa got=" +
                                 platform::Sha256Hex("tampered")));
}

TEST_F(CheckForUpdateTest, StopsQuietlyForEveryReasonNotToUpdate) {
    FFiles["egaiss-agent.json"] = R"({"file":"x.exe"})";
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update check: " + ManifestURL()));
    EXPECT_THAT(Log(), Not(HasSubstr("Update: local=")));

    FFiles["egaiss-agent.json"] = R"({"version":"0.4.3.0"})";
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update: local=0.4.3 remote=0.4.3.0"));
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update: already current"));

    FFiles["egaiss-agent.json"] = R"(["version","0.9"])";
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update: bad manifest JSON"));

    FFiles["egaiss-agent.json"] = R"({"version":"0.9","file":"missing.exe"})";
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[ERR] Update download failed: HTTP 404: "));

    FFiles["egaiss-agent.json"] = R"({"version":"0.9","file":"empty.exe"})";
    FFiles["empty.exe"] = "";
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[ERR] Update: empty download"));

    FManifestStatus = 503;
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update: manifest HTTP 503 - skip"));
    EXPECT_EQ(test::ReadFileText(FExe), "old agent");
    EXPECT_TRUE(FLaunched.empty());
}

TEST_F(CheckForUpdateTest, SkipsWithoutAskingTheServer) {
    FEnvironment.NoUpdateSwitch = true;
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update skipped (--noupdate)"));

    FCfg.AgentSecret.clear();
    const std::string before = Log();
    EXPECT_FALSE(Check());
    EXPECT_EQ(Log(), before) << "incomplete settings end the check without a line";
    EXPECT_EQ(FServer.RequestCount(), 0u);
}

TEST_F(CheckForUpdateTest, ReportsAnUnreachableServerAndABadServerUrl) {
    FCfg.ServerURL = "http://127.0.0.1:" + std::to_string(test::RefusedLoopbackPort()) + "/";
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[INFO] Update: manifest failed - "));

    FCfg.ServerURL = "no scheme here";
    EXPECT_FALSE(Check());
    EXPECT_THAT(Log(), HasSubstr("[ERR] Update: unexpected - "));
}

}  // namespace
}  // namespace egaiss
