#include <dlfcn.h>

#include "platform/uErrors.h"
#include "platform/uSharedModule.h"

namespace egaiss::platform {

TSharedModule::TSharedModule(const std::string& path) : FHandle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (FHandle == nullptr) {
        const char* reason = dlerror();
        throw EFileError("Cannot load " + path + ": " + (reason != nullptr ? reason : "unknown error"));
    }
}

void* TSharedModule::Symbol(const char* name) const {
    return dlsym(FHandle, name);
}

std::string SharedModuleFileName(const std::string& base) {
    return base + ".so";
}

}  // namespace egaiss::platform
