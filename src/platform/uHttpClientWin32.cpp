// WinHTTP behind THttpClient. The session handle lives as long as the client; WinHTTP pools
// connections per session, so consecutive requests reuse the connection. WinHTTP never decodes a
// content encoding unless asked to, and the agent never asks.
#include <windows.h>
// These need the types of windows.h first.
#include <shlwapi.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/uErrors.h"
#include "platform/uHttpClient.h"
#include "platform/uHttpClientShared.h"
#include "platform/uPath.h"
#include "platform/uWin32Text.h"

namespace egaiss::platform::httpdetail {
namespace {

using TClock = std::chrono::steady_clock;

constexpr DWORD ReadChunkBytes = 64 * 1024;
// WSAETIMEDOUT: what a stalled body read fails with under Wine instead of ERROR_WINHTTP_TIMEOUT.
constexpr DWORD SocketTimedOut = 10060;

struct TInternetClose {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using TInternet = std::unique_ptr<void, TInternetClose>;

// WinHTTP's own error codes are described by winhttp.dll, not by the system table.
std::string WinHttpErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        GetModuleHandleW(L"winhttp.dll"), code, 0,
                                        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) return "WinHTTP error " + std::to_string(code);
    return LowerConnectionWord(WideToUtf8(text));
}

bool QueryHeaderText(HINTERNET request, DWORD infoLevel, std::wstring& text) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    buffer.resize(size / sizeof(wchar_t));
    text = std::move(buffer);
    return true;
}

// The parts of an absolute http or https URL as WinHTTP reads them to connect.
struct TCrackedURL {
    std::wstring Host;
    std::wstring Target;  // path and query, at least "/"
    INTERNET_PORT Port = 0;
    bool Secure = false;
};

TCrackedURL CrackURL(const std::string& url) {
    const std::wstring wideURL = Utf8ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideURL.c_str(), static_cast<DWORD>(wideURL.size()), 0, &parts)) {
        throw ETransportError("URL using bad/illegal format: " + url);
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        throw ETransportError("Protocol not supported: " + url);
    }
    TCrackedURL cracked;
    cracked.Host.assign(parts.lpszHostName, parts.dwHostNameLength);
    cracked.Target.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    cracked.Target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (cracked.Target.empty()) cracked.Target = L"/";
    cracked.Port = parts.nPort;
    cracked.Secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return cracked;
}

// A quoted-string parameter of Content-Disposition must not end early or break the line.
std::string QuotedFormValue(const std::string& value) {
    std::string quoted;
    for (const char c : value) {
        if (c == '"') {
            quoted += "%22";
        } else if (c != '\r' && c != '\n') {
            quoted += c;
        }
    }
    return quoted;
}

std::string NewBoundary() {
    std::random_device random;
    char text[48];
    std::snprintf(text, sizeof text, "----EgaissFormBoundary%08x%08x", random(), random());
    return text;
}

TBytes MultipartBody(const THttpFilePart& part, const std::string& boundary) {
    std::string head = "--" + boundary + "\r\n";
    head += "Content-Disposition: form-data; name=\"" + QuotedFormValue(part.FieldName) + "\"; filename=\"" +
            QuotedFormValue(part.FileName) + "\"\r\n";
    head += "Content-Type: " +
            (part.ContentType.empty() ? std::string("application/octet-stream") : part.ContentType) +
            "\r\n\r\n";
    const std::string tail = "\r\n--" + boundary + "--\r\n";
    TBytes body;
    body.reserve(head.size() + part.Bytes.size() + tail.size());
    body.insert(body.end(), head.begin(), head.end());
    body.insert(body.end(), part.Bytes.begin(), part.Bytes.end());
    body.insert(body.end(), tail.begin(), tail.end());
    return body;
}

// The body's destination: memory up to a limit, or a file for a successful download.
class TBodySink {
public:
    TBodySink(THttpResponse& response, std::uint64_t limit, const std::string* path)
        : FResponse(response), FLimit(limit), FPath(path) {}

    ~TBodySink() {
        if (FFile.is_open()) {
            FFile.close();
            std::error_code ignored;
            std::filesystem::remove(Utf8Path(*FPath), ignored);
        }
    }

    bool ToFile() const { return FPath != nullptr && IsSuccessStatus(FResponse.StatusCode); }

    void Append(const std::uint8_t* data, std::size_t length) {
        if (ToFile()) {
            Open();
            FFile.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
            if (!FFile) throw EFileError("Cannot write file " + *FPath);
            return;
        }
        if (!AppendWithinLimit(FResponse.Body, data, length, FLimit)) {
            throw ETransportError(BodyTooLargeMessage(FLimit));
        }
    }

    // The whole body arrived: an empty successful download still leaves its (empty) file.
    void Finish() {
        if (!ToFile()) return;
        Open();
        FFile.close();
        if (FFile.fail()) {
            std::error_code ignored;
            std::filesystem::remove(Utf8Path(*FPath), ignored);
            throw EFileError("Cannot write file " + *FPath);
        }
    }

private:
    void Open() {
        if (FFile.is_open()) return;
        FFile.open(Utf8Path(*FPath), std::ios::binary | std::ios::trunc);
        if (!FFile.is_open()) throw EFileError("Cannot create file " + *FPath);
    }

    THttpResponse& FResponse;
    std::uint64_t FLimit;
    const std::string* FPath;
    std::ofstream FFile;
};

class TWinHttpTransport final : public THttpTransport {
public:
    TWinHttpTransport() {
        // The automatic proxy mode exists from Windows 8.1 on; older systems take the default.
        FSession.reset(WinHttpOpen(L"VelmoraEgaissAgent", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!FSession) {
            FSession.reset(WinHttpOpen(L"VelmoraEgaissAgent", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        }
        if (!FSession) throw ETransportError("WinHTTP session failed: " + WinHttpErrorText(GetLastError()));
        DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
        if (!WinHttpSetOption(FSession.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                              sizeof protocols)) {
            protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
            WinHttpSetOption(FSession.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
        }
    }

    THttpResponse Perform(const THttpSettings& settings, const THttpRequest& request,
                          const std::string* filePath, TRequestLimits& limits) override;

    std::string ResolveRedirect(const std::string& base, const std::string& location) override {
        const std::wstring wideBase = Utf8ToWide(base);
        const std::wstring wideLocation = Utf8ToWide(location);
        std::wstring combined(wideBase.size() + wideLocation.size() + 1, L'\0');
        DWORD length = static_cast<DWORD>(combined.size());
        HRESULT result = UrlCombineW(wideBase.c_str(), wideLocation.c_str(), combined.data(), &length, 0);
        if (result == E_POINTER) {  // `length` now holds the size needed
            combined.assign(length, L'\0');
            result = UrlCombineW(wideBase.c_str(), wideLocation.c_str(), combined.data(), &length, 0);
        }
        if (FAILED(result)) throw ETransportError("Invalid redirect location: " + location);
        combined.resize(length);
        return WideToUtf8(combined);
    }

    TUrlOrigin OriginOf(const std::string& url) override {
        const TCrackedURL cracked = CrackURL(url);
        return {cracked.Secure ? "https" : "http", WideToUtf8(cracked.Host)};
    }

private:
    TInternet FSession;
};

THttpResponse TWinHttpTransport::Perform(const THttpSettings& settings, const THttpRequest& request,
                                         const std::string* filePath, TRequestLimits& limits) {
    const std::vector<THttpHeader> headers = MergeHeaders(settings.DefaultHeaders, request.Headers);

    const TCrackedURL url = CrackURL(request.URL);
    const std::string connectTarget =
        "Failed to connect to " + WideToUtf8(url.Host) + " port " + std::to_string(url.Port);

    const TInternet connection(WinHttpConnect(FSession.get(), url.Host.c_str(), url.Port, 0));
    if (!connection) throw ETransportError(connectTarget + ": " + WinHttpErrorText(GetLastError()));

    const wchar_t* verb = L"GET";
    if (request.Method == THttpMethod::hmDelete) verb = L"DELETE";
    if (request.Method == THttpMethod::hmPost) verb = L"POST";
    const TInternet handle(WinHttpOpenRequest(connection.get(), verb, url.Target.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              url.Secure ? WINHTTP_FLAG_SECURE : 0));
    if (!handle) throw ETransportError(connectTarget + ": " + WinHttpErrorText(GetLastError()));

    // The receive time-out applies to each wait for data, so it limits silence; each wait is cut to
    // what the request's limits leave, which are checked between the waits.
    const int connectMs = std::max(settings.ConnectTimeoutMs, 0);
    const auto setWaits = [&] {
        DWORD waitMs = static_cast<DWORD>(limits.LongestWaitMs(settings.ResponseTimeoutMs));
        WinHttpSetTimeouts(handle.get(), connectMs, connectMs, static_cast<int>(waitMs),
                           static_cast<int>(waitMs));
        // The receive time-out above need not bound the wait for the response headers (under Wine it
        // does not); this option does.
        WinHttpSetOption(handle.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &waitMs, sizeof waitMs);
    };
    setWaits();
    // Redirects are followed by the shared code, which decides where a request may go.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(handle.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);

    TBytes multipart;
    const TBytes* body = &request.Body;
    std::wstring headerBlock;
    for (const auto& header : headers)
        headerBlock += Utf8ToWide(header.Name + ": " + header.Value + "\r\n");
    if (request.Method == THttpMethod::hmPost && request.FilePart) {
        const std::string boundary = NewBoundary();
        multipart = MultipartBody(*request.FilePart, boundary);
        body = &multipart;
        headerBlock += Utf8ToWide("Content-Type: multipart/form-data; boundary=" + boundary + "\r\n");
    }
    if (request.Method != THttpMethod::hmPost) body = nullptr;
    if (!headerBlock.empty() &&
        !WinHttpAddRequestHeaders(handle.get(), headerBlock.c_str(), static_cast<DWORD>(headerBlock.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
        throw EAgentError("Invalid HTTP headers: " + WinHttpErrorText(GetLastError()));
    }
    if (body != nullptr && body->size() > MAXDWORD) throw ETransportError("Request body too large");
    const DWORD bodySize = body != nullptr ? static_cast<DWORD>(body->size()) : 0;
    void* bodyData = bodySize > 0 ? const_cast<std::uint8_t*>(body->data()) : WINHTTP_NO_REQUEST_DATA;

    const TClock::time_point started = TClock::now();
    if (!WinHttpSendRequest(handle.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, bodyData, bodySize, bodySize,
                            0)) {
        const DWORD error = GetLastError();
        switch (error) {
            case ERROR_WINHTTP_CANNOT_CONNECT:
                throw ETransportError(connectTarget + ": connection refused or host unreachable");
            case ERROR_WINHTTP_NAME_NOT_RESOLVED:
                throw ETransportError(UnresolvedHostMessage(connectTarget));
            case ERROR_WINHTTP_TIMEOUT:
                throw ETransportError(ConnectTimeoutMessage(connectTarget, MillisecondsSince(started)));
            default:
                throw ETransportError(connectTarget + ": " + WinHttpErrorText(error));
        }
    }

    std::uint64_t received = 0;
    TClock::time_point lastActivity = TClock::now();
    const auto checkLimits = [&] {
        const std::string breach = limits.Breach();
        if (!breach.empty()) throw ETransportError(breach);
    };
    const auto failReceiving = [&](DWORD error) {
        if (error == ERROR_WINHTTP_TIMEOUT || error == SocketTimedOut) {
            checkLimits();
            throw ETransportError(ResponseTimeoutMessage(MillisecondsSince(lastActivity), received));
        }
        throw ETransportError(WinHttpErrorText(error));
    };
    if (!WinHttpReceiveResponse(handle.get(), nullptr)) failReceiving(GetLastError());

    THttpResponse response;
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
        failReceiving(GetLastError());
    }
    response.StatusCode = static_cast<int>(status);
    std::wstring text;
    if (QueryHeaderText(handle.get(), WINHTTP_QUERY_STATUS_TEXT, text))
        response.ReasonPhrase = WideToUtf8(text);
    if (QueryHeaderText(handle.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF, text)) {
        const std::string raw = WideToUtf8(text);
        std::size_t start = raw.find("\r\n");  // past the status line
        while (start != std::string::npos && start + 2 < raw.size()) {
            start += 2;
            const std::size_t end = raw.find("\r\n", start);
            const std::string_view line(raw.data() + start,
                                        (end == std::string::npos ? raw.size() : end) - start);
            THttpHeader header;
            if (!FoldContinuation(response.Headers, line) && ParseHeaderLine(line, header)) {
                response.Headers.push_back(std::move(header));
            }
            start = end;
        }
    }

    TBodySink sink(response, settings.MaxBodyBytes, filePath);
    if (!sink.ToFile() && AnnouncesMoreThan(response.Header("Content-Length"), settings.MaxBodyBytes)) {
        throw ETransportError(BodyTooLargeMessage(settings.MaxBodyBytes));
    }
    std::unique_ptr<std::uint8_t[]> chunk(new std::uint8_t[ReadChunkBytes]);
    for (;;) {
        checkLimits();
        setWaits();
        // Waits only until some data is there, so that the limits are checked while a body trickles.
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(handle.get(), &available)) failReceiving(GetLastError());
        if (available == 0) break;
        DWORD got = 0;
        if (!WinHttpReadData(handle.get(), chunk.get(), std::min(available, ReadChunkBytes), &got))
            failReceiving(GetLastError());
        if (got == 0) break;
        lastActivity = TClock::now();
        received += got;
        limits.CountReceived(got);
        sink.Append(chunk.get(), got);
    }
    // WinHTTP reports a connection closed before the announced length as the body's end.
    const std::string announced = response.Header("Content-Length");
    if (AnnouncesMoreThan(announced, received)) {
        throw ETransportError("Transferred a partial file: " + std::to_string(received) + " of " + announced +
                              " bytes arrived");
    }
    sink.Finish();
    return response;
}

}  // namespace

std::unique_ptr<THttpTransport> NewHttpTransport() {
    return std::make_unique<TWinHttpTransport>();
}

}  // namespace egaiss::platform::httpdetail

namespace egaiss::platform {

// WinHTTP needs no process-wide set-up.
void InitialiseHttpLibrary() {}

}  // namespace egaiss::platform
