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
#include "gui/uElidedLabel.h"
#include "gui/uFormCommon.h"
#include "gui/uLogView.h"
#include "gui/uQtMainLoop.h"
#include "gui/uQueueForm.h"
#include "gui/uSetupForm.h"
#include "gui/uUiPrompts.h"
#include "platform/uErrors.h"
#include "platform/uShell.h"
#include "scales/uScalesConfig.h"

namespace egaiss {
namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QAction* AddItem(QMenu& menu, const char* name, const char* caption) {
    QAction* item = menu.addAction(Text(caption));
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
      FPresenter(QtMainLoop(), *this, FPrompts, services, {std::move(options), FLinks.OpenUrl}) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(WindowTitle());
    setWindowIcon(AppIcon());
    CreateControls();
    CreateTrayMenu();
    FPresenter.OnExitRequested([this] { emit ExitRequested(); });
    PlaceFixedCentred(*this, ClientWidth, ClientHeight);
}

void TfrmMain::CreateControls() {
    auto* pnlTop = new QWidget(this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    // A long failure stays on one line, elided; the tooltip holds the whole text.
    FStatusLabel = new TElidedLabel(Text(main_texts::StatusWaiting), pnlTop);
    FStatusLabel->setObjectName(QStringLiteral("lblStatus"));

    const auto button = [pnlTop](const char* name, const char* caption) {
        auto* created = new QPushButton(Text(caption), pnlTop);
        created->setObjectName(QString::fromLatin1(name));
        created->setAutoDefault(false);
        return created;
    };
    QPushButton* btnQueue = button("btnQueue", main_texts::Queue);
    FScalesButton = button("btnScales", main_texts::Scales);
    QPushButton* btnSettings = button("btnSettings", main_texts::Settings);
    QPushButton* btnMinimize = button("btnMinimize", main_texts::Minimize);
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
    auto* menu = new QMenu(Text(main_texts::Scales), parent);
    for (const TScalesMenuItem& item : ScalesMenuItems()) {
        const std::string name = std::string(objectPrefix) + item.Name;
        QAction* action = AddItem(*menu, name.c_str(), item.Caption);
        action->setData(item.Brand);
        connect(action, &QAction::triggered, this,
                [this, brand = item.Brand] { mnuScalesBrandClick(brand); });
    }
    return menu;
}

void TfrmMain::CreateTrayMenu() {
    FPopupMenu = new QMenu(this);
    FPopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    connect(AddItem(*FPopupMenu, "mnuShow", main_texts::MenuShow), &QAction::triggered, this,
            &TfrmMain::ShowMainWindow);
    FStatusItem = AddItem(*FPopupMenu, "mnuStatus", main_texts::StatusWaiting);
    FStatusItem->setEnabled(false);
    FLastSyncItem = AddItem(*FPopupMenu, "mnuLastSync", main_texts::LastSyncNone);
    FLastSyncItem->setEnabled(false);
    connect(AddItem(*FPopupMenu, "mnuSettings", main_texts::MenuSettings), &QAction::triggered, this,
            &TfrmMain::mnuSettingsClick);
    connect(AddItem(*FPopupMenu, "mnuQueue", main_texts::MenuQueue), &QAction::triggered, this,
            &TfrmMain::mnuQueueClick);
    connect(AddItem(*FPopupMenu, "mnuBootstrap", main_texts::MenuBootstrap), &QAction::triggered, this,
            &TfrmMain::mnuBootstrapClick);
    QMenu* scales = CreateScalesMenu(FPopupMenu, "mnuScales");
    scales->menuAction()->setObjectName(QStringLiteral("mnuScales"));
    FPopupMenu->addMenu(scales);
    FOpenUtmItem = AddItem(*FPopupMenu, "mnuOpenUtm", "");
    connect(FOpenUtmItem, &QAction::triggered, this, &TfrmMain::mnuOpenUtmClick);
    FPopupMenu->addSeparator()->setObjectName(QStringLiteral("mnuSep"));
    connect(AddItem(*FPopupMenu, "mnuExit", main_texts::MenuExit), &QAction::triggered, this,
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
    FOpenUtmItem->setText(Text(main_texts::MenuOpenUtm));
    FPresenter.Start();
}

void TfrmMain::ShowStatus(const TMainStatusTexts& texts) {
    FTrayIcon->setToolTip(Text(texts.Hint));
    if (texts.Alert != FTrayAlert) {
        FTrayAlert = texts.Alert;
        FTrayIcon->setIcon(texts.Alert ? AppIconWithAlert() : AppIcon());
    }
    const QString caption = Text(texts.Caption);
    FStatusItem->setText(caption);
    FLastSyncItem->setText(Text(texts.LastSync));
    FStatusLabel->setText(caption);
}

void TfrmMain::ShowLogTail(const std::string& tail) {
    egaiss::ShowLogTail(*FLogView, Text(tail));
}

void TfrmMain::ShowWindow() {
    FTrayIcon->show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TfrmMain::HideWindow() {
    hide();
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FPresenter.WindowShown();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (FPresenter.CloseRequested()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TfrmMain::CloseForExit() {
    close();
}

bool TfrmMain::EditConfig(TEgaissConfig& cfg) {
    return FLinks.EditConfig(cfg, this);
}

void TfrmMain::ShowQueue(const TEgaissConfig& cfg) {
    FLinks.ShowQueue(cfg, this);
}

void TfrmMain::ShowBootstrap(const TEgaissConfig& cfg, const TSyncPauser& pause) {
    FLinks.ShowBootstrap(cfg, pause, this);
}

bool TfrmMain::EditScales(int brand, TScalesConfig& cfg) {
    return FLinks.EditScales(brand, cfg, this);
}

}  // namespace egaiss
