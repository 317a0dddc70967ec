#pragma once
// The support subcommands: one action, printed to stdout, an exit code for scripts.
#include <iosfwd>
#include <memory>
#include <string>

#include "core/uEgaissConfig.h"
#include "platform/uInstanceLock.h"

namespace egaiss {

int RunSyncCommand(std::ostream& out);
int RunDiagnoseCommand(std::ostream& out);
int RunConfigCommand(std::ostream& out);

// The settings as `config` prints them: ConfigToText's keys plus autostart, the secret hidden.
std::string EffectiveConfigText(const TEgaissConfig& cfg);

// Takes the data folder's agent.lock, waiting up to 10 s for an agent that is ending; nothing
// (after logging "Agent already running") when another agent keeps it.
std::unique_ptr<platform::TInstanceLock> LockDataFolder();

}  // namespace egaiss
