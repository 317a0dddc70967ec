#include "gui/uSetupForm.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/uBootstrapForm.h"
#include "gui/uFormCommon.h"
#include "gui/uUiPrompts.h"

namespace egaiss {
namespace {

constexpr int ClientWidth = 584;
constexpr int ClientHeight = 385;
// The right edge of the buttons stays 16 pixels from the dialog's edge; the left margin is a little
// narrower so that the four captions fit in one row with wide fonts too.
constexpr int RightMargin = 16;
constexpr int LeftMargin = 12;
constexpr int ButtonSpacing = 4;
constexpr int ButtonWidth = 75;
constexpr int ScalesOnlyButtonWidth = 110;

QPushButton* NewButton(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TfrmSetup::TfrmSetup(const TConfigDraft& draft, bool firstRun, QWidget* parent)
    : QDialog(parent),
      lblHint(new QLabel(this)),
      memConfig(new QPlainTextEdit(this)),
      chkAutostart(new QCheckBox(QStringLiteral("Запускать агента вместе с Windows"), this)),
      btnPaste(NewButton("btnPaste", QStringLiteral("Вставить из буфера"), this)),
      btnBootstrap(NewButton("btnBootstrap", QStringLiteral("Подготовить компьютер к ЕГАИС"), this)),
      btnSave(NewButton("btnSave", QStringLiteral("OK"), this)),
      btnCancel(NewButton("btnCancel", QStringLiteral("Отмена"), this)) {
    FormCreate();
    memConfig->setPlainText(QString::fromStdString(draft.Text));
    chkAutostart->setChecked(draft.AutoStart);
    if (firstRun) ShowFirstRun();
}

void TfrmSetup::FormCreate() {
    setWindowTitle(QStringLiteral("Velmora EGAIS - Settings"));
    PlaceFixedCentred(*this, ClientWidth, ClientHeight);
    lblHint->setObjectName("lblHint");
    lblHint->setWordWrap(true);
    lblHint->setText(QStringLiteral(
        "Paste config from Velmora (EGAIS -> agent settings) via \"Paste from clipboard\" or Ctrl+V."));
    memConfig->setObjectName("memConfig");
    memConfig->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memConfig->setLineWrapMode(QPlainTextEdit::NoWrap);
    memConfig->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memConfig->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    chkAutostart->setObjectName("chkAutostart");
    // The preparation window comes later; until then the button only shows where it will be.
    btnSave->setDefault(true);

    btnSave->setFixedWidth(ButtonWidth);
    btnCancel->setFixedWidth(ButtonWidth);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(ButtonSpacing);
    buttons->addWidget(btnPaste);
    buttons->addWidget(btnBootstrap);
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(LeftMargin, LeftMargin / 2, RightMargin, LeftMargin);
    layout->addWidget(lblHint);
    layout->addWidget(memConfig, 1);
    layout->addWidget(chkAutostart);
    layout->addLayout(buttons);

    connect(btnPaste, &QPushButton::clicked, this, &TfrmSetup::btnPasteClick);
    connect(btnBootstrap, &QPushButton::clicked, this, &TfrmSetup::btnBootstrapClick);
    connect(btnSave, &QPushButton::clicked, this, &TfrmSetup::btnSaveClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmSetup::ShowFirstRun() {
    lblHint->setText(
        QStringLiteral("Для ЕГАИС вставьте конфиг из Velmora. Для весов без ЕГАИС - кнопка Только весы."));
    btnCancel->setText(QStringLiteral("Только весы"));
    // The layout keeps the button's right edge at the margin.
    btnCancel->setFixedWidth(ScalesOnlyButtonWidth);
}

TConfigDraft TfrmSetup::ReadDialog() const {
    return {memConfig->toPlainText().toStdString(), chkAutostart->isChecked()};
}

void TfrmSetup::btnPasteClick() {
    const QString text = UiPrompts().ClipboardText();
    if (text.isEmpty()) return;
    memConfig->setPlainText(text);
}

void TfrmSetup::btnSaveClick() {
    if (ReadDialog().IsComplete()) {
        accept();
    } else {
        UiPrompts().Message(this, TMessageKind::mkWarning, WindowTitle(),
                            QString::fromUtf8(MissingFieldsMessage));
    }
}

// The preparation window gets the settings as they stand in the text, not saved.
void TfrmSetup::btnBootstrapClick() {
    const TEgaissConfig cfg = ReadDialog().Parsed();
    if (!cfg.IsComplete()) {
        UiPrompts().Message(this, TMessageKind::mkWarning, WindowTitle(),
                            QString::fromUtf8(MissingFieldsMessage));
        return;
    }
    TfrmBootstrap::ShowBootstrap(cfg, SyncPauserOf(this), this);
}

bool TfrmSetup::EditConfig(TEgaissConfig& cfg, bool firstRun, QWidget* parent) {
    cfg = LoadConfig();
    TfrmSetup form(LoadConfigDraft(), firstRun, parent);
    if (form.exec() != QDialog::Accepted) return false;
    try {
        cfg = SaveConfigDraft(form.ReadDialog());
        return true;
    } catch (const std::exception& error) {
        UiPrompts().Message(
            parent, TMessageKind::mkError, WindowTitle(),
            QStringLiteral("Failed to save settings: ") + QString::fromStdString(error.what()));
        return false;
    }
}

}  // namespace egaiss
