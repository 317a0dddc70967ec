#pragma once
// Handing programs, files and URLs to the system so that they run on their own, independent of the
// agent: nothing waits for them, and they keep running after the agent has ended.
#include <string>
#include <vector>

namespace egaiss::platform {

// Starts `path` with `args` as a process of its own: on POSIX in a new session, not a child that the
// agent would have to reap, with no standard input and none of the agent's other open files; on
// Windows through the shell's "open" verb in a normal window. A program named without a folder is
// looked up in the search path. False when it could not be started. Never raises.
bool StartDetached(const std::string& path, const std::vector<std::string>& args);

// Opens a URL or a file with the desktop's default handler (xdg-open; the shell's "open" verb).
// False when the handler could not be started. Never raises.
bool OpenWithDesktop(const std::string& urlOrPath);

}  // namespace egaiss::platform
