#include "gui/uQueueForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/uFormCommon.h"
#include "gui/uQtMainLoop.h"

namespace egaiss {
namespace {

constexpr int ClientWidth = 640;
constexpr int ClientHeight = 420;
enum TQueueColumn { qcStatus, qcType, qcId, qcDetails };

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

TfrmQueue::TfrmQueue(const TEgaissConfig& cfg, QWidget* parent)
    : QDialog(parent),
      lblSummary(new QLabel(this)),
      lvQueue(new QTreeWidget(this)),
      btnRefresh(new QPushButton(this)),
      btnClearQueued(new QPushButton(this)),
      btnClearErrors(new QPushButton(this)),
      btnClearBoth(new QPushButton(this)),
      btnClose(new QPushButton(this)),
      FPrompts(this),
      FPresenter(QtMainLoop(), *this, FPrompts, cfg) {
    FormCreate();
}

void TfrmQueue::ShowQueue(const TEgaissConfig& cfg, QWidget* parent) {
    TfrmQueue form(cfg, parent);
    form.FPresenter.RefreshClicked();
    form.exec();
}

void TfrmQueue::FormCreate() {
    setWindowTitle(Text(queue_texts::Title));
    PlaceFixedCentred(*this, ClientWidth, ClientHeight);
    lblSummary->setObjectName("lblSummary");
    lblSummary->setWordWrap(true);
    lblSummary->setText(Text(queue_texts::SummaryPending));

    lvQueue->setObjectName("lvQueue");
    lvQueue->setRootIsDecorated(false);
    lvQueue->setUniformRowHeights(true);
    lvQueue->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvQueue->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvQueue->setHeaderLabels({Text(queue_texts::Status), Text(queue_texts::Type), Text(queue_texts::Id),
                              Text(queue_texts::Details)});
    lvQueue->header()->setStretchLastSection(false);
    const int widths[] = {90, 160, 120, 220};
    for (int column = qcStatus; column <= qcDetails; ++column)
        lvQueue->setColumnWidth(column, widths[column]);

    struct TButton {
        QPushButton* Button;
        const char* Name;
        const char* Caption;
    };
    const TButton buttons[] = {{btnRefresh, "btnRefresh", queue_texts::Refresh},
                               {btnClearQueued, "btnClearQueued", queue_texts::ClearQueued},
                               {btnClearErrors, "btnClearErrors", queue_texts::ClearErrors},
                               {btnClearBoth, "btnClearBoth", queue_texts::ClearAll},
                               {btnClose, "btnClose", queue_texts::Close}};
    auto* row = new QHBoxLayout;
    for (const auto& [button, name, caption] : buttons) {
        button->setObjectName(name);
        button->setText(Text(caption));
        button->setAutoDefault(false);
        row->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblSummary);
    layout->addWidget(lvQueue, 1);
    layout->addLayout(row);

    connect(btnRefresh, &QPushButton::clicked, this, [this] { FPresenter.RefreshClicked(); });
    connect(btnClearQueued, &QPushButton::clicked, this, [this] { FPresenter.ClearQueuedClicked(); });
    connect(btnClearErrors, &QPushButton::clicked, this, [this] { FPresenter.ClearErrorsClicked(); });
    connect(btnClearBoth, &QPushButton::clicked, this, [this] { FPresenter.ClearAllClicked(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmQueue::ShowSummary(const std::string& text) {
    lblSummary->setText(Text(text));
}

void TfrmQueue::ShowRows(const std::vector<TQueueRow>& rows) {
    QList<QTreeWidgetItem*> items;
    for (const TQueueRow& row : rows) {
        auto* item = new QTreeWidgetItem(
            QStringList{Text(row.Status), Text(row.DocType), Text(row.ShownId), Text(row.Details)});
        item->setToolTip(qcId, Text(row.Id));
        items.append(item);
    }
    lvQueue->setUpdatesEnabled(false);
    lvQueue->clear();
    lvQueue->addTopLevelItems(items);
    lvQueue->setUpdatesEnabled(true);
}

void TfrmQueue::ShowBusy(bool busy) {
    for (QPushButton* button : {btnRefresh, btnClearQueued, btnClearErrors, btnClearBoth})
        button->setEnabled(!busy);
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

}  // namespace egaiss
