// The scales-load and scales-find commands in process, against fake scales on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "app/uCommandLine.h"
#include "platform/uErrors.h"
#include "platform/uPath.h"
#include "scales/uMassaKProto.h"
#include "support/uFakeMassaScale.h"
#include "support/uTestDirs.h"
#include "support/uWine.h"

namespace egaiss {
namespace {

using ::testing::ElementsAre;

struct TRun {
    int ExitCode = 0;
    std::string Out;
    std::string Err;
};

TRun RunCommand(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunSupportCommand(ParseCommandLine(args), out, err);
    return {code, out.str(), err.str()};
}

TBytes ProbeAnswer(std::size_t dataSize) {
    TBytes data(dataSize, 0);
    const std::uint8_t serial[] = {0x4E, 0x61, 0xBC, 0x00};  // 12345678
    for (std::size_t i = 0; i < 4 && 5 + i < data.size(); ++i)
        data[5 + i] = serial[i];
    return BuildMassaFrame(0x01, data);
}

TEST(ScalesCommandLine, ScalesFindKeepsItsOptionsForItself) {
    const TCommandLine find =
        ParseCommandLine({"scales-find", "--subnet", "127.0.0.0/24", "-noupdate", "--port", "5"});
    EXPECT_EQ(find.Mode, TRunMode::rmScalesFind);
    EXPECT_TRUE(find.NoUpdate);
    EXPECT_THAT(find.CommandArgs, ElementsAre("--subnet", "127.0.0.0/24", "--port", "5"));

    EXPECT_EQ(ParseCommandLine({"scales-load"}).Mode, TRunMode::rmScalesLoad);
    EXPECT_EQ(ParseCommandLine({"scales-load", "--port", "5"}).Error, "unknown argument: --port");
    EXPECT_EQ(ParseCommandLine({"--port", "5", "scales-find"}).Mode, TRunMode::rmInvalid);
}

TEST(ScalesCommandLine, ScalesFindRejectsBadOptions) {
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--subnet", "127.0.0.0/33"}, "--subnet: expected a.b.c.d/n, got '127.0.0.0/33'"},
             {{"--subnet", "localhost"}, "--subnet: expected a.b.c.d/n, got 'localhost'"},
             {{"--port", "0"}, "--port: expected 1..65535, got '0'"},
             {{"--timeout-ms=-1"}, "--timeout-ms: expected 0..600000, got '-1'"},
             {{"--subnet"}, "--subnet needs a value"},
             {{"--fast"}, "scales-find: unknown option: --fast"},
         }) {
        std::vector<std::string> all = {"scales-find"};
        all.insert(all.end(), args.begin(), args.end());
        const TRun run = RunCommand(all);
        EXPECT_EQ(run.ExitCode, ExitUsage) << message;
        EXPECT_EQ(run.Err, "VelmoraEgaissAgent: " + message + "\n");
        EXPECT_EQ(run.Out, "");
    }
}

TEST(ScalesCommandLine, ScalesFindListsTheScalesOfTheGivenSubnet) {
    if (test::RunningUnderWine()) GTEST_SKIP() << test::WineUdpLoopbackBug;
    // Two fakes on one port number, as scales share 5001.
    std::vector<std::unique_ptr<test::TFakeMassaUdpScale>> fakes;
    for (int attempt = 0; attempt < 20 && fakes.size() < 2; ++attempt) {
        fakes.clear();
        try {
            fakes.push_back(std::make_unique<test::TFakeMassaUdpScale>(0x7F000002u, std::uint16_t{0},
                                                                       std::vector<TBytes>{ProbeAnswer(22)}));
            fakes.push_back(std::make_unique<test::TFakeMassaUdpScale>(0x7F000003u, fakes[0]->Port(),
                                                                       std::vector<TBytes>{ProbeAnswer(21)}));
        } catch (const ETransportError&) {
        }
    }
    ASSERT_EQ(fakes.size(), 2u);
    const std::string port = std::to_string(fakes[0]->Port());

    const TRun run =
        RunCommand({"scales-find", "--subnet", "127.0.0.0/24", "--port", port, "--timeout-ms", "1000"});
    EXPECT_EQ(run.ExitCode, ExitOk) << run.Err;
    // Listed as the answers arrive: on a loaded machine the second may come first.
    const std::string first = "127.0.0.2:" + port + ":12345678\n";
    const std::string second = "127.0.0.3:" + port + "\n";
    EXPECT_TRUE(run.Out == first + second || run.Out == second + first) << run.Out;
    // Each heard only its own probe: the opening probe went to the subnet's broadcast address.
    EXPECT_EQ(fakes[0]->Received().size(), 1u);
    EXPECT_EQ(fakes[1]->Received().size(), 1u);

    const TRun none =
        RunCommand({"scales-find", "--subnet=127.0.0.4/32", "--port=" + port, "--timeout-ms=0"});
    EXPECT_EQ(none.ExitCode, ExitFailed);
    EXPECT_EQ(none.Out, "");
}

TEST(ScalesCommandLine, ScalesLoadPrintsTheResultOfALoadNow) {
    test::TTempDataDir data;
    const std::string drop = JoinPath(data.Path(), "vesi");
    std::filesystem::create_directories(drop);
    EXPECT_EQ(RunCommand({"scales-load"}).Out, "Add or find scales on the network.\n");

    test::TFakeMassaTcpScale scale([](const TBytes& request, std::size_t) {
        const std::uint8_t command = request[5];
        return test::TFakeReply{{BuildMassaFrame(command == 0x91   ? 0x51
                                                 : command == 0x81 ? 0x41
                                                                   : 0x42)},
                                false};
    });
    test::WriteFileText(data.File("agent.ini"),
                        "massa_dir=" + drop + "\nmassa_0=127.0.0.1:" + std::to_string(scale.Port()) + "\n");
    test::WriteFileText(JoinPath(drop, "massa_k_7.csv"), "PLU;TYPE\r\n7;0;;;;1,00\r\n");

    const TRun loaded = RunCommand({"scales-load"});
    EXPECT_EQ(loaded.ExitCode, ExitOk);
    EXPECT_EQ(loaded.Out, "Loaded 1 PLU -> 1 scale(s), file removed\n");
    const TRun again = RunCommand({"scales-load"});
    EXPECT_EQ(again.ExitCode, ExitFailed);
    EXPECT_EQ(again.Out, "No file to load (massa_k*.csv) in " + drop + "\n");
}

}  // namespace
}  // namespace egaiss
