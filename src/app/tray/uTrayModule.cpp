// The tray front-end module: the Qt windows over the agent that the executable holds.
#include <QCoreApplication>
#include <QTimer>
#include <cstring>
#include <iostream>
#include <optional>
#include <type_traits>

#include "agent/uAgentServices.h"
#include "app/uCommandLine.h"
#include "app/uHeadless.h"
#include "app/uSupportCommands.h"
#include "app/uTrayAgent.h"
#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "core/uVersion.h"
#include "gui/uAgentApplication.h"
#include "gui/uInstanceChannel.h"
#include "gui/uMain.h"

namespace egaiss {
namespace {

int RunQtTrayAgent(int argc, char** argv, bool noUpdate) {
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
    const auto exit = [&frmMain] {
        // Not while the request is being answered.
        QTimer::singleShot(0, &frmMain, &TfrmMain::mnuExitClick);
    };
    if (!channel.Listen([&frmMain] { frmMain.ShowMainWindow(); }, exit))
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

}  // namespace
}  // namespace egaiss

extern "C" __attribute__((visibility("default"))) int EgaissRunTrayAgent(const char* agentVersion, int argc,
                                                                         char** argv, bool noUpdate) {
    using namespace egaiss;
    static_assert(std::is_same_v<decltype(EgaissRunTrayAgent), TTrayEntry>);
    // Built with another executable, its idea of the agent's types may differ from the one loaded.
    if (std::strcmp(agentVersion, AgentVersion) != 0) return TrayVersionMismatch;
    return RunQtTrayAgent(argc, argv, noUpdate);
}

extern "C" __attribute__((visibility("default"))) int EgaissAskTrayAgentToExit(const char* agentVersion) {
    using namespace egaiss;
    static_assert(std::is_same_v<decltype(EgaissAskTrayAgentToExit), TTrayExitEntry>);
    if (std::strcmp(agentVersion, AgentVersion) != 0) return 0;
    // The socket's blocking calls want an application object, though no event loop runs.
    std::optional<QCoreApplication> app;
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "VelmoraEgaissAgent";
        static char* argv[] = {name, nullptr};
        app.emplace(argc, argv);
    }
    TLocalSocketChannel channel(InstanceChannelName(AgentDataDir()));
    return channel.AskRunningAgentToExit() ? 1 : 0;
}
