#include "winui/uWin32SetupDialog.h"

#include "winui/uWin32Resources.h"

namespace egaiss {
namespace {

// How much wider the cancel button is as "scales only", in dialog units (110 against 75 pixels).
constexpr int ScalesOnlyExtraWidth = 23;

void MoveLeftBy(HWND dialog, HWND control, int pixels, bool widen) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    const int width = rect.right - rect.left + (widen ? pixels : 0);
    SetWindowPos(control, nullptr, rect.left - pixels, rect.top, width, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

TWin32SetupDialog::TWin32SetupDialog(const TPreparationOpener& openPreparation, TPrompts* prompts)
    : FOpenPreparation(openPreparation), FPresenter(*this, prompts != nullptr ? *prompts : FOwnPrompts) {}

bool TWin32SetupDialog::EditConfig(TEgaissConfig& cfg, HWND owner, const TPreparationOpener& openPreparation,
                                   TPrompts* prompts) {
    TWin32SetupDialog form(openPreparation, prompts);
    form.FPresenter.Open();
    DialogBoxParamW(AgentModule(), MAKEINTRESOURCEW(IDD_SETUP), owner, &DialogProc,
                    reinterpret_cast<LPARAM>(&form));
    if (form.FFailure) std::rethrow_exception(form.FFailure);
    cfg = form.FPresenter.Config();
    return form.FPresenter.Saved();
}

INT_PTR CALLBACK TWin32SetupDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<TWin32SetupDialog*>(lParam);
        self->FDialog = dialog;
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    }
    auto* self = reinterpret_cast<TWin32SetupDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    try {
        return self->HandleMessage(message, wParam);
    } catch (...) {
        self->FFailure = std::current_exception();
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
}

INT_PTR TWin32SetupDialog::HandleMessage(UINT message, WPARAM wParam) {
    switch (message) {
        case WM_INITDIALOG:
            Initialize();
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_SETUP_PASTE:
                    FPresenter.PasteClicked();
                    return TRUE;
                case IDC_SETUP_BOOTSTRAP:
                    FPresenter.BootstrapClicked(ReadDialog());
                    return TRUE;
                case IDOK:
                    FPresenter.SaveClicked(ReadDialog());
                    return TRUE;
                case IDCANCEL:
                    EndDialog(FDialog, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

void TWin32SetupDialog::Initialize() {
    FOwnPrompts.SetOwner(FDialog);
    SetControlText(FDialog, setup_texts::Title);
    SetControlText(GetDlgItem(FDialog, IDC_SETUP_AUTOSTART), setup_texts::Autostart);
    SetControlText(GetDlgItem(FDialog, IDC_SETUP_PASTE), setup_texts::Paste);
    SetControlText(GetDlgItem(FDialog, IDC_SETUP_BOOTSTRAP), setup_texts::Bootstrap);
    SetControlText(GetDlgItem(FDialog, IDOK), setup_texts::Ok);
    HWND config = GetDlgItem(FDialog, IDC_SETUP_CONFIG);
    FFixedFont = CreateFixedFont(WindowDpi(FDialog));
    SetControlFont(config, FFixedFont.get());
    SendMessageW(config, EM_SETLIMITTEXT, 0, 0);
    ShowTexts(FPresenter.Texts());
    ShowDraft(FDraft);
}

void TWin32SetupDialog::ShowTexts(const TSetupTexts& texts) {
    SetControlText(GetDlgItem(FDialog, IDC_SETUP_HINT), texts.Hint);
    HWND cancel = GetDlgItem(FDialog, IDCANCEL);
    SetControlText(cancel, texts.Cancel);
    if (!texts.FirstRun) return;
    // The wider button keeps its right edge at the margin; the save button moves along.
    RECT extra{0, 0, ScalesOnlyExtraWidth, 0};
    MapDialogRect(FDialog, &extra);
    MoveLeftBy(FDialog, cancel, extra.right, true);
    MoveLeftBy(FDialog, GetDlgItem(FDialog, IDOK), extra.right, false);
}

TConfigDraft TWin32SetupDialog::ReadDialog() const {
    return {FromEditText(ControlText(GetDlgItem(FDialog, IDC_SETUP_CONFIG))),
            IsDlgButtonChecked(FDialog, IDC_SETUP_AUTOSTART) == BST_CHECKED};
}

void TWin32SetupDialog::ShowDraft(const TConfigDraft& draft) {
    FDraft = draft;
    if (FDialog == nullptr) return;
    ShowConfigText(draft.Text);
    CheckDlgButton(FDialog, IDC_SETUP_AUTOSTART, draft.AutoStart ? BST_CHECKED : BST_UNCHECKED);
}

void TWin32SetupDialog::ShowConfigText(const std::string& text) {
    if (FDialog == nullptr) {
        FDraft.Text = text;
        return;
    }
    SetWindowTextW(GetDlgItem(FDialog, IDC_SETUP_CONFIG), ToEditText(text).c_str());
}

void TWin32SetupDialog::Close() {
    EndDialog(FDialog, FPresenter.Saved() ? IDOK : IDCANCEL);
}

void TWin32SetupDialog::OpenPreparation(const TEgaissConfig& cfg) {
    if (FOpenPreparation) FOpenPreparation(cfg, FDialog);
}

}  // namespace egaiss
