#pragma once
// What the environment checks ask of the operating system: installed programs, Java runtimes,
// services, the processor architecture, files and folders. Behind one interface so that the check
// heuristics built on these facts run, and are tested, the same on every platform.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace egaiss::platform {

// One entry of the system's list of installed programs; fields the system does not keep are empty.
struct TInstalledProgram {
    std::string DisplayName;
    std::string Publisher;
    std::string InstallLocation;

    bool operator==(const TInstalledProgram&) const = default;
};

// Where installed-program entries are registered. POSIX keeps one machine-wide list.
enum class TProgramSource {
    psMachine,    // machine-wide, native view (the 64-bit view on 64-bit Windows)
    psMachine32,  // machine-wide entries of 32-bit programs on 64-bit Windows (WOW6432Node)
    psUser,       // the current user's own entries
};

// A Java runtime as the Windows registry records it: the version subkey and its "JavaHome" value.
struct TJavaRegistryEntry {
    std::string Version;
    std::optional<std::string> JavaHome;

    bool operator==(const TJavaRegistryEntry&) const = default;
};

enum class TCpuArchitecture { caX64, caX86, caOther };

// Service states, numbered as the Windows service manager numbers them; other systems map onto them.
inline constexpr int ServiceStopped = 1;
inline constexpr int ServiceStartPending = 2;
inline constexpr int ServiceStopPending = 3;
inline constexpr int ServiceRunning = 4;

enum class TServiceStart {
    ssAccepted,        // the system took the request; the service may still be starting
    ssAlreadyRunning,  // nothing to do
    ssFailed,          // see Reason
};

struct TServiceStartResult {
    TServiceStart Outcome = TServiceStart::ssFailed;
    std::string Reason;  // the system's message when the request failed
};

// Every operation reports absence or failure through its result and never raises.
class TSystemFacts {
public:
    virtual ~TSystemFacts() = default;

    // Installed programs of one source in the system's order.
    virtual std::vector<TInstalledProgram> InstalledPrograms(TProgramSource source) = 0;

    // Java runtimes the system registry records, in lookup order; empty where there is no registry.
    virtual std::vector<TJavaRegistryEntry> JavaRegistryEntries() = 0;
    // Folders searched recursively for the Java program, in order.
    virtual std::vector<std::string> JavaSearchFolders() = 0;
    // File name of the Java program: "java.exe" on Windows, "java" elsewhere.
    virtual std::string JavaProgramName() = 0;
    // Output (standard output and error, UTF-8) of "<program> -version", the program run hidden with a
    // bounded wait; a program given without folder is found as the system's shell would find it.
    // Nothing when it could not be started.
    virtual std::optional<std::string> RunJavaVersion(const std::string& program) = 0;

    // Names of the services the system knows, in its order.
    virtual std::vector<std::string> ServiceNames() = 0;
    // The program a service runs as the system records it; empty when unknown.
    virtual std::string ServiceImagePath(const std::string& name) = 0;
    // The current state (ServiceStopped ... ServiceRunning, or another number), or nothing when the
    // service cannot be opened or queried.
    virtual std::optional<int> ServiceState(const std::string& name) = 0;
    // Asks the system to start a service, without waiting for it to run.
    virtual TServiceStartResult RequestServiceStart(const std::string& name) = 0;

    virtual TCpuArchitecture NativeArchitecture() = 0;
    virtual std::optional<std::string> EnvironmentVariable(const std::string& name) = 0;

    // Portable defaults over std::filesystem.
    virtual bool FileExists(const std::string& path);
    virtual bool FolderExists(const std::string& path);
    // Every file named `fileName` (without case on Windows) below `folder`, in the order the search
    // meets them. Folder links are not followed; a folder that cannot be read ends the search early.
    virtual std::vector<std::string> FindFiles(const std::string& folder, const std::string& fileName);

    // The clock of waits for a starting service; tests replace both.
    virtual std::chrono::steady_clock::time_point Now();
    virtual void Sleep(std::chrono::milliseconds duration);
};

// Where the POSIX implementation looks; the Windows one reads the registry and ignores them.
struct TSystemFactsOptions {
    std::string DpkgStatusPath = "/var/lib/dpkg/status";
    std::string SystemctlProgram = "systemctl";
    // Longest wait for one run of `java -version` or of the service tool.
    std::chrono::milliseconds ProgramTimeout{15000};
};

// The facts of the running system.
std::unique_ptr<TSystemFacts> NewSystemFacts(const TSystemFactsOptions& options = {});

// Installed packages of a dpkg status database: the package name as DisplayName, the maintainer as
// Publisher, no install location. Packages not fully installed are left out.
std::vector<TInstalledProgram> ParseDpkgStatus(std::string_view text);

// The program path of a systemd "ExecStart" property ("{ path=/usr/bin/x ; argv[]=... }"); empty
// when there is none.
std::string ParseSystemdExecPath(std::string_view execStart);

}  // namespace egaiss::platform
