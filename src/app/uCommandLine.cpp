#include "app/uCommandLine.h"

#include <ostream>

#include "app/uSupportCommands.h"
#include "app/uTrayAgent.h"
#include "core/uEgaissRu.h"
#include "core/uVersion.h"

namespace egaiss {
namespace {

struct TModeName {
    const char* Name;
    TRunMode Mode;
};

constexpr TModeName ModeNames[] = {
    {"--headless", TRunMode::rmHeadless},
    {"sync", TRunMode::rmSync},
    {"diagnose", TRunMode::rmDiagnose},
    {"config", TRunMode::rmConfig},
    {"scales-load", TRunMode::rmScalesLoad},
    {"scales-find", TRunMode::rmScalesFind},
    {"prepare-check", TRunMode::rmPrepareCheck},
    {"prepare-install", TRunMode::rmPrepareInstall},
    {"stop", TRunMode::rmStop},
    {"--version", TRunMode::rmVersion},
    {"--help", TRunMode::rmHelp},
    {"-h", TRunMode::rmHelp},
};

bool IsAgentMode(TRunMode mode) {
    return mode == TRunMode::rmTray || mode == TRunMode::rmHeadless;
}

// "-noupdate" or "/noupdate" in any letter case; two hyphens do not count.
bool IsNoUpdateSwitch(const std::string& arg) {
    if (arg.size() != 9 || (arg[0] != '-' && arg[0] != '/')) return false;
    return LowerAscii(arg.substr(1)) == "noupdate";
}

int RunWithSettings(int (*command)(const TEgaissConfig&, std::ostream&), std::ostream& out,
                    std::ostream& err) {
    const auto cfg = LoadConfigOrReport(err);
    return cfg ? command(*cfg, out) : ExitUsage;
}

TCommandLine Invalid(const TCommandLine& parsed, const std::string& error) {
    TCommandLine result;
    result.Mode = TRunMode::rmInvalid;
    result.NoUpdate = parsed.NoUpdate;
    result.Error = error;
    return result;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine result;
    bool modeGiven = false;
    for (const std::string& arg : args) {
        if (IsNoUpdateSwitch(arg)) {
            result.NoUpdate = true;
            continue;
        }
        // The command checks its own options.
        if (result.Mode == TRunMode::rmScalesFind || result.Mode == TRunMode::rmConfig ||
            result.Mode == TRunMode::rmPrepareInstall) {
            result.CommandArgs.push_back(arg);
            continue;
        }
        bool known = false;
        for (const auto& [name, mode] : ModeNames) {
            if (arg != name) continue;
            known = true;
            if (modeGiven) return Invalid(result, "more than one command: " + arg);
            result.Mode = mode;
            modeGiven = true;
        }
        if (!known) result.IgnoredArgs.push_back(arg);
    }
    // A support command is run by scripts, which should hear about a typo.
    if (!IsAgentMode(result.Mode) && !result.IgnoredArgs.empty())
        return Invalid(result, "unknown argument: " + result.IgnoredArgs.front());
    return result;
}

void PrintUsage(std::ostream& out) {
    out << "Usage: VelmoraEgaissAgent [command] [-noupdate]\n"
           "\n"
           "Without a command the agent starts in the tray.\n"
           "\n"
           "Commands:\n"
           "  --headless   run the agent without any window until SIGINT or SIGTERM\n"
           "  sync         run one sync cycle now; prints OK: or FAILED: and the message\n"
           "  diagnose     print the UTM diagnosis as indented JSON\n"
           "  config       print the effective settings (the secret hidden)\n"
           "  config --set KEY=VALUE...\n"
           "               save the given settings as the settings dialog does (keys of\n"
           "               agent.ini: server_url, agent_id, agent_secret, utm_host, utm_port,\n"
           "               poll_seconds, firm_id, id_sklad, label, autostart), then print\n"
           "               them; a bad key or value, or incomplete settings, write nothing.\n"
           "               A running agent reads them at its next start\n"
           "  scales-load  load the waiting price file into the scales now; prints the result\n"
           "  scales-find [--subnet CIDR]... [--port N] [--timeout-ms N]\n"
           "               search the LAN for scales; prints host:port:serial per scale.\n"
           "               --subnet probes only the given subnets (repeatable) and sends\n"
           "               no 255.255.255.255 probe; defaults: this computer's subnets,\n"
           "               port 5001, 5000 ms\n"
           "  prepare-check\n"
           "               run the checks of the server's preparation manifest; prints one\n"
           "               line per component: order, state, title, detail\n"
           "  prepare-install ID... | prepare-install --all\n"
           "               download, verify and silently install the named components of\n"
           "               the preparation manifest (--all: those whose check does not\n"
           "               pass, in their order); one line per step and per component;\n"
           "               0 when every one was installed\n"
           "  stop         ask the tray agent running in this folder to end as on its\n"
           "               exit command and wait until it has (at most 30 s); prints\n"
           "               \"Agent stopped\" or \"No agent running\", 0 when no agent runs\n"
           "               afterwards, 1 when one still does\n"
           "  --version    print the agent version\n"
           "  --help       print this text\n"
           "\n"
           "Switches:\n"
           "  -noupdate    skip the self-update check at start (also /noupdate)\n"
           "\n"
           "Exit codes: 0 success, 1 failure, 2 bad arguments or agent not configured,\n"
           "3 another agent runs in this folder.\n"
           "All files (agent.ini, agent.log) live in the executable's folder.\n";
}

int RunSupportCommand(const TCommandLine& commandLine, std::ostream& out, std::ostream& err) {
    switch (commandLine.Mode) {
        case TRunMode::rmVersion:
            out << AgentVersion << "\n";
            return ExitOk;
        case TRunMode::rmHelp:
            PrintUsage(out);
            return ExitOk;
        case TRunMode::rmSync:
            return RunWithSettings(RunSyncCommand, out, err);
        case TRunMode::rmDiagnose:
            return RunWithSettings(RunDiagnoseCommand, out, err);
        case TRunMode::rmConfig:
            // Printing and --set both start from the settings file.
            return LoadConfigOrReport(err) ? RunConfigCommand(commandLine.CommandArgs, out, err) : ExitUsage;
        case TRunMode::rmScalesLoad:
            // The scale settings live in agent.ini too.
            return LoadConfigOrReport(err) ? RunScalesLoadCommand(out) : ExitUsage;
        case TRunMode::rmScalesFind:
            return RunScalesFindCommand(commandLine.CommandArgs, out, err);
        case TRunMode::rmPrepareCheck:
            return RunWithSettings(RunPrepareCheckCommand, out, err);
        case TRunMode::rmPrepareInstall: {
            const auto cfg = LoadConfigOrReport(err);
            return cfg ? RunPrepareInstallCommand(*cfg, commandLine.CommandArgs, out, err) : ExitUsage;
        }
        case TRunMode::rmStop:
            return RunStopCommand(TrayAgentExitAsker(), DataFolderLockPath(), StopWait, out);
        case TRunMode::rmInvalid:
            err << "VelmoraEgaissAgent: " << commandLine.Error << "\n";
            PrintUsage(err);
            return ExitUsage;
        case TRunMode::rmTray:
        case TRunMode::rmHeadless:
            break;
    }
    err << "VelmoraEgaissAgent: not a support command\n";
    return ExitUsage;
}

}  // namespace egaiss
