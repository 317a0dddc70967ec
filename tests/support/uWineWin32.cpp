#include <windows.h>

#include "support/uWine.h"

namespace egaiss::test {

bool RunningUnderWine() {
    // Wine's ntdll exports its version; Windows' does not.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace egaiss::test
