#pragma once
// The tray agent's application object: an exception that escapes an event handler goes to the
// main window's handler instead of ending the process.
#include <QApplication>
#include <exception>
#include <functional>

namespace egaiss {

class TAgentApplication : public QApplication {
    Q_OBJECT

public:
    using TExceptionHandler = std::function<void(const std::exception& error)>;

    TAgentApplication(int& argc, char** argv);

    void SetExceptionHandler(TExceptionHandler handler) { FHandler = std::move(handler); }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    TExceptionHandler FHandler;
};

}  // namespace egaiss
