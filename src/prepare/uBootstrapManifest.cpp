#include "prepare/uBootstrapManifest.h"

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>
#include <filesystem>
#include <limits>

#include "clients/uHttpErrors.h"
#include "clients/uPeerJson.h"
#include "core/uEgaissConfig.h"
#include "core/uEgaissRu.h"
#include "platform/uFileSystem.h"
#include "platform/uHttpClient.h"
#include "platform/uPath.h"
#include "platform/uUtf8.h"

namespace egaiss {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t MaxJsonDepth = 512;

// Builds TJsonValue trees from the reader's events. Open containers are reached through pointers into
// their parents; a parent gains no new element while a child of it is open, so they stay valid.
class TJsonBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TJsonBuilder> {
public:
    bool Null() { return Add(TJsonValue()) != nullptr; }
    bool Bool(bool value) { return Add(Make(value ? TJsonKind::jkTrue : TJsonKind::jkFalse)) != nullptr; }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        return Add(Make(TJsonKind::jkNumber, std::string(text, length))) != nullptr;
    }
    // The reader lets a lone low-surrogate escape ("\udc00") through as bytes that are not UTF-8.
    bool String(const char* text, rapidjson::SizeType length, bool) {
        if (!IsWellFormedUtf8({text, length})) return false;
        return Add(Make(TJsonKind::jkString, std::string(text, length))) != nullptr;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        FKey.assign(text, length);
        return IsWellFormedUtf8(FKey);
    }
    bool StartObject() { return Open(TJsonKind::jkObject); }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool StartArray() { return Open(TJsonKind::jkArray); }
    bool EndArray(rapidjson::SizeType) { return Close(); }

    TJsonValue Root;

private:
    static TJsonValue Make(TJsonKind kind, std::string text = {}) {
        TJsonValue value;
        value.FKind = kind;
        value.FText = std::move(text);
        return value;
    }

    TJsonValue* Add(TJsonValue&& value) {
        if (FOpen.empty()) {
            Root = std::move(value);
            return &Root;
        }
        TJsonValue& parent = *FOpen.back();
        if (parent.FKind == TJsonKind::jkArray) {
            parent.FItems.push_back(std::move(value));
            return &parent.FItems.back();
        }
        parent.FMembers.push_back({std::move(FKey), std::move(value)});
        FKey.clear();
        return &parent.FMembers.back().Value;
    }

    bool Open(TJsonKind kind) {
        if (FOpen.size() >= MaxJsonDepth) return false;
        FOpen.push_back(Add(Make(kind)));
        return true;
    }

    bool Close() {
        FOpen.pop_back();
        return true;
    }

    std::vector<TJsonValue*> FOpen;
    std::string FKey;
};

namespace {

using TJsonWriter = rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::ASCII<>>;

void WriteJson(TJsonWriter& writer, const TJsonValue& value) {
    switch (value.Kind()) {
        case TJsonKind::jkNull:
            writer.Null();
            break;
        case TJsonKind::jkFalse:
            writer.Bool(false);
            break;
        case TJsonKind::jkTrue:
            writer.Bool(true);
            break;
        case TJsonKind::jkNumber:
            writer.RawValue(value.Text().data(), value.Text().size(), rapidjson::kNumberType);
            break;
        case TJsonKind::jkString:
            writer.String(value.Text().data(), static_cast<rapidjson::SizeType>(value.Text().size()));
            break;
        case TJsonKind::jkArray:
            writer.StartArray();
            for (const auto& item : value.Items())
                WriteJson(writer, item);
            writer.EndArray();
            break;
        case TJsonKind::jkObject:
            writer.StartObject();
            for (const auto& member : value.Members()) {
                writer.Key(member.Key.data(), static_cast<rapidjson::SizeType>(member.Key.size()));
                WriteJson(writer, member.Value);
            }
            writer.EndObject();
            break;
    }
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool ValueAsText(const TJsonValue& value, std::string& text) {
    switch (value.Kind()) {
        case TJsonKind::jkString:
        case TJsonKind::jkNumber:
            text = value.Text();
            return true;
        case TJsonKind::jkTrue:
            text = "true";
            return true;
        case TJsonKind::jkFalse:
            text = "false";
            return true;
        case TJsonKind::jkNull:
            text.clear();
            return true;
        default:
            text.clear();
            return false;
    }
}

// A whole decimal number with an optional sign that fits T; nothing for fractions, exponents, blanks,
// other text and overflow.
template <typename T>
std::optional<T> WholeNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    T value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        // Accumulate towards the sign so that the minimum value fits too.
        if (negative) {
            if (value < (std::numeric_limits<T>::min() + digit) / 10) return std::nullopt;
            value = static_cast<T>(value * 10 - digit);
        } else {
            if (value > (std::numeric_limits<T>::max() - digit) / 10) return std::nullopt;
            value = static_cast<T>(value * 10 + digit);
        }
    }
    return value;
}

template <typename T>
bool TryGetWholeNumber(const TJsonValue& obj, std::string_view key, T& n) {
    const TJsonValue* value = obj.Find(key);
    if (value == nullptr) return false;
    if (value->IsBool()) {
        n = value->Kind() == TJsonKind::jkTrue ? 1 : 0;
        return true;
    }
    if (!value->IsNumber() && !value->IsString()) return false;
    const auto number = WholeNumber<T>(value->Text());
    if (!number) return false;
    n = *number;
    return true;
}

// A JSON number literal is zero when every digit before its exponent is.
bool IsZeroLiteral(std::string_view literal) {
    for (const char c : literal) {
        if (c == 'e' || c == 'E') break;
        if (c >= '1' && c <= '9') return false;
    }
    return true;
}

std::chrono::steady_clock::time_point SteadyNow() {
    return std::chrono::steady_clock::now();
}

}  // namespace

const TJsonValue* TJsonValue::Find(std::string_view key) const {
    for (const auto& member : FMembers) {
        if (member.Key == key) return &member.Value;
    }
    return nullptr;
}

std::optional<TJsonValue> ParseJson(std::string_view text) {
    if (text.substr(0, Utf8Bom.size()) == Utf8Bom) text.remove_prefix(Utf8Bom.size());
    // The reader takes a NUL for the end of input; JSON has no place for one anyway.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    TJsonBuilder builder;
    rapidjson::Reader reader;
    rapidjson::MemoryStream stream(text.data(), text.size());
    if (reader.Parse<PeerJsonParseFlags>(stream, builder).IsError()) return std::nullopt;
    return std::move(builder.Root);
}

std::string JsonToText(const TJsonValue& value) {
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    WriteJson(writer, value);
    return std::string(buffer.GetString(), buffer.GetSize());
}

bool TryGetJsonString(const TJsonValue& obj, std::string_view key, std::string& text) {
    text.clear();
    const TJsonValue* value = obj.Find(key);
    return value != nullptr && ValueAsText(*value, text);
}

bool TryGetJsonInt(const TJsonValue& obj, std::string_view key, int& n) {
    return TryGetWholeNumber(obj, key, n);
}

bool TryGetJsonInt64(const TJsonValue& obj, std::string_view key, std::int64_t& n) {
    return TryGetWholeNumber(obj, key, n);
}

bool TryGetJsonBool(const TJsonValue& obj, std::string_view key, bool& b) {
    const TJsonValue* value = obj.Find(key);
    if (value == nullptr) return false;
    if (value->IsBool()) {
        b = value->Kind() == TJsonKind::jkTrue;
        return true;
    }
    if (value->IsString()) {
        if (EqualsNoCase(value->Text(), "true") || EqualsNoCase(value->Text(), "false")) {
            b = EqualsNoCase(value->Text(), "true");
            return true;
        }
        return false;
    }
    if (value->IsNumber()) {
        b = !IsZeroLiteral(value->Text());
        return true;
    }
    return false;
}

bool TryGetJsonArray(const TJsonValue& obj, std::string_view key, const TJsonValue*& array) {
    const TJsonValue* value = obj.Find(key);
    array = value != nullptr && value->IsArray() ? value : nullptr;
    return array != nullptr;
}

bool TryGetJsonValue(const TJsonValue& obj, std::string_view key, const TJsonValue*& value) {
    value = obj.Find(key);
    return value != nullptr;
}

std::string GetJsonString(const TJsonValue& obj, std::string_view key) {
    const TJsonValue* value = obj.Find(key);
    if (value == nullptr) throw EJsonError("Value '" + std::string(key) + "' not found");
    std::string text;
    if (!ValueAsText(*value, text))
        throw EJsonError("Value '" + std::string(key) + "' cannot be read as text");
    return text;
}

std::string DownloadBaseURL(const std::string& serverURL) {
    const auto invalid = [&]() { return EAgentError("Invalid server URL: " + serverURL); };
    const auto schemeEnd = serverURL.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0) throw invalid();
    const std::string scheme = serverURL.substr(0, schemeEnd);
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        const char c = scheme[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && (i == 0 || !other)) throw invalid();
    }

    const std::string rest = serverURL.substr(schemeEnd + 3);
    const auto authorityEnd = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, authorityEnd);
    std::string path;
    if (authorityEnd != std::string::npos && rest[authorityEnd] == '/') {
        path = rest.substr(authorityEnd, rest.find_first_of("?#", authorityEnd) - authorityEnd);
    }
    if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);

    // The port follows the last colon, unless that colon is inside an IPv6 literal.
    std::string host = authority;
    int port = 0;
    const auto colon = authority.rfind(':');
    if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
        host = authority.substr(0, colon);
        const std::string portText = authority.substr(colon + 1);
        if (!portText.empty()) {
            const auto number = WholeNumber<int>(portText);
            if (!number || *number < 0 || *number > 65535 || portText.front() == '-' ||
                portText.front() == '+') {
                throw invalid();
            }
            port = *number;
        }
    }
    if (host.empty()) throw invalid();

    // Each rule applies at most once and in this order: "/index.php/api/public" keeps "/index.php".
    if (path.empty()) path = "/";
    if (EndsWithNoCase(path, "/index.php")) path.resize(path.size() - 10);
    if (path != "/" && !path.empty() && path.back() == '/') path.pop_back();
    if (EndsWithNoCase(path, "/api/public")) path.resize(path.size() - 11);
    if (path.empty()) path = "/";
    if (path.back() != '/') path += '/';

    std::string base = scheme + "://" + host;
    const bool defaultPort = port == 0 || (port == 443 && EqualsNoCase(scheme, "https")) ||
                             (port == 80 && EqualsNoCase(scheme, "http"));
    if (!defaultPort) base += ":" + std::to_string(port);
    return base + path + "download/";
}

std::string ManifestURL(const std::string& serverURL) {
    return DownloadBaseURL(serverURL) + BootstrapManifestFileName;
}

TBootstrapManifest::TBootstrapManifest(TClock clock) : FClock(clock ? std::move(clock) : SteadyNow) {}

std::string TBootstrapManifest::ManifestCacheDir() {
    // Appending an empty name adds the platform's separator.
    return PathUtf8(Utf8Path(AgentDataDir()) / "");
}

std::string TBootstrapManifest::CacheFilePath() {
    return ManifestCacheDir() + BootstrapManifestFileName;
}

void TBootstrapManifest::ParseText(std::string_view text) {
    std::optional<TJsonValue> parsed = ParseJson(text);
    if (!parsed || !parsed->IsObject()) throw EJsonError("Manifest: expected JSON object");
    FRoot = std::make_unique<TJsonValue>(std::move(*parsed));
    FLoadedAt = FClock();
}

bool TBootstrapManifest::LoadFromCache() {
    try {
        const std::string path = CacheFilePath();
        std::error_code error;
        if (!std::filesystem::is_regular_file(Utf8Path(path), error)) return false;
        ParseText(Utf8ToText(platform::ReadWholeFile(path)));
        FSourceURL = "cache:" + path;
        return Loaded();
    } catch (const std::exception&) {
        return false;
    }
}

bool TBootstrapManifest::SaveToCache() const {
    if (!FRoot) return false;
    const std::string folder = ManifestCacheDir();
    std::error_code error;
    std::filesystem::create_directories(Utf8Path(folder), error);
    platform::WriteFileAtomically(CacheFilePath(), std::string(Utf8Bom) + JsonToText(*FRoot));
    return true;
}

bool TBootstrapManifest::Load(const std::string& serverURL, bool forceRefresh) {
    if (serverURL.empty()) return false;
    if (!forceRefresh && LoadFromCache() && !IsStale()) return true;

    const std::string url = ManifestURL(serverURL);
    platform::THttpClient client;
    PrepareHttpClient(&client);
    client.SetConnectTimeoutMs(15000);
    client.SetResponseTimeoutMs(60000);
    platform::THttpRequest request;
    request.URL = url;
    const platform::THttpResponse response = client.Send(request);
    if (response.StatusCode != 200) {
        if (LoadFromCache()) return true;
        throw NewHttpError(response);
    }
    ParseText(HttpResponseAsUtf8(response));
    FSourceURL = url;
    SaveToCache();
    return true;
}

const TJsonValue* TBootstrapManifest::Components() const {
    if (!FRoot) return nullptr;
    const TJsonValue* components = nullptr;
    return TryGetJsonArray(*FRoot, "components", components) ? components : nullptr;
}

std::string TBootstrapManifest::Title() const {
    std::string title;
    if (FRoot && TryGetJsonString(*FRoot, "title", title)) return title;
    return DefaultManifestTitle;
}

int TBootstrapManifest::RefreshHours() const {
    int hours = 24;
    if (FRoot) TryGetJsonInt(*FRoot, "refresh_hours", hours);
    return hours;
}

bool TBootstrapManifest::IsStale() const {
    if (!FLoadedAt) return true;
    const auto age = std::chrono::abs(FClock() - *FLoadedAt);
    return std::chrono::duration_cast<std::chrono::hours>(age).count() >= RefreshHours();
}

}  // namespace egaiss
