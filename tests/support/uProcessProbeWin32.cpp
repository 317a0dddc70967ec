#include <windows.h>

#include "support/uProcessProbe.h"

namespace egaiss::test {

bool ProcessAlive(std::uint32_t pid) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

}  // namespace egaiss::test
