#pragma once
// The preparation window on Windows (IDD_PREPARATION in agent.rc): the checks of the preparation
// manifest's components in a list with a green tick for those that pass, the progress, and the
// installation of the selected component or of all installable ones. TPreparationPresenter holds the
// rules; this window shows what it says, forwards what the user does and draws the tick.
#include <windows.h>
// commctrl.h builds on the types of windows.h.
#include <commctrl.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "agent/uMainLoop.h"
#include "agent/uPreparationPresenter.h"
#include "winui/uWin32Common.h"
#include "winui/uWin32Controls.h"
#include "winui/uWin32Dialog.h"
#include "winui/uWin32Prompts.h"
#include "winui/uWin32SetupDialog.h"

namespace egaiss {

class TWin32PreparationWindow final : public TWin32Dialog, private TPreparationView {
public:
    // Modal over `owner`; sync is paused through `setSyncPaused` from before the window opens until
    // after it has closed. The checks and the installs run on worker threads whose results `loop`
    // brings back. `prompts` answers for the user in tests; nullptr: the window's own message boxes.
    static void Show(TMainLoop& loop, const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused, HWND owner,
                     TPrompts* prompts = nullptr, TInstallOptions options = {});
    // The settings dialog's way to this window, pausing sync through `setSyncPaused` as well.
    static TPreparationOpener Opener(TMainLoop& loop, TSyncPauser setSyncPaused, TPrompts* prompts = nullptr);

private:
    struct TImageListDeleter {
        void operator()(HIMAGELIST images) const { ImageList_Destroy(images); }
    };
    using TUniqueImageList = std::unique_ptr<std::remove_pointer_t<HIMAGELIST>, TImageListDeleter>;

    TWin32PreparationWindow(TMainLoop& loop, const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused,
                            TPrompts* prompts, TInstallOptions options);

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool Command(int id);
    INT_PTR Notify(const NMHDR& header, LPARAM lParam);
    void Initialize();
    void LayoutProgress(bool barShown, bool captionShown);
    void FitStatusColumn(const std::string& status);
    LRESULT CustomDraw(const NMLVCUSTOMDRAW& draw) const;
    void ShowDetailTooltip(NMLVGETINFOTIPW& tip) const;

    // TPreparationView
    void ShowRows(const std::vector<TPreparationRow>& rows) override;
    void ShowRow(int row, const TPreparationRow& cells) override;
    void SelectRow(int row) override;
    void ShowProgress(const TPreparationProgress& progress) override;
    void ShowManifestText(const std::string& text) override;
    void ShowEnabled(const TPreparationButtons& enabled) override;
    void ShowBusy(bool busy) override;
    void CloseWindow() override;

    TWin32Prompts FOwnPrompts;
    TUniqueImageList FCheckMark;
    int FCheckMarkSize = 16;
    int FCheckMarkIndent = 4;
    TControlTooltip FManifestTip;
    TUniqueFont FTipFont;
    // Where the template puts the list and the bottom of the progress bar, in client pixels: the
    // list grows into the room of a hidden progress label and bar.
    RECT FListRect{};
    int FProgressBottom = 0;
    int FGap = 0;
    std::vector<bool> FTicked;  // per row: the check passed
    std::vector<std::wstring> FDetails;
    bool FBusy = false;
    bool FShownOnce = false;
    // Last: destroyed first, so that nothing its workers post reaches a closed window; sync resumes
    // with it, after the window has gone.
    TPreparationPresenter FPresenter;
};

}  // namespace egaiss
