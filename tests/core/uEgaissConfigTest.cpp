#include <gtest/gtest.h>

#include <filesystem>

#include "core/uEgaissConfig.h"
#include "platform/uAutostart.h"
#include "platform/uPath.h"
#include "platform/uSystem.h"
#include "support/uScopedEnv.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using test::ReadFileText;
using test::TScopedEnv;
using test::TTempDataDir;
using test::TTempDir;
using test::WriteFileText;

constexpr const char* Bom = "\xEF\xBB\xBF";

// APPDATA and XDG_CONFIG_HOME point into temporary folders so that no test touches the real home
// folder.
class ConfigTest : public ::testing::Test {
protected:
    TTempDir FHome;
    TScopedEnv FXdg{"XDG_CONFIG_HOME", FHome.Path()};
    TScopedEnv FAppData{"APPDATA", FHome.File("appdata")};
    TTempDataDir FData;

    std::string IniPath() const { return FData.File("agent.ini"); }
};

TEST(ConfigLineTest, AcceptsKeyValueLinesAndIgnoresTheRest) {
    const auto line = ParseConfigLine("\t\xEF\xBB\xBF SERVER_URL = http://x/?a=b=c \r");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->Key, "server_url");
    EXPECT_EQ(line->Value, "http://x/?a=b=c");

    for (const char* ignored : {"", "   ", "# c=1", "; c=1", "[agent]", "novalue", "=value", " = value"}) {
        EXPECT_FALSE(ParseConfigLine(ignored)) << ignored;
    }
    // A non-breaking space is not a blank for the parser: it stays part of the key.
    EXPECT_EQ(ParseConfigLine("\xC2\xA0key=v")->Key, "\xC2\xA0key");
}

TEST(ConfigParseTest, AppliesDefaultsClampsAndOverrides) {
    const TEgaissConfig cfg = ParseConfigText(
        "Server_Url = http://velmora.example/api\r\n"
        "agent_id=A1\nagent_secret=s=e=c\rutm_host=\nutm_port=0\npoll_seconds=30\n"
        "id_sklad=x\nlabel=first\nlabel=Shop 7\nautostart=YES\nfsrar_id=123\nunknown=1\n");
    EXPECT_EQ(cfg.ServerURL, "https://velmora.example/api");
    EXPECT_EQ(cfg.AgentID, "A1");
    EXPECT_EQ(cfg.AgentSecret, "s=e=c");
    EXPECT_EQ(cfg.UtmHost, "127.0.0.1");
    EXPECT_EQ(cfg.UtmPort, 8080);
    EXPECT_EQ(cfg.PollSeconds, 300);
    EXPECT_EQ(cfg.IdSklad, 0);
    EXPECT_EQ(cfg.LabelText, "Shop 7");
    EXPECT_TRUE(cfg.AutoStart);

    EXPECT_EQ(ParseConfigText("poll_seconds=abc").PollSeconds, 300);
    EXPECT_EQ(ParseConfigText("poll_seconds=90").PollSeconds, 90);
    EXPECT_EQ(ParseConfigText("utm_port=9090x").UtmPort, 8080);
    EXPECT_EQ(ParseConfigText("utm_port=-5").UtmPort, 8080);
    EXPECT_EQ(ParseConfigText("utm_port=9090").UtmBaseURL(), "http://127.0.0.1:9090");
}

TEST(ConfigParseTest, BooleansAcceptOnlyOneTrueOrYes) {
    for (const char* yes : {"1", "true", "TRUE", "Yes", " yes "})
        EXPECT_TRUE(ParseConfigBool(yes)) << yes;
    for (const char* no : {"0", "on", "", "y", "2", "truee"})
        EXPECT_FALSE(ParseConfigBool(no)) << no;
}

TEST(ConfigParseTest, NormalisesOnlyPlainHttpOfRemoteServers) {
    EXPECT_EQ(NormalizeServerURL("  HTTP://srv/x  "), "https://srv/x");
    EXPECT_EQ(NormalizeServerURL("http://127.0.0.1:9000/"), "http://127.0.0.1:9000/");
    EXPECT_EQ(NormalizeServerURL("http://LocalHost/api"), "http://LocalHost/api");
    EXPECT_EQ(NormalizeServerURL("https://srv"), "https://srv");
    EXPECT_EQ(NormalizeServerURL("ftp://srv"), "ftp://srv");
    EXPECT_EQ(NormalizeServerURL("   "), "");
}

TEST(ConfigParseTest, CompleteNeedsServerIdSecretHostAndPort) {
    TEgaissConfig cfg;
    cfg.ServerURL = "https://s";
    cfg.AgentID = "a";
    cfg.AgentSecret = "b";
    EXPECT_TRUE(cfg.IsComplete());
    for (auto field : {&TEgaissConfig::ServerURL, &TEgaissConfig::AgentID, &TEgaissConfig::AgentSecret,
                       &TEgaissConfig::UtmHost}) {
        TEgaissConfig missing = cfg;
        missing.*field = "";
        EXPECT_FALSE(missing.IsComplete());
    }
    cfg.UtmPort = 0;
    EXPECT_FALSE(cfg.IsComplete());
}

TEST(ConfigParseTest, AgentLayoutWritesOptionalLinesOnlyWhenSet) {
    TEgaissConfig cfg;
    cfg.ServerURL = "https://s";
    EXPECT_EQ(ConfigToText(cfg),
              "# Velmora EGAIS agent settings\r\nserver_url=https://s\r\nagent_id=\r\nagent_secret=\r\n"
              "utm_host=127.0.0.1\r\nutm_port=8080\r\npoll_seconds=300\r\n");
    cfg.FirmID = "F";
    cfg.IdSklad = 4;
    cfg.LabelText = "L";
    EXPECT_NE(ConfigToText(cfg).find("poll_seconds=300\r\nfirm_id=F\r\nid_sklad=4\r\nlabel=L\r\n"),
              std::string::npos);
    EXPECT_EQ(ParseConfigText(ConfigToText(cfg)), cfg);
}

TEST(ConfigParseTest, EditingTextDropsAutostartAndFsrarLines) {
    EXPECT_EQ(ConfigTextForEditing("a=1\nAUTOSTART=1\r\n# c\nfsrar_id=9\nb=2"), "a=1\r\n# c\r\nb=2\r\n");
}

TEST_F(ConfigTest, SaveRewritesOnlyServerFsrarAndAutostartLines) {
    const std::string pasted =
        "# pasted from the web\r\nSERVER_URL = http://velmora.example\r\nagent_id=A\r\n"
        "fsrar_id=0100\r\nautostart=1\r\nscale_massak_dir=C:\\in\r\nagent_secret=S\r\n";
    SaveConfigText(pasted, false);
    const std::string expected =
        std::string(Bom) +
        "# pasted from the web\r\nserver_url=https://velmora.example\r\nagent_id=A\r\n"
        "scale_massak_dir=C:\\in\r\nagent_secret=S\r\nautostart=0\r\n";
    EXPECT_EQ(ReadFileText(IniPath()), expected);

    SaveConfigText(ReadConfigText(), false);
    EXPECT_EQ(ReadFileText(IniPath()), expected) << "saving the same text twice gives the same file";

    const TEgaissConfig loaded = LoadConfig();
    EXPECT_EQ(loaded.ServerURL, "https://velmora.example");
    EXPECT_TRUE(loaded.IsComplete());
    EXPECT_FALSE(loaded.AutoStart);
}

TEST_F(ConfigTest, SaveLeavesNoTemporaryFiles) {
    SaveConfigText("agent_secret=S", false);
    SaveConfigText("agent_secret=T", false);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FData.Path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"agent.ini"});
}

TEST_F(ConfigTest, MissingOrEmptyFileGivesDefaults) {
    EXPECT_EQ(ReadConfigText(), "");
    EXPECT_EQ(LoadConfig(), TEgaissConfig{});
    WriteFileText(IniPath(), Bom);
    EXPECT_EQ(LoadConfig(), TEgaissConfig{});
}

TEST_F(ConfigTest, AutostartEntryFollowsTheFlag) {
    SaveConfigText("server_url=https://s", true);
    EXPECT_EQ(platform::AutostartEntryCommand(), "\"" + platform::ExecutablePath() + "\"");

    TEgaissConfig cfg = LoadConfig();
    EXPECT_TRUE(cfg.AutoStart);
    cfg.AutoStart = false;
    ApplyAutostart(cfg);
    EXPECT_FALSE(platform::AutostartEntryCommand());
    ApplyAutostart(cfg);  // removing an absent entry is not an error
}

TEST_F(ConfigTest, CompleteLegacySectionIsRewrittenOnce) {
    // In the data folder or only in the legacy folder: the first read already converts it.
    for (const std::string& written : {IniPath(), FHome.File("appdata/VelmoraEgaiss/agent.ini")}) {
        SCOPED_TRACE(written);
        std::filesystem::remove(IniPath());
        WriteFileText(
            written,
            "[Agent]\r\nserver_url=http://velmora.example\r\nagent_id=A\r\nagent_secret=S\r\n"
            "utm_port=8081\r\npoll_seconds=10\r\nid_sklad=3\r\nautostart=1\r\n[other]\r\nagent_id=B\r\n");
        const TEgaissConfig cfg = LoadConfig();
        EXPECT_EQ(cfg.ServerURL, "https://velmora.example");
        EXPECT_EQ(cfg.AgentID, "A");
        EXPECT_EQ(cfg.UtmPort, 8081);
        EXPECT_EQ(cfg.PollSeconds, 300);
        EXPECT_EQ(cfg.IdSklad, 3);
        EXPECT_TRUE(cfg.AutoStart);
        const std::string rewritten = ReadFileText(IniPath());
        EXPECT_EQ(rewritten.rfind(std::string(Bom) + "# Velmora EGAIS agent settings\r\n", 0), 0u)
            << rewritten;
        EXPECT_EQ(rewritten.find("[agent]"), std::string::npos);
        EXPECT_NE(rewritten.find("autostart=1\r\n"), std::string::npos);
        EXPECT_TRUE(platform::AutostartEntryCommand());
    }
}

TEST_F(ConfigTest, IncompleteLegacySectionStaysAndIsStillRead) {
    const std::string legacy = "[agent]\nagent_id=A\nutm_port=9000\n";
    WriteFileText(IniPath(), legacy);
    const TEgaissConfig cfg = LoadConfig();
    EXPECT_EQ(cfg.AgentID, "A");
    EXPECT_EQ(cfg.UtmPort, 9000);
    EXPECT_EQ(ReadFileText(IniPath()), legacy);
}

TEST_F(ConfigTest, LegacyFolderFilesAreCopiedOnceAndNeverOverwrite) {
    const std::string legacyDir = FHome.File("appdata/VelmoraEgaiss");
    WriteFileText(legacyDir + "/agent.ini", "agent_id=old\n");
    WriteFileText(legacyDir + "/agent.log", "old log\n");
    EXPECT_EQ(LoadConfig().AgentID, "old");
    EXPECT_EQ(ReadFileText(FData.File("agent.log")), "old log\n");

    SaveConfigText("agent_id=new", false);
    EXPECT_EQ(LoadConfig().AgentID, "new");
    EXPECT_EQ(ReadFileText(legacyDir + "/agent.ini"), "agent_id=old\n") << "legacy files are never changed";
}

TEST(DataDirTest, OverrideIsScopedAndFolderIsCreated) {
    const std::string original = AgentDataDir();
    {
        TTempDir temp;
        const std::string nested = temp.File("a/b/");
        TDataDirOverride override(nested);
        EXPECT_EQ(AgentDataDir(), temp.File("a/b"));
        EXPECT_TRUE(std::filesystem::is_directory(nested));
        EXPECT_EQ(ConfigFilePath(), JoinPath(temp.File("a/b"), "agent.ini"));
    }
    EXPECT_EQ(AgentDataDir(), original);
}

}  // namespace
}  // namespace egaiss
