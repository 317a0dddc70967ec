#include "gui/uAgentApplication.h"

namespace egaiss {

TAgentApplication::TAgentApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Velmora EGAIS"));
    // The agent lives in the tray: a hidden or closed window does not end it.
    setQuitOnLastWindowClosed(false);
}

bool TAgentApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (!FHandler) throw;
        FHandler(error);
        return false;
    }
}

}  // namespace egaiss
