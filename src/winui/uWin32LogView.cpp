#include "winui/uWin32LogView.h"

#include <algorithm>

#include "winui/uWin32Common.h"

namespace egaiss {
namespace {

struct TReaderPlace {
    DWORD SelStart = 0;
    DWORD SelEnd = 0;
    LRESULT FirstLine = 0;
    int Horizontal = 0;
};

TReaderPlace ReaderPlace(HWND view) {
    TReaderPlace place;
    SendMessageW(view, EM_GETSEL, reinterpret_cast<WPARAM>(&place.SelStart),
                 reinterpret_cast<LPARAM>(&place.SelEnd));
    place.FirstLine = SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0);
    place.Horizontal = GetScrollPos(view, SB_HORZ);
    return place;
}

void RestoreHorizontal(HWND view, int position) {
    SendMessageW(view, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, position), 0);
}

// The reader's place after the text was replaced, moved up by what dropped off the top.
void RestoreReaderPlace(HWND view, TReaderPlace place, const std::optional<TDroppedLines>& dropped,
                        std::size_t length) {
    const auto shift = [&](DWORD position) {
        const std::size_t chars = dropped ? dropped->Chars : 0;
        return static_cast<WPARAM>(std::min<std::size_t>(position > chars ? position - chars : 0, length));
    };
    SendMessageW(view, EM_SETSEL, shift(place.SelStart), static_cast<LPARAM>(shift(place.SelEnd)));
    // Scrolling is relative, and setting the selection may have scrolled already.
    const auto lines = static_cast<LRESULT>(dropped ? dropped->Lines : 0);
    const LRESULT firstLine = std::max<LRESULT>(0, place.FirstLine - lines);
    SendMessageW(view, EM_LINESCROLL, 0, firstLine - SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0));
    RestoreHorizontal(view, place.Horizontal);
}

}  // namespace

HWND CreateLogView(HWND parent, int id) {
    HWND view = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                    ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                AgentModule(), nullptr);
    // The 300 lines of the tail exceed the default limit of 32767 characters.
    if (view != nullptr) SendMessageW(view, EM_SETLIMITTEXT, 0, 0);
    return view;
}

std::optional<TDroppedLines> DroppedLines(std::wstring_view shown, std::wstring_view next) {
    TDroppedLines dropped;
    while (true) {
        const std::wstring_view kept = shown.substr(dropped.Chars);
        if (next.substr(0, kept.size()) == kept) return dropped;
        const std::size_t lineEnd = kept.find(L"\r\n");
        if (lineEnd == std::wstring_view::npos) return std::nullopt;
        dropped.Chars += lineEnd + 2;
        ++dropped.Lines;
    }
}

void ShowLogTail(HWND view, const std::string& tail) {
    const std::wstring next = ToEditText(tail);
    const std::wstring shown = ControlText(view);
    if (shown == next) return;
    const TReaderPlace place = ReaderPlace(view);
    const bool caretAtEnd = place.SelEnd + 2 >= shown.size();
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    SetWindowTextW(view, next.c_str());
    if (caretAtEnd) {
        // Only downwards: following the caret sideways would hide the time stamps behind a long line.
        const auto end = static_cast<WPARAM>(next.size());
        SendMessageW(view, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(view, EM_SCROLLCARET, 0, 0);
        RestoreHorizontal(view, place.Horizontal);
    } else {
        RestoreReaderPlace(view, place, DroppedLines(shown, next), next.size());
    }
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
}

}  // namespace egaiss
