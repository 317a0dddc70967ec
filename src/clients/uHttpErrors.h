#pragma once
// What every HTTP exchange of the agent shares: preparing a client so that the agent, not the HTTP
// layer, decides about content encodings; turning a body into text (inflating gzip by hand); the
// exception of a failed answer; the time-out profiles of the UTM and server clients.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/uBytes.h"
#include "platform/uErrors.h"
#include "platform/uHttpClient.h"

namespace egaiss {

// A failed HTTP answer (status 400 or above); the message is "HTTP <code>: <error text>".
class EHttpError : public EAgentError {
public:
    EHttpError(int statusCode, const std::string& message) : EAgentError(message), FStatusCode(statusCode) {}
    const char* ClassName() const noexcept override { return "EHttpError"; }
    int StatusCode() const noexcept { return FStatusCode; }

private:
    int FStatusCode;
};

// A gzip body that could not be inflated; the message carries zlib's reason.
class EGzipError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "EGzipError"; }
};

// The gzip inflater stops with an error past this many output bytes, so that a small hostile body
// cannot exhaust memory.
inline constexpr std::uint64_t MaxInflatedBytes = 256ull * 1024 * 1024;

// Switches automatic decompression off and asks for "Accept-Encoding: identity". Null is ignored.
// Never raises; a failed step leaves a debug line.
void PrepareHttpClient(platform::THttpClient* client);

// The whole body; null gives an empty array.
TBytes ReadResponseBytes(const platform::THttpResponse* response);
inline TBytes ReadResponseBytes(const platform::THttpResponse& response) {
    return ReadResponseBytes(&response);
}

// True for the gzip magic 1F 8B at the start.
bool IsGzipBytes(const TBytes& bytes);
// Inflates a gzip stream. Raises EGzipError on a corrupt stream or one inflating past
// `maxOutputBytes`.
TBytes GunzipBytes(const TBytes& bytes, std::uint64_t maxOutputBytes = MaxInflatedBytes);
// Inflates when the bytes start with the gzip magic (whatever the headers say), then decodes UTF-8
// with the ANSI fallback.
std::string HttpBodyToText(const TBytes& bytes);

// The first `maxBytes` bytes as "1F 8B 08", with "..." directly after when there are more.
std::string HexPreview(const TBytes& bytes, std::size_t maxBytes);

// The body as text, with the "HTTP decode ..." debug lines. Null gives an empty text. Raises (after
// logging) when the body cannot be inflated or decoded.
std::string HttpResponseAsUtf8(const platform::THttpResponse* response);
inline std::string HttpResponseAsUtf8(const platform::THttpResponse& response) {
    return HttpResponseAsUtf8(&response);
}

// The "error" member of a JSON object, else its "message" member, when non-empty. Never raises.
std::optional<std::string> TryJsonErrorText(const std::string& text);

// The most useful error text of a failed answer: JSON error, body cut to 300 characters, reason
// phrase, "HTTP error".
std::string HttpErrorText(const platform::THttpResponse& response);

// The exception for a failed answer; the caller raises it.
EHttpError NewHttpError(const platform::THttpResponse& response);

// Time-out profiles; each applies PrepareHttpClient first. A request must end within the profile's
// connect plus response time-out; the server profiles follow redirects on the server's host only.
void ConfigureUtmClient(platform::THttpClient& client, bool quick);
void ConfigureServerClient(platform::THttpClient& client, bool quick);

// Large downloads (components, update packages) may take long but must keep moving: below 1 KiB/s
// over 30 s they fail, instead of having a whole-request deadline.
inline constexpr int DownloadMinBytesPerSecond = 1024;
inline constexpr int DownloadRateWindowMs = 30000;
void ConfigureDownloadRate(platform::THttpClient& client);

}  // namespace egaiss
