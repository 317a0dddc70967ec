#pragma once
// What the scheduler asks of the rest of the agent. The real implementation talks to the UTM and
// the server; tests give the scheduler fakes so that they can drive it without peers.
#include <string>

#include "core/uEgaissConfig.h"
#include "scales/uScalesConfig.h"
#include "scales/uVesiFolderWatch.h"

namespace egaiss {

struct TSyncOutcome {
    bool OK = false;
    std::string Msg;
};

// What the diagnosis ping learnt of the UTM's token.
struct TDiagnosisReport {
    std::string FsrarId;    // empty when none was found
    std::string ErrorText;  // why not, when the UTM said
};

class TAgentServices {
public:
    virtual ~TAgentServices() = default;

    virtual TEgaissConfig LoadConfig() = 0;
    virtual void ApplyAutostart(const TEgaissConfig& cfg) = 0;
    // One sync cycle; may raise.
    virtual TSyncOutcome RunSync(const TEgaissConfig& cfg) = 0;
    // Reads the UTM diagnosis and reports it to the server with the last error; may raise.
    virtual TDiagnosisReport DiagnosisPing(const TEgaissConfig& cfg, const std::string& lastError) = 0;
    // True when the server asks for a sync now; may raise.
    virtual bool PollSyncCommand(const TEgaissConfig& cfg) = 0;
    // True when a newer agent replaced this one and was started: this process must end now.
    virtual bool CheckForUpdate(const TEgaissConfig& cfg) = 0;

    // The scale settings. The defaults stand for an agent without scales: nothing is active, so
    // the scales timer never runs.
    virtual TScalesConfig LoadScalesConfig() { return {}; }
    // Fills a blank MAC address from the network adapters; returns it.
    virtual std::string EnsureMacAddr(TScalesConfig& cfg) { return cfg.MacAddr; }
    // May raise.
    virtual void SaveScalesConfig(const TScalesConfig& /*cfg*/) {}
    // One automatic poll of the scales folders; may raise.
    virtual bool PollScales(const TScalesConfig& /*cfg*/, TVesiLoadResult& result) {
        result = {};
        return false;
    }
};

// The services of the running agent: agent.ini, the UTM, the server and the self-update.
class TRealAgentServices : public TAgentServices {
public:
    explicit TRealAgentServices(bool selfUpdateEnabled) : FSelfUpdateEnabled(selfUpdateEnabled) {}

    TEgaissConfig LoadConfig() override;
    void ApplyAutostart(const TEgaissConfig& cfg) override;
    TSyncOutcome RunSync(const TEgaissConfig& cfg) override;
    TDiagnosisReport DiagnosisPing(const TEgaissConfig& cfg, const std::string& lastError) override;
    bool PollSyncCommand(const TEgaissConfig& cfg) override;
    bool CheckForUpdate(const TEgaissConfig& cfg) override;
    TScalesConfig LoadScalesConfig() override;
    std::string EnsureMacAddr(TScalesConfig& cfg) override;
    void SaveScalesConfig(const TScalesConfig& cfg) override;
    bool PollScales(const TScalesConfig& cfg, TVesiLoadResult& result) override;

private:
    bool FSelfUpdateEnabled;
};

}  // namespace egaiss
