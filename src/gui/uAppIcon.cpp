#include "gui/uAppIcon.h"

#include <QPainter>
#include <QPixmap>

// The icons live in a static library's resources, which the linker keeps only when referenced.
static void InitIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace egaiss {
namespace {

constexpr int IconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QIcon LoadIcon() {
    InitIconResources();
    QIcon icon;
    for (const int size : IconSizes)
        icon.addFile(QStringLiteral(":/icons/agent-%1.png").arg(size), QSize(size, size));
    return icon;
}

// A red dot with a white rim in the upper right corner, where the icon's own drawing leaves room.
QPixmap WithAlertMark(QPixmap pixmap) {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = pixmap.width() / pixmap.devicePixelRatio();
    const qreal diameter = std::max<qreal>(7.0, side * 0.45);
    const qreal rim = std::max<qreal>(1.0, diameter / 8.0);
    painter.setPen(QPen(Qt::white, rim));
    painter.setBrush(QColor(0xd9, 0x1f, 0x26));
    painter.drawEllipse(QRectF(side - diameter + rim / 2, rim / 2, diameter - rim, diameter - rim));
    return pixmap;
}

}  // namespace

const QIcon& AppIcon() {
    static const QIcon icon = LoadIcon();
    return icon;
}

const QIcon& AppIconWithAlert() {
    static const QIcon icon = [] {
        QIcon marked;
        for (const int size : IconSizes)
            marked.addPixmap(WithAlertMark(AppIcon().pixmap(size, size)));
        return marked;
    }();
    return icon;
}

}  // namespace egaiss
