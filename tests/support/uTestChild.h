#pragma once
// The path of egaiss-test-child (tests/platform/helpers), built beside the Windows test programs.
#include <string>

#include "platform/uPath.h"
#include "platform/uSystem.h"

namespace egaiss::test {

inline std::string TestChildPath() {
    return PathUtf8(Utf8Path(platform::ExecutablePath()).parent_path() / "egaiss-test-child.exe");
}

}  // namespace egaiss::test
