#include <windows.h>

#include <type_traits>

#include "platform/uProcess.h"
#include "platform/uSystem.h"
#include "platform/uSystemFacts.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform {
namespace {

struct TKeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using TUniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, TKeyCloser>;

struct TServiceCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using TUniqueService = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, TServiceCloser>;

constexpr const wchar_t* UninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* UninstallKey32 =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* ServicesKey = L"SYSTEM\\CurrentControlSet\\Services";

WORD NativeProcessorArchitecture() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

bool IsWindows64() {
    return NativeProcessorArchitecture() != PROCESSOR_ARCHITECTURE_INTEL;
}

// The view that shows the machine's own keys: the 64-bit view on 64-bit Windows, else the only one.
REGSAM NativeView() {
    return IsWindows64() ? KEY_WOW64_64KEY : 0;
}

TUniqueKey OpenKey(HKEY root, const std::wstring& path, REGSAM view = 0) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return {};
    return TUniqueKey(key);
}

// Subkey names in enumeration order; an index that fails to enumerate (a name too long for the
// 256-character buffer) is skipped.
std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        const LONG result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result == ERROR_SUCCESS) names.emplace_back(name, length);
    }
    return names;
}

// A string or expandable-string value as stored (not expanded); nothing for other types.
std::optional<std::string> ReadRegString(HKEY key, const wchar_t* valueName) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        const LONG result =
            RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes);
        if (result == ERROR_MORE_DATA) continue;  // the value grew meanwhile
        if (result != ERROR_SUCCESS) return std::nullopt;
        value.resize(bytes / sizeof(wchar_t));
        while (!value.empty() && value.back() == L'\0')
            value.pop_back();
        return WideToUtf8(value);
    }
    return std::nullopt;
}

std::string AnsiToUtf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), length);
    return WideToUtf8(wide);
}

TUniqueService OpenServiceFor(const std::string& name, DWORD access, DWORD& error) {
    TUniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        error = GetLastError();
        return {};
    }
    TUniqueService service(OpenServiceW(manager.get(), Utf8ToWide(name).c_str(), access));
    if (!service) error = GetLastError();
    return service;
}

class TWin32SystemFacts final : public TSystemFacts {
public:
    explicit TWin32SystemFacts(TSystemFactsOptions options) : FOptions(std::move(options)) {}

    std::vector<TInstalledProgram> InstalledPrograms(TProgramSource source) override {
        HKEY root = HKEY_LOCAL_MACHINE;
        const wchar_t* path = UninstallKey;
        REGSAM view = 0;
        switch (source) {
            case TProgramSource::psMachine:
                view = NativeView();
                break;
            case TProgramSource::psMachine32:
                path = UninstallKey32;
                break;
            case TProgramSource::psUser:
                root = HKEY_CURRENT_USER;
                break;
        }
        std::vector<TInstalledProgram> programs;
        const TUniqueKey key = OpenKey(root, path, view);
        if (!key) return programs;
        for (const auto& name : SubkeyNames(key.get())) {
            const TUniqueKey entry = OpenKey(key.get(), name, view);
            if (!entry) continue;
            programs.push_back({ReadRegString(entry.get(), L"DisplayName").value_or(""),
                                ReadRegString(entry.get(), L"Publisher").value_or(""),
                                ReadRegString(entry.get(), L"InstallLocation").value_or("")});
        }
        return programs;
    }

    std::vector<TJavaRegistryEntry> JavaRegistryEntries() override {
        struct TJavaKey {
            const wchar_t* Path;
            REGSAM View;
        };
        const TJavaKey keys[] = {
            {L"SOFTWARE\\JavaSoft\\JRE", NativeView()},
            {L"SOFTWARE\\JavaSoft\\Java Runtime Environment", NativeView()},
            {L"SOFTWARE\\WOW6432Node\\JavaSoft\\JRE", 0},
            {L"SOFTWARE\\WOW6432Node\\JavaSoft\\Java Runtime Environment", 0},
        };
        std::vector<TJavaRegistryEntry> entries;
        for (const auto& javaKey : keys) {
            const TUniqueKey key = OpenKey(HKEY_LOCAL_MACHINE, javaKey.Path, javaKey.View);
            if (!key) continue;
            for (const auto& version : SubkeyNames(key.get())) {
                const TUniqueKey entry = OpenKey(key.get(), version, javaKey.View);
                entries.push_back(
                    {WideToUtf8(version), entry ? ReadRegString(entry.get(), L"JavaHome") : std::nullopt});
            }
        }
        return entries;
    }

    std::vector<std::string> JavaSearchFolders() override {
        return {"C:\\Program Files\\Java",
                "C:\\Program Files (x86)\\Java",
                "C:\\Program Files\\Eclipse Adoptium",
                "C:\\Program Files\\Adoptium",
                "C:\\UTM",
                "C:\\Program Files\\Kontur",
                "C:\\Program Files (x86)\\Kontur"};
    }

    std::string JavaProgramName() override { return "java.exe"; }

    std::optional<std::string> RunJavaVersion(const std::string& program) override {
        const bool hasFolder = program.find_first_of("\\/:") != std::string::npos;
        try {
            // A bare name goes through the command interpreter, so the search path decides.
            const auto run = hasFolder
                                 ? RunProcess(program, {"-version"}, FOptions.ProgramTimeout)
                                 : RunProcess("cmd.exe", {"/c", "java", "-version"}, FOptions.ProgramTimeout);
            return AnsiToUtf8(run.Output);
        } catch (const EProcessError&) {
            return std::nullopt;
        }
    }

    std::vector<std::string> ServiceNames() override {
        std::vector<std::string> names;
        const TUniqueKey key = OpenKey(HKEY_LOCAL_MACHINE, ServicesKey);
        if (!key) return names;
        for (const auto& name : SubkeyNames(key.get()))
            names.push_back(WideToUtf8(name));
        return names;
    }

    std::string ServiceImagePath(const std::string& name) override {
        const TUniqueKey key =
            OpenKey(HKEY_LOCAL_MACHINE, std::wstring(ServicesKey) + L"\\" + Utf8ToWide(name));
        return key ? ReadRegString(key.get(), L"ImagePath").value_or("") : std::string();
    }

    std::optional<int> ServiceState(const std::string& name) override {
        DWORD error = 0;
        const TUniqueService service = OpenServiceFor(name, SERVICE_QUERY_STATUS, error);
        if (!service) return std::nullopt;
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service.get(), &status)) return std::nullopt;
        return static_cast<int>(status.dwCurrentState);
    }

    TServiceStartResult RequestServiceStart(const std::string& name) override {
        if (ServiceState(name) == ServiceRunning) return {TServiceStart::ssAlreadyRunning, {}};
        DWORD error = 0;
        const TUniqueService service = OpenServiceFor(name, SERVICE_QUERY_STATUS | SERVICE_START, error);
        if (!service) return {TServiceStart::ssFailed, Win32ErrorText(error)};
        if (!StartServiceW(service.get(), 0, nullptr)) {
            error = GetLastError();
            if (error == ERROR_SERVICE_ALREADY_RUNNING) return {TServiceStart::ssAlreadyRunning, {}};
            return {TServiceStart::ssFailed, Win32ErrorText(error)};
        }
        return {TServiceStart::ssAccepted, {}};
    }

    TCpuArchitecture NativeArchitecture() override {
        switch (NativeProcessorArchitecture()) {
            case PROCESSOR_ARCHITECTURE_AMD64:
                return TCpuArchitecture::caX64;
            case PROCESSOR_ARCHITECTURE_INTEL:
                return TCpuArchitecture::caX86;
            default:
                return TCpuArchitecture::caOther;
        }
    }

    std::optional<std::string> EnvironmentVariable(const std::string& name) override {
        return platform::EnvironmentVariable(name);
    }

private:
    TSystemFactsOptions FOptions;
};

}  // namespace

std::unique_ptr<TSystemFacts> NewSystemFacts(const TSystemFactsOptions& options) {
    return std::make_unique<TWin32SystemFacts>(options);
}

}  // namespace egaiss::platform
