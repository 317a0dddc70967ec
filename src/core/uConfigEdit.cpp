#include "core/uConfigEdit.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>
#include <vector>

#include "core/uEgaissRu.h"

namespace egaiss {
namespace {

bool IsWholeNumber(const std::string& text, int low, int high) {
    int value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    return failure == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

// An http or https address with a host: "my velmora shop" or "https://" is not one.
bool IsWebAddress(const std::string& url) {
    const std::string lower = LowerAscii(url);
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (lower.rfind(scheme, 0) != 0) continue;
        const std::string rest = lower.substr(scheme.size());
        const std::string host = rest.substr(0, rest.find_first_of("/?#"));
        return !host.empty() && host[0] != ':' && host.find_first_of(" \t") == std::string::npos &&
               url.find(' ') == std::string::npos;
    }
    return false;
}

bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

struct TSettingRule {
    const char* Key;
    const char* Expected;  // what a refused value should have been; nullptr when any value goes
    std::function<bool(const std::string&)> Accepts;
};

const std::vector<TSettingRule>& SettingRules() {
    const auto notEmpty = [](const std::string& value) { return !value.empty(); };
    static const std::vector<TSettingRule> rules = {
        {"server_url", "an http:// or https:// address", IsWebAddress},
        {"agent_id", "a non-empty text", notEmpty},
        {"agent_secret", "a non-empty text", notEmpty},
        {"utm_host", "a host name or address without blanks",
         [](const std::string& value) { return !value.empty() && value.find(' ') == std::string::npos; }},
        {"utm_port", "a port 1..65535",
         [](const std::string& value) { return IsWholeNumber(value, 1, 65535); }},
        {"poll_seconds", "seconds 60..86400",
         [](const std::string& value) { return IsWholeNumber(value, 60, MaxPollSeconds); }},
        {"firm_id", nullptr, nullptr},
        {"id_sklad", "a whole number 0 or more",
         [](const std::string& value) { return IsWholeNumber(value, 0, std::numeric_limits<int>::max()); }},
        {"label", nullptr, nullptr},
        {"autostart", "1, 0, true, false, yes or no",
         [](const std::string& value) {
             static const std::vector<std::string> words = {"1", "0", "true", "false", "yes", "no"};
             return std::find(words.begin(), words.end(), LowerAscii(value)) != words.end();
         }},
    };
    return rules;
}

const TSettingRule& RuleOf(const std::string& key) {
    const auto& rules = SettingRules();
    return *std::find_if(rules.begin(), rules.end(), [&](const auto& rule) { return key == rule.Key; });
}

// Why `value` is refused for the rule's key, naming the key; empty when it is accepted.
std::string Refusal(const TSettingRule& rule, const std::string& value) {
    // A line break inside a value would slip another line into agent.ini.
    if (!HasControlCharacter(value) && (!rule.Accepts || rule.Accepts(value))) return {};
    const char* expected = rule.Expected ? rule.Expected : "text without control characters";
    return std::string(rule.Key) + ": expected " + expected + ", got '" + value + "'";
}

std::string ReplaceSettingLine(const std::string& text, const std::string& key, const std::string& value) {
    std::string result;
    bool written = false;
    for (const std::string& line : SplitTextLines(text)) {
        const auto parsed = ParseConfigLine(line);
        if (parsed && parsed->Key == key) {
            // A later line of the same key would override the new value when the file is read.
            if (written) continue;
            result += key + "=" + value + "\r\n";
            written = true;
        } else {
            result += line + "\r\n";
        }
    }
    if (!written) result += key + "=" + value + "\r\n";
    return result;
}

}  // namespace

TEgaissConfig TConfigDraft::Parsed() const {
    TEgaissConfig cfg = ParseConfigText(Text);
    cfg.AutoStart = AutoStart;
    return cfg;
}

std::string DraftRefusal(const TConfigDraft& draft) {
    const TEgaissConfig cfg = draft.Parsed();
    if (!cfg.IsComplete()) return MissingFieldsMessage;
    return Refusal(RuleOf("server_url"), cfg.ServerURL);
}

TConfigDraft LoadConfigDraft() {
    const std::string text = ReadConfigText();
    return {ConfigTextForEditing(text), ParseConfigText(text).AutoStart};
}

TEgaissConfig SaveConfigDraft(const TConfigDraft& draft) {
    SaveConfigText(draft.Text, draft.AutoStart);
    return LoadConfig();
}

std::string SetDraftValue(TConfigDraft& draft, const std::string& key, const std::string& value) {
    const std::string name = LowerAscii(TrimControl(key));
    const auto& rules = SettingRules();
    const auto rule = std::find_if(rules.begin(), rules.end(), [&](const auto& r) { return name == r.Key; });
    if (rule == rules.end()) return "unknown key: " + key;
    const std::string trimmed = TrimControl(value);
    std::string refused = Refusal(*rule, trimmed);
    if (!refused.empty()) return refused;
    if (name == "autostart") {
        draft.AutoStart = ParseConfigBool(trimmed);
    } else {
        draft.Text = ReplaceSettingLine(draft.Text, name, trimmed);
    }
    return {};
}

}  // namespace egaiss
