#include "gui/uUiPrompts.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace egaiss {
namespace {

// Texts keep their CR LF line ends in the log; on screen a line feed alone breaks the line.
QString ScreenText(QString text) {
    return text.replace("\r\n", "\n");
}

class TQtUiPrompts : public TUiPrompts {
public:
    void Message(QWidget* parent, TMessageKind kind, const QString& title, const QString& message) override {
        const QString text = ScreenText(message);
        switch (kind) {
            case TMessageKind::mkInformation:
                QMessageBox::information(parent, title, text);
                break;
            case TMessageKind::mkWarning:
                QMessageBox::warning(parent, title, text);
                break;
            case TMessageKind::mkError:
                QMessageBox::critical(parent, title, text);
                break;
        }
    }

    bool Confirm(QWidget* parent, const QString& title, const QString& text) override {
        return QMessageBox::question(parent, title, ScreenText(text), QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    }

    QString ClipboardText() override { return QApplication::clipboard()->text(); }

    QString ChooseFolder(QWidget* parent, const QString& caption, const QString& startDir) override {
        return QFileDialog::getExistingDirectory(parent, caption, startDir);
    }

    QString ChooseFile(QWidget* parent, const QString& caption, const QString& startDir,
                       const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, caption, startDir, filter);
    }

    bool InputText(QWidget* parent, const QString& title, const QString& prompt, QString& text) override {
        bool confirmed = false;
        const QString answer =
            QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, text, &confirmed);
        if (confirmed) text = answer;
        return confirmed;
    }
};

TQtUiPrompts QtPrompts;
TUiPrompts* CurrentPrompts = &QtPrompts;

}  // namespace

TUiPrompts& UiPrompts() {
    return *CurrentPrompts;
}

void SetUiPrompts(TUiPrompts* prompts) {
    CurrentPrompts = prompts ? prompts : &QtPrompts;
}

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

void TWindowPrompts::Message(TMessageKind kind, const std::string& title, const std::string& text) {
    UiPrompts().Message(FParent, kind, Q(title), Q(text));
}

bool TWindowPrompts::Confirm(const std::string& title, const std::string& text) {
    return UiPrompts().Confirm(FParent, Q(title), Q(text));
}

std::string TWindowPrompts::ClipboardText() {
    return UiPrompts().ClipboardText().toStdString();
}

std::string TWindowPrompts::ChooseFolder(const std::string& caption, const std::string& startDir) {
    return UiPrompts().ChooseFolder(FParent, Q(caption), Q(startDir)).toStdString();
}

std::string TWindowPrompts::ChooseFile(const std::string& caption, const std::string& startDir,
                                       const std::string& filter) {
    return UiPrompts().ChooseFile(FParent, Q(caption), Q(startDir), Q(filter)).toStdString();
}

bool TWindowPrompts::InputText(const std::string& title, const std::string& prompt, std::string& text) {
    QString answer = Q(text);
    if (!UiPrompts().InputText(FParent, Q(title), Q(prompt), answer)) return false;
    text = answer.toStdString();
    return true;
}

}  // namespace egaiss
