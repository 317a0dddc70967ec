#include "agent/uAgentStatus.h"

#include <ctime>

#include "core/uEgaissRu.h"
#include "platform/uSystem.h"

namespace egaiss {
namespace {

constexpr const char* AppTitleText = "Velmora EGAIS";

// Cuts a text longer than `limit` characters to `limit - 3` characters + "...".
std::string CutWithEllipsis(const std::string& text, std::size_t limit) {
    if (TextLength(text) <= limit) return text;
    return TextLeft(text, limit - 3) + "...";
}

}  // namespace

std::string AppTitle() {
    return AppTitleText;
}

std::string TrayTitle(const std::string& label) {
    const std::string trimmed = TrimControl(label);
    if (!trimmed.empty() && IsAsciiText(trimmed)) return std::string(AppTitleText) + " - " + trimmed;
    return AppTitleText;
}

std::string TrayHint(const std::string& title, const TAgentStatus& status) {
    std::string hint;
    if (status.StatusOK) {
        hint = title + " - OK";
    } else if (!status.StatusText.empty()) {
        hint = title + " - " + CutWithEllipsis(ToAsciiSafe(status.StatusText), 80);
    } else {
        hint = title + " - waiting";
    }
    return CutWithEllipsis(ToAsciiSafe(hint), 120);
}

std::string StatusCaption(const TAgentStatus& status) {
    if (status.StatusOK) return "Status: OK";
    if (!status.StatusText.empty()) return "Status: " + ToAsciiSafe(status.StatusText);
    return "Status: waiting...";
}

std::string LastSyncCaption(const TAgentStatus& status) {
    if (!status.LastSyncAt) return "Last sync: -";
    const std::time_t when = std::chrono::system_clock::to_time_t(*status.LastSyncAt);
    const std::tm local = platform::LocalTime(when);
    char text[32];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
    return std::string("Last sync: ") + text;
}

}  // namespace egaiss
