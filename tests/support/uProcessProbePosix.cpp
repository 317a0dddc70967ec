#include <signal.h>

#include <cerrno>

#include "support/uProcessProbe.h"

namespace egaiss::test {

bool ProcessAlive(std::uint32_t pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace egaiss::test
