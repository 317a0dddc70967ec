#include "app/uTrayAgent.h"

#include <QTimer>
#include <iostream>

#include "agent/uAgentServices.h"
#include "app/uCommandLine.h"
#include "app/uHeadless.h"
#include "app/uSupportCommands.h"
#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "gui/uAgentApplication.h"
#include "gui/uInstanceChannel.h"
#include "gui/uMain.h"
#include "platform/uSystem.h"

namespace egaiss {
namespace {

bool Set(const char* name) {
    const auto value = platform::EnvironmentVariable(name);
    return value && !value->empty();
}

}  // namespace

bool DisplayAvailable() {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return true;
#else
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY");
#endif
}

int RunTrayAgent(int argc, char** argv, bool noUpdate) {
    TAgentApplication app(argc, argv);
    const QString channelName = InstanceChannelName(AgentDataDir());
    TLocalSocketChannel channel(channelName);
    const auto lock = ClaimDataFolder(channel, LockDataFolder);
    if (!lock) {
        std::cerr << "Agent already running\n";
        return ExitAlreadyRunning;
    }

    TRealAgentServices services(!noUpdate);
    TfrmMain frmMain(services.All());
    if (!channel.Listen([&frmMain] { frmMain.ShowMainWindow(); }))
        LogError("Agent window channel: cannot listen on " + channelName.toStdString());
    QObject::connect(&frmMain, &TfrmMain::ExitRequested, &app, [&channel] {
        channel.Close();
        QCoreApplication::quit();
    });
    QTimer::singleShot(0, &frmMain, &TfrmMain::FormCreate);
    app.exec();
    // Running jobs are not waited for.
    return EndAgentProcess(frmMain.Agent(), std::chrono::milliseconds(0));
}

}  // namespace egaiss
