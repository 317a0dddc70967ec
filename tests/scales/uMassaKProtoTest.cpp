#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "platform/uSockets.h"
#include "scales/uMassaKProto.h"
#include "support/uFakeMassaScale.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using test::TFakeMassaTcpScale;
using test::TFakeReply;
using ::testing::ElementsAre;

TBytes SetWorkModeFrame() {
    return {0xF8, 0x55, 0xCE, 0x02, 0x00, 0x91, 0x04, 0x04, 0x91};
}
TBytes ResetFilesFrame() {
    return {0xF8, 0x55, 0xCE, 0x05, 0x00, 0x81, 0x11, 0x00, 0x00, 0x00, 0x28, 0x3C};
}
// Answers without data: the checksum of a single byte is that byte.
TBytes WorkModeOk() {
    return {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x51, 0x51, 0x00};
}
TBytes ResetOk() {
    return {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x41, 0x41, 0x00};
}
TBytes PartOk() {
    return {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x42, 0x42, 0x00};
}

// Short waits so that silent scales fail quickly.
const TMassaTimeouts ShortTimeouts{1000, 300, 300};

TBytes Answer(std::uint8_t code) {
    return {0xF8, 0x55, 0xCE, 0x01, 0x00, code, code, 0x00};
}

TBytes Concat(std::initializer_list<TBytes> parts) {
    TBytes all;
    for (const TBytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TBytes Pattern(std::size_t size) {
    TBytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

TFakeReply Send(std::initializer_list<TBytes> chunks) {
    return {chunks, false};
}

// A well-behaved scale; `quirk` may answer a request differently (return true when it did).
test::TFakeMassaHandler GoodScale(
    const std::function<bool(const TBytes&, std::size_t, TFakeReply&)>& quirk = {}) {
    return [quirk](const TBytes& request, std::size_t index) {
        TFakeReply reply;
        if (quirk && quirk(request, index, reply)) return reply;
        switch (request[5]) {
            case 0x91:
                return Send({WorkModeOk()});
            case 0x81:
                return Send({ResetOk()});
            default:
                return Send({PartOk()});
        }
    };
}

// The data of a DFILE request frame.
TBytes PartDataOf(const TBytes& frame) {
    return TBytes(frame.begin() + 6, frame.end() - 2);
}

TBytes PartHeader(std::uint8_t file, std::uint16_t parts, std::uint16_t part, std::uint16_t size) {
    return {file,
            static_cast<std::uint8_t>(parts & 0xFF),
            static_cast<std::uint8_t>(parts >> 8),
            static_cast<std::uint8_t>(part & 0xFF),
            static_cast<std::uint8_t>(part >> 8),
            static_cast<std::uint8_t>(size & 0xFF),
            static_cast<std::uint8_t>(size >> 8)};
}

class MassaProtoTest : public ::testing::Test {
protected:
    test::TTempDataDir FDir;

    // Log lines without their time stamps.
    std::vector<std::string> Logged() const {
        std::vector<std::string> lines;
        for (const std::string& line : SplitTextLines(ReadLogTail(1000))) {
            lines.push_back(line.size() > 20 ? line.substr(20) : line);
        }
        return lines;
    }
    bool LoggedLine(const std::string& text) const {
        const auto lines = Logged();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
    bool LoggedPart(const std::string& part) const {
        return ReadLogTail(1000).find(part) != std::string::npos;
    }

    static std::string Target(const TFakeMassaTcpScale& scale) {
        return "127.0.0.1:" + std::to_string(scale.Port());
    }

    bool Upload(const TFakeMassaTcpScale& scale, const TBytes& goods, const TBytes& plu, std::string& err) {
        return UploadToMassaScale("127.0.0.1", scale.Port(), goods, plu, err, ShortTimeouts);
    }
};

TEST(MassaFrames, ChecksumMatchesKnownValues) {
    EXPECT_EQ(MassaCrc16(ToBytes("abc")), 0x1EE4);
    EXPECT_EQ(MassaCrc16(ToBytes("123456789")), 0xBEEF);
    for (int b : {0x00, 0x01, 0x51, 0xFF}) {
        const TBytes single = {static_cast<std::uint8_t>(b)};
        EXPECT_EQ(MassaCrc16(single), b);
    }
    EXPECT_EQ(MassaCrc16(TBytes{}), 0);

    const TBytes text = ToBytes("xx123456789");
    EXPECT_EQ(MassaCrc16(text, 2, 9), 0xBEEF);
    EXPECT_EQ(MassaCrc16(text, 2, 10), 0);  // runs past the end
    EXPECT_EQ(MassaCrc16(text, 12, 0), 0);
}

// The checksum as a plain shift register: message bits enter at the low end, and each bit that
// leaves the top folds the polynomial back in.
std::uint16_t BitSerialCrc(const TBytes& bytes) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool carry = (crc & 0x8000) != 0;
            crc = static_cast<std::uint16_t>((crc << 1) | ((byte >> bit) & 1));
            if (carry) crc ^= 0x1021;
        }
    }
    return crc;
}

TEST(MassaFrames, ChecksumAgreesWithABitSerialRegister) {
    ASSERT_EQ(BitSerialCrc(ToBytes("123456789")), 0xBEEF);
    // {h, 0, 0} leaves h in the high byte before the last step, so every high byte is folded once.
    for (int high = 0; high < 256; ++high) {
        const TBytes bytes = {static_cast<std::uint8_t>(high), 0, 0};
        EXPECT_EQ(MassaCrc16(bytes), BitSerialCrc(bytes)) << high;
    }
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> size(0, 2 * static_cast<int>(MassaPartSize) + 16);
    std::uniform_int_distribution<int> value(0, 255);
    for (int round = 0; round < 500; ++round) {
        TBytes bytes(static_cast<std::size_t>(size(random)));
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(value(random));
        }
        ASSERT_EQ(MassaCrc16(bytes), BitSerialCrc(bytes)) << "size " << bytes.size() << " round " << round;
    }
}

TEST(MassaFrames, BuildsTheLoadFramesByteForByte) {
    EXPECT_EQ(BuildMassaFrame(0x91, TBytes{0x04}), SetWorkModeFrame());
    EXPECT_EQ(BuildMassaFrame(0x81, TBytes{0x11, 0x00, 0x00, 0x00}), ResetFilesFrame());
    EXPECT_EQ(BuildMassaFrame(0x51), WorkModeOk());
    EXPECT_EQ(BuildMassaFrame(0x00), (TBytes{0xF8, 0x55, 0xCE, 0x01, 0x00, 0x00, 0x00, 0x00}));

    const TBytes large = BuildMassaFrame(0x82, Pattern(1031));
    ASSERT_EQ(large.size(), 1032u + 7u);
    EXPECT_EQ(large[3], 0x08);  // 1032 = 0x0408, low byte first
    EXPECT_EQ(large[4], 0x04);
}

TEST(MassaFrames, ParsesOnlyWholeFramesWithTheRightChecksum) {
    std::uint8_t command = 0;
    TBytes data;
    ASSERT_TRUE(ParseMassaFrame(Concat({ResetFilesFrame(), {0xAA, 0xBB}}), command, data));  // tail ignored
    EXPECT_EQ(command, 0x81);
    EXPECT_EQ(data, (TBytes{0x11, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(ParseMassaFrame(WorkModeOk(), command, data));
    EXPECT_EQ(command, 0x51);
    EXPECT_TRUE(data.empty());

    TBytes badChecksum = ResetFilesFrame();
    badChecksum.back() ^= 0x01;
    TBytes badHeader = ResetFilesFrame();
    badHeader[2] = 0xCF;
    const TBytes zeroLength = {0xF8, 0x55, 0xCE, 0x00, 0x00, 0x00, 0x00, 0x00};
    TBytes truncated = ResetFilesFrame();
    truncated.pop_back();
    TBytes tooShort = WorkModeOk();
    tooShort.pop_back();
    for (const TBytes& bad : {badChecksum, badHeader, zeroLength, truncated, tooShort, TBytes{}}) {
        EXPECT_FALSE(ParseMassaFrame(bad, command, data)) << BytesToHex(bad);
    }
}

TEST(MassaFrames, HexTextStopsAtTheLimit) {
    EXPECT_EQ(BytesToHex(SetWorkModeFrame()), "F8 55 CE 02 00 91 04 04 91");
    EXPECT_EQ(BytesToHex(TBytes{}), "");
    const TBytes bytes(66, 0x0A);
    const std::string text = BytesToHex(bytes);
    EXPECT_EQ(text.size(), 64u * 3 - 1 + std::string(" ...(+2)").size());
    EXPECT_TRUE(text.ends_with("0A 0A ...(+2)")) << text;
    EXPECT_EQ(BytesToHex(bytes, 2), "0A 0A ...(+64)");
    EXPECT_EQ(BytesToHex(TBytes(64, 0x0A)).find("..."), std::string::npos);
}

TEST_F(MassaProtoTest, LoadsBothTablesPartByPartInOrder) {
    TFakeMassaTcpScale scale(GoodScale());
    const TBytes goods = Pattern(3000);
    const TBytes plu = Pattern(14);
    std::string err;
    ASSERT_TRUE(Upload(scale, goods, plu, err)) << err;

    const auto requests = scale.Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0], SetWorkModeFrame());
    EXPECT_EQ(requests[1], ResetFilesFrame());
    const auto slice = [](const TBytes& bytes, std::size_t from, std::size_t count) {
        return TBytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                      bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
    };
    EXPECT_EQ(requests[2], BuildMassaFrame(0x82, Concat({PartHeader(1, 3, 1, 1024), slice(goods, 0, 1024)})));
    EXPECT_EQ(PartDataOf(requests[2]).size(), 7u + 1024u);
    EXPECT_EQ(PartDataOf(requests[3]), Concat({PartHeader(1, 3, 2, 1024), slice(goods, 1024, 1024)}));
    // 952 = 0x03B8: header bytes 01 03 00 03 00 B8 03.
    EXPECT_EQ(PartDataOf(requests[4]),
              Concat({TBytes{0x01, 0x03, 0x00, 0x03, 0x00, 0xB8, 0x03}, slice(goods, 2048, 952)}));
    EXPECT_EQ(PartDataOf(requests[5]), Concat({PartHeader(5, 1, 1, 14), plu}));
    EXPECT_EQ(scale.Connections(), 1u);

    const std::string target = Target(scale);
    const auto lines = Logged();
    EXPECT_THAT(lines, ElementsAre("[INFO] Scales TCP connect " + target + " goods=3000 plu=14",
                                   "[STEP] Scales.SET_WORK_MODE | " + target,
                                   "[STEP] Scales.RESET_FILES | " + target + " mask=goods+plu",
                                   "[INFO] Scales upload GOODS " + target + " (3000 bytes)",
                                   "[INFO] Scales GOODS OK " + target,
                                   "[INFO] Scales upload PLU " + target + " (14 bytes)",
                                   "[INFO] Scales PLU OK " + target, "[INFO] Scales upload done " + target));
}

TEST_F(MassaProtoTest, PartCountFollowsTheFileLength) {
    TFakeMassaTcpScale scale(GoodScale());
    platform::TTcpConnection socket;
    std::string err;
    ASSERT_TRUE(MassaTcpConnect("127.0.0.1", scale.Port(), socket, err)) << err;

    ASSERT_TRUE(MassaUploadFile(socket, MassaGoodsFileCode, Pattern(1024), err, 1000)) << err;
    ASSERT_TRUE(MassaUploadFile(socket, MassaPluFileCode, Pattern(1025), err, 1000)) << err;
    const auto requests = scale.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(PartDataOf(requests[0]), Concat({PartHeader(1, 1, 1, 1024), Pattern(1024)}));
    const TBytes firstPluPart = PartDataOf(requests[1]);
    EXPECT_EQ(firstPluPart, Concat({PartHeader(5, 2, 1, 1024), Pattern(1024)}));
    EXPECT_EQ(PartDataOf(requests[2]), Concat({PartHeader(5, 2, 2, 1), TBytes{Pattern(1025).back()}}));

    EXPECT_FALSE(MassaUploadFile(socket, MassaGoodsFileCode, TBytes{}, err, 1000));
    EXPECT_EQ(err, "Empty file");
    // More parts than the 16-bit part count can say: refused before anything is sent.
    EXPECT_FALSE(MassaUploadFile(socket, MassaGoodsFileCode, TBytes(MassaMaxFileSize + 1, 0x20), err, 1000));
    EXPECT_EQ(err, "File too large (67107841 bytes)");
    EXPECT_EQ(scale.Requests().size(), 3u);
}

TEST_F(MassaProtoTest, EmptyPluTableLoadsTheGoodsTableOnly) {
    TFakeMassaTcpScale scale(GoodScale());
    std::string err;
    ASSERT_TRUE(Upload(scale, Pattern(100), TBytes{}, err)) << err;
    EXPECT_EQ(scale.Requests().size(), 3u);
    EXPECT_TRUE(LoggedLine("[INFO] Scales PLU skip (empty) " + Target(scale)));
    EXPECT_EQ(Logged().back(), "[INFO] Scales upload done " + Target(scale));
}

TEST_F(MassaProtoTest, AnswerAfterNoiseAndAcrossSegmentsIsAssembled) {
    TFakeMassaTcpScale scale(GoodScale([](const TBytes& request, std::size_t, TFakeReply& reply) {
        if (request[5] == 0x91)
            reply = Send({{0x00, 0x13, 0xF8, 0x55}, {0xCE, 0x01, 0x00, 0x51}, {0x51, 0x00}});
        if (request[5] == 0x81) reply = Send({{0xF8, 0x55, 0xCE, 0x01}, {0x00, 0x41, 0x41, 0x00, 0x99}});
        return !reply.Chunks.empty();
    }));
    std::string err;
    ASSERT_TRUE(Upload(scale, Pattern(10), Pattern(10), err)) << err;
    EXPECT_FALSE(LoggedPart("Scales RX")) << "skipped noise is not logged";
}

TEST_F(MassaProtoTest, BrokenFramesAreLoggedAndSkipped) {
    const TBytes badChecksum = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x51, 0x51, 0x01};
    const TBytes hugeHeader = {0xF8, 0x55, 0xCE, 0xF9, 0xFF};  // body 65529: a frame of 65536 bytes
    TFakeMassaTcpScale scale(GoodScale([&](const TBytes& request, std::size_t, TFakeReply& reply) {
        if (request[5] == 0x91) reply = Send({Concat({badChecksum, WorkModeOk()})});
        if (request[5] == 0x81) reply = Send({Concat({hugeHeader, ResetOk()})});
        return !reply.Chunks.empty();
    }));
    std::string err;
    ASSERT_TRUE(Upload(scale, Pattern(10), TBytes{}, err)) << err;
    EXPECT_TRUE(LoggedLine("[ERR] Scales RX parse fail need=8 hex=[F8 55 CE 01 00 51 51 01]"));
    EXPECT_TRUE(LoggedLine(
        "[ERR] Scales RX bad len body=65529 need=65536 hex=[F8 55 CE F9 FF F8 55 CE 01 00 41 41 00]"));
}

TEST_F(MassaProtoTest, LargestLengthIsAwaitedNotSkipped) {
    // Body 65528 makes a frame of exactly 65535 bytes: legal, so the rest is awaited.
    TFakeMassaTcpScale scale(GoodScale([](const TBytes& request, std::size_t, TFakeReply& reply) {
        if (request[5] == 0x91) reply = Send({Concat({{0xF8, 0x55, 0xCE, 0xF8, 0xFF}, WorkModeOk()})});
        return !reply.Chunks.empty();
    }));
    std::string err;
    EXPECT_FALSE(Upload(scale, Pattern(10), TBytes{}, err));
    EXPECT_EQ(err, "SET_WORK_MODE timeout");
    EXPECT_FALSE(LoggedPart("bad len"));
}

TEST_F(MassaProtoTest, OnlyABrokenAnswerEndsInTheCommandsTimeout) {
    TFakeMassaTcpScale scale(GoodScale([](const TBytes& request, std::size_t, TFakeReply& reply) {
        if (request[5] == 0x91) reply = Send({{0xF8, 0x55, 0xCE, 0x01, 0x00, 0x51, 0x51, 0x07}});
        return !reply.Chunks.empty();
    }));
    std::string err;
    EXPECT_FALSE(Upload(scale, Pattern(10), Pattern(10), err));
    EXPECT_EQ(err, "SET_WORK_MODE timeout");
    const std::string target = Target(scale);
    EXPECT_TRUE(LoggedLine("[ERR] Scales RX parse fail need=8 hex=[F8 55 CE 01 00 51 51 07]"));
    EXPECT_TRUE(
        LoggedLine("[ERR] Scales " + target + " - SET_WORK_MODE timeout pkt=[F8 55 CE 02 00 91 04 04 91]"));
    EXPECT_EQ(scale.Requests().size(), 1u);
}

struct TFailureCase {
    const char* Name;
    std::uint8_t Command;       // request command answered differently
    std::size_t OnlyIndex;      // answer only this request differently (SIZE_MAX: every such command)
    std::vector<TBytes> Reply;  // empty: silence
    const char* Err;
    const char* LogText;  // after "Scales "; "%s" stands for the target
    std::size_t Requests;
};

class MassaFailureTest : public MassaProtoTest, public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(MassaFailureTest, EndsTheLoadWithItsText) {
    const TFailureCase& c = GetParam();
    TFakeMassaTcpScale scale(GoodScale([&c](const TBytes& request, std::size_t index, TFakeReply& reply) {
        if (request[5] != c.Command || (c.OnlyIndex != SIZE_MAX && index != c.OnlyIndex)) return false;
        reply.Chunks = c.Reply;
        return true;
    }));
    std::string err;
    EXPECT_FALSE(Upload(scale, Pattern(3000), Pattern(14), err));
    EXPECT_EQ(err, c.Err);
    std::string logText = c.LogText;
    logText.replace(logText.find("%s"), 2, Target(scale));
    EXPECT_TRUE(LoggedLine("[ERR] Scales " + logText)) << ReadLogTail(50);
    EXPECT_EQ(scale.Requests().size(), c.Requests);
    EXPECT_FALSE(LoggedPart("upload done"));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MassaFailureTest,
    ::testing::Values(
        TFailureCase{"WorkModeRefused",
                     0x91,
                     SIZE_MAX,
                     {Answer(0x52)},
                     "SET_WORK_MODE 0x52",
                     "%s - SET_WORK_MODE 0x52",
                     1},
        TFailureCase{
            "ResetRefused", 0x81, SIZE_MAX, {Answer(0x40)}, "RESET_FILES 0x40", "%s - RESET_FILES 0x40", 2},
        TFailureCase{"ResetSilent",
                     0x81,
                     SIZE_MAX,
                     {},
                     "RESET_FILES timeout",
                     "%s - RESET_FILES timeout pkt=[F8 55 CE 05 00 81 11 00 00 00 28 3C]",
                     2},
        TFailureCase{"BadPart", 0x82, SIZE_MAX, {Answer(0x43)}, "BAD_DFILE", "GOODS %s - BAD_DFILE", 3},
        TFailureCase{
            "BadPartSize", 0x82, SIZE_MAX, {Answer(0x44)}, "BAD_DFILE_SIZE", "GOODS %s - BAD_DFILE_SIZE", 3},
        TFailureCase{"OtherPartAnswer",
                     0x82,
                     SIZE_MAX,
                     {Answer(0x0A)},
                     "DFILE resp 0x0A",
                     "GOODS %s - DFILE resp 0x0A",
                     3},
        TFailureCase{"SilentSecondPart",
                     0x82,
                     3,
                     {},
                     "DFILE timeout part 2/3",
                     "GOODS %s - DFILE timeout part 2/3",
                     4},
        TFailureCase{
            "PluPartRefused", 0x82, 5, {Answer(0x44)}, "BAD_DFILE_SIZE", "PLU %s - BAD_DFILE_SIZE", 6}),
    [](const ::testing::TestParamInfo<TFailureCase>& info) { return std::string(info.param.Name); });

TEST_F(MassaProtoTest, ScaleThatHangsUpFailsTheNextCommand) {
    TFakeMassaTcpScale scale(GoodScale([](const TBytes& request, std::size_t, TFakeReply& reply) {
        if (request[5] != 0x91) return false;
        reply = {{WorkModeOk()}, true};
        return true;
    }));
    std::string err;
    EXPECT_FALSE(Upload(scale, Pattern(10), Pattern(10), err));
    EXPECT_EQ(err, "RESET_FILES timeout");
}

TEST_F(MassaProtoTest, ConnectFailuresSendNothing) {
    std::string err;
    std::uint16_t freePort = 0;
    {
        const platform::TTcpListener listener({platform::IPv4Loopback, 0});
        freePort = listener.LocalEndpoint().Port;
    }
    EXPECT_FALSE(UploadToMassaScale("127.0.0.1", freePort, Pattern(10), Pattern(10), err, ShortTimeouts));
    EXPECT_EQ(err, "Connect failed");
    EXPECT_TRUE(LoggedLine("[ERR] Scales TCP connect failed 127.0.0.1:" + std::to_string(freePort) +
                           " - Connect failed"));

    // Not a host name: refused before any resolver is asked.
    EXPECT_FALSE(UploadToMassaScale("scale one", 5001, Pattern(10), Pattern(10), err, ShortTimeouts));
    EXPECT_EQ(err, "DNS failed");
    EXPECT_TRUE(LoggedLine("[ERR] Scales TCP connect failed scale one:5001 - DNS failed"));
    EXPECT_FALSE(LoggedPart("[STEP]"));
}

TEST_F(MassaProtoTest, ConnectToAnUnansweringAddressGivesUp) {
    // A listener with a full queue that never accepts leaves further connects unanswered.
    const platform::TTcpListener listener({platform::IPv4Loopback, 0}, 0);
    std::vector<platform::TTcpConnection> queued;
    for (int attempt = 0; attempt < 16; ++attempt) {
        platform::TTcpConnection client;
        if (!client.Connect(listener.LocalEndpoint(), 200).Ok()) break;
        queued.push_back(std::move(client));
    }
    std::string err;
    platform::TTcpConnection socket;
    EXPECT_FALSE(MassaTcpConnect("127.0.0.1", listener.LocalEndpoint().Port, socket, err, 200));
    EXPECT_EQ(err, "Connect failed");
    EXPECT_FALSE(socket.IsOpen());
}

TEST_F(MassaProtoTest, TransactRefusesEmptyRequestsAndReportsFailedSends) {
    TFakeMassaTcpScale scale(GoodScale());
    platform::TTcpConnection socket;
    std::string err;
    ASSERT_TRUE(MassaTcpConnect("127.0.0.1", scale.Port(), socket, err)) << err;
    std::uint8_t command = 0;
    TBytes data;
    EXPECT_FALSE(MassaTcpTransact(socket, TBytes{}, 100, command, data));
    EXPECT_TRUE(LoggedLine("[ERR] Scales TcpTransact empty request"));

    ASSERT_TRUE(MassaTcpTransact(socket, SetWorkModeFrame(), 1000, command, data));
    EXPECT_EQ(command, 0x51);

    socket.Close();
    EXPECT_FALSE(MassaTcpTransact(socket, SetWorkModeFrame(), 100, command, data));
    EXPECT_TRUE(
        LoggedLine("[ERR] Scales TX incomplete sent=0 want=9 WSA=0 hex=[F8 55 CE 02 00 91 04 04 91]"));
}

}  // namespace
}  // namespace egaiss
