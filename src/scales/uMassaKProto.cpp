#include "scales/uMassaKProto.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <exception>

#include "core/uEgaissLog.h"
#include "platform/uErrors.h"

namespace egaiss {
namespace {

using TClock = std::chrono::steady_clock;

constexpr std::array<std::uint8_t, 3> FrameHeader = {0xF8, 0x55, 0xCE};
constexpr std::size_t FrameOverhead = 7;  // header, length, checksum
constexpr std::size_t ReceiveChunk = 1024;
constexpr int MinReceiveWaitMs = 1000;

// What the register's high byte, shifted out over the next eight bits, folds back into it.
constexpr std::uint16_t CrcFold(std::uint8_t high) {
    auto top = static_cast<std::uint16_t>(high << 8);
    std::uint16_t acc = 0;
    for (int bit = 0; bit < 8; ++bit) {
        acc = ((top ^ acc) & 0x8000) != 0 ? static_cast<std::uint16_t>((acc << 1) ^ 0x1021)
                                          : static_cast<std::uint16_t>(acc << 1);
        top = static_cast<std::uint16_t>(top << 1);
    }
    return acc;
}

constexpr std::array<std::uint16_t, 256> CrcTable = [] {
    std::array<std::uint16_t, 256> table{};
    for (std::size_t high = 0; high < table.size(); ++high) {
        table[high] = CrcFold(static_cast<std::uint8_t>(high));
    }
    return table;
}();
static_assert(CrcTable[0x00] == 0x0000 && CrcTable[0x01] == 0x1021 && CrcTable[0xFF] == 0x1EF0);

void PutLe16(TBytes& bytes, std::size_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

std::size_t Le16At(const std::uint8_t* bytes) {
    return bytes[0] | (static_cast<std::size_t>(bytes[1]) << 8);
}

bool StartsWithHeader(const std::uint8_t* bytes) {
    return std::equal(FrameHeader.begin(), FrameHeader.end(), bytes);
}

std::string CodeText(std::uint8_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%.2X", static_cast<unsigned>(code));
    return text;
}

// Looks for the first valid frame in `buffer`, dropping what precedes it. Without a whole frame
// yet, keeps the bytes from the first possible frame start and returns false.
bool TakeFrame(TBytes& buffer, std::uint8_t& command, TBytes& data) {
    std::size_t start = 0;
    bool found = false;
    while (buffer.size() - start >= 5) {
        const std::uint8_t* at = buffer.data() + start;
        if (!StartsWithHeader(at)) {
            ++start;
            continue;
        }
        const std::size_t bodyLength = Le16At(at + 3);
        const std::size_t need = bodyLength + FrameOverhead;
        if (need > MassaMaxFrameSize) {
            LogError("Scales RX bad len body=" + std::to_string(bodyLength) + " need=" +
                     std::to_string(need) + " hex=[" + BytesToHex({at, buffer.size() - start}) + "]");
            ++start;
            continue;
        }
        if (buffer.size() - start < need) break;
        if (ParseMassaFrame({at, need}, command, data)) {
            found = true;
            break;
        }
        LogError("Scales RX parse fail need=" + std::to_string(need) + " hex=[" + BytesToHex({at, need}) +
                 "]");
        ++start;
    }
    if (found) {
        buffer.clear();
    } else {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(start));
    }
    return found;
}

TBytes PartData(int fileCode, std::size_t partCount, std::size_t partNo,
                std::span<const std::uint8_t> chunk) {
    TBytes data;
    data.reserve(7 + chunk.size());
    data.push_back(static_cast<std::uint8_t>(fileCode));
    PutLe16(data, partCount);
    PutLe16(data, partNo);
    PutLe16(data, chunk.size());
    data.insert(data.end(), chunk.begin(), chunk.end());
    return data;
}

// Sends one command and checks its answer code; the failure texts follow the command's step name.
bool RunCommand(platform::TTcpConnection& socket, const std::string& target, const std::string& name,
                const TBytes& frame, std::uint8_t goodAnswer, int timeoutMs, std::string& err) {
    std::uint8_t answer = 0;
    TBytes data;
    if (!MassaTcpTransact(socket, frame, timeoutMs, answer, data)) {
        err = name + " timeout";
        LogError("Scales " + target + " - " + err + " pkt=[" + BytesToHex(frame) + "]");
        return false;
    }
    if (answer != goodAnswer) {
        err = name + " " + CodeText(answer);
        LogError("Scales " + target + " - " + err);
        return false;
    }
    return true;
}

}  // namespace

std::uint16_t MassaCrc16(std::span<const std::uint8_t> body) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : body) {
        crc = static_cast<std::uint16_t>(CrcTable[crc >> 8] ^ (crc << 8) ^ byte);
    }
    return crc;
}

std::uint16_t MassaCrc16(const TBytes& bytes, std::size_t offset, std::size_t count) {
    if (offset > bytes.size() || count > bytes.size() - offset) return 0;
    return MassaCrc16(std::span(bytes).subspan(offset, count));
}

TBytes BuildMassaFrame(std::uint8_t command, std::span<const std::uint8_t> data) {
    TBytes frame(FrameHeader.begin(), FrameHeader.end());
    frame.reserve(FrameOverhead + 1 + data.size());
    PutLe16(frame, data.size() + 1);
    frame.push_back(command);
    frame.insert(frame.end(), data.begin(), data.end());
    PutLe16(frame, MassaCrc16(std::span(frame).subspan(5)));
    return frame;
}

bool ParseMassaFrame(std::span<const std::uint8_t> bytes, std::uint8_t& command, TBytes& data) {
    if (bytes.size() < 8 || !StartsWithHeader(bytes.data())) return false;
    const std::size_t bodyLength = Le16At(bytes.data() + 3);
    if (bodyLength == 0 || bytes.size() < bodyLength + FrameOverhead) return false;
    const auto body = bytes.subspan(5, bodyLength);
    if (MassaCrc16(body) != Le16At(bytes.data() + 5 + bodyLength)) return false;
    command = body[0];
    data.assign(body.begin() + 1, body.end());
    return true;
}

std::string BytesToHex(std::span<const std::uint8_t> bytes, std::size_t max) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    const std::size_t shown = std::min(bytes.size(), max);
    std::string text;
    text.reserve(shown * 3 + 16);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) text += ' ';
        text += Digits[bytes[i] >> 4];
        text += Digits[bytes[i] & 0x0F];
    }
    if (bytes.size() > max) text += " ...(+" + std::to_string(bytes.size() - max) + ")";
    return text;
}

bool InitWinsock() {
    return platform::InitSockets();
}

bool MassaTcpConnect(const std::string& host, int port, platform::TTcpConnection& socket, std::string& err,
                     int timeoutMs) {
    if (!InitWinsock()) {
        err = "Winsock init failed";
        return false;
    }
    std::uint32_t address = 0;
    if (!platform::ResolveIPv4(host, address)) {
        err = "DNS failed";
        return false;
    }
    if (port <= 0 || port > 0xFFFF) {
        err = "Connect failed";
        return false;
    }
    try {
        // Bounded: an address where nothing answers would otherwise hold the scales poll for the
        // system's own connect time-out, which runs to minutes.
        if (!socket.Connect({address, static_cast<std::uint16_t>(port)}, timeoutMs).Ok()) {
            err = "Connect failed";
            return false;
        }
    } catch (const ETransportError&) {
        err = "socket failed";
        return false;
    }
    return true;
}

bool MassaTcpTransact(platform::TTcpConnection& socket, const TBytes& request, int timeoutMs,
                      std::uint8_t& command, TBytes& data) {
    if (request.empty()) {
        LogError("Scales TcpTransact empty request");
        return false;
    }
    const int waitMs = std::max(timeoutMs, MinReceiveWaitMs);
    const platform::TIoResult sent = socket.SendAll(request, waitMs);
    if (!sent.Ok()) {
        LogError("Scales TX incomplete sent=" + std::to_string(sent.Bytes) +
                 " want=" + std::to_string(request.size()) + " WSA=" + std::to_string(sent.ErrorCode) +
                 " hex=[" + BytesToHex(request) + "]");
        return false;
    }

    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    TBytes buffer;
    std::array<std::uint8_t, ReceiveChunk> chunk{};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0) return false;
        // No single wait runs past the deadline, so a trickle of noise cannot stretch the exchange.
        const auto received = socket.Receive(chunk, static_cast<int>(std::min<long long>(left, waitMs)));
        if (!received.Ok()) return false;
        buffer.insert(buffer.end(), chunk.begin(),
                      chunk.begin() + static_cast<std::ptrdiff_t>(received.Bytes));
        if (TakeFrame(buffer, command, data)) return true;
    }
}

bool MassaUploadFile(platform::TTcpConnection& socket, int fileCode, const TBytes& bytes, std::string& err,
                     int partTimeoutMs) {
    if (bytes.empty()) {
        err = "Empty file";
        return false;
    }
    if (bytes.size() > MassaMaxFileSize) {
        err = "File too large (" + std::to_string(bytes.size()) + " bytes)";
        return false;
    }
    const std::size_t parts = (bytes.size() + MassaPartSize - 1) / MassaPartSize;
    for (std::size_t part = 1; part <= parts; ++part) {
        const std::size_t offset = (part - 1) * MassaPartSize;
        const auto chunk = std::span(bytes).subspan(offset, std::min(MassaPartSize, bytes.size() - offset));
        const TBytes frame = BuildMassaFrame(MassaCmdDFile, PartData(fileCode, parts, part, chunk));
        std::uint8_t answer = 0;
        TBytes data;
        if (!MassaTcpTransact(socket, frame, partTimeoutMs, answer, data)) {
            err = "DFILE timeout part " + std::to_string(part) + "/" + std::to_string(parts);
            return false;
        }
        if (answer == MassaAnsDFileOk) continue;
        if (answer == MassaAnsBadDFile) {
            err = "BAD_DFILE";
        } else if (answer == MassaAnsBadDFileSize) {
            err = "BAD_DFILE_SIZE";
        } else {
            err = "DFILE resp " + CodeText(answer);
        }
        return false;
    }
    return true;
}

bool UploadToMassaScale(const std::string& host, int port, const TBytes& goods, const TBytes& plu,
                        std::string& err, const TMassaTimeouts& timeouts) {
    const std::string target = host + ":" + std::to_string(port);
    std::string stage = "init";
    LogInfo("Scales TCP connect " + target + " goods=" + std::to_string(goods.size()) +
            " plu=" + std::to_string(plu.size()));
    platform::TTcpConnection socket;
    if (!MassaTcpConnect(host, port, socket, err, timeouts.ConnectMs)) {
        LogError("Scales TCP connect failed " + target + " - " + err);
        return false;
    }
    try {
        stage = "SET_WORK_MODE.build";
        LogStep("Scales.SET_WORK_MODE", target);
        const std::array<std::uint8_t, 1> workMode = {0x04};
        const TBytes setWorkMode = BuildMassaFrame(MassaCmdSetWorkMode, workMode);
        stage = "SET_WORK_MODE.tx";
        if (!RunCommand(socket, target, "SET_WORK_MODE", setWorkMode, MassaAnsWorkModeOk, timeouts.CommandMs,
                        err)) {
            return false;
        }

        stage = "RESET_FILES.build";
        LogStep("Scales.RESET_FILES", target + " mask=goods+plu");
        // Goods and PLU tables: mask 0x11 as a 32-bit little-endian number.
        const std::array<std::uint8_t, 4> resetMask = {0x11, 0x00, 0x00, 0x00};
        const TBytes resetFiles = BuildMassaFrame(MassaCmdResetFiles, resetMask);
        stage = "RESET_FILES.tx";
        if (!RunCommand(socket, target, "RESET_FILES", resetFiles, MassaAnsResetOk, timeouts.CommandMs,
                        err)) {
            return false;
        }

        stage = "GOODS";
        LogInfo("Scales upload GOODS " + target + " (" + std::to_string(goods.size()) + " bytes)");
        if (!MassaUploadFile(socket, MassaGoodsFileCode, goods, err, timeouts.PartMs)) {
            LogError("Scales GOODS " + target + " - " + err);
            return false;
        }
        LogInfo("Scales GOODS OK " + target);

        if (plu.empty()) {
            LogInfo("Scales PLU skip (empty) " + target);
        } else {
            stage = "PLU";
            LogInfo("Scales upload PLU " + target + " (" + std::to_string(plu.size()) + " bytes)");
            if (!MassaUploadFile(socket, MassaPluFileCode, plu, err, timeouts.PartMs)) {
                LogError("Scales PLU " + target + " - " + err);
                return false;
            }
            LogInfo("Scales PLU OK " + target);
        }
        LogInfo("Scales upload done " + target);
        return true;
    } catch (const std::exception& error) {
        err = ExceptionClassName(error) + " at " + stage + ": " + error.what();
        LogException("Scales.upload." + stage + " " + target, error);
        return false;
    }
}

}  // namespace egaiss
