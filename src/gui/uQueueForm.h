#pragma once
// The window over the server's outgoing queue (the rules are TQueuePresenter's).
#include <QDialog>

#include "agent/uQueuePresenter.h"
#include "gui/uUiPrompts.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace egaiss {

class TfrmQueue : public QDialog, private TQueueView {
    Q_OBJECT

public:
    // Modal. The server is asked from a worker thread, so a silent server never freezes the window;
    // while a request runs, the buttons that would start another are disabled.
    static void ShowQueue(const TEgaissConfig& cfg, QWidget* parent = nullptr);

private:
    TfrmQueue(const TEgaissConfig& cfg, QWidget* parent);

    void FormCreate();

    // TQueueView
    void ShowSummary(const std::string& text) override;
    void ShowRows(const std::vector<TQueueRow>& rows) override;
    void ShowBusy(bool busy) override;

    QLabel* lblSummary;
    QTreeWidget* lvQueue;
    QPushButton* btnRefresh;
    QPushButton* btnClearQueued;
    QPushButton* btnClearErrors;
    QPushButton* btnClearBoth;
    QPushButton* btnClose;
    TWindowPrompts FPrompts;
    // Last: destroyed first, so that nothing it does on its way out reaches freed controls.
    TQueuePresenter FPresenter;
};

}  // namespace egaiss
