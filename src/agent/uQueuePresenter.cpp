#include "agent/uQueuePresenter.h"

#include <optional>

#include "agent/uAgentStatus.h"
#include "agent/uJobTracker.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"

namespace egaiss {
namespace {

constexpr std::size_t ShownIdLength = 12;

bool IsListedStatus(const std::string& status) {
    const std::string lower = LowerAscii(status);
    return lower == "queued" || lower == "error" || lower == "cancelled";
}

}  // namespace

template <typename TAnswer>
struct TQueuePresenter::TServerReply {
    TAnswer Answer;
    std::optional<std::string> Failure;  // the message of an exception
};

struct TQueuePresenter::TQueueStatus {
    bool Answered = false;  // the answer was a JSON object
    std::vector<TOutboxStatusRow> Rows;
    int Queued = 0;
    int Errors = 0;
};

struct TQueuePresenter::TClearResult {
    bool Answered = false;
    int Cleared = 0;
};

std::vector<TQueueRow> ListedQueueRows(const std::vector<TOutboxStatusRow>& rows) {
    std::vector<TQueueRow> listed;
    for (const TOutboxStatusRow& row : rows) {
        if (!IsListedStatus(row.Status)) continue;
        listed.push_back(
            {row.Status, row.DocType, TextLeft(row.DocID, ShownIdLength) + "...", row.DocID, row.ErrorText});
    }
    return listed;
}

TQueuePresenter::TQueuePresenter(TMainLoop& loop, TQueueView& view, TPrompts& prompts, TEgaissConfig cfg)
    : FView(view), FPrompts(prompts), FCfg(std::move(cfg)), FJobs(std::make_shared<TJobTracker>(loop)) {}

TQueuePresenter::~TQueuePresenter() {
    FJobs->Detach();
}

void TQueuePresenter::SetBusy(bool busy) {
    FBusy = busy;
    FView.ShowBusy(busy);
}

// Runs `ask` with a client of its own on a worker thread; `show` gets the reply on the main
// thread, and not at all when the window has closed meanwhile.
template <typename TAnswer, typename TAsk, typename TShow>
void TQueuePresenter::AskServer(TAsk ask, TShow show) {
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

void TQueuePresenter::RefreshClicked() {
    if (FBusy) return;
    if (!FCfg.IsComplete()) {
        FView.ShowSummary("Agent is not configured");
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

void TQueuePresenter::ShowQueueStatus(const TServerReply<TQueueStatus>& reply) {
    if (reply.Failure) {
        FView.ShowSummary("Failed to load queue - " + *reply.Failure);
        LogError("Queue load: " + *reply.Failure);
        return;
    }
    const TQueueStatus& status = reply.Answer;
    if (!status.Answered) {
        FView.ShowSummary("Failed to load queue");
        return;
    }
    const std::string total = std::to_string(status.Rows.size());
    FView.ShowSummary("Queued: " + std::to_string(status.Queued) +
                      "  /  Errors: " + std::to_string(status.Errors) + "  /  Total: " + total);
    FView.ShowRows(ListedQueueRows(status.Rows));
    LogInfo("Queue window: queued=" + std::to_string(status.Queued) +
            " error=" + std::to_string(status.Errors) + " listed=" + total);
}

void TQueuePresenter::ClearQueuedClicked() {
    ConfirmAndClear("Clear all documents with status \"queued\"?\nThey will not be sent to UTM.", {"queued"},
                    "Cleared \"queued\" from agent window");
}

void TQueuePresenter::ClearErrorsClicked() {
    ConfirmAndClear("Clear all documents with status \"error\"?", {"error"},
                    "Cleared \"error\" from agent window");
}

void TQueuePresenter::ClearAllClicked() {
    ConfirmAndClear("Clear \"queued\" and \"error\"?", {"queued", "error"},
                    "Cleared queue from agent window");
}

void TQueuePresenter::ConfirmAndClear(const std::string& question, const std::vector<std::string>& statuses,
                                      const std::string& reason) {
    if (FBusy || !FPrompts.Confirm(AppTitle(), question) || !FCfg.IsComplete()) return;
    AskServer<TClearResult>(
        [statuses, reason](TVelmoraApi& api) {
            TClearResult result;
            result.Answered = api.ClearOutbox(statuses, reason, result.Cleared);
            return result;
        },
        [this, reason](const TServerReply<TClearResult>& reply) { ShowClearResult(reply, reason); });
}

void TQueuePresenter::ShowClearResult(const TServerReply<TClearResult>& reply, const std::string& reason) {
    if (reply.Failure) {
        LogError("Queue clear: " + *reply.Failure);
        FPrompts.Message(TMessageKind::mkError, AppTitle(), "Failed to clear queue\n" + *reply.Failure);
        return;
    }
    if (!reply.Answer.Answered) {
        FPrompts.Message(TMessageKind::mkError, AppTitle(), "Failed to clear queue");
        return;
    }
    const int cleared = reply.Answer.Cleared;
    LogInfo("Queue clear: " + std::to_string(cleared) + " doc(s) -> cancelled (" + reason + ")");
    FPrompts.Message(TMessageKind::mkInformation, AppTitle(),
                     "Cleared documents: " + std::to_string(cleared));
    RefreshClicked();
}

}  // namespace egaiss
