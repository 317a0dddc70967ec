#include "platform/uHttpClient.h"

#include <algorithm>

#include "platform/uErrors.h"
#include "platform/uHttpClientShared.h"

namespace egaiss::platform {

using namespace httpdetail;

std::string THttpResponse::Header(const std::string& name) const {
    for (const auto& header : Headers) {
        if (SameNameAscii(header.Name, name)) return header.Value;
    }
    return {};
}

struct THttpClient::TImpl {
    THttpSettings Settings;
    std::unique_ptr<THttpTransport> Transport = NewHttpTransport();
};

THttpClient::THttpClient() : FImpl(std::make_unique<TImpl>()) {}
THttpClient::~THttpClient() = default;

void THttpClient::SetConnectTimeoutMs(int milliseconds) {
    FImpl->Settings.ConnectTimeoutMs = milliseconds;
}
void THttpClient::SetResponseTimeoutMs(int milliseconds) {
    FImpl->Settings.ResponseTimeoutMs = milliseconds;
}
void THttpClient::SetFollowRedirects(bool follow) {
    FImpl->Settings.FollowRedirects = follow;
}

void THttpClient::SetAutomaticDecompression(bool enabled) {
    if (enabled) throw EAgentError("Automatic decompression is not supported");
}

void THttpClient::SetDefaultHeader(const std::string& name, const std::string& value) {
    const THttpHeader header{name, value};
    CheckHeader(header);
    for (auto& existing : FImpl->Settings.DefaultHeaders) {
        if (SameNameAscii(existing.Name, name)) {
            existing.Value = value;
            return;
        }
    }
    FImpl->Settings.DefaultHeaders.push_back(header);
}

void THttpClient::SetMaxBodyBytes(std::uint64_t bytes) {
    FImpl->Settings.MaxBodyBytes = std::min(bytes, MaxHttpBodyBytes);
}

void THttpClient::SetSameHostRedirectsOnly(bool sameHostOnly) {
    FImpl->Settings.SameHostRedirectsOnly = sameHostOnly;
}

void THttpClient::SetMinimumRate(int bytesPerSecond, int windowMs) {
    FImpl->Settings.MinimumBytesPerSecond = bytesPerSecond;
    FImpl->Settings.RateWindowMs = windowMs;
}

THttpResponse THttpClient::Send(const THttpRequest& request) {
    return PerformFollowingRedirects(*FImpl->Transport, FImpl->Settings, request, nullptr);
}

THttpResponse THttpClient::DownloadToFile(const THttpRequest& request, const std::string& path) {
    return PerformFollowingRedirects(*FImpl->Transport, FImpl->Settings, request, &path);
}

}  // namespace egaiss::platform
