#pragma once
// The main loop seam on Qt's event loop, for the tray agent on Linux and the Qt windows.
#include "agent/uMainLoop.h"

namespace egaiss {

// The loop of the application's main thread; first called on that thread, once the application
// object exists.
TMainLoop& QtMainLoop();

}  // namespace egaiss
