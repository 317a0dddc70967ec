// libcurl behind THttpClient. One easy handle lives as long as the client, so its connection cache
// keeps the connection alive between requests; each request resets the options and sets them anew.
#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/uErrors.h"
#include "platform/uHttpClient.h"
#include "platform/uHttpClientShared.h"

namespace egaiss::platform::httpdetail {
namespace {

using TClock = std::chrono::steady_clock;

// Function-local static: initialised exactly once even when clients start on several threads.
CURLcode CurlInitResult() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    return result;
}

void EnsureCurlInitialised() {
    const CURLcode result = CurlInitResult();
    if (result != CURLE_OK)
        throw ETransportError(std::string("libcurl initialisation failed: ") + curl_easy_strerror(result));
}

struct TCurlEasyFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct TCurlSlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct TCurlMimeFree {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct TCurlUrlFree {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TCurlTextFree {
    void operator()(char* text) const { curl_free(text); }
};
struct TFileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

using TCurlEasy = std::unique_ptr<CURL, TCurlEasyFree>;
using TCurlSlist = std::unique_ptr<curl_slist, TCurlSlistFree>;
using TCurlMime = std::unique_ptr<curl_mime, TCurlMimeFree>;
using TCurlUrl = std::unique_ptr<CURLU, TCurlUrlFree>;
using TCurlText = std::unique_ptr<char, TCurlTextFree>;

// A URL read by curl's own parser, the one that decides where a transfer connects.
TCurlUrl ParsedURL(const std::string& url) {
    TCurlUrl parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return nullptr;
    return parsed;
}

// One part of a parsed URL; empty when it has none.
std::string UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return {};
    const TCurlText owned(text);
    return text;
}

// State of one transfer as curl's callbacks see it.
struct TTransfer {
    THttpResponse Response;
    std::uint64_t MaxBodyBytes = MaxHttpBodyBytes;
    int ResponseTimeoutMs = 0;
    TRequestLimits* Limits = nullptr;
    std::string LimitBreach;

    const std::string* FilePath = nullptr;  // set for DownloadToFile
    std::unique_ptr<std::FILE, TFileClose> File;
    std::string FileError;

    bool Sending = false;  // connected; the request is on its way or the answer is awaited
    bool TimedOut = false;
    bool BodyTooLarge = false;
    TClock::time_point Started = TClock::now();
    TClock::time_point LastActivity = Started;
    curl_off_t LastUploaded = 0;
    std::uint64_t Received = 0;

    void Touch() { LastActivity = TClock::now(); }
    bool BodyGoesToFile() const { return FilePath != nullptr && IsSuccessStatus(Response.StatusCode); }

    bool OpenFile() {
        if (File) return true;
        File.reset(std::fopen(FilePath->c_str(), "wb"));
        if (!File) FileError = "Cannot create file " + *FilePath + ": " + std::strerror(errno);
        return static_cast<bool>(File);
    }
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<TTransfer*>(user);
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    transfer.Touch();

    int code = 0;
    std::string reason;
    if (ParseStatusLine(line, code, reason)) {
        // Each interim 1xx response is followed by the real one, which starts afresh.
        transfer.Response.StatusCode = code;
        transfer.Response.ReasonPhrase = std::move(reason);
        transfer.Response.Headers.clear();
        transfer.Response.Body.clear();
        transfer.Received = 0;
        return length;
    }
    if (FoldContinuation(transfer.Response.Headers, line)) return length;
    THttpHeader header;
    if (!ParseHeaderLine(line, header)) return length;
    if (SameNameAscii(header.Name, "Content-Length") && !transfer.BodyGoesToFile() &&
        AnnouncesMoreThan(header.Value, transfer.MaxBodyBytes)) {
        transfer.BodyTooLarge = true;
        return 0;
    }
    transfer.Response.Headers.push_back(std::move(header));
    return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<TTransfer*>(user);
    const std::size_t length = size * count;
    transfer.Touch();
    transfer.Received += length;
    transfer.Limits->CountReceived(length);
    if (transfer.BodyGoesToFile()) {
        if (!transfer.OpenFile()) return 0;
        if (std::fwrite(data, 1, length, transfer.File.get()) != length) {
            transfer.FileError = "Cannot write file " + *transfer.FilePath + ": " + std::strerror(errno);
            return 0;
        }
        return length;
    }
    if (!AppendWithinLimit(transfer.Response.Body, data, length, transfer.MaxBodyBytes)) {
        transfer.BodyTooLarge = true;
        return 0;
    }
    return length;
}

int OnConnected(void* user, char*, char*, int, int) {
    auto& transfer = *static_cast<TTransfer*>(user);
    transfer.Sending = true;
    transfer.Touch();
    return CURL_PREREQFUNC_OK;
}

// Called at least about once a second while the transfer runs: enforces the request's limits, and the
// response time-out as silence since the last byte moved.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto& transfer = *static_cast<TTransfer*>(user);
    transfer.LimitBreach = transfer.Limits->Breach();
    if (!transfer.LimitBreach.empty()) return 1;
    if (!transfer.Sending || transfer.ResponseTimeoutMs <= 0) return 0;
    if (uploaded != transfer.LastUploaded) {
        transfer.LastUploaded = uploaded;
        transfer.Touch();
        return 0;
    }
    if (MillisecondsSince(transfer.LastActivity) >= transfer.ResponseTimeoutMs) {
        transfer.TimedOut = true;
        return 1;
    }
    return 0;
}

// "Failed to connect to <host> port <port>" for the URL curl last tried.
std::string ConnectTarget(CURL* handle, const std::string& fallbackURL) {
    char* effective = nullptr;
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string url = effective != nullptr ? effective : fallbackURL;
    if (const TCurlUrl parsed = ParsedURL(url)) {
        const std::string host = UrlPart(parsed.get(), CURLUPART_HOST);
        const std::string port = UrlPart(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
        if (!host.empty() && !port.empty()) return "Failed to connect to " + host + " port " + port;
    }
    return "Failed to connect to " + url;
}

std::string NoProxyList() {
    // Loopback never goes through a proxy (the UTM is local), whatever the environment says.
    std::string list = "127.0.0.1,localhost,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            list += ',';
            list += value;
            break;
        }
    }
    return list;
}

class TCurlTransport final : public THttpTransport {
public:
    TCurlTransport() {
        EnsureCurlInitialised();
        FHandle.reset(curl_easy_init());
        if (!FHandle) throw ETransportError("libcurl could not create a transfer handle");
    }

    THttpResponse Perform(const THttpSettings& settings, const THttpRequest& request,
                          const std::string* filePath, TRequestLimits& limits) override;

    std::string ResolveRedirect(const std::string& base, const std::string& location) override {
        const TCurlUrl url = ParsedURL(base);
        // Set on a parsed URL, a relative reference is resolved against it.
        if (!url || curl_url_set(url.get(), CURLUPART_URL, location.c_str(), 0) != CURLUE_OK)
            throw ETransportError("Invalid redirect location: " + location);
        return UrlPart(url.get(), CURLUPART_URL);
    }

    TUrlOrigin OriginOf(const std::string& url) override {
        const TCurlUrl parsed = ParsedURL(url);
        if (!parsed) throw ETransportError("URL using bad/illegal format: " + url);
        return {UrlPart(parsed.get(), CURLUPART_SCHEME), UrlPart(parsed.get(), CURLUPART_HOST)};
    }

private:
    [[noreturn]] void RaiseFailure(CURLcode code, const TTransfer& transfer, const std::string& url);

    TCurlEasy FHandle;
    char FErrorText[CURL_ERROR_SIZE] = {};
};

THttpResponse TCurlTransport::Perform(const THttpSettings& settings, const THttpRequest& request,
                                      const std::string* filePath, TRequestLimits& limits) {
    CURL* handle = FHandle.get();
    // Forgets the previous request's options, keeps the connection cache.
    curl_easy_reset(handle);
    FErrorText[0] = '\0';

    const std::vector<THttpHeader> headers = MergeHeaders(settings.DefaultHeaders, request.Headers);
    const auto hasHeader = [&](std::string_view name) {
        return std::any_of(headers.begin(), headers.end(),
                           [&](const THttpHeader& header) { return SameNameAscii(header.Name, name); });
    };
    TCurlSlist headerList;
    const auto addHeaderLine = [&](const std::string& line) {
        curl_slist* grown = curl_slist_append(headerList.get(), line.c_str());
        if (grown == nullptr) throw ETransportError("Out of memory building HTTP headers");
        static_cast<void>(headerList.release());
        headerList.reset(grown);
    };
    for (const auto& header : headers) {
        // "Name;" is curl's way of sending a header with an empty value.
        addHeaderLine(header.Value.empty() ? header.Name + ";" : header.Name + ": " + header.Value);
    }
    // Suppress what curl would add on its own: the client sends only what it was asked to.
    if (!hasHeader("Accept")) addHeaderLine("Accept:");
    if (!hasHeader("Expect")) addHeaderLine("Expect:");
    if (request.Method == THttpMethod::hmPost && !request.FilePart && !hasHeader("Content-Type")) {
        addHeaderLine("Content-Type:");
    }

    TTransfer transfer;
    transfer.MaxBodyBytes = settings.MaxBodyBytes;
    transfer.ResponseTimeoutMs = settings.ResponseTimeoutMs;
    transfer.Limits = &limits;
    transfer.FilePath = filePath;

    const std::string noProxy = NoProxyList();
    curl_easy_setopt(handle, CURLOPT_URL, request.URL.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, FErrorText);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    // Bodies arrive exactly as sent; the agent inflates by itself where it wants to.
    curl_easy_setopt(handle, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max(settings.ConnectTimeoutMs, 0)));
    // Redirects are followed by the shared code, which decides where a request may go.
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, &OnConnected);
    curl_easy_setopt(handle, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

    TCurlMime mime;
    switch (request.Method) {
        case THttpMethod::hmGet:
            curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
            break;
        case THttpMethod::hmDelete:
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "DELETE");
            break;
        case THttpMethod::hmPost:
            if (request.FilePart) {
                const THttpFilePart& part = *request.FilePart;
                mime.reset(curl_mime_init(handle));
                curl_mimepart* field = mime ? curl_mime_addpart(mime.get()) : nullptr;
                if (field == nullptr) throw ETransportError("Out of memory building a multipart form");
                curl_mime_name(field, part.FieldName.c_str());
                curl_mime_filename(field, part.FileName.c_str());
                if (!part.ContentType.empty()) curl_mime_type(field, part.ContentType.c_str());
                curl_mime_data(field, reinterpret_cast<const char*>(part.Bytes.data()), part.Bytes.size());
                curl_easy_setopt(handle, CURLOPT_MIMEPOST, mime.get());
            } else {
                static const char empty[] = "";
                curl_easy_setopt(handle, CURLOPT_POST, 1L);
                curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(request.Body.size()));
                curl_easy_setopt(
                    handle, CURLOPT_POSTFIELDS,
                    request.Body.empty() ? empty : reinterpret_cast<const char*>(request.Body.data()));
            }
            break;
    }

    transfer.Started = TClock::now();
    transfer.LastActivity = transfer.Started;
    const CURLcode code = curl_easy_perform(handle);
    // No pointer into this frame may outlive it inside the handle.
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(handle, CURLOPT_MIMEPOST, nullptr);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);

    if (code == CURLE_OK && filePath != nullptr && IsSuccessStatus(transfer.Response.StatusCode)) {
        if (!transfer.OpenFile()) throw EFileError(transfer.FileError);
        std::FILE* file = transfer.File.release();
        if (std::fclose(file) != 0) {
            const std::string reason = std::strerror(errno);
            std::remove(filePath->c_str());
            throw EFileError("Cannot write file " + *filePath + ": " + reason);
        }
    }
    if (code != CURLE_OK) {
        if (transfer.File) {
            transfer.File.reset();
            std::remove(filePath->c_str());
        }
        RaiseFailure(code, transfer, request.URL);
    }

    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 0) transfer.Response.StatusCode = static_cast<int>(status);
    return std::move(transfer.Response);
}

void TCurlTransport::RaiseFailure(CURLcode code, const TTransfer& transfer, const std::string& url) {
    if (!transfer.LimitBreach.empty()) throw ETransportError(transfer.LimitBreach);
    if (transfer.BodyTooLarge) throw ETransportError(BodyTooLargeMessage(transfer.MaxBodyBytes));
    if (!transfer.FileError.empty()) throw EFileError(transfer.FileError);
    const auto timedOutText = [&] {
        return ResponseTimeoutMessage(MillisecondsSince(transfer.LastActivity), transfer.Received);
    };
    if (transfer.TimedOut) throw ETransportError(timedOutText());

    CURL* handle = FHandle.get();
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            throw ETransportError(UnresolvedHostMessage(ConnectTarget(handle, url)));
        case CURLE_COULDNT_CONNECT: {
            long osError = 0;
            curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osError);
            if (osError == ECONNREFUSED)
                throw ETransportError(ConnectTarget(handle, url) + ": connection refused");
            const std::string reason = osError != 0 ? std::strerror(static_cast<int>(osError))
                                                    : std::string(curl_easy_strerror(code));
            throw ETransportError(ConnectTarget(handle, url) + ": connection failed (" + reason + ")");
        }
        case CURLE_OPERATION_TIMEDOUT:
            if (!transfer.Sending) {
                throw ETransportError(
                    ConnectTimeoutMessage(ConnectTarget(handle, url), MillisecondsSince(transfer.Started)));
            }
            throw ETransportError(timedOutText());
        default: {
            std::string text = FErrorText[0] != '\0' ? std::string(FErrorText) : curl_easy_strerror(code);
            throw ETransportError(LowerConnectionWord(std::move(text)));
        }
    }
}

}  // namespace

std::unique_ptr<THttpTransport> NewHttpTransport() {
    return std::make_unique<TCurlTransport>();
}

}  // namespace egaiss::platform::httpdetail

namespace egaiss::platform {

// A failure is kept and raised by every client that is made.
void InitialiseHttpLibrary() {
    httpdetail::CurlInitResult();
}

}  // namespace egaiss::platform
