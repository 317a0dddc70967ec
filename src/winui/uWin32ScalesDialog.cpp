#include "winui/uWin32ScalesDialog.h"

#include <utility>

#include "platform/uWin32Text.h"
#include "winui/uWin32Common.h"
#include "winui/uWin32Controls.h"
#include "winui/uWin32Resources.h"

namespace egaiss {
namespace {

constexpr TReportColumn Columns[] = {{"Host", 150}, {"Port", 60}, {"Serial", 110}, {"On", 40}};
// Steps of the marquee while a search runs, in milliseconds.
constexpr WPARAM MarqueeStep = 30;

}  // namespace

TWin32ScalesDialog::TWin32ScalesDialog(TMainLoop& loop, int brand, const TScalesConfig& cfg,
                                       TMassaDiscoveryParams search, TPrompts* prompts)
    : FEditor(loop, *this, prompts != nullptr ? *prompts : FOwnPrompts, brand, cfg, std::move(search)) {}

bool TWin32ScalesDialog::Edit(TMainLoop& loop, int brand, TScalesConfig& cfg, HWND owner, TPrompts* prompts,
                              std::optional<TMassaDiscoveryParams> search) {
    TWin32ScalesDialog form(
        loop, brand, cfg,
        search ? std::move(*search)
               : BrandSearchParams(cfg.Brands.at(static_cast<std::size_t>(brand)).SearchSubnets),
        prompts);
    form.RunModal(IDD_SCALES, owner);
    if (!form.FSaved) return false;
    cfg = form.FEditor.Config();
    return true;
}

INT_PTR TWin32ScalesDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            Initialize();
            FEditor.Open();
            return TRUE;
        case WM_COMMAND:
            return Command(LOWORD(wParam)) ? TRUE : FALSE;
        case WM_CLOSE:
            // The title bar's close stops a running search at once but keeps the dialog until it has ended.
            if (FEditor.CloseRequested()) End(IDCANCEL);
            return TRUE;
        case WM_SETCURSOR:
            return BusyCursorAnswer(Dialog(), FLoading);
        default:
            return FALSE;
    }
}

bool TWin32ScalesDialog::Command(int id) {
    switch (id) {
        case IDC_SCALES_BROWSE:
            FEditor.BrowseFolderClicked(Text(IDC_SCALES_DIR));
            return true;
        case IDC_SCALES_BROWSE_FILE:
            FEditor.BrowseFileClicked(Text(IDC_SCALES_DIR), Text(IDC_SCALES_FILE));
            return true;
        case IDC_SCALES_FIND:
            FEditor.Find();
            return true;
        case IDC_SCALES_STOP:
            FEditor.StopClicked();
            return true;
        case IDC_SCALES_ADD:
            FEditor.AddClicked();
            return true;
        case IDC_SCALES_REMOVE:
            // Nothing without a selection.
            FEditor.RemoveScale(SelectedReportRow(Item(IDC_SCALES_LIST)));
            return true;
        case IDC_SCALES_LOAD_NOW:
            FEditor.LoadNowClicked(FormValues());
            return true;
        case IDOK:
            FEditor.SaveClicked(FormValues());
            return true;
        case IDCANCEL:
            // The button and Esc: a running search is only asked to end.
            if (FEditor.CancelRequested()) End(IDCANCEL);
            return true;
        default:
            return false;
    }
}

void TWin32ScalesDialog::Initialize() {
    FOwnPrompts.SetOwner(Dialog());
    const TScalesFormTexts texts = FEditor.Texts();
    ShowCaptions(texts.Title.c_str(), {{IDC_SCALES_HINT, texts.Hint.c_str()},
                                       {IDC_SCALES_ENABLED, texts.Enabled.c_str()},
                                       {IDC_SCALES_DIR_LABEL, texts.Dir.c_str()},
                                       {IDC_SCALES_FILE_LABEL, texts.File.c_str()},
                                       {IDC_SCALES_POLL_LABEL, texts.Poll.c_str()},
                                       {IDC_SCALES_MAC_LABEL, texts.Mac.c_str()},
                                       {IDC_SCALES_FIND, scales_texts::Find},
                                       {IDC_SCALES_STOP, scales_texts::Stop},
                                       {IDC_SCALES_ADD, scales_texts::Add},
                                       {IDC_SCALES_REMOVE, scales_texts::Remove},
                                       {IDC_SCALES_LOAD_NOW, scales_texts::LoadNow},
                                       {IDOK, scales_texts::Ok},
                                       {IDCANCEL, scales_texts::Cancel}});
    SetUpReportList(Item(IDC_SCALES_LIST), Columns, WindowDpi(Dialog()));
}

std::string TWin32ScalesDialog::Text(int id) const {
    return platform::WideToUtf8(ControlText(Item(id)));
}

TScalesFormValues TWin32ScalesDialog::FormValues() const {
    return {IsDlgButtonChecked(Dialog(), IDC_SCALES_ENABLED) == BST_CHECKED, Text(IDC_SCALES_DIR),
            Text(IDC_SCALES_FILE), Text(IDC_SCALES_POLL)};
}

void TWin32ScalesDialog::ShowValues(const TScalesFormValues& values, const std::string& mac) {
    CheckDlgButton(Dialog(), IDC_SCALES_ENABLED, values.Enabled ? BST_CHECKED : BST_UNCHECKED);
    SetControlText(Item(IDC_SCALES_DIR), values.Dir);
    SetControlText(Item(IDC_SCALES_FILE), values.File);
    SetControlText(Item(IDC_SCALES_POLL), values.Poll);
    SetControlText(Item(IDC_SCALES_MAC), mac);
}

void TWin32ScalesDialog::ShowDir(const std::string& dir) {
    SetControlText(Item(IDC_SCALES_DIR), dir);
}

void TWin32ScalesDialog::ShowFile(const std::string& file) {
    SetControlText(Item(IDC_SCALES_FILE), file);
}

void TWin32ScalesDialog::ShowScales(const std::vector<TScaleEndpoint>& scales) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(scales.size());
    for (const TScaleEndpoint& endpoint : scales)
        rows.push_back(
            {endpoint.Host, std::to_string(endpoint.Port), endpoint.Serial, endpoint.Enabled ? "1" : "0"});
    ShowReportRows(Item(IDC_SCALES_LIST), rows);
}

void TWin32ScalesDialog::ShowSearching(bool on, const std::string& text) {
    HWND bar = Item(IDC_SCALES_SEARCH_BAR);
    SendMessageW(bar, PBM_SETMARQUEE, on ? TRUE : FALSE, on ? MarqueeStep : 0);
    ShowWindow(bar, on ? SW_SHOWNA : SW_HIDE);
    // The button pressed goes first, so that the focus moves on to its counterpart.
    EnableDialogItem(Dialog(), on ? IDC_SCALES_STOP : IDC_SCALES_FIND, true);
    EnableDialogItem(Dialog(), on ? IDC_SCALES_FIND : IDC_SCALES_STOP, false);
    ShowSearchText(text);
}

void TWin32ScalesDialog::ShowSearchText(const std::string& text) {
    SetControlText(Item(IDC_SCALES_SEARCH), text);
}

void TWin32ScalesDialog::ShowStopping(const std::string& text) {
    ShowSearchText(text);
    EnableDialogItem(Dialog(), IDC_SCALES_STOP, false);
}

void TWin32ScalesDialog::ShowLoading(bool on) {
    FLoading = on;
    EnableDialogItem(Dialog(), IDC_SCALES_LOAD_NOW, !on);
    RefreshCursor();
}

void TWin32ScalesDialog::CloseSaved() {
    FSaved = true;
    End(IDOK);
}

}  // namespace egaiss
