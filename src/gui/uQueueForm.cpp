#include "gui/uQueueForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "agent/uJobTracker.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "gui/uFormCommon.h"
#include "gui/uQtMainLoop.h"
#include "gui/uUiPrompts.h"

namespace egaiss {
namespace {

constexpr int ClientWidth = 640;
constexpr int ClientHeight = 420;
constexpr std::size_t ShownIdLength = 12;

bool IsListedStatus(const std::string& status) {
    const std::string lower = LowerAscii(status);
    return lower == "queued" || lower == "error" || lower == "cancelled";
}

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

TfrmQueue::TfrmQueue(const TEgaissConfig& cfg, QWidget* parent)
    : QDialog(parent),
      FCfg(cfg),
      FJobs(std::make_shared<TJobTracker>(QtMainLoop())),
      lblSummary(new QLabel(this)),
      lvQueue(new QTreeWidget(this)),
      btnRefresh(new QPushButton(this)),
      btnClearQueued(new QPushButton(this)),
      btnClearErrors(new QPushButton(this)),
      btnClearBoth(new QPushButton(this)),
      btnClose(new QPushButton(this)) {
    FormCreate();
}

TfrmQueue::~TfrmQueue() {
    FJobs->Detach();
}

void TfrmQueue::ShowQueue(const TEgaissConfig& cfg, QWidget* parent) {
    TfrmQueue form(cfg, parent);
    form.LoadQueue();
    form.exec();
}

void TfrmQueue::FormCreate() {
    setWindowTitle(QStringLiteral("Outgoing queue to server"));
    PlaceFixedCentred(*this, ClientWidth, ClientHeight);
    lblSummary->setObjectName("lblSummary");
    lblSummary->setWordWrap(true);
    lblSummary->setText(QStringLiteral("..."));

    lvQueue->setObjectName("lvQueue");
    lvQueue->setRootIsDecorated(false);
    lvQueue->setUniformRowHeights(true);
    lvQueue->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvQueue->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvQueue->setHeaderLabels({QStringLiteral("Status"), QStringLiteral("Type"), QStringLiteral("ID"),
                              QStringLiteral("Error / details")});
    lvQueue->header()->setStretchLastSection(false);
    const int widths[] = {90, 160, 120, 220};
    for (int column = 0; column < 4; ++column)
        lvQueue->setColumnWidth(column, widths[column]);

    struct TButton {
        QPushButton* Button;
        const char* Name;
        const char* Caption;
    };
    const TButton buttons[] = {{btnRefresh, "btnRefresh", "Refresh"},
                               {btnClearQueued, "btnClearQueued", "Clear queued"},
                               {btnClearErrors, "btnClearErrors", "Clear errors"},
                               {btnClearBoth, "btnClearBoth", "Clear all"},
                               {btnClose, "btnClose", "Close"}};
    auto* row = new QHBoxLayout;
    for (const auto& [button, name, caption] : buttons) {
        button->setObjectName(name);
        button->setText(QString::fromLatin1(caption));
        button->setAutoDefault(false);
        row->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblSummary);
    layout->addWidget(lvQueue, 1);
    layout->addLayout(row);

    connect(btnRefresh, &QPushButton::clicked, this, &TfrmQueue::LoadQueue);
    connect(btnClearQueued, &QPushButton::clicked, this, [this] {
        ConfirmAndClear(
            QStringLiteral("Clear all documents with status \"queued\"?\nThey will not be sent to UTM."),
            {"queued"}, "Cleared \"queued\" from agent window");
    });
    connect(btnClearErrors, &QPushButton::clicked, this, [this] {
        ConfirmAndClear(QStringLiteral("Clear all documents with status \"error\"?"), {"error"},
                        "Cleared \"error\" from agent window");
    });
    connect(btnClearBoth, &QPushButton::clicked, this, [this] {
        ConfirmAndClear(QStringLiteral("Clear \"queued\" and \"error\"?"), {"queued", "error"},
                        "Cleared queue from agent window");
    });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

// Runs `ask` with a client of its own on a worker thread; `show` gets the reply on this window's
// thread, and not at all when the window has closed meanwhile.
template <typename TAnswer, typename TAsk, typename TShow>
void TfrmQueue::AskServer(TAsk ask, TShow show) {
    SetBusy(true);
    FJobs->JobStarted();
    FWorkers.Start([this, jobs = FJobs, cfg = FCfg, ask = std::move(ask), show = std::move(show)]() mutable {
        TServerReply<TAnswer> reply;
        try {
            TVelmoraApi api(cfg);
            reply.Answer = ask(api);
        } catch (const std::exception& error) {
            reply.Failure = error.what();
        }
        jobs->JobFinished([this, reply = std::move(reply), show = std::move(show)] {
            SetBusy(false);
            show(reply);
        });
    });
}

void TfrmQueue::SetBusy(bool busy) {
    for (QPushButton* button : {btnRefresh, btnClearQueued, btnClearErrors, btnClearBoth})
        button->setEnabled(!busy);
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void TfrmQueue::LoadQueue() {
    if (!FCfg.IsComplete()) {
        lblSummary->setText(QStringLiteral("Agent is not configured"));
        return;
    }
    AskServer<TQueueStatus>(
        [](TVelmoraApi& api) {
            TQueueStatus status;
            status.Answered = api.FetchOutboxStatus(status.Rows, status.Queued, status.Errors);
            return status;
        },
        [this](const TServerReply<TQueueStatus>& reply) { ShowQueueStatus(reply); });
}

void TfrmQueue::ShowQueueStatus(const TServerReply<TQueueStatus>& reply) {
    if (reply.Failure) {
        lblSummary->setText(QStringLiteral("Failed to load queue - ") + Text(*reply.Failure));
        LogError("Queue load: " + *reply.Failure);
        return;
    }
    const TQueueStatus& status = reply.Answer;
    if (!status.Answered) {
        lblSummary->setText(QStringLiteral("Failed to load queue"));
        return;
    }
    const int total = static_cast<int>(status.Rows.size());
    lblSummary->setText(QStringLiteral("Queued: %1  /  Errors: %2  /  Total: %3")
                            .arg(status.Queued)
                            .arg(status.Errors)
                            .arg(total));
    FillList(status.Rows);
    LogInfo("Queue window: queued=" + std::to_string(status.Queued) +
            " error=" + std::to_string(status.Errors) + " listed=" + std::to_string(total));
}

void TfrmQueue::FillList(const std::vector<TOutboxStatusRow>& rows) {
    QList<QTreeWidgetItem*> items;
    for (const TOutboxStatusRow& row : rows) {
        if (!IsListedStatus(row.Status)) continue;
        items.append(new QTreeWidgetItem(QStringList{Text(row.Status), Text(row.DocType),
                                                     Text(TextLeft(row.DocID, ShownIdLength) + "..."),
                                                     Text(row.ErrorText)}));
    }
    lvQueue->setUpdatesEnabled(false);
    lvQueue->clear();
    lvQueue->addTopLevelItems(items);
    lvQueue->setUpdatesEnabled(true);
}

void TfrmQueue::ConfirmAndClear(const QString& question, const std::vector<std::string>& statuses,
                                const std::string& reason) {
    if (UiPrompts().Confirm(this, WindowTitle(), question)) ClearStatuses(statuses, reason);
}

void TfrmQueue::ClearStatuses(const std::vector<std::string>& statuses, const std::string& reason) {
    if (!FCfg.IsComplete()) return;
    AskServer<TClearResult>(
        [statuses, reason](TVelmoraApi& api) {
            TClearResult result;
            result.Answered = api.ClearOutbox(statuses, reason, result.Cleared);
            return result;
        },
        [this, reason](const TServerReply<TClearResult>& reply) { ShowClearResult(reply, reason); });
}

void TfrmQueue::ShowClearResult(const TServerReply<TClearResult>& reply, const std::string& reason) {
    if (reply.Failure) {
        LogError("Queue clear: " + *reply.Failure);
        UiPrompts().Message(this, TMessageKind::mkError, WindowTitle(),
                            QStringLiteral("Failed to clear queue\n") + Text(*reply.Failure));
        return;
    }
    if (!reply.Answer.Answered) {
        UiPrompts().Message(this, TMessageKind::mkError, WindowTitle(),
                            QStringLiteral("Failed to clear queue"));
        return;
    }
    const int cleared = reply.Answer.Cleared;
    LogInfo("Queue clear: " + std::to_string(cleared) + " doc(s) -> cancelled (" + reason + ")");
    UiPrompts().Message(this, TMessageKind::mkInformation, WindowTitle(),
                        QStringLiteral("Cleared documents: %1").arg(cleared));
    LoadQueue();
}

}  // namespace egaiss
