#pragma once
// What the harnesses share: turning the fuzzer's bytes into the readers' input types, a log that
// costs nothing, a scratch folder for readers of files, and the failure of a broken invariant.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/uBytes.h"

namespace egaiss::fuzz {

inline std::string AsString(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}
inline TBytes AsBytes(const std::uint8_t* data, std::size_t size) {
    return {data, data + size};
}

// The input cut at every `separator`; always at least one part.
std::vector<std::string> SplitInput(std::string_view text, char separator);
// The text before the first `separator` and the text after it (empty without one).
std::pair<std::string, std::string> SplitOnce(std::string_view text, char separator);

// Points the data folder, and with it agent.log, at a path below a plain file: every log line is
// formatted as usual but its write fails at once, so that millions of runs leave no file behind.
// Idempotent.
void SilenceLog();

// A folder of this process under the system's temporary folder, removed at exit. The data folder
// (agent.ini, agent.log) and the autostart folder point at it; a harness that calls it does not
// call SilenceLog.
const std::string& ScratchDir();

// Reports a broken invariant of a reader and aborts, so that libFuzzer keeps the input.
[[noreturn]] void FailInvariant(const std::string& what);
inline void Require(bool holds, const std::string& what) {
    if (!holds) FailInvariant(what);
}

}  // namespace egaiss::fuzz
