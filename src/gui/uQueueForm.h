#pragma once
// The window over the server's outgoing queue: what waits to be sent to the UTM and what failed,
// and clearing them on the server.
#include <QDialog>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/uWorkerThreads.h"
#include "clients/uVelmoraApi.h"
#include "core/uEgaissConfig.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace egaiss {

class TJobTracker;

class TfrmQueue : public QDialog {
    Q_OBJECT

public:
    // Modal. The server is asked from a worker thread, so a silent server never freezes the window;
    // while a request runs, the buttons that would start another are disabled.
    static void ShowQueue(const TEgaissConfig& cfg, QWidget* parent = nullptr);
    ~TfrmQueue() override;

private:
    struct TQueueStatus {
        bool Answered = false;  // the answer was a JSON object
        std::vector<TOutboxStatusRow> Rows;
        int Queued = 0;
        int Errors = 0;
    };
    struct TClearResult {
        bool Answered = false;
        int Cleared = 0;
    };
    template <typename TAnswer>
    struct TServerReply {
        TAnswer Answer;
        std::optional<std::string> Failure;  // the message of an exception
    };

    TfrmQueue(const TEgaissConfig& cfg, QWidget* parent);

    void FormCreate();
    void LoadQueue();
    void ShowQueueStatus(const TServerReply<TQueueStatus>& reply);
    void FillList(const std::vector<TOutboxStatusRow>& rows);
    void ClearStatuses(const std::vector<std::string>& statuses, const std::string& reason);
    void ShowClearResult(const TServerReply<TClearResult>& reply, const std::string& reason);
    void ConfirmAndClear(const QString& question, const std::vector<std::string>& statuses,
                         const std::string& reason);
    template <typename TAnswer, typename TAsk, typename TShow>
    void AskServer(TAsk ask, TShow show);
    void SetBusy(bool busy);

    TEgaissConfig FCfg;
    std::shared_ptr<TJobTracker> FJobs;
    TWorkerThreads FWorkers;
    QLabel* lblSummary;
    QTreeWidget* lvQueue;
    QPushButton* btnRefresh;
    QPushButton* btnClearQueued;
    QPushButton* btnClearErrors;
    QPushButton* btnClearBoth;
    QPushButton* btnClose;
};

}  // namespace egaiss
