#include "prepare/uPrepareCheck.h"

#include <algorithm>
#include <exception>

#include "prepare/uBootstrapInstall.h"

namespace egaiss {

std::vector<TComponentCheckRow> RunComponentChecks(const TJsonValue* components, const TEgaissConfig& cfg,
                                                   const TComponentCheckRunner& run,
                                                   const TComponentCheckProgress& progress) {
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
            if (progress)
                progress(row.Title, static_cast<int>(rows.size()) + 1, static_cast<int>(items.size()));
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

std::string OneLineText(const std::string& text) {
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            line += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        line += " | ";
    }
    return line;
}

std::string ComponentCheckLine(const TComponentCheckRow& row) {
    return std::to_string(row.Order) + " [" + EnvStateTag(row.Result.State) + "] " + row.Title + " - " +
           OneLineText(row.Result.Detail);
}

bool AnyRequiredCheckFailed(const std::vector<TComponentCheckRow>& rows) {
    for (const auto& row : rows) {
        if (row.Required && row.Result.State == TEnvCheckState::ecsFail) return true;
    }
    return false;
}

const TJsonValue* ComponentAt(const TJsonValue* components, int index) {
    if (components == nullptr || index < 0) return nullptr;
    const auto& items = components->Items();
    if (static_cast<std::size_t>(index) >= items.size()) return nullptr;
    const TJsonValue& item = items[static_cast<std::size_t>(index)];
    return item.IsObject() ? &item : nullptr;
}

int ComponentOrder(const TJsonValue* component, int defaultOrder) {
    int order = defaultOrder;
    if (component != nullptr) TryGetJsonInt(*component, "order", order);
    return order;
}

bool RowCanInstall(const TComponentCheckRow& row, const TJsonValue* components) {
    const TJsonValue* component = ComponentAt(components, row.Index);
    return row.Result.State != TEnvCheckState::ecsOk && component != nullptr &&
           component->Find("install") != nullptr;
}

std::vector<int> CollectInstallIndices(const std::vector<TComponentCheckRow>& rows,
                                       const TJsonValue* components) {
    std::vector<int> indices;
    for (const auto& row : rows) {
        if (RowCanInstall(row, components)) indices.push_back(row.Index);
    }
    std::ranges::stable_sort(indices, [components](int a, int b) {
        const int orderA = ComponentOrder(ComponentAt(components, a), a);
        const int orderB = ComponentOrder(ComponentAt(components, b), b);
        return orderA != orderB ? orderA < orderB : a < b;
    });
    return indices;
}

}  // namespace egaiss
