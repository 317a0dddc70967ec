#pragma once
// What the agent's dialogs share: the title of their message boxes and their placement.
#include <QString>

#include "agent/uAgentStatus.h"

class QWidget;

namespace egaiss {

// The application's title, which every window and message box carries.
inline QString WindowTitle() {
    return QString::fromStdString(AppTitle());
}

// Fixes the window's client size and moves it to the centre of the screen it is on.
void PlaceFixedCentred(QWidget& window, int width, int height);

}  // namespace egaiss
