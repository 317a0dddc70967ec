#pragma once
// What a presenter asks of the user: message boxes, Yes/No questions, the clipboard, pickers and a
// line of text. Each face answers with its own dialogs, bound to the window the presenter serves;
// tests answer in place of a user.
#include <string>

namespace egaiss {

enum class TMessageKind { mkInformation, mkWarning, mkError };

class TPrompts {
public:
    virtual ~TPrompts() = default;

    // A modal message box with one OK button.
    virtual void Message(TMessageKind kind, const std::string& title, const std::string& text) = 0;
    // A modal Yes/No question; true only when Yes was chosen.
    virtual bool Confirm(const std::string& title, const std::string& text) = 0;
    // The clipboard's text; empty when it holds none.
    virtual std::string ClipboardText() = 0;
    // The chosen folder or file; empty when the user cancelled.
    virtual std::string ChooseFolder(const std::string& caption, const std::string& startDir) = 0;
    virtual std::string ChooseFile(const std::string& caption, const std::string& startDir,
                                   const std::string& filter) = 0;
    // A line of text asked for with `text` preset; false when the user cancelled.
    virtual bool InputText(const std::string& title, const std::string& prompt, std::string& text) = 0;
};

}  // namespace egaiss
