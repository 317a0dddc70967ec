#include "gui/uElidedLabel.h"

#include <QPainter>

namespace egaiss {

TElidedLabel::TElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setWordWrap(false);
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QString TElidedLabel::ShownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

// A new text or width repaints the label, so the tooltip is settled where the text is drawn.
void TElidedLabel::paintEvent(QPaintEvent* /*event*/) {
    const QString shown = ShownText();
    setToolTip(shown == text() ? QString() : text());
    QPainter painter(this);
    painter.drawText(contentsRect(), static_cast<int>(alignment()), shown);
}

}  // namespace egaiss
