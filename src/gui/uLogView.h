#pragma once
// Shows the log tail in a text view that the user may be reading: new lines are appended and lines
// that left the tail are removed in place, so the user's scroll position and selection stay; a
// caret at the end follows the new lines downwards.
#include <QString>

class QPlainTextEdit;

namespace egaiss {

// Shows `text` (lines separated by '\n'); false when the view already showed it.
bool ShowLogTail(QPlainTextEdit& view, const QString& text);

}  // namespace egaiss
