#include "winui/uWin32Controls.h"

#include "platform/uWin32Text.h"
#include "winui/uWin32Common.h"

namespace egaiss {
namespace {

using platform::Utf8ToWide;

int InsertRow(HWND list, int index, const std::string& firstCell) {
    std::wstring text = Utf8ToWide(firstCell);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = text.data();
    return static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

}  // namespace

void SetUpReportList(HWND list, std::span<const TReportColumn> columns, UINT dpi, DWORD extraStyle) {
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | static_cast<LPARAM>(extraStyle));
    for (std::size_t index = 0; index < columns.size(); ++index) {
        std::wstring caption = Utf8ToWide(columns[index].Caption);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = caption.data();
        column.cx = ScaleForDpi(columns[index].Width, dpi);
        column.iSubItem = static_cast<int>(index);
        SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
    }
}

void ShowReportRows(HWND list, const std::vector<std::vector<std::string>>& rows) {
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (const std::vector<std::string>& cells : rows) {
        if (cells.empty()) continue;
        const int row = InsertRow(list, ReportRowCount(list), cells[0]);
        for (std::size_t column = 1; column < cells.size(); ++column)
            SetReportCell(list, row, static_cast<int>(column), cells[column]);
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void SetReportCell(HWND list, int row, int column, const std::string& utf8) {
    std::wstring text = Utf8ToWide(utf8);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string ReportCell(HWND list, int row, int column) {
    wchar_t text[1024] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = static_cast<int>(std::size(text));
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return platform::WideToUtf8(text);
}

int ReportRowCount(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

int SelectedReportRow(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SelectReportRow(HWND list, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void EnableDialogItem(HWND dialog, int id, bool enabled) {
    HWND control = GetDlgItem(dialog, id);
    if (!enabled && GetFocus() == control) SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(control, enabled ? TRUE : FALSE);
}

void RefreshCursor() {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetCursorPos(cursor.x, cursor.y);
}

INT_PTR BusyCursorAnswer(HWND dialog, bool busy) {
    if (!busy) return FALSE;
    SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

void TControlTooltip::Attach(HWND owner, HWND control, HFONT font, int maxWidth) {
    FOwner = owner;
    FControl = control;
    FTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                           AgentModule(), nullptr);
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(FTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SetLook(font, maxWidth);
    SetText(FText);
}

void TControlTooltip::SetLook(HFONT font, int maxWidth) {
    if (FTip == nullptr) return;
    if (font != nullptr) SetControlFont(FTip, font);
    SendMessageW(FTip, TTM_SETMAXTIPWIDTH, 0, maxWidth);
}

void TControlTooltip::SetText(const std::wstring& text) {
    FText = text;
    if (FTip == nullptr) return;
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = FOwner;
    tool.uId = reinterpret_cast<UINT_PTR>(FControl);
    tool.lpszText = FText.data();
    SendMessageW(FTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(FTip, TTM_ACTIVATE, FText.empty() ? FALSE : TRUE, 0);
}

}  // namespace egaiss
