#pragma once
// The application's icon for the windows and the tray, and its variant with a red mark that the
// tray shows while the last sync failed.
#include <QIcon>

namespace egaiss {

const QIcon& AppIcon();
const QIcon& AppIconWithAlert();

}  // namespace egaiss
