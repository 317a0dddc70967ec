#pragma once
// The second-start channel on Windows: the running agent keeps a message-only window named after
// its data folder; a later start finds it and sends it a registered message, which the running
// agent answers on its main thread once its window is shown. The stop command sends the same
// message with another request.
#include <windows.h>

#include <functional>
#include <string>

#include "agent/uInstanceChannel.h"
#include "winui/uWin32Common.h"

namespace egaiss {

// The same name for the same data folder, whatever its length (as the Qt face names its socket).
std::wstring InstanceChannelName(const std::string& dataDir);

class TWin32InstanceChannel final : public TInstanceChannel {
public:
    static constexpr UINT AskTimeoutMs = 5000;

    explicit TWin32InstanceChannel(std::wstring name);
    ~TWin32InstanceChannel() override;
    TWin32InstanceChannel(const TWin32InstanceChannel&) = delete;
    TWin32InstanceChannel& operator=(const TWin32InstanceChannel&) = delete;

    bool AskRunningAgentToShow() override;
    bool AskRunningAgentToExit() override;
    // Creates the window on the calling thread, which must run a message loop.
    bool Listen(std::function<void()> show, std::function<void()> exit) override;
    void Close() override;

    const std::wstring& Name() const { return FName; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool Ask(WPARAM request);

    std::wstring FName;
    UINT FRequestMessage;
    std::function<void()> FShow;
    std::function<void()> FExit;
    TUniqueWindow FWindow;
};

}  // namespace egaiss
