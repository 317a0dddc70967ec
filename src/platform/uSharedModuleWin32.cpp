#include <windows.h>

#include "platform/uErrors.h"
#include "platform/uSharedModule.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {

TSharedModule::TSharedModule(const std::string& path)
    : FHandle(LoadLibraryExW(Utf8ToWide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
    if (FHandle == nullptr) throw EFileError("Cannot load " + path + ": " + Win32ErrorText(GetLastError()));
}

void* TSharedModule::Symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
}

std::string SharedModuleFileName(const std::string& base) {
    return base + ".dll";
}

}  // namespace egaiss::platform
