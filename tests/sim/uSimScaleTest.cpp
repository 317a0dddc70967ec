// The scale simulator in process, spoken to with the exact bytes of the scale protocol.
#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "platform/uSockets.h"
#include "uSimOptions.h"
#include "uSimScale.h"

namespace egaiss::sim {
namespace {

using TBytes = std::vector<std::uint8_t>;

const TBytes SetWorkMode = {0xF8, 0x55, 0xCE, 0x02, 0x00, 0x91, 0x04, 0x04, 0x91};
const TBytes ResetFiles = {0xF8, 0x55, 0xCE, 0x05, 0x00, 0x81, 0x11, 0x00, 0x00, 0x00, 0x28, 0x3C};

TBytes Ack(std::uint8_t code) {
    return {0xF8, 0x55, 0xCE, 0x01, 0x00, code, code, 0x00};
}

// The checksum of the frame format: polynomial 0x1021, start 0, bytes entering at the low end.
std::uint16_t Crc(const TBytes& body) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : body) {
        std::uint16_t top = crc & 0xFF00, acc = 0;
        for (int bit = 0; bit < 8; ++bit) {
            acc = ((top ^ acc) & 0x8000) ? static_cast<std::uint16_t>((acc << 1) ^ 0x1021)
                                         : static_cast<std::uint16_t>(acc << 1);
            top = static_cast<std::uint16_t>(top << 1);
        }
        crc = static_cast<std::uint16_t>(acc ^ (crc << 8) ^ byte);
    }
    return crc;
}

// One DFILE frame: file code, part count, part number and the part's bytes.
TBytes Part(std::uint8_t file, std::uint16_t total, std::uint16_t number, const TBytes& bytes,
            int claimed = -1) {
    const std::size_t count = claimed < 0 ? bytes.size() : static_cast<std::size_t>(claimed);
    TBytes body = {0x82,
                   file,
                   static_cast<std::uint8_t>(total),
                   static_cast<std::uint8_t>(total >> 8),
                   static_cast<std::uint8_t>(number),
                   static_cast<std::uint8_t>(number >> 8),
                   static_cast<std::uint8_t>(count),
                   static_cast<std::uint8_t>(count >> 8)};
    body.insert(body.end(), bytes.begin(), bytes.end());
    TBytes frame = {0xF8, 0x55, 0xCE, static_cast<std::uint8_t>(body.size()),
                    static_cast<std::uint8_t>(body.size() >> 8)};
    frame.insert(frame.end(), body.begin(), body.end());
    const std::uint16_t crc = Crc(body);
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

class TClient {
public:
    explicit TClient(int port) {
        EXPECT_TRUE(FSocket.Connect({platform::IPv4Loopback, static_cast<std::uint16_t>(port)}, 2000).Ok());
    }
    // Sends a request and reads `size` answer bytes (empty on silence).
    TBytes Exchange(const TBytes& request, std::size_t size = 8) {
        EXPECT_TRUE(FSocket.SendAll(request, 2000).Ok());
        TBytes answer;
        std::array<std::uint8_t, 64> chunk{};
        while (answer.size() < size) {
            const auto got = FSocket.Receive(chunk, 300);
            if (!got.Ok()) break;
            answer.insert(answer.end(), chunk.begin(),
                          chunk.begin() + static_cast<std::ptrdiff_t>(got.Bytes));
        }
        return answer;
    }

private:
    platform::TTcpConnection FSocket;
};

TEST(SimScale, LoadsTablesPartByPartAndChecksEveryPart) {
    TScaleSettings settings;
    settings.Quiet = true;
    TSimScale scale(settings);
    const int port = scale.Bind(0);
    scale.Start();
    TClient client(port);
    EXPECT_EQ(client.Exchange(SetWorkMode), Ack(0x51));
    EXPECT_EQ(client.Exchange(ResetFiles), Ack(0x41));

    const TBytes first(1024, 0x31);
    const TBytes last = {1, 2, 3};
    EXPECT_EQ(client.Exchange(Part(1, 2, 1, first)), Ack(0x42));
    EXPECT_EQ(client.Exchange(Part(1, 2, 1, last)), Ack(0x44)) << "only the last part may be short";
    EXPECT_EQ(client.Exchange(Part(1, 2, 1, first)), Ack(0x42));
    EXPECT_EQ(client.Exchange(Part(1, 2, 2, last, 4)), Ack(0x44)) << "the count must match the bytes";
    EXPECT_EQ(client.Exchange(Part(1, 3, 2, first)), Ack(0x43)) << "the part count changed";
    EXPECT_EQ(client.Exchange(Part(9, 1, 1, last)), Ack(0x43)) << "no such file";

    EXPECT_EQ(client.Exchange(Part(1, 2, 1, first)), Ack(0x42));
    EXPECT_EQ(client.Exchange(Part(1, 2, 2, last)), Ack(0x42));
    EXPECT_EQ(client.Exchange(Part(5, 1, 1, last)), Ack(0x42));
    TBytes goods = first;
    goods.insert(goods.end(), last.begin(), last.end());
    const TScaleTables tables = scale.Tables();
    EXPECT_EQ(tables.Goods, goods);
    EXPECT_EQ(tables.Plu, last);
    EXPECT_EQ(tables.Resets, 1);
}

TEST(SimScale, AnswersTheSearchProbeWithItsSerial) {
    TScaleSettings settings;
    settings.Quiet = true;
    settings.Serial = 12345678;
    TSimScale scale(settings);
    const int port = scale.Bind(0);
    scale.Start();
    platform::TUdpSocket socket;
    socket.Bind({platform::IPv4Loopback, 0});
    socket.SendTo({platform::IPv4Loopback, static_cast<std::uint16_t>(port)},
                  TBytes{0xF8, 0x55, 0xCE, 0x01, 0x00, 0x00, 0x00, 0x00});
    std::array<std::uint8_t, 512> buffer{};
    platform::TIPv4Endpoint from;
    const auto got = socket.ReceiveFrom(buffer, 2000, from);
    ASSERT_TRUE(got.Ok());
    ASSERT_EQ(got.Bytes, 7u + 23u);
    EXPECT_EQ(buffer[5], 0x01);
    EXPECT_EQ(TBytes(buffer.begin() + 11, buffer.begin() + 15), (TBytes{0x4E, 0x61, 0xBC, 0x00}));
    EXPECT_EQ(from.Port, port);
}

TEST(SimScale, FaultsShapeTheAnswers) {
    TScaleSettings settings;
    settings.Quiet = true;
    settings.Noise = 2;
    settings.Split = true;
    settings.WorkModeAnswer = 0x52;
    settings.Silent = ssReset;
    settings.BadCrc = ssDFile;
    TSimScale scale(settings);
    TClient client(scale.Bind(0));
    scale.Start();
    TBytes noisy = {0xA5, 0xA5};
    const TBytes wrong = Ack(0x52);
    noisy.insert(noisy.end(), wrong.begin(), wrong.end());
    EXPECT_EQ(client.Exchange(SetWorkMode, 10), noisy);
    EXPECT_TRUE(client.Exchange(ResetFiles).empty());
    const TBytes broken = client.Exchange(Part(1, 1, 1, {7}), 10);
    ASSERT_EQ(broken.size(), 10u);
    EXPECT_NE(TBytes(broken.begin() + 8, broken.end()), (TBytes{0x42, 0x00}));
}

TEST(SimScale, OptionsBindOnlyLoopbackAndParseFaults) {
    TSimOptions options;
    std::string error;
    ASSERT_TRUE(ParseSimOptions(
        {"scale",    "--bind",         "127.0.0.3",     "--port",   "5001",       "--serial", "4294967295",
         "--answer", "work-mode=0x52", "--answer-part", "plu:2=68", "--silent",   "probe",    "--bad-crc",
         "all",      "--split",        "--noise",       "3",        "--delay-ms", "5"},
        options, error))
        << error;
    EXPECT_EQ(options.Mode, TSimMode::smScale);
    EXPECT_EQ(options.Scale.Bind, "127.0.0.3");
    EXPECT_EQ(options.Port, 5001);
    EXPECT_EQ(options.Scale.Serial, 4294967295u);
    EXPECT_EQ(options.Scale.WorkModeAnswer, 0x52);
    ASSERT_EQ(options.Scale.PartFaults.size(), 1u);
    EXPECT_EQ(options.Scale.PartFaults[0].FileCode, 5);
    EXPECT_EQ(options.Scale.PartFaults[0].Part, 2);
    EXPECT_EQ(options.Scale.PartFaults[0].Code, 0x44);
    EXPECT_EQ(options.Scale.Silent, unsigned{ssProbe});
    EXPECT_EQ(options.Scale.BadCrc, unsigned{ssAll});
    EXPECT_EQ(options.Scale.Noise, 3);
    EXPECT_EQ(options.Scale.DelayMs, 5);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"scale", "--bind", "192.168.0.15"},
             {"scale", "--bind", "0.0.0.0"},
             {"scale", "--answer", "dfile"},
             {"scale", "--answer", "all=0x41"},
             {"scale", "--answer-part", "goods:0=0x43"},
             {"scale", "--silent", "everything"},
             {"scale", "--fail-rate", "0.5"},
             {"utm", "--serial", "1"},
             {"utm", "--bind", "127.0.0.2"},
         }) {
        EXPECT_FALSE(ParseSimOptions(bad, options, error)) << bad[1] << " " << bad[2];
    }
    ParseSimOptions({"scale", "--bind", "10.0.0.1"}, options, error);
    EXPECT_EQ(error, "--bind: the scale simulator binds 127.x.x.x addresses only, not '10.0.0.1'");
    TScaleSettings lan;
    lan.Bind = "192.168.1.1";
    EXPECT_THROW(TSimScale(lan).Bind(0), std::runtime_error);
}

}  // namespace
}  // namespace egaiss::sim
