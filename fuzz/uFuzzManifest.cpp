// The preparation manifest as TBootstrapManifest reads it, with the member readers over every
// component; and the JSON model's round trip: what JsonToText writes parses back to the same text.
#include "prepare/uBootstrapManifest.h"
#include "uFuzzSupport.h"

using namespace egaiss;

namespace {

void ReadMembers(const TJsonValue& object) {
    for (const TJsonMember& member : object.Members()) {
        std::string text;
        int number = 0;
        std::int64_t wide = 0;
        bool flag = false;
        const TJsonValue* found = nullptr;
        TryGetJsonString(object, member.Key, text);
        TryGetJsonInt(object, member.Key, number);
        TryGetJsonInt64(object, member.Key, wide);
        TryGetJsonBool(object, member.Key, flag);
        TryGetJsonArray(object, member.Key, found);
        TryGetJsonValue(object, member.Key, found);
        try {
            GetJsonString(object, member.Key);
        } catch (const EJsonError&) {
        }
    }
}

void CheckRoundTrip(std::string_view text) {
    const std::optional<TJsonValue> value = ParseJson(text);
    if (!value) return;
    const std::string written = JsonToText(*value);
    const std::optional<TJsonValue> reread = ParseJson(written);
    fuzz::Require(reread && JsonToText(*reread) == written, "JsonToText does not parse back: " + written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::AsString(data, size);
    CheckRoundTrip(text);
    TBootstrapManifest manifest([] { return std::chrono::steady_clock::time_point{}; });
    try {
        manifest.ParseText(text);
    } catch (const EJsonError&) {
        return 0;
    }
    manifest.Title();
    manifest.RefreshHours();
    manifest.IsStale();
    ReadMembers(*manifest.Root());
    if (const TJsonValue* components = manifest.Components()) {
        for (const TJsonValue& component : components->Items())
            ReadMembers(component);
    }
    return 0;
}
