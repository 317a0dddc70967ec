#pragma once
// Ownership of kernel handles and command-line quoting for the Win32 units. Included only by
// Windows sources.
#include <windows.h>

#include <memory>
#include <string>

namespace egaiss::platform {

struct TWin32HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
// A kernel handle (file, process, thread, job, pipe) closed when the owner goes.
using TUniqueHandle = std::unique_ptr<void, TWin32HandleCloser>;

// One argument quoted the way the C runtime splits a command line back into arguments.
inline std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

}  // namespace egaiss::platform
