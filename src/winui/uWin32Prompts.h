#pragma once
// The presenters' prompts on Windows: message boxes, the clipboard, the shell's folder and file
// pickers and a line-of-text dialog from the resources, each owned by one window.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "agent/uPrompts.h"

namespace egaiss {

class TWin32Prompts final : public TPrompts {
public:
    // `owner` may be set later (a window's prompts exist before its handle does); a hidden owner is
    // not used, so that a box asked for from the tray menu still comes to the front.
    explicit TWin32Prompts(HWND owner = nullptr) : FOwner(owner) {}
    void SetOwner(HWND owner) { FOwner = owner; }

    void Message(TMessageKind kind, const std::string& title, const std::string& text) override;
    bool Confirm(const std::string& title, const std::string& text) override;
    std::string ClipboardText() override;
    std::string ChooseFolder(const std::string& caption, const std::string& startDir) override;
    std::string ChooseFile(const std::string& caption, const std::string& startDir,
                           const std::string& filter) override;
    bool InputText(const std::string& title, const std::string& prompt, std::string& text) override;

private:
    HWND VisibleOwner() const;

    HWND FOwner;
};

// A picker filter of the form "Name (*.a *.b);;Name (*.*)" as (name, "*.a;*.b") pairs.
std::vector<std::pair<std::wstring, std::wstring>> FileDialogFilters(const std::string& filter);

}  // namespace egaiss
