#pragma once
// What the install logic needs of the preparation window. The window implements it; tests drive the
// install logic through a recording stand-in. Every operation is called on the main thread.
#include <string>

#include "prepare/uBootstrapManifest.h"
#include "prepare/uEnvChecker.h"

namespace egaiss {

class TBootstrapWindow {
public:
    virtual ~TBootstrapWindow() = default;

    // User actions disabled, progress shown with the range 0 to `maximum`.
    virtual void BeginProgress(int maximum) = 0;
    // Progress position and caption shown; ignored once the window is being destroyed.
    virtual void SetProgressSafe(int position, const std::string& caption) = 0;
    // The component's row marked as being worked on ("Running...").
    virtual void MarkRowRunning(int index) = 0;
    // The component's row shows the new check result.
    virtual void UpdateRow(int index, const TEnvCheckResult& result) = 0;
    // End of install-all: shows the error, or starts a new check run when `errMsg` is empty.
    virtual void InstallAllFinished(const std::string& errMsg) = 0;
    // The user's choice of silent installation.
    virtual bool IsSilentMode() const = 0;
    // The component at a manifest index; null when there is none or it is not a JSON object.
    virtual const TJsonValue* ComponentAt(int index) const = 0;
};

}  // namespace egaiss
