#pragma once
// The Massa-K scale's binary protocol: frames with their checksum, and the TCP exchange that loads
// one scale with a goods table and a PLU table. The LAN search lives in uMassaKDiscovery.h.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/uBytes.h"
#include "platform/uSockets.h"

namespace egaiss {

// Commands and answers.
inline constexpr std::uint8_t MassaCmdSetWorkMode = 0x91;
inline constexpr std::uint8_t MassaCmdResetFiles = 0x81;
inline constexpr std::uint8_t MassaCmdDFile = 0x82;
inline constexpr std::uint8_t MassaAnsWorkModeOk = 0x51;
inline constexpr std::uint8_t MassaAnsResetOk = 0x41;
inline constexpr std::uint8_t MassaAnsDFileOk = 0x42;
inline constexpr std::uint8_t MassaAnsBadDFile = 0x43;
inline constexpr std::uint8_t MassaAnsBadDFileSize = 0x44;

inline constexpr int MassaGoodsFileCode = 1;
inline constexpr int MassaPluFileCode = 5;
inline constexpr std::size_t MassaPartSize = 1024;
inline constexpr std::size_t MassaMaxFrameSize = 65535;
// A file longer than this would need more parts than the 16-bit part count can say.
inline constexpr std::size_t MassaMaxFileSize = 65535 * MassaPartSize;
inline constexpr std::size_t MassaHexMax = 64;  // bytes shown by the log lines

// How long one load waits; tests shorten them.
struct TMassaTimeouts {
    int ConnectMs = 5000;
    int CommandMs = 5000;  // SET_WORK_MODE and RESET_FILES
    int PartMs = 15000;    // each DFILE part
};

// Polynomial 0x1021, start 0, each byte entering at the low end: "123456789" gives 0xBEEF.
std::uint16_t MassaCrc16(std::span<const std::uint8_t> body);
// The same over bytes[offset, offset + count); 0 when that range runs past the end.
std::uint16_t MassaCrc16(const TBytes& bytes, std::size_t offset, std::size_t count);

// F8 55 CE, body length (LE16), command, data, checksum of command + data (LE16).
TBytes BuildMassaFrame(std::uint8_t command, std::span<const std::uint8_t> data = {});
// True when `bytes` starts with a whole valid frame; bytes after it are ignored.
bool ParseMassaFrame(std::span<const std::uint8_t> bytes, std::uint8_t& command, TBytes& data);
// "F8 55 CE ..." with at most `max` bytes, then " ...(+N)" for the rest.
std::string BytesToHex(std::span<const std::uint8_t> bytes, std::size_t max = MassaHexMax);

// Starts the socket library once per process.
bool InitWinsock();

// Resolves `host` (dotted address or name) and connects within `timeoutMs`. On failure `err` is
// "Winsock init failed", "socket failed", "DNS failed" or "Connect failed".
bool MassaTcpConnect(const std::string& host, int port, platform::TTcpConnection& socket, std::string& err,
                     int timeoutMs = TMassaTimeouts{}.ConnectMs);
// Sends one request frame and returns the first valid frame that comes back within `timeoutMs`,
// skipping noise and broken frames byte by byte. False on silence, a closed connection or a send
// failure (each logged).
bool MassaTcpTransact(platform::TTcpConnection& socket, const TBytes& request, int timeoutMs,
                      std::uint8_t& command, TBytes& data);
// Sends a table file in parts of 1024 bytes, each after the previous one was acknowledged.
bool MassaUploadFile(platform::TTcpConnection& socket, int fileCode, const TBytes& bytes, std::string& err,
                     int partTimeoutMs = TMassaTimeouts{}.PartMs);
// One complete load of one scale: work mode, reset, goods table, PLU table (skipped when empty).
bool UploadToMassaScale(const std::string& host, int port, const TBytes& goods, const TBytes& plu,
                        std::string& err, const TMassaTimeouts& timeouts = {});

}  // namespace egaiss
