#pragma once
// The scales dialog on Windows (IDD_SCALES in agent.rc): one brand's automatic loading, drop folder,
// expected file, poll interval and list of scales, with the LAN search, "load now" and saving.
// TScalesEditor holds the rules; this dialog shows what it says and forwards what the user does.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "agent/uMainLoop.h"
#include "agent/uScalesEditor.h"
#include "winui/uWin32Dialog.h"
#include "winui/uWin32Prompts.h"

namespace egaiss {

class TWin32ScalesDialog final : public TWin32Dialog, private TScalesEditorView {
public:
    // Modal over `owner` for `brand` (the main window's presenter opens it for Massa-K only). True
    // when the user saved: the settings file is written and `cfg` replaced by the saved settings.
    // The search and "load now" run on worker threads whose results `loop` brings back. The search
    // looks where `search` says; without it, in the brand's search subnets, else in this computer's.
    // `prompts` answers for the user in tests; nullptr: the dialog's own message boxes and pickers.
    static bool Edit(TMainLoop& loop, int brand, TScalesConfig& cfg, HWND owner, TPrompts* prompts = nullptr,
                     std::optional<TMassaDiscoveryParams> search = std::nullopt);

private:
    TWin32ScalesDialog(TMainLoop& loop, int brand, const TScalesConfig& cfg, TMassaDiscoveryParams search,
                       TPrompts* prompts);

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool Command(int id);
    void Initialize();
    TScalesFormValues FormValues() const;
    std::string Text(int id) const;

    // TScalesEditorView
    void ShowValues(const TScalesFormValues& values, const std::string& mac) override;
    void ShowDir(const std::string& dir) override;
    void ShowFile(const std::string& file) override;
    void ShowScales(const std::vector<TScaleEndpoint>& scales) override;
    void ShowSearching(bool on, const std::string& text) override;
    void ShowSearchText(const std::string& text) override;
    void ShowStopping(const std::string& text) override;
    void ShowLoading(bool on) override;
    void CloseSaved() override;

    TWin32Prompts FOwnPrompts;
    bool FLoading = false;
    bool FSaved = false;
    // Last: destroyed first, so that nothing a search or a load posts reaches a closed dialog.
    TScalesEditor FEditor;
};

}  // namespace egaiss
