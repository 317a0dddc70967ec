#pragma once
// Prompts answered by the window tests and recorded.
#include <QString>
#include <QWidget>
#include <stdexcept>
#include <string>
#include <vector>

#include "gui/uUiPrompts.h"

namespace egaiss::test {

struct TShownMessage {
    TMessageKind Kind;
    QString Text;
};

// Installed while it lives: records every message and question, answers questions with
// `Answer`, text prompts with `InputAnswer` (cancel when null), pickers with `PickedPath`.
class TRecordingPrompts : public TUiPrompts {
public:
    TRecordingPrompts() { SetUiPrompts(this); }
    ~TRecordingPrompts() override { SetUiPrompts(nullptr); }
    TRecordingPrompts(const TRecordingPrompts&) = delete;
    TRecordingPrompts& operator=(const TRecordingPrompts&) = delete;

    void Message(QWidget*, TMessageKind kind, const QString&, const QString& text) override {
        Messages.push_back({kind, text});
    }
    bool Confirm(QWidget*, const QString&, const QString& text) override {
        Questions.push_back(text);
        return Answer;
    }
    QString ClipboardText() override { return {}; }
    QString ChooseFolder(QWidget*, const QString&, const QString&) override { return PickedPath; }
    QString ChooseFile(QWidget*, const QString&, const QString&, const QString&) override {
        return PickedPath;
    }
    bool InputText(QWidget*, const QString&, const QString&, QString& text) override {
        if (InputAnswer.isNull()) return false;
        text = InputAnswer;
        return true;
    }

    bool Answer = true;
    QString InputAnswer;
    QString PickedPath;
    std::vector<TShownMessage> Messages;
    std::vector<QString> Questions;
};

// A named child control of a window; fails the test when there is none.
template <typename TControl>
TControl* Control(const QWidget& window, const char* name) {
    auto* control = window.findChild<TControl*>(name);
    if (control == nullptr) throw std::logic_error(std::string("no control ") + name);
    return control;
}

}  // namespace egaiss::test
