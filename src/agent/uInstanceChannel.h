#pragma once
// A second start of the tray agent on the same data folder asks the running agent to bring its
// window to the front, and ends with exit code 3; the stop command asks it to end as on "Выход".
// Each face carries the requests its own way (a local socket with Qt, a window message on Windows).
#include <functional>
#include <memory>

#include "platform/uInstanceLock.h"

namespace egaiss {

class TInstanceChannel {
public:
    virtual ~TInstanceChannel() = default;
    // True when an agent of this data folder showed its window.
    virtual bool AskRunningAgentToShow() = 0;
    // True when an agent of this data folder took the request to end; it ends soon after.
    virtual bool AskRunningAgentToExit() = 0;
    // Listens for later starts and stop requests and runs `show` or `exit` on the main thread for
    // each; call it only while holding the folder's lock. `exit` runs while the request is being
    // answered: it must leave the ending to a posted step. False when it could not listen.
    virtual bool Listen(std::function<void()> show, std::function<void()> exit) = 0;
    // No more requests: an ending agent must not answer a new agent's start.
    virtual void Close() = 0;
};

using TFolderLocker = std::function<std::unique_ptr<platform::TInstanceLock>()>;

// The folder's lock when this start is its agent. Otherwise nothing, after the running agent was
// asked to show its window: before taking the lock, and once more when the lock was taken by an
// agent that was still starting and may listen by now.
std::unique_ptr<platform::TInstanceLock> ClaimDataFolder(TInstanceChannel& channel,
                                                         const TFolderLocker& lockFolder);

}  // namespace egaiss
