// A program for the Windows process and shell tests, which cannot lean on a POSIX shell: the first
// argument says what it does.
//   echo ARGS...     prints each argument as "[arg]" on a line of its own
//   exit N           ends with exit code N
//   flood N          writes N bytes to standard output, then "done" to standard error
//   sleep MS         sleeps
//   write FILE TEXT  writes TEXT to FILE
//   pidsleep FILE    writes its process id to FILE, then sleeps 30 s
//   spawn FILE       starts "pidsleep FILE" on its own, prints "started" and sleeps 30 s
//   -version         answers as a Java runtime does, on standard error
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <io.h>

#include "platform/uFileSystem.h"
#include "platform/uProcess.h"
#include "platform/uShell.h"
#include "platform/uSystem.h"

namespace {

using namespace egaiss::platform;

void SleepMs(long long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

int main() {
    // argv is in the ANSI code page; the command line split the runtime's way keeps UTF-8.
    std::vector<std::string> args = SplitCommandLine(CommandLine());
    args.erase(args.begin());
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string what = args.empty() ? "" : args[0];
    if (what == "echo") {
        for (std::size_t i = 1; i < args.size(); ++i)
            std::printf("[%s]\n", args[i].c_str());
    } else if (what == "exit" && args.size() == 2) {
        return std::atoi(args[1].c_str());
    } else if (what == "flood" && args.size() == 2) {
        const std::string block(4096, 'x');
        for (long long left = std::atoll(args[1].c_str()); left > 0;
             left -= static_cast<long long>(block.size()))
            std::fwrite(block.data(), 1, static_cast<std::size_t>(std::min<long long>(left, 4096)), stdout);
        std::fflush(stdout);
        std::fputs("done", stderr);
    } else if (what == "sleep" && args.size() == 2) {
        SleepMs(std::atoll(args[1].c_str()));
    } else if (what == "write" && args.size() == 3) {
        WriteWholeFile(args[1], args[2]);
    } else if (what == "pidsleep" && args.size() == 2) {
        WriteWholeFile(args[1], std::to_string(ProcessId()));
        SleepMs(30000);
    } else if (what == "spawn" && args.size() == 2) {
        if (!StartDetached(ExecutablePath(), {"pidsleep", args[1]})) return 2;
        std::puts("started");
        std::fflush(stdout);
        SleepMs(30000);
    } else if (what == "-version") {
        std::fputs("java version \"1.8.0_392\"\n", stderr);
    } else {
        std::fputs("unknown action\n", stderr);
        return 64;
    }
    return 0;
}
