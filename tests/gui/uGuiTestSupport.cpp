#include "uGuiTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace egaiss::test {

void DriveModal(const std::function<void()>& open, const std::function<void(QDialog&)>& drive) {
    // Owned here, so that it never fires after this call when `open` showed nothing.
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr) << "no modal dialog is open";
        drive(*dialog);
        if (dialog->isVisible()) dialog->reject();
    });
    timer.start(0);
    open();
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace egaiss::test
