#include "winui/uWin32InstanceChannel.h"

#include "platform/uSha256.h"
#include "platform/uWin32Text.h"

namespace egaiss {
namespace {

constexpr wchar_t ChannelClass[] = L"VelmoraEgaissAgentChannel";
// The requests, in wParam.
constexpr WPARAM ShowRequest = 0;
constexpr WPARAM ExitRequest = 1;
// The running agent's answer once it did what was asked. Without it a found window proves
// nothing: an ending agent's window may still exist with nobody to serve it.
constexpr LRESULT DoneReply = 0x5EE1;

bool RegisterChannelClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = AgentModule();
        windowClass.lpszClassName = ChannelClass;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

}  // namespace

std::wstring InstanceChannelName(const std::string& dataDir) {
    return L"VelmoraEgaissAgent-" + platform::Utf8ToWide(platform::Sha256Hex(dataDir).substr(0, 16));
}

TWin32InstanceChannel::TWin32InstanceChannel(std::wstring name)
    : FName(std::move(name)), FRequestMessage(RegisterWindowMessageW(FName.c_str())) {}

TWin32InstanceChannel::~TWin32InstanceChannel() = default;

bool TWin32InstanceChannel::AskRunningAgentToShow() {
    return Ask(ShowRequest);
}

bool TWin32InstanceChannel::AskRunningAgentToExit() {
    return Ask(ExitRequest);
}

bool TWin32InstanceChannel::Ask(WPARAM request) {
    if (FRequestMessage == 0) return false;
    HWND running = FindWindowExW(HWND_MESSAGE, nullptr, ChannelClass, FName.c_str());
    if (running == nullptr || running == FWindow.get()) return false;
    // Only the process in front may hand the foreground on: let the running agent take it.
    DWORD runningProcess = 0;
    GetWindowThreadProcessId(running, &runningProcess);
    AllowSetForegroundWindow(runningProcess);
    DWORD_PTR reply = 0;
    const LRESULT sent = SendMessageTimeoutW(running, FRequestMessage, request, 0,
                                             SMTO_ABORTIFHUNG | SMTO_BLOCK, AskTimeoutMs, &reply);
    return sent != 0 && static_cast<LRESULT>(reply) == DoneReply;
}

bool TWin32InstanceChannel::Listen(std::function<void()> show, std::function<void()> exit) {
    if (FRequestMessage == 0 || !RegisterChannelClass()) return false;
    FShow = std::move(show);
    FExit = std::move(exit);
    FWindow.reset(CreateWindowExW(0, ChannelClass, FName.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  AgentModule(), nullptr));
    if (!FWindow) return false;
    SetWindowLongPtrW(FWindow.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(FWindow.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
    // Another user's or a lower integrity process's messages stay out; a start of the same user
    // passes the filter.
    ChangeWindowMessageFilterEx(FWindow.get(), FRequestMessage, MSGFLT_ALLOW, nullptr);
    return true;
}

void TWin32InstanceChannel::Close() {
    FWindow.reset();
    FShow = nullptr;
    FExit = nullptr;
}

LRESULT CALLBACK TWin32InstanceChannel::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* channel = reinterpret_cast<TWin32InstanceChannel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (channel != nullptr && message == channel->FRequestMessage) {
        // A copy: the handler may close the channel.
        const std::function<void()> handler = wParam == ExitRequest ? channel->FExit : channel->FShow;
        if (!handler || (wParam != ShowRequest && wParam != ExitRequest)) return 0;
        try {
            handler();
        } catch (...) {
            // The asking start then believes no agent answered; the running one goes on.
            return 0;
        }
        return DoneReply;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace egaiss
