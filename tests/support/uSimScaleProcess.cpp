#include "support/uSimScaleProcess.h"

#include <csignal>
#include <filesystem>
#include <regex>

#include "support/uSimProcess.h"

namespace egaiss::test {
namespace {

namespace fs = std::filesystem;

std::string TextOf(const std::string& path) {
    return fs::exists(path) ? ReadFileText(path) : std::string();
}

TBytes BytesOf(const std::string& path) {
    const std::string text = TextOf(path);
    return TBytes(text.begin(), text.end());
}

}  // namespace

TSimScaleProcess::TSimScaleProcess(const std::string& simExe, const TTempDir& dir, const std::string& address,
                                   int port, const std::string& serial, std::vector<std::string> faults)
    : FOutDir(dir.File("scale-" + address + "-" + std::to_string(++Instances))), FOutput(FOutDir + ".out") {
    std::vector<std::string> args = {"scale",    "--bind", address,     "--port", std::to_string(port),
                                     "--serial", serial,   "--out-dir", FOutDir};
    args.insert(args.end(), faults.begin(), faults.end());
    FChild = std::make_unique<TChildProcess>(simExe, args, FOutput);
    const std::regex listening("scale listening on " + std::regex_replace(address, std::regex("\\."), "\\.") +
                               ":(\\d+)");
    WaitUntil(
        [&] {
            std::smatch match;
            const std::string output = TextOf(FOutput);
            if (std::regex_search(output, match, listening)) FPort = std::stoi(match[1]);
            return FPort != 0 || FChild->Wait(std::chrono::milliseconds(0)).has_value();
        },
        std::chrono::seconds(20));
}

TSimScaleProcess::~TSimScaleProcess() {
    FChild->Signal(SIGTERM);
    FChild->Wait(std::chrono::seconds(10));
}

std::string TSimScaleProcess::Output() const {
    return TextOf(FOutput);
}

TBytes TSimScaleProcess::Goods() const {
    return BytesOf((fs::path(FOutDir) / "goods.bin").string());
}

TBytes TSimScaleProcess::Plu() const {
    return BytesOf((fs::path(FOutDir) / "plu.bin").string());
}

}  // namespace egaiss::test
