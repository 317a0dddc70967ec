#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "core/uEgaissLog.h"
#include "platform/uPath.h"
#include "scales/uMassaKFile.h"
#include "scales/uMassaKProto.h"
#include "scales/uPriceFile.h"
#include "scales/uVesiFolderWatch.h"
#include "support/uFakeMassaScale.h"
#include "support/uLoopbackPorts.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

namespace fs = std::filesystem;
using test::TFakeMassaTcpScale;
using test::TFakeReply;

const TMassaTimeouts ShortTimeouts{1000, 300, 300};
const std::string Header =
    "PLU;TYPE;X;Y;BARCODE_PREFIX;PRICE;TARE;CODE;BEST_BEFORE;SHELF_LIFE;CERTIFICATE;GROUP;"
    "CENTERING;NAME;CONTENT\r\n";

std::string PriceText(int rows) {
    std::string text = Header;
    for (int i = 1; i <= rows; ++i) {
        text += std::to_string(i) + ";0;;;;" + std::to_string(i) + ",50;;;;;;;;Product " + std::to_string(i) +
                ";Ingredients of " + std::to_string(i) + "\r\n";
    }
    return text;
}

TBytes Answer(std::uint8_t code) {
    return BuildMassaFrame(code);
}

// A scale that accepts everything; `quirk` may answer a request otherwise (true when it did).
test::TFakeMassaHandler Scale(std::function<bool(const TBytes&, TFakeReply&)> quirk = {}) {
    return [quirk](const TBytes& request, std::size_t) {
        TFakeReply reply;
        if (quirk && quirk(request, reply)) return reply;
        const std::uint8_t command = request[5];
        reply.Chunks = {Answer(command == 0x91 ? 0x51 : command == 0x81 ? 0x41 : 0x42)};
        return reply;
    };
}

// The table file a fake scale received, put together from its DFILE parts.
TBytes Received(const TFakeMassaTcpScale& scale, int fileCode) {
    TBytes file;
    for (const TBytes& request : scale.Requests()) {
        std::uint8_t command = 0;
        TBytes data;
        if (ParseMassaFrame(request, command, data) && command == 0x82 && data[0] == fileCode) {
            file.insert(file.end(), data.begin() + 7, data.end());
        }
    }
    return file;
}

TScaleEndpoint Loopback(int port, bool enabled = true) {
    return {"127.0.0.1", port, "", enabled};
}

class VesiFolderWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = JoinPath(FData.Path(), "vesi");
        fs::create_directories(FDir);
        FBrand.Enabled = true;
        FBrand.VesiDir = FDir;
        FBrand.ExpectFile = "massa_k*.csv";
    }

    std::string Drop(const std::string& name, const std::string& text, int minutesAgo = 0) {
        const std::string path = JoinPath(FDir, name);
        test::WriteFileText(path, text);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(minutesAgo));
        return path;
    }

    TScalesConfig Config() const {
        TScalesConfig cfg;
        cfg.Brands[sbMassaK] = FBrand;
        return cfg;
    }

    static std::string Log() { return ReadLogTail(2000); }
    static bool Logged(const std::string& line) { return Log().find(line) != std::string::npos; }

    test::TTempDataDir FData;
    std::string FDir;
    TScaleBrandConfig FBrand;
};

TEST(VesiHostsSummary, ListsEnabledHostsQuotingOddOnes) {
    TScaleBrandConfig brand;
    EXPECT_EQ(HostsSummary(brand), "hosts=0");
    brand.Scales = {{"10.0.0.7", 5001, "", true},
                    {"10.0.0.8", 5002, "", false},
                    {"  ", 5001, "", true},
                    {"scale one", 5001, "", true},
                    {"a\"b", 1, "", true}};
    EXPECT_EQ(HostsSummary(brand), "hosts=3 [10.0.0.7:5001,\"scale one:5001\",\"a\"\"b:1\"]");
}

TEST_F(VesiFolderWatchTest, PendingFileIsTheOldestMatchWithoutCompanion) {
    Drop("massa_k_b.csv", "b", 5);
    Drop("MASSA_K_A.CSV", "a", 10);
    Drop("massa_k_c.csv", "c", 20);
    Drop("massa_k_c.csv.err", "reason");
    Drop("massa_k.csv.err", "orphan companion");
    Drop("prices.txt", "other");
    fs::create_directories(JoinPath(FDir, "massa_k_dir.csv"));

    const TPendingScan scan = FindPendingFile(FDir, "massa_k*.csv");
    EXPECT_EQ(scan.Path, JoinPath(FDir, "MASSA_K_A.CSV"));
    EXPECT_EQ(scan.Summary, "match=2 err_skip=1 other=1");
    EXPECT_EQ(scan.Skipped, 1);

    EXPECT_EQ(FindPendingFile(FDir, "nothing*.csv").Path, "");
    EXPECT_EQ(FindPendingFile(JoinPath(FDir, "absent"), "*.csv").Summary, "dir missing");
}

TEST_F(VesiFolderWatchTest, LoadsEveryEnabledScaleAndRemovesTheFile) {
    TFakeMassaTcpScale first(Scale());
    TFakeMassaTcpScale second(Scale());
    FBrand.Scales = {Loopback(first.Port()), {"127.0.0.9", 5001, "", false}, Loopback(second.Port())};
    const std::string path = Drop("massa_k_1.csv", PriceText(120));
    TMassaPluRows rows;
    std::string err;
    ASSERT_TRUE(LoadPriceFile(path, rows, err)) << err;

    TVesiLoadResult result;
    ASSERT_TRUE(PollScalesFolders(Config(), false, result, ShortTimeouts));
    EXPECT_TRUE(result.Ok);
    EXPECT_EQ(result.Message, "Loaded 120 PLU -> 2 scale(s), file removed");
    EXPECT_EQ(result.FileName, "massa_k_1.csv");
    EXPECT_FALSE(fs::exists(path));
    for (const TFakeMassaTcpScale* scale : {&first, &second}) {
        EXPECT_EQ(Received(*scale, 1), BuildGoodsFile(rows));
        EXPECT_EQ(Received(*scale, 5), BuildPluFile(rows));
    }

    const std::string goods = std::to_string(BuildGoodsFile(rows).size());
    const std::string hosts = "hosts=2 [127.0.0.1:" + std::to_string(first.Port()) +
                              ",127.0.0.1:" + std::to_string(second.Port()) + "]";
    for (const std::string& line : std::vector<std::string>{
             "[INFO] Scales Масса-К: dir=" + FDir + " expect=massa_k*.csv enabled=True force=False; " + hosts,
             "[STEP] Scales.scan | " + FDir + " | match=1 err_skip=0 other=0",
             "[INFO] Scales pending file: " + path,
             "[STEP] Scales.parse | " + path,
             "[INFO] Scales Massa-K file=massa_k_1.csv PLU=120 goods=" + goods +
                 " bytes plu=" + std::to_string(14 + 120 * 25) + " bytes; " + hosts,
             "[STEP] Scales.upload | 127.0.0.1:" + std::to_string(first.Port()) + " (1/3)",
             "[INFO] Scales skip disabled 127.0.0.9",
             "[STEP] Scales.upload | 127.0.0.1:" + std::to_string(second.Port()) + " (2/3)",
             "[INFO] Scales OK 127.0.0.1:" + std::to_string(second.Port()),
             "[STEP] Scales.delete | " + path,
             std::string("[INFO] Scales SUCCESS: Loaded 120 PLU -> 2 scale(s), file removed"),
         }) {
        EXPECT_TRUE(Logged(line)) << line;
    }
    EXPECT_FALSE(Logged("LOAD NOW")) << "the automatic poll is not a manual load";
}

TEST_F(VesiFolderWatchTest, AFailedScaleMarksTheFileWithItsErrorAndTheNextPollSkipsIt) {
    TFakeMassaTcpScale first(Scale());
    const int down = test::RefusedLoopbackPort();
    FBrand.Scales = {Loopback(first.Port()), Loopback(down)};
    const std::string path = Drop("massa_k_1.csv", PriceText(3));

    TVesiLoadResult result;
    EXPECT_FALSE(PollScalesFolders(Config(), false, result, ShortTimeouts));
    const std::string reason = "127.0.0.1:" + std::to_string(down) + " - Connect failed";
    EXPECT_EQ(result.Message, reason);
    EXPECT_EQ(result.FileName, "massa_k_1.csv");
    EXPECT_TRUE(fs::exists(path)) << "the file stays for somebody to look at";
    EXPECT_FALSE(Received(first, 5).empty()) << "the scale that worked keeps its new tables";

    const std::string companion = test::ReadFileText(path + ".err");
    EXPECT_EQ(companion.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_TRUE(std::regex_match(companion.substr(3),
                                 std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\r\n(.*)")));
    EXPECT_EQ(companion.substr(companion.find('\n') + 1), reason);
    EXPECT_EQ(std::distance(fs::directory_iterator(FDir), fs::directory_iterator()), 2)
        << "no temporary left";
    EXPECT_TRUE(Logged("[ERR] Scales FAIL " + reason));
    EXPECT_TRUE(Logged("[ERR] Scales load partial/fail: ok=1 tried=2"));
    EXPECT_TRUE(Logged("[INFO] Scales marked error file: massa_k_1.csv.err"));

    // A manual load now finds nothing and says why.
    EXPECT_FALSE(PollScalesFolders(Config(), true, result, ShortTimeouts));
    EXPECT_EQ(result.Message, "No file to load (massa_k*.csv) in " + FDir);
    EXPECT_EQ(result.FileName, "");
    EXPECT_TRUE(Logged("[STEP] Scales.scan | " + FDir + " | match=0 err_skip=1 other=0"));
    EXPECT_TRUE(Logged("[INFO] Scales: 1 file(s) skipped (*.err) - remove .err to retry"));
    EXPECT_TRUE(Logged("[INFO] Scales: no pending file for Масса-К"));
    EXPECT_TRUE(Logged("[INFO] Scales LOAD NOW result: No file to load (massa_k*.csv) in " + FDir));
    EXPECT_EQ(first.Connections(), 1u);
}

TEST_F(VesiFolderWatchTest, TheLastFailedScaleNamesTheErrorAndSilenceIsBounded) {
    TFakeMassaTcpScale silent([](const TBytes&, std::size_t) { return TFakeReply{}; });
    TFakeMassaTcpScale badSize(Scale([](const TBytes& request, TFakeReply& reply) {
        if (request[5] != 0x82) return false;
        reply.Chunks = {Answer(0x44)};
        return true;
    }));
    FBrand.Scales = {Loopback(silent.Port()), Loopback(badSize.Port())};
    const std::string path = Drop("massa_k_1.csv", PriceText(2));

    TVesiLoadResult result;
    EXPECT_FALSE(LoadFileIntoScales(path, FBrand, result, ShortTimeouts));
    EXPECT_EQ(result.Message, "127.0.0.1:" + std::to_string(badSize.Port()) + " - BAD_DFILE_SIZE");
    EXPECT_TRUE(
        Logged("[ERR] Scales FAIL 127.0.0.1:" + std::to_string(silent.Port()) + " - SET_WORK_MODE timeout"));
    EXPECT_TRUE(Logged("[ERR] Scales load partial/fail: ok=0 tried=2"));
    EXPECT_NE(test::ReadFileText(path + ".err").find("\r\n" + result.Message), std::string::npos);
}

TEST_F(VesiFolderWatchTest, AnUnreadableFileIsMarkedWithoutTouchingTheScales) {
    TFakeMassaTcpScale scale(Scale());
    FBrand.Scales = {Loopback(scale.Port())};
    const std::string path = Drop("massa_k_1.csv", "NAME;PRICE\r\nx;1\r\n");

    TVesiLoadResult result;
    EXPECT_FALSE(PollScalesFolders(Config(), false, result, ShortTimeouts));
    const std::string message = "Parse: CSV: expected header starting with PLU;TYPE;...";
    EXPECT_EQ(result.Message, message);
    EXPECT_EQ(scale.Connections(), 0u);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_NE(test::ReadFileText(path + ".err").find("\r\n" + message), std::string::npos);
    EXPECT_TRUE(Logged("[ERR] Scales parse failed: " + message));

    EXPECT_FALSE(PollScalesFolders(Config(), false, result, ShortTimeouts));
    EXPECT_EQ(result.FileName, "") << "the marked file is not taken again";
}

TEST_F(VesiFolderWatchTest, WithoutAnEnabledScaleTheFileStaysUnmarked) {
    FBrand.Scales = {{"127.0.0.5", 5001, "", false}, {"", 5001, "", true}};
    const std::string path = Drop("massa_k_1.csv", PriceText(1));

    TVesiLoadResult result;
    EXPECT_FALSE(LoadFileIntoScales(path, FBrand, result, ShortTimeouts));
    EXPECT_EQ(result.Message, "No enabled scales to upload");
    EXPECT_TRUE(fs::exists(path));
    EXPECT_FALSE(fs::exists(path + ".err"));
    EXPECT_TRUE(Logged("[INFO] Scales skip disabled 127.0.0.5"));
    EXPECT_TRUE(Logged("[ERR] Scales: no enabled hosts to upload"));
}

TEST_F(VesiFolderWatchTest, AFileThatCannotBeRemovedIsLoadedAgainNextTime) {
    std::string path;
    // While the scale loads, the price file's name comes to stand for a folder that cannot go.
    TFakeMassaTcpScale scale(Scale([&](const TBytes& request, TFakeReply&) {
        if (request[5] == 0x91) {
            fs::remove(path);
            fs::create_directories(JoinPath(path, "inside"));
        }
        return false;
    }));
    FBrand.Scales = {Loopback(scale.Port())};
    path = Drop("massa_k_1.csv", PriceText(1));

    TVesiLoadResult result;
    EXPECT_FALSE(LoadFileIntoScales(path, FBrand, result, ShortTimeouts));
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Message.rfind("Loaded but delete failed: ", 0), 0u) << result.Message;
    EXPECT_GT(result.Message.size(), std::string("Loaded but delete failed: ").size());
    EXPECT_TRUE(Logged("[ERR] " + result.Message));
    EXPECT_FALSE(fs::exists(path + ".err"));
}

TEST_F(VesiFolderWatchTest, FilesAreLoadedOnePerPollOldestFirst) {
    TFakeMassaTcpScale scale(Scale());
    FBrand.Scales = {Loopback(scale.Port())};
    const std::string later = Drop("massa_k_1005.csv", PriceText(2), 5);
    const std::string earlier = Drop("massa_k_1000.csv", PriceText(1), 10);

    TVesiLoadResult result;
    ASSERT_TRUE(PollScalesFolders(Config(), false, result, ShortTimeouts));
    EXPECT_EQ(result.FileName, "massa_k_1000.csv");
    EXPECT_FALSE(fs::exists(earlier));
    EXPECT_TRUE(fs::exists(later));
    ASSERT_TRUE(PollScalesFolders(Config(), false, result, ShortTimeouts));
    EXPECT_EQ(result.Message, "Loaded 2 PLU -> 1 scale(s), file removed");
    EXPECT_FALSE(fs::exists(later));
}

TEST_F(VesiFolderWatchTest, AnAutomaticPollWithNothingToDoLeavesNoTrace) {
    FBrand.Scales = {Loopback(test::RefusedLoopbackPort())};
    Drop("prices.txt", "not for the scales");
    TVesiLoadResult result;
    EXPECT_FALSE(PollScalesFolders(Config(), false, result, ShortTimeouts));
    EXPECT_EQ(result.Message, "No file to load (massa_k*.csv) in " + FDir);
    EXPECT_EQ(result.FileName, "");
    EXPECT_EQ(Log().find("Scales"), std::string::npos) << Log();
}

TEST_F(VesiFolderWatchTest, AMissingFolderIsCreatedAtTheFirstPoll) {
    FBrand.VesiDir = JoinPath(FData.Path(), "new/deeper/vesi");
    FBrand.Scales = {Loopback(test::RefusedLoopbackPort())};
    TVesiLoadResult result;
    EXPECT_FALSE(PollScalesFolders(Config(), false, result, ShortTimeouts));
    EXPECT_TRUE(fs::is_directory(FBrand.VesiDir));
    EXPECT_TRUE(Logged("[INFO] Scales create folder " + FBrand.VesiDir));
}

TEST_F(VesiFolderWatchTest, AManualLoadExplainsWhatIsMissing) {
    TVesiLoadResult result;
    EXPECT_FALSE(PollScalesFolders(Config(), true, result));
    EXPECT_EQ(result.Message, "Add or find scales on the network.");
    EXPECT_TRUE(Logged("[INFO] Scales LOAD NOW started"));
    EXPECT_TRUE(Logged("[INFO] Scales skip Масса-К: Add or find scales on the network."));
    EXPECT_TRUE(Logged("[ERR] Scales inactive: Add or find scales on the network."));

    FBrand.Scales = {Loopback(1)};
    FBrand.Enabled = false;
    EXPECT_FALSE(PollScalesFolders(Config(), false, result));
    EXPECT_EQ(result.Message, "Enable brand checkbox or use Load now.");

    EXPECT_FALSE(PollBrandFolder(sbShtrih, FBrand, true, result));
    EXPECT_EQ(result.Message, "Штрих: protocol not implemented yet");
    EXPECT_TRUE(Logged("[ERR] Штрих: protocol not implemented yet"));
    FBrand.Scales.clear();
    EXPECT_FALSE(PollBrandFolder(sbMassaK, FBrand, true, result));
    EXPECT_TRUE(Logged("[ERR] Scales Масса-К: Add or find scales on the network."));
}

TEST_F(VesiFolderWatchTest, MarkErrorFileReplacesTheCompanionOrReportsWhyNot) {
    const std::string path = Drop("massa_k_1.csv", "x");
    Drop("massa_k_1.csv.err", "old reason");
    EXPECT_TRUE(MarkErrorFile(path, "Новая причина"));
    const std::string text = test::ReadFileText(path + ".err");
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(text.substr(text.size() - std::string("\r\nНовая причина").size()), "\r\nНовая причина");

    const std::string blocked = JoinPath(path, "inner.csv");  // its folder is a file
    EXPECT_FALSE(MarkErrorFile(blocked, "reason"));
    EXPECT_TRUE(Logged("[ERR] Scales mark .err failed: "));
}

}  // namespace
}  // namespace egaiss
