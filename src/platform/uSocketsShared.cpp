#include "platform/uSocketsShared.h"

#include <algorithm>
#include <climits>

#include "platform/uErrors.h"

namespace egaiss::platform::socketdetail {

TDeadline::TDeadline(int timeoutMs)
    : FUnlimited(timeoutMs < 0),
      FAt(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0))) {}

int TDeadline::RemainingMs() const {
    if (FUnlimited) return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(FAt - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

void RaiseSocketError(const std::string& what, int code) {
    throw ETransportError(what + ": " + SocketErrorText(code));
}

TIoResult ClosedResult() {
    return {TIoStatus::ioClosed, 0, 0};
}

TIoResult Failure(const TSocketState& state, int code, std::size_t bytes) {
    return {WasClosed(state) ? TIoStatus::ioClosed : StatusOfError(code), bytes, code};
}

}  // namespace egaiss::platform::socketdetail
