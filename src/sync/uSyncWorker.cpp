#include "sync/uSyncWorker.h"

#include <vector>

#include "clients/uUtmApi.h"
#include "clients/uVelmoraApi.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "core/uVersion.h"
#include "core/uXmlCompleteness.h"
#include "platform/uErrors.h"

namespace egaiss {
namespace {

// Raised with a message that names the failed step for the status line; the cause is logged first.
class ESyncStepError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "ESyncStepError"; }
};

// An outbox document that is not whole; it must not reach EGAIS cut off.
class EIncompleteDocumentError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "EIncompleteDocumentError"; }
};

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
    return text;
}

struct TSyncCounts {
    int In = 0;
    int Skipped = 0;
    int InIncomplete = 0;
    int OutOk = 0;
    int OutFail = 0;
    std::string LastError;  // of the last document that failed (outgoing ones come last); else empty
};

// Runs `step`; when it raises, logs the exception under `context` and raises `wrapPrefix` + message
// instead (or the same exception when there is no prefix).
template <typename TStep>
auto Guarded(const char* context, const char* wrapPrefix, TStep step) {
    try {
        return step();
    } catch (const std::exception& error) {
        LogException(context, error);
        if (wrapPrefix == nullptr) throw;
        throw ESyncStepError(wrapPrefix + std::string(error.what()));
    }
}

void SyncIncoming(TUtmApi& utm, TVelmoraApi& api, TSyncCounts& counts) {
    LogStep("Sync.known_inbox", "GET egaiss/agent/inbox/known");
    LogInfo("Server: load known inbox URLs");
    const TKnownInboxURLs known = Guarded("Sync.known_inbox", nullptr, [&] { return api.KnownInboxURLs(); });
    LogInfo("Server: known inbox=" + std::to_string(known.size()));

    LogStep("Sync.utm_list_out", "/opt/out?refresh=true");
    LogInfo("UTM GET /opt/out?refresh=true");
    const std::vector<std::string> urls =
        Guarded("Sync.utm_list_out", "GET /opt/out: ", [&] { return utm.ListOutURLs(); });
    LogInfo("UTM /opt/out -> " + std::to_string(urls.size()) + " url(s)");

    for (const std::string& url : urls) {
        if (known.count(url) != 0) {
            ++counts.Skipped;
            LogInfo("IN skip (already known): " + FlattenForLog(url, 120));
            continue;
        }
        LogStep("Sync.in_fetch", FlattenForLog(url, 160));
        LogInfo("IN fetch: " + FlattenForLog(url, 160));
        const std::string xml =
            Guarded("Sync.in_fetch", "GET документ из УТМ: ", [&] { return utm.FetchDocument(url); });
        const std::string docType = TUtmApi::GuessDocType(url, xml);
        const std::string docId = UrlLastSegment(url);
        LogInfo("IN got type=" + docType + " id=" + docId + " bytes=" + std::to_string(TextLength(xml)));
        // A cut-off body that the HTTP layer took for whole stays in the UTM for the next cycle.
        if (const auto reason = IncompleteXmlReason(xml)) {
            ++counts.InIncomplete;
            counts.LastError = "Incomplete document " + url + ": " + *reason;
            LogError("IN incomplete, left in the UTM: " + FlattenForLog(url, 160) + ": " + *reason);
            continue;
        }

        LogStep("Sync.in_push", docType + " " + docId);
        bool duplicate = false;
        Guarded("Sync.in_push", nullptr, [&] { return api.PushInbox(url, docType, xml, duplicate); });
        if (duplicate) {
            LogIn(docType, docId + " (dup, not deleted from UTM yet)");
        } else {
            LogIn(docType, docId + " -> server");
            ++counts.In;
        }
        // The server holds the document now (new or duplicate), so the UTM's copy may go.
        LogStep("Sync.in_delete", FlattenForLog(url, 160));
        LogInfo("IN DELETE " + FlattenForLog(url, 160));
        Guarded("Sync.in_delete", nullptr, [&] { utm.DeleteDocument(url); });
    }
    if (counts.Skipped >= 1) LogInfo("IN skipped known=" + std::to_string(counts.Skipped));
}

void SendOutgoingDocument(TUtmApi& utm, TVelmoraApi& api, const TOutboxDoc& doc, TSyncCounts& counts) {
    try {
        LogStep("Sync.out_send", doc.DocType + " id=" + doc.DocID);
        LogInfo("OUT -> UTM POST /opt/in/" + doc.DocType + " id=" + doc.DocID +
                " xml_bytes=" + std::to_string(TextLength(doc.XML)));
        if (const auto reason = IncompleteXmlReason(doc.XML))
            throw EIncompleteDocumentError("Incomplete document: " + *reason);
        std::string utmURL;
        std::string utmResponse;
        if (!utm.SendDocument(doc.DocType, doc.XML, utmURL, utmResponse)) {
            throw EUtmError("UTM error: " + doc.DocType);
        }
        LogInfo("OUT <- UTM: " + FlattenForLog(utmResponse, 220));
        LogStep("Sync.out_mark_sent", doc.DocID);
        api.MarkSent(doc.DocID, utmURL, utmResponse);
        LogOut(doc.DocType, doc.DocID, "sent " + FlattenForLog(utmURL, 120));
        ++counts.OutOk;
    } catch (const std::exception& error) {
        ++counts.OutFail;
        counts.LastError = doc.DocType + ": " + error.what();
        LogException("Sync.out_item " + doc.DocType + " " + doc.DocID, error);
        LogOut(doc.DocType, doc.DocID, "error: " + FlattenForLog(error.what(), 180));
        try {
            api.MarkError(doc.DocID, counts.LastError);
        } catch (const std::exception& markError) {
            LogException("Sync.out_mark_error", markError);
        }
    }
}

void SyncOutgoing(TUtmApi& utm, TVelmoraApi& api, TSyncCounts& counts) {
    LogStep("Sync.outbox_get", "GET egaiss/agent/outbox");
    LogInfo("Server: GET outbox (queued)");
    Guarded("Sync.outbox_get", nullptr, [&] {
        std::vector<TOutboxDoc> docs;
        if (!api.FetchOutbox(docs)) {
            LogInfo("Server outbox: empty or parse failed");
            return;
        }
        LogInfo("Server outbox queued=" + std::to_string(docs.size()));
        for (const TOutboxDoc& doc : docs)
            SendOutgoingDocument(utm, api, doc, counts);
    });
}

}  // namespace

std::string FlattenForLog(const std::string& text, std::size_t maxLen) {
    std::string flat = ReplaceAll(ReplaceAll(ReplaceAll(text, "\r\n", " "), "\n", " "), "\r", " ");
    flat = TrimControl(flat);
    if (TextLength(flat) > maxLen) flat = TextLeft(flat, maxLen) + "...";
    return flat;
}

std::string UrlLastSegment(const std::string& url) {
    std::string trimmed = url;
    while (!trimmed.empty() && trimmed.back() == '/')
        trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    const std::string segment = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    return segment.empty() ? url : segment;
}

void ReportSyncError(TVelmoraApi& api, const std::string& version, const std::string& text) {
    LogStep("ReportSyncError", FlattenForLog(text, 180));
    try {
        api.PingErrorOnly(version, text);
    } catch (const std::exception& error) {
        LogException("ReportSyncError ping", error);
    }
}

void ReportSyncSuccess(TVelmoraApi& api, const std::string& version) {
    LogStep("ReportSyncSuccess");
    try {
        api.PingSyncCompleted(version);
    } catch (const std::exception& error) {
        LogException("ReportSyncSuccess ping", error);
    }
}

void RunSyncCycle(const TEgaissConfig& cfg, bool& ok, std::string& msg) {
    ok = false;
    msg.clear();
    const std::string utmBase = cfg.UtmBaseURL();
    LogStep("Sync.begin", "utm=" + utmBase + " server=" + cfg.ServerURL);
    TVelmoraApi api(cfg);
    TUtmApi utm(utmBase);
    try {
        LogInfo("Sync start -> UTM " + utmBase);
        LogStep("Sync.utm_ping", utmBase);
        if (!utm.Ping()) {
            msg = "UTM unavailable: " + utmBase;
            LogError("UTM ping FAILED: " + msg);
            ReportSyncError(api, AgentVersion, msg);
            return;
        }
        LogInfo("UTM ping OK");

        TSyncCounts counts;
        SyncIncoming(utm, api, counts);
        SyncOutgoing(utm, api, counts);

        if (counts.OutFail > 0 || counts.InIncomplete > 0) {
            msg = counts.LastError;
            LogInfo("Sync DONE with errors in=" + std::to_string(counts.In) + " out_ok=" +
                    std::to_string(counts.OutOk) + " out_fail=" + std::to_string(counts.OutFail) +
                    " in_incomplete=" + std::to_string(counts.InIncomplete));
            ReportSyncError(api, AgentVersion, counts.LastError);
        } else {
            ok = true;
            msg = "Sync finished";
            LogInfo("Sync OK in=" + std::to_string(counts.In) + " out=" + std::to_string(counts.OutOk));
            ReportSyncSuccess(api, AgentVersion);
        }
        LogStep("Sync.end", msg);
    } catch (const std::exception& error) {
        msg = error.what();
        LogException("Sync FAILED", error);
        LogError("Sync FAILED: " + ExceptionClassName(error) + ": " + msg);
        try {
            ReportSyncError(api, AgentVersion, msg);
        } catch (const std::exception& reportError) {
            LogException("Report sync error failed", reportError);
        }
    }
}

}  // namespace egaiss
