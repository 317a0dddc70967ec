#include "clients/uUtmApi.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "clients/uHttpErrors.h"
#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "platform/uFileSystem.h"
#include "platform/uHttpClient.h"
#include "platform/uPath.h"

namespace egaiss {
namespace {

struct TPcreCodeFree {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct TPcreMatchFree {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

struct TRegexMatch {
    std::string_view Whole;
    std::string_view Group1;  // empty when the pattern has no group or it did not take part
};

// A case-insensitive PCRE2 pattern over bytes. The compiled code is immutable, so one object may
// serve several threads; each search brings its own match data.
class TRegex {
public:
    explicit TRegex(const std::string& pattern) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        FCode.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                  PCRE2_CASELESS, &error, &offset, nullptr));
        if (!FCode) {
            PCRE2_UCHAR message[256] = {};
            pcre2_get_error_message(error, message, sizeof message);
            throw EAgentError("Bad regular expression at " + std::to_string(offset) + ": " +
                              reinterpret_cast<const char*>(message));
        }
    }

    // Every match in order; `limit` stops after that many.
    std::vector<TRegexMatch> FindAll(std::string_view subject,
                                     std::size_t limit = std::numeric_limits<std::size_t>::max()) const {
        std::vector<TRegexMatch> matches;
        const std::unique_ptr<pcre2_match_data, TPcreMatchFree> data(
            pcre2_match_data_create_from_pattern(FCode.get(), nullptr));
        if (!data) return matches;
        const auto* bytes = reinterpret_cast<PCRE2_SPTR>(subject.data());
        PCRE2_SIZE start = 0;
        while (matches.size() < limit && start <= subject.size()) {
            const int rc = pcre2_match(FCode.get(), bytes, subject.size(), start, 0, data.get(), nullptr);
            if (rc < 0) break;  // no match, or a resource limit: nothing more is found either way
            const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
            TRegexMatch match;
            match.Whole = subject.substr(ovector[0], ovector[1] - ovector[0]);
            if (rc > 1 && ovector[2] != PCRE2_UNSET)
                match.Group1 = subject.substr(ovector[2], ovector[3] - ovector[2]);
            matches.push_back(match);
            start = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
        }
        return matches;
    }

    std::optional<TRegexMatch> FindFirst(std::string_view subject) const {
        auto matches = FindAll(subject, 1);
        if (matches.empty()) return std::nullopt;
        return matches.front();
    }

private:
    std::unique_ptr<pcre2_code, TPcreCodeFree> FCode;
};

const TRegex& AbsoluteDocUrlPattern() {
    static const TRegex pattern("https?://[^\\s<>\"']+/opt/(?:out|in)/[^\\s<>\"']+");
    return pattern;
}
const TRegex& UrlElementPattern() {
    static const TRegex pattern("<url\\b[^>]*>([^<]+)</url>");
    return pattern;
}
const TRegex& AbsoluteUrlPattern() {
    static const TRegex pattern("https?://[^\\s<>\"']+");
    return pattern;
}
const TRegex& ErrorElementPattern() {
    static const TRegex pattern("<(?:[^:<>\\s/]+:)?error(?:\\s[^>]*)?>([^<]*)");
    return pattern;
}
const TRegex& AnyUrlElementPattern() {
    static const TRegex pattern("<(?:[^:<>\\s/]+:)?url[\\s>]");
    return pattern;
}

// Lower case for ASCII and Cyrillic, the letters the UTM and the system's messages use.
std::string LowerText(std::string_view text) {
    std::string lower(text);
    for (std::size_t i = 0; i < lower.size(); ++i) {
        auto& c = reinterpret_cast<unsigned char&>(lower[i]);
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<unsigned char>(c + 32);
        } else if (c == 0xD0 && i + 1 < lower.size()) {
            auto& next = reinterpret_cast<unsigned char&>(lower[i + 1]);
            if (next >= 0x80 && next <= 0x8F) {  // U+0400..U+040F -> U+0450..U+045F
                c = 0xD1;
                next = static_cast<unsigned char>(next + 0x10);
            } else if (next >= 0x90 && next <= 0x9F) {  // U+0410..U+041F -> U+0430..U+043F
                next = static_cast<unsigned char>(next + 0x20);
            } else if (next >= 0xA0 && next <= 0xAF) {  // U+0420..U+042F -> U+0440..U+044F
                c = 0xD1;
                next = static_cast<unsigned char>(next - 0x20);
            }
            ++i;
        }
    }
    return lower;
}

// Whole text as a 32-bit signed integer: an optional sign and decimal digits.
bool ReadsAsInteger(std::string_view text) {
    std::size_t pos = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) pos = 1;
    if (pos == text.size()) return false;
    std::int64_t value = 0;
    for (; pos < text.size(); ++pos) {
        if (text[pos] < '0' || text[pos] > '9') return false;
        value = value * 10 + (text[pos] - '0');
        if (value > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) return false;
    }
    return text[0] == '-' || value <= std::numeric_limits<std::int32_t>::max();
}

std::string EscapeRegex(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum && byte < 0x80) escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// Compiled once per tag name: the callers ask for the same few tags at every diagnosis.
const TRegex& TagTextPattern(const std::string& tag) {
    static std::mutex lock;
    static std::map<std::string, TRegex, std::less<>> patterns;
    const std::lock_guard guard(lock);
    auto found = patterns.find(tag);
    if (found == patterns.end()) {
        found = patterns.try_emplace(tag, "<(?:[^:>]+:)?" + EscapeRegex(tag) + "[^>]*>([^<]*)<").first;
    }
    return found->second;
}

// Removes the temporary upload file on every way out of SendDocument.
class TTempFileGuard {
public:
    explicit TTempFileGuard(std::string path) : FPath(std::move(path)) {}
    ~TTempFileGuard() {
        std::error_code ignored;
        std::filesystem::remove(Utf8Path(FPath), ignored);
    }
    TTempFileGuard(const TTempFileGuard&) = delete;
    TTempFileGuard& operator=(const TTempFileGuard&) = delete;

private:
    std::string FPath;
};

// The error a UTM reply reports instead of accepting the document: the text of an error element
// in an answer that carries no url element.
std::optional<std::string> UtmReplyError(const std::string& reply) {
    const auto error = ErrorElementPattern().FindFirst(reply);
    if (!error || AnyUrlElementPattern().FindFirst(reply)) return std::nullopt;
    return TrimControl(error->Group1);
}

// A path segment that names "." or ".." (a dot may be written %2E).
std::size_t DotCount(std::string_view segment) {
    std::string decoded;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%' && segment.size() - i >= 3 && LowerText(segment.substr(i, 3)) == "%2e") {
            decoded += '.';
            i += 2;
        } else {
            decoded += segment[i];
        }
    }
    return decoded == "." ? 1 : decoded == ".." ? 2 : 0;
}

// The path with its "." and ".." segments applied. A backslash separates segments as "/" does,
// because some servers read it so.
std::string RemoveDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    bool trailingSlash = false;
    std::size_t start = path.empty() || (path.front() != '/' && path.front() != '\\') ? 0 : 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of("/\\", start), path.size());
        const std::string_view segment = path.substr(start, end - start);
        const std::size_t dots = DotCount(segment);
        if (dots == 2 && !segments.empty()) segments.pop_back();
        if (dots == 0) segments.push_back(segment);
        trailingSlash = dots != 0;
        start = end + 1;
    }
    std::string result;
    for (const auto segment : segments)
        result.append("/").append(segment);
    if (trailingSlash || result.empty()) result += '/';
    return result;
}

// Path and query of an absolute URL, the path's dot segments removed; the fragment is dropped.
std::string PathAndQuery(std::string_view url) {
    const std::size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    const std::size_t pathStart = rest.find_first_of("/\\?#");
    rest = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    rest = rest.substr(0, rest.find('#'));
    const std::size_t query = rest.find('?');
    std::string result = RemoveDotSegments(rest.substr(0, query));
    if (query != std::string_view::npos) result += rest.substr(query);
    return result;
}

constexpr std::string_view OutSidePath = "/opt/out/";

bool IsOutDocumentPath(std::string_view pathAndQuery) {
    return pathAndQuery.size() > OutSidePath.size() &&
           LowerText(pathAndQuery.substr(0, OutSidePath.size())) == OutSidePath &&
           pathAndQuery[OutSidePath.size()] != '?';
}

}  // namespace

TUtmApi::TUtmApi(const std::string& baseURL)
    : FBaseURL(baseURL), FHttp(std::make_unique<platform::THttpClient>()) {
    while (!FBaseURL.empty() && FBaseURL.back() == '/')
        FBaseURL.pop_back();
}

TUtmApi::~TUtmApi() = default;
TUtmApi::TUtmApi(TUtmApi&&) noexcept = default;
TUtmApi& TUtmApi::operator=(TUtmApi&&) noexcept = default;

std::string TUtmApi::GetText(const std::string& url, bool quick) {
    LogStep("UTM GET", url);
    ConfigureUtmClient(*FHttp, quick);
    platform::THttpRequest request;
    request.Method = platform::THttpMethod::hmGet;
    request.URL = url;
    platform::THttpResponse response;
    try {
        response = FHttp->Send(request);
    } catch (const std::exception& error) {
        LogException("UTM GET transport", error);
        throw;
    }
    char line[64];
    std::snprintf(line, sizeof line, "UTM GET status=%d url=", response.StatusCode);
    LogDebug(line + url);
    if (response.StatusCode >= 400) throw NewHttpError(response);
    std::string body = HttpResponseAsUtf8(response);
    LogStep("UTM GET done", "chars=" + std::to_string(TextLength(body)));
    return body;
}

void TUtmApi::DeleteURL(const std::string& url) {
    ConfigureUtmClient(*FHttp, false);
    platform::THttpRequest request;
    request.Method = platform::THttpMethod::hmDelete;
    request.URL = url;
    const platform::THttpResponse response = FHttp->Send(request);
    if (response.StatusCode >= 400 && response.StatusCode != 404) throw NewHttpError(response);
}

bool TUtmApi::Ping() {
    try {
        GetText(FBaseURL + "/", true);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string TUtmApi::FetchVersion() {
    for (const char* path : {"/info/version", "/api/info/version", "/info/"}) {
        try {
            std::string version = TrimControl(GetText(FBaseURL + path, true));
            if (!version.empty()) return version;
        } catch (const std::exception&) {
            // The next path may answer; GetText has logged this one.
        }
    }
    return {};
}

void TUtmApi::FetchDiagnosis(TUtmDiagnosis& diagnosis) {
    diagnosis = TUtmDiagnosis();
    diagnosis.UtmReachable = Ping();
    diagnosis.UtmVersion = FetchVersion();
    if (!diagnosis.UtmReachable) {
        diagnosis.ErrorText = "HTTP unavailable";
        return;
    }
    try {
        const std::string xml = GetText(FBaseURL + "/diagnosis", true);
        diagnosis.CertCn = XmlTagText(xml, "CN");
        diagnosis.CertO = XmlTagText(xml, "O");
        diagnosis.CertOu = XmlTagText(xml, "OU");
        diagnosis.FsrarId = ExtractFsrarId(diagnosis.CertCn);
        // Outside the CN only a marked id counts: the digits of any answer (its XML declaration,
        // dates) would otherwise pass for an id when no token is plugged in.
        if (diagnosis.FsrarId.empty() && Contains(LowerText(xml), "fsrar-rsa-"))
            diagnosis.FsrarId = ExtractFsrarId(xml);
        diagnosis.OK = !diagnosis.FsrarId.empty();
        if (!diagnosis.OK) diagnosis.ErrorText = "No FSRAR_ID (CN) in /diagnosis. Check USB token.";
    } catch (const std::exception& error) {
        diagnosis.ErrorText = ConnectionErrorText(error.what());
        diagnosis.OK = false;
    }
}

std::vector<std::string> TUtmApi::ListOutURLs() {
    std::vector<std::string> urls;
    std::unordered_set<std::string> seen;  // lower-cased
    const auto add = [&](std::string url) {
        if (url.empty()) return;
        // A URL no request can carry would fail every cycle at the same place and hold up the
        // documents listed after it.
        const auto isControl = [](char c) { return static_cast<unsigned char>(c) < ' ' || c == '\x7F'; };
        if (std::any_of(url.begin(), url.end(), [&](char c) { return c == ' ' || isControl(c); })) {
            std::string shown = TextLeft(url, 160);
            std::replace_if(shown.begin(), shown.end(), isControl, '?');
            LogInfo("UTM /opt/out: skipped malformed URL: " + shown);
            return;
        }
        // Whatever the list says, only documents of the out side are fetched and deleted.
        if (!IsOutDocumentPath(PathAndQuery(ResolveURL(FBaseURL, url)))) {
            LogInfo("UTM /opt/out: skipped URL outside /opt/out/: " + TextLeft(url, 160));
            return;
        }
        if (seen.insert(LowerText(url)).second) urls.push_back(std::move(url));
    };

    const std::string body = GetText(FBaseURL + "/opt/out?refresh=true", false);

    for (const auto& match : AbsoluteDocUrlPattern().FindAll(body)) {
        std::string url = TrimControl(match.Whole);
        while (!url.empty() && std::string_view(")],.;").find(url.back()) != std::string_view::npos)
            url.pop_back();
        add(std::move(url));
    }
    if (!urls.empty()) return urls;

    for (const auto& match : UrlElementPattern().FindAll(body))
        add(TrimControl(match.Group1));
    if (!urls.empty()) return urls;

    for (const auto& raw : SplitTextLines(body)) {
        std::string line = TrimControl(raw);
        if (LowerText(line).starts_with("http") && Contains(line, "/opt/") && !Contains(line, "<"))
            add(std::move(line));
    }
    return urls;
}

// A listed URL names the document, but the configured UTM decides where the request goes.
std::string TUtmApi::DocumentRequestURL(const std::string& docURL) const {
    return FBaseURL + PathAndQuery(ResolveURL(FBaseURL, docURL));
}

std::string TUtmApi::FetchDocument(const std::string& docURL) {
    return GetText(DocumentRequestURL(docURL), false);
}

void TUtmApi::DeleteDocument(const std::string& docURL) {
    DeleteURL(DocumentRequestURL(docURL));
}

bool TUtmApi::SendDocument(const std::string& docType, const std::string& xml, std::string& utmURL,
                           std::string& utmResponse) {
    utmURL.clear();
    utmResponse.clear();
    const std::string path = MakeTempFilePath("velmora_egaiss_", ".xml");
    LogStep("UTM POST prepare", "tmp=" + path);
    const TTempFileGuard removeTemp(path);
    try {
        WriteUtf8TextFile(path, xml, false);
    } catch (const std::exception& error) {
        LogException("UTM WriteUtf8NoBom tmp xml", error);
        throw;
    }

    platform::THttpRequest request;
    request.Method = platform::THttpMethod::hmPost;
    LogStep("UTM POST AddFile", path);
    try {
        platform::THttpFilePart part;
        part.FieldName = "xml_file";
        part.FileName = PathUtf8(Utf8Path(path).filename());
        part.ContentType = "text/xml";
        part.Bytes = ToBytes(platform::ReadWholeFile(path));
        request.FilePart = std::move(part);
    } catch (const std::exception& error) {
        LogException("UTM MultipartFormData.AddFile", error);
        throw;
    }

    ConfigureUtmClient(*FHttp, false);
    request.URL = FBaseURL + "/opt/in/" + docType;
    LogStep("UTM POST", request.URL);
    platform::THttpResponse response;
    try {
        response = FHttp->Send(request);
    } catch (const std::exception& error) {
        LogException("UTM POST transport", error);
        throw;
    }
    char line[48];
    std::snprintf(line, sizeof line, "UTM POST status=%d", response.StatusCode);
    LogDebug(line);
    if (response.StatusCode >= 400) {
        std::string body;
        try {
            body = HttpBodyToText(response.Body);
        } catch (const std::exception&) {
            // NewHttpError reports an undecodable body itself.
        }
        if (const auto refusal = UtmReplyError(body)) throw EUtmError("UTM error: " + *refusal);
        throw NewHttpError(response);
    }

    const std::string reply = TrimControl(HttpResponseAsUtf8(response));
    // A UTM that refuses a document may still answer 200; without this the sync would mark the
    // document sent although EGAIS never got it.
    if (const auto refusal = UtmReplyError(reply)) throw EUtmError("UTM error: " + *refusal);
    utmResponse = reply;
    utmURL = reply;
    if (Contains(LowerText(reply), "http")) {
        std::size_t start = 0;
        while (start <= reply.size()) {
            const std::size_t end = reply.find_first_of(" \r\n", start);
            const std::string piece = TrimControl(std::string_view(reply).substr(start, end - start));
            if (LowerText(piece).starts_with("http")) {
                utmURL = piece;
                break;
            }
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    LogStep("UTM POST done", "url=" + utmURL);
    return true;
}

std::string TUtmApi::GuessDocType(const std::string& docURL, const std::string& xml) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = docURL.find('/', start);
        parts.push_back(std::string_view(docURL).substr(start, slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        if (!part->empty() && !ReadsAsInteger(*part)) return std::string(*part);
    }

    const std::size_t colon = xml.find(':');
    if (colon == std::string::npos) return {};
    const std::size_t position = TextLength(std::string_view(xml).substr(0, colon)) + 1;
    if (position <= 1 || position >= 40) return {};
    // The characters between the first one (normally "<") and the colon.
    const std::string head = xml.substr(0, colon);
    const std::size_t firstLength = TextLeft(head, 1).size();
    return head.substr(firstLength);
}

std::string TUtmApi::ResolveURL(const std::string& base, const std::string& ref) {
    std::string r = TrimControl(ref);
    if (Contains(r, "<")) {
        if (const auto match = AbsoluteUrlPattern().FindFirst(r)) r = TrimControl(match->Whole);
    }
    const std::string lower = LowerText(r);
    if (lower.starts_with("http://") || lower.starts_with("https://")) return r;
    if (r.empty()) return base + "/";
    if (r.front() == '/') return base + r;
    return base + "/" + r;
}

std::string XmlTagText(const std::string& xml, const std::string& tag) {
    if (xml.empty()) return {};
    const auto match = TagTextPattern(tag).FindFirst(xml);
    return match ? TrimControl(match->Group1) : std::string();
}

std::string ExtractFsrarId(const std::string& text) {
    const std::string trimmed = TrimControl(text);
    if (trimmed.empty()) return {};
    std::string_view rest = trimmed;
    // Byte offsets agree between the text and its upper-case form: only ASCII letters change.
    std::string upper = trimmed;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    const std::size_t prefix = upper.find("FSRAR-RSA-");
    if (prefix != std::string::npos) rest = rest.substr(prefix + 10);
    std::string digits;
    for (const char c : rest) {
        if (c >= '0' && c <= '9') digits += c;
    }
    return digits;
}

std::string ConnectionErrorText(const std::string& message) {
    const std::string lower = LowerText(message);
    if (Contains(message, "12029") || Contains(lower, "error sending data") ||
        Contains(lower, "не удается") || Contains(lower, "connection")) {
        return "Failed to connect to UTM";
    }
    return message.empty() ? "HTTP unavailable" : message;
}

}  // namespace egaiss
