#pragma once
// A shared library loaded at run time (dlopen, LoadLibrary): the window front-end is one, so that a
// process that shows no window never maps the window libraries.
#include <string>

namespace egaiss::platform {

class TSharedModule {
public:
    // Loads the module at `path`, resolving all its symbols now; raises EFileError with the loader's
    // reason when it cannot be loaded.
    explicit TSharedModule(const std::string& path);
    // The module stays loaded until the process ends: code of it may still run in other threads'
    // exit handlers, and unloading buys nothing for a process that loads it once.
    ~TSharedModule() = default;
    TSharedModule(const TSharedModule&) = delete;
    TSharedModule& operator=(const TSharedModule&) = delete;

    // The address of an exported symbol; null when the module has none of that name.
    void* Symbol(const char* name) const;

    template <typename TFunction>
    TFunction* Function(const char* name) const {
        return reinterpret_cast<TFunction*>(Symbol(name));
    }

private:
    void* FHandle;
};

// The file name of a module called `base` on this system ("base.so", "base.dll").
std::string SharedModuleFileName(const std::string& base);

}  // namespace egaiss::platform
