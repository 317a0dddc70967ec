#include "agent/uSetupPresenter.h"

#include "agent/uAgentStatus.h"
#include "scales/uScalesConfig.h"

namespace egaiss {

TSetupPresenter::TSetupPresenter(TSetupView& view, TPrompts& prompts) : FView(view), FPrompts(prompts) {}

void TSetupPresenter::Open() {
    FCfg = LoadConfig();
    FView.ShowDraft(LoadConfigDraft());
}

TSetupTexts TSetupPresenter::Texts() const {
    if (FCfg.IsComplete()) return {setup_texts::Hint, setup_texts::Cancel, false};
    return {setup_texts::FirstRunHint, setup_texts::ScalesOnly, true};
}

void TSetupPresenter::PasteClicked() {
    const std::string text = FPrompts.ClipboardText();
    if (!text.empty()) FView.ShowConfigText(text);
}

void TSetupPresenter::Warn(const std::string& text) {
    FPrompts.Message(TMessageKind::mkWarning, AppTitle(), text);
}

void TSetupPresenter::SaveClicked(const TConfigDraft& shown) {
    if (const std::string refused = DraftRefusal(shown); !refused.empty()) {
        Warn(refused);
        return;
    }
    try {
        FCfg = SaveConfigDraftKeepingScales(shown);
        FSaved = true;
    } catch (const std::exception& error) {
        FPrompts.Message(TMessageKind::mkError, AppTitle(),
                         std::string("Failed to save settings: ") + error.what());
    }
    FView.Close();
}

void TSetupPresenter::BootstrapClicked(const TConfigDraft& shown) {
    const TEgaissConfig cfg = shown.Parsed();
    if (!cfg.IsComplete()) {
        Warn(MissingFieldsMessage);
        return;
    }
    FView.OpenPreparation(cfg);
}

}  // namespace egaiss
