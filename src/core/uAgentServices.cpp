#include "core/uAgentServices.h"

#include "clients/uUtmApi.h"
#include "clients/uVelmoraApi.h"
#include "core/uEgaissLog.h"
#include "core/uVersion.h"
#include "sync/uSyncWorker.h"

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

bool TRealAgentServices::CheckForUpdate(const TEgaissConfig& /*cfg*/) {
    if (!FSelfUpdateEnabled) {
        LogInfo("Update skipped (--noupdate)");
        return false;
    }
    // The update manifest check joins here; until then no update is ever installed.
    return false;
}

}  // namespace egaiss
