#include "uSimServer.h"

#include "uSimDownload.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

namespace egaiss::sim {

namespace {

constexpr const char* kRoutePrefix = "egaiss/agent/";
constexpr std::size_t kLogLimit = 10000;  // entries kept per record list

const char* PingKind(const rapidjson::Document& body) {
    if (JsonBool(body, "command_poll").value_or(false)) return "command_poll";
    if (JsonBool(body, "sync_completed").value_or(false)) return "sync_completed";
    if (JsonBool(body, "error_only").value_or(false)) return "error_only";
    if (body.HasMember("utm_diagnosis")) return "diagnosis";
    return "health";
}

}  // namespace

TSimServer::TSimServer(const TServerSettings& settings)
    : FSettings(settings), FFactory(settings.FsrarId, settings.Seed), FSyncNow(settings.SyncNow) {
    for (int i = 0; i < settings.Outbox; ++i)
        QueueLocked(FFactory.NextOutgoing(), {});
}

void TSimServer::Bound(int port) {
    std::lock_guard lock(FLock);
    FPort = port;
}

template <class T>
void TSimServer::Keep(std::vector<T>& list, T item) {
    list.push_back(std::move(item));
    if (list.size() > kLogLimit)
        list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(list.size() / 10));
}

TSimServer::TOutboxDoc& TSimServer::QueueLocked(TEgaisDocument doc, std::string doc_id) {
    TOutboxDoc queued;
    queued.DocId = doc_id.empty() ? std::to_string(FNextDocNumber++) : std::move(doc_id);
    queued.DocType = std::move(doc.Type);
    queued.Xml = std::move(doc.Xml);
    queued.CreatedMs = queued.UpdatedMs = NowMs();
    FOutbox.push_back(std::move(queued));
    return FOutbox.back();
}

TSimServer::TOutboxDoc* TSimServer::FindOutboxLocked(const std::string& doc_id) {
    const auto it = std::find_if(FOutbox.begin(), FOutbox.end(),
                                 [&](const TOutboxDoc& doc) { return doc.DocId == doc_id; });
    return it == FOutbox.end() ? nullptr : &*it;
}

void TSimServer::AddInboxLocked(std::string utm_url, std::string doc_type, std::string xml) {
    FInbox.push_back({FNextInboxId++, std::move(utm_url), std::move(doc_type), std::move(xml), NowMs()});
}

void TSimServer::Handle(const httplib::Request& req, TSimReply& reply) {
    if (const auto route = QueryParam(req, "route")) {
        ServeRoute(req, *route, reply);
        return;
    }
    if (const auto relative = DownloadRelativeName(req.path);
        relative && (req.method == "GET" || req.method == "HEAD")) {
        ServeDownload(*relative, reply);
        return;
    }
    reply.JsonError(404, "no route given: expected ?route=egaiss/agent/... or a path under download/");
}

void TSimServer::ServeRoute(const httplib::Request& req, const std::string& route, TSimReply& reply) {
    {
        std::lock_guard lock(FLock);
        const bool id_ok = req.get_header_value("X-Egaiss-Agent-Id") == FSettings.AgentId;
        const bool secret_ok = req.get_header_value("X-Egaiss-Agent-Secret") == FSettings.Secret;
        if (!id_ok || !secret_ok) {
            ++FUnauthorized;
            reply.JsonError(401, "Invalid agent credentials");
            reply.Note = !id_ok ? "unknown agent id" : "wrong secret";
            return;
        }
    }
    const bool get = req.method == "GET" || req.method == "HEAD";
    const bool post = req.method == "POST";
    const auto wrong_method = [&](const char* allowed) {
        reply.JsonError(405, std::string("method not allowed; use ") + allowed);
        reply.Headers.emplace_back("Allow", allowed);
    };
    rapidjson::Document body;
    if (post && !ParseJsonObject(req.body, body)) {
        reply.JsonError(400, "the body must be a JSON object");
        return;
    }
    if (route == "egaiss/agent/ping") {
        post ? ServePing(body, reply) : wrong_method("POST");
    } else if (route == "egaiss/agent/inbox/known") {
        get ? ServeKnown(reply) : wrong_method("GET");
    } else if (route == "egaiss/agent/inbox") {
        post ? ServePushInbox(body, reply) : wrong_method("POST");
    } else if (route == "egaiss/agent/outbox") {
        get ? ServeOutbox(reply) : wrong_method("GET");
    } else if (route == "egaiss/agent/outbox/status") {
        get ? ServeOutboxStatus(reply) : wrong_method("GET");
    } else if (route == "egaiss/agent/outbox/clear") {
        post ? ServeClear(body, reply) : wrong_method("POST");
    } else if (const std::string prefix = std::string(kRoutePrefix) + "outbox/";
               route.starts_with(prefix) && (route.ends_with("/sent") || route.ends_with("/error"))) {
        const bool sent = route.ends_with("/sent");
        const std::size_t tail = sent ? 5 : 6;
        if (route.size() <= prefix.size() + tail) {
            reply.JsonError(404, "no document id in route: " + route);
        } else if (!post) {
            wrong_method("POST");
        } else {
            ServeMark(route.substr(prefix.size(), route.size() - prefix.size() - tail),
                      sent ? "sent" : "error", body, reply);
        }
    } else {
        reply.JsonError(404, "unknown route: " + route);
    }
}

void TSimServer::ServePing(const rapidjson::Document& body, TSimReply& reply) {
    std::lock_guard lock(FLock);
    TPing ping;
    ping.Kind = PingKind(body);
    ping.Body = JsonValueText(body);
    ping.AtMs = NowMs();
    ++FPingCount;
    if (ping.Kind == std::string("command_poll")) {
        ping.SyncNow = FSyncNow;
        if (FSyncNow) ++FSyncNowServed;
        FSyncNow = false;
        reply.Json(200, std::string("{\"ok\":true,\"sync_now\":") + (ping.SyncNow ? "true" : "false") + "}");
        reply.Note = std::string("command poll, sync_now=") + (ping.SyncNow ? "true" : "false");
    } else {
        reply.Json(200, "{\"ok\":true}");
        reply.Note = ping.Kind;
        if (const auto error = JsonText(body, "last_error"); error && !error->empty()) {
            reply.Note += ": " + *error;
        }
    }
    Keep(FPings, std::move(ping));
}

void TSimServer::ServeKnown(TSimReply& reply) {
    std::lock_guard lock(FLock);
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("utm_urls");
    writer.StartArray();
    for (const TInboxDoc& doc : FInbox)
        WriteText(writer, doc.UtmUrl);
    writer.EndArray();
    writer.EndObject();
    reply.Json(200, buffer.GetString());
    reply.Note = std::to_string(FInbox.size()) + " known";
}

void TSimServer::ServePushInbox(const rapidjson::Document& body, TSimReply& reply) {
    const std::string utm_url = JsonText(body, "utm_url").value_or("");
    if (utm_url.empty()) {
        reply.JsonError(400, "\"utm_url\" is required");
        return;
    }
    std::lock_guard lock(FLock);
    const auto known = std::find_if(FInbox.begin(), FInbox.end(),
                                    [&](const TInboxDoc& doc) { return doc.UtmUrl == utm_url; });
    if (known != FInbox.end()) {
        ++FDuplicates;
        reply.Json(200, "{\"ok\":true,\"duplicate\":true,\"id\":" + std::to_string(known->Id) + "}");
        reply.Note = "duplicate " + utm_url;
        return;
    }
    AddInboxLocked(utm_url, JsonText(body, "doc_type").value_or(""), JsonText(body, "xml").value_or(""));
    reply.Json(200, "{\"ok\":true,\"duplicate\":false,\"id\":" + std::to_string(FInbox.back().Id) + "}");
    reply.Note = "stored " + FInbox.back().DocType + " " + utm_url;
}

void TSimServer::ServeOutbox(TSimReply& reply) {
    std::lock_guard lock(FLock);
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("documents");
    writer.StartArray();
    int count = 0;
    for (TOutboxDoc& doc : FOutbox) {
        if (doc.Status != "queued") continue;
        ++doc.Offered;
        ++count;
        writer.StartObject();
        WriteMember(writer, "doc_id", doc.DocId);
        WriteMember(writer, "doc_type", doc.DocType);
        WriteMember(writer, "xml", doc.Xml);
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    reply.Json(200, buffer.GetString());
    reply.Note = std::to_string(count) + " queued";
}

void TSimServer::ServeOutboxStatus(TSimReply& reply) {
    std::lock_guard lock(FLock);
    std::int64_t queued = 0;
    std::int64_t sent = 0;
    std::int64_t failed = 0;
    std::int64_t cancelled = 0;
    for (const TOutboxDoc& doc : FOutbox) {
        queued += doc.Status == "queued";
        sent += doc.Status == "sent";
        failed += doc.Status == "error";
        cancelled += doc.Status == "cancelled";
    }
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("counts");
    writer.StartObject();
    WriteMember(writer, "queued", queued);
    WriteMember(writer, "sent", sent);
    WriteMember(writer, "error", failed);
    WriteMember(writer, "cancelled", cancelled);
    WriteMember(writer, "total", static_cast<std::int64_t>(FOutbox.size()));
    writer.EndObject();
    WriteObjectArray(writer, "documents", FOutbox, [&](const TOutboxDoc& doc) {
        WriteMember(writer, "doc_id", doc.DocId);
        WriteMember(writer, "doc_type", doc.DocType);
        WriteMember(writer, "status", doc.Status);
        WriteMember(writer, "created_at", doc.CreatedMs / 1000);
        WriteMember(writer, "updated_at", doc.UpdatedMs / 1000);
        writer.Key("error");
        if (doc.ErrorText.empty()) {
            writer.Null();
        } else {
            WriteText(writer, doc.ErrorText);
        }
    });
    writer.EndObject();
    reply.Json(200, buffer.GetString());
    reply.Note = "queued=" + std::to_string(queued) + " error=" + std::to_string(failed);
}

void TSimServer::ServeClear(const rapidjson::Document& body, TSimReply& reply) {
    TClear clear;
    if (body.HasMember("statuses") && body["statuses"].IsArray()) {
        for (const auto& status : body["statuses"].GetArray()) {
            if (status.IsString()) clear.Statuses.emplace_back(status.GetString(), status.GetStringLength());
        }
    } else {
        // Without a list the queue window means what is still pending or failed.
        clear.Statuses = {"queued", "error"};
    }
    clear.Reason = JsonText(body, "reason").value_or("");
    clear.AtMs = NowMs();
    const std::set<std::string> statuses(clear.Statuses.begin(), clear.Statuses.end());
    std::lock_guard lock(FLock);
    for (TOutboxDoc& doc : FOutbox) {
        if (doc.Status == "cancelled" || statuses.count(doc.Status) == 0) continue;
        doc.Status = "cancelled";
        doc.Reason = clear.Reason;
        doc.UpdatedMs = clear.AtMs;
        ++clear.Cleared;
    }
    reply.Json(200, "{\"ok\":true,\"cleared\":" + std::to_string(clear.Cleared) + "}");
    reply.Note = "cleared " + std::to_string(clear.Cleared);
    Keep(FClears, std::move(clear));
}

void TSimServer::ServeMark(const std::string& doc_id, const std::string& kind,
                           const rapidjson::Document& body, TSimReply& reply) {
    std::lock_guard lock(FLock);
    TOutboxDoc* doc = FindOutboxLocked(doc_id);
    if (doc == nullptr) {
        reply.JsonError(404, "unknown outbox document: " + doc_id);
        return;
    }
    TMark mark;
    mark.DocId = doc_id;
    mark.Kind = kind;
    mark.AtMs = NowMs();
    if (kind == "sent") {
        mark.UtmUrl = JsonText(body, "utm_url").value_or("");
        mark.UtmResponse = JsonText(body, "utm_response").value_or("");
        doc->UtmUrl = mark.UtmUrl;
        doc->UtmResponse = mark.UtmResponse;
        doc->ErrorText.clear();
    } else {
        mark.ErrorText = JsonText(body, "error").value_or("");
        doc->ErrorText = mark.ErrorText;
    }
    reply.Note = doc->Status == "queued" ? "" : "was " + doc->Status + ", ";
    reply.Note += kind + " " + doc_id;
    doc->Status = kind;
    doc->UpdatedMs = mark.AtMs;
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    WriteMember(writer, "ok", true);
    WriteMember(writer, "doc_id", doc_id);
    WriteMember(writer, "status", kind);
    writer.EndObject();
    reply.Json(200, buffer.GetString());
    Keep(FMarks, std::move(mark));
}

void TSimServer::ServeDownload(const std::string& relative, TSimReply& reply) {
    std::string folder;
    {
        std::lock_guard lock(FLock);
        folder = FSettings.DownloadDir;
    }
    TDownload download{relative, 404, 0, NowMs()};
    std::string why = "no download folder configured";
    auto file = folder.empty() ? std::nullopt : ResolveDownload(folder, relative, why);
    std::string content;
    if (file) {
        std::ifstream in(*file, std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.is_open() || in.bad()) {
            file.reset();
            why = "cannot read the file";
        }
    }
    if (file) {
        download.Status = 200;
        download.Size = static_cast<std::int64_t>(content.size());
        reply.Status = 200;
        reply.ContentType = DownloadContentType(relative);
        reply.Body = std::move(content);
    } else {
        reply.JsonError(404, "not found: " + why);
        reply.Note = why;
    }
    std::lock_guard lock(FLock);
    Keep(FDownloads, std::move(download));
}

void TSimServer::FailureReply(int status, TSimReply& reply) const {
    reply.JsonError(status, "Simulated server failure");
}

}  // namespace egaiss::sim
