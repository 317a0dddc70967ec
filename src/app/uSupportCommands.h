#pragma once
// The support subcommands: one action, printed to stdout, an exit code for scripts.
#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/uEgaissConfig.h"
#include "platform/uInstanceLock.h"

namespace egaiss {

// The settings, or nothing after "Cannot read agent.ini: " + the reason went to `err` and the log.
std::optional<TEgaissConfig> LoadConfigOrReport(std::ostream& err);

int RunSyncCommand(const TEgaissConfig& cfg, std::ostream& out);
int RunDiagnoseCommand(const TEgaissConfig& cfg, std::ostream& out);
// Without `args` prints the effective settings. `args` "--set KEY=VALUE...": saves them as the
// settings dialog does and prints the result; 2 with nothing written for a bad key, a bad value
// or incomplete settings.
int RunConfigCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Loads the waiting price file into the scales as the dialog's "load now" does; 0 when loaded.
int RunScalesLoadCommand(std::ostream& out);
// `args`: [--subnet CIDR]... [--port N] [--timeout-ms N]. One "host:port[:serial]" line per scale;
// 0 when a scale answered.
int RunScalesFindCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Loads the preparation manifest (the cache rules apply) and prints one line per component check;
// 1 when a required check failed or the manifest could not be loaded.
int RunPrepareCheckCommand(const TEgaissConfig& cfg, std::ostream& out);
// `args`: component ids, or --all. Installs them as the preparation window does, silently, one
// line per step and per component; 0 when every chosen component was installed.
int RunPrepareInstallCommand(const TEgaissConfig& cfg, const std::vector<std::string>& args,
                             std::ostream& out, std::ostream& err);

// The settings as `config` prints them: ConfigToText's keys plus autostart, the secret hidden.
std::string EffectiveConfigText(const TEgaissConfig& cfg);

// How long the stop command waits for the agent to end.
inline constexpr auto StopWait = std::chrono::seconds(30);

// Asks the tray agent of this data folder to end as on "Выход" (`askToExit`, repeated while the
// folder's lock at `lockPath` is held and no agent took the request, as by an agent still starting)
// and waits up to `wait` until the lock is free. Prints and logs one line; 0 when no agent runs
// afterwards, 1 when one still does.
int RunStopCommand(const std::function<bool()>& askToExit, const std::string& lockPath,
                   std::chrono::milliseconds wait, std::ostream& out);

// The data folder's agent.lock, which the running agent holds.
std::string DataFolderLockPath();

// Takes the data folder's agent.lock, waiting up to 10 s for an agent that is ending; nothing
// (after logging "Agent already running") when another agent keeps it.
std::unique_ptr<platform::TInstanceLock> LockDataFolder();

}  // namespace egaiss
