#pragma once
// One `egaiss-sim scale` child on a 127.x.x.x address: the TCP table load and the UDP search
// answer on one port.
#include <memory>
#include <string>
#include <vector>

#include "platform/uBytes.h"
#include "support/uChildProcess.h"
#include "support/uTestDirs.h"

namespace egaiss::test {

class TSimScaleProcess {
public:
    // Returns once the scale listens (or the child has ended: Port() is then 0). Port 0 lets the
    // system pick one. The scale writes its tables into a folder of `dir`.
    TSimScaleProcess(const std::string& simExe, const TTempDir& dir, const std::string& address, int port,
                     const std::string& serial, std::vector<std::string> faults = {});
    ~TSimScaleProcess();
    TSimScaleProcess(const TSimScaleProcess&) = delete;
    TSimScaleProcess& operator=(const TSimScaleProcess&) = delete;

    int Port() const { return FPort; }
    std::string Output() const;
    TBytes Goods() const;
    TBytes Plu() const;

private:
    static inline int Instances = 0;  // each gets folders of its own
    std::string FOutDir;
    std::string FOutput;
    std::unique_ptr<TChildProcess> FChild;
    int FPort = 0;
};

}  // namespace egaiss::test
