#pragma once
// The settings dialog: the agent settings as key=value text, pasted from the web service.
#include <QDialog>

#include "core/uEgaissConfig.h"

namespace egaiss {

class TfrmSetup : public QDialog {
    Q_OBJECT

public:
    // Modal. True when the user saved: agent.ini is written, the autostart entry applied and cfg
    // reloaded from the file; false when cancelled or when saving failed.
    static bool EditConfig(TEgaissConfig& cfg, bool firstRun, QWidget* parent = nullptr);

private:
    TfrmSetup(const TEgaissConfig& cfg, bool firstRun, QWidget* parent);
};

}  // namespace egaiss
