#include "winui/uWin32QueueWindow.h"

#include <algorithm>
#include <iterator>

#include "platform/uWin32Text.h"
#include "winui/uWin32Common.h"
#include "winui/uWin32Controls.h"
#include "winui/uWin32Resources.h"

namespace egaiss {
namespace {

using platform::Utf8ToWide;

constexpr TReportColumn Columns[] = {
    {queue_texts::Status, 90}, {queue_texts::Type, 160}, {queue_texts::Id, 120}, {queue_texts::Details, 220}};

// The buttons that start a request.
constexpr int RequestButtons[] = {IDC_QUEUE_REFRESH, IDC_QUEUE_CLEAR_QUEUED, IDC_QUEUE_CLEAR_ERRORS,
                                  IDC_QUEUE_CLEAR_ALL};

}  // namespace

TWin32QueueWindow::TWin32QueueWindow(TMainLoop& loop, const TEgaissConfig& cfg, TPrompts* prompts)
    : FPresenter(loop, *this, prompts != nullptr ? *prompts : FOwnPrompts, cfg) {}

void TWin32QueueWindow::ShowQueue(TMainLoop& loop, const TEgaissConfig& cfg, HWND owner, TPrompts* prompts) {
    TWin32QueueWindow form(loop, cfg, prompts);
    form.RunModal(IDD_QUEUE, owner);
}

INT_PTR TWin32QueueWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Initialize();
            // The window opens asking the server.
            FPresenter.RefreshClicked();
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_QUEUE_REFRESH:
                    FPresenter.RefreshClicked();
                    return TRUE;
                case IDC_QUEUE_CLEAR_QUEUED:
                    FPresenter.ClearQueuedClicked();
                    return TRUE;
                case IDC_QUEUE_CLEAR_ERRORS:
                    FPresenter.ClearErrorsClicked();
                    return TRUE;
                case IDC_QUEUE_CLEAR_ALL:
                    FPresenter.ClearAllClicked();
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_NOTIFY: {
            auto& header = *reinterpret_cast<NMHDR*>(lParam);
            if (header.idFrom == IDC_QUEUE_LIST && header.code == LVN_GETINFOTIPW)
                ShowIdTooltip(*reinterpret_cast<NMLVGETINFOTIPW*>(lParam));
            return FALSE;
        }
        case WM_SETCURSOR:
            return BusyCursorAnswer(Dialog(), FBusy);
        default:
            return FALSE;
    }
}

void TWin32QueueWindow::Initialize() {
    FOwnPrompts.SetOwner(Dialog());
    ShowCaptions(queue_texts::Title, {{IDC_QUEUE_SUMMARY, queue_texts::SummaryPending},
                                      {IDC_QUEUE_REFRESH, queue_texts::Refresh},
                                      {IDC_QUEUE_CLEAR_QUEUED, queue_texts::ClearQueued},
                                      {IDC_QUEUE_CLEAR_ERRORS, queue_texts::ClearErrors},
                                      {IDC_QUEUE_CLEAR_ALL, queue_texts::ClearAll},
                                      {IDCANCEL, queue_texts::Close}});
    SetUpReportList(Item(IDC_QUEUE_LIST), Columns, WindowDpi(Dialog()), LVS_EX_INFOTIP | LVS_EX_LABELTIP);
}

// The list shows a row's whole id as its tooltip, wherever the row is pointed at.
void TWin32QueueWindow::ShowIdTooltip(NMLVGETINFOTIPW& tip) const {
    if (tip.iItem < 0 || static_cast<std::size_t>(tip.iItem) >= FIds.size() || tip.cchTextMax <= 0) return;
    const std::wstring& id = FIds[static_cast<std::size_t>(tip.iItem)];
    const std::size_t length = std::min(id.size(), static_cast<std::size_t>(tip.cchTextMax - 1));
    id.copy(tip.pszText, length);
    tip.pszText[length] = L'\0';
}

void TWin32QueueWindow::ShowSummary(const std::string& text) {
    SetControlText(Item(IDC_QUEUE_SUMMARY), text);
}

void TWin32QueueWindow::ShowRows(const std::vector<TQueueRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    FIds.clear();
    for (const TQueueRow& row : rows) {
        cells.push_back({row.Status, row.DocType, row.ShownId, row.Details});
        FIds.push_back(Utf8ToWide(row.Id));
    }
    ShowReportRows(Item(IDC_QUEUE_LIST), cells);
}

void TWin32QueueWindow::ShowBusy(bool busy) {
    FBusy = busy;
    for (const int button : RequestButtons)
        EnableDialogItem(Dialog(), button, !busy);
    RefreshCursor();
}

}  // namespace egaiss
