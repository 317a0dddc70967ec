#include "winui/uWin32TrayAgent.h"

#include <cstdlib>

#include "agent/uAgentServices.h"
#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "platform/uShell.h"
#include "platform/uWin32Text.h"
#include "winui/uWin32Dialog.h"
#include "winui/uWin32InstanceChannel.h"
#include "winui/uWin32MainLoop.h"
#include "winui/uWin32MainWindow.h"
#include "winui/uWin32PreparationWindow.h"
#include "winui/uWin32QueueWindow.h"
#include "winui/uWin32ScalesDialog.h"
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

// The dialogs' escaped exceptions go to the running agent's handler while this lives.
class TDialogExceptionsTo {
public:
    explicit TDialogExceptionsTo(TWin32Dialog::TAppExceptionHandler handler) {
        TWin32Dialog::SetAppExceptionHandler(std::move(handler));
    }
    ~TDialogExceptionsTo() { TWin32Dialog::SetAppExceptionHandler({}); }
    TDialogExceptionsTo(const TDialogExceptionsTo&) = delete;
    TDialogExceptionsTo& operator=(const TDialogExceptionsTo&) = delete;
};

}  // namespace

TWin32MainWindowLinks Win32MainWindowLinks(TMainLoop& loop, TSyncPauser pauseSync) {
    TWin32MainWindowLinks links;
    links.EditConfig = [openPreparation = TWin32PreparationWindow::Opener(loop, std::move(pauseSync))](
                           TEgaissConfig& cfg, HWND owner) {
        return TWin32SetupDialog::EditConfig(cfg, owner, openPreparation);
    };
    links.ShowQueue = [&loop](const TEgaissConfig& cfg, HWND owner) {
        TWin32QueueWindow::ShowQueue(loop, cfg, owner);
    };
    links.ShowBootstrap = [&loop](const TEgaissConfig& cfg, const TSyncPauser& setSyncPaused, HWND owner) {
        TWin32PreparationWindow::Show(loop, cfg, setSyncPaused, owner);
    };
    links.EditScales = [&loop](int brand, TScalesConfig& cfg, HWND owner) {
        return TWin32ScalesDialog::Edit(loop, brand, cfg, owner);
    };
    links.OpenUrl = [](const std::string& url) { return platform::OpenWithDesktop(url); };
    return links;
}

std::optional<int> RunWin32TrayAgent(bool noUpdate, const TFolderLocker& lockFolder, const TAgentEnd& end) {
    TWin32InstanceChannel channel(InstanceChannelName(AgentDataDir()));
    const auto lock = ClaimDataFolder(channel, lockFolder);
    if (!lock) return std::nullopt;
    ReleaseOwnConsole();

    TWin32MainLoop loop;
    TRealAgentServices services(!noUpdate);
    // The settings dialog's preparation window pauses the sync of the window made just below.
    TWin32MainWindow* running = nullptr;
    const TSyncPauser pauseSync = [&running](bool paused) {
        if (running != nullptr) running->SetSyncPaused(paused);
    };
    TWin32MainWindow window(loop, services.All(), Win32MainWindowLinks(loop, pauseSync));
    running = &window;
    // Steps, timer ticks and the dialogs' handlers are event handlers too.
    const auto handleAppException = [&window](const std::exception& error) {
        window.HandleAppException(error);
    };
    loop.SetExceptionHandler(handleAppException);
    const TDialogExceptionsTo dialogExceptions(handleAppException);
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
