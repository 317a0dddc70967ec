#include "gui/uUiPrompts.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace egaiss {
namespace {

class TQtUiPrompts : public TUiPrompts {
public:
    void Message(QWidget* parent, TMessageKind kind, const QString& title, const QString& text) override {
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
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
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

}  // namespace egaiss
