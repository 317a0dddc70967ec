#pragma once
// The window over the server's outgoing queue on Windows (IDD_QUEUE in agent.rc): a summary line,
// a report-style list and the buttons. TQueuePresenter holds the rules; this window shows what it
// says and forwards the buttons.
#include <windows.h>
// commctrl.h builds on the types of windows.h.
#include <commctrl.h>

#include <string>
#include <vector>

#include "agent/uMainLoop.h"
#include "agent/uQueuePresenter.h"
#include "winui/uWin32Dialog.h"
#include "winui/uWin32Prompts.h"

namespace egaiss {

class TWin32QueueWindow final : public TWin32Dialog, private TQueueView {
public:
    // Modal over `owner`. The server is asked from a worker thread whose answer `loop` brings back,
    // so a silent server never freezes the window; while a request runs, the buttons that would
    // start another are disabled. `prompts` answers for the user in tests; nullptr: the window's
    // own message boxes.
    static void ShowQueue(TMainLoop& loop, const TEgaissConfig& cfg, HWND owner, TPrompts* prompts = nullptr);

private:
    TWin32QueueWindow(TMainLoop& loop, const TEgaissConfig& cfg, TPrompts* prompts);

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Initialize();
    void ShowIdTooltip(NMLVGETINFOTIPW& tip) const;

    // TQueueView
    void ShowSummary(const std::string& text) override;
    void ShowRows(const std::vector<TQueueRow>& rows) override;
    void ShowBusy(bool busy) override;

    TWin32Prompts FOwnPrompts;
    std::vector<std::wstring> FIds;  // the whole id of each listed row
    bool FBusy = false;
    // Last: destroyed first, so that nothing it does on its way out reaches a closed window.
    TQueuePresenter FPresenter;
};

}  // namespace egaiss
