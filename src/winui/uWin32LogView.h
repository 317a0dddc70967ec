#pragma once
// The main window's log view: a read-only EDIT control that takes a new log tail without moving
// the reader. Windows sources only.
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace egaiss {

// The read-only, monospaced, unwrapped multi-line EDIT with both scroll bars.
HWND CreateLogView(HWND parent, int id);

// Shows `tail` (lines separated by '\n'). An unchanged text leaves the view alone. Otherwise a
// caret at the end follows the new end (downwards only); any other caret, selection and scroll
// position stay on the lines the reader was looking at, also when lines dropped off the top.
void ShowLogTail(HWND view, const std::string& tail);

struct TDroppedLines {
    std::size_t Lines = 0;
    std::size_t Chars = 0;  // of the dropped lines with their "\r\n"
};

// How many of the shown lines dropped off the top when `shown` continues as `next` (lines ended
// by "\r\n"); nothing when `next` is no continuation of them (the log was trimmed or replaced).
std::optional<TDroppedLines> DroppedLines(std::wstring_view shown, std::wstring_view next);

}  // namespace egaiss
