// egaiss-sim: the UTM and the server the agent talks to, simulated on 127.0.0.1, and Massa-K
// scales on 127.x.x.x addresses.
#include "uSimHost.h"
#include "uSimOptions.h"
#include "uSimScale.h"
#include "uSimServer.h"
#include "uSimUtm.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace egaiss::sim;

std::atomic<bool> GServeFailed{false};

const char* SignalName(int signal_number) {
    return signal_number == SIGINT ? "SIGINT" : "SIGTERM";
}

int RunScale(const TSimOptions& options, sigset_t& stop_signals) {
    TSimScale scale(options.Scale);
    try {
        scale.Bind(options.Port);
        scale.Start();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "egaiss-sim: scale: %s\n", error.what());
        return 1;
    }
    PrintLine("scale listening on " + scale.Address() + ":" + std::to_string(scale.Port()));
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    PrintLine(std::string("stopping on ") + SignalName(signal_number));
    scale.Stop();
    return 0;
}

int Run(const TSimOptions& options) {
    // Signals are taken by sigwait on this thread alone, so no work happens in a signal handler;
    // the mask is set before any thread starts and is inherited by all of them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (options.Mode == TSimMode::smScale) return RunScale(options, stop_signals);

    std::vector<std::unique_ptr<TSimService>> services;
    std::vector<int> ports;
    if (options.Mode != TSimMode::smServer) {
        services.push_back(std::make_unique<TSimUtm>(options.Utm));
        ports.push_back(options.Port);
    }
    if (options.Mode != TSimMode::smUtm) {
        services.push_back(std::make_unique<TSimServer>(options.Server));
        ports.push_back(options.Mode == TSimMode::smBoth ? options.ServerPort : options.Port);
    }

    std::vector<std::unique_ptr<TSimHost>> hosts;
    for (std::size_t i = 0; i < services.size(); ++i) {
        hosts.push_back(std::make_unique<TSimHost>(*services[i], options.Faults, options.Utm.Seed + i));
        try {
            hosts.back()->Bind(ports[i]);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "egaiss-sim: %s: %s\n", services[i]->Role(), error.what());
            return 1;
        }
    }
    for (auto& host : hosts) {
        host->Start([] {
            GServeFailed = true;
            kill(getpid(), SIGTERM);
        });
        PrintLine(std::string(host->Role()) + " listening on " + kLoopbackHost + ":" +
                  std::to_string(host->Port()));
    }

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    PrintLine(std::string("stopping on ") + SignalName(signal_number));
    for (auto& host : hosts)
        host->Stop();
    if (GServeFailed) {
        std::fprintf(stderr, "egaiss-sim: a simulator stopped serving unexpectedly\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    TSimOptions options;
    std::string error;
    if (!ParseSimOptions(args, options, error)) {
        std::fprintf(stderr, "egaiss-sim: %s\nTry 'egaiss-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options.Mode == TSimMode::smHelp) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    try {
        return Run(options);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "egaiss-sim: %s\n", failure.what());
        return 1;
    }
}
