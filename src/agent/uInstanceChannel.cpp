#include "agent/uInstanceChannel.h"

#include "core/uEgaissLog.h"

namespace egaiss {

std::unique_ptr<platform::TInstanceLock> ClaimDataFolder(TInstanceChannel& channel,
                                                         const TFolderLocker& lockFolder) {
    if (channel.AskRunningAgentToShow()) {
        LogInfo("Agent already running");
        return nullptr;
    }
    auto lock = lockFolder();
    if (!lock) channel.AskRunningAgentToShow();
    return lock;
}

}  // namespace egaiss
