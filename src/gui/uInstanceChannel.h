#pragma once
// A second start of the tray agent on the same data folder asks the running agent, over a local
// socket named after the folder, to bring its window to the front.
#include <QLocalServer>
#include <QString>
#include <functional>
#include <string>

namespace egaiss {

// The same name for the same data folder, whatever its length.
QString InstanceChannelName(const std::string& dataDir);

// True when an agent listening on `name` showed its window.
bool AskRunningAgentToShow(const QString& name);

class TInstanceChannel {
public:
    // Listens on `name` (a stale socket of an ended agent is replaced; call it only while holding
    // the folder's lock) and runs `show` on each request. False when it could not listen.
    bool Listen(const QString& name, std::function<void()> show);
    // No more requests: an ending agent must not answer a new agent's start.
    void Close();

private:
    QLocalServer FServer;
};

}  // namespace egaiss
