#pragma once
// What the dialogs' views do with their controls: report-style list views (SysListView32 of a dialog
// template) with columns for the window's DPI, rows of UTF-8 cells and the selected row; controls
// enabled without losing the keyboard focus; a tooltip over one control; the cursor redrawn at once.
// Windows sources only.
#include <windows.h>
// commctrl.h builds on the types of windows.h.
#include <commctrl.h>

#include <span>
#include <string>
#include <vector>

namespace egaiss {

struct TReportColumn {
    const char* Caption;  // UTF-8
    int Width;            // pixels at 96 DPI
};

// Whole-row selection, double-buffered drawing and `extraStyle`; the columns in their order.
void SetUpReportList(HWND list, std::span<const TReportColumn> columns, UINT dpi, DWORD extraStyle = 0);
// Replaces every row; each row holds one cell per column.
void ShowReportRows(HWND list, const std::vector<std::vector<std::string>>& rows);
void SetReportCell(HWND list, int row, int column, const std::string& utf8);
std::string ReportCell(HWND list, int row, int column);
int ReportRowCount(HWND list);
// The selected row, or -1.
int SelectedReportRow(HWND list);
// Selects and focuses the row and scrolls it into view.
void SelectReportRow(HWND list, int row);

// Enables or disables a control of `dialog`; a control losing the focus hands it to the next one.
void EnableDialogItem(HWND dialog, int id, bool enabled);

// After a busy state changed: the window's WM_SETCURSOR runs now, not only at the next mouse move.
void RefreshCursor();
// A dialog's answer to WM_SETCURSOR: while it is busy, the cursor of work going on in the
// background (the dialog still answers); otherwise the usual one.
INT_PTR BusyCursorAnswer(HWND dialog, bool busy);

// The tooltip over one control of `owner` that shows a text, or nothing while the text is empty. The
// tooltip's window goes with its owner.
class TControlTooltip {
public:
    TControlTooltip() = default;
    TControlTooltip(const TControlTooltip&) = delete;
    TControlTooltip& operator=(const TControlTooltip&) = delete;

    void Attach(HWND owner, HWND control, HFONT font, int maxWidth);
    // The font and the widest line, again when the DPI changed.
    void SetLook(HFONT font, int maxWidth);
    void SetText(const std::wstring& text);
    const std::wstring& Text() const { return FText; }

private:
    HWND FTip = nullptr;
    HWND FOwner = nullptr;
    HWND FControl = nullptr;
    std::wstring FText;
};

}  // namespace egaiss
