#include "agent/uMainPresenter.h"

#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"
#include "platform/uErrors.h"
#include "platform/uShell.h"
#include "scales/uScalesConfig.h"

namespace egaiss {
namespace {

std::string LogTailForView(const std::string& tail) {
    std::string text;
    text.reserve(tail.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (tail[i] == '\r' && i + 1 < tail.size() && tail[i + 1] == '\n') continue;
        text += tail[i];
    }
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace

const std::vector<TScalesMenuItem>& ScalesMenuItems() {
    static const std::vector<TScalesMenuItem> items = {
        {"MassaK", "Масса-К...", sbMassaK},
        {"Shtrih", "Штрих...", sbShtrih},
        {"Cas", "CAS...", sbCas},
        {"Digi", "DIGI...", sbDigi},
    };
    return items;
}

TMainPresenter::TMainPresenter(TMainLoop& loop, TMainView& view, TPrompts& prompts, TAgentServices services,
                               TMainPresenterOptions options)
    : FView(view),
      FPrompts(prompts),
      FOpenUrl(options.OpenUrl ? std::move(options.OpenUrl) : platform::OpenWithDesktop),
      FTimerLog(loop.CreateTimer([this] { RefreshLog(); })),
      FAgent(std::make_unique<TAgent>(loop, services, static_cast<TAgentWindow*>(this),
                                      std::move(options.Agent))) {
    FTimerLog->SetInterval(LogRefreshInterval);
    FAgent->OnExitRequested([this] { ExitAgent(); });
    FTexts.Caption = main_texts::StatusWaiting;
    FTexts.LastSync = main_texts::LastSyncNone;
    FTexts.Hint = AppTitle();
}

TMainPresenter::~TMainPresenter() = default;

void TMainPresenter::Start() {
    FAgent->Start();
}

bool TMainPresenter::EditConfig(TEgaissConfig& cfg) {
    return FView.EditConfig(cfg);
}

void TMainPresenter::StatusChanged() {
    const TAgentStatus& status = FAgent->Status();
    try {
        FTexts.Hint = TrayHint(TrayTitle(FAgent->Config().LabelText), status);
    } catch (const std::exception& error) {
        LogException("UpdateTray.Hint", error);
        FTexts.Hint = AppTitle();
    }
    FTexts.Alert = FAgent->Config().IsComplete() && status.LastSyncAt.has_value() && !status.StatusOK;
    try {
        FTexts.Caption = StatusCaption(status);
        FTexts.LastSync = LastSyncCaption(status);
    } catch (const std::exception& error) {
        LogException("UpdateTray.menu", error);
    }
    try {
        FView.ShowStatus(FTexts);
    } catch (const std::exception& error) {
        LogException("UpdateTray", error);
    }
}

void TMainPresenter::RefreshLog() {
    try {
        FView.ShowLogTail(LogTailForView(ReadLogTail(LogTailLines)));
    } catch (const std::exception& error) {
        LogException("RefreshLog", error);
    }
}

void TMainPresenter::ShowMainWindow() {
    const bool shownBefore = FTimerLog->IsActive();
    FView.ShowWindow();
    if (shownBefore) {
        RefreshLog();
    } else {
        WindowShown();
    }
}

void TMainPresenter::WindowShown() {
    // Showing the window may also report it shown: the log is read once.
    if (FTimerLog->IsActive()) return;
    FTimerLog->Start();
    RefreshLog();
}

void TMainPresenter::HideToTray() {
    FTimerLog->Stop();
    FView.HideWindow();
}

bool TMainPresenter::CloseRequested() {
    if (FAllowClose) return true;
    HideToTray();
    return false;
}

void TMainPresenter::ExitClicked() {
    ExitAgent();
}

void TMainPresenter::ExitAgent() {
    FAllowClose = true;
    FTimerLog->Stop();
    FView.CloseForExit();
    if (FExitRequested) FExitRequested();
}

void TMainPresenter::SettingsClicked() {
    TEgaissConfig cfg = FAgent->Config();
    if (!EditConfig(cfg)) return;
    FAgent->SettingsSaved();
}

bool TMainPresenter::EnsureConfigOrSay() {
    if (FAgent->EnsureConfig()) return true;
    FPrompts.Message(TMessageKind::mkWarning, AppTitle(), "Agent is not configured");
    return false;
}

void TMainPresenter::QueueClicked() {
    if (!EnsureConfigOrSay()) return;
    FView.ShowQueue(FAgent->Config());
    if (FView.IsWindowShown()) RefreshLog();
}

void TMainPresenter::OpenUtmClicked() {
    if (!EnsureConfigOrSay()) return;
    FAgent->ReloadConfig();
    const std::string url = FAgent->Config().UtmBaseURL() + "/";
    if (!FOpenUrl(url)) LogError("Open UTM failed: " + url);
}

void TMainPresenter::BootstrapClicked() {
    if (!EnsureConfigOrSay()) return;
    FView.ShowBootstrap(FAgent->Config(), [this](bool paused) { SetSyncPaused(paused); });
}

void TMainPresenter::ScalesBrandClicked(int brand) {
    if (!IsBrandSupported(brand)) {
        FPrompts.Message(TMessageKind::mkInformation, AppTitle(),
                         ScaleBrandTitle(brand) + ": протокол будет в следующих версиях.");
        return;
    }
    FAgent->LoadScalesSettings();
    TScalesConfig cfg = FAgent->ScalesConfig();
    if (FView.EditScales(brand, cfg)) FAgent->ScalesSettingsSaved(brand);
}

void TMainPresenter::HandleAppException(const std::exception& error,
                                        std::chrono::steady_clock::time_point now) {
    LogException("Application.OnException", error);
    const std::string message = error.what();
    const std::string logPath = ToAsciiSafe(LogFilePath());
    if (message.find("No mapping for the Unicode character") != std::string::npos) {
        if (FLastEncMsgTick && now - *FLastEncMsgTick < EncodingMessagePause) return;
        FLastEncMsgTick = now;
        FPrompts.Message(
            TMessageKind::mkError, AppTitle(),
            "Unicode encoding error (Win32 1113).\r\nSee log:\r\n" + logPath + "\r\n([STEP] / [EXC])");
        return;
    }
    FPrompts.Message(TMessageKind::mkError, AppTitle(),
                     ExceptionClassName(error) + ": " + ToAsciiSafe(message) + "\r\nLog: " + logPath);
}

}  // namespace egaiss
