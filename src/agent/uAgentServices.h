#pragma once
// What the scheduler asks of the rest of the agent, one interface per concern, so that a window or
// a test takes only what it uses. The real implementations talk to agent.ini, the UTM, the server
// and the scales; tests give the scheduler fakes so that they can drive it without peers.
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

class TSettingsService {
public:
    virtual ~TSettingsService() = default;
    virtual TEgaissConfig LoadConfig() = 0;
    virtual void ApplyAutostart(const TEgaissConfig& cfg) = 0;
};

class TSyncService {
public:
    virtual ~TSyncService() = default;
    // One sync cycle; may raise.
    virtual TSyncOutcome RunSync(const TEgaissConfig& cfg) = 0;
};

// The two periodic questions to the server besides the sync.
class TServerPollService {
public:
    virtual ~TServerPollService() = default;
    // Reads the UTM diagnosis and reports it to the server with the last error; may raise.
    virtual TDiagnosisReport DiagnosisPing(const TEgaissConfig& cfg, const std::string& lastError) = 0;
    // True when the server asks for a sync now; may raise.
    virtual bool PollSyncCommand(const TEgaissConfig& cfg) = 0;
};

class TUpdateService {
public:
    virtual ~TUpdateService() = default;
    // True when a newer agent replaced this one and was started: this process must end now.
    virtual bool CheckForUpdate(const TEgaissConfig& cfg) = 0;
};

class TScalesService {
public:
    virtual ~TScalesService() = default;
    virtual TScalesConfig LoadScalesConfig() = 0;
    // Fills a blank MAC address from the network adapters; returns it.
    virtual std::string EnsureMacAddr(TScalesConfig& cfg) = 0;
    // May raise.
    virtual void SaveScalesConfig(const TScalesConfig& cfg) = 0;
    // One automatic poll of the scales folders; may raise.
    virtual bool PollScales(const TScalesConfig& cfg, TVesiLoadResult& result) = 0;
};

// Everything the scheduler uses; the services outlive the agent and its job threads.
struct TAgentServices {
    TSettingsService& Settings;
    TSyncService& Sync;
    TServerPollService& Server;
    TUpdateService& Update;
    TScalesService& Scales;
};

class TConfigFileSettings : public TSettingsService {
public:
    TEgaissConfig LoadConfig() override;
    void ApplyAutostart(const TEgaissConfig& cfg) override;
};

class TSyncCycleService : public TSyncService {
public:
    TSyncOutcome RunSync(const TEgaissConfig& cfg) override;
};

class TVelmoraServerPoll : public TServerPollService {
public:
    TDiagnosisReport DiagnosisPing(const TEgaissConfig& cfg, const std::string& lastError) override;
    bool PollSyncCommand(const TEgaissConfig& cfg) override;
};

class TSelfUpdateService : public TUpdateService {
public:
    explicit TSelfUpdateService(bool enabled) : FEnabled(enabled) {}
    bool CheckForUpdate(const TEgaissConfig& cfg) override;

private:
    bool FEnabled;
};

class TScalesFolderService : public TScalesService {
public:
    TScalesConfig LoadScalesConfig() override;
    std::string EnsureMacAddr(TScalesConfig& cfg) override;
    void SaveScalesConfig(const TScalesConfig& cfg) override;
    bool PollScales(const TScalesConfig& cfg, TVesiLoadResult& result) override;
};

// The services of the running agent: agent.ini, the UTM, the server, the self-update and the scales.
class TRealAgentServices {
public:
    explicit TRealAgentServices(bool selfUpdateEnabled) : FUpdate(selfUpdateEnabled) {}
    TRealAgentServices(const TRealAgentServices&) = delete;
    TRealAgentServices& operator=(const TRealAgentServices&) = delete;

    TAgentServices All() { return {FSettings, FSync, FServer, FUpdate, FScales}; }

private:
    TConfigFileSettings FSettings;
    TSyncCycleService FSync;
    TVelmoraServerPoll FServer;
    TSelfUpdateService FUpdate;
    TScalesFolderService FScales;
};

}  // namespace egaiss
