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

QPushButton* NewButton(const char* name, const char* caption, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TfrmSetup::TfrmSetup(QWidget* parent)
    : QDialog(parent),
      FPrompts(this),
      FPresenter(*this, FPrompts),
      lblHint(new QLabel(this)),
      memConfig(new QPlainTextEdit(this)),
      chkAutostart(new QCheckBox(QString::fromUtf8(setup_texts::Autostart), this)),
      btnPaste(NewButton("btnPaste", setup_texts::Paste, this)),
      btnBootstrap(NewButton("btnBootstrap", setup_texts::Bootstrap, this)),
      btnSave(NewButton("btnSave", setup_texts::Ok, this)),
      btnCancel(NewButton("btnCancel", setup_texts::Cancel, this)) {
    FormCreate();
}

void TfrmSetup::FormCreate() {
    setWindowTitle(QString::fromUtf8(setup_texts::Title));
    PlaceFixedCentred(*this, ClientWidth, ClientHeight);
    lblHint->setObjectName("lblHint");
    lblHint->setWordWrap(true);
    memConfig->setObjectName("memConfig");
    memConfig->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memConfig->setLineWrapMode(QPlainTextEdit::NoWrap);
    memConfig->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memConfig->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    chkAutostart->setObjectName("chkAutostart");
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

    connect(btnPaste, &QPushButton::clicked, this, [this] { FPresenter.PasteClicked(); });
    connect(btnBootstrap, &QPushButton::clicked, this, [this] { FPresenter.BootstrapClicked(ReadDialog()); });
    connect(btnSave, &QPushButton::clicked, this, [this] { FPresenter.SaveClicked(ReadDialog()); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmSetup::ShowTexts(const TSetupTexts& texts) {
    lblHint->setText(QString::fromUtf8(texts.Hint));
    btnCancel->setText(QString::fromUtf8(texts.Cancel));
    // The layout keeps the button's right edge at the margin.
    btnCancel->setFixedWidth(texts.FirstRun ? ScalesOnlyButtonWidth : ButtonWidth);
}

TConfigDraft TfrmSetup::ReadDialog() const {
    return {memConfig->toPlainText().toStdString(), chkAutostart->isChecked()};
}

void TfrmSetup::ShowDraft(const TConfigDraft& draft) {
    ShowConfigText(draft.Text);
    chkAutostart->setChecked(draft.AutoStart);
}

void TfrmSetup::ShowConfigText(const std::string& text) {
    memConfig->setPlainText(QString::fromStdString(text));
}

void TfrmSetup::Close() {
    done(FPresenter.Saved() ? QDialog::Accepted : QDialog::Rejected);
}

// The preparation window gets the settings as they stand in the text, not saved.
void TfrmSetup::OpenPreparation(const TEgaissConfig& cfg) {
    TfrmBootstrap::ShowBootstrap(cfg, SyncPauserOf(this), this);
}

bool TfrmSetup::EditConfig(TEgaissConfig& cfg, QWidget* parent) {
    TfrmSetup form(parent);
    form.FPresenter.Open();
    form.ShowTexts(form.FPresenter.Texts());
    form.exec();
    cfg = form.FPresenter.Config();
    return form.FPresenter.Saved();
}

}  // namespace egaiss
