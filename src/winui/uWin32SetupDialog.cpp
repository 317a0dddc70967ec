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
    form.RunModal(IDD_SETUP, owner);
    cfg = form.FPresenter.Config();
    return form.FPresenter.Saved();
}

INT_PTR TWin32SetupDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_INITDIALOG) {
        Initialize();
        // The caret at the start, as after a click: the system's focus would select the whole text,
        // which a key press then replaces.
        SetFocus(Item(IDC_SETUP_CONFIG));
        SendMessageW(Item(IDC_SETUP_CONFIG), EM_SETSEL, 0, 0);
        return FALSE;
    }
    if (message != WM_COMMAND) return FALSE;
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
        default:
            return FALSE;
    }
}

void TWin32SetupDialog::Initialize() {
    FOwnPrompts.SetOwner(Dialog());
    ShowCaptions(setup_texts::Title, {{IDC_SETUP_AUTOSTART, setup_texts::Autostart},
                                      {IDC_SETUP_PASTE, setup_texts::Paste},
                                      {IDC_SETUP_BOOTSTRAP, setup_texts::Bootstrap},
                                      {IDOK, setup_texts::Ok}});
    HWND config = Item(IDC_SETUP_CONFIG);
    FFixedFont = CreateFixedFont(WindowDpi(Dialog()));
    SetControlFont(config, FFixedFont.get());
    SendMessageW(config, EM_SETLIMITTEXT, 0, 0);
    ShowTexts(FPresenter.Texts());
    ShowDraft(FDraft);
}

void TWin32SetupDialog::ShowTexts(const TSetupTexts& texts) {
    SetControlText(Item(IDC_SETUP_HINT), texts.Hint);
    HWND cancel = Item(IDCANCEL);
    SetControlText(cancel, texts.Cancel);
    if (!texts.FirstRun) return;
    // The wider button keeps its right edge at the margin; the save button moves along.
    RECT extra{0, 0, ScalesOnlyExtraWidth, 0};
    MapDialogRect(Dialog(), &extra);
    MoveLeftBy(Dialog(), cancel, extra.right, true);
    MoveLeftBy(Dialog(), Item(IDOK), extra.right, false);
}

TConfigDraft TWin32SetupDialog::ReadDialog() const {
    return {FromEditText(ControlText(Item(IDC_SETUP_CONFIG))),
            IsDlgButtonChecked(Dialog(), IDC_SETUP_AUTOSTART) == BST_CHECKED};
}

void TWin32SetupDialog::ShowDraft(const TConfigDraft& draft) {
    FDraft = draft;
    if (Dialog() == nullptr) return;
    ShowConfigText(draft.Text);
    CheckDlgButton(Dialog(), IDC_SETUP_AUTOSTART, draft.AutoStart ? BST_CHECKED : BST_UNCHECKED);
}

void TWin32SetupDialog::ShowConfigText(const std::string& text) {
    if (Dialog() == nullptr) {
        FDraft.Text = text;
        return;
    }
    SetWindowTextW(Item(IDC_SETUP_CONFIG), ToEditText(text).c_str());
}

void TWin32SetupDialog::Close() {
    End(FPresenter.Saved() ? IDOK : IDCANCEL);
}

void TWin32SetupDialog::OpenPreparation(const TEgaissConfig& cfg) {
    if (FOpenPreparation) FOpenPreparation(cfg, Dialog());
}

}  // namespace egaiss
