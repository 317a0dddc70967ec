#pragma once
// The tray agent on Windows: the data folder's second-start channel and lock, the hidden main
// window with its tray icon and the windows it opens, on the thread's message loop.
#include <functional>
#include <optional>

#include "agent/uInstanceChannel.h"

namespace egaiss {

class TAgent;
class TMainLoop;
struct TWin32MainWindowLinks;

// The settings dialog, the queue window and the desktop's browser, as the running agent opens them.
TWin32MainWindowLinks Win32MainWindowLinks(TMainLoop& loop);

// Ends the agent's process once its loop ended; returns the exit code.
using TAgentEnd = std::function<int(TAgent& agent)>;

// Runs the agent with its tray icon and hidden main window until "Выход", a stop request or a
// self-update, and returns what `end` returned. Nothing when another agent holds the data folder
// (`lockFolder` failed): that agent was asked to show its window. Raises when no window can be
// made (no desktop), with the folder released again.
std::optional<int> RunWin32TrayAgent(bool noUpdate, const TFolderLocker& lockFolder, const TAgentEnd& end);

// For the stop command: true when the tray agent of this data folder took the request to end.
bool AskWin32TrayAgentToExit();

}  // namespace egaiss
