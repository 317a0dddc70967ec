#include "winui/uWin32Dialog.h"

#include "winui/uWin32Common.h"

namespace egaiss {

INT_PTR TWin32Dialog::RunModal(int templateId, HWND owner) {
    FFailure = nullptr;
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
    } catch (...) {
        // The first failure is the one to report.
        if (!self->FFailure) self->FFailure = std::current_exception();
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
}

}  // namespace egaiss
