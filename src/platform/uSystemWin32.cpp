#include <windows.h>

#include <vector>

#include "platform/uProcess.h"
#include "platform/uSystem.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {

std::string ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return WideToUtf8(std::wstring(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
    const std::wstring wideName = Utf8ToWide(name);
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(length);
    return WideToUtf8(value);
}

std::string ComputerName() {
    if (auto name = EnvironmentVariable("COMPUTERNAME"); name && !name->empty()) return *name;
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(buffer, &size) ? WideToUtf8(std::wstring(buffer, size)) : std::string();
}

std::string UserName() {
    if (auto name = EnvironmentVariable("USERNAME"); name && !name->empty()) return *name;
    wchar_t buffer[257] = {};
    DWORD size = 257;
    return GetUserNameW(buffer, &size) && size > 0 ? WideToUtf8(std::wstring(buffer, size - 1))
                                                   : std::string();
}

std::string TempFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring folder(buffer, length);
    // GetTempPath may answer the short form; the long form is what users recognise.
    std::vector<wchar_t> longForm(32768);
    const DWORD longLength =
        GetLongPathNameW(folder.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
    if (longLength > 0 && longLength < longForm.size()) folder.assign(longForm.data(), longLength);
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return WideToUtf8(folder);
}

std::string ShortPath(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(wide.c_str(), buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return path;
    return WideToUtf8(std::wstring(buffer, length));
}

TCodePages SystemCodePages() {
    return {static_cast<int>(GetACP()), static_cast<int>(GetOEMCP()), static_cast<int>(GetACP())};
}

std::string CommandLine() {
    return WideToUtf8(GetCommandLineW());
}

std::vector<std::string> ProgramArguments(int, char**) {
    std::vector<std::string> args = SplitCommandLine(CommandLine());
    if (!args.empty()) args.erase(args.begin());
    return args;
}

std::uint32_t ProcessId() {
    return GetCurrentProcessId();
}

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

std::uint32_t TickCountMs() {
    return GetTickCount();
}

}  // namespace egaiss::platform
