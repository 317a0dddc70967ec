#pragma once
// Pieces both HTTP client implementations share; not part of the client's interface.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/uHttpClient.h"

namespace egaiss::platform::httpdetail {

// What a client is told before its requests.
struct THttpSettings {
    int ConnectTimeoutMs = 60000;
    int ResponseTimeoutMs = 30000;
    bool FollowRedirects = true;
    bool SameHostRedirectsOnly = false;
    // Both above 0: a minimum rate replaces the whole-request deadline.
    int MinimumBytesPerSecond = 0;
    int RateWindowMs = 0;
    std::uint64_t MaxBodyBytes = MaxHttpBodyBytes;
    std::vector<THttpHeader> DefaultHeaders;
};

// The limits of one request as a whole, redirects included: a deadline of the connect plus the
// response time-out, or for large downloads a minimum rate measured over fixed windows.
class TRequestLimits {
public:
    explicit TRequestLimits(const THttpSettings& settings);

    // The longest one wait for data may last: `silenceMs` (no limit when 0), cut to the time left to
    // the deadline or to one rate window, past which a limit is passed for sure; at least 1.
    int LongestWaitMs(int silenceMs) const;
    void CountReceived(std::uint64_t bytes);
    // Why the request must stop now; empty while it may go on.
    std::string Breach();

private:
    using TClock = std::chrono::steady_clock;

    TClock::time_point FStarted = TClock::now();
    long long FDeadlineMs = 0;  // 0: none
    long long FWindowMs = 0;    // 0: no minimum rate
    std::uint64_t FWindowMinBytes = 0;
    TClock::time_point FWindowStart = FStarted;
    std::uint64_t FWindowBytes = 0;
    std::uint64_t FReceived = 0;
};

// Scheme and host of an absolute URL, as a transport reads them to connect.
struct TUrlOrigin {
    std::string Scheme;
    std::string Host;
};

// The system's HTTP library behind one client; it keeps the connection between requests.
class THttpTransport {
public:
    virtual ~THttpTransport() = default;
    // One request as THttpClient::Send (`filePath` null) or DownloadToFile describe it, without
    // following a redirect.
    virtual THttpResponse Perform(const THttpSettings& settings, const THttpRequest& request,
                                  const std::string* filePath, TRequestLimits& limits) = 0;
    // The absolute URL a Location value names, read against `base`. Raises ETransportError for a value
    // that is no URL.
    virtual std::string ResolveRedirect(const std::string& base, const std::string& location) = 0;
    // Raises ETransportError for a URL the transport could not connect to.
    virtual TUrlOrigin OriginOf(const std::string& url) = 0;
};

// Sends `request`, following redirects as `settings` allow: at most 5, each keeping the method,
// headers and body, never from https to http, and only to the first host when the client is locked
// to it.
THttpResponse PerformFollowingRedirects(THttpTransport& transport, const THttpSettings& settings,
                                        const THttpRequest& request, const std::string* filePath);

// Per system. Raises ETransportError when the HTTP library cannot start.
std::unique_ptr<THttpTransport> NewHttpTransport();

bool SameNameAscii(std::string_view a, std::string_view b);

bool IsSuccessStatus(int code);

long long MillisecondsSince(std::chrono::steady_clock::time_point start);

// "Response body exceeds 256 MiB" for the default limit.
std::string BodyTooLargeMessage(std::uint64_t limit);

// Failure texts both systems give alike; `target` is "Failed to connect to <host> port <port>".
std::string UnresolvedHostMessage(const std::string& target);
std::string ConnectTimeoutMessage(const std::string& target, long long elapsedMs);
std::string ResponseTimeoutMessage(long long silentMs, std::uint64_t received);

// The system's texts say "Connection refused", "Connection reset by peer" and the like; callers
// look for the word in lower case.
std::string LowerConnectionWord(std::string text);

// Raises EAgentError for a name or value that would break the header block (CR, LF, NUL, a colon
// or blank in the name).
void CheckHeader(const THttpHeader& header);

// The client's default headers without those the request overrides, then the request's own.
std::vector<THttpHeader> MergeHeaders(const std::vector<THttpHeader>& defaults,
                                      const std::vector<THttpHeader>& own);

// Status code and reason phrase of a status line such as "HTTP/1.1 404 Not Found"; false when the
// line is not one.
bool ParseStatusLine(std::string_view line, int& code, std::string& reason);

// "Name: value" of a header line; false for anything else.
bool ParseHeaderLine(std::string_view line, THttpHeader& header);

// True for a folded line (one that starts with a blank), whose text then joins the previous header.
bool FoldContinuation(std::vector<THttpHeader>& headers, std::string_view line);

std::string_view TrimBlanks(std::string_view text);

// True when a Content-Length value announces more than `limit` bytes.
bool AnnouncesMoreThan(const std::string& contentLength, std::uint64_t limit);

// Appends to a body kept in memory, growing it by doubling but never reserving past `limit`. False,
// with nothing appended, when the body would grow past `limit`.
bool AppendWithinLimit(TBytes& body, const void* data, std::size_t length, std::uint64_t limit);

}  // namespace egaiss::platform::httpdetail
