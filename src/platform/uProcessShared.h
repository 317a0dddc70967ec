#pragma once
// What TProcess keeps alike on every system; not part of its interface.
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include "platform/uProcess.h"

namespace egaiss::platform::processdetail {

// A child's exit code once it is known, and the output kept of it. Each system's TProcess::TImpl
// derives from it.
struct TChildRecord {
    // Guards ExitCode: an elevated child may be waited for and ended from two threads.
    mutable std::mutex Lock;
    std::optional<int> ExitCode;
    std::string Text;
    std::size_t MaxOutput = DefaultMaxProcessOutput;

    // Keeps what fits below MaxOutput; the rest is dropped.
    void Keep(const char* data, std::size_t size);
};

// Raises EProcessError when an object that already started a child, or a start without a program,
// is asked to start one.
void CheckCanStart(bool started, const std::string& program);

}  // namespace egaiss::platform::processdetail
