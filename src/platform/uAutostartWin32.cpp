#include <windows.h>

#include "platform/uAutostart.h"
#include "platform/uErrors.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {
namespace {

constexpr const wchar_t* RunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct TRegKey {
    HKEY Key = nullptr;
    ~TRegKey() {
        if (Key != nullptr) RegCloseKey(Key);
    }
};

}  // namespace

std::string AutostartEntryLocation() {
    return "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\" + std::string(AutostartEntryName);
}

void WriteAutostartEntry(const std::string& executablePath) {
    TRegKey run;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, RunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &run.Key,
                        nullptr) != ERROR_SUCCESS) {
        return;  // a Run key that cannot be opened leaves the entry as it is
    }
    const std::wstring data = L"\"" + Utf8ToWide(executablePath) + L"\"";
    const LSTATUS status = RegSetValueExW(run.Key, Utf8ToWide(AutostartEntryName).c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(data.c_str()),
                                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS)
        throw EFileError("Cannot write the autostart entry: " + Win32ErrorText(status));
}

std::optional<std::string> AutostartEntryCommand() {
    const std::wstring name = Utf8ToWide(AutostartEntryName);
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, RunKey, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring data(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, RunKey, name.c_str(), RRF_RT_REG_SZ, nullptr, data.data(), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    data.resize(wcsnlen(data.c_str(), data.size()));
    return WideToUtf8(data);
}

void RemoveAutostartEntry() {
    TRegKey run;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_SET_VALUE, &run.Key) != ERROR_SUCCESS) return;
    RegDeleteValueW(run.Key, Utf8ToWide(AutostartEntryName).c_str());
}

}  // namespace egaiss::platform
