#include <windows.h>

#include "platform/uWin32Text.h"
#include "support/uScopedEnv.h"

namespace egaiss::test {

void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
    // The C runtime keeps a copy of its own; set both so that getenv agrees with the system.
    const std::wstring wideName = platform::Utf8ToWide(name);
    const std::wstring wideValue = value ? platform::Utf8ToWide(*value) : std::wstring();
    SetEnvironmentVariableW(wideName.c_str(), value ? wideValue.c_str() : nullptr);
    _wputenv_s(wideName.c_str(), wideValue.c_str());
}

}  // namespace egaiss::test
