// Stands in for a downloaded installer in the install tests, on every system: writes its process id
// to "installer.pid" and its arguments, one a line, to "installer.args" in the folder that
// EGAISS_TEST_INSTALLER_DIR names, then does what EGAISS_TEST_INSTALLER_ACTION says:
//   exit N   ends with exit code N
//   mark     creates "installed.marker" there, then sleeps 120 s
//   sleep    sleeps 120 s
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/uPath.h"
#include "platform/uSystem.h"

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(egaiss::Utf8Path(path), std::ios::binary) << text;
}

}  // namespace

int main(int argc, char** argv) {
    using egaiss::JoinPath;
    const std::string folder = Environment("EGAISS_TEST_INSTALLER_DIR");
    std::string args;
    for (int i = 1; i < argc; ++i)
        args += std::string(argv[i]) + "\n";
    WriteFile(JoinPath(folder, "installer.args"), args);
    WriteFile(JoinPath(folder, "installer.pid"), std::to_string(egaiss::platform::ProcessId()) + "\n");

    const std::string action = Environment("EGAISS_TEST_INSTALLER_ACTION");
    if (action.rfind("exit ", 0) == 0) return std::atoi(action.c_str() + 5);
    if (action == "mark") WriteFile(JoinPath(folder, "installed.marker"), "");
    std::this_thread::sleep_for(std::chrono::seconds(120));
    return 0;
}
