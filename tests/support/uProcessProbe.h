#pragma once
// Whether a process that a test started indirectly (and knows only by its id) still exists.
#include <cstdint>

namespace egaiss::test {

bool ProcessAlive(std::uint32_t pid);

}  // namespace egaiss::test
