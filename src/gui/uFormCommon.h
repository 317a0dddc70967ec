#pragma once
// What the agent's dialogs share: the title of their message boxes and their placement.
#include <QString>

class QWidget;

namespace egaiss {

// The application's title, which every message box carries.
inline QString AppTitle() {
    return QStringLiteral("Velmora EGAIS");
}

// Fixes the window's client size and moves it to the centre of the screen it is on.
void PlaceFixedCentred(QWidget& window, int width, int height);

}  // namespace egaiss
