#include "agent/uAgentServices.h"

#include "clients/uUtmApi.h"
#include "clients/uVelmoraApi.h"
#include "core/uVersion.h"
#include "sync/uSyncWorker.h"
#include "update/uAgentUpdate.h"

namespace egaiss {

TEgaissConfig TRealAgentServices::LoadConfig() { return egaiss::LoadConfig(); }

void TRealAgentServices::ApplyAutostart(const TEgaissConfig& cfg) { egaiss::ApplyAutostart(cfg); }

TSyncOutcome TRealAgentServices::RunSync(const TEgaissConfig& cfg) {
    TSyncOutcome outcome;
    RunSyncCycle(cfg, outcome.OK, outcome.Msg);
    return outcome;
}

TDiagnosisReport TRealAgentServices::DiagnosisPing(const TEgaissConfig& cfg, const std::string& lastError) {
    TVelmoraApi server(cfg);
    TUtmApi utm(cfg.UtmBaseURL());
    TUtmDiagnosis diagnosis;
    utm.FetchDiagnosis(diagnosis);
    server.PingWithDiagnosis(AgentVersion, diagnosis, lastError, false);
    return {diagnosis.FsrarId, diagnosis.ErrorText};
}

bool TRealAgentServices::PollSyncCommand(const TEgaissConfig& cfg) {
    return TVelmoraApi(cfg).PollSyncCommand(AgentVersion);
}

bool TRealAgentServices::CheckForUpdate(const TEgaissConfig& cfg) {
    // The switch is honoured inside the check, after its test of the settings.
    TUpdateEnvironment environment;
    environment.NoUpdateSwitch = !FSelfUpdateEnabled;
    return egaiss::CheckForUpdate(cfg, environment);
}

TScalesConfig TRealAgentServices::LoadScalesConfig() { return egaiss::LoadScalesConfig(); }

std::string TRealAgentServices::EnsureMacAddr(TScalesConfig& cfg) { return egaiss::EnsureMacAddr(cfg); }

void TRealAgentServices::SaveScalesConfig(const TScalesConfig& cfg) { egaiss::SaveScalesConfig(cfg); }

bool TRealAgentServices::PollScales(const TScalesConfig& cfg, TVesiLoadResult& result) {
    return PollScalesFolders(cfg, false, result);
}

}  // namespace egaiss
