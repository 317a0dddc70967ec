#include "winui/uWin32Prompts.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <memory>

#include "platform/uWin32Text.h"
#include "winui/uWin32Common.h"
#include "winui/uWin32Dialog.h"
#include "winui/uWin32Resources.h"

namespace egaiss {
namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;

struct TComReleaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using TComPtr = std::unique_ptr<T, TComReleaser>;

// COM for the calling thread while a picker is open; a thread that has it already keeps it.
class TComScope {
public:
    TComScope() : FResult(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~TComScope() {
        if (SUCCEEDED(FResult)) CoUninitialize();
    }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;
    bool Usable() const { return SUCCEEDED(FResult) || FResult == RPC_E_CHANGED_MODE; }

private:
    HRESULT FResult;
};

TComPtr<IShellItem> ShellItem(const std::wstring& path) {
    IShellItem* item = nullptr;
    if (path.empty() || FAILED(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&item))))
        return nullptr;
    return TComPtr<IShellItem>(item);
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Opens the folder when `start` is one; otherwise its parent, with its last part as the file name.
void PlaceDialog(IFileDialog& dialog, const std::wstring& start, bool withFileName) {
    std::wstring folder = start;
    if (!IsFolder(start)) {
        const std::size_t slash = start.find_last_of(L"\\/");
        folder = slash == std::wstring::npos ? std::wstring() : start.substr(0, slash);
        if (withFileName)
            dialog.SetFileName(start.substr(slash == std::wstring::npos ? 0 : slash + 1).c_str());
    }
    if (const auto item = ShellItem(folder)) dialog.SetFolder(item.get());
}

std::string PickedPath(IFileDialog& dialog, HWND owner) {
    if (FAILED(dialog.Show(owner))) return {};  // also when cancelled
    IShellItem* picked = nullptr;
    if (FAILED(dialog.GetResult(&picked))) return {};
    const TComPtr<IShellItem> result(picked);
    wchar_t* path = nullptr;
    if (FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) return {};
    const std::string utf8 = WideToUtf8(path);
    CoTaskMemFree(path);
    return utf8;
}

std::string RunOpenDialog(HWND owner, const std::string& caption, const std::string& startDir,
                          const std::string& filter, bool folders) {
    const TComScope com;
    if (!com.Usable()) return {};
    IFileOpenDialog* created = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created))))
        return {};
    const TComPtr<IFileOpenDialog> dialog(created);
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    options |= FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR;
    options |= folders ? FOS_PICKFOLDERS : FOS_FILEMUSTEXIST;
    dialog->SetOptions(options);
    dialog->SetTitle(Utf8ToWide(caption).c_str());
    const auto filters = FileDialogFilters(filter);
    if (!filters.empty()) {
        std::vector<COMDLG_FILTERSPEC> types;
        for (const auto& [name, pattern] : filters)
            types.push_back({name.c_str(), pattern.c_str()});
        dialog->SetFileTypes(static_cast<UINT>(types.size()), types.data());
    }
    PlaceDialog(*dialog, Utf8ToWide(startDir), !folders);
    return PickedPath(*dialog, owner);
}

// The line-of-text dialog (IDD_INPUT_TEXT).
class TInputDialog final : public TWin32Dialog {
public:
    TInputDialog(const std::string& title, const std::string& prompt, const std::string& text)
        : FTitle(title), FPrompt(prompt), FText(Utf8ToWide(text)) {}

    bool Ask(HWND owner) { return RunModal(IDD_INPUT_TEXT, owner) == IDOK; }
    std::string Text() const { return WideToUtf8(FText); }

private:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) override {
        if (message == WM_INITDIALOG) {
            ShowCaptions(FTitle.c_str(), {{IDC_INPUT_PROMPT, FPrompt.c_str()}});
            SetWindowTextW(Item(IDC_INPUT_TEXT), FText.c_str());
            return TRUE;
        }
        if (message != WM_COMMAND || LOWORD(wParam) != IDOK) return FALSE;
        FText = ControlText(Item(IDC_INPUT_TEXT));
        End(IDOK);
        return TRUE;
    }

    const std::string& FTitle;
    const std::string& FPrompt;
    std::wstring FText;
};

// The clipboard's text, never reading past the memory block even when it lacks its final zero.
std::wstring ClipboardUnicodeText(HWND owner) {
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(owner)) return {};
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text.assign(chars, wcsnlen(chars, GlobalSize(data) / sizeof(wchar_t)));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

UINT MessageIcon(TMessageKind kind) {
    switch (kind) {
        case TMessageKind::mkWarning:
            return MB_ICONWARNING;
        case TMessageKind::mkError:
            return MB_ICONERROR;
        case TMessageKind::mkInformation:
            break;
    }
    return MB_ICONINFORMATION;
}

}  // namespace

std::vector<std::pair<std::wstring, std::wstring>> FileDialogFilters(const std::string& filter) {
    std::vector<std::pair<std::wstring, std::wstring>> filters;
    const std::wstring all = Utf8ToWide(filter);
    for (std::size_t start = 0; start < all.size();) {
        std::size_t end = all.find(L";;", start);
        if (end == std::wstring::npos) end = all.size();
        const std::wstring entry = all.substr(start, end - start);
        start = end + 2;
        const std::size_t open = entry.rfind(L'(');
        const std::size_t close = entry.rfind(L')');
        if (open == std::wstring::npos || close == std::wstring::npos || close < open) continue;
        std::wstring pattern;
        for (wchar_t c : entry.substr(open + 1, close - open - 1))
            pattern += c == L' ' ? L';' : c;
        filters.emplace_back(entry, pattern);
    }
    return filters;
}

HWND TWin32Prompts::VisibleOwner() const {
    return FOwner != nullptr && IsWindowVisible(FOwner) ? FOwner : nullptr;
}

void TWin32Prompts::Message(TMessageKind kind, const std::string& title, const std::string& text) {
    MessageBoxW(VisibleOwner(), Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(),
                MB_OK | MB_SETFOREGROUND | MessageIcon(kind));
}

bool TWin32Prompts::Confirm(const std::string& title, const std::string& text) {
    return MessageBoxW(VisibleOwner(), Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(),
                       MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
}

std::string TWin32Prompts::ClipboardText() {
    return WideToUtf8(ClipboardUnicodeText(FOwner));
}

std::string TWin32Prompts::ChooseFolder(const std::string& caption, const std::string& startDir) {
    return RunOpenDialog(VisibleOwner(), caption, startDir, {}, true);
}

std::string TWin32Prompts::ChooseFile(const std::string& caption, const std::string& startDir,
                                      const std::string& filter) {
    return RunOpenDialog(VisibleOwner(), caption, startDir, filter, false);
}

bool TWin32Prompts::InputText(const std::string& title, const std::string& prompt, std::string& text) {
    TInputDialog dialog(title, prompt, text);
    if (!dialog.Ask(VisibleOwner())) return false;
    text = dialog.Text();
    return true;
}

}  // namespace egaiss
