#include "gui/uMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include "agent/uAgentStatus.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "gui/uAgentApplication.h"
#include "gui/uAppIcon.h"
#include "gui/uFormCommon.h"
#include "gui/uLogView.h"
#include "gui/uQueueForm.h"
#include "gui/uSetupForm.h"
#include "gui/uUiPrompts.h"
#include "platform/uErrors.h"
#include "platform/uShell.h"
#include "scales/uScalesConfig.h"

namespace egaiss {
namespace {

constexpr int LogTailLines = 300;
constexpr int LogTimerMs = 2000;

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

struct TBrandItem {
    const char* Name;  // object name without the menu's prefix
    const char* Caption;
    int Brand;
};

constexpr TBrandItem BrandItems[] = {
    {"MassaK", "Масса-К...", sbMassaK},
    {"Shtrih", "Штрих...", sbShtrih},
    {"Cas", "CAS...", sbCas},
    {"Digi", "DIGI...", sbDigi},
};

QAction* AddItem(QMenu& menu, const char* name, const QString& caption) {
    QAction* item = menu.addAction(caption);
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

}  // namespace

TMainWindowLinks RealMainWindowLinks() {
    return {&TfrmSetup::EditConfig, &TfrmQueue::ShowQueue,
            [](const std::string& url) { return platform::OpenWithDesktop(url); }};
}

TfrmMain::TfrmMain(TAgentServices services, TMainWindowLinks links, TAgentOptions options)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FLinks(std::move(links)),
      FAgent(std::make_unique<TAgent>(services, this, std::move(options))) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(AppTitle());
    setWindowIcon(AppIcon());
    CreateControls();
    CreateTrayMenu();
    FTimerLog.setInterval(LogTimerMs);
    connect(&FTimerLog, &QTimer::timeout, this, &TfrmMain::RefreshLog);
    connect(FAgent.get(), &TAgent::ExitRequested, this, &TfrmMain::AllowCloseAndExit);
    PlaceFixedCentred(*this, ClientWidth, ClientHeight);
}

void TfrmMain::CreateControls() {
    auto* pnlTop = new QWidget(this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    FStatusLabel = new QLabel(QStringLiteral("Status: waiting..."), pnlTop);
    FStatusLabel->setObjectName(QStringLiteral("lblStatus"));
    // A failed sync's message can be long; it wraps above the buttons instead of being cut.
    FStatusLabel->setWordWrap(true);
    FStatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const auto button = [pnlTop](const char* name, const QString& caption) {
        auto* created = new QPushButton(caption, pnlTop);
        created->setObjectName(QString::fromLatin1(name));
        created->setAutoDefault(false);
        return created;
    };
    QPushButton* btnQueue = button("btnQueue", QStringLiteral("Очередь"));
    FScalesButton = button("btnScales", QStringLiteral("Весы"));
    QPushButton* btnSettings = button("btnSettings", QStringLiteral("Настройки"));
    QPushButton* btnMinimize = button("btnMinimize", QStringLiteral("Свернуть"));
    connect(btnQueue, &QPushButton::clicked, this, &TfrmMain::mnuQueueClick);
    connect(btnSettings, &QPushButton::clicked, this, &TfrmMain::mnuSettingsClick);
    connect(btnMinimize, &QPushButton::clicked, this, &TfrmMain::HideToTray);
    connect(FScalesButton, &QPushButton::clicked, this,
            [this] { FPopupScales->popup(FScalesButton->mapToGlobal(FScalesButton->rect().bottomLeft())); });

    auto* top = new QVBoxLayout(pnlTop);
    top->setContentsMargins(8, 6, 8, 6);
    top->addWidget(FStatusLabel);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    for (QPushButton* each : {btnQueue, FScalesButton, btnSettings, btnMinimize})
        buttons->addWidget(each);
    top->addLayout(buttons);

    FLogView = new QPlainTextEdit(this);
    FLogView->setObjectName(QStringLiteral("memLog"));
    FLogView->setReadOnly(true);
    FLogView->setUndoRedoEnabled(false);
    FLogView->setLineWrapMode(QPlainTextEdit::NoWrap);
    FLogView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FLogView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FLogView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Read-only views hide the caret; the keyboard still moves it, and the log view follows it.
    FLogView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pnlTop);
    layout->addWidget(FLogView, 1);
}

QMenu* TfrmMain::CreateScalesMenu(QWidget* parent, const char* objectPrefix) {
    auto* menu = new QMenu(QStringLiteral("Весы"), parent);
    for (const TBrandItem& item : BrandItems) {
        const std::string name = std::string(objectPrefix) + item.Name;
        QAction* action = AddItem(*menu, name.c_str(), QString::fromUtf8(item.Caption));
        action->setData(item.Brand);
        connect(action, &QAction::triggered, this,
                [this, brand = item.Brand] { mnuScalesBrandClick(brand); });
    }
    return menu;
}

void TfrmMain::CreateTrayMenu() {
    FPopupMenu = new QMenu(this);
    FPopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    connect(AddItem(*FPopupMenu, "mnuShow", QStringLiteral("Открыть окно программы")), &QAction::triggered,
            this, &TfrmMain::ShowMainWindow);
    FStatusItem = AddItem(*FPopupMenu, "mnuStatus", QStringLiteral("Status: waiting..."));
    FStatusItem->setEnabled(false);
    FLastSyncItem = AddItem(*FPopupMenu, "mnuLastSync", QStringLiteral("Last sync: -"));
    FLastSyncItem->setEnabled(false);
    connect(AddItem(*FPopupMenu, "mnuSettings", QStringLiteral("Настройки...")), &QAction::triggered, this,
            &TfrmMain::mnuSettingsClick);
    connect(AddItem(*FPopupMenu, "mnuQueue", QStringLiteral("Очередь сообщений...")), &QAction::triggered,
            this, &TfrmMain::mnuQueueClick);
    connect(AddItem(*FPopupMenu, "mnuBootstrap", QStringLiteral("Подготовить компьютер к ЕГАИС...")),
            &QAction::triggered, this, &TfrmMain::mnuBootstrapClick);
    QMenu* scales = CreateScalesMenu(FPopupMenu, "mnuScales");
    scales->menuAction()->setObjectName(QStringLiteral("mnuScales"));
    FPopupMenu->addMenu(scales);
    FOpenUtmItem = AddItem(*FPopupMenu, "mnuOpenUtm", QString());
    connect(FOpenUtmItem, &QAction::triggered, this, &TfrmMain::mnuOpenUtmClick);
    FPopupMenu->addSeparator()->setObjectName(QStringLiteral("mnuSep"));
    connect(AddItem(*FPopupMenu, "mnuExit", QStringLiteral("Выход")), &QAction::triggered, this,
            &TfrmMain::mnuExitClick);

    FPopupScales = CreateScalesMenu(this, "popScales");
    FPopupScales->setObjectName(QStringLiteral("PopupScales"));

    FTrayIcon = new QSystemTrayIcon(AppIcon(), this);
    FTrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    FTrayIcon->setContextMenu(FPopupMenu);
    connect(FTrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) ShowMainWindow();
    });
}

void TfrmMain::FormCreate() {
    if (auto* application = qobject_cast<TAgentApplication*>(QCoreApplication::instance())) {
        application->SetExceptionHandler([this](const std::exception& error) { HandleAppException(error); });
    }
    // The tray icon stays visible for the life of the process.
    FTrayIcon->show();
    FOpenUtmItem->setText(QStringLiteral("Open UTM..."));
    FAgent->Start();
}

bool TfrmMain::EditConfig(TEgaissConfig& cfg) {
    return FLinks.EditConfig(cfg, !cfg.IsComplete(), this);
}

void TfrmMain::StatusChanged() {
    const TAgentStatus& status = FAgent->Status();
    try {
        try {
            FTrayIcon->setToolTip(Text(TrayHint(TrayTitle(FAgent->Config().LabelText), status)));
        } catch (const std::exception& error) {
            LogException("UpdateTray.Hint", error);
            FTrayIcon->setToolTip(AppTitle());
        }
        UpdateTrayIcon();
    } catch (const std::exception& error) {
        LogException("UpdateTray", error);
    }
    try {
        const QString caption = Text(StatusCaption(status));
        FStatusItem->setText(caption);
        FLastSyncItem->setText(Text(LastSyncCaption(status)));
        FStatusLabel->setText(caption);
    } catch (const std::exception& error) {
        LogException("UpdateTray.menu", error);
    }
}

void TfrmMain::UpdateTrayIcon() {
    const TAgentStatus& status = FAgent->Status();
    const bool alert = FAgent->Config().IsComplete() && status.LastSyncAt.has_value() && !status.StatusOK;
    if (alert == FTrayAlert) return;
    FTrayAlert = alert;
    FTrayIcon->setIcon(alert ? AppIconWithAlert() : AppIcon());
}

void TfrmMain::RefreshLog() {
    try {
        QString tail = Text(ReadLogTail(LogTailLines));
        tail.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (tail.endsWith('\n')) tail.chop(1);
        ShowLogTail(*FLogView, tail);
    } catch (const std::exception& error) {
        LogException("RefreshLog", error);
    }
}

void TfrmMain::ShowMainWindow() {
    FTrayIcon->show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    FTimerLog.start();
    RefreshLog();
}

void TfrmMain::HideToTray() {
    FTimerLog.stop();
    hide();
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FTimerLog.start();
    RefreshLog();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (FAllowClose) {
        event->accept();
        return;
    }
    event->ignore();
    HideToTray();
}

void TfrmMain::mnuExitClick() {
    AllowCloseAndExit();
}

void TfrmMain::AllowCloseAndExit() {
    FAllowClose = true;
    close();
    emit ExitRequested();
}

void TfrmMain::mnuSettingsClick() {
    TEgaissConfig cfg = FAgent->Config();
    if (!EditConfig(cfg)) return;
    FAgent->SettingsSaved();
}

void TfrmMain::ShowNotConfigured() {
    UiPrompts().Message(this, TMessageKind::mkWarning, AppTitle(), QStringLiteral("Agent is not configured"));
}

void TfrmMain::mnuQueueClick() {
    if (!FAgent->EnsureConfig()) {
        ShowNotConfigured();
        return;
    }
    FLinks.ShowQueue(FAgent->Config(), this);
    if (isVisible()) RefreshLog();
}

void TfrmMain::mnuOpenUtmClick() {
    if (!FAgent->EnsureConfig()) {
        ShowNotConfigured();
        return;
    }
    FAgent->ReloadConfig();
    const std::string url = FAgent->Config().UtmBaseURL() + "/";
    if (!FLinks.OpenUrl(url)) LogError("Open UTM failed: " + url);
}

void TfrmMain::mnuBootstrapClick() {
    if (!FAgent->EnsureConfig()) {
        ShowNotConfigured();
        return;
    }
    const TSyncPauser pause = [this](bool paused) { SetSyncPaused(paused); };
    FLinks.ShowBootstrap(FAgent->Config(), pause, this);
}

void TfrmMain::mnuScalesBrandClick(int brand) {
    OpenScalesDialog(brand);
}

void TfrmMain::OpenScalesDialog(int brand) {
    FAgent->LoadScalesSettings();
    TScalesConfig cfg = FAgent->ScalesConfig();
    if (FLinks.EditScales(brand, cfg, this)) FAgent->ScalesSettingsSaved(brand);
}

void TfrmMain::HandleAppException(const std::exception& error, std::chrono::steady_clock::time_point now) {
    LogException("Application.OnException", error);
    const std::string message = error.what();
    const QString logPath = Text(ToAsciiSafe(LogFilePath()));
    if (message.find("No mapping for the Unicode character") != std::string::npos) {
        if (FLastEncMsgTick && now - *FLastEncMsgTick < EncodingMessagePause) return;
        FLastEncMsgTick = now;
        UiPrompts().Message(this, TMessageKind::mkError, AppTitle(),
                            QStringLiteral("Unicode encoding error (Win32 1113).\r\nSee log:\r\n") + logPath +
                                QStringLiteral("\r\n([STEP] / [EXC])"));
        return;
    }
    UiPrompts().Message(this, TMessageKind::mkError, AppTitle(),
                        Text(ExceptionClassName(error)) + QStringLiteral(": ") + Text(ToAsciiSafe(message)) +
                            QStringLiteral("\r\nLog: ") + logPath);
}

}  // namespace egaiss
