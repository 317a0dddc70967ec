#include "gui/uScalesForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/uFormCommon.h"
#include "gui/uQtMainLoop.h"
#include "gui/uReportList.h"
#include "gui/uUiPrompts.h"

namespace egaiss {
namespace {

QString Ui(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Std(const QString& text) {
    return text.toStdString();
}

QPushButton* NewButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TfrmScales::TfrmScales(int brand, const TScalesConfig& cfg, TMassaDiscoveryParams search, QWidget* parent)
    : QDialog(parent),
      FEditor(std::make_unique<TScalesEditor>(QtMainLoop(), static_cast<TScalesEditorView&>(*this), FPrompts,
                                              brand, cfg, std::move(search))) {
    BuildControls();
    ShowTexts();
    FEditor->Open();
}

// The editor goes first: it drops what a search or a load still posts to this dialog.
TfrmScales::~TfrmScales() {
    FEditor.reset();
}

bool TfrmScales::EditScales(int brand, TScalesConfig& cfg, QWidget* parent) {
    TfrmScales dialog(brand, cfg,
                      BrandSearchParams(cfg.Brands[static_cast<std::size_t>(brand)].SearchSubnets), parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    cfg = dialog.Config();
    return true;
}

void TfrmScales::BuildControls() {
    PlaceFixedCentred(*this, 520, 480);
    lblHint = new QLabel(this);
    lblHint->setWordWrap(true);
    chkEnabled = new QCheckBox(this);
    lblDir = new QLabel(this);
    edtDir = new QLineEdit(this);
    btnBrowse = NewButton("...", this);
    lblFile = new QLabel(this);
    edtFile = new QLineEdit(this);
    btnBrowseFile = NewButton("...", this);
    lblPoll = new QLabel(this);
    edtPoll = new QLineEdit(this);
    lblMac = new QLabel(this);
    edtMac = new QLineEdit(this);
    edtMac->setReadOnly(true);
    for (QPushButton* browse : {btnBrowse, btnBrowseFile})
        browse->setFixedWidth(32);

    lvScales = NewReportList(this, {"Host", "Port", "Serial", "On"}, {150, 60, 110, 40});

    lblSearch = new QLabel(this);
    pbSearch = new QProgressBar(this);
    pbSearch->setRange(0, 0);  // marquee
    pbSearch->setFixedWidth(120);
    btnFind = NewButton(scales_texts::Find, this);
    btnStopFind = NewButton(scales_texts::Stop, this);
    btnAdd = NewButton(scales_texts::Add, this);
    btnRemove = NewButton(scales_texts::Remove, this);
    btnLoadNow = NewButton(scales_texts::LoadNow, this);
    btnSave = new QPushButton(scales_texts::Ok, this);
    btnSave->setDefault(true);
    btnCancel = NewButton(scales_texts::Cancel, this);

    auto* fields = new QGridLayout;
    fields->addWidget(lblDir, 0, 0);
    fields->addWidget(edtDir, 0, 1);
    fields->addWidget(btnBrowse, 0, 2);
    fields->addWidget(lblFile, 1, 0);
    fields->addWidget(edtFile, 1, 1);
    fields->addWidget(btnBrowseFile, 1, 2);
    fields->addWidget(lblPoll, 2, 0);
    fields->addWidget(edtPoll, 2, 1);
    fields->addWidget(lblMac, 3, 0);
    fields->addWidget(edtMac, 3, 1);
    auto* search = new QHBoxLayout;
    search->addWidget(lblSearch, 1);
    search->addWidget(pbSearch);
    auto* listButtons = new QHBoxLayout;
    for (QPushButton* button : {btnFind, btnStopFind, btnAdd, btnRemove, btnLoadNow})
        listButtons->addWidget(button);
    listButtons->addStretch();
    auto* closeButtons = new QHBoxLayout;
    closeButtons->addStretch();
    closeButtons->addWidget(btnSave);
    closeButtons->addWidget(btnCancel);
    auto* page = new QVBoxLayout(this);
    page->addWidget(lblHint);
    page->addWidget(chkEnabled);
    page->addLayout(fields);
    page->addWidget(lvScales, 1);
    page->addLayout(search);
    page->addLayout(listButtons);
    page->addLayout(closeButtons);

    QWidget* order[] = {lblHint,   chkEnabled, edtDir,   btnBrowse, edtFile,     btnBrowseFile,
                        edtPoll,   edtMac,     lvScales, btnFind,   btnStopFind, btnAdd,
                        btnRemove, btnLoadNow, btnSave,  btnCancel};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(btnBrowse, &QPushButton::clicked, this,
            [this] { FEditor->BrowseFolderClicked(Std(edtDir->text())); });
    connect(btnBrowseFile, &QPushButton::clicked, this,
            [this] { FEditor->BrowseFileClicked(Std(edtDir->text()), Std(edtFile->text())); });
    connect(btnFind, &QPushButton::clicked, this, [this] { FEditor->Find(); });
    connect(btnStopFind, &QPushButton::clicked, this, [this] { FEditor->StopClicked(); });
    connect(btnAdd, &QPushButton::clicked, this, [this] { FEditor->AddClicked(); });
    connect(btnRemove, &QPushButton::clicked, this, &TfrmScales::btnRemoveClick);
    connect(btnLoadNow, &QPushButton::clicked, this, [this] { FEditor->LoadNowClicked(FormValues()); });
    connect(btnSave, &QPushButton::clicked, this, [this] { FEditor->SaveClicked(FormValues()); });
    connect(btnCancel, &QPushButton::clicked, this, &TfrmScales::reject);

    // Named as in the description of the window, which is also how tests find them.
    for (const auto& [control, name] : std::initializer_list<std::pair<QWidget*, const char*>>{
             {lblHint, "lblHint"},         {chkEnabled, "chkEnabled"},
             {lblDir, "lblDir"},           {edtDir, "edtDir"},
             {btnBrowse, "btnBrowse"},     {lblFile, "lblFile"},
             {edtFile, "edtFile"},         {btnBrowseFile, "btnBrowseFile"},
             {lblPoll, "lblPoll"},         {edtPoll, "edtPoll"},
             {lblMac, "lblMac"},           {edtMac, "edtMac"},
             {lvScales, "lvScales"},       {lblSearch, "lblSearch"},
             {pbSearch, "pbSearch"},       {btnFind, "btnFind"},
             {btnStopFind, "btnStopFind"}, {btnAdd, "btnAdd"},
             {btnRemove, "btnRemove"},     {btnLoadNow, "btnLoadNow"},
             {btnSave, "btnSave"},         {btnCancel, "btnCancel"}})
        control->setObjectName(name);
}

void TfrmScales::ShowTexts() {
    const TScalesFormTexts texts = FEditor->Texts();
    setWindowTitle(Ui(texts.Title));
    lblHint->setText(Ui(texts.Hint));
    chkEnabled->setText(Ui(texts.Enabled));
    lblDir->setText(Ui(texts.Dir));
    lblFile->setText(Ui(texts.File));
    lblPoll->setText(Ui(texts.Poll));
    lblMac->setText(Ui(texts.Mac));
}

void TfrmScales::ShowValues(const TScalesFormValues& values, const std::string& mac) {
    chkEnabled->setChecked(values.Enabled);
    edtDir->setText(Ui(values.Dir));
    edtFile->setText(Ui(values.File));
    edtPoll->setText(Ui(values.Poll));
    edtMac->setText(Ui(mac));
}

void TfrmScales::ShowDir(const std::string& dir) {
    edtDir->setText(Ui(dir));
}

void TfrmScales::ShowFile(const std::string& file) {
    edtFile->setText(Ui(file));
}

TScalesFormValues TfrmScales::FormValues() const {
    return {chkEnabled->isChecked(), Std(edtDir->text()), Std(edtFile->text()), Std(edtPoll->text())};
}

void TfrmScales::ShowScales(const std::vector<TScaleEndpoint>& scales) {
    lvScales->clear();
    for (const TScaleEndpoint& endpoint : scales) {
        new QTreeWidgetItem(lvScales, {Ui(endpoint.Host), QString::number(endpoint.Port), Ui(endpoint.Serial),
                                       endpoint.Enabled ? "1" : "0"});
    }
}

void TfrmScales::ShowSearching(bool on, const std::string& text) {
    pbSearch->setVisible(on);
    btnFind->setEnabled(!on);
    btnStopFind->setEnabled(on);
    lblSearch->setText(Ui(text));
}

void TfrmScales::ShowSearchText(const std::string& text) {
    lblSearch->setText(Ui(text));
}

void TfrmScales::ShowStopping(const std::string& text) {
    lblSearch->setText(Ui(text));
    btnStopFind->setEnabled(false);
}

void TfrmScales::ShowLoading(bool on) {
    btnLoadNow->setEnabled(!on);
    if (on) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void TfrmScales::btnRemoveClick() {
    QTreeWidgetItem* item = lvScales->currentItem();
    if (item == nullptr || !item->isSelected()) return;
    FEditor->RemoveScale(lvScales->indexOfTopLevelItem(item));
}

void TfrmScales::reject() {
    if (FEditor->CancelRequested()) QDialog::reject();
}

void TfrmScales::closeEvent(QCloseEvent* event) {
    if (!FEditor->CloseRequested()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace egaiss
