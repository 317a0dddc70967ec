#include "winui/uWin32Dialog.h"

#include <commctrl.h>

#include "winui/uWin32Common.h"

namespace egaiss {
namespace {

// Set and used on the main thread alone, where every dialog runs.
TWin32Dialog::TAppExceptionHandler& AppExceptionHandler() {
    static TWin32Dialog::TAppExceptionHandler handler;
    return handler;
}

}  // namespace

void TWin32Dialog::SetAppExceptionHandler(TAppExceptionHandler handler) {
    AppExceptionHandler() = std::move(handler);
}

INT_PTR TWin32Dialog::RunModal(int templateId, HWND owner) {
    FFailure = nullptr;
    // The templates hold list views and progress bars, also when no other window has loaded them.
    static const bool controlsLoaded = [] {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    static_cast<void>(controlsLoaded);
    const INT_PTR result = DialogBoxParamW(AgentModule(), MAKEINTRESOURCEW(templateId), owner, &DialogProc,
                                           reinterpret_cast<LPARAM>(this));
    FDialog = nullptr;
    if (FFailure) std::rethrow_exception(FFailure);
    return result;
}

void TWin32Dialog::ShowCaptions(const char* title, std::initializer_list<TCaption> captions) {
    SetControlText(FDialog, title);
    for (const TCaption& caption : captions)
        SetControlText(Item(caption.Id), caption.Text);
}

INT_PTR CALLBACK TWin32Dialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<TWin32Dialog*>(lParam);
        self->FDialog = dialog;
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    }
    auto* self = reinterpret_cast<TWin32Dialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    try {
        if (self->HandleMessage(message, wParam, lParam) != FALSE) return TRUE;
        if (message != WM_COMMAND || LOWORD(wParam) != IDCANCEL) return FALSE;
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    } catch (const std::exception& error) {
        // A dialog that could not open closes, and its opener hears why.
        if (message == WM_INITDIALOG || !AppExceptionHandler()) return EndWithFailure(*self, dialog);
        // As a failed save of the scales dialog wants: the user sees why, and the edits stay.
        try {
            AppExceptionHandler()(error);
        } catch (...) {
            return EndWithFailure(*self, dialog);
        }
        return TRUE;
    } catch (...) {
        return EndWithFailure(*self, dialog);
    }
}

INT_PTR TWin32Dialog::EndWithFailure(TWin32Dialog& self, HWND dialog) {
    // The first failure is the one to report.
    if (!self.FFailure) self.FFailure = std::current_exception();
    EndDialog(dialog, IDCANCEL);
    return TRUE;
}

}  // namespace egaiss
