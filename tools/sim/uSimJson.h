#pragma once
// JSON helpers of the simulators: a compact writer, tolerant readers of request bodies.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace egaiss::sim {

using TJsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// The text with every byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD, so
// that whatever a client sent can be echoed in a JSON answer.
std::string ValidUtf8(std::string_view text);

void WriteText(TJsonWriter& writer, std::string_view text);
void WriteMember(TJsonWriter& writer, const char* key, std::string_view text);
void WriteMember(TJsonWriter& writer, const char* key, const char* text);
void WriteMember(TJsonWriter& writer, const char* key, const std::string& text);
void WriteMember(TJsonWriter& writer, const char* key, std::int64_t number);
void WriteMember(TJsonWriter& writer, const char* key, int number);
void WriteMember(TJsonWriter& writer, const char* key, double number);
void WriteMember(TJsonWriter& writer, const char* key, bool value);
// A member whose value is JSON text that is already serialised (an object received earlier).
void WriteRawMember(TJsonWriter& writer, const char* key, const std::string& json);

// key: [{...}, ...], one object per item, its members written by `writeMembers(item)`.
template <typename TItems, typename TWriteMembers>
void WriteObjectArray(TJsonWriter& writer, const char* key, const TItems& items, TWriteMembers writeMembers) {
    writer.Key(key);
    writer.StartArray();
    for (const auto& item : items) {
        writer.StartObject();
        writeMembers(item);
        writer.EndObject();
    }
    writer.EndArray();
}

// {"error": message}
std::string ErrorJson(std::string_view message);

// Parses `body` into `doc`; false when it is not JSON or not an object.
bool ParseJsonObject(const std::string& body, rapidjson::Document& doc);

// Member readers: nothing when the member is absent or of another kind. `JsonText` also takes a
// number as the literal it was written with.
std::optional<std::string> JsonText(const rapidjson::Value& object, const char* key);
std::optional<std::int64_t> JsonInt(const rapidjson::Value& object, const char* key);
std::optional<double> JsonNumber(const rapidjson::Value& object, const char* key);
std::optional<bool> JsonBool(const rapidjson::Value& object, const char* key);

// A JSON value serialised compactly.
std::string JsonValueText(const rapidjson::Value& value);

}  // namespace egaiss::sim
