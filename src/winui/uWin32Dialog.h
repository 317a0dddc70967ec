#pragma once
// A modal dialog from a template of agent.rc, for the views of the presenters: the handle, its
// controls and the messages reach the derived view; an exception of a handler closes the dialog
// and is raised again to whoever opened it. Windows sources only.
#include <windows.h>

#include <exception>
#include <initializer_list>

namespace egaiss {

class TWin32Dialog {
public:
    virtual ~TWin32Dialog() = default;
    TWin32Dialog(const TWin32Dialog&) = delete;
    TWin32Dialog& operator=(const TWin32Dialog&) = delete;

protected:
    TWin32Dialog() = default;

    // Shows the dialog modally over `owner` and returns what it ended with.
    INT_PTR RunModal(int templateId, HWND owner);
    void End(INT_PTR result) { EndDialog(FDialog, result); }

    HWND Dialog() const { return FDialog; }
    HWND Item(int id) const { return GetDlgItem(FDialog, id); }

    struct TCaption {
        int Id;
        const char* Text;  // UTF-8
    };
    // The title and the captions of the controls, which the templates leave to the presenters.
    void ShowCaptions(const char* title, std::initializer_list<TCaption> captions);

    // As a dialog procedure answers: TRUE for a handled message. WM_INITDIALOG comes first; an
    // unhandled IDCANCEL (Esc, the close box) ends the dialog.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    HWND FDialog = nullptr;
    std::exception_ptr FFailure;
};

}  // namespace egaiss
