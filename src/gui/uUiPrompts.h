#pragma once
// Message boxes, the clipboard and the file and folder pickers. Every window asks the user through
// this seam, so tests answer in place of a user and nothing modal blocks an offscreen test run.
#include <QString>

#include "agent/uPrompts.h"

class QWidget;

namespace egaiss {

class TUiPrompts {
public:
    virtual ~TUiPrompts() = default;

    // A modal message box with one OK button.
    virtual void Message(QWidget* parent, TMessageKind kind, const QString& title, const QString& text) = 0;
    // A modal Yes/No question; true only when Yes was chosen.
    virtual bool Confirm(QWidget* parent, const QString& title, const QString& text) = 0;
    // The clipboard's text; empty when it holds none.
    virtual QString ClipboardText() = 0;
    // The chosen folder or file; empty when the user cancelled.
    virtual QString ChooseFolder(QWidget* parent, const QString& caption, const QString& startDir) = 0;
    virtual QString ChooseFile(QWidget* parent, const QString& caption, const QString& startDir,
                               const QString& filter) = 0;
    // A line of text asked for with `text` preset; false when the user cancelled. Prompts that do
    // not ask for text answer as a user who cancels.
    virtual bool InputText(QWidget* /*parent*/, const QString& /*title*/, const QString& /*prompt*/,
                           QString& /*text*/) {
        return false;
    }
};

// The prompts the windows use: Qt's own dialogs unless a test installed others.
TUiPrompts& UiPrompts();

// Installs `prompts` for the windows until it is replaced; nullptr restores Qt's dialogs. The
// caller keeps ownership.
void SetUiPrompts(TUiPrompts* prompts);

// The presenters' prompts for one window: the installed TUiPrompts with `parent` as their owner.
class TWindowPrompts final : public TPrompts {
public:
    explicit TWindowPrompts(QWidget* parent) : FParent(parent) {}

    void Message(TMessageKind kind, const std::string& title, const std::string& text) override;
    bool Confirm(const std::string& title, const std::string& text) override;
    std::string ClipboardText() override;
    std::string ChooseFolder(const std::string& caption, const std::string& startDir) override;
    std::string ChooseFile(const std::string& caption, const std::string& startDir,
                           const std::string& filter) override;
    bool InputText(const std::string& title, const std::string& prompt, std::string& text) override;

private:
    QWidget* FParent;
};

}  // namespace egaiss
