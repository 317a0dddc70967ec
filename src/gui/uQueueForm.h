#pragma once
// The window over the server's outgoing queue: what waits, what was sent, what failed.
#include <QDialog>

#include "core/uEgaissConfig.h"

namespace egaiss {

class TfrmQueue : public QDialog {
    Q_OBJECT

public:
    // Modal; the server's answers arrive from a worker, so a silent server never freezes it.
    static void ShowQueue(const TEgaissConfig& cfg, QWidget* parent = nullptr);

private:
    TfrmQueue(const TEgaissConfig& cfg, QWidget* parent);
};

}  // namespace egaiss
