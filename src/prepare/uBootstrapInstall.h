#pragma once
// Installing the components of the preparation manifest: download into the data folder's "install"
// folder with a fallback URL and SHA-256 and size checks, an elevated installer start, waiting for
// the installer while re-running the component's check, and install-all on a worker thread that
// reports to the preparation window through posted steps.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/uEgaissConfig.h"
#include "platform/uErrors.h"
#include "prepare/uBootstrapManifest.h"
#include "prepare/uBootstrapWindow.h"
#include "prepare/uEnvChecker.h"

namespace egaiss {

// A component could not be installed; the message is what the window shows.
class EInstallError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "EInstallError"; }
};

// "[Bootstrap] " + text with LogInfo or LogError, unless the text is blank; then the log view
// refresh hook runs. Callable from any thread; never raises.
void LogBootstrap(const std::string& text);
void LogBootstrapError(const std::string& text);
// Called after every bootstrap log line (blank ones too). The main window installs one that refreshes
// its log view on the main thread: at once when called there, else posted. An empty hook removes it.
void SetBootstrapLogRefresh(std::function<void()> refresh);

// The installer arguments for silent mode: msi gets "/quiet /norestart" and exe
// "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART" unless the arguments already ask for silence.
std::string ApplySilentArgs(const std::string& type, const std::string& args);
// The component's "title", else its "id" (raising EJsonError when both are missing); empty for null.
std::string ItemTitle(const TJsonValue* component);
// True for a plain file name that stays inside the folder it is joined to: not empty, not "." or
// "..", without separators, drive colons or control characters.
bool IsPlainFileName(const std::string& name);
// The install block's "type" is "action" (letters A to Z in any case).
bool IsActionInstall(const TJsonValue& installBlock);
// The data folder's "install" folder, with a trailing separator.
std::string InstallFolder();

// Runs a step on the main thread, later and in the order posted, and drops it once the receiver
// that owns the installer is gone (the windows pass their TJobTracker's Post).
using TMainThreadPoster = std::function<void(std::function<void()> step)>;

struct TInstallOptions {
    // Waiting for an installer: cycle of one wait and one post-check, the limit, and how often a
    // still-running installer is noted in the log.
    std::chrono::milliseconds WaitCycle{5000};
    std::chrono::milliseconds WaitLimit{1500000};
    std::chrono::milliseconds StillRunningNote{60000};
    int ConnectTimeoutMs = 30000;
    int ResponseTimeoutMs = 600000;
    // POSIX: the command that runs an installer elevated; empty means pkexec.
    std::vector<std::string> ElevationCommand;
    // The check and the action of the environment checker; RunEnvCheck and RunEnvAction when empty.
    std::function<TEnvCheckResult(const TJsonValue& component, const TEgaissConfig& cfg)> RunCheck;
    std::function<TEnvCheckResult(const TJsonValue& installBlock)> RunAction;
};

// The install logic of one opening of the preparation window. Single installs run on the caller's
// thread; install-all runs on a worker thread of this object, which reaches the window only through
// posted steps. Destroying the object cancels install-all and ends a tracked installer, but waits
// for nothing: a worker still downloading runs on with its own share of the install state and stops
// before starting another installer. Its owner stops the poster first, so that no step of it runs
// afterwards.
class TBootstrapInstaller {
public:
    TBootstrapInstaller(TBootstrapWindow& window, TEgaissConfig cfg, TMainThreadPoster post,
                        TInstallOptions options = {});
    ~TBootstrapInstaller();
    TBootstrapInstaller(const TBootstrapInstaller&) = delete;
    TBootstrapInstaller& operator=(const TBootstrapInstaller&) = delete;

    // Downloads the installer of an install block into the install folder and verifies it. False
    // (with `fileName` empty) only when the block has no "url"; raises on every other failure.
    bool DownloadComponent(const TJsonValue& installBlock, std::string& fileName);
    // Starts the installer elevated; with `wait`, waits for it with the post-check of
    // `checkComponent` (may be null). A non-zero exit code is only logged; the exit code of an
    // installer waited for is returned, nothing when it was not waited for.
    std::optional<int> LaunchInstaller(const TJsonValue& installBlock, const std::string& fileName,
                                       bool silent, bool wait, const TJsonValue* checkComponent);
    // The exit code of the tracked installer; 0 when none is tracked or the post-check ended it.
    int WaitForInstaller(const TJsonValue* checkComponent, const std::string& fileName);
    // Ends the tracked installer. Safe from any thread while another one waits for it.
    void KillInstaller();
    // Installs one component; false for null. Raises on failure, also when the install was
    // cancelled before its installer started. Callable from a worker thread.
    bool InstallComponent(const TJsonValue* component, bool wait, bool silent);
    // Starts install-all for the component indices in this order. Raises EInstallError while a run
    // is still busy.
    void InstallAllAsync(const std::vector<int>& indices);

    // The user cancelled: noticed while an installer is waited for and before the next installer
    // starts. Install-all clears it when it starts.
    void CancelInstall();
    // From the start of install-all until its end step has run on the main thread.
    bool InstallAllBusy() const;
    bool InstallerTracked() const;

private:
    class TCore;

    TBootstrapWindow& FWindow;
    // Shared with the install-all worker, which may outlive this object.
    std::shared_ptr<TCore> FCore;
    std::thread FWorker;
};

}  // namespace egaiss
