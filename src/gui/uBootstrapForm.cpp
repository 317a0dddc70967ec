#include "gui/uBootstrapForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "agent/uJobTracker.h"
#include "gui/uFormCommon.h"
#include "gui/uQtMainLoop.h"
#include "gui/uReportList.h"
#include "gui/uUiPrompts.h"

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

std::string TitleOrEmpty(const TJsonValue& component) {
    std::string title;
    TryGetJsonString(component, "title", title);
    return title;
}

}  // namespace

TSyncPauser SyncPauserOf(QWidget* window) {
    for (QWidget* each = window; each != nullptr; each = each->parentWidget()) {
        if (auto* control = dynamic_cast<TSyncPauseControl*>(each))
            return [control](bool paused) { control->SetSyncPaused(paused); };
    }
    return {};
}

TfrmBootstrap::TfrmBootstrap(const TEgaissConfig& cfg, TInstallOptions options, QWidget* parent)
    : QDialog(parent),
      FCfg(cfg),
      FRunCheck(options.RunCheck),
      FJobs(std::make_shared<TJobTracker>(QtMainLoop())) {
    FInstaller = std::make_unique<TBootstrapInstaller>(
        static_cast<TBootstrapWindow&>(*this), FCfg,
        [jobs = FJobs](std::function<void()> step) { jobs->Post(std::move(step)); }, std::move(options));
    BuildControls();
}

TfrmBootstrap::~TfrmBootstrap() {
    FJobs->Detach();
    FInstaller.reset();
    SetBusyCursor(false);
}

void TfrmBootstrap::ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused,
                                  QWidget* parent) {
    if (setSyncPaused) setSyncPaused(true);
    LogBootstrap("Preparation window opened, sync paused");
    // Sync resumes however the window ends, an error included.
    struct TResume {
        const TSyncPauser& SetSyncPaused;
        ~TResume() {
            LogBootstrap("Preparation window closed, sync resumed");
            if (SetSyncPaused) SetSyncPaused(false);
        }
    } resume{setSyncPaused};
    TfrmBootstrap window(cfg, {}, parent);
    window.exec();
}

void TfrmBootstrap::BuildControls() {
    setWindowTitle(DefaultManifestTitle);
    QFont windowFont("Segoe UI");
    windowFont.setPixelSize(12);
    setFont(windowFont);
    PlaceFixedCentred(*this, 720, 440);
    lblHint = new QLabel(
        "Check PC readiness for UTM. If something is missing, download packages and run installers.", this);
    lblHint->setWordWrap(true);
    lblManifest = new QLabel(this);
    FManifestText = "Manifest: -";
    lvChecks = NewReportList(this, {"#", "Status", "Component", "Details"}, {36, 72, 260, 280});
    lblProgress = new QLabel(this);
    lblProgress->setWordWrap(true);
    pbChecks = new QProgressBar(this);
    pbChecks->setTextVisible(false);
    lblProgress->hide();
    pbChecks->hide();

    auto* pnlBottom = new QWidget(this);
    pnlBottom->setObjectName("pnlBottom");
    pnlBottom->setFixedHeight(44);
    btnRefresh = new QPushButton("Обновить", pnlBottom);
    btnInstall = new QPushButton("Установить", pnlBottom);
    btnInstallAll = new QPushButton("Установить все", pnlBottom);
    btnClose = new QPushButton("Закрыть", pnlBottom);
    chkSilentInstall = new QCheckBox("Silent install (no UI)", pnlBottom);
    btnInstall->setEnabled(false);
    btnInstallAll->setEnabled(false);
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
    ShowManifestText();

    connect(btnRefresh, &QPushButton::clicked, this, &TfrmBootstrap::btnRefreshClick);
    connect(btnInstall, &QPushButton::clicked, this, &TfrmBootstrap::btnInstallClick);
    connect(btnInstallAll, &QPushButton::clicked, this, &TfrmBootstrap::btnInstallAllClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmBootstrap::btnCloseClick);
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

void TfrmBootstrap::ShowManifestText() {
    const int width = this->width() - 2 * layout()->contentsMargins().left();
    lblManifest->setText(lblManifest->fontMetrics().elidedText(FManifestText, Qt::ElideRight, width));
    lblManifest->setToolTip(FManifestText);
}

void TfrmBootstrap::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!FInitialChecksPending) return;
    FInitialChecksPending = false;
    BeginProgress(1);
    SetProgress(0, "Loading manifest...");
    PostCheckRun();
}

// The check run starts once the current event is done, so that the window is on screen first.
void TfrmBootstrap::PostCheckRun() {
    QMetaObject::invokeMethod(
        this, [this] { RunChecks(false); }, Qt::QueuedConnection);
}

void TfrmBootstrap::BeginProgress(int maximum) {
    for (QWidget* control : std::initializer_list<QWidget*>{btnRefresh, btnInstall, btnInstallAll, btnClose,
                                                            chkSilentInstall, lvChecks})
        control->setEnabled(false);
    pbChecks->setRange(0, std::max(maximum, 1));
    pbChecks->setValue(0);
    pbChecks->show();
    lblProgress->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TfrmBootstrap::SetProgress(int position, const std::string& caption) {
    pbChecks->setValue(std::clamp(position, pbChecks->minimum(), pbChecks->maximum()));
    lblProgress->setText(Ui(caption));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TfrmBootstrap::SetProgressSafe(int position, const std::string& caption) {
    SetProgress(position, caption);
}

void TfrmBootstrap::EndProgress() {
    pbChecks->hide();
    lblProgress->hide();
    for (QWidget* control : std::initializer_list<QWidget*>{btnRefresh, btnClose, chkSilentInstall, lvChecks})
        control->setEnabled(true);
    UpdateInstallAllButton();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TfrmBootstrap::RunChecks(bool force) {
    LogBootstrap("Start environment checks");
    BeginProgress(1);
    SetProgress(0, "Loading manifest...");
    lvChecks->clear();
    FRows.clear();
    FSelectedIndex = -1;
    try {
        if (FManifest.Load(FCfg.ServerURL, force)) {
            LogBootstrap("Manifest loaded: " + FManifest.SourceURL());
        } else if (FManifest.LoadFromCache()) {
            LogBootstrap("Manifest loaded from cache: " + FManifest.SourceURL());
        } else {
            LogBootstrapError("Manifest load failed");
            UiPrompts().Message(this, TMessageKind::mkError, WindowTitle(),
                                "Failed to load egaiss-bootstrap.json");
            EndProgress();
            return;
        }
        FManifestText = Ui("Manifest: " + FManifest.SourceURL());
        ShowManifestText();
        if (const TJsonValue* components = Components()) {
            pbChecks->setMaximum(static_cast<int>(components->Items().size()) + 1);
            FRows = RunComponentChecks(
                components, FCfg, FRunCheck, [this](const std::string& title, int number, int total) {
                    SetProgress(number, "Check: " + title + "  (" + std::to_string(number) + "/" +
                                            std::to_string(total) + ")");
                });
            for (const TComponentCheckRow& row : FRows)
                AddRow(row);
            btnInstall->setEnabled(false);
            if (!FRows.empty()) lvChecks->setCurrentItem(lvChecks->topLevelItem(0));
        }
    } catch (const std::exception& error) {
        LogBootstrapError("Checks failed: " + std::string(error.what()));
        UiPrompts().Message(this, TMessageKind::mkError, WindowTitle(), Ui(error.what()));
    }
    EndProgress();
}

void TfrmBootstrap::AddRow(const TComponentCheckRow& row) {
    auto* item = new QTreeWidgetItem(lvChecks, {QString::number(row.Order), {}, Ui(row.Title), {}});
    // Rows with and without the check mark alike.
    item->setSizeHint(ccStatus, QSize(0, CheckMarkRowHeight));
    ShowRowResult(item, row.Result);
}

void TfrmBootstrap::ShowRowResult(QTreeWidgetItem* item, const TEnvCheckResult& result) {
    const bool ok = result.State == TEnvCheckState::ecsOk;
    item->setText(ccStatus, ok ? QString() : Ui(EnvStateText(result.State)));
    item->setIcon(ccStatus, ok ? CheckMarkIcon() : QIcon());
    item->setText(ccDetails, Ui(result.Detail));
    item->setToolTip(ccDetails, Ui(result.Detail));
}

const TJsonValue* TfrmBootstrap::Components() const {
    return FManifest.Components();
}

const TJsonValue* TfrmBootstrap::ComponentAt(int index) const {
    return egaiss::ComponentAt(Components(), index);
}

const TJsonValue* TfrmBootstrap::SelectedComponent() const {
    if (FSelectedIndex < 0 || static_cast<std::size_t>(FSelectedIndex) >= FRows.size()) return nullptr;
    return ComponentAt(FRows[static_cast<std::size_t>(FSelectedIndex)].Index);
}

int TfrmBootstrap::FindRow(int index) const {
    const auto row = std::ranges::find(FRows, index, &TComponentCheckRow::Index);
    return row == FRows.end() ? -1 : static_cast<int>(row - FRows.begin());
}

void TfrmBootstrap::lvChecksSelectItem() {
    const QList<QTreeWidgetItem*> selected = lvChecks->selectedItems();
    FSelectedIndex = selected.isEmpty() ? -1 : lvChecks->indexOfTopLevelItem(selected.front());
    const TJsonValue* component = SelectedComponent();
    btnInstall->setEnabled(component != nullptr && component->Find("install") != nullptr);
}

void TfrmBootstrap::UpdateInstallAllButton() {
    btnInstallAll->setEnabled(!CollectInstallIndices(FRows, Components()).empty());
}

bool TfrmBootstrap::IsSilentMode() const {
    return chkSilentInstall->isChecked();
}

void TfrmBootstrap::MarkRowRunning(int index) {
    const int row = FindRow(index);
    if (row < 0) return;
    QTreeWidgetItem* item = lvChecks->topLevelItem(row);
    item->setText(ccStatus, "Running...");
    item->setIcon(ccStatus, QIcon());
}

void TfrmBootstrap::UpdateRow(int index, const TEnvCheckResult& result) {
    const int row = FindRow(index);
    if (row < 0) return;
    FRows[static_cast<std::size_t>(row)].Result = result;
    ShowRowResult(lvChecks->topLevelItem(row), result);
}

void TfrmBootstrap::RecheckRow(int index) {
    const TJsonValue* component = ComponentAt(index);
    if (component == nullptr) return;
    const TEnvCheckResult result = FRunCheck ? FRunCheck(*component, FCfg) : RunEnvCheck(*component, FCfg);
    UpdateRow(index, result);
    LogBootstrap("List item updated after install: idx=" + std::to_string(index) +
                 " state=" + EnvStateTag(result.State));
}

void TfrmBootstrap::SetBusyCursor(bool busy) {
    if (busy == FBusyCursor) return;
    FBusyCursor = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TfrmBootstrap::btnRefreshClick() {
    LogBootstrap("User requested refresh");
    RunChecks(true);
}

void TfrmBootstrap::btnInstallClick() {
    const TJsonValue* component = SelectedComponent();
    if (component == nullptr) return;
    const std::string title = TitleOrEmpty(*component);
    if (!UiPrompts().Confirm(
            this, WindowTitle(),
            Ui("Download and install \"" + title + "\"?\r\nAdministrator rights may be required.")))
        return;
    LogBootstrap("User confirmed install: " + title);
    SetBusyCursor(true);
    try {
        const bool silent = IsSilentMode();
        FInstaller->InstallComponent(component, !silent, silent);
        if (FSelectedIndex >= 0) {
            const int index = FRows[static_cast<std::size_t>(FSelectedIndex)].Index;
            if (silent) {
                UiPrompts().Message(this, TMessageKind::mkInformation, WindowTitle(),
                                    "Installer started. After it finishes click \"Recheck\".");
            } else {
                RecheckRow(index);
            }
        }
    } catch (const std::exception& error) {
        LogBootstrapError("Install failed: " + title + " - " + error.what());
        UiPrompts().Message(this, TMessageKind::mkError, WindowTitle(), Ui(error.what()));
    }
    SetBusyCursor(false);
}

void TfrmBootstrap::btnInstallAllClick() {
    if (FInstaller->InstallAllBusy()) {
        UiPrompts().Message(this, TMessageKind::mkInformation, WindowTitle(),
                            "Install already running. Please wait.");
        return;
    }
    const std::vector<int> indices = CollectInstallIndices(FRows, Components());
    if (indices.empty()) {
        UiPrompts().Message(this, TMessageKind::mkInformation, WindowTitle(), "Nothing to install.");
        return;
    }
    std::string list;
    for (std::size_t n = 0; n < indices.size(); ++n)
        list += std::to_string(n + 1) + ". " + ItemTitle(ComponentAt(indices[n])) + "\r\n";
    const std::string mode =
        IsSilentMode() ? "Mode: silent install." : "Mode: interactive install - confirm each dialog.";
    const std::string question =
        "Download and install all items?\r\n\r\n" + list +
        "\r\n\r\nAdministrator rights may be required. Follow installer prompts.\r\n\r\n" + mode;
    if (!UiPrompts().Confirm(this, WindowTitle(), Ui(question))) return;
    FInstaller->InstallAllAsync(indices);
    SetBusyCursor(true);
}

void TfrmBootstrap::InstallAllFinished(const std::string& errMsg) {
    SetBusyCursor(false);
    if (!errMsg.empty()) {
        LogBootstrapError("Install all failed: " + errMsg);
        EndProgress();
        lblProgress->setText(Ui(errMsg));
        lblProgress->show();
        btnClose->setEnabled(true);
        UpdateInstallAllButton();
        return;
    }
    lblProgress->setText("Install finished. Running recheck...");
    lblProgress->show();
    LogBootstrap("Install all finished, re-running checks");
    pbChecks->setValue(pbChecks->maximum());
    PostCheckRun();
}

void TfrmBootstrap::btnCloseClick() {
    if (FInstaller->InstallAllBusy()) {
        if (!UiPrompts().Confirm(
                this, WindowTitle(),
                Ui("Install is running. Cancel?\r\nCurrent installer window will stay open.")))
            return;
        FInstaller->CancelInstall();
        FInstaller->KillInstaller();
    }
    reject();
}

}  // namespace egaiss
