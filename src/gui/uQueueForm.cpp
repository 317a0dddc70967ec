#include "gui/uQueueForm.h"

namespace egaiss {

TfrmQueue::TfrmQueue(const TEgaissConfig&, QWidget* parent) : QDialog(parent) {}

void TfrmQueue::ShowQueue(const TEgaissConfig& cfg, QWidget* parent) {
    TfrmQueue form(cfg, parent);
    form.exec();
}

}  // namespace egaiss
