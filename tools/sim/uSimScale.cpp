#include "uSimScale.h"

#include "uSimHost.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <stdexcept>

namespace egaiss::sim {

using TBytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t CmdProbe = 0x00;
constexpr std::uint8_t CmdResetFiles = 0x81;
constexpr std::uint8_t CmdDFile = 0x82;
constexpr std::uint8_t CmdSetWorkMode = 0x91;
constexpr std::uint8_t AnsBadDFile = 0x43;
constexpr std::uint8_t AnsBadDFileSize = 0x44;
constexpr std::size_t PartSize = 1024;
constexpr std::size_t ProbeAnswerData = 22;
constexpr auto SplitPause = std::chrono::milliseconds(30);
constexpr int PortAttempts = 50;

// The scale's checksum: polynomial 0x1021, start 0, each byte entering at the low end. The bits
// shifted through depend on the register's high byte alone, so they come from a table.
std::uint16_t Crc16(const std::uint8_t* bytes, std::size_t count) {
    static const std::array<std::uint16_t, 256> Table = [] {
        std::array<std::uint16_t, 256> table{};
        for (unsigned high = 0; high < 256; ++high) {
            std::uint16_t top = static_cast<std::uint16_t>(high << 8);
            std::uint16_t acc = 0;
            for (int bit = 0; bit < 8; ++bit) {
                acc = ((top ^ acc) & 0x8000) != 0 ? static_cast<std::uint16_t>((acc << 1) ^ 0x1021)
                                                  : static_cast<std::uint16_t>(acc << 1);
                top = static_cast<std::uint16_t>(top << 1);
            }
            table[high] = acc;
        }
        return table;
    }();
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(Table[crc >> 8] ^ (crc << 8) ^ bytes[i]);
    }
    return crc;
}

TBytes Frame(std::uint8_t command, const TBytes& data, bool badCrc) {
    TBytes frame = {0xF8, 0x55, 0xCE};
    const std::size_t length = data.size() + 1;
    frame.push_back(static_cast<std::uint8_t>(length & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(length >> 8));
    frame.push_back(command);
    frame.insert(frame.end(), data.begin(), data.end());
    std::uint16_t crc = Crc16(frame.data() + 5, length);
    if (badCrc) crc ^= 0xFFFF;
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

std::size_t Le16(const std::uint8_t* bytes) {
    return bytes[0] | (static_cast<std::size_t>(bytes[1]) << 8);
}

// Takes the first valid frame out of `buffer`, skipping noise and broken frames byte by byte.
bool TakeFrame(TBytes& buffer, std::uint8_t& command, TBytes& data) {
    std::size_t start = 0;
    bool found = false;
    while (buffer.size() - start >= 8) {
        const std::uint8_t* at = buffer.data() + start;
        if (at[0] != 0xF8 || at[1] != 0x55 || at[2] != 0xCE || Le16(at + 3) == 0) {
            ++start;
            continue;
        }
        const std::size_t length = Le16(at + 3);
        if (buffer.size() - start < length + 7) break;
        if (Crc16(at + 5, length) != Le16(at + 5 + length)) {
            ++start;
            continue;
        }
        command = at[5];
        data.assign(at + 6, at + 5 + length);
        start += length + 7;
        found = true;
        break;
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(start));
    return found;
}

std::string Hex(int code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%.2X", static_cast<unsigned>(code) & 0xFFu);
    return text;
}

std::string StepName(std::uint8_t command) {
    switch (command) {
        case CmdSetWorkMode:
            return "SET_WORK_MODE";
        case CmdResetFiles:
            return "RESET_FILES";
        case CmdDFile:
            return "DFILE";
        default:
            return "command " + Hex(command);
    }
}

std::string FileName(int fileCode) {
    return fileCode == 1 ? "goods.bin" : "plu.bin";
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

bool ParseScaleStep(const std::string& text, unsigned& step) {
    static const std::pair<const char*, unsigned> Names[] = {{"work-mode", ssWorkMode},
                                                             {"reset", ssReset},
                                                             {"dfile", ssDFile},
                                                             {"probe", ssProbe},
                                                             {"all", ssAll}};
    for (const auto& [name, bits] : Names) {
        if (text == name) {
            step = bits;
            return true;
        }
    }
    return false;
}

bool IsLoopbackAddress(const std::string& address) {
    in_addr parsed{};
    return inet_pton(AF_INET, address.c_str(), &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) == 127;
}

struct TSimScale::TFd {
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd() {
        if (Fd >= 0) ::close(Fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Fd;
};

struct TSimScale::TAssembly {
    std::size_t Total = 0;
    std::size_t Next = 1;
    TBytes Bytes;
};

struct TSimScale::TConnection {
    explicit TConnection(int fd) : Socket(fd) {}
    TFd Socket;
    bool Closed = false;
    TBytes Buffer;
    TAssembly Goods;
    TAssembly Plu;
};

TSimScale::TSimScale(TScaleSettings settings) : FSettings(std::move(settings)) {}

TSimScale::~TSimScale() {
    Stop();
}

int TSimScale::Bind(int port) {
    in_addr address{};
    if (!IsLoopbackAddress(FSettings.Bind) || inet_pton(AF_INET, FSettings.Bind.c_str(), &address) != 1) {
        throw std::runtime_error("the scale simulator binds 127.x.x.x addresses only, not '" +
                                 FSettings.Bind + "'");
    }
    for (int attempt = 0; attempt < (port == 0 ? PortAttempts : 1); ++attempt) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr = address;
        at.sin_port = htons(static_cast<std::uint16_t>(port));
        auto listener = std::make_unique<TFd>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (listener->Fd < 0) Fail("socket");
        const int on = 1;
        ::setsockopt(listener->Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(listener->Fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
            Fail("cannot bind " + FSettings.Bind + ":" + std::to_string(port) + " (TCP)");
        }
        if (::listen(listener->Fd, 16) != 0) Fail("listen");
        socklen_t size = sizeof at;
        ::getsockname(listener->Fd, reinterpret_cast<sockaddr*>(&at), &size);
        auto udp = std::make_unique<TFd>(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (udp->Fd < 0) Fail("socket");
        if (::bind(udp->Fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
            if (port == 0 && errno == EADDRINUSE) continue;  // that number is taken for UDP: another one
            Fail("cannot bind " + FSettings.Bind + ":" + std::to_string(ntohs(at.sin_port)) + " (UDP)");
        }
        FListener = std::move(listener);
        FUdp = std::move(udp);
        FPort = ntohs(at.sin_port);
        FName = FSettings.Bind + ":" + std::to_string(FPort);
        return FPort;
    }
    throw std::runtime_error("no port free for both TCP and UDP on " + FSettings.Bind);
}

void TSimScale::Start() {
    if (!FListener) throw std::runtime_error("the scale simulator is not bound");
    if (!FSettings.OutDir.empty()) std::filesystem::create_directories(FSettings.OutDir);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) Fail("pipe");
    FWakeRead = std::make_unique<TFd>(pipeFds[0]);
    FWakeWrite = std::make_unique<TFd>(pipeFds[1]);
    FThread = std::thread([this] { Serve(); });
}

void TSimScale::Stop() {
    if (FStopping.exchange(true)) return;
    if (FWakeWrite) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(FWakeWrite->Fd, &byte, 1);
    }
    if (FThread.joinable()) FThread.join();
}

TScaleTables TSimScale::Tables() const {
    const std::lock_guard lock(FLock);
    return FTables;
}

void TSimScale::Event(const std::string& text) const {
    if (!FSettings.Quiet) PrintEvent("scale", FName + " " + text);
}

void TSimScale::Serve() {
    std::list<TConnection> connections;
    while (!FStopping) {
        std::vector<pollfd> fds = {
            {FWakeRead->Fd, POLLIN, 0}, {FListener->Fd, POLLIN, 0}, {FUdp->Fd, POLLIN, 0}};
        for (const TConnection& connection : connections)
            fds.push_back({connection.Socket.Fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) return;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(FListener->Fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                // Each answer leaves at once, and the halves of a split answer as segments of their own.
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                connections.emplace_back(fd);
                Event("connected");
            }
        }
        if (fds[2].revents & POLLIN) ServeDatagram();
        auto it = connections.begin();
        for (std::size_t i = 3; i < fds.size(); ++i, ++it) {
            if (fds[i].revents == 0) continue;
            if (!ReadConnection(*it)) it->Closed = true;
        }
        connections.remove_if([](const TConnection& connection) { return connection.Closed; });
    }
}

void TSimScale::ServeDatagram() {
    std::array<std::uint8_t, 2048> buffer{};
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t got =
        ::recvfrom(FUdp->Fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (got <= 0) return;
    TBytes datagram(buffer.begin(), buffer.begin() + got);
    std::uint8_t command = 0;
    TBytes data;
    if (!TakeFrame(datagram, command, data) || command != CmdProbe) return;
    char sender[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
    const std::string peer = std::string(sender) + ":" + std::to_string(ntohs(from.sin_port));
    if (FSettings.Silent & ssProbe) {
        Event("probe from " + peer + " (silent)");
        return;
    }
    if (FSettings.DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(FSettings.DelayMs));
    TBytes answer(ProbeAnswerData, 0);
    for (int i = 0; i < 4; ++i)
        answer[5 + i] = static_cast<std::uint8_t>(FSettings.Serial >> (8 * i));
    const TBytes frame =
        Frame(static_cast<std::uint8_t>(FSettings.ProbeAnswer), answer, (FSettings.BadCrc & ssProbe) != 0);
    ::sendto(FUdp->Fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
    Event("probe from " + peer + " -> " + Hex(FSettings.ProbeAnswer) +
          " serial=" + std::to_string(FSettings.Serial));
}

bool TSimScale::ReadConnection(TConnection& connection) {
    std::array<std::uint8_t, 4096> chunk{};
    const ssize_t got = ::recv(connection.Socket.Fd, chunk.data(), chunk.size(), 0);
    if (got <= 0) {
        Event("disconnected");
        return false;
    }
    connection.Buffer.insert(connection.Buffer.end(), chunk.begin(), chunk.begin() + got);
    std::uint8_t command = 0;
    TBytes data;
    while (TakeFrame(connection.Buffer, command, data))
        HandleRequest(connection, command, data);
    return true;
}

void TSimScale::HandleRequest(TConnection& connection, std::uint8_t command, const TBytes& data) {
    switch (command) {
        case CmdSetWorkMode:
            Event("SET_WORK_MODE " + (data.empty() ? std::string("-") : Hex(data[0])));
            Answer(connection, ssWorkMode, FSettings.WorkModeAnswer);
            return;
        case CmdResetFiles: {
            const unsigned mask =
                data.size() >= 4 ? data[0] | (data[1] << 8) | (data[2] << 16) | (data[3] << 24) : 0;
            {
                const std::lock_guard lock(FLock);
                ++FTables.Resets;
                if (mask & 0x01) FTables.Goods.clear();
                if (mask & 0x10) FTables.Plu.clear();
            }
            // What the folder holds afterwards is what this load delivered.
            std::error_code error;
            if (!FSettings.OutDir.empty()) {
                if (mask & 0x01)
                    std::filesystem::remove(std::filesystem::path(FSettings.OutDir) / FileName(1), error);
                if (mask & 0x10)
                    std::filesystem::remove(std::filesystem::path(FSettings.OutDir) / FileName(5), error);
            }
            Event("RESET_FILES mask=" + Hex(static_cast<int>(mask)));
            Answer(connection, ssReset, FSettings.ResetAnswer);
            return;
        }
        case CmdDFile:
            Answer(connection, ssDFile, HandlePart(connection, data));
            return;
        default:
            Event("unknown " + StepName(command) + " ignored");
    }
}

// Checks one part against the ones before it and adds it; the answer code.
int TSimScale::HandlePart(TConnection& connection, const TBytes& data) {
    if (data.size() < 7) return AnsBadDFileSize;
    const int fileCode = data[0];
    const std::size_t total = Le16(&data[1]);
    const std::size_t part = Le16(&data[3]);
    const std::size_t count = Le16(&data[5]);
    const std::string what = (fileCode == 1   ? "GOODS"
                              : fileCode == 5 ? "PLU"
                                              : "file " + Hex(fileCode)) +
                             " part " + std::to_string(part) + "/" + std::to_string(total);
    for (const TScalePartFault& fault : FSettings.PartFaults) {
        if (fault.FileCode == fileCode && static_cast<std::size_t>(fault.Part) == part) {
            Event(what + " -> " + Hex(fault.Code) + " (fault)");
            return fault.Code;
        }
    }
    if (fileCode != 1 && fileCode != 5) return AnsBadDFile;
    if (count != data.size() - 7 || count == 0 || count > PartSize || (part < total && count != PartSize)) {
        Event(what + " has " + std::to_string(data.size() - 7) + " bytes, says " + std::to_string(count));
        return AnsBadDFileSize;
    }
    TAssembly& file = fileCode == 1 ? connection.Goods : connection.Plu;
    if (part == 1) file = TAssembly{total, 1, {}};
    if (total == 0 || part != file.Next || total != file.Total) {
        Event(what + " out of order (expected part " + std::to_string(file.Next) + "/" +
              std::to_string(file.Total) + ")");
        return AnsBadDFile;
    }
    file.Bytes.insert(file.Bytes.end(), data.begin() + 7, data.end());
    ++file.Next;
    if (part == 1 || part == total) Event(what + " (" + std::to_string(count) + " bytes)");
    if (part == total) {
        TableComplete(fileCode, file.Bytes);
        file = TAssembly{};
    }
    return FSettings.DFileAnswer;
}

void TSimScale::TableComplete(int fileCode, const TBytes& bytes) {
    {
        const std::lock_guard lock(FLock);
        (fileCode == 1 ? FTables.Goods : FTables.Plu) = bytes;
        ++(fileCode == 1 ? FTables.GoodsFiles : FTables.PluFiles);
    }
    if (FSettings.OutDir.empty()) return;
    // Written aside and renamed, so that a reader never sees half a table.
    const std::filesystem::path target = std::filesystem::path(FSettings.OutDir) / FileName(fileCode);
    const std::filesystem::path temporary = target.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    Event(error ? "cannot write " + target.string() + ": " + error.message()
                : "wrote " + target.string() + " (" + std::to_string(bytes.size()) + " bytes)");
}

void TSimScale::Answer(TConnection& connection, unsigned step, int code) {
    if (FSettings.Silent & step) {
        Event("answer withheld (silent)");
        return;
    }
    if (FSettings.DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(FSettings.DelayMs));
    TBytes bytes(static_cast<std::size_t>(FSettings.Noise), 0xA5);
    const TBytes frame = Frame(static_cast<std::uint8_t>(code), {}, (FSettings.BadCrc & step) != 0);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    const std::size_t first = FSettings.Split ? bytes.size() / 2 : bytes.size();
    if (::send(connection.Socket.Fd, bytes.data(), first, MSG_NOSIGNAL) < 0) return;
    if (first < bytes.size()) {
        std::this_thread::sleep_for(SplitPause);
        ::send(connection.Socket.Fd, bytes.data() + first, bytes.size() - first, MSG_NOSIGNAL);
    }
    if (step != ssDFile || code != FSettings.DFileAnswer) Event("-> " + Hex(code));
}

}  // namespace egaiss::sim
