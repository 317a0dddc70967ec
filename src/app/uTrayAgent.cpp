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

int AlreadyRunning() {
    std::cerr << "Agent already running\n";
    return ExitAlreadyRunning;
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
    const QString channel = InstanceChannelName(AgentDataDir());
    if (AskRunningAgentToShow(channel)) {
        LogInfo("Agent already running");
        return AlreadyRunning();
    }
    const auto lock = LockDataFolder();
    if (!lock) {
        // An agent that was still starting may listen by now.
        AskRunningAgentToShow(channel);
        return AlreadyRunning();
    }

    TRealAgentServices services(!noUpdate);
    TfrmMain frmMain(services.All());
    TInstanceChannel listener;
    if (!listener.Listen(channel, [&frmMain] { frmMain.ShowMainWindow(); }))
        LogError("Agent window channel: cannot listen on " + channel.toStdString());
    QObject::connect(&frmMain, &TfrmMain::ExitRequested, &app, [&listener] {
        listener.Close();
        QCoreApplication::quit();
    });
    QTimer::singleShot(0, &frmMain, &TfrmMain::FormCreate);
    app.exec();
    // Running jobs are not waited for.
    return EndAgentProcess(frmMain.Agent(), std::chrono::milliseconds(0));
}

}  // namespace egaiss
