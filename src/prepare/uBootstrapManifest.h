#pragma once
// The preparation manifest egaiss-bootstrap.json: fetched from the server's download area, cached in
// the data folder, and read by the environment checks, the installer and the preparation window.
// Also the JSON value model and member readers with the coercion rules of the manifest format, and
// the rule that turns the configured server URL into the download base URL.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/uErrors.h"

namespace egaiss {

// A JSON member that is missing or cannot be read as asked, and a manifest that is not an object.
class EJsonError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "EJsonError"; }
};

enum class TJsonKind { jkNull, jkFalse, jkTrue, jkNumber, jkString, jkArray, jkObject };

struct TJsonMember;

// One parsed JSON value. Numbers keep the literal they were written with, so that a reader can give
// a number's text as written and still tell a number from a string holding digits.
class TJsonValue {
public:
    TJsonValue() = default;  // null

    TJsonKind Kind() const { return FKind; }
    bool IsNull() const { return FKind == TJsonKind::jkNull; }
    bool IsBool() const { return FKind == TJsonKind::jkTrue || FKind == TJsonKind::jkFalse; }
    bool IsNumber() const { return FKind == TJsonKind::jkNumber; }
    bool IsString() const { return FKind == TJsonKind::jkString; }
    bool IsArray() const { return FKind == TJsonKind::jkArray; }
    bool IsObject() const { return FKind == TJsonKind::jkObject; }

    // A string's text or a number's literal; empty for the other kinds.
    const std::string& Text() const { return FText; }
    // The elements of an array; empty for the other kinds.
    const std::vector<TJsonValue>& Items() const { return FItems; }
    // The members of an object in document order; empty for the other kinds.
    const std::vector<TJsonMember>& Members() const { return FMembers; }
    // The first member of that name; null when there is none or this is not an object.
    const TJsonValue* Find(std::string_view key) const;

private:
    friend class TJsonBuilder;

    TJsonKind FKind = TJsonKind::jkNull;
    std::string FText;
    std::vector<TJsonValue> FItems;
    std::vector<TJsonMember> FMembers;
};

struct TJsonMember {
    std::string Key;
    TJsonValue Value;
};

// Parses JSON text (UTF-8; a leading byte-order mark is skipped). Nothing for invalid JSON, invalid
// UTF-8 or nesting deeper than 512 levels. Never raises.
std::optional<TJsonValue> ParseJson(std::string_view text);

// Compact JSON with members in document order and every character below 32 or above 127 escaped
// (\uXXXX with upper-case digits), so the result is plain ASCII. Numbers are written as read.
std::string JsonToText(const TJsonValue& value);

// Member readers. Each looks `key` up among the members of `obj` (a value that is not an object has
// none).
// Strings as they are, numbers as written, true/false as "true"/"false", null as empty text; false
// (and empty text) when absent or an object or array.
bool TryGetJsonString(const TJsonValue& obj, std::string_view key, std::string& text);
// A number or string that is a whole number in range; true/false give 1/0. `n` is left unchanged
// when absent or not convertible.
bool TryGetJsonInt(const TJsonValue& obj, std::string_view key, int& n);
bool TryGetJsonInt64(const TJsonValue& obj, std::string_view key, std::int64_t& n);
// true/false; a string or number reading "true"/"false" in any case; any number (0 is false). `b` is
// left unchanged when absent or not convertible.
bool TryGetJsonBool(const TJsonValue& obj, std::string_view key, bool& b);
// The member when it is an array; `array` is null otherwise.
bool TryGetJsonArray(const TJsonValue& obj, std::string_view key, const TJsonValue*& array);
// The member whatever its kind; `value` is null when absent.
bool TryGetJsonValue(const TJsonValue& obj, std::string_view key, const TJsonValue*& value);
// As TryGetJsonString, but raises EJsonError: "Value '<key>' not found" when absent, and a conversion
// error for an object or array.
std::string GetJsonString(const TJsonValue& obj, std::string_view key);

// The download area of the server: scheme://host[:port] + the folder of the API entry + "download/".
// Raises EAgentError "Invalid server URL: ..." when the URL has no scheme.
std::string DownloadBaseURL(const std::string& serverURL);
// DownloadBaseURL + "egaiss-bootstrap.json".
std::string ManifestURL(const std::string& serverURL);

inline constexpr const char* BootstrapManifestFileName = "egaiss-bootstrap.json";
inline constexpr const char* DefaultManifestTitle = "Prepare PC for EGAIS";

class TBootstrapManifest {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;

    // `clock` measures the manifest's age; tests pass their own.
    explicit TBootstrapManifest(TClock clock = {});

    // Makes a manifest available from the cache or the server. False only for an empty server URL;
    // raises on transport failures, on an HTTP error without a usable cache, on a body that is not a
    // JSON object and on a cache file that cannot be written.
    bool Load(const std::string& serverURL, bool forceRefresh);
    // True when the cache file held a JSON object; never raises.
    bool LoadFromCache();
    // Writes the manifest to the cache file (atomically); false when there is none. Raises EFileError.
    bool SaveToCache() const;

    // The "components" array; null when there is no manifest or no such array. Valid until the next
    // successful parse or the destruction of the manifest.
    const TJsonValue* Components() const;
    std::string Title() const;
    // "refresh_hours", 24 when absent, unreadable or when nothing is loaded.
    int RefreshHours() const;
    // True when nothing is loaded or the manifest is at least RefreshHours whole hours old.
    bool IsStale() const;
    // Replaces the manifest with the parsed text; raises EJsonError "Manifest: expected JSON object"
    // and keeps the previous one when the text is not a JSON object.
    void ParseText(std::string_view text);

    bool Loaded() const { return FRoot != nullptr; }
    const TJsonValue* Root() const { return FRoot.get(); }
    // The manifest URL after a download, "cache:" + the cache file path after reading the cache.
    const std::string& SourceURL() const { return FSourceURL; }

    // The data folder with a trailing separator, and the cache file in it.
    static std::string ManifestCacheDir();
    static std::string CacheFilePath();

private:
    TClock FClock;
    std::unique_ptr<TJsonValue> FRoot;
    std::optional<std::chrono::steady_clock::time_point> FLoadedAt;
    std::string FSourceURL;
};

}  // namespace egaiss
