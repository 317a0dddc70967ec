#include "platform/uHttpClientShared.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/uErrors.h"

namespace egaiss::platform::httpdetail {

bool SameNameAscii(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

bool IsSuccessStatus(int code) {
    return code >= 200 && code <= 299;
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

std::string BodyTooLargeMessage(std::uint64_t limit) {
    constexpr std::uint64_t mebibyte = std::uint64_t{1024} * 1024;
    if (limit % mebibyte == 0) return "Response body exceeds " + std::to_string(limit / mebibyte) + " MiB";
    return "Response body exceeds " + std::to_string(limit) + " bytes";
}

std::string UnresolvedHostMessage(const std::string& target) {
    return target + ": connection failed (could not resolve host)";
}

std::string ConnectTimeoutMessage(const std::string& target, long long elapsedMs) {
    return target + ": connection timed out after " + std::to_string(elapsedMs) + " ms";
}

std::string ResponseTimeoutMessage(long long silentMs, std::uint64_t received) {
    return "Operation timed out after " + std::to_string(silentMs) + " ms with " + std::to_string(received) +
           " bytes received";
}

std::string LowerConnectionWord(std::string text) {
    for (std::size_t at = text.find("Connection"); at != std::string::npos;
         at = text.find("Connection", at)) {
        text[at] = 'c';
    }
    return text;
}

void CheckHeader(const THttpHeader& header) {
    const auto badInName = [](unsigned char c) { return c <= ' ' || c == ':' || c >= 127; };
    const auto badInValue = [](unsigned char c) { return c == '\r' || c == '\n' || c == '\0'; };
    if (header.Name.empty() || std::any_of(header.Name.begin(), header.Name.end(), badInName) ||
        std::any_of(header.Value.begin(), header.Value.end(), badInValue)) {
        throw EAgentError("Invalid HTTP header: " + header.Name);
    }
}

std::vector<THttpHeader> MergeHeaders(const std::vector<THttpHeader>& defaults,
                                      const std::vector<THttpHeader>& own) {
    std::vector<THttpHeader> merged;
    for (const auto& header : defaults) {
        const bool overridden = std::any_of(own.begin(), own.end(), [&](const THttpHeader& mine) {
            return SameNameAscii(mine.Name, header.Name);
        });
        if (!overridden) merged.push_back(header);
    }
    merged.insert(merged.end(), own.begin(), own.end());
    for (const auto& header : merged)
        CheckHeader(header);
    return merged;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

bool ParseStatusLine(std::string_view line, int& code, std::string& reason) {
    line = TrimBlanks(line);
    if (line.substr(0, 5) != "HTTP/") return false;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view rest = line.substr(space + 1);
    int value = 0;
    std::size_t digits = 0;
    while (digits < rest.size() && digits < 3 && std::isdigit(static_cast<unsigned char>(rest[digits]))) {
        value = value * 10 + (rest[digits] - '0');
        ++digits;
    }
    if (digits != 3) return false;
    code = value;
    reason = std::string(TrimBlanks(rest.substr(digits)));
    return true;
}

bool ParseHeaderLine(std::string_view line, THttpHeader& header) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    header.Name = std::string(TrimBlanks(line.substr(0, colon)));
    header.Value = std::string(TrimBlanks(line.substr(colon + 1)));
    return !header.Name.empty();
}

bool FoldContinuation(std::vector<THttpHeader>& headers, std::string_view line) {
    if (line.empty() || (line.front() != ' ' && line.front() != '\t')) return false;
    const std::string_view more = TrimBlanks(line);
    if (!more.empty() && !headers.empty()) {
        headers.back().Value += ' ';
        headers.back().Value += more;
    }
    return true;
}

bool AnnouncesMoreThan(const std::string& contentLength, std::uint64_t limit) {
    char* end = nullptr;
    const unsigned long long announced = std::strtoull(contentLength.c_str(), &end, 10);
    return end != contentLength.c_str() && announced > limit;
}

bool AppendWithinLimit(TBytes& body, const void* data, std::size_t length, std::uint64_t limit) {
    if (body.size() + length > limit) return false;
    if (body.size() + length > body.capacity()) {
        const std::size_t wanted = std::max(body.capacity() * 2, body.size() + length);
        body.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(wanted, limit)));
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    body.insert(body.end(), bytes, bytes + length);
    return true;
}

TRequestLimits::TRequestLimits(const THttpSettings& settings) {
    if (settings.MinimumBytesPerSecond > 0 && settings.RateWindowMs > 0) {
        FWindowMs = settings.RateWindowMs;
        FWindowMinBytes = static_cast<std::uint64_t>(settings.MinimumBytesPerSecond) *
                          static_cast<std::uint64_t>(settings.RateWindowMs) / 1000;
    } else if (settings.ResponseTimeoutMs > 0) {
        FDeadlineMs =
            static_cast<long long>(std::max(settings.ConnectTimeoutMs, 0)) + settings.ResponseTimeoutMs;
    }
}

int TRequestLimits::LongestWaitMs(int silenceMs) const {
    long long longest = silenceMs > 0 ? silenceMs : INT_MAX;
    if (FWindowMs > 0) longest = std::min(longest, FWindowMs);
    if (FDeadlineMs > 0) longest = std::min(longest, FDeadlineMs - MillisecondsSince(FStarted));
    return static_cast<int>(std::max(longest, 1LL));
}

void TRequestLimits::CountReceived(std::uint64_t bytes) {
    FReceived += bytes;
    FWindowBytes += bytes;
}

std::string TRequestLimits::Breach() {
    const auto received = [this] { return " (" + std::to_string(FReceived) + " bytes received)"; };
    if (FWindowMs > 0) {
        if (MillisecondsSince(FWindowStart) < FWindowMs) return {};
        if (FWindowBytes < FWindowMinBytes) {
            return "Transfer too slow: " + std::to_string(FWindowBytes) + " bytes in " +
                   std::to_string(FWindowMs) + " ms" + received();
        }
        FWindowStart = std::chrono::steady_clock::now();
        FWindowBytes = 0;
        return {};
    }
    if (FDeadlineMs > 0 && MillisecondsSince(FStarted) >= FDeadlineMs)
        return "Request took longer than " + std::to_string(FDeadlineMs) + " ms" + received();
    return {};
}

namespace {

constexpr int MaxRedirects = 5;

bool IsRedirectStatus(int code) {
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

void CheckRedirect(THttpTransport& transport, const THttpSettings& settings, const std::string& firstURL,
                   const std::string& fromURL, const std::string& toURL) {
    const TUrlOrigin to = transport.OriginOf(toURL);
    if (SameNameAscii(transport.OriginOf(fromURL).Scheme, "https") && !SameNameAscii(to.Scheme, "https"))
        throw ETransportError("Redirect from https to http refused: " + to.Host);
    // The request may carry the agent's credentials; they go to no other host.
    if (settings.SameHostRedirectsOnly && !SameNameAscii(transport.OriginOf(firstURL).Host, to.Host))
        throw ETransportError("Redirect to another host refused: " + to.Host);
}

}  // namespace

THttpResponse PerformFollowingRedirects(THttpTransport& transport, const THttpSettings& settings,
                                        const THttpRequest& request, const std::string* filePath) {
    TRequestLimits limits(settings);
    std::optional<THttpRequest> redirected;  // copied only when a redirect needs it
    const THttpRequest* current = &request;
    for (int followed = 0;; ++followed) {
        THttpResponse response = transport.Perform(settings, *current, filePath, limits);
        const std::string location = response.Header("Location");
        if (!settings.FollowRedirects || !IsRedirectStatus(response.StatusCode) || location.empty())
            return response;
        if (followed == MaxRedirects)
            throw ETransportError("Maximum (" + std::to_string(MaxRedirects) + ") redirects followed");
        std::string next = transport.ResolveRedirect(current->URL, location);
        CheckRedirect(transport, settings, request.URL, current->URL, next);
        // Method and body stay: a POST turned into a GET would pass the GET's answer off as the POST's.
        if (!redirected) redirected = request;
        redirected->URL = std::move(next);
        current = &*redirected;
    }
}

}  // namespace egaiss::platform::httpdetail
