#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "uGuiTestSupport.h"

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

int main(int argc, char** argv) {
    // Test discovery runs the program without the CTest environment, and no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
