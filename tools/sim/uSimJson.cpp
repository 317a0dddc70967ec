#include "uSimJson.h"

#include <rapidjson/encodings.h>
#include <rapidjson/stream.h>

namespace egaiss::sim {

std::string ValidUtf8(std::string_view text) {
    // The decoder may read past a truncated sequence; the copy's terminating NUL stops it there.
    const std::string owned(text);
    std::string result;
    result.reserve(text.size());
    std::size_t pos = 0;
    while (pos < owned.size()) {
        rapidjson::StringStream stream(owned.c_str() + pos);
        if (owned[pos] == '\0') {
            result.push_back('\0');
            ++pos;
            continue;
        }
        unsigned codepoint = 0;
        const std::size_t before = pos;
        const bool ok = rapidjson::UTF8<>::Decode(stream, &codepoint);
        const std::size_t used = static_cast<std::size_t>(stream.Tell());
        if (ok && used > 0 && before + used <= owned.size()) {
            result.append(owned, before, used);
            pos += used;
        } else {
            result.append("\xEF\xBF\xBD");
            ++pos;
        }
    }
    return result;
}

void WriteText(TJsonWriter& writer, std::string_view text) {
    const std::string valid = ValidUtf8(text);
    writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

void WriteMember(TJsonWriter& writer, const char* key, std::string_view text) {
    writer.Key(key);
    WriteText(writer, text);
}

void WriteMember(TJsonWriter& writer, const char* key, const char* text) {
    WriteMember(writer, key, std::string_view(text));
}

void WriteMember(TJsonWriter& writer, const char* key, const std::string& text) {
    WriteMember(writer, key, std::string_view(text));
}

void WriteMember(TJsonWriter& writer, const char* key, std::int64_t number) {
    writer.Key(key);
    writer.Int64(number);
}

void WriteMember(TJsonWriter& writer, const char* key, int number) {
    writer.Key(key);
    writer.Int(number);
}

void WriteMember(TJsonWriter& writer, const char* key, double number) {
    writer.Key(key);
    writer.Double(number);
}

void WriteMember(TJsonWriter& writer, const char* key, bool value) {
    writer.Key(key);
    writer.Bool(value);
}

void WriteRawMember(TJsonWriter& writer, const char* key, const std::string& json) {
    writer.Key(key);
    if (json.empty()) {
        writer.Null();
        return;
    }
    writer.RawValue(json.data(), json.size(), rapidjson::kObjectType);
}

std::string ErrorJson(std::string_view message) {
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    writer.StartObject();
    WriteMember(writer, "error", message);
    writer.EndObject();
    return buffer.GetString();
}

bool ParseJsonObject(const std::string& body, rapidjson::Document& doc) {
    // Iterative, so that a control request nested 100,000 deep cannot exhaust the stack.
    doc.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(body.data(),
                                                                                      body.size());
    return !doc.HasParseError() && doc.IsObject();
}

namespace {

const rapidjson::Value* Member(const rapidjson::Value& object, const char* key) {
    if (!object.IsObject()) return nullptr;
    const auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

}  // namespace

std::optional<std::string> JsonText(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = Member(object, key);
    if (value == nullptr) return std::nullopt;
    if (value->IsString()) return std::string(value->GetString(), value->GetStringLength());
    if (value->IsNumber()) return JsonValueText(*value);
    return std::nullopt;
}

std::optional<std::int64_t> JsonInt(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = Member(object, key);
    if (value == nullptr || !value->IsInt64()) return std::nullopt;
    return value->GetInt64();
}

std::optional<double> JsonNumber(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = Member(object, key);
    if (value == nullptr || !value->IsNumber()) return std::nullopt;
    return value->GetDouble();
}

std::optional<bool> JsonBool(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = Member(object, key);
    if (value == nullptr || !value->IsBool()) return std::nullopt;
    return value->GetBool();
}

std::string JsonValueText(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    TJsonWriter writer(buffer);
    value.Accept(writer);
    return buffer.GetString();
}

}  // namespace egaiss::sim
