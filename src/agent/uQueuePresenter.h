#pragma once
// The rules of the window over the server's outgoing queue: what waits to be sent to the UTM and
// what failed, the summary line, and clearing them on the server after a confirmation. Every
// request runs on a worker thread with a client of its own; its answer reaches the window on the
// main thread, and not at all once the window has closed. Each face's window shows what this class
// tells its view; tests drive it without a display.
#include <memory>
#include <string>
#include <vector>

#include "agent/uMainLoop.h"
#include "agent/uPrompts.h"
#include "agent/uWorkerThreads.h"
#include "clients/uVelmoraApi.h"
#include "core/uEgaissConfig.h"

namespace egaiss {

class TJobTracker;

// The window's captions, shared by both faces.
namespace queue_texts {
inline constexpr const char* Title = "Outgoing queue to server";
inline constexpr const char* Status = "Status";
inline constexpr const char* Type = "Type";
inline constexpr const char* Id = "ID";
inline constexpr const char* Details = "Error / details";
inline constexpr const char* Refresh = "Refresh";
inline constexpr const char* ClearQueued = "Clear queued";
inline constexpr const char* ClearErrors = "Clear errors";
inline constexpr const char* ClearAll = "Clear all";
inline constexpr const char* Close = "Close";
inline constexpr const char* SummaryPending = "...";
}  // namespace queue_texts

// One row of the list.
struct TQueueRow {
    std::string Status;
    std::string DocType;
    std::string ShownId;  // the id's first characters and "..."
    std::string Id;       // the whole id, for the tooltip
    std::string Details;
};

// What the queue window does for the presenter. Called on the main thread.
class TQueueView {
public:
    virtual ~TQueueView() = default;
    virtual void ShowSummary(const std::string& text) = 0;
    virtual void ShowRows(const std::vector<TQueueRow>& rows) = 0;
    // A request runs: the buttons that would start another are disabled, the cursor is busy.
    virtual void ShowBusy(bool busy) = 0;
};

class TQueuePresenter {
public:
    TQueuePresenter(TMainLoop& loop, TQueueView& view, TPrompts& prompts, TEgaissConfig cfg);
    // A request still running is left behind; its answer is dropped.
    ~TQueuePresenter();
    TQueuePresenter(const TQueuePresenter&) = delete;
    TQueuePresenter& operator=(const TQueuePresenter&) = delete;

    // Asks the server for the queue; "Agent is not configured" without complete settings.
    void RefreshClicked();
    // Each asks its question and, on Yes, clears those statuses and loads the queue again.
    void ClearQueuedClicked();
    void ClearErrorsClicked();
    void ClearAllClicked();

    bool Busy() const { return FBusy; }

private:
    template <typename TAnswer>
    struct TServerReply;
    struct TQueueStatus;
    struct TClearResult;

    template <typename TAnswer, typename TAsk, typename TShow>
    void AskServer(TAsk ask, TShow show);
    void ShowQueueStatus(const TServerReply<TQueueStatus>& reply);
    void ConfirmAndClear(const std::string& question, const std::vector<std::string>& statuses,
                         const std::string& reason);
    void ShowClearResult(const TServerReply<TClearResult>& reply, const std::string& reason);
    void SetBusy(bool busy);

    TQueueView& FView;
    TPrompts& FPrompts;
    const TEgaissConfig FCfg;
    bool FBusy = false;
    std::shared_ptr<TJobTracker> FJobs;
    TWorkerThreads FWorkers;
};

// The rows the window lists (queued, error and cancelled), in the server's order.
std::vector<TQueueRow> ListedQueueRows(const std::vector<TOutboxStatusRow>& rows);

}  // namespace egaiss
