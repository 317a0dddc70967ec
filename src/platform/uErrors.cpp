#include "platform/uErrors.h"

#include <memory>
#include <typeinfo>
#if defined(__GNUG__)
#include <cxxabi.h>
#endif

namespace egaiss {

std::string ExceptionClassName(const std::exception& error) {
    if (const auto* own = dynamic_cast<const EAgentError*>(&error)) return own->ClassName();
    const char* mangled = typeid(error).name();
#if defined(__GNUG__)
    int status = 0;
    const std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    if (status == 0 && demangled) return demangled.get();
#endif
    return mangled;
}

}  // namespace egaiss
