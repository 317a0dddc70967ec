#pragma once
// A modal dialog from a template of agent.rc, for the views of the presenters: the handle, its
// controls and the messages reach the derived view. An exception of a handler goes to the
// application's handler while the agent runs, and the dialog stays open; without one it closes the
// dialog and is raised again to whoever opened it. Windows sources only.
#include <windows.h>

#include <exception>
#include <functional>
#include <initializer_list>

namespace egaiss {

class TWin32Dialog {
public:
    using TAppExceptionHandler = std::function<void(const std::exception& error)>;

    // The running agent's handler of exceptions that escape a window's handler (it logs and shows
    // them); an empty one restores closing and raising. The agent's main thread sets it.
    static void SetAppExceptionHandler(TAppExceptionHandler handler);

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
    // Keeps the exception being handled for RunModal to raise, and ends the dialog.
    static INT_PTR EndWithFailure(TWin32Dialog& self, HWND dialog);

    HWND FDialog = nullptr;
    std::exception_ptr FFailure;
};

}  // namespace egaiss
