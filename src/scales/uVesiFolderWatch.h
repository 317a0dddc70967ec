#pragma once
// Loading the price file that the shop's ERP drops into a brand's folder into every enabled scale of
// the brand. The folder is the only state between polls: a file is removed when every scale took
// it, or marked with a ".err" companion so that it is not taken again until somebody removes that.
#include <string>

#include "scales/uMassaKProto.h"
#include "scales/uScalesConfig.h"

namespace egaiss {

struct TVesiLoadResult {
    bool Ok = false;       // a price file went into every tried scale and was removed
    std::string Message;   // success text, failure text or hint; may be empty
    std::string FileName;  // name part of the file taken up; empty when none was taken
};

// One look into a folder for the file to load.
struct TPendingScan {
    std::string Path;  // the oldest matching file without a ".err" companion; empty when none
    std::string Summary;
    int Matched = 0;
    int Skipped = 0;  // matching files that have a ".err" companion
    int Other = 0;
};

// The scales timer (force false: active brands only, silent when there is nothing to do) and the
// manual load (force true: ready brands, every step logged). True when a file was loaded.
bool PollScalesFolders(const TScalesConfig& cfg, bool force, TVesiLoadResult& result,
                       const TMassaTimeouts& timeouts = {});
bool PollBrandFolder(int brand, const TScaleBrandConfig& brandCfg, bool force, TVesiLoadResult& result,
                     const TMassaTimeouts& timeouts = {});
TPendingScan FindPendingFile(const std::string& dir, const std::string& mask);
// Parses the file, loads both tables into each enabled scale in turn, then removes or marks it.
// An exception while the tables are built reaches the caller, with the file left unmarked.
bool LoadFileIntoScales(const std::string& path, const TScaleBrandConfig& brandCfg, TVesiLoadResult& result,
                        const TMassaTimeouts& timeouts = {});
// Writes path + ".err": the local time, CR LF and the reason, UTF-8 with a byte-order mark.
bool MarkErrorFile(const std::string& path, const std::string& reason);
// "hosts=2 [10.0.0.7:5001,10.0.0.8:5001]" over the enabled scales with a host; "hosts=0".
std::string HostsSummary(const TScaleBrandConfig& brandCfg);

}  // namespace egaiss
