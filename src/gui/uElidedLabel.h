#pragma once
// A one-line label for texts of any length: drawn elided at the right edge when it does not fit,
// with the whole text as its tooltip then. text() is always the whole text.
#include <QLabel>

namespace egaiss {

class TElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit TElidedLabel(const QString& text, QWidget* parent = nullptr);

    // The text as drawn at the label's present width.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace egaiss
