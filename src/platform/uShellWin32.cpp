#include <windows.h>
// These need the types of windows.h first.
#include <objbase.h>
#include <shellapi.h>

#include "platform/uShell.h"
#include "platform/uWin32Handle.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {
namespace {

bool ShellOpen(const std::wstring& file, const std::wstring& parameters) {
    // ShellExecute may need COM on this thread (file associations, URL handlers).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                      nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com)) CoUninitialize();
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace

bool StartDetached(const std::string& path, const std::vector<std::string>& args) {
    if (path.empty()) return false;
    std::wstring parameters;
    for (const std::string& arg : args) {
        if (!parameters.empty()) parameters += L' ';
        parameters += QuoteArgument(Utf8ToWide(arg));
    }
    return ShellOpen(Utf8ToWide(path), parameters);
}

bool OpenWithDesktop(const std::string& urlOrPath) {
    if (urlOrPath.empty()) return false;
    return ShellOpen(Utf8ToWide(urlOrPath), {});
}

}  // namespace egaiss::platform
