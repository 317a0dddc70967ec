#pragma once
// The second-start channel on Linux and other POSIX systems (Windows has TWin32InstanceChannel): a
// Unix-domain socket named after the data folder, in the temporary folder. The asking side writes
// one request byte; the running agent answers with one byte once it did what was asked, on its
// main loop. A thread of the channel waits for connections.
#include <memory>
#include <string>
#include <thread>

#include "agent/uInstanceChannel.h"
#include "agent/uMainLoop.h"

namespace egaiss {

namespace platform {
class TLocalSocketServer;
}

// The socket's path for a data folder: the same for the same folder, whatever its length.
std::string InstanceChannelPath(const std::string& dataDir);

class TLocalSocketChannel final : public TInstanceChannel {
public:
    // Requests are served on `loop`; asking needs no loop.
    TLocalSocketChannel(TMainLoop& loop, std::string path);
    ~TLocalSocketChannel() override;
    TLocalSocketChannel(const TLocalSocketChannel&) = delete;
    TLocalSocketChannel& operator=(const TLocalSocketChannel&) = delete;

    bool AskRunningAgentToShow() override;
    bool AskRunningAgentToExit() override;
    // A stale socket of an ended agent is replaced.
    bool Listen(std::function<void()> show, std::function<void()> exit) override;
    void Close() override;

private:
    struct THandlers;
    bool Ask(char request) const;

    TMainLoop& FLoop;
    std::string FPath;
    std::shared_ptr<THandlers> FHandlers;  // shared with the steps posted to the loop
    std::unique_ptr<platform::TLocalSocketServer> FServer;
    std::thread FListener;
};

}  // namespace egaiss
