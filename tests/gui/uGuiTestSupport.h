#pragma once
// Driving the agent's modal windows offscreen: prompts answered by the test, the open dialog
// handed to a driver, and waiting for a worker's result while events run.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <vector>

#include "gui/uUiPrompts.h"

namespace egaiss::test {

// Records every message box and answers questions and the clipboard as told; installed while it lives.
class TTestPrompts : public TUiPrompts {
public:
    TTestPrompts() { SetUiPrompts(this); }
    ~TTestPrompts() override { SetUiPrompts(nullptr); }

    void Message(QWidget*, TMessageKind kind, const QString&, const QString& text) override {
        Messages << text;
        MessageKinds.push_back(kind);
    }
    bool Confirm(QWidget*, const QString&, const QString& text) override {
        Questions << text;
        const bool yes = !Answers.empty() && Answers.front();
        if (!Answers.empty()) Answers.pop_front();
        return yes;
    }
    QString ClipboardText() override { return Clipboard; }
    QString ChooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
    QString ChooseFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    bool InputText(QWidget*, const QString&, const QString&, QString& text) override {
        if (Input.isNull()) return false;
        text = Input;
        return true;
    }

    QStringList Messages;
    QStringList Questions;
    std::deque<bool> Answers;  // Yes or No, one per question; No when none is left
    QString Clipboard;
    std::vector<TMessageKind> MessageKinds;  // one per message
    QString Input;                           // the text typed into a text prompt; null cancels it
};

// Runs `drive` with the modal dialog that `open` shows, then closes the dialog if the driver
// left it open (also when an assertion ended the driver early).
void DriveModal(const std::function<void()>& open, const std::function<void(QDialog&)>& drive);

// The dialog's control of that object name; a missing one ends the test program.
template <typename T>
T& Control(QDialog& dialog, const char* name) {
    T* control = dialog.findChild<T*>(name);
    if (control == nullptr) {
        ADD_FAILURE() << "no control " << name;
        std::abort();
    }
    return *control;
}

// Runs the event loop until `done` holds or a generous deadline passes.
template <typename TCondition>
bool ProcessEventsUntil(TCondition done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Runs events until `condition` holds; false at the time-out.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace egaiss::test
