#include "gui/uLogView.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>

namespace egaiss {
namespace {

// How many of the shown lines dropped off the top when `shown` continues as `next`; -1 when `next`
// is no continuation of them (the log was trimmed or replaced).
qsizetype DroppedLines(const QStringList& shown, const QStringList& next) {
    for (qsizetype dropped = 0; dropped < shown.size(); ++dropped) {
        const qsizetype kept = shown.size() - dropped;
        if (kept > next.size()) continue;
        bool continues = true;
        for (qsizetype i = 0; i < kept && continues; ++i)
            continues = shown[dropped + i] == next[i];
        if (continues) return dropped;
    }
    return -1;
}

void ReplaceInPlace(QPlainTextEdit& view, qsizetype dropped, const QStringList& shown,
                    const QStringList& next) {
    QTextDocument& document = *view.document();
    QScrollBar& scroll = *view.verticalScrollBar();
    const int firstVisibleLine = scroll.value();
    QTextCursor edit(&document);
    edit.beginEditBlock();
    if (dropped > 0) {
        const QTextBlock firstKept = document.findBlockByNumber(static_cast<int>(dropped));
        edit.setPosition(firstKept.isValid() ? firstKept.position() : document.characterCount() - 1,
                         QTextCursor::KeepAnchor);
        edit.removeSelectedText();
    }
    const QStringList added = next.mid(shown.size() - dropped);
    if (!added.isEmpty()) {
        edit.movePosition(QTextCursor::End);
        edit.insertText((shown.size() > dropped ? QStringLiteral("\n") : QString()) + added.join('\n'));
    }
    edit.endEditBlock();
    // The view scrolls by lines: the lines the user looked at moved up by the dropped ones.
    scroll.setValue(std::max(0, firstVisibleLine - static_cast<int>(dropped)));
}

}  // namespace

bool ShowLogTail(QPlainTextEdit& view, const QString& text) {
    const QString shownText = view.toPlainText();
    if (shownText == text) return false;
    const bool caretAtEnd = view.textCursor().position() >= shownText.size() - 2;
    const QStringList shown = shownText.isEmpty() ? QStringList() : shownText.split('\n');
    const QStringList next = text.split('\n');
    const qsizetype dropped = DroppedLines(shown, next);
    if (dropped < 0)
        view.setPlainText(text);
    else
        ReplaceInPlace(view, dropped, shown, next);
    if (caretAtEnd) {
        // Only downwards: following the caret sideways would hide the time stamps behind a long line.
        const int sideways = view.horizontalScrollBar()->value();
        QTextCursor caret = view.textCursor();
        caret.movePosition(QTextCursor::End);
        view.setTextCursor(caret);  // also clears the selection
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
        view.horizontalScrollBar()->setValue(sideways);
    }
    return true;
}

}  // namespace egaiss
