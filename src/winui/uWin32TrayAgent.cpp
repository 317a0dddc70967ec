#include "winui/uWin32TrayAgent.h"

#include <cstdlib>

#include "agent/uAgentServices.h"
#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "platform/uShell.h"
#include "platform/uWin32Text.h"
#include "winui/uWin32InstanceChannel.h"
#include "winui/uWin32MainLoop.h"
#include "winui/uWin32MainWindow.h"
#include "winui/uWin32QueueWindow.h"
#include "winui/uWin32SetupDialog.h"

namespace egaiss {
namespace {

// The executable is a console program, for the support commands' output. Started from the desktop
// or at logon it gets a console window of its own, which the tray agent lets go; a console it
// shares with the shell that started it stays.
void ReleaseOwnConsole() {
    DWORD processes[2];
    const bool own = GetConsoleProcessList(processes, 2) == 1;
    const bool shown = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
    if (own && shown) FreeConsole();
}

}  // namespace

TWin32MainWindowLinks Win32MainWindowLinks(TMainLoop& loop) {
    TWin32MainWindowLinks links;
    links.EditConfig = [](TEgaissConfig& cfg, HWND owner) {
        return TWin32SetupDialog::EditConfig(cfg, owner);
    };
    links.ShowQueue = [&loop](const TEgaissConfig& cfg, HWND owner) {
        TWin32QueueWindow::ShowQueue(loop, cfg, owner);
    };
    links.OpenUrl = [](const std::string& url) { return platform::OpenWithDesktop(url); };
    // Still to come: the scales dialog (links.EditScales) and the preparation window
    // (links.ShowBootstrap, and EditConfig's opener of it for the first-run form).
    return links;
}

std::optional<int> RunWin32TrayAgent(bool noUpdate, const TFolderLocker& lockFolder, const TAgentEnd& end) {
    TWin32InstanceChannel channel(InstanceChannelName(AgentDataDir()));
    const auto lock = ClaimDataFolder(channel, lockFolder);
    if (!lock) return std::nullopt;
    ReleaseOwnConsole();

    TWin32MainLoop loop;
    TRealAgentServices services(!noUpdate);
    TWin32MainWindow window(loop, services.All(), Win32MainWindowLinks(loop));
    // Steps and timer ticks are event handlers too.
    loop.SetExceptionHandler([&window](const std::exception& error) { window.HandleAppException(error); });
    const auto listening = channel.Listen([&window] { window.ShowMainWindow(); },
                                          // Not while the request is being answered.
                                          [&loop, &window] { loop.Post([&window] { window.ExitAgent(); }); });
    if (!listening)
        LogError("Agent window channel: cannot listen on " + platform::WideToUtf8(channel.Name()));
    window.OnExitRequested([&loop, &channel] {
        channel.Close();
        loop.Quit();
    });
    loop.OnSessionEnd([&loop, &window, &end] {
        LogInfo("Agent stopping (session end)");
        loop.Quit();
        // Windows may end the process once this returns: stop here, and leave nothing to do after.
        std::_Exit(end(window.Agent()));
    });
    loop.Post([&window] { window.FormCreate(); });
    loop.Run();
    return end(window.Agent());
}

bool AskWin32TrayAgentToExit() {
    TWin32InstanceChannel channel(InstanceChannelName(AgentDataDir()));
    return channel.AskRunningAgentToExit();
}

}  // namespace egaiss
