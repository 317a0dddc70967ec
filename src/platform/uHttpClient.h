#pragma once
// One HTTP client object: configured once, then used for one or more requests, reusing its
// connection between them. Bodies are never decoded: what the server sent is what the caller gets.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uBytes.h"

namespace egaiss::platform {

struct THttpHeader {
    std::string Name;
    std::string Value;
};

enum class THttpMethod { hmGet, hmDelete, hmPost };

// The one file part of a multipart/form-data POST.
struct THttpFilePart {
    std::string FieldName;
    std::string FileName;
    std::string ContentType;
    TBytes Bytes;
};

struct THttpRequest {
    THttpMethod Method = THttpMethod::hmGet;
    std::string URL;
    std::vector<THttpHeader> Headers;       // sent in this order, after the client's own headers
    TBytes Body;                            // POST of bytes
    std::optional<THttpFilePart> FilePart;  // POST of a multipart form instead of Body
};

struct THttpResponse {
    int StatusCode = 0;
    std::string ReasonPhrase;
    std::vector<THttpHeader> Headers;
    TBytes Body;

    // The first header of that name (any case), or empty.
    std::string Header(const std::string& name) const;
};

// Largest body held in memory; a larger one fails the request.
inline constexpr std::uint64_t MaxHttpBodyBytes = 256ull * 1024 * 1024;

// Sets the HTTP library up for the whole process. main() calls it before it starts any thread: the
// library's set-up belongs on the main thread (on a worker, part of it is never freed). A client made
// without it sets the library up itself.
void InitialiseHttpLibrary();

class THttpClient {
public:
    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    void SetConnectTimeoutMs(int milliseconds);
    // A server that sends nothing for this long fails the request. The whole request, redirects
    // included, must also end within the connect plus the response time-out, so that a body that
    // keeps trickling in cannot hold it up for longer.
    void SetResponseTimeoutMs(int milliseconds);
    // For large downloads, instead of that deadline: the request fails when fewer than
    // `bytesPerSecond` arrive on average over any of its successive windows of `windowMs`.
    void SetMinimumRate(int bytesPerSecond, int windowMs);
    // Redirects are followed (at most 5) unless switched off. A redirected request keeps its method,
    // headers and body; a redirect from https to http is refused.
    void SetFollowRedirects(bool follow);
    // For a client whose requests carry credentials: a redirect to a host other than that of the
    // request's own URL (http to https on that host counts as the same) fails the request with
    // "Redirect to another host refused: <host>" before anything is sent there.
    void SetSameHostRedirectsOnly(bool sameHostOnly);
    // The HTTP layer never decodes bodies; asking it to raises EAgentError.
    void SetAutomaticDecompression(bool enabled);
    // A header sent with every request of this client (replaces one of the same name). A request
    // header of the same name takes its place in that request.
    void SetDefaultHeader(const std::string& name, const std::string& value);
    // Lowers the largest body kept in memory below MaxHttpBodyBytes (tests use it).
    void SetMaxBodyBytes(std::uint64_t bytes);

    // Performs one request. Raises ETransportError when no HTTP answer arrives; an HTTP error
    // status is an answer, not an exception.
    THttpResponse Send(const THttpRequest& request);

    // Like Send, but a 2xx body goes to `path` as it arrives instead of into memory, without a size
    // limit; any other answer keeps its body in Body (for the error text) and leaves `path` alone.
    // A transfer that fails midway removes the partial file. Raises EFileError when `path` cannot be
    // written.
    THttpResponse DownloadToFile(const THttpRequest& request, const std::string& path);

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace egaiss::platform
