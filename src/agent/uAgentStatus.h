#pragma once
// The status texts the tray icon, its menu and the main window show, as functions of the agent's
// state, so that the tray window, headless mode and tests share one definition.
#include <chrono>
#include <optional>
#include <string>

namespace egaiss {

struct TAgentStatus {
    bool StatusOK = false;
    std::string StatusText;  // empty: nothing happened yet
    std::optional<std::chrono::system_clock::time_point> LastSyncAt;
};

// "Velmora EGAIS": the title of the windows and of every message box.
std::string AppTitle();
// "Velmora EGAIS - <label>" when the trimmed label is non-empty ASCII, else "Velmora EGAIS".
std::string TrayTitle(const std::string& label);
// Title + " - OK" / " - <status>" / " - waiting", ASCII only, at most 120 characters.
std::string TrayHint(const std::string& title, const TAgentStatus& status);
// "Status: OK", "Status: <text>" or "Status: waiting..." (never cut).
std::string StatusCaption(const TAgentStatus& status);
// "Last sync: dd.mm.yyyy hh:nn:ss" in local time, or "Last sync: -".
std::string LastSyncCaption(const TAgentStatus& status);

}  // namespace egaiss
