// Scales end to end: the real agent binary and the scale simulator of egaiss-sim on 127.0.0.2 and
// 127.0.0.3, port 5001 as in a shop; and the simulator's faults against the agent's protocol code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "scales/uMassaKDiscovery.h"
#include "scales/uMassaKFile.h"
#include "scales/uMassaKProto.h"
#include "scales/uPriceFile.h"
#include "support/uChildProcess.h"
#include "support/uSimScaleProcess.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

namespace fs = std::filesystem;
using test::TChildProcess;
using test::TSimScaleProcess;

constexpr int ScalePort = 5001;

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string TextOf(const std::string& path) {
    return fs::exists(path) ? test::ReadFileText(path) : std::string();
}

// The fixed addresses and port may serve one test at a time: tests of this file wait for each other.
class TSuiteLock {
public:
    TSuiteLock() : FFd(::open("/tmp/egaiss-scales-e2e.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666)) {
        if (FFd >= 0) ::flock(FFd, LOCK_EX);
    }
    ~TSuiteLock() {
        if (FFd >= 0) ::close(FFd);
    }
    TSuiteLock(const TSuiteLock&) = delete;
    TSuiteLock& operator=(const TSuiteLock&) = delete;

private:
    int FFd;
};

std::string PriceText(int rows) {
    std::string text = "PLU;NAME;PRICE;CODE;CONTENT;TYPE\r\n";
    for (int i = 1; i <= rows; ++i) {
        text += std::to_string(100 + i) + ";Сыр «Российский» №" + std::to_string(i) + ";" +
                std::to_string(i) + "9,90;C" + std::to_string(i) + ";молоко, соль, закваска;0\r\n";
    }
    return text;
}

class ScalesE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(FApp);
        fs::create_directories(FDrop);
        fs::copy_file(EGAISS_AGENT_EXE, FExe);
    }

    void WriteIni() const {
        test::WriteFileText((fs::path(FApp) / "agent.ini").string(),
                            "label=Shop\nmassa_enabled=1\nmassa_dir=" + FDrop +
                                "\nmassa_file=massa_k*.csv\nmassa_poll_seconds=1\nmassa_0=127.0.0.2:5001\n"
                                "massa_1=127.0.0.3:5001\n");
    }

    // Written aside and renamed in, as an ERP should, so that the agent never takes half a file.
    std::string DropPriceFile(int rows, TMassaPluRows& parsed) const {
        const std::string staged = FDir.File("staged.csv");
        test::WriteFileText(staged, PriceText(rows));
        std::string err;
        EXPECT_TRUE(LoadPriceFile(staged, parsed, err)) << err;
        EXPECT_EQ(parsed.size(), static_cast<std::size_t>(rows));
        const std::string path = (fs::path(FDrop) / "massa_k_0412.csv").string();
        fs::rename(staged, path);
        return path;
    }

    std::unique_ptr<TChildProcess> StartAgent() const {
        return std::make_unique<TChildProcess>(FExe, std::vector<std::string>{"--headless", "-noupdate"},
                                               FDir.File("agent.out"));
    }

    void StopAgent(TChildProcess& agent) const {
        agent.Signal(SIGTERM);
        const auto code = agent.Wait(std::chrono::seconds(20));
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(*code, 0) << agent.Output();
    }

    std::string Log() const { return TextOf((fs::path(FApp) / "agent.log").string()); }

    TSuiteLock FLock;
    test::TTempDir FDir;
    std::string FApp = FDir.File("app");
    std::string FDrop = FDir.File("drop");
    std::string FExe = (fs::path(FApp) / "VelmoraEgaissAgent").string();
};

TEST_F(ScalesE2ETest, TheHeadlessAgentLoadsADroppedFileIntoBothScalesAndRemovesIt) {
    TSimScaleProcess first(EGAISS_SIM_EXE, FDir, "127.0.0.2", ScalePort, "1001");
    TSimScaleProcess second(EGAISS_SIM_EXE, FDir, "127.0.0.3", ScalePort, "1002");
    ASSERT_EQ(first.Port(), ScalePort) << first.Output();
    ASSERT_EQ(second.Port(), ScalePort) << second.Output();
    WriteIni();
    const auto agent = StartAgent();

    TMassaPluRows rows;
    const std::string path = DropPriceFile(40, rows);
    ASSERT_TRUE(WaitUntil([&] { return !fs::exists(path); }, std::chrono::seconds(30))) << Log();
    ASSERT_TRUE(WaitUntil([&] { return Log().find("Scales auto-poll OK") != std::string::npos; },
                          std::chrono::seconds(10)))
        << Log();
    EXPECT_NE(Log().find("[INFO] Scales auto-poll OK: Loaded 40 PLU -> 2 scale(s), file removed"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(path + ".err"));
    for (const TSimScaleProcess* scale : {&first, &second}) {
        EXPECT_EQ(scale->Goods(), BuildGoodsFile(rows)) << scale->Output();
        EXPECT_EQ(scale->Plu(), BuildPluFile(rows)) << scale->Output();
    }
    StopAgent(*agent);
}

TEST_F(ScalesE2ETest, WithTheSecondScaleDownTheFileGetsItsErrorCompanion) {
    TSimScaleProcess first(EGAISS_SIM_EXE, FDir, "127.0.0.2", ScalePort, "1001");
    ASSERT_EQ(first.Port(), ScalePort) << first.Output();
    WriteIni();
    const auto agent = StartAgent();

    TMassaPluRows rows;
    const std::string path = DropPriceFile(3, rows);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(path + ".err"); }, std::chrono::seconds(30))) << Log();
    const std::string companion = test::ReadFileText(path + ".err");
    EXPECT_EQ(companion.rfind("\xEF\xBB\xBF", 0), 0u);
    EXPECT_EQ(companion.substr(companion.find("\r\n")), "\r\n127.0.0.3:5001 - Connect failed");
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(first.Goods(), BuildGoodsFile(rows)) << "the scale that answered has its tables";
    ASSERT_TRUE(WaitUntil([&] { return Log().find("Scales auto-poll:") != std::string::npos; },
                          std::chrono::seconds(10)));
    EXPECT_NE(Log().find("[ERR] Scales auto-poll: 127.0.0.3:5001 - Connect failed"), std::string::npos);
    StopAgent(*agent);
}

TEST_F(ScalesE2ETest, ScalesFindListsTheSimulatedScalesWithTheirSerials) {
    TSimScaleProcess first(EGAISS_SIM_EXE, FDir, "127.0.0.2", ScalePort, "1001");
    TSimScaleProcess second(EGAISS_SIM_EXE, FDir, "127.0.0.3", ScalePort, "4294967295");
    ASSERT_EQ(first.Port(), ScalePort) << first.Output();
    ASSERT_EQ(second.Port(), ScalePort) << second.Output();

    const test::TRunResult run = test::RunProgram(
        FExe, {"scales-find", "--subnet", "127.0.0.0/24", "--port", "5001", "--timeout-ms", "1000"});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    // Listed as the answers arrive, which is in any order.
    std::vector<std::string> found = SplitTextLines(run.Output);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"127.0.0.2:5001:1001", "127.0.0.3:5001:4294967295"}));
}

// The simulator's faults, met by the agent's own protocol code.
class ScaleSimFaultsTest : public ::testing::Test {
protected:
    // Loads a 40-product table pair (several goods parts, one PLU part) into a scale with `faults`.
    bool Upload(const std::vector<std::string>& faults, std::string& err, TSimScaleProcess** used = nullptr) {
        FScale = std::make_unique<TSimScaleProcess>(EGAISS_SIM_EXE, FDir, "127.0.0.2", 0, "77", faults);
        EXPECT_NE(FScale->Port(), 0) << FScale->Output();
        if (used != nullptr) *used = FScale.get();
        err.clear();
        return UploadToMassaScale("127.0.0.2", FScale->Port(), Goods(), Plu(), err, {2000, 400, 400});
    }

    static TMassaPluRows Rows() {
        TMassaPluRows rows;
        std::string err;
        EXPECT_TRUE(ParsePluCsv(PriceText(40), rows, err)) << err;
        return rows;
    }
    TBytes Goods() const { return BuildGoodsFile(FRows); }
    TBytes Plu() const { return BuildPluFile(FRows); }

    test::TTempDataDir FDir;  // the protocol code logs here
    TMassaPluRows FRows = Rows();
    std::unique_ptr<TSimScaleProcess> FScale;
};

TEST_F(ScaleSimFaultsTest, WrongAnswersAndRejectedPartsFailTheLoadWithTheirTexts) {
    ASSERT_GT(Goods().size(), 2 * MassaPartSize);
    std::string err;
    EXPECT_FALSE(Upload({"--answer", "work-mode=0x52"}, err));
    EXPECT_EQ(err, "SET_WORK_MODE 0x52");
    EXPECT_FALSE(Upload({"--answer", "reset=0x40"}, err));
    EXPECT_EQ(err, "RESET_FILES 0x40");
    EXPECT_FALSE(Upload({"--answer-part", "goods:2=0x44"}, err));
    EXPECT_EQ(err, "BAD_DFILE_SIZE");
    TSimScaleProcess* scale = nullptr;
    EXPECT_FALSE(Upload({"--answer-part", "plu:1=0x43"}, err, &scale));
    EXPECT_EQ(err, "BAD_DFILE");
    EXPECT_EQ(scale->Goods(), Goods()) << "the goods table went in before the PLU table failed";
    EXPECT_FALSE(Upload({"--answer", "dfile=0x45"}, err));
    EXPECT_EQ(err, "DFILE resp 0x45");
}

TEST_F(ScaleSimFaultsTest, SilenceAndBrokenChecksumsEndInBoundedTimeouts) {
    std::string err;
    EXPECT_FALSE(Upload({"--silent", "reset"}, err));
    EXPECT_EQ(err, "RESET_FILES timeout");
    EXPECT_FALSE(Upload({"--silent", "dfile"}, err));
    EXPECT_EQ(err,
              "DFILE timeout part 1/" + std::to_string((Goods().size() + MassaPartSize - 1) / MassaPartSize));
    EXPECT_FALSE(Upload({"--bad-crc", "work-mode"}, err));
    EXPECT_EQ(err, "SET_WORK_MODE timeout");
    EXPECT_NE(ReadLogTail(200).find("[ERR] Scales RX parse fail need=8 hex=[F8 55 CE 01 00 51"),
              std::string::npos);
}

TEST_F(ScaleSimFaultsTest, SplitAndNoisyAnswersStillLoadTheTables) {
    std::string err;
    TSimScaleProcess* scale = nullptr;
    ASSERT_TRUE(Upload({"--split", "--noise", "2"}, err, &scale)) << err;
    EXPECT_EQ(scale->Goods(), Goods());
    EXPECT_EQ(scale->Plu(), Plu());
    EXPECT_EQ(ReadLogTail(200).find("[ERR]"), std::string::npos) << "noise before a frame is skipped quietly";
}

TEST_F(ScaleSimFaultsTest, TheSearchIgnoresSilentOrBrokenProbeAnswers) {
    const auto search = [&](const std::vector<std::string>& faults) {
        FScale = std::make_unique<TSimScaleProcess>(EGAISS_SIM_EXE, FDir, "127.0.0.2", 0, "4242", faults);
        TMassaDiscoveryParams params;
        params.Port = FScale->Port();
        params.TimeoutMs = 100;
        params.MinListenMs = 200;
        params.BroadcastWaitMs = params.SubnetBroadcastWaitMs = params.AfterScanWaitMs = 50;
        params.Subnets = std::vector<TLocalSubnet>{TLocalSubnet::Of(0x7F000002, 0xFFFFFFFF)};
        params.LimitedBroadcast = 0x7F000002;
        params.LocalAddress = platform::IPv4Loopback;
        const std::atomic<bool> cancel{false};
        return DiscoverMassaScales(params, cancel, {}, {});
    };
    const std::vector<TMassaDevice> found = search({});
    EXPECT_EQ(found, (std::vector<TMassaDevice>{{"127.0.0.2", FScale->Port(), "4242"}}));
    EXPECT_TRUE(search({"--silent", "probe"}).empty());
    EXPECT_TRUE(search({"--bad-crc", "probe"}).empty());
    EXPECT_TRUE(search({"--answer", "probe=0x02"}).empty());
}

}  // namespace
}  // namespace egaiss
