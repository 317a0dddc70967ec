#pragma once
// The second-start channel on Qt: a local socket named after the data folder.
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
    // A stale socket of an ended agent is replaced.
    bool Listen(std::function<void()> show) override;
    void Close() override;

private:
    QString FName;
    QLocalServer FServer;
};

}  // namespace egaiss
