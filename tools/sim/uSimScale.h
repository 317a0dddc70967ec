#pragma once
// A Massa-K label scale on a loopback address: the TCP table load (work mode, reset, goods and PLU
// files in parts) and the answer to the UDP search probe on the same port number. The tables it
// receives are put together again and written to a folder for inspection. Faults are set at start.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace egaiss::sim {

// The exchanges a fault can hit, as bits.
enum TScaleStep : unsigned {
    ssWorkMode = 1,  // 0x91 SET_WORK_MODE
    ssReset = 2,     // 0x81 RESET_FILES
    ssDFile = 4,     // 0x82 one part of a table file
    ssProbe = 8,     // 0x00 the UDP search probe
    ssAll = 15,
};

// "work-mode", "reset", "dfile", "probe" or "all"; false for anything else.
bool ParseScaleStep(const std::string& text, unsigned& step);

struct TScalePartFault {
    int FileCode = 1;  // 1 goods, 5 PLU
    int Part = 1;      // counted from 1
    int Code = 0x43;
};

struct TScaleSettings {
    std::string Bind = "127.0.0.1";  // any 127.x.x.x address
    std::uint32_t Serial = 12345678;
    std::string OutDir;  // goods.bin and plu.bin are written here; empty: kept in memory only
    bool Quiet = false;  // no line per exchange
    // Faults.
    int WorkModeAnswer = 0x51;
    int ResetAnswer = 0x41;
    int DFileAnswer = 0x42;
    int ProbeAnswer = 0x01;
    std::vector<TScalePartFault> PartFaults;
    unsigned Silent = 0;  // steps never answered (the connection stays open)
    unsigned BadCrc = 0;  // steps answered with a broken checksum
    bool Split = false;   // each TCP answer in two segments, a little apart
    int Noise = 0;        // bytes of noise before each TCP answer frame
    int DelayMs = 0;      // before each answer
};

// What arrived: the last complete table files and how many of each.
struct TScaleTables {
    std::vector<std::uint8_t> Goods;
    std::vector<std::uint8_t> Plu;
    int GoodsFiles = 0;
    int PluFiles = 0;
    int Resets = 0;
};

// True for a dotted 127.x.x.x address.
bool IsLoopbackAddress(const std::string& address);

class TSimScale {
public:
    explicit TSimScale(TScaleSettings settings);
    ~TSimScale();
    TSimScale(const TSimScale&) = delete;
    TSimScale& operator=(const TSimScale&) = delete;

    // Binds TCP and UDP on the address at `port` (0: one number free for both) and returns it;
    // throws std::runtime_error when that cannot be had or the address is not a loopback one.
    int Bind(int port);
    void Start();
    // Closes every socket and joins the serving thread.
    void Stop();

    int Port() const { return FPort; }
    const std::string& Address() const { return FSettings.Bind; }
    TScaleTables Tables() const;

private:
    struct TFd;
    struct TConnection;
    struct TAssembly;

    void Serve();
    void ServeDatagram();
    // False when the connection is to be closed.
    bool ReadConnection(TConnection& connection);
    void HandleRequest(TConnection& connection, std::uint8_t command, const std::vector<std::uint8_t>& data);
    int HandlePart(TConnection& connection, const std::vector<std::uint8_t>& data);
    void Answer(TConnection& connection, unsigned step, int code);
    void TableComplete(int fileCode, const std::vector<std::uint8_t>& bytes);
    void Event(const std::string& text) const;

    TScaleSettings FSettings;
    int FPort = 0;
    std::string FName;  // "127.0.0.2:5001"
    std::unique_ptr<TFd> FListener;
    std::unique_ptr<TFd> FUdp;
    std::unique_ptr<TFd> FWakeRead;
    std::unique_ptr<TFd> FWakeWrite;
    std::atomic<bool> FStopping{false};
    std::thread FThread;
    mutable std::mutex FLock;
    TScaleTables FTables;
};

}  // namespace egaiss::sim
