#include "prepare/uBootstrapInstall.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "clients/uHttpErrors.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "platform/uFileSystem.h"
#include "platform/uHttpClient.h"
#include "platform/uPath.h"
#include "platform/uProcess.h"
#include "platform/uSha256.h"
#include "platform/uSystem.h"

namespace egaiss {
namespace {

namespace fs = std::filesystem;

constexpr const char* NoInstallerMessage = "No installer file for this item.";
constexpr const char* CancelledMessage = "Install cancelled by user";

std::mutex& RefreshLock() {
    static std::mutex lock;
    return lock;
}

std::function<void()>& RefreshHook() {
    static std::function<void()> hook;
    return hook;
}

void RunRefreshHook() {
    std::function<void()> hook;
    {
        const std::lock_guard guard(RefreshLock());
        hook = RefreshHook();
    }
    if (!hook) return;
    try {
        hook();
    } catch (...) {
        // Logging never raises; a failed view refresh is not worth a line of its own.
    }
}

std::string FoldLower(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

std::string FoldUpper(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FoldLower(a) == FoldLower(b);
}

std::string FileNameOf(const std::string& path) {
    return PathUtf8(Utf8Path(path).filename());
}

// "yyyymmdd-hhnnss" in local time.
std::string LocalStamp() {
    const std::time_t now = std::time(nullptr);
    const std::tm local = platform::LocalTime(now);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

bool PathExists(const std::string& path) {
    std::error_code error;
    return fs::symlink_status(Utf8Path(path), error).type() != fs::file_type::not_found;
}

// A file that cannot be deleted (in use by an earlier installer) keeps its name; the download then
// goes to a new name beside it.
std::string FreeTarget(const std::string& folder, const std::string& file) {
    std::string target = folder + file;
    if (!PathExists(target)) return target;
    std::error_code error;
    if (fs::remove(Utf8Path(target), error) && !error) return target;
    const fs::path name = Utf8Path(file);
    std::string alternate = folder + PathUtf8(name.stem()) + "-" + LocalStamp() + PathUtf8(name.extension());
    LogBootstrap("Target file locked, using alternate path: " + alternate);
    return alternate;
}

void DeleteFileOrRaise(const std::string& path) {
    if (!PathExists(path)) return;
    std::error_code error;
    fs::remove(Utf8Path(path), error);
    if (error) throw EFileError("Cannot delete " + path + ": " + error.message());
}

std::uint64_t FileSizeOrRaise(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(Utf8Path(path), error);
    if (error) throw EFileError("Cannot read the size of " + path + ": " + error.message());
    return size;
}

}  // namespace

void LogBootstrap(const std::string& text) {
    if (!TrimControl(text).empty()) LogInfo("[Bootstrap] " + text);
    RunRefreshHook();
}

void LogBootstrapError(const std::string& text) {
    if (!TrimControl(text).empty()) LogError("[Bootstrap] " + text);
    RunRefreshHook();
}

void SetBootstrapLogRefresh(std::function<void()> refresh) {
    const std::lock_guard guard(RefreshLock());
    RefreshHook() = std::move(refresh);
}

std::string ApplySilentArgs(const std::string& type, const std::string& args) {
    std::string result = TrimControl(args);
    if (EqualsNoCase(type, "msi")) {
        const std::string folded = FoldLower(result);
        if (!Contains(folded, "/quiet") && !Contains(folded, "/qn"))
            result = TrimControl(result + " /quiet /norestart");
    } else if (EqualsNoCase(type, "exe")) {
        const std::string folded = FoldUpper(result);
        if (!Contains(folded, "SILENT") && !Contains(folded, "/S"))
            result = TrimControl(result + " /VERYSILENT /SUPPRESSMSGBOXES /NORESTART");
    }
    return result;
}

std::string ItemTitle(const TJsonValue* component) {
    if (component == nullptr) return {};
    std::string title;
    if (TryGetJsonString(*component, "title", title)) return title;
    return GetJsonString(*component, "id");
}

bool IsPlainFileName(const std::string& name) {
    if (name.find_first_not_of(". ") == std::string::npos) return false;  // also "", "." and ".."
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || code == 127 || c == '/' || c == '\\' || c == ':') return false;
    }
    return true;
}

bool IsActionInstall(const TJsonValue& installBlock) {
    std::string type;
    return TryGetJsonString(installBlock, "type", type) && EqualsNoCase(type, "action");
}

std::string InstallFolder() {
    return PathUtf8(Utf8Path(AgentDataDir()) / "install" / "");
}

// Everything the install-all worker uses, so that the worker can run on after the installer is gone.
class TBootstrapInstaller::TCore {
public:
    TCore(TEgaissConfig cfg, TMainThreadPoster post, TInstallOptions options)
        : FCfg(std::move(cfg)), FPost(std::move(post)), FOptions(std::move(options)) {}

    struct TInstallAllJob {
        std::vector<int> Indices;
        // Copies taken on the main thread, so that the worker never reads the window's manifest.
        std::vector<std::optional<TJsonValue>> Components;
        bool Silent = false;
    };

    bool DownloadComponent(const TJsonValue& installBlock, std::string& fileName);
    std::optional<int> LaunchInstaller(const TJsonValue& installBlock, const std::string& fileName,
                                       bool silent, bool wait, const TJsonValue* checkComponent);
    int WaitForInstaller(const TJsonValue* checkComponent, const std::string& fileName);
    void KillInstaller();
    bool InstallComponent(const TJsonValue* component, bool wait, bool silent);
    // `window` is reached only through posted steps.
    void RunInstallAll(const TInstallAllJob& job, TBootstrapWindow* window);
    bool InstallerTracked() const { return TrackedInstaller() != nullptr; }

    std::atomic<bool> FInstallCancel{false};
    std::atomic<bool> FInstallAllBusy{false};
    std::atomic<bool> FWorkerReturned{false};

private:
    void Post(std::function<void()> step);
    TEnvCheckResult RunCheck(const TJsonValue& component) const;
    TEnvCheckResult RunAction(const TJsonValue& installBlock) const;
    std::shared_ptr<platform::TProcess> TrackedInstaller() const;
    void ThrowIfCancelled() const;

    const TEgaissConfig FCfg;
    TMainThreadPoster FPost;
    const TInstallOptions FOptions;
    // The installer being waited for. The worker waits on its own reference while the main thread
    // may end it, so the handle is closed once, by the last owner.
    mutable std::mutex FInstallerLock;
    std::shared_ptr<platform::TProcess> FInstallerProcess;
};

TBootstrapInstaller::TBootstrapInstaller(TBootstrapWindow& window, TEgaissConfig cfg, TMainThreadPoster post,
                                         TInstallOptions options)
    : FWindow(window), FCore(std::make_shared<TCore>(std::move(cfg), std::move(post), std::move(options))) {}

TBootstrapInstaller::~TBootstrapInstaller() {
    FCore->FInstallCancel = true;
    FCore->KillInstaller();
    if (!FWorker.joinable()) return;
    // A worker that has returned has only its thread's exit left; one still downloading is left
    // to finish on its own.
    if (FCore->FWorkerReturned) {
        FWorker.join();
    } else {
        FWorker.detach();
    }
}

bool TBootstrapInstaller::DownloadComponent(const TJsonValue& installBlock, std::string& fileName) {
    return FCore->DownloadComponent(installBlock, fileName);
}

std::optional<int> TBootstrapInstaller::LaunchInstaller(const TJsonValue& installBlock,
                                                        const std::string& fileName, bool silent, bool wait,
                                                        const TJsonValue* checkComponent) {
    return FCore->LaunchInstaller(installBlock, fileName, silent, wait, checkComponent);
}

int TBootstrapInstaller::WaitForInstaller(const TJsonValue* checkComponent, const std::string& fileName) {
    return FCore->WaitForInstaller(checkComponent, fileName);
}

void TBootstrapInstaller::KillInstaller() {
    FCore->KillInstaller();
}

bool TBootstrapInstaller::InstallComponent(const TJsonValue* component, bool wait, bool silent) {
    return FCore->InstallComponent(component, wait, silent);
}

void TBootstrapInstaller::CancelInstall() {
    FCore->FInstallCancel = true;
}

bool TBootstrapInstaller::InstallAllBusy() const {
    return FCore->FInstallAllBusy;
}

bool TBootstrapInstaller::InstallerTracked() const {
    return FCore->InstallerTracked();
}

std::shared_ptr<platform::TProcess> TBootstrapInstaller::TCore::TrackedInstaller() const {
    const std::lock_guard guard(FInstallerLock);
    return FInstallerProcess;
}

void TBootstrapInstaller::TCore::ThrowIfCancelled() const {
    if (FInstallCancel) throw EInstallError(CancelledMessage);
}

TEnvCheckResult TBootstrapInstaller::TCore::RunCheck(const TJsonValue& component) const {
    return FOptions.RunCheck ? FOptions.RunCheck(component, FCfg) : RunEnvCheck(component, FCfg);
}

TEnvCheckResult TBootstrapInstaller::TCore::RunAction(const TJsonValue& installBlock) const {
    return FOptions.RunAction ? FOptions.RunAction(installBlock) : RunEnvAction(installBlock);
}

void TBootstrapInstaller::TCore::Post(std::function<void()> step) {
    if (FPost) {
        FPost(std::move(step));
    } else {
        step();
    }
}

bool TBootstrapInstaller::TCore::DownloadComponent(const TJsonValue& installBlock, std::string& fileName) {
    fileName.clear();
    std::string url;
    if (!TryGetJsonString(installBlock, "url", url)) {
        LogBootstrapError("Download skipped: no url in manifest");
        return false;
    }
    std::string fallback;
    TryGetJsonString(installBlock, "fallback_url", fallback);
    std::string file;
    if (!TryGetJsonString(installBlock, "file", file)) file = "installer.bin";
    // The name comes from the server: it must not lead out of the install folder.
    if (!IsPlainFileName(file)) throw EInstallError("Invalid file name in manifest: " + file);

    const std::string folder = InstallFolder();
    std::error_code error;
    fs::create_directories(Utf8Path(folder), error);
    if (error) throw EFileError("Cannot create " + folder + ": " + error.message());
    const std::string target = FreeTarget(folder, file);
    const std::string part = target + ".part";
    DeleteFileOrRaise(part);

    LogBootstrap("Download start: file=" + file + " url=" + url + " fallback=" + fallback +
                 " dest=" + target);
    platform::THttpClient client;
    client.SetConnectTimeoutMs(FOptions.ConnectTimeoutMs);
    client.SetResponseTimeoutMs(FOptions.ResponseTimeoutMs);
    ConfigureDownloadRate(client);
    std::string usedURL = url;
    platform::THttpResponse response;
    try {
        response = client.DownloadToFile({platform::THttpMethod::hmGet, url, {}, {}, {}}, part);
    } catch (const ETransportError& primaryError) {
        if (fallback.empty()) throw;
        LogBootstrap("Primary URL failed (" + primaryError.Message() + "), trying fallback: " + fallback);
        usedURL = fallback;
        response = client.DownloadToFile({platform::THttpMethod::hmGet, fallback, {}, {}, {}}, part);
    }
    if (response.StatusCode != 200) {
        std::error_code ignored;
        fs::remove(Utf8Path(part), ignored);  // a 2xx body other than 200 went there
        throw NewHttpError(response);
    }
    platform::ReplaceFile(part, target);
    const std::uint64_t size = FileSizeOrRaise(target);
    LogBootstrap("Download OK: " + target + " from " + usedURL + " (" + std::to_string(size) + " bytes)");

    std::string expectedHash;
    if (TryGetJsonString(installBlock, "sha256", expectedHash)) {
        std::erase(expectedHash, ' ');
        expectedHash = FoldUpper(expectedHash);
        const std::string actualHash = FoldUpper(platform::Sha256FileHex(target));
        if (expectedHash != actualHash)
            throw EInstallError("SHA256 mismatch\r\nExpected: " + expectedHash + "\r\nFile: " + actualHash);
        LogBootstrap("SHA256 verified: " + actualHash);
    }
    std::int64_t expectedSize = 0;
    if (TryGetJsonInt64(installBlock, "size_bytes", expectedSize)) {
        if (expectedSize < 0 || static_cast<std::uint64_t>(expectedSize) != size)
            throw EInstallError("File size does not match manifest");
        LogBootstrap("Size verified: " + std::to_string(expectedSize) + " bytes");
    }
    fileName = target;
    return true;
}

std::optional<int> TBootstrapInstaller::TCore::LaunchInstaller(const TJsonValue& installBlock,
                                                               const std::string& fileName, bool silent,
                                                               bool wait, const TJsonValue* checkComponent) {
    std::string type;
    if (!TryGetJsonString(installBlock, "type", type)) type = "exe";
    std::string args;
    TryGetJsonString(installBlock, "args", args);
    // The manifest's arguments are for silent mode only: interactively the installer asks itself.
    const std::string parameters = silent ? ApplySilentArgs(type, args) : std::string();
    const std::string show = silent ? "0" : "1";
    const std::string flags = std::string("silent=") + BoolText(silent) + " wait=" + BoolText(wait);

    platform::TElevatedStart start;
    start.ShowWindow = !silent;
    start.Elevator = FOptions.ElevationCommand;
    if (EqualsNoCase(type, "msi") && platform::CanRunMsiPackages()) {
        start.Program = "msiexec.exe";
        start.Parameters = "/i \"" + fileName + "\" " + parameters;
        LogBootstrap("Launch installer: type=msi " + flags + " verb=runas show=" + show +
                     " exe=" + start.Program + " params=" + start.Parameters + " manifest_args=" + args);
    } else if (EqualsNoCase(type, "exe")) {
        std::error_code error;
        const fs::path full = fs::absolute(Utf8Path(fileName), error);
        start.Program = error ? fileName : PathUtf8(full);
        start.Parameters = parameters;
        LogBootstrap("Launch installer: type=exe " + flags + " verb=runas show=" + show +
                     " file=" + start.Program + " params=" + parameters + " manifest_args=" + args);
    } else {
        throw EInstallError("Install type not supported: " + type);
    }

    auto process = std::make_shared<platform::TProcess>();
    bool tracked = false;
    try {
        tracked = process->StartElevated(start);
    } catch (const platform::EProcessError& startError) {
        LogBootstrapError("ShellExecuteEx failed: type=" + type + " file=" + fileName +
                          " error=" + std::to_string(startError.SystemError()));
        LogDebug(startError.Message());
        throw EInstallError("Failed to start installer (UAC?)");
    }
    if (wait && tracked) {
        const std::lock_guard guard(FInstallerLock);
        FInstallerProcess = process;
    }
    // Without waiting the handle is dropped at once; the installer runs on.
    process.reset();

    if (wait && InstallerTracked()) {
        const int exitCode = WaitForInstaller(checkComponent, fileName);
        LogBootstrap("Installer finished: exit_code=" + std::to_string(exitCode) + " file=" + fileName);
        return exitCode;
    }
    LogBootstrap("Installer started (no wait): " + fileName);
    return std::nullopt;
}

int TBootstrapInstaller::TCore::WaitForInstaller(const TJsonValue* checkComponent,
                                                 const std::string& fileName) {
    const std::shared_ptr<platform::TProcess> process = TrackedInstaller();
    if (!process) return 0;
    // On every way out the installer stops being tracked, unless KillInstaller took it already.
    struct TUntrack {
        TCore& Owner;
        const std::shared_ptr<platform::TProcess>& Process;
        ~TUntrack() {
            const std::lock_guard guard(Owner.FInstallerLock);
            if (Owner.FInstallerProcess == Process) Owner.FInstallerProcess.reset();
        }
    } untrack{*this, process};

    using TClock = std::chrono::steady_clock;
    const std::string name = FileNameOf(fileName);
    const auto start = TClock::now();
    auto lastNote = start;
    for (;;) {
        if (FInstallCancel) throw EInstallError(CancelledMessage);
        if (process->WaitForExit(FOptions.WaitCycle)) {
            // Cancelling ends the installer: that end is no finished installation.
            if (FInstallCancel) throw EInstallError(CancelledMessage);
            return process->ExitCode().value_or(-1);
        }
        if (checkComponent != nullptr && RunCheck(*checkComponent).State == TEnvCheckState::ecsOk) {
            LogBootstrap("Install detected as complete (post-check OK): " + name);
            const int exitCode = process->ExitCode().value_or(0);
            KillInstaller();
            return exitCode;
        }
        const auto now = TClock::now();
        if (now - start >= FOptions.WaitLimit) {
            const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(FOptions.WaitLimit).count();
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(FOptions.WaitLimit).count();
            LogBootstrapError("Installer timeout after " + std::to_string(minutes) + " min: " + fileName);
            KillInstaller();
            throw EInstallError("Installer wait timeout (" + std::to_string(seconds) + " sec): " + name);
        }
        if (now - lastNote >= FOptions.StillRunningNote) {
            const auto running = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
            LogBootstrap("Installer still running (" + std::to_string(running) + " sec): " + name);
            lastNote = now;
        }
    }
}

void TBootstrapInstaller::TCore::KillInstaller() {
    std::shared_ptr<platform::TProcess> process;
    {
        const std::lock_guard guard(FInstallerLock);
        process = std::move(FInstallerProcess);
        FInstallerProcess.reset();
    }
    if (process) process->Terminate();
}

bool TBootstrapInstaller::TCore::InstallComponent(const TJsonValue* component, bool wait, bool silent) {
    if (component == nullptr) return false;
    LogBootstrap("Install component: " + ItemTitle(component));
    const TJsonValue* installBlock = component->Find("install");
    if (installBlock == nullptr) throw EInstallError(NoInstallerMessage);
    if (IsActionInstall(*installBlock)) {
        const std::string action = GetJsonString(*installBlock, "action");
        LogBootstrap("Execute action: " + action);
        const TEnvCheckResult result = RunAction(*installBlock);
        if (result.State != TEnvCheckState::ecsOk) throw EInstallError(result.Detail);
        LogBootstrap("Action OK: " + result.Detail);
        return true;
    }
    std::string fileName;
    if (!DownloadComponent(*installBlock, fileName)) throw EInstallError(NoInstallerMessage);
    // A download can take long; a window closed meanwhile starts no installer.
    ThrowIfCancelled();
    LaunchInstaller(*installBlock, fileName, silent, wait, component);
    return true;
}

void TBootstrapInstaller::InstallAllAsync(const std::vector<int>& indices) {
    if (FCore->FInstallAllBusy) throw EInstallError("Install already running. Please wait.");
    if (FWorker.joinable()) FWorker.join();  // the previous run has posted its end step

    TCore::TInstallAllJob job;
    job.Indices = indices;
    for (const int index : indices) {
        const TJsonValue* component = FWindow.ComponentAt(index);
        job.Components.push_back(component != nullptr ? std::optional<TJsonValue>(*component) : std::nullopt);
    }
    job.Silent = FWindow.IsSilentMode();
    FCore->FInstallAllBusy = true;
    FCore->FInstallCancel = false;
    FCore->FWorkerReturned = false;

    const int total = static_cast<int>(indices.size());
    LogBootstrap("Install all started: " + std::to_string(total) +
                 " component(s), silent=" + BoolText(job.Silent));
    FWindow.BeginProgress(total * 2);
    try {
        FWorker = std::thread([core = FCore, job = std::move(job), window = &FWindow] {
            core->RunInstallAll(job, window);
            core->FWorkerReturned = true;
        });
    } catch (...) {
        FCore->FInstallAllBusy = false;
        throw;
    }
}

void TBootstrapInstaller::TCore::RunInstallAll(const TInstallAllJob& job, TBootstrapWindow* window) {
    const int total = static_cast<int>(job.Indices.size());
    std::string errMsg;
    try {
        for (int i = 0; i < total; ++i) {
            // After a cancel nothing new is downloaded or started.
            ThrowIfCancelled();
            const int localIdx = job.Indices[static_cast<std::size_t>(i)];
            const auto& copy = job.Components[static_cast<std::size_t>(i)];
            const TJsonValue* component = copy ? &*copy : nullptr;
            const std::string title = ItemTitle(component);
            const std::string counter = "  (" + std::to_string(i + 1) + "/" + std::to_string(total) + ")";
            const int stepDownload = 2 * i + 1;
            const int stepInstall = 2 * i + 2;
            const std::string capDownload = "Download: " + title + counter;
            const std::string capInstall = "Install pkg: " + title + counter;

            Post([window, localIdx] { window->MarkRowRunning(localIdx); });
            const TJsonValue* installBlock = component != nullptr ? component->Find("install") : nullptr;
            if (installBlock == nullptr) throw EInstallError(NoInstallerMessage);

            if (IsActionInstall(*installBlock)) {
                Post([window, stepInstall, capInstall] { window->SetProgressSafe(stepInstall, capInstall); });
                const std::string action = GetJsonString(*installBlock, "action");
                LogBootstrap("Execute action: " + action);
                const TEnvCheckResult result = RunAction(*installBlock);
                if (result.State != TEnvCheckState::ecsOk) throw EInstallError(result.Detail);
                LogBootstrap("Action OK: " + result.Detail);
            } else {
                Post([window, stepDownload, capDownload] {
                    window->SetProgressSafe(stepDownload, capDownload);
                });
                std::string fileName;
                if (!DownloadComponent(*installBlock, fileName)) throw EInstallError(NoInstallerMessage);
                Post([window, stepInstall, capInstall] { window->SetProgressSafe(stepInstall, capInstall); });
                ThrowIfCancelled();
                LaunchInstaller(*installBlock, fileName, job.Silent, true, component);
            }
            const TEnvCheckResult checkRes = RunCheck(*component);
            Post([window, localIdx, checkRes] { window->UpdateRow(localIdx, checkRes); });
        }
    } catch (const std::exception& error) {
        errMsg = error.what();
        // An empty message would read as a complete run.
        if (errMsg.empty()) errMsg = ExceptionClassName(error);
        LogBootstrapError("Install all step failed: " + errMsg);
    } catch (...) {
        errMsg = "Unknown error";
        LogBootstrapError("Install all step failed: " + errMsg);
    }
    Post([this, window, errMsg] {
        FInstallAllBusy = false;
        window->InstallAllFinished(errMsg);
    });
}

}  // namespace egaiss
