// The check and install blocks of a preparation manifest, read by the environment checks over a
// system of fixed facts (a few programs, services and Java runtimes; time passes only in Sleep).
// The UTM and the server answer every request with 200 "OK".
#include "prepare/uEnvChecker.h"
#include "uFuzzHttp.h"
#include "uFuzzSupport.h"

using namespace egaiss;
using namespace egaiss::platform;

namespace {

class TFixedFacts final : public TSystemFacts {
public:
    std::vector<TInstalledProgram> InstalledPrograms(TProgramSource) override {
        return {{"Java 8 Update 301", "Oracle Corporation", "C:\\Program Files\\Java\\jre1.8.0_301"},
                {"UTM", "EGAIS", "C:\\UTM"}};
    }
    std::vector<TJavaRegistryEntry> JavaRegistryEntries() override {
        return {{"1.8", "C:\\Java8"}, {"11", {}}};
    }
    std::vector<std::string> JavaSearchFolders() override { return {"C:\\Program Files\\Java"}; }
    std::string JavaProgramName() override { return "java"; }
    std::optional<std::string> RunJavaVersion(const std::string& program) override {
        if (program.find('8') == std::string::npos) return std::nullopt;
        return "java version \"1.8.0_301\"";
    }
    std::vector<std::string> ServiceNames() override { return {"Transport", "EgaisUTM", "Spooler"}; }
    std::string ServiceImagePath(const std::string& name) override {
        return name == "Spooler" ? "C:\\Windows\\spoolsv.exe" : "C:\\UTM\\transporter\\bin\\transport.exe";
    }
    std::optional<int> ServiceState(const std::string& name) override {
        if (name == "Spooler") return ServiceRunning;
        if (name == "Transport" || name == "EgaisUTM") return ServiceStopped;
        return std::nullopt;
    }
    TServiceStartResult RequestServiceStart(const std::string&) override {
        return {TServiceStart::ssAccepted, {}};
    }
    TCpuArchitecture NativeArchitecture() override { return TCpuArchitecture::caX64; }
    std::optional<std::string> EnvironmentVariable(const std::string&) override { return std::nullopt; }
    bool FileExists(const std::string&) override { return false; }
    bool FolderExists(const std::string&) override { return false; }
    std::vector<std::string> FindFiles(const std::string&, const std::string&) override { return {}; }
    std::chrono::steady_clock::time_point Now() override { return FNow; }
    void Sleep(std::chrono::milliseconds duration) override { FNow += duration; }

private:
    std::chrono::steady_clock::time_point FNow;
};

void RunBlocks(const TJsonValue& component) {
    TFixedFacts facts;
    TEnvChecker checker(facts);
    try {
        checker.RunCheck(component, fuzz::FuzzAgentConfig());
    } catch (const EJsonError&) {
        // A check block without a usable "type".
    }
    if (const TJsonValue* install = component.Find("install")) checker.RunAction(*install);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::SilenceLog();
    fuzz::SetHttpAnswer(200, ToBytes("OK"));
    TBootstrapManifest manifest([] { return std::chrono::steady_clock::time_point{}; });
    try {
        manifest.ParseText(fuzz::AsString(data, size));
    } catch (const EJsonError&) {
        return 0;
    }
    if (const TJsonValue* components = manifest.Components()) {
        for (const TJsonValue& component : components->Items())
            RunBlocks(component);
    }
    return 0;
}
