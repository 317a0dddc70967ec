#pragma once
// The second-start channel on Qt: a local socket named after the data folder. The asking side
// writes one request byte; the agent answers with one byte once it did what was asked.
#include <QLocalServer>
#include <QString>
#include <functional>
#include <string>

#include "agent/uInstanceChannel.h"

namespace egaiss {

// The same name for the same data folder, whatever its length.
QString InstanceChannelName(const std::string& dataDir);

class TLocalSocketChannel final : public TInstanceChannel {
public:
    explicit TLocalSocketChannel(QString name) : FName(std::move(name)) {}

    bool AskRunningAgentToShow() override;
    bool AskRunningAgentToExit() override;
    // A stale socket of an ended agent is replaced.
    bool Listen(std::function<void()> show, std::function<void()> exit) override;
    void Close() override;

private:
    bool Ask(char request);

    QString FName;
    std::function<void()> FShow;
    std::function<void()> FExit;
    QLocalServer FServer;
};

}  // namespace egaiss
