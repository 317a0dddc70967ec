#pragma once
// The end-to-end and soak suites' peers and subject: egaiss-sim as a child process with its control
// routes, and the real agent binary copied into a folder of its own (its data folder).
#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/uChildProcess.h"
#include "support/uTestDirs.h"

namespace egaiss::test {

// The control routes under /sim/ of one simulator on 127.0.0.1; they are never subject to faults.
class TSimControl {
public:
    explicit TSimControl(int port) : FPort(port) {}

    int Port() const { return FPort; }
    std::string BaseURL() const;
    // GET /sim/state. Raises unless the answer is a JSON object.
    rapidjson::Document State() const;
    // POSTs a JSON body and returns the answer's body. Raises unless the status is 2xx.
    std::string Post(const std::string& path, const std::string& json) const;
    void SetFaults(const std::string& json) const { Post("/sim/faults", json); }

private:
    int FPort;
};

// One egaiss-sim process: "utm", "server" or "both" followed by `args`. The constructor returns once
// every simulator of the process printed its listening line.
class TSimProcess {
public:
    TSimProcess(const std::string& simExe, const std::string& mode,
                const std::vector<std::string>& args = {});
    ~TSimProcess();
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    int UtmPort() const { return FUtmPort; }
    int ServerPort() const { return FServerPort; }
    TSimControl Utm() const;  // raises when the process runs no UTM
    TSimControl Server() const;
    // "http://127.0.0.1:PORT", as the UTM writes its own document URLs.
    std::string UtmBaseURL() const;
    // The agent's server_url for this server.
    std::string ServerURL() const;
    // Its stdout and stderr so far: the listening lines, then one line per request.
    std::string Output() const;
    // SIGTERM, then SIGKILL after `grace`; the exit code.
    int Stop(std::chrono::milliseconds grace = std::chrono::seconds(10));

private:
    TTempDir FDir;
    std::unique_ptr<TChildProcess> FChild;
    int FUtmPort = 0;
    int FServerPort = 0;
};

// Ends a child by its own process id: `stopSignal`, then SIGKILL when it still runs after `grace`.
// Returns the exit code (128 + signal for a child ended by a signal).
int StopChild(TChildProcess& child, std::chrono::milliseconds grace, int stopSignal);
int StopChild(TChildProcess& child, std::chrono::milliseconds grace);  // with SIGTERM

// Polls `condition` every few milliseconds; false when it still fails after `timeout`.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

struct TAgentIni {
    std::string ServerURL;
    std::string AgentID = "agent-1";
    std::string AgentSecret = "secret";
    int UtmPort = 0;
    int PollSeconds = 60;
};

// The agent's settings for the simulators of `sim` (its default agent id and secret).
TAgentIni AgentIniFor(const TSimProcess& sim);

// The agent binary in a temporary folder of its own, which is its data folder: agent.ini,
// agent.log and agent.lock live beside it. `subfolder` (UTF-8) names a folder inside the temporary
// one to use instead.
// The Windows build runs the same tests under Wine: EGAISS_E2E_AGENT_EXE then names the .exe and
// EGAISS_E2E_AGENT_RUNNER the program that runs it (wine64). Its output's CRLF line ends read as LF,
// and headless mode is stopped with SIGINT, which Wine delivers as Ctrl+C.
class TAgentFolder {
public:
    explicit TAgentFolder(const std::string& agentExe, const std::string& subfolder = {});
    ~TAgentFolder();
    TAgentFolder(const TAgentFolder&) = delete;
    TAgentFolder& operator=(const TAgentFolder&) = delete;

    const std::string& Exe() const { return FExe; }
    std::string File(const std::string& name) const;
    // The data folder.
    const std::string& Home() const { return FHome; }
    void WriteIni(const TAgentIni& ini) const;

    // Runs a subcommand to its end.
    TRunResult Run(const std::vector<std::string>& args,
                   std::chrono::milliseconds timeout = std::chrono::seconds(90)) const;

    // Starts the agent with `args`, its output going to `outputName` in its folder, without
    // waiting. Read the output through Output below.
    std::unique_ptr<TChildProcess> Start(const std::vector<std::string>& args,
                                         const std::string& outputName) const;
    // A child's output with the line ends of a Windows program (CRLF) read as LF.
    static std::string Output(const TChildProcess& child);
    // `--headless -noupdate` until StopHeadless; one at a time.
    TChildProcess& StartHeadless();
    TChildProcess* Headless() const { return FHeadless.get(); }
    // SIGTERM (under Wine SIGINT; SIGKILL after `grace`); the exit code.
    int StopHeadless(std::chrono::milliseconds grace = std::chrono::seconds(20));

    // agent.log, empty while there is none.
    std::string Log() const;
    // Waits until agent.log holds `text` at least `count` times; false at the time-out or when a
    // running headless agent ended on its own meanwhile.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout, int count = 1) const;

private:
    // The program and arguments that start the agent with `args`.
    std::vector<std::string> Command(const std::vector<std::string>& args) const;

    TTempDir FDir;
    std::string FRunner;  // empty: the binary runs itself
    std::string FHome;
    std::string FExe;
    std::unique_ptr<TChildProcess> FHeadless;
    bool FHeadlessStopped = false;
    int FHeadlessRuns = 0;
};

int CountOccurrences(const std::string& text, const std::string& needle);

// Members of /sim/state objects; a missing member gives an empty text or 0.
std::string JsonText(const rapidjson::Value& object, const char* name);
std::int64_t JsonInt(const rapidjson::Value& object, const char* name);
// The member array, or an empty one when it is missing.
const rapidjson::Value& JsonArray(const rapidjson::Value& object, const char* name);

// A JSON string literal (quotes included) for building control bodies.
std::string JsonQuote(const std::string& text);

}  // namespace egaiss::test
