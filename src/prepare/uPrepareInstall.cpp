#include "prepare/uPrepareInstall.h"

#include <exception>
#include <filesystem>
#include <ostream>

#include "platform/uPath.h"
#include "prepare/uPrepareCheck.h"

namespace egaiss {
namespace {

// The installer reaches no window here: install-all, the only user of these, is not run.
class TNoWindow : public TBootstrapWindow {
public:
    void BeginProgress(int /*maximum*/) override {}
    void SetProgressSafe(int /*position*/, const std::string& /*caption*/) override {}
    void MarkRowRunning(int /*index*/) override {}
    void UpdateRow(int /*index*/, const TEnvCheckResult& /*result*/) override {}
    void InstallAllFinished(const std::string& /*errMsg*/) override {}
    bool IsSilentMode() const override { return true; }
    const TJsonValue* ComponentAt(int /*index*/) const override { return nullptr; }
};

int FindComponentById(const TJsonValue* components, const std::string& id) {
    const int count = components != nullptr ? static_cast<int>(components->Items().size()) : 0;
    for (int i = 0; i < count; ++i) {
        const TJsonValue* component = ComponentAt(components, i);
        std::string componentId;
        if (component != nullptr && TryGetJsonString(*component, "id", componentId) && componentId == id)
            return i;
    }
    return -1;
}

std::string VerifiedText(const TJsonValue& installBlock) {
    const bool hash = installBlock.Find("sha256") != nullptr;
    const bool size = installBlock.Find("size_bytes") != nullptr;
    if (hash && size) return "verified: SHA-256 and size";
    if (hash) return "verified: SHA-256";
    if (size) return "verified: size";
    return "not verified: the manifest gives no sha256 or size_bytes";
}

std::uintmax_t FileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(Utf8Path(path), error);
    return error ? 0 : size;
}

// One component's steps; raises when it was not installed.
void InstallOne(TBootstrapInstaller& installer, const TJsonValue& component, const std::string& prefix,
                std::ostream& out) {
    const TJsonValue* installBlock = component.Find("install");
    if (installBlock == nullptr) throw EInstallError("No installer file for this item.");
    if (IsActionInstall(*installBlock)) {
        out << prefix << "action " << GetJsonString(*installBlock, "action") << std::endl;
        installer.InstallComponent(&component, true, true);
        return;
    }
    LogBootstrap("Install component: " + ItemTitle(&component));
    std::string url;
    TryGetJsonString(*installBlock, "url", url);
    out << prefix << "download " << url << std::endl;
    std::string fileName;
    if (!installer.DownloadComponent(*installBlock, fileName))
        throw EInstallError("No installer file for this item.");
    out << prefix << "downloaded " << fileName << " (" << FileSize(fileName) << " bytes)" << std::endl;
    out << prefix << VerifiedText(*installBlock) << std::endl;
    out << prefix << "installer started" << std::endl;
    const std::optional<int> exitCode =
        installer.LaunchInstaller(*installBlock, fileName, true, true, &component);
    if (!exitCode) return;  // started, but the system gave nothing to wait on
    out << prefix << "installer exit code " << *exitCode << std::endl;
    if (*exitCode != 0) throw EInstallError("Installer exit code " + std::to_string(*exitCode));
}

}  // namespace

bool ChooseInstallIndices(const TJsonValue* components, const TEgaissConfig& cfg,
                          const TPrepareInstallChoice& choice, std::vector<int>& indices, std::string& error,
                          std::ostream& out, const TInstallOptions& options) {
    indices.clear();
    if (choice.All) {
        const auto rows = RunComponentChecks(components, cfg, options.RunCheck);
        for (const auto& row : rows)
            out << ComponentCheckLine(row) << "\n";
        indices = CollectInstallIndices(rows, components);
        return true;
    }
    for (const std::string& id : choice.Ids) {
        const int index = FindComponentById(components, id);
        if (index < 0) {
            error = "no component with the id '" + id + "' in the manifest";
            return false;
        }
        indices.push_back(index);
    }
    return true;
}

bool InstallComponents(const TJsonValue* components, const std::vector<int>& indices,
                       const TEgaissConfig& cfg, std::ostream& out, TInstallOptions options) {
    TNoWindow window;
    TBootstrapInstaller installer(window, cfg, {}, std::move(options));
    const std::size_t total = indices.size();
    for (std::size_t i = 0; i < total; ++i) {
        const TJsonValue* component = ComponentAt(components, indices[i]);
        std::string title;
        std::string failure;
        const std::string counter = "[" + std::to_string(i + 1) + "/" + std::to_string(total) + "] ";
        try {
            title = ItemTitle(component);
            InstallOne(installer, *component, counter + title + ": ", out);
            out << counter << title << ": installed" << std::endl;
            continue;
        } catch (const std::exception& exception) {
            failure = exception.what();
        }
        LogBootstrapError("Install failed: " + title + " - " + failure);
        out << counter << title << ": FAILED: " << OneLineText(failure) << std::endl;
        for (std::size_t rest = i + 1; rest < total; ++rest) {
            std::string restTitle;
            try {
                restTitle = ItemTitle(ComponentAt(components, indices[rest]));
            } catch (const std::exception&) {
                // A component without title and id is skipped all the same.
            }
            out << "[" << rest + 1 << "/" << total << "] " << restTitle << ": skipped" << std::endl;
        }
        return false;
    }
    return true;
}

}  // namespace egaiss
