#include "winui/uWin32PreparationWindow.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/uWin32Text.h"
#include "winui/uWin32Resources.h"

namespace egaiss {
namespace {

using platform::Utf8ToWide;

namespace texts = preparation_texts;

enum TCheckColumn { ccOrder, ccStatus, ccComponent, ccDetails };
constexpr TReportColumn Columns[] = {{texts::ColumnOrder, 36},
                                     {texts::ColumnStatus, 72},
                                     {texts::ColumnComponent, 260},
                                     {texts::ColumnDetails, 280}};
// Posted to itself once the window is on screen, so that the first check run starts after that.
constexpr UINT ChecksDueMessage = WM_USER + 501;
constexpr int TooltipWidth = 600;
// Room around a cell's text, as the list leaves it, at 96 DPI.
constexpr int CellPadding = 20;

RECT ClientRectOf(HWND dialog, HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void Place(HWND control, int left, int top, int right, int bottom) {
    SetWindowPos(control, nullptr, left, top, right - left, std::max(0, bottom - top),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The height of `control`'s text broken into lines of the control's width.
int TextHeight(HWND control) {
    const std::wstring text = ControlText(control);
    RECT rect{};
    GetClientRect(control, &rect);
    HDC dc = GetDC(control);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    ReleaseDC(control, dc);
    return rect.bottom - rect.top;
}

// The green tick of a passed check at `size` pixels (16 at 96 DPI), on white that the image
// list treats as transparent.
HIMAGELIST CreateCheckMark(int size) {
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 1, 0);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    ReleaseDC(nullptr, screen);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    const RECT all{0, 0, size, size};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const auto at = [size](int pixelsAt16) { return MulDiv(pixelsAt16, size, 16); };
    HPEN pen = CreatePen(PS_SOLID, std::max(1, at(2)), RGB(69, 167, 40));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    const POINT tick[] = {{at(4), at(8)}, {at(7), at(11)}, {at(13), at(4)}};
    Polyline(dc, tick, static_cast<int>(std::size(tick)));
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
    ImageList_AddMasked(images, bitmap, RGB(255, 255, 255));
    DeleteObject(bitmap);
    return images;
}

std::vector<std::string> Cells(const TPreparationRow& row) {
    return {row.Order, row.Status, row.Title, row.Detail};
}

}  // namespace

TWin32PreparationWindow::TWin32PreparationWindow(TMainLoop& loop, const TEgaissConfig& cfg,
                                                 const TSyncPauser& setSyncPaused, TPrompts* prompts,
                                                 TInstallOptions options)
    : FPresenter(loop, *this, prompts != nullptr ? *prompts : FOwnPrompts, cfg, setSyncPaused,
                 std::move(options)) {}

void TWin32PreparationWindow::Show(TMainLoop& loop, const TEgaissConfig& cfg,
                                   const TSyncPauser& setSyncPaused, HWND owner, TPrompts* prompts,
                                   TInstallOptions options) {
    TWin32PreparationWindow window(loop, cfg, setSyncPaused, prompts, std::move(options));
    window.RunModal(IDD_PREPARATION, owner);
}

TPreparationOpener TWin32PreparationWindow::Opener(TMainLoop& loop, TSyncPauser setSyncPaused,
                                                   TPrompts* prompts) {
    return [&loop, setSyncPaused = std::move(setSyncPaused), prompts](const TEgaissConfig& cfg, HWND owner) {
        Show(loop, cfg, setSyncPaused, owner, prompts);
    };
}

INT_PTR TWin32PreparationWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Initialize();
            FPresenter.Open();
            return TRUE;
        case WM_SHOWWINDOW:
            if (wParam != FALSE && !std::exchange(FShownOnce, true))
                PostMessageW(Dialog(), ChecksDueMessage, 0, 0);
            return FALSE;
        case ChecksDueMessage:
            FPresenter.Shown();
            return TRUE;
        case WM_COMMAND:
            return Command(LOWORD(wParam)) ? TRUE : FALSE;
        case WM_CLOSE:
            // The title bar asks like the close button and Esc.
            FPresenter.CloseClicked();
            return TRUE;
        case WM_NOTIFY:
            return Notify(*reinterpret_cast<const NMHDR*>(lParam), lParam);
        case WM_SETCURSOR:
            return BusyCursorAnswer(Dialog(), FBusy);
        default:
            return FALSE;
    }
}

bool TWin32PreparationWindow::Command(int id) {
    const bool silent = IsDlgButtonChecked(Dialog(), IDC_PREPARATION_SILENT) == BST_CHECKED;
    switch (id) {
        case IDC_PREPARATION_REFRESH:
            FPresenter.RefreshClicked();
            return true;
        case IDC_PREPARATION_INSTALL:
            FPresenter.InstallClicked(silent);
            return true;
        case IDC_PREPARATION_INSTALL_ALL:
            FPresenter.InstallAllClicked(silent);
            return true;
        case IDCANCEL:
            // The close button and Esc.
            FPresenter.CloseClicked();
            return true;
        default:
            return false;
    }
}

INT_PTR TWin32PreparationWindow::Notify(const NMHDR& header, LPARAM lParam) {
    if (header.idFrom != IDC_PREPARATION_LIST) return FALSE;
    switch (header.code) {
        case LVN_ITEMCHANGED: {
            const auto& change = *reinterpret_cast<const NMLISTVIEW*>(lParam);
            if ((change.uChanged & LVIF_STATE) != 0 &&
                ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) != 0)
                FPresenter.RowSelected(SelectedReportRow(header.hwndFrom));
            return FALSE;
        }
        case NM_CUSTOMDRAW:
            SetWindowLongPtrW(Dialog(), DWLP_MSGRESULT,
                              CustomDraw(*reinterpret_cast<const NMLVCUSTOMDRAW*>(lParam)));
            return TRUE;
        case LVN_GETINFOTIPW:
            ShowDetailTooltip(*reinterpret_cast<NMLVGETINFOTIPW*>(lParam));
            return FALSE;
        default:
            return FALSE;
    }
}

void TWin32PreparationWindow::Initialize() {
    FOwnPrompts.SetOwner(Dialog());
    ShowCaptions(texts::Title, {{IDC_PREPARATION_HINT, texts::Hint},
                                {IDC_PREPARATION_REFRESH, texts::Refresh},
                                {IDC_PREPARATION_INSTALL, texts::Install},
                                {IDC_PREPARATION_INSTALL_ALL, texts::InstallAll},
                                {IDC_PREPARATION_SILENT, texts::SilentInstall},
                                {IDCANCEL, texts::Close}});
    const UINT dpi = WindowDpi(Dialog());
    SetUpReportList(Item(IDC_PREPARATION_LIST), Columns, dpi, LVS_EX_INFOTIP);
    FCheckMarkSize = ScaleForDpi(16, dpi);
    FCheckMarkIndent = ScaleForDpi(4, dpi);
    FCheckMark.reset(CreateCheckMark(FCheckMarkSize));
    FTipFont = CreateDialogFont(dpi);
    FManifestTip.Attach(Dialog(), Item(IDC_PREPARATION_MANIFEST), FTipFont.get(),
                        ScaleForDpi(TooltipWidth, dpi));
    FListRect = ClientRectOf(Dialog(), Item(IDC_PREPARATION_LIST));
    FProgressBottom = ClientRectOf(Dialog(), Item(IDC_PREPARATION_BAR)).bottom;
    RECT gap{0, 0, 0, 4};
    MapDialogRect(Dialog(), &gap);
    FGap = gap.bottom;
}

// From the bottom up: the bar, the label as high as its lines, and the list in the room left.
void TWin32PreparationWindow::LayoutProgress(bool barShown, bool captionShown) {
    int bottom = FProgressBottom;
    HWND bar = Item(IDC_PREPARATION_BAR);
    if (barShown) {
        const RECT rect = ClientRectOf(Dialog(), bar);
        const int height = rect.bottom - rect.top;
        Place(bar, FListRect.left, bottom - height, FListRect.right, bottom);
        bottom -= height + FGap;
    }
    HWND caption = Item(IDC_PREPARATION_PROGRESS);
    if (captionShown) {
        const RECT rect = ClientRectOf(Dialog(), caption);
        // Lines beyond the room between the list's top rows and the bar are cut.
        const int height = std::min<int>(TextHeight(caption), (bottom - FListRect.top) / 2);
        Place(caption, FListRect.left, bottom - height, rect.right, bottom);
        bottom -= height + FGap;
    }
    Place(Item(IDC_PREPARATION_LIST), FListRect.left, FListRect.top, FListRect.right, bottom);
}

// The status column keeps its width unless a status text needs more.
void TWin32PreparationWindow::FitStatusColumn(const std::string& status) {
    HWND list = Item(IDC_PREPARATION_LIST);
    const std::wstring text = Utf8ToWide(status);
    const int needed =
        static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str()))) +
        ScaleForDpi(CellPadding, WindowDpi(Dialog()));
    if (SendMessageW(list, LVM_GETCOLUMNWIDTH, ccStatus, 0) < needed)
        SendMessageW(list, LVM_SETCOLUMNWIDTH, ccStatus, needed);
}

// The tick goes over the status cell of a passed row, whose text is empty, once the row is painted.
LRESULT TWin32PreparationWindow::CustomDraw(const NMLVCUSTOMDRAW& draw) const {
    switch (draw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
            return CDRF_NOTIFYPOSTPAINT;
        case CDDS_ITEMPOSTPAINT: {
            const auto row = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
            if (row >= FTicked.size() || !FTicked[row]) return CDRF_DODEFAULT;
            RECT cell{};
            cell.top = ccStatus;
            cell.left = LVIR_BOUNDS;
            if (SendMessageW(draw.nmcd.hdr.hwndFrom, LVM_GETSUBITEMRECT, row,
                             reinterpret_cast<LPARAM>(&cell)) == 0)
                return CDRF_DODEFAULT;
            ImageList_Draw(FCheckMark.get(), 0, draw.nmcd.hdc, cell.left + FCheckMarkIndent,
                           cell.top + (cell.bottom - cell.top - FCheckMarkSize) / 2, ILD_TRANSPARENT);
            return CDRF_DODEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

// A row's whole details as its tooltip, wherever the row is pointed at.
void TWin32PreparationWindow::ShowDetailTooltip(NMLVGETINFOTIPW& tip) const {
    if (tip.iItem < 0 || static_cast<std::size_t>(tip.iItem) >= FDetails.size() || tip.cchTextMax <= 0)
        return;
    const std::wstring& detail = FDetails[static_cast<std::size_t>(tip.iItem)];
    const std::size_t length = std::min(detail.size(), static_cast<std::size_t>(tip.cchTextMax - 1));
    detail.copy(tip.pszText, length);
    tip.pszText[length] = L'\0';
}

void TWin32PreparationWindow::ShowRows(const std::vector<TPreparationRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    FTicked.clear();
    FDetails.clear();
    for (const TPreparationRow& row : rows) {
        FitStatusColumn(row.Status);
        cells.push_back(Cells(row));
        FTicked.push_back(row.Ok);
        FDetails.push_back(Utf8ToWide(row.Detail));
    }
    ShowReportRows(Item(IDC_PREPARATION_LIST), cells);
}

void TWin32PreparationWindow::ShowRow(int row, const TPreparationRow& cells) {
    if (row < 0 || static_cast<std::size_t>(row) >= FTicked.size()) return;
    HWND list = Item(IDC_PREPARATION_LIST);
    FitStatusColumn(cells.Status);
    const std::vector<std::string> texts = Cells(cells);
    for (int column = ccOrder; column <= ccDetails; ++column)
        SetReportCell(list, row, column, texts[static_cast<std::size_t>(column)]);
    FTicked[static_cast<std::size_t>(row)] = cells.Ok;
    FDetails[static_cast<std::size_t>(row)] = Utf8ToWide(cells.Detail);
    SendMessageW(list, LVM_REDRAWITEMS, static_cast<WPARAM>(row), row);
}

void TWin32PreparationWindow::SelectRow(int row) {
    SelectReportRow(Item(IDC_PREPARATION_LIST), row);
}

void TWin32PreparationWindow::ShowProgress(const TPreparationProgress& progress) {
    HWND bar = Item(IDC_PREPARATION_BAR);
    SendMessageW(bar, PBM_SETRANGE32, 0, progress.Maximum);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(progress.Position), 0);
    ShowWindow(bar, progress.BarShown ? SW_SHOWNA : SW_HIDE);
    HWND caption = Item(IDC_PREPARATION_PROGRESS);
    SetWindowTextW(caption, ToEditText(progress.Caption).c_str());
    ShowWindow(caption, progress.CaptionShown ? SW_SHOWNA : SW_HIDE);
    LayoutProgress(progress.BarShown, progress.CaptionShown);
}

void TWin32PreparationWindow::ShowManifestText(const std::string& text) {
    SetControlText(Item(IDC_PREPARATION_MANIFEST), text);
    FManifestTip.SetText(Utf8ToWide(text));
}

void TWin32PreparationWindow::ShowEnabled(const TPreparationButtons& enabled) {
    EnableDialogItem(Dialog(), IDCANCEL, enabled.Close);
    EnableDialogItem(Dialog(), IDC_PREPARATION_REFRESH, enabled.Refresh);
    EnableDialogItem(Dialog(), IDC_PREPARATION_INSTALL, enabled.Install);
    EnableDialogItem(Dialog(), IDC_PREPARATION_INSTALL_ALL, enabled.InstallAll);
    EnableDialogItem(Dialog(), IDC_PREPARATION_SILENT, enabled.Silent);
    EnableDialogItem(Dialog(), IDC_PREPARATION_LIST, enabled.List);
}

void TWin32PreparationWindow::ShowBusy(bool busy) {
    FBusy = busy;
    RefreshCursor();
}

void TWin32PreparationWindow::CloseWindow() {
    End(IDCANCEL);
}

}  // namespace egaiss
