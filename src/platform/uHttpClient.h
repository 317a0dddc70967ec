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

class THttpClient {
public:
    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    void SetConnectTimeoutMs(int milliseconds);
    // A server that sends nothing for this long fails the request; a body that keeps coming does not.
    void SetResponseTimeoutMs(int milliseconds);
    // Redirects are followed (at most 5) unless switched off.
    void SetFollowRedirects(bool follow);
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
