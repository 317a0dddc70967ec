#include "gui/uBootstrapForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/uFormCommon.h"
#include "gui/uQtMainLoop.h"
#include "gui/uReportList.h"

namespace egaiss {
namespace {

enum TCheckColumn { ccOrder, ccStatus, ccComponent, ccDetails };
constexpr int CheckMarkRowHeight = 18;

// Texts keep their CR LF line ends in the log; on screen a line feed alone breaks the line.
QString Ui(const std::string& text) {
    return QString::fromStdString(text).replace("\r\n", "\n");
}

// A green tick on a transparent background.
QIcon CheckMarkIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::white);
    {
        QPainter painter(&pixmap);
        painter.setPen(QPen(QColor(69, 167, 40), 2));
        const QPoint tick[] = {{4, 8}, {7, 11}, {13, 4}};
        painter.drawPolyline(tick, 3);
    }
    pixmap.setMask(pixmap.createMaskFromColor(Qt::white));
    return QIcon(pixmap);
}

void ShowCells(QTreeWidgetItem& item, const TPreparationRow& cells, const QIcon& checkMark) {
    item.setText(ccOrder, Ui(cells.Order));
    item.setText(ccStatus, Ui(cells.Status));
    item.setIcon(ccStatus, cells.Ok ? checkMark : QIcon());
    item.setText(ccComponent, Ui(cells.Title));
    item.setText(ccDetails, Ui(cells.Detail));
    item.setToolTip(ccDetails, Ui(cells.Detail));
}

}  // namespace

TSyncPauser SyncPauserOf(QWidget* window) {
    for (QWidget* each = window; each != nullptr; each = each->parentWidget()) {
        if (auto* control = dynamic_cast<TSyncPauseControl*>(each))
            return [control](bool paused) { control->SetSyncPaused(paused); };
    }
    return {};
}

TfrmBootstrap::TfrmBootstrap(const TEgaissConfig& cfg, TInstallOptions options, QWidget* parent,
                             TSyncPauser setSyncPaused)
    : QDialog(parent),
      FCheckMark(CheckMarkIcon()),
      FPresenter(std::make_unique<TPreparationPresenter>(QtMainLoop(), static_cast<TPreparationView&>(*this),
                                                         FPrompts, cfg, std::move(setSyncPaused),
                                                         std::move(options))) {
    BuildControls();
    FPresenter->Open();
}

// The presenter goes first: it drops what its workers still post to this window.
TfrmBootstrap::~TfrmBootstrap() {
    FPresenter.reset();
}

void TfrmBootstrap::ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused,
                                  QWidget* parent) {
    TfrmBootstrap window(cfg, {}, parent, setSyncPaused);
    window.exec();
}

void TfrmBootstrap::BuildControls() {
    namespace texts = preparation_texts;
    setWindowTitle(texts::Title);
    QFont windowFont("Segoe UI");
    windowFont.setPixelSize(12);
    setFont(windowFont);
    PlaceFixedCentred(*this, 720, 440);
    lblHint = new QLabel(texts::Hint, this);
    lblHint->setWordWrap(true);
    lblManifest = new QLabel(this);
    lvChecks = NewReportList(
        this, {texts::ColumnOrder, texts::ColumnStatus, texts::ColumnComponent, texts::ColumnDetails},
        {36, 72, 260, 280});
    lblProgress = new QLabel(this);
    lblProgress->setWordWrap(true);
    pbChecks = new QProgressBar(this);
    pbChecks->setTextVisible(false);

    auto* pnlBottom = new QWidget(this);
    pnlBottom->setObjectName("pnlBottom");
    pnlBottom->setFixedHeight(44);
    btnRefresh = new QPushButton(texts::Refresh, pnlBottom);
    btnInstall = new QPushButton(texts::Install, pnlBottom);
    btnInstallAll = new QPushButton(texts::InstallAll, pnlBottom);
    btnClose = new QPushButton(texts::Close, pnlBottom);
    chkSilentInstall = new QCheckBox(texts::SilentInstall, pnlBottom);
    auto* buttons = new QHBoxLayout(pnlBottom);
    buttons->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* button : {btnRefresh, btnInstall, btnInstallAll}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addWidget(chkSilentInstall);
    buttons->addStretch();
    btnClose->setAutoDefault(false);
    buttons->addWidget(btnClose);

    auto* page = new QVBoxLayout(this);
    page->addWidget(lblHint);
    page->addWidget(lblManifest);
    page->addWidget(lvChecks, 1);
    page->addWidget(lblProgress);
    page->addWidget(pbChecks);
    page->addWidget(pnlBottom);

    connect(btnRefresh, &QPushButton::clicked, this, [this] { FPresenter->RefreshClicked(); });
    connect(btnInstall, &QPushButton::clicked, this,
            [this] { FPresenter->InstallClicked(chkSilentInstall->isChecked()); });
    connect(btnInstallAll, &QPushButton::clicked, this,
            [this] { FPresenter->InstallAllClicked(chkSilentInstall->isChecked()); });
    connect(btnClose, &QPushButton::clicked, this, &TfrmBootstrap::reject);
    connect(lvChecks, &QTreeWidget::itemSelectionChanged, this, &TfrmBootstrap::lvChecksSelectItem);

    // Named as in the description of the window, which is also how tests find them.
    for (const auto& [control, name] :
         std::initializer_list<std::pair<QWidget*, const char*>>{{btnRefresh, "btnRefresh"},
                                                                 {btnInstall, "btnInstall"},
                                                                 {btnInstallAll, "btnInstallAll"},
                                                                 {btnClose, "btnClose"},
                                                                 {chkSilentInstall, "chkSilentInstall"},
                                                                 {lvChecks, "lvChecks"},
                                                                 {lblHint, "lblHint"},
                                                                 {lblManifest, "lblManifest"},
                                                                 {lblProgress, "lblProgress"},
                                                                 {pbChecks, "pbChecks"}})
        control->setObjectName(name);
}

void TfrmBootstrap::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FPresenter->Shown();
}

void TfrmBootstrap::reject() {
    FPresenter->CloseClicked();
}

void TfrmBootstrap::lvChecksSelectItem() {
    const QList<QTreeWidgetItem*> selected = lvChecks->selectedItems();
    FPresenter->RowSelected(selected.isEmpty() ? -1 : lvChecks->indexOfTopLevelItem(selected.front()));
}

void TfrmBootstrap::ShowRows(const std::vector<TPreparationRow>& rows) {
    lvChecks->clear();
    for (const TPreparationRow& cells : rows) {
        auto* item = new QTreeWidgetItem(lvChecks);
        // Rows with and without the check mark alike.
        item->setSizeHint(ccStatus, QSize(0, CheckMarkRowHeight));
        ShowCells(*item, cells, FCheckMark);
    }
}

void TfrmBootstrap::ShowRow(int row, const TPreparationRow& cells) {
    if (QTreeWidgetItem* item = lvChecks->topLevelItem(row)) ShowCells(*item, cells, FCheckMark);
}

void TfrmBootstrap::SelectRow(int row) {
    lvChecks->setCurrentItem(lvChecks->topLevelItem(row));
}

void TfrmBootstrap::ShowProgress(const TPreparationProgress& progress) {
    pbChecks->setRange(0, progress.Maximum);
    pbChecks->setValue(progress.Position);
    pbChecks->setVisible(progress.BarShown);
    lblProgress->setText(Ui(progress.Caption));
    lblProgress->setVisible(progress.CaptionShown);
}

void TfrmBootstrap::ShowManifestText(const std::string& text) {
    const QString whole = Ui(text);
    const int width = this->width() - 2 * layout()->contentsMargins().left();
    lblManifest->setText(lblManifest->fontMetrics().elidedText(whole, Qt::ElideRight, width));
    lblManifest->setToolTip(whole);
}

void TfrmBootstrap::ShowEnabled(const TPreparationButtons& enabled) {
    btnRefresh->setEnabled(enabled.Refresh);
    btnInstall->setEnabled(enabled.Install);
    btnInstallAll->setEnabled(enabled.InstallAll);
    btnClose->setEnabled(enabled.Close);
    chkSilentInstall->setEnabled(enabled.Silent);
    lvChecks->setEnabled(enabled.List);
}

void TfrmBootstrap::ShowBusy(bool busy) {
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

}  // namespace egaiss
