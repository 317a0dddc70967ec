#include "prepare/uPrepareCheck.h"

#include <exception>

#include "prepare/uBootstrapInstall.h"

namespace egaiss {

std::vector<TComponentCheckRow> RunComponentChecks(const TJsonValue* components, const TEgaissConfig& cfg,
                                                   const TComponentCheckRunner& run) {
    std::vector<TComponentCheckRow> rows;
    if (components == nullptr) return rows;
    const auto& items = components->Items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const TJsonValue& component = items[i];
        if (!component.IsObject()) continue;
        TComponentCheckRow row;
        row.Index = static_cast<int>(i);
        row.Order = row.Index + 1;
        TryGetJsonInt(component, "order", row.Order);
        TryGetJsonBool(component, "required", row.Required);
        std::string id;
        try {
            row.Title = ItemTitle(&component);
            if (!TryGetJsonString(component, "id", id)) id = row.Title;
            row.Result = run ? run(component, cfg) : RunEnvCheck(component, cfg);
        } catch (const std::exception& error) {
            row.Result = TEnvCheckResult::Fail(error.what());
        }
        LogBootstrap("Check \"" + row.Title + "\" [" + id + "]: " + EnvStateTag(row.Result.State) + " - " +
                     row.Result.Detail);
        rows.push_back(std::move(row));
    }
    LogBootstrap("Checks finished: " + std::to_string(rows.size()) + " item(s)");
    return rows;
}

std::string ComponentCheckLine(const TComponentCheckRow& row) {
    std::string detail;
    const std::string& text = row.Result.Detail;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            detail += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        detail += " | ";
    }
    return std::to_string(row.Order) + " [" + EnvStateTag(row.Result.State) + "] " + row.Title + " - " +
           detail;
}

bool AnyRequiredCheckFailed(const std::vector<TComponentCheckRow>& rows) {
    for (const auto& row : rows) {
        if (row.Required && row.Result.State == TEnvCheckState::ecsFail) return true;
    }
    return false;
}

}  // namespace egaiss
