#include "gui/uFormCommon.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace egaiss {

void PlaceFixedCentred(QWidget& window, int width, int height) {
    window.setFixedSize(width, height);
    const QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame(0, 0, width, height);
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

}  // namespace egaiss
