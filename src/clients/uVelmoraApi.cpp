#include "clients/uVelmoraApi.h"

#include <rapidjson/document.h>
#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "clients/uHttpErrors.h"
#include "clients/uPeerJson.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "platform/uHttpClient.h"

namespace egaiss {
namespace {

// Compact output, every character below 32 or above 127 escaped, upper-case hex digits.
using TJsonWriter = rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::ASCII<>>;

class TJsonBody {
public:
    TJsonBody() : FWriter(FBuffer) {}

    TJsonBody& Begin() {
        FWriter.StartObject();
        return *this;
    }
    TJsonBody& End() {
        FWriter.EndObject();
        return *this;
    }
    TJsonBody& Key(const char* name) {
        FWriter.Key(name);
        return *this;
    }
    TJsonBody& Text(const char* name, const std::string& value) {
        FWriter.Key(name);
        return Text(value);
    }
    TJsonBody& Text(const std::string& value) {
        // The writer stops at a malformed sequence; make the text well-formed first.
        const std::string valid = Utf8ToText(value);
        FWriter.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
        return *this;
    }
    TJsonBody& Bool(const char* name, bool value) {
        FWriter.Key(name);
        FWriter.Bool(value);
        return *this;
    }
    TJsonBody& BeginArray(const char* name) {
        FWriter.Key(name);
        FWriter.StartArray();
        return *this;
    }
    TJsonBody& EndArray() {
        FWriter.EndArray();
        return *this;
    }

    std::string Str() const { return std::string(FBuffer.GetString(), FBuffer.GetSize()); }

private:
    rapidjson::StringBuffer FBuffer;
    TJsonWriter FWriter;
};

// The answer as a JSON object, or nothing for an answer that is not one.
bool ParseObject(const std::string& text, rapidjson::Document& doc) {
    return ParsePeerJson(text, doc) && doc.IsObject();
}

const rapidjson::Value* Member(const rapidjson::Value& object, const char* name) {
    const auto found = object.FindMember(name);
    return found == object.MemberEnd() ? nullptr : &found->value;
}

// A value as text: a string, the literal of a number, true, false or null as written; an object
// or array has none.
std::string ValueText(const rapidjson::Value& value) {
    if (value.IsString()) return std::string(value.GetString(), value.GetStringLength());
    if (value.IsTrue()) return "true";
    if (value.IsFalse()) return "false";
    if (value.IsNull()) return "null";
    return {};
}

std::string MemberText(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* value = Member(object, name);
    return value ? ValueText(*value) : std::string();
}

// A member holding a non-empty string or a number (read as its literal).
bool HasText(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return false;
    const rapidjson::Value* value = Member(object, name);
    return value != nullptr && value->IsString() && value->GetStringLength() > 0;
}

// Whole text as a decimal integer of type T (optional sign); 0 for anything else or out of range.
template <typename T>
T TextToInteger(std::string_view text) {
    bool negative = false;
    std::size_t pos = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        pos = 1;
    }
    if (pos == text.size()) return 0;
    // Accumulate towards the sign so that the minimum value fits.
    T value = 0;
    for (; pos < text.size(); ++pos) {
        if (text[pos] < '0' || text[pos] > '9') return 0;
        const int digit = text[pos] - '0';
        if (negative) {
            if (value < (std::numeric_limits<T>::min() + digit) / 10) return 0;
            value = static_cast<T>(value * 10 - digit);
        } else {
            if (value > (std::numeric_limits<T>::max() - digit) / 10) return 0;
            value = static_cast<T>(value * 10 + digit);
        }
    }
    return value;
}

template <typename T>
T MemberInteger(const rapidjson::Value& object, const char* name) {
    return TextToInteger<T>(MemberText(object, name));
}

void WriteDiagnosis(TJsonBody& body, const TUtmDiagnosis& diagnosis) {
    body.Begin();
    body.Bool("ok", diagnosis.OK)
        .Text("fsrar_id", diagnosis.FsrarId)
        .Text("cert_cn", diagnosis.CertCn)
        .Text("cert_o", diagnosis.CertO)
        .Text("cert_ou", diagnosis.CertOu)
        .Text("utm_version", diagnosis.UtmVersion)
        .Bool("utm_reachable", diagnosis.UtmReachable);
    if (!diagnosis.ErrorText.empty()) body.Text("error", diagnosis.ErrorText);
    body.End();
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string UtmDiagnosisJson(const TUtmDiagnosis& diagnosis) {
    TJsonBody body;
    WriteDiagnosis(body, diagnosis);
    return body.Str();
}

TVelmoraApi::TVelmoraApi(const TEgaissConfig& cfg)
    : FCfg(cfg), FHttp(std::make_unique<platform::THttpClient>()) {
    FCfg.ServerURL = NormalizeServerURL(cfg.ServerURL);
}

TVelmoraApi::~TVelmoraApi() = default;
TVelmoraApi::TVelmoraApi(TVelmoraApi&&) noexcept = default;
TVelmoraApi& TVelmoraApi::operator=(TVelmoraApi&&) noexcept = default;

std::string TVelmoraApi::RouteURL(const std::string& route) const {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string url = FCfg.ServerURL;
    url += FCfg.ServerURL.find('?') == std::string::npos ? "?" : "&";
    url += "route=";
    for (const char c : route) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte)) {
            url += c;
        } else {
            url += '%';
            url += Hex[byte >> 4];
            url += Hex[byte & 0x0F];
        }
    }
    return url;
}

std::string TVelmoraApi::GetRoute(const std::string& route) {
    const std::string url = RouteURL(route);
    LogStep("HTTP GET", route);
    LogDebug("HTTP GET url=" + url);
    ConfigureServerClient(*FHttp, false);
    platform::THttpRequest request;
    request.Method = platform::THttpMethod::hmGet;
    request.URL = url;
    request.Headers = {{"Accept", "application/json"},
                       {"X-Egaiss-Agent-Id", FCfg.AgentID},
                       {"X-Egaiss-Agent-Secret", FCfg.AgentSecret}};
    platform::THttpResponse response;
    try {
        response = FHttp->Send(request);
    } catch (const std::exception& error) {
        LogException("HTTP GET transport " + route, error);
        throw;
    }
    LogDebug("HTTP GET " + route + " status=" + std::to_string(response.StatusCode));
    if (response.StatusCode >= 400) throw NewHttpError(response);
    std::string body = HttpResponseAsUtf8(response);
    LogStep("HTTP GET done", route + " chars=" + std::to_string(TextLength(body)));
    return body;
}

std::string TVelmoraApi::Post(const std::string& route, const std::string& body, bool quick) {
    ConfigureServerClient(*FHttp, quick);
    platform::THttpRequest request;
    request.Method = platform::THttpMethod::hmPost;
    request.URL = RouteURL(route);
    request.Headers = {{"Content-Type", "application/json; charset=utf-8"},
                       {"Accept", "application/json"},
                       {"X-Egaiss-Agent-Id", FCfg.AgentID},
                       {"X-Egaiss-Agent-Secret", FCfg.AgentSecret}};
    request.Body = ToBytes(body);
    const platform::THttpResponse response = FHttp->Send(request);
    if (response.StatusCode >= 400) throw NewHttpError(response);
    return HttpResponseAsUtf8(response);
}

std::string TVelmoraApi::PostRoute(const std::string& route, const std::string& body) {
    return Post(route, body, false);
}

std::string TVelmoraApi::PostRouteQuick(const std::string& route, const std::string& body) {
    return Post(route, body, true);
}

void TVelmoraApi::PingWithDiagnosis(const std::string& version, const TUtmDiagnosis& diagnosis,
                                    const std::string& lastError, bool syncCompleted) {
    TJsonBody body;
    body.Begin().Text("version", version);
    if (!lastError.empty()) body.Text("last_error", lastError);
    if (syncCompleted) body.Bool("sync_completed", true);
    body.Key("utm_diagnosis");
    WriteDiagnosis(body, diagnosis);
    body.End();
    PostRouteQuick("egaiss/agent/ping", body.Str());
}

void TVelmoraApi::PingSyncCompleted(const std::string& version) {
    TJsonBody body;
    body.Begin()
        .Text("version", version)
        .Bool("sync_completed", true)
        .Bool("error_only", true)
        .Text("last_error", std::string())
        .End();
    PostRouteQuick("egaiss/agent/ping", body.Str());
}

void TVelmoraApi::PingErrorOnly(const std::string& version, const std::string& lastError) {
    TJsonBody body;
    body.Begin().Text("version", version).Text("last_error", lastError).Bool("error_only", true).End();
    PostRouteQuick("egaiss/agent/ping", body.Str());
}

bool TVelmoraApi::PollSyncCommand(const std::string& version) {
    TJsonBody body;
    body.Begin().Text("version", version).Bool("command_poll", true).End();
    const std::string answer = PostRouteQuick("egaiss/agent/ping", body.Str());
    rapidjson::Document doc;
    if (!ParseObject(answer, doc)) return false;
    const rapidjson::Value* syncNow = Member(doc, "sync_now");
    return syncNow != nullptr && syncNow->IsTrue();
}

bool TVelmoraApi::FetchOutbox(std::vector<TOutboxDoc>& docs) {
    docs.clear();
    const std::string answer = GetRoute("egaiss/agent/outbox");
    // An answer that hides the queue must not pass for an empty one.
    const auto unreadable = [] { return EAgentError("Server outbox: unreadable answer"); };
    rapidjson::Document doc;
    if (!ParsePeerJson(answer, doc)) {
        if (TrimControl(answer).empty()) return false;
        throw unreadable();
    }
    if (doc.IsArray() && doc.Empty()) return false;
    if (!doc.IsObject()) throw unreadable();
    const rapidjson::Value* documents = Member(doc, "documents");
    if (documents == nullptr || documents->IsNull()) return true;
    if (!documents->IsArray()) throw unreadable();
    int position = 0;
    for (const auto& element : documents->GetArray()) {
        ++position;
        if (!HasText(element, "doc_id") || !HasText(element, "doc_type")) {
            LogError("Server outbox: document #" + std::to_string(position) +
                     " skipped, it has no doc_id or doc_type");
            continue;
        }
        docs.push_back(
            {MemberText(element, "doc_id"), MemberText(element, "doc_type"), MemberText(element, "xml")});
    }
    return true;
}

bool TVelmoraApi::FetchOutboxStatus(std::vector<TOutboxStatusRow>& rows, int& queued, int& errors) {
    rows.clear();
    queued = 0;
    errors = 0;
    const std::string answer = GetRoute("egaiss/agent/outbox/status");
    rapidjson::Document doc;
    if (!ParseObject(answer, doc)) return false;
    if (const rapidjson::Value* counts = Member(doc, "counts"); counts != nullptr && counts->IsObject()) {
        queued = MemberInteger<int>(*counts, "queued");
        errors = MemberInteger<int>(*counts, "error");
    }
    const rapidjson::Value* documents = Member(doc, "documents");
    if (documents == nullptr || !documents->IsArray()) return true;
    for (const auto& element : documents->GetArray()) {
        TOutboxStatusRow row;
        if (element.IsObject()) {
            row.DocID = MemberText(element, "doc_id");
            row.DocType = MemberText(element, "doc_type");
            row.Status = MemberText(element, "status");
            row.CreatedAt = MemberInteger<std::int64_t>(element, "created_at");
            row.UpdatedAt = MemberInteger<std::int64_t>(element, "updated_at");
            if (const rapidjson::Value* error = Member(element, "error");
                error != nullptr && !error->IsNull()) {
                row.ErrorText = ValueText(*error);
            }
        }
        rows.push_back(std::move(row));
    }
    return true;
}

bool TVelmoraApi::ClearOutbox(const std::vector<std::string>& statuses, const std::string& reason,
                              int& cleared) {
    cleared = 0;
    TJsonBody body;
    body.Begin().BeginArray("statuses");
    for (const auto& status : statuses)
        body.Text(status);
    body.EndArray().Text("reason", reason).End();
    const std::string answer = PostRoute("egaiss/agent/outbox/clear", body.Str());
    rapidjson::Document doc;
    if (!ParseObject(answer, doc)) return false;
    cleared = MemberInteger<int>(doc, "cleared");
    return true;
}

void TVelmoraApi::MarkSent(const std::string& docID, const std::string& utmURL,
                           const std::string& utmResponse) {
    TJsonBody body;
    body.Begin().Text("utm_url", utmURL).Text("utm_response", utmResponse).End();
    PostRoute("egaiss/agent/outbox/" + docID + "/sent", body.Str());
}

void TVelmoraApi::MarkError(const std::string& docID, const std::string& errorText) {
    TJsonBody body;
    body.Begin().Text("error", errorText).End();
    PostRoute("egaiss/agent/outbox/" + docID + "/error", body.Str());
}

TKnownInboxURLs TVelmoraApi::KnownInboxURLs() {
    TKnownInboxURLs urls;
    const std::string answer = GetRoute("egaiss/agent/inbox/known");
    rapidjson::Document doc;
    if (!ParseObject(answer, doc)) return urls;
    const rapidjson::Value* list = Member(doc, "utm_urls");
    if (list == nullptr || !list->IsArray()) return urls;
    for (const auto& element : list->GetArray()) {
        // Numbers are parsed as their literal text, so they pass as strings here.
        if (element.IsString() && element.GetStringLength() > 0) urls.insert(ValueText(element));
    }
    return urls;
}

bool TVelmoraApi::PushInbox(const std::string& utmURL, const std::string& docType, const std::string& xml,
                            bool& duplicate) {
    duplicate = false;
    const std::string body = "{\"utm_url\":\"" + JsonEscape(utmURL) + "\",\"doc_type\":\"" +
                             JsonEscape(docType) + "\",\"xml\":\"" + JsonEscape(xml) + "\"}";
    const std::string answer = PostRoute("egaiss/agent/inbox", body);
    rapidjson::Document doc;
    if (ParseObject(answer, doc)) {
        const rapidjson::Value* flag = Member(doc, "duplicate");
        duplicate = flag != nullptr && flag->IsTrue();
    }
    return true;
}

namespace {

// True when one of eight bytes needs an escape: a control character, '"' or '\\' (the exact
// "is there a byte below n / equal to c" tests on a whole word).
bool WordNeedsEscape(std::uint64_t word) {
    constexpr std::uint64_t Ones = 0x0101010101010101ULL;
    constexpr std::uint64_t Highs = 0x8080808080808080ULL;
    const auto hasZero = [&](std::uint64_t value) { return ((value - Ones) & ~value & Highs) != 0; };
    const bool control = ((word - Ones * 32) & ~word & Highs) != 0;
    return control || hasZero(word ^ (Ones * '"')) || hasZero(word ^ (Ones * '\\'));
}

}  // namespace

std::string JsonEscape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    // Runs that need no escape are copied whole, and looked through eight bytes at a time.
    std::size_t run = 0;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        for (std::uint64_t word = 0; text.size() - pos >= 8; pos += 8) {
            std::memcpy(&word, text.data() + pos, 8);
            if (WordNeedsEscape(word)) break;
        }
        if (pos == text.size()) break;
        const auto c = static_cast<unsigned char>(text[pos]);
        if (c >= 32 && c != '"' && c != '\\') continue;
        escaped.append(text, run, pos - run);
        run = pos + 1;
        switch (c) {
            case '\b':
                escaped += "\\b";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\f':
                escaped += "\\f";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '"':
                escaped += "\\\"";
                break;
            case '\\':
                escaped += "\\\\";
                break;
            default: {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%.4X", static_cast<unsigned>(c));
                escaped += code;
            }
        }
    }
    escaped.append(text, run);
    return escaped;
}

}  // namespace egaiss
