#pragma once
// The environment checks of every component of a loaded manifest, as the `prepare-check` command
// prints them: one row per component, in manifest order.
#include <functional>
#include <string>
#include <vector>

#include "core/uEgaissConfig.h"
#include "prepare/uBootstrapManifest.h"
#include "prepare/uEnvChecker.h"

namespace egaiss {

struct TComponentCheckRow {
    int Index = 0;  // position in the "components" array
    int Order = 0;  // "order", else position + 1
    std::string Title;
    bool Required = true;
    TEnvCheckResult Result;
};

using TComponentCheckRunner =
    std::function<TEnvCheckResult(const TJsonValue& component, const TEgaissConfig& cfg)>;

// Runs the check of every component (elements that are not objects are skipped but keep their
// positions) and logs each result. A component whose check cannot run (no "title" and no "id", a
// check block without "type") gives a failed row with the error as its detail; the others still
// run. `run` is RunEnvCheck when empty.
std::vector<TComponentCheckRow> RunComponentChecks(const TJsonValue* components, const TEgaissConfig& cfg,
                                                   const TComponentCheckRunner& run = {});

// "<order> [<state tag>] <title> - <detail>" on one line: line breaks inside the detail become " | ".
std::string ComponentCheckLine(const TComponentCheckRow& row);

// True when a component that is required failed its check. A component that is not required can
// still show a failure ("No check block" is never softened), which does not count.
bool AnyRequiredCheckFailed(const std::vector<TComponentCheckRow>& rows);

}  // namespace egaiss
