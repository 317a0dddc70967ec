#include "gui/uSetupForm.h"

namespace egaiss {

TfrmSetup::TfrmSetup(const TEgaissConfig&, bool, QWidget* parent) : QDialog(parent) {}

bool TfrmSetup::EditConfig(TEgaissConfig& cfg, bool firstRun, QWidget* parent) {
    TfrmSetup form(cfg, firstRun, parent);
    return form.exec() == QDialog::Accepted;
}

}  // namespace egaiss
