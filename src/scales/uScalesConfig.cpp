#include "scales/uScalesConfig.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <set>

#include "core/uEgaissConfig.h"
#include "core/uEgaissRu.h"
#include "platform/uFileSystem.h"

namespace egaiss {
namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr int MaxScalePollSeconds = 60;

struct TBrandInfo {
    const char* Key;
    const char* Title;
    const char* ExpectFile;
};

constexpr std::array<TBrandInfo, ScaleBrandCount> BrandInfos = {{
    {"massa", "Масса-К", "massa_k*.csv"},
    {"shtrih", "Штрих", "shtrih*.txt"},
    {"cas", "CAS", "cas*.csv"},
    {"digi", "DIGI", "digi*.csv"},
}};

bool IsKnownBrand(int brand) {
    return brand >= 0 && brand < ScaleBrandCount;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::optional<int> ParseInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

int IntegerOr(std::string_view text, int fallback) {
    return ParseInteger(text).value_or(fallback);
}

// Only "1" and "true" switch a scale setting on (unlike the agent's own flags, "yes" does not).
bool IsTrueFlag(const std::string& value) {
    const std::string lower = LowerAscii(TrimControl(value));
    return lower == "1" || lower == "true";
}

bool IsBlank(const std::string& text) {
    return TrimControl(text).empty();
}

// A line break inside a value would split the saved line and smuggle in a key of its own.
std::string SingleLine(std::string value) {
    std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
    return value;
}

std::optional<TConfigLine> ParseScalesLine(const std::string& line) {
    return ParseConfigLine(line);
}

bool IsScaleKey(const std::string& key) {
    if (key == "mac_addr" || key == "scales_enabled" || key == "vesi_dir" || key == "vesi_poll_seconds" ||
        key == "scales_count" || key.starts_with("scale_")) {
        return true;
    }
    return std::any_of(BrandInfos.begin(), BrandInfos.end(),
                       [&](const TBrandInfo& info) { return key.starts_with(std::string(info.Key) + "_"); });
}

std::set<std::string> KeysSetIn(const std::string& text) {
    std::set<std::string> keys;
    for (const std::string& line : SplitTextLines(text)) {
        if (const auto parsed = ParseConfigLine(line)) keys.insert(parsed->Key);
    }
    return keys;
}

void ApplyBrandSuffix(TScaleBrandConfig& brand, const std::string& suffix, const std::string& value) {
    if (suffix == "enabled") {
        brand.Enabled = IsTrueFlag(value);
    } else if (suffix == "dir" || suffix == "vesi_dir") {
        brand.VesiDir = value;
    } else if (suffix == "file" || suffix == "expect_file") {
        brand.ExpectFile = value;
    } else if (suffix == "poll_seconds" || suffix == "poll") {
        brand.PollSeconds = IntegerOr(value, DefaultScalePollSeconds);
    } else if (suffix == "search_subnets") {
        brand.SearchSubnets = value;
    } else if (!suffix.empty() && suffix[0] >= '0' && suffix[0] <= '9') {
        TScaleEndpoint endpoint = TScaleEndpoint::FromLine(value);
        if (!endpoint.Host.empty()) brand.Scales.push_back(std::move(endpoint));
    }
    // "count" is informational; other suffixes are unknown and skipped.
}

void ApplyClamps(TScaleBrandConfig& brand, int number) {
    if (IsBlank(brand.VesiDir)) brand.VesiDir = DefaultVesiDir;
    if (IsBlank(brand.ExpectFile)) brand.ExpectFile = DefaultExpectFile(number);
    if (brand.PollSeconds < 1) brand.PollSeconds = DefaultScalePollSeconds;
    if (brand.PollSeconds > MaxScalePollSeconds) brand.PollSeconds = MaxScalePollSeconds;
}

void AppendBrandLines(std::vector<std::string>& lines, const TScaleBrandConfig& brand, int number) {
    const std::string key = ScaleBrandKey(number);
    lines.push_back(key + "_enabled=" + (brand.Enabled ? "1" : "0"));
    lines.push_back(key + "_dir=" + SingleLine(brand.VesiDir));
    lines.push_back(key + "_file=" + SingleLine(brand.ExpectFile));
    lines.push_back(key + "_poll_seconds=" + std::to_string(brand.PollSeconds));
    if (!IsBlank(brand.SearchSubnets))
        lines.push_back(key + "_search_subnets=" + SingleLine(brand.SearchSubnets));
    lines.push_back(key + "_count=" + std::to_string(brand.Scales.size()));
    for (std::size_t i = 0; i < brand.Scales.size(); ++i) {
        lines.push_back(key + "_" + std::to_string(i) + "=" + SingleLine(brand.Scales[i].AsLine()));
    }
}

// --- file masks -------------------------------------------------------------------------------

struct TLeadByte {
    int Length = 0;  // 0 for a byte that cannot start a sequence
    char32_t Bits = 0;
    char32_t Minimum = 0;  // smaller values are overlong forms
};

TLeadByte DescribeLeadByte(unsigned char lead) {
    if (lead < 0x80) return {1, lead, 0};
    if ((lead & 0xE0) == 0xC0) return {2, lead & 0x1Fu, 0x80};
    if ((lead & 0xF0) == 0xE0) return {3, lead & 0x0Fu, 0x800};
    if ((lead & 0xF8) == 0xF0) return {4, lead & 0x07u, 0x10000};
    return {};
}

// Bytes that are not valid UTF-8 become code points of the lone-surrogate range, one per byte, so
// that they still compare exactly and never equal a real character.
std::u32string DecodeForMatching(std::string_view text) {
    std::u32string result;
    result.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        const auto [length, bits, minimum] = DescribeLeadByte(lead);
        char32_t code = bits;
        bool valid = length > 0 && pos + static_cast<std::size_t>(length) <= text.size();
        for (int i = 1; valid && i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        valid = valid && code >= minimum && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (valid) {
            result.push_back(code);
            pos += static_cast<std::size_t>(length);
        } else {
            result.push_back(0xDC00 + lead);
            ++pos;
        }
    }
    return result;
}

// Price files come from a Russian ERP on Windows, where names compare without case in Cyrillic as
// well as in Latin; the file system the agent watches behaves the same way.
char32_t FoldCase(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;  // Latin-1 capitals
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;             // А..Я
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;             // Ѐ..Џ, with Ё, Є, І, Ї, Ў
    return c;
}

struct TMaskToken {
    enum TKind { mkLiteral, mkAnyOne, mkAnyRun, mkSet } Kind = mkLiteral;
    char32_t Literal = 0;
    bool Negated = false;
    std::vector<std::pair<char32_t, char32_t>> Ranges;

    bool MatchesOne(char32_t folded) const {
        switch (Kind) {
            case mkLiteral:
                return folded == Literal;
            case mkAnyOne:
                return true;
            case mkSet: {
                const bool inSet = std::any_of(Ranges.begin(), Ranges.end(), [&](const auto& range) {
                    return folded >= range.first && folded <= range.second;
                });
                return inSet != Negated;
            }
            case mkAnyRun:
                break;
        }
        return false;
    }
};

// An opening bracket without its closing one stands for itself.
std::vector<TMaskToken> CompileMask(const std::u32string& mask) {
    std::vector<TMaskToken> tokens;
    std::size_t pos = 0;
    while (pos < mask.size()) {
        const char32_t c = mask[pos];
        TMaskToken token;
        if (c == U'*') {
            ++pos;
            if (!tokens.empty() && tokens.back().Kind == TMaskToken::mkAnyRun) continue;
            token.Kind = TMaskToken::mkAnyRun;
        } else if (c == U'?') {
            ++pos;
            token.Kind = TMaskToken::mkAnyOne;
        } else if (c == U'[' && mask.find(U']', pos + 1) != std::u32string::npos) {
            const std::size_t close = mask.find(U']', pos + 1);
            std::size_t item = pos + 1;
            token.Kind = TMaskToken::mkSet;
            if (item < close && mask[item] == U'!') {
                token.Negated = true;
                ++item;
            }
            while (item < close) {
                const char32_t first = FoldCase(mask[item]);
                if (item + 2 < close && mask[item + 1] == U'-') {
                    token.Ranges.emplace_back(first, FoldCase(mask[item + 2]));
                    item += 3;
                } else {
                    token.Ranges.emplace_back(first, first);
                    ++item;
                }
            }
            pos = close + 1;
        } else {
            ++pos;
            token.Literal = FoldCase(c);
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

// Every token but "*" takes one character, so a single backtrack point to the last "*" suffices.
bool MatchTokens(const std::vector<TMaskToken>& tokens, const std::u32string& name) {
    std::size_t n = 0;
    std::size_t t = 0;
    std::size_t starToken = std::u32string::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (t < tokens.size() && tokens[t].Kind == TMaskToken::mkAnyRun) {
            starToken = t++;
            starName = n;
        } else if (t < tokens.size() && tokens[t].MatchesOne(name[n])) {
            ++t;
            ++n;
        } else if (starToken != std::u32string::npos) {
            t = starToken + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (t < tokens.size() && tokens[t].Kind == TMaskToken::mkAnyRun)
        ++t;
    return t == tokens.size();
}

std::u32string FoldedText(std::string_view text) {
    std::u32string folded = DecodeForMatching(text);
    for (char32_t& c : folded)
        c = FoldCase(c);
    return folded;
}

}  // namespace

// --- endpoints ----------------------------------------------------------------------------------

std::string TScaleEndpoint::AsLine() const {
    std::string line = TrimControl(Host) + ":" + std::to_string(Port);
    if (const std::string serial = TrimControl(Serial); !serial.empty()) line += ":" + serial;
    if (!Enabled) line += ":off";
    return line;
}

TScaleEndpoint TScaleEndpoint::FromLine(std::string_view text) {
    TScaleEndpoint endpoint;
    const std::string trimmed = TrimControl(text);
    if (trimmed.empty()) return endpoint;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = trimmed.find(':', start);
        fields.push_back(TrimControl(std::string_view(trimmed).substr(start, colon - start)));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    endpoint.Host = fields[0];
    if (fields.size() > 1) endpoint.Port = IntegerOr(fields[1], DefaultScalePort());
    for (std::size_t i = 2; i < fields.size(); ++i) {
        if (LowerAscii(fields[i]) == "off") {
            endpoint.Enabled = false;
        } else if (endpoint.Serial.empty()) {
            endpoint.Serial = fields[i];
        }
    }
    // A port beyond 65535 would be cut to some other port by the socket layer.
    if (endpoint.Port <= 0 || endpoint.Port > 65535) endpoint.Port = DefaultScalePort();
    return endpoint;
}

// --- brands -------------------------------------------------------------------------------------

std::string ScaleBrandKey(int brand) {
    return IsKnownBrand(brand) ? BrandInfos[brand].Key : "unknown";
}

std::string ScaleBrandTitle(int brand) {
    return IsKnownBrand(brand) ? BrandInfos[brand].Title : "?";
}

std::string DefaultExpectFile(int brand) {
    return IsKnownBrand(brand) ? BrandInfos[brand].ExpectFile : "";
}

int DefaultScalePort(int /*brand*/) {
    return 5001;
}

bool IsBrandSupported(int brand) {
    return brand == sbMassaK;
}

TScaleBrandConfig DefaultBrandConfig(int brand) {
    TScaleBrandConfig cfg;
    cfg.ExpectFile = DefaultExpectFile(brand);
    return cfg;
}

std::array<TScaleBrandConfig, ScaleBrandCount> DefaultBrandConfigs() {
    std::array<TScaleBrandConfig, ScaleBrandCount> brands;
    for (int b = 0; b < ScaleBrandCount; ++b)
        brands[b] = DefaultBrandConfig(b);
    return brands;
}

// --- settings file ------------------------------------------------------------------------------

TScalesConfig ParseScalesConfigText(const std::string& text) {
    TScalesConfig cfg;
    TScaleBrandConfig& massa = cfg.Brands[sbMassaK];
    std::vector<TScaleEndpoint> legacyScales;
    for (const std::string& line : SplitTextLines(text)) {
        const auto parsed = ParseScalesLine(line);
        if (!parsed) continue;
        const std::string& key = parsed->Key;
        const std::string& value = parsed->Value;
        if (key == "mac_addr") {
            cfg.MacAddr = UpperAscii(value);
        } else if (key == "scales_enabled") {
            massa.Enabled = IsTrueFlag(value);
        } else if (key == "vesi_dir") {
            massa.VesiDir = value;
        } else if (key == "vesi_poll_seconds") {
            massa.PollSeconds = IntegerOr(value, DefaultScalePollSeconds);
        } else if (key.starts_with("scale_")) {
            TScaleEndpoint endpoint = TScaleEndpoint::FromLine(value);
            if (!endpoint.Host.empty()) legacyScales.push_back(std::move(endpoint));
        } else {
            for (int b = 0; b < ScaleBrandCount; ++b) {
                const std::string prefix = ScaleBrandKey(b) + "_";
                if (!key.starts_with(prefix)) continue;
                ApplyBrandSuffix(cfg.Brands[b], key.substr(prefix.size()), value);
                break;
            }
        }
    }
    // Older versions knew one brand; their list counts only when the current form has none.
    if (massa.Scales.empty()) massa.Scales = std::move(legacyScales);
    for (int b = 0; b < ScaleBrandCount; ++b)
        ApplyClamps(cfg.Brands[b], b);
    return cfg;
}

TScalesConfig LoadScalesConfig() {
    const std::string text = ReadConfigText();
    TScalesConfig cfg = text.empty() ? TScalesConfig{} : ParseScalesConfigText(text);
    if (cfg.MacAddr.empty()) cfg.MacAddr = DetectMacAddress();
    return cfg;
}

void SaveScalesConfig(const TScalesConfig& cfg) {
    const std::string path = ConfigFilePath();
    // An unreadable file raises here rather than being replaced by the scale lines alone.
    std::vector<std::string> lines = SplitTextLines(ReadConfigText());
    std::erase_if(lines, [](const std::string& line) {
        const auto parsed = ParseScalesLine(line);
        return parsed && IsScaleKey(parsed->Key);
    });
    if (!cfg.MacAddr.empty()) lines.push_back("mac_addr=" + SingleLine(UpperAscii(cfg.MacAddr)));
    for (int b = 0; b < ScaleBrandCount; ++b)
        AppendBrandLines(lines, cfg.Brands[b], b);

    std::string content(Utf8Bom);
    for (const std::string& line : lines)
        content += line + "\r\n";
    // Same file as the agent settings, which hold the agent secret.
    platform::WriteFileAtomically(path, content, platform::TFileAccess::faOwnerOnly);
}

// --- MAC address --------------------------------------------------------------------------------

std::string DetectMacAddress(const std::vector<platform::TNetAdapter>& adapters) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    for (const platform::TNetAdapter& adapter : adapters) {
        if (adapter.Loopback || adapter.PhysicalAddress.size() < 6) continue;
        std::string text;
        for (std::size_t i = 0; i < adapter.PhysicalAddress.size() && i < 8; ++i) {
            text += Hex[adapter.PhysicalAddress[i] >> 4];
            text += Hex[adapter.PhysicalAddress[i] & 0x0F];
        }
        return text.substr(0, 12);
    }
    return {};
}

std::string DetectMacAddress() {
    return DetectMacAddress(platform::ListNetAdapters());
}

std::string EnsureMacAddr(TScalesConfig& cfg) {
    if (IsBlank(cfg.MacAddr)) cfg.MacAddr = DetectMacAddress();
    return cfg.MacAddr;
}

// --- readiness ----------------------------------------------------------------------------------

bool HasEnabledScale(const TScaleBrandConfig& brand) {
    return std::any_of(brand.Scales.begin(), brand.Scales.end(),
                       [](const TScaleEndpoint& scale) { return scale.Enabled && !IsBlank(scale.Host); });
}

bool IsBrandReady(const TScaleBrandConfig& brand) {
    return !IsBlank(brand.VesiDir) && !IsBlank(brand.ExpectFile) && HasEnabledScale(brand);
}

bool IsBrandActive(const TScaleBrandConfig& brand) {
    return brand.Enabled && IsBrandReady(brand);
}

std::string BrandHint(const TScaleBrandConfig& brand) {
    if (IsBlank(brand.VesiDir)) return "Set scales folder path.";
    if (IsBlank(brand.ExpectFile)) return "Set expected file name or mask.";
    if (!HasEnabledScale(brand)) return "Add or find scales on the network.";
    if (brand.Enabled) return {};
    return "Enable brand checkbox or use Load now.";
}

bool AnyBrandActive(const TScalesConfig& cfg) {
    for (int b = 0; b < ScaleBrandCount; ++b) {
        if (IsBrandSupported(b) && IsBrandActive(cfg.Brands[b])) return true;
    }
    return false;
}

int ScalesPollSeconds(const TScalesConfig& cfg) {
    for (const TScaleBrandConfig& brand : cfg.Brands) {
        if (!IsBrandActive(brand)) continue;
        return brand.PollSeconds > 0 ? brand.PollSeconds : DefaultScalePollSeconds;
    }
    return DefaultScalePollSeconds;
}

// --- file masks ---------------------------------------------------------------------------------

bool MatchesExpectFile(std::string_view fileName, std::string_view mask) {
    // Names arrive as Windows or POSIX paths, so both separators count.
    const std::size_t separator = fileName.find_last_of("/\\");
    const std::string_view name =
        separator == std::string_view::npos ? fileName : fileName.substr(separator + 1);
    const std::string trimmedMask = TrimControl(mask);
    if (trimmedMask.empty()) return false;
    if (trimmedMask.find_first_of("*?") == std::string::npos)
        return FoldedText(name) == FoldedText(trimmedMask);
    return MatchTokens(CompileMask(DecodeForMatching(trimmedMask)), FoldedText(name));
}

TEgaissConfig SaveConfigDraftKeepingScales(const TConfigDraft& draft) {
    const std::set<std::string> drafted = KeysSetIn(draft.Text);
    std::string text = draft.Text;
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    for (const std::string& line : SplitTextLines(ReadConfigText())) {
        const auto parsed = ParseConfigLine(line);
        if (parsed && IsScaleKey(parsed->Key) && !drafted.contains(parsed->Key)) text += line + "\r\n";
    }
    return SaveConfigDraft({text, draft.AutoStart});
}

}  // namespace egaiss
