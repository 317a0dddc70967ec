#include "agent/uAgentServices.h"

#include "clients/uUtmApi.h"
#include "clients/uVelmoraApi.h"
#include "core/uVersion.h"
#include "sync/uSyncWorker.h"
#include "update/uAgentUpdate.h"

namespace egaiss {

TEgaissConfig TConfigFileSettings::LoadConfig() {
    return egaiss::LoadConfig();
}

void TConfigFileSettings::ApplyAutostart(const TEgaissConfig& cfg) {
    egaiss::ApplyAutostart(cfg);
}

TSyncOutcome TSyncCycleService::RunSync(const TEgaissConfig& cfg) {
    TSyncOutcome outcome;
    RunSyncCycle(cfg, outcome.OK, outcome.Msg);
    return outcome;
}

TDiagnosisReport TVelmoraServerPoll::DiagnosisPing(const TEgaissConfig& cfg, const std::string& lastError) {
    TVelmoraApi server(cfg);
    TUtmApi utm(cfg.UtmBaseURL());
    TUtmDiagnosis diagnosis;
    utm.FetchDiagnosis(diagnosis);
    server.PingWithDiagnosis(AgentVersion, diagnosis, lastError, false);
    return {diagnosis.FsrarId, diagnosis.ErrorText};
}

bool TVelmoraServerPoll::PollSyncCommand(const TEgaissConfig& cfg) {
    return TVelmoraApi(cfg).PollSyncCommand(AgentVersion);
}

bool TSelfUpdateService::CheckForUpdate(const TEgaissConfig& cfg) {
    // The switch is honoured inside the check, after its test of the settings.
    TUpdateEnvironment environment;
    environment.NoUpdateSwitch = !FEnabled;
    return egaiss::CheckForUpdate(cfg, environment);
}

TScalesConfig TScalesFolderService::LoadScalesConfig() {
    return egaiss::LoadScalesConfig();
}

std::string TScalesFolderService::EnsureMacAddr(TScalesConfig& cfg) {
    return egaiss::EnsureMacAddr(cfg);
}

void TScalesFolderService::SaveScalesConfig(const TScalesConfig& cfg) {
    egaiss::SaveScalesConfig(cfg);
}

bool TScalesFolderService::PollScales(const TScalesConfig& cfg, TVesiLoadResult& result) {
    return PollScalesFolders(cfg, false, result);
}

}  // namespace egaiss
