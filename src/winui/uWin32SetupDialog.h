#pragma once
// The settings dialog on Windows: the agent settings as key=value text, pasted from the web
// service. TSetupPresenter holds the rules; this dialog (IDD_SETUP in agent.rc) shows what it
// says and forwards the buttons.
#include <windows.h>

#include <functional>

#include "agent/uSetupPresenter.h"
#include "winui/uWin32Common.h"
#include "winui/uWin32Dialog.h"
#include "winui/uWin32Prompts.h"

namespace egaiss {

// The preparation window, modal over `owner`, with settings that are not saved.
using TPreparationOpener = std::function<void(const TEgaissConfig& cfg, HWND owner)>;

class TWin32SetupDialog final : public TWin32Dialog, private TSetupView {
public:
    // Modal over `owner`. cfg is first reloaded from agent.ini. True when the user saved: agent.ini
    // is written and cfg reloaded; false when cancelled (or "scales only") or when saving failed.
    // Raises EFileError when agent.ini exists but cannot be read. `prompts` answers for the user in
    // tests; nullptr: the dialog's own message boxes.
    static bool EditConfig(TEgaissConfig& cfg, HWND owner, const TPreparationOpener& openPreparation = {},
                           TPrompts* prompts = nullptr);

private:
    TWin32SetupDialog(const TPreparationOpener& openPreparation, TPrompts* prompts);

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Initialize();
    void ShowTexts(const TSetupTexts& texts);
    TConfigDraft ReadDialog() const;

    // TSetupView
    void ShowDraft(const TConfigDraft& draft) override;
    void ShowConfigText(const std::string& text) override;
    void Close() override;
    void OpenPreparation(const TEgaissConfig& cfg) override;

    const TPreparationOpener& FOpenPreparation;
    TWin32Prompts FOwnPrompts;
    TSetupPresenter FPresenter;
    TUniqueFont FFixedFont;
    // What the presenter showed before the dialog's controls existed.
    TConfigDraft FDraft;
};

}  // namespace egaiss
