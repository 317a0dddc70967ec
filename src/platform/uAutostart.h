#pragma once
// The entry that starts the agent when the user logs on: the Run-key value on Windows,
// an XDG autostart entry on Linux.
#include <optional>
#include <string>

namespace egaiss::platform {

inline constexpr const char* AutostartEntryName = "VelmoraEgaissAgent";

// Creates or replaces the entry so that it starts the given executable. Raises EFileError.
void WriteAutostartEntry(const std::string& executablePath);

// Removes the entry when there is one; a missing or unreachable entry is not an error.
void RemoveAutostartEntry();

// The command line the entry starts, as stored; nothing when there is no entry.
std::optional<std::string> AutostartEntryCommand();

// Where the entry lives, for support output and tests (the desktop file, or the Run-key path).
std::string AutostartEntryLocation();

}  // namespace egaiss::platform
