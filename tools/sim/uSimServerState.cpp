// The server simulator's control routes and its /sim/state report.
#include "uSimServer.h"

#include "uSimControl.h"

#include <utility>

namespace egaiss::sim {

bool TSimServer::HandleControl(const httplib::Request& req, TSimReply& reply) {
    if (req.path == "/sim/outbox" && req.method == "POST") {
        ServeAddOutbox(req, reply);
    } else if (req.path == "/sim/outbox" && req.method == "DELETE") {
        std::lock_guard lock(FLock);
        const std::size_t removed = FOutbox.size();
        FOutbox.clear();
        reply.Json(200, "{\"removed\":" + std::to_string(removed) + "}");
    } else if (req.path == "/sim/inbox" && req.method == "POST") {
        ServeAddInbox(req, reply);
    } else if (req.path == "/sim/sync-now" && req.method == "POST") {
        ServeSyncNow(req, reply);
    } else if (req.path == "/sim/config" && (req.method == "GET" || req.method == "POST")) {
        ServeConfig(req, reply);
    } else {
        return false;
    }
    return true;
}

void TSimServer::ServeAddOutbox(const httplib::Request& req, TSimReply& reply) {
    rapidjson::Document body;
    if (!ReadBodyObject(req, body, reply)) return;
    const std::optional<TAddRequest> add = ReadAddRequest(body, "doc_type", reply);
    if (!add) return;
    const auto doc_id = JsonText(body, "doc_id");
    if (doc_id && (doc_id->empty() || add->Count != 1)) {
        reply.JsonError(400, "a \"doc_id\" must not be empty and comes with a \"count\" of 1");
        return;
    }
    std::lock_guard lock(FLock);
    if (doc_id && FindOutboxLocked(*doc_id) != nullptr) {
        reply.JsonError(409, "outbox document exists: " + *doc_id);
        return;
    }
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("added");
    writer.StartArray();
    for (std::int64_t i = 0; i < add->Count; ++i) {
        TEgaisDocument doc = add->Xml    ? TEgaisDocument{*add->Type, *add->Xml}
                             : add->Type ? FFactory.Outgoing(*add->Type)
                                         : FFactory.NextOutgoing();
        const TOutboxDoc& queued = QueueLocked(std::move(doc), doc_id.value_or(""));
        writer.StartObject();
        WriteMember(writer, "doc_id", queued.DocId);
        WriteMember(writer, "doc_type", queued.DocType);
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    reply.Json(200, buffer.GetString());
    reply.Note = "queued " + std::to_string(add->Count);
}

void TSimServer::ServeAddInbox(const httplib::Request& req, TSimReply& reply) {
    rapidjson::Document body;
    if (!ReadBodyObject(req, body, reply)) return;
    std::lock_guard lock(FLock);
    int added = 0;
    if (const auto url = JsonText(body, "utm_url"); url && !url->empty()) {
        AddInboxLocked(*url, JsonText(body, "doc_type").value_or(""), JsonText(body, "xml").value_or(""));
        ++added;
    }
    if (body.HasMember("utm_urls") && body["utm_urls"].IsArray()) {
        for (const auto& url : body["utm_urls"].GetArray()) {
            if (!url.IsString() || url.GetStringLength() == 0) continue;
            AddInboxLocked(std::string(url.GetString(), url.GetStringLength()), "", "");
            ++added;
        }
    }
    if (added == 0) {
        reply.JsonError(400, "give \"utm_url\" or an array \"utm_urls\"");
        return;
    }
    reply.Json(200, "{\"added\":" + std::to_string(added) + "}");
}

void TSimServer::ServeSyncNow(const httplib::Request& req, TSimReply& reply) {
    rapidjson::Document body;
    if (!ReadBodyObject(req, body, reply)) return;
    std::lock_guard lock(FLock);
    FSyncNow = JsonBool(body, "sync_now").value_or(true);
    reply.Json(200, std::string("{\"sync_now\":") + (FSyncNow ? "true" : "false") + "}");
}

void TSimServer::ServeConfig(const httplib::Request& req, TSimReply& reply) {
    rapidjson::Document body;
    if (!ReadBodyObject(req, body, reply)) return;
    std::lock_guard lock(FLock);
    if (const auto id = JsonText(body, "agent_id")) FSettings.AgentId = *id;
    if (const auto secret = JsonText(body, "secret")) FSettings.Secret = *secret;
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    WriteMember(writer, "agent_id", FSettings.AgentId);
    WriteMember(writer, "secret", FSettings.Secret);
    WriteMember(writer, "download_dir", FSettings.DownloadDir);
    writer.EndObject();
    reply.Json(200, buffer.GetString());
}

void TSimServer::Reset() {
    std::lock_guard lock(FLock);
    FInbox.clear();
    FOutbox.clear();
    FMarks.clear();
    FPings.clear();
    FClears.clear();
    FDownloads.clear();
    FDuplicates = FUnauthorized = FPingCount = FSyncNowServed = 0;
    FSyncNow = false;
}

void TSimServer::WriteState(TJsonWriter& writer) {
    std::lock_guard lock(FLock);
    WriteMember(writer, "agent_id", FSettings.AgentId);
    WriteMember(writer, "download_dir", FSettings.DownloadDir);
    WriteMember(writer, "sync_now", FSyncNow);
    WriteMember(writer, "sync_now_served", FSyncNowServed);
    WriteMember(writer, "unauthorized", FUnauthorized);
    WriteMember(writer, "duplicates", FDuplicates);
    WriteObjectArray(writer, "inbox", FInbox, [&](const TInboxDoc& doc) {
        WriteMember(writer, "id", doc.Id);
        WriteMember(writer, "utm_url", doc.UtmUrl);
        WriteMember(writer, "doc_type", doc.DocType);
        WriteMember(writer, "at_ms", doc.AtMs);
        WriteMember(writer, "xml", doc.Xml);
    });
    WriteObjectArray(writer, "outbox", FOutbox, [&](const TOutboxDoc& doc) {
        WriteMember(writer, "doc_id", doc.DocId);
        WriteMember(writer, "doc_type", doc.DocType);
        WriteMember(writer, "status", doc.Status);
        WriteMember(writer, "error", doc.ErrorText);
        WriteMember(writer, "utm_url", doc.UtmUrl);
        WriteMember(writer, "utm_response", doc.UtmResponse);
        WriteMember(writer, "reason", doc.Reason);
        WriteMember(writer, "offered", doc.Offered);
        WriteMember(writer, "created_at_ms", doc.CreatedMs);
        WriteMember(writer, "updated_at_ms", doc.UpdatedMs);
        WriteMember(writer, "xml", doc.Xml);
    });
    WriteObjectArray(writer, "marks", FMarks, [&](const TMark& mark) {
        WriteMember(writer, "doc_id", mark.DocId);
        WriteMember(writer, "kind", mark.Kind);
        WriteMember(writer, "utm_url", mark.UtmUrl);
        WriteMember(writer, "utm_response", mark.UtmResponse);
        WriteMember(writer, "error", mark.ErrorText);
        WriteMember(writer, "at_ms", mark.AtMs);
    });
    WriteMember(writer, "ping_count", FPingCount);
    WriteObjectArray(writer, "pings", FPings, [&](const TPing& ping) {
        WriteMember(writer, "kind", ping.Kind);
        WriteMember(writer, "at_ms", ping.AtMs);
        WriteMember(writer, "sync_now", ping.SyncNow);
        WriteRawMember(writer, "body", ping.Body);
    });
    WriteObjectArray(writer, "clears", FClears, [&](const TClear& clear) {
        writer.Key("statuses");
        writer.StartArray();
        for (const std::string& status : clear.Statuses)
            WriteText(writer, status);
        writer.EndArray();
        WriteMember(writer, "reason", clear.Reason);
        WriteMember(writer, "cleared", clear.Cleared);
        WriteMember(writer, "at_ms", clear.AtMs);
    });
    writer.Key("counts");
    writer.StartObject();
    WriteMember(writer, "inbox", static_cast<std::int64_t>(FInbox.size()));
    WriteMember(writer, "outbox", static_cast<std::int64_t>(FOutbox.size()));
    for (const char* status : {"queued", "sent", "error", "cancelled"}) {
        std::int64_t count = 0;
        for (const TOutboxDoc& doc : FOutbox)
            count += doc.Status == status;
        WriteMember(writer, status, count);
    }
    WriteMember(writer, "marks", static_cast<std::int64_t>(FMarks.size()));
    WriteMember(writer, "pings", FPingCount);
    writer.EndObject();
    WriteObjectArray(writer, "downloads", FDownloads, [&](const TDownload& download) {
        WriteMember(writer, "name", download.Name);
        WriteMember(writer, "status", download.Status);
        WriteMember(writer, "size", download.Size);
        WriteMember(writer, "at_ms", download.AtMs);
    });
}

}  // namespace egaiss::sim
