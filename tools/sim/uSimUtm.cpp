#include "uSimUtm.h"

#include "uSimControl.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace egaiss::sim {

namespace {

constexpr const char* kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

bool IsDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "/opt/out/WayBill_v4/17" (a trailing "/" tolerated) into its type and id; false for anything else.
bool SplitDocPath(const std::string& path, const std::string& side, std::string& type, std::int64_t& id) {
    const std::string prefix = "/opt/" + side + "/";
    if (path.rfind(prefix, 0) != 0) return false;
    std::string rest = path.substr(prefix.size());
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const auto slash = rest.find('/');
    if (slash == std::string::npos) return false;
    type = rest.substr(0, slash);
    const std::string number = rest.substr(slash + 1);
    if (!IsDocumentTypeName(type) || !IsDigits(number) || number.size() > 15) return false;
    id = std::stoll(number);
    return true;
}

bool LooksLikeXml(const std::string& text) {
    std::size_t pos = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (pos < text.size() &&
           (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n')) {
        ++pos;
    }
    return pos < text.size() && text[pos] == '<';
}

}  // namespace

std::string UtmErrorXml(const std::string& message) {
    return std::string(kXmlDeclaration) + "<A><error>" + XmlEscape(message) + "</error><ver>2</ver></A>";
}

TSimUtm::TSimUtm(const TUtmSettings& settings)
    : FSettings(settings), FFactory(settings.FsrarId, settings.Seed) {
    for (int i = 0; i < settings.Docs; ++i)
        AddLocked(FFactory.NextIncoming(), FFactory.Guid());
}

TSimUtm::~TSimUtm() {
    Stop();
}

void TSimUtm::Bound(int port) {
    std::lock_guard lock(FLock);
    FPort = port;
}

std::string TSimUtm::BaseUrl() const {
    return std::string("http://") + kLoopbackHost + ":" + std::to_string(FPort);
}

std::string TSimUtm::OutUrl(const THeldDoc& doc) const {
    return BaseUrl() + "/opt/out/" + doc.Type + "/" + std::to_string(doc.Id);
}

const TSimUtm::THeldDoc& TSimUtm::AddLocked(TEgaisDocument doc, std::string reply_id) {
    THeldDoc held;
    held.Id = FNextId++;
    held.Type = std::move(doc.Type);
    held.Xml = std::move(doc.Xml);
    held.ReplyId = std::move(reply_id);
    held.AddedMs = NowMs();
    FHeld.push_back(std::move(held));
    return FHeld.back();
}

TSimUtm::THeldDoc* TSimUtm::FindHeldLocked(const std::string& path) {
    std::string type;
    std::int64_t id = 0;
    if (!SplitDocPath(path, "out", type, id)) return nullptr;
    const auto it = std::find_if(FHeld.begin(), FHeld.end(),
                                 [&](const THeldDoc& doc) { return doc.Id == id && doc.Type == type; });
    return it == FHeld.end() ? nullptr : &*it;
}

void TSimUtm::Handle(const httplib::Request& req, TSimReply& reply) {
    const std::string& path = req.path;
    if (req.method == "GET" || req.method == "HEAD") {
        if (path == "/") {
            std::lock_guard lock(FLock);
            reply.Status = 200;
            reply.ContentType = "text/html; charset=utf-8";
            reply.Body =
                "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>УТМ</title></head><body>\n"
                "<h1>Универсальный транспортный модуль</h1>\n<p>Версия: " +
                XmlEscape(FSettings.Version) +
                "</p>\n<p>Документов в очереди: " + std::to_string(FHeld.size()) + "</p>\n</body></html>\n";
            return;
        }
        if (path == "/info/version" || path == "/api/info/version" || path == "/info/") {
            ServeVersion(req, reply);
            return;
        }
        if (path == "/diagnosis") {
            ServeDiagnosis(reply);
            return;
        }
        if (path == "/opt/out" || path == "/opt/out/") {
            ServeOutList(reply);
            return;
        }
        if (path == "/opt/in" || path == "/opt/in/") {
            ServeInList(reply);
            return;
        }
        if (path.rfind("/opt/out/", 0) == 0) {
            ServeOutDocument(req, reply);
            return;
        }
        if (path.rfind("/opt/in/", 0) == 0) {
            ServeInDocument(req, reply);
            return;
        }
    } else if (req.method == "DELETE" && path.rfind("/opt/out/", 0) == 0) {
        ServeOutDocument(req, reply);
        return;
    } else if (req.method == "POST" && path.rfind("/opt/in/", 0) == 0) {
        ServeUpload(req, reply);
        return;
    }
    reply.Xml(404, UtmErrorXml("Not found: " + req.method + " " + path));
}

void TSimUtm::ServeVersion(const httplib::Request& req, TSimReply& reply) {
    std::lock_guard lock(FLock);
    if (FSettings.Version.empty() || req.path != FSettings.VersionPath) {
        reply.Text(404, "Not found\n");
        return;
    }
    reply.Text(200, FSettings.Version);
}

void TSimUtm::ServeDiagnosis(TSimReply& reply) {
    std::lock_guard lock(FLock);
    if (!FSettings.Token) {
        // No digits anywhere: a reader that falls back to every digit of the answer finds no id.
        reply.Xml(200, "<A><error>Ключ не найден. Проверьте подключение токена.</error></A>");
        reply.Note = "no token";
        return;
    }
    reply.Xml(200, std::string(kXmlDeclaration) + "<A><CN>FSRAR-RSA-" + FSettings.FsrarId +
                       "</CN><O>ООО «Продукты у дома»</O><OU>Магазин № 3</OU><C>RU</C>"
                       "<L>г. Видное</L><SN>02A1F3C5000BB0D39B4E2F3A6C1D7E8F9A</SN><ver>2</ver></A>");
}

void TSimUtm::ServeOutList(TSimReply& reply) {
    std::lock_guard lock(FLock);
    std::string body = std::string(kXmlDeclaration) + "<A>";
    for (const THeldDoc& doc : FHeld) {
        body += "<url";
        if (!doc.ReplyId.empty()) body += " replyId=\"" + XmlEscape(doc.ReplyId) + "\"";
        body += ">" + OutUrl(doc) + "</url>";
    }
    body += "<ver>2</ver></A>";
    reply.Xml(200, std::move(body));
    reply.Note = std::to_string(FHeld.size()) + " waiting";
}

void TSimUtm::ServeOutDocument(const httplib::Request& req, TSimReply& reply) {
    std::lock_guard lock(FLock);
    THeldDoc* doc = FindHeldLocked(req.path);
    if (doc == nullptr) {
        reply.Xml(404, UtmErrorXml("Document not found: " + req.path));
        return;
    }
    if (req.method != "DELETE") {
        ++doc->Fetches;
        reply.Xml(200, doc->Xml);
        return;
    }
    FDeleted.push_back({doc->Id, doc->Type, OutUrl(*doc), NowMs()});
    reply.Note = "deleted " + doc->Type + "/" + std::to_string(doc->Id);
    FHeld.erase(FHeld.begin() + (doc - FHeld.data()));
    reply.Xml(200, std::string(kXmlDeclaration) + "<A><ver>2</ver></A>");
}

void TSimUtm::ServeInList(TSimReply& reply) {
    std::lock_guard lock(FLock);
    std::string body = std::string(kXmlDeclaration) + "<A>";
    for (const TReceivedDoc& doc : FReceived) {
        body += "<url replyId=\"" + doc.Guid + "\">" + BaseUrl() + "/opt/in/" + doc.Type + "/" +
                std::to_string(doc.Id) + "</url>";
    }
    body += "<ver>2</ver></A>";
    reply.Xml(200, std::move(body));
}

void TSimUtm::ServeInDocument(const httplib::Request& req, TSimReply& reply) {
    std::string type;
    std::int64_t id = 0;
    std::lock_guard lock(FLock);
    if (SplitDocPath(req.path, "in", type, id)) {
        for (const TReceivedDoc& doc : FReceived) {
            if (doc.Id == id && doc.Type == type) {
                reply.Xml(200, doc.Xml);
                return;
            }
        }
    }
    reply.Xml(404, UtmErrorXml("Document not found: " + req.path));
}

void TSimUtm::ServeUpload(const httplib::Request& req, TSimReply& reply) {
    std::string type = req.path.substr(std::string("/opt/in/").size());
    if (!type.empty() && type.back() == '/') type.pop_back();
    if (!IsDocumentTypeName(type)) {
        reply.Xml(400, UtmErrorXml("Unknown document type: " + type));
        return;
    }
    if (!req.is_multipart_form_data()) {
        reply.Xml(400, UtmErrorXml("Expected multipart/form-data with the file part xml_file"));
        reply.Note = "not multipart";
        return;
    }
    if (!req.has_file("xml_file")) {
        reply.Xml(400, UtmErrorXml("Missing the file part xml_file"));
        reply.Note = "no xml_file";
        return;
    }
    const httplib::MultipartFormData file = req.get_file_value("xml_file");
    if (!LooksLikeXml(file.content)) {
        reply.Xml(400, UtmErrorXml("xml_file is empty or not XML"));
        reply.Note = "not XML";
        return;
    }
    std::lock_guard lock(FLock);
    TReceivedDoc doc;
    doc.Id = FNextReceivedId++;
    doc.Guid = FFactory.Guid();
    doc.Type = type;
    doc.FileName = file.filename;
    doc.ContentType = file.content_type;
    doc.Xml = file.content;
    doc.AtMs = NowMs();
    reply.Xml(200, std::string(kXmlDeclaration) + "<A><url>" + doc.Guid + "</url><sign>" +
                       FFactory.Signature() + "</sign><ver>2</ver></A>");
    reply.Note = "received " + type + " " + std::to_string(doc.Xml.size()) + "B as " + doc.Guid;
    if (FSettings.Tickets) {
        const THeldDoc& ticket = AddLocked(FFactory.Ticket(type, doc.Guid), doc.Guid);
        reply.Note += ", ticket " + std::to_string(ticket.Id);
    }
    FReceived.push_back(std::move(doc));
}

void TSimUtm::FailureReply(int status, TSimReply& reply) const {
    reply.Xml(status, UtmErrorXml("Simulated failure"));
}

bool TSimUtm::HandleControl(const httplib::Request& req, TSimReply& reply) {
    if (req.path == "/sim/docs" && req.method == "POST") {
        ServeAddDocuments(req, reply);
        return true;
    }
    if (req.path == "/sim/docs" && req.method == "DELETE") {
        std::lock_guard lock(FLock);
        const std::size_t removed = FHeld.size();
        FHeld.clear();
        reply.Json(200, "{\"removed\":" + std::to_string(removed) + "}");
        return true;
    }
    if (req.path == "/sim/config" && (req.method == "GET" || req.method == "POST")) {
        ServeConfig(req, reply);
        return true;
    }
    return false;
}

void TSimUtm::ServeAddDocuments(const httplib::Request& req, TSimReply& reply) {
    rapidjson::Document body;
    if (!ReadBodyObject(req, body, reply)) return;
    const std::optional<TAddRequest> add = ReadAddRequest(body, "type", reply);
    if (!add) return;
    std::lock_guard lock(FLock);
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("added");
    writer.StartArray();
    for (std::int64_t i = 0; i < add->Count; ++i) {
        TEgaisDocument doc = add->Xml    ? TEgaisDocument{*add->Type, *add->Xml}
                             : add->Type ? FFactory.Incoming(*add->Type)
                                         : FFactory.NextIncoming();
        const THeldDoc& held =
            AddLocked(std::move(doc), JsonText(body, "reply_id").value_or(FFactory.Guid()));
        writer.StartObject();
        WriteMember(writer, "id", held.Id);
        WriteMember(writer, "type", held.Type);
        WriteMember(writer, "url", OutUrl(held));
        WriteMember(writer, "reply_id", held.ReplyId);
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    reply.Json(200, buffer.GetString());
    reply.Note = "added " + std::to_string(add->Count);
}

void TSimUtm::ServeConfig(const httplib::Request& req, TSimReply& reply) {
    rapidjson::Document body;
    if (req.method == "POST" && !ParseJsonObject(req.body, body)) {
        reply.JsonError(400, "expected a JSON object");
        return;
    }
    std::unique_lock lock(FLock);
    if (req.method == "POST") {
        TUtmSettings next = FSettings;
        if (const auto id = JsonText(body, "fsrar_id")) next.FsrarId = *id;
        if (const auto version = JsonText(body, "version")) next.Version = *version;
        if (const auto path = JsonText(body, "version_path")) next.VersionPath = *path;
        if (const auto token = JsonBool(body, "token")) next.Token = *token;
        if (const auto tickets = JsonBool(body, "tickets")) next.Tickets = *tickets;
        if (const auto every = JsonInt(body, "new_every")) next.NewEverySec = static_cast<int>(*every);
        if (next.VersionPath != "/info/version" && next.VersionPath != "/api/info/version" &&
            next.VersionPath != "/info/") {
            reply.JsonError(400, "\"version_path\" must be /info/version, /api/info/version or /info/");
            return;
        }
        if (next.NewEverySec < 0 || next.NewEverySec > 86400) {
            reply.JsonError(400, "\"new_every\" must lie between 0 and 86400");
            return;
        }
        FSettings = next;
        FWake.notify_all();
    }
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    WriteConfigLocked(writer);
    writer.EndObject();
    reply.Json(200, buffer.GetString());
}

void TSimUtm::WriteConfigLocked(TJsonWriter& writer) const {
    WriteMember(writer, "fsrar_id", FSettings.FsrarId);
    WriteMember(writer, "version", FSettings.Version);
    WriteMember(writer, "version_path", FSettings.VersionPath);
    WriteMember(writer, "token", FSettings.Token);
    WriteMember(writer, "tickets", FSettings.Tickets);
    WriteMember(writer, "new_every", FSettings.NewEverySec);
}

void TSimUtm::WriteState(TJsonWriter& writer) {
    std::lock_guard lock(FLock);
    WriteConfigLocked(writer);
    WriteObjectArray(writer, "documents", FHeld, [&](const THeldDoc& doc) {
        WriteMember(writer, "id", doc.Id);
        WriteMember(writer, "type", doc.Type);
        WriteMember(writer, "url", OutUrl(doc));
        WriteMember(writer, "reply_id", doc.ReplyId);
        WriteMember(writer, "fetches", doc.Fetches);
        WriteMember(writer, "added_at_ms", doc.AddedMs);
        WriteMember(writer, "xml", doc.Xml);
    });
    WriteObjectArray(writer, "received", FReceived, [&](const TReceivedDoc& doc) {
        WriteMember(writer, "id", doc.Id);
        WriteMember(writer, "guid", doc.Guid);
        WriteMember(writer, "type", doc.Type);
        WriteMember(writer, "file_name", doc.FileName);
        WriteMember(writer, "content_type", doc.ContentType);
        WriteMember(writer, "size", static_cast<std::int64_t>(doc.Xml.size()));
        WriteMember(writer, "at_ms", doc.AtMs);
        WriteMember(writer, "xml", doc.Xml);
    });
    WriteObjectArray(writer, "deleted", FDeleted, [&](const TDeletedDoc& doc) {
        WriteMember(writer, "id", doc.Id);
        WriteMember(writer, "type", doc.Type);
        WriteMember(writer, "url", doc.Url);
        WriteMember(writer, "at_ms", doc.AtMs);
    });
    writer.Key("counts");
    writer.StartObject();
    WriteMember(writer, "documents", static_cast<std::int64_t>(FHeld.size()));
    WriteMember(writer, "received", static_cast<std::int64_t>(FReceived.size()));
    WriteMember(writer, "deleted", static_cast<std::int64_t>(FDeleted.size()));
    writer.EndObject();
}

void TSimUtm::Reset() {
    std::lock_guard lock(FLock);
    FHeld.clear();
    FReceived.clear();
    FDeleted.clear();
}

void TSimUtm::Start() {
    std::lock_guard lock(FLock);
    if (FGenerator.joinable()) return;
    FStopping = false;
    FGenerator = std::thread([this] { GeneratorLoop(); });
}

void TSimUtm::Stop() {
    {
        std::lock_guard lock(FLock);
        FStopping = true;
    }
    FWake.notify_all();
    if (FGenerator.joinable()) FGenerator.join();
}

void TSimUtm::GeneratorLoop() {
    std::unique_lock lock(FLock);
    while (!FStopping) {
        const int every = FSettings.NewEverySec;
        const auto changed = [&] { return FStopping || FSettings.NewEverySec != every; };
        if (every <= 0) {
            FWake.wait(lock, changed);
            continue;
        }
        if (FWake.wait_for(lock, std::chrono::seconds(every), changed)) continue;
        const THeldDoc& doc = AddLocked(FFactory.NextIncoming(), FFactory.Guid());
        const std::string text = "new document " + OutUrl(doc);
        lock.unlock();
        PrintEvent(Role(), text);
        lock.lock();
    }
}

}  // namespace egaiss::sim
