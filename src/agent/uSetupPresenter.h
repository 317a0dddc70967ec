#pragma once
// The rules of the settings dialog: the agent settings as key=value text, the first-run variant,
// pasting the block copied from the server, the check before saving, the save and the preparation
// window opened with the settings as they stand. Each face's dialog shows what this class tells its
// view; tests drive it without a display.
#include <string>

#include "agent/uPrompts.h"
#include "core/uConfigEdit.h"
#include "core/uEgaissConfig.h"

namespace egaiss {

// The dialog's captions, shared by both faces.
namespace setup_texts {
inline constexpr const char* Title = "Velmora EGAIS - Settings";
inline constexpr const char* Hint =
    "Paste config from Velmora (EGAIS -> agent settings) via \"Paste from clipboard\" or Ctrl+V.";
inline constexpr const char* FirstRunHint =
    "Для ЕГАИС вставьте конфиг из Velmora. Для весов без ЕГАИС - кнопка Только весы.";
inline constexpr const char* Autostart = "Запускать агента вместе с Windows";
inline constexpr const char* Paste = "Вставить из буфера";
inline constexpr const char* Bootstrap = "Подготовить компьютер к ЕГАИС";
inline constexpr const char* Ok = "OK";
inline constexpr const char* Cancel = "Отмена";
inline constexpr const char* ScalesOnly = "Только весы";
}  // namespace setup_texts

// The dialog's variant: the hint above the text and the cancel button's caption.
struct TSetupTexts {
    std::string Hint;
    std::string Cancel;
    bool FirstRun = false;  // the cancel button is the wider "scales only" one
};

// What the dialog does for the presenter. Called on the main thread.
class TSetupView {
public:
    virtual ~TSetupView() = default;
    // The text box and the autostart box.
    virtual void ShowDraft(const TConfigDraft& draft) = 0;
    // The text box alone.
    virtual void ShowConfigText(const std::string& text) = 0;
    // The dialog closes; Saved() tells how.
    virtual void Close() = 0;
    // The preparation window, modal over the dialog, with settings that are not saved.
    virtual void OpenPreparation(const TEgaissConfig& cfg) = 0;
};

class TSetupPresenter {
public:
    TSetupPresenter(TSetupView& view, TPrompts& prompts);

    // Reads agent.ini and shows its draft; the first-run variant when the file's settings are not
    // complete. Raises EFileError when the file exists but cannot be read.
    void Open();
    TSetupTexts Texts() const;

    // Replaces the whole text with the clipboard's; nothing when the clipboard holds no text.
    void PasteClicked();
    // Saves what the dialog shows and closes it, or warns and keeps it open. A failed save is
    // reported and closes the dialog unsaved.
    void SaveClicked(const TConfigDraft& shown);
    // Opens the preparation window with the settings on screen, or warns when they are incomplete.
    void BootstrapClicked(const TConfigDraft& shown);

    // After the dialog closed: whether it saved, and the settings read back from agent.ini.
    bool Saved() const { return FSaved; }
    const TEgaissConfig& Config() const { return FCfg; }

private:
    void Warn(const std::string& text);

    TSetupView& FView;
    TPrompts& FPrompts;
    TEgaissConfig FCfg;
    bool FSaved = false;
};

}  // namespace egaiss
