#include "platform/uProcess.h"

#include <mutex>

#include "platform/uProcessShared.h"

namespace egaiss::platform {

std::optional<int> TProcess::ExitCode() const {
    const processdetail::TChildRecord& record = Record();
    const std::lock_guard guard(record.Lock);
    return record.ExitCode;
}

const std::string& TProcess::Output() const {
    return Record().Text;
}

void TProcess::SetMaxOutputBytes(std::size_t bytes) {
    Record().MaxOutput = bytes;
}

std::vector<std::string> SplitCommandLine(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool inArg = false;
    bool quoted = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArg) args.push_back(std::move(current));
            current.clear();
            inArg = false;
            ++i;
            continue;
        }
        inArg = true;
        if (c == '\\') {
            std::size_t count = 0;
            while (i < text.size() && text[i] == '\\') {
                ++count;
                ++i;
            }
            if (i < text.size() && text[i] == '"') {
                current.append(count / 2, '\\');
                if (count % 2 == 1) {
                    current += '"';
                    ++i;
                }
            } else {
                current.append(count, '\\');
            }
            continue;
        }
        if (c == '"') {
            // Two quotes inside a quoted part stand for one quote.
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                current += '"';
                i += 2;
                continue;
            }
            quoted = !quoted;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArg) args.push_back(std::move(current));
    return args;
}

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          std::chrono::milliseconds timeout) {
    TProcess process;
    process.StartCaptured(program, args);
    TProcessResult result;
    if (!process.WaitForExit(timeout)) {
        process.Terminate();
        result.TimedOut = true;
    }
    result.ExitCode = process.ExitCode().value_or(-1);
    result.Output = process.Output();
    return result;
}

}  // namespace egaiss::platform
