#pragma once
// Installing components of the preparation manifest without a window, for `prepare-install`: the
// download, verification and installer steps of the preparation window, silent, one printed line
// per step and per component.
#include <iosfwd>
#include <string>
#include <vector>

#include "core/uEgaissConfig.h"
#include "prepare/uBootstrapInstall.h"
#include "prepare/uBootstrapManifest.h"

namespace egaiss {

// The components to install: by "id" in the given order, or (`All`) those whose check does not
// pass and that have an install block, in install-all order.
struct TPrepareInstallChoice {
    std::vector<std::string> Ids;
    bool All = false;
};

// The component indices chosen, in install order. An id that names no component is refused
// (`error` says which) before anything is installed. `All` runs the checks and prints their lines.
bool ChooseInstallIndices(const TJsonValue* components, const TEgaissConfig& cfg,
                          const TPrepareInstallChoice& choice, std::vector<int>& indices, std::string& error,
                          std::ostream& out, const TInstallOptions& options = {});

// Installs the components at `indices` one after another and stops at the first failure. True
// when every one was installed: its action passed, or its installer ended with exit code 0 (or
// its check passed while the installer still ran).
bool InstallComponents(const TJsonValue* components, const std::vector<int>& indices,
                       const TEgaissConfig& cfg, std::ostream& out, TInstallOptions options = {});

}  // namespace egaiss
