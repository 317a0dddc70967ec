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
// Called before each component's check: its title, the number of components checked so far
// including this one, and the number of array elements.
using TComponentCheckProgress = std::function<void(const std::string& title, int number, int total)>;

// Runs the check of every component (elements that are not objects are skipped but keep their
// positions) and logs each result. A component whose check cannot run (no "title" and no "id", a
// check block without "type") gives a failed row with the error as its detail; the others still
// run. `run` is RunEnvCheck when empty.
std::vector<TComponentCheckRow> RunComponentChecks(const TJsonValue* components, const TEgaissConfig& cfg,
                                                   const TComponentCheckRunner& run = {},
                                                   const TComponentCheckProgress& progress = {});

// The text on one line: each line break (CR LF, CR or LF) becomes " | ".
std::string OneLineText(const std::string& text);
// "<order> [<state tag>] <title> - <detail>" with the detail on one line.
std::string ComponentCheckLine(const TComponentCheckRow& row);

// True when a component that is required failed its check. A component that is not required can
// still show a failure ("No check block" is never softened), which does not count.
bool AnyRequiredCheckFailed(const std::vector<TComponentCheckRow>& rows);

// The element at `index` of the components array when it is a JSON object; null otherwise.
const TJsonValue* ComponentAt(const TJsonValue* components, int index);
// The component's "order", else `defaultOrder`.
int ComponentOrder(const TJsonValue* component, int defaultOrder);
// The row's check did not pass and its component has an "install" member.
bool RowCanInstall(const TComponentCheckRow& row, const TJsonValue* components);
// The component indices of the installable rows, ascending by "order" (default: the index
// itself), ties by index: the order in which install-all runs.
std::vector<int> CollectInstallIndices(const std::vector<TComponentCheckRow>& rows,
                                       const TJsonValue* components);

}  // namespace egaiss
