#include "platform/uProcessShared.h"

#include <algorithm>

namespace egaiss::platform::processdetail {

void TChildRecord::Keep(const char* data, std::size_t size) {
    if (Text.size() < MaxOutput) Text.append(data, std::min(size, MaxOutput - Text.size()));
}

void CheckCanStart(bool started, const std::string& program) {
    if (started) throw EProcessError("Process already started: " + program);
    if (program.empty()) throw EProcessError("Cannot start a program without a name");
}

}  // namespace egaiss::platform::processdetail
