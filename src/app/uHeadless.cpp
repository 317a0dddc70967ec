#include "app/uHeadless.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "agent/uAgent.h"
#include "app/uCommandLine.h"
#include "app/uSupportCommands.h"
#include "core/uEgaissLog.h"
#include "platform/uShutdownSignal.h"

namespace egaiss {
namespace {

// How long a stopping agent gives a running sync to finish before it leaves it behind.
constexpr auto JobGracePeriod = std::chrono::seconds(10);

}  // namespace

int RunHeadlessAgent(int argc, char** argv, bool noUpdate) {
    QCoreApplication app(argc, argv);
    if (!LoadConfigOrReport(std::cerr)) return ExitUsage;
    const auto lock = LockDataFolder();
    if (!lock) {
        std::cerr << "Agent already running\n";
        return ExitAlreadyRunning;
    }
    const platform::TShutdownHandler shutdown([&app] {
        QMetaObject::invokeMethod(
            &app,
            [] {
                LogInfo("Agent stopping (signal)");
                QCoreApplication::quit();
            },
            Qt::QueuedConnection);
    });

    TRealAgentServices services(!noUpdate);
    TAgent agent(services.All());
    QObject::connect(&agent, &TAgent::ExitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer::singleShot(0, &agent, &TAgent::Start);
    app.exec();
    return EndAgentProcess(agent, JobGracePeriod);
}

int EndAgentProcess(TAgent& agent, std::chrono::milliseconds grace) {
    if (!agent.WaitForJobs(grace)) {
        LogInfo("Agent stopped with a job still running");
        // The job's thread still uses the log and the clients; end without running destructors.
        std::_Exit(ExitOk);
    }
    LogInfo("Agent stopped");
    return ExitOk;
}

}  // namespace egaiss
