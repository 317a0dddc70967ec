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
    if (RegCreateKeyExW(HKEY_CURRENT_USER, RunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &run.Key, nullptr) !=
        ERROR_SUCCESS) {
        return;  // a Run key that cannot be opened leaves the entry as it is
    }
    const std::wstring data = L"\"" + Utf8ToWide(executablePath) + L"\"";
    const LSTATUS status =
        RegSetValueExW(run.Key, Utf8ToWide(AutostartEntryName).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) throw EFileError("Cannot write the autostart entry: " + Win32ErrorText(status));
}

void RemoveAutostartEntry() {
    TRegKey run;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_SET_VALUE, &run.Key) != ERROR_SUCCESS) return;
    RegDeleteValueW(run.Key, Utf8ToWide(AutostartEntryName).c_str());
}

}  // namespace egaiss::platform
