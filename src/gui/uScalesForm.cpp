#include "gui/uScalesForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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
      FEditor(std::make_unique<TScalesEditor>(QtMainLoop(), static_cast<TScalesEditorView&>(*this), brand,
                                              cfg, std::move(search))) {
    BuildControls();
    ShowBrandSettings();
}

// The editor goes first: it drops what a search still posts to this dialog.
TfrmScales::~TfrmScales() {
    FEditor.reset();
}

bool TfrmScales::EditScales(int brand, TScalesConfig& cfg, QWidget* parent) {
    if (!IsBrandSupported(brand)) {
        UiPrompts().Message(parent, TMessageKind::mkInformation, WindowTitle(),
                            Ui(ScaleBrandTitle(brand) + ": протокол будет в следующих версиях."));
        return false;
    }
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
    btnFind = NewButton("Найти в сети", this);
    btnStopFind = NewButton("Стоп", this);
    btnAdd = NewButton("Добавить IP", this);
    btnRemove = NewButton("Удалить", this);
    btnLoadNow = NewButton("Загрузить сейчас", this);
    btnSave = new QPushButton("OK", this);
    btnSave->setDefault(true);
    btnCancel = NewButton("Отмена", this);

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

    connect(btnBrowse, &QPushButton::clicked, this, &TfrmScales::btnBrowseClick);
    connect(btnBrowseFile, &QPushButton::clicked, this, &TfrmScales::btnBrowseFileClick);
    connect(btnFind, &QPushButton::clicked, this, &TfrmScales::btnFindClick);
    connect(btnStopFind, &QPushButton::clicked, this, &TfrmScales::btnStopFindClick);
    connect(btnAdd, &QPushButton::clicked, this, &TfrmScales::btnAddClick);
    connect(btnRemove, &QPushButton::clicked, this, &TfrmScales::btnRemoveClick);
    connect(btnLoadNow, &QPushButton::clicked, this, &TfrmScales::btnLoadNowClick);
    connect(btnSave, &QPushButton::clicked, this, &TfrmScales::btnSaveClick);
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

void TfrmScales::ShowBrandSettings() {
    const QString brandTitle = Ui(ScaleBrandTitle(FEditor->Brand()));
    setWindowTitle("Весы: " + brandTitle);
    lblHint->setText(
        "Протокол R (Ethernet). Укажите папку и имя файла, как в справочнике весов ERP (точное имя или "
        "маска, "
        "напр. massa_k*.csv).");
    chkEnabled->setText("Включить " + brandTitle);
    lblDir->setText("Папка");
    lblFile->setText("Ожидаемый файл (имя или маска)");
    lblPoll->setText("Опрос, с");
    lblMac->setText("MAC");

    FEditor->Open();
    const TScaleBrandConfig& brand = FEditor->BrandConfig();
    chkEnabled->setChecked(brand.Enabled);
    edtDir->setText(Ui(brand.VesiDir));
    edtFile->setText(Ui(brand.ExpectFile));
    edtPoll->setText(QString::number(brand.PollSeconds));
    edtMac->setText(Ui(FEditor->Config().MacAddr));
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

void TfrmScales::btnBrowseClick() {
    const QString folder = UiPrompts().ChooseFolder(this, "Папка файлов весов", edtDir->text());
    if (!folder.isEmpty()) edtDir->setText(QDir::toNativeSeparators(folder));
}

void TfrmScales::btnBrowseFileClick() {
    const QString start = QDir(edtDir->text()).filePath(edtFile->text());
    const QString file =
        UiPrompts().ChooseFile(this, windowTitle(), start, "CSV/XLS (*.csv *.xls *.xml);;All (*.*)");
    if (file.isEmpty()) return;
    // The exact name chosen is expected from now on, not a mask.
    const QFileInfo chosen(QDir::fromNativeSeparators(file));
    edtDir->setText(QDir::toNativeSeparators(chosen.path() + "/"));
    edtFile->setText(chosen.fileName());
}

void TfrmScales::btnFindClick() {
    FEditor->Find();
}

void TfrmScales::btnStopFindClick() {
    if (!FEditor->RequestStop(true)) return;
    lblSearch->setText("Остановка...");
    btnStopFind->setEnabled(false);
}

void TfrmScales::btnAddClick() {
    QString line = "192.168.0.1:" + QString::number(DefaultScalePort(FEditor->Brand()));
    if (UiPrompts().InputText(this, "Добавить весы", "host:port[:serial]", line))
        FEditor->AddScale(Std(line));
}

void TfrmScales::btnRemoveClick() {
    QTreeWidgetItem* item = lvScales->currentItem();
    if (item == nullptr || !item->isSelected()) return;
    FEditor->RemoveScale(lvScales->indexOfTopLevelItem(item));
}

void TfrmScales::btnLoadNowClick() {
    const TScalesNotice notice = FEditor->LoadNow(FormValues());
    const TMessageKind kind =
        notice.Kind == TScalesNoticeKind::snkWarning ? TMessageKind::mkWarning : TMessageKind::mkInformation;
    UiPrompts().Message(this, kind, WindowTitle(), Ui(notice.Text));
}

void TfrmScales::btnSaveClick() {
    const std::string warning = FEditor->Save(FormValues());
    if (!warning.empty()) {
        UiPrompts().Message(this, TMessageKind::mkWarning, WindowTitle(), Ui(warning));
        return;
    }
    accept();
}

void TfrmScales::reject() {
    // Cancel during a search only asks it to end; the dialog stays until it has.
    if (FEditor->RequestStop(false)) return;
    QDialog::reject();
}

void TfrmScales::closeEvent(QCloseEvent* event) {
    if (FEditor->RequestStop(true)) {
        event->ignore();
        lblSearch->setText("Остановка поиска...");
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace egaiss
