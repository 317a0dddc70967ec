#pragma once
// The settings dialog: the agent settings as key=value text, pasted from the web service.
#include <QDialog>

#include "core/uConfigEdit.h"
#include "core/uEgaissConfig.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace egaiss {

class TfrmSetup : public QDialog {
    Q_OBJECT

public:
    // Modal. cfg is first reloaded from agent.ini. True when the user saved: agent.ini is written,
    // the autostart entry applied and cfg reloaded; false when cancelled (or "scales only") or when
    // saving failed. firstRun offers running for scales only instead of a plain cancel. Raises
    // EFileError when agent.ini exists but cannot be read.
    static bool EditConfig(TEgaissConfig& cfg, bool firstRun, QWidget* parent = nullptr);

private:
    TfrmSetup(const TConfigDraft& draft, bool firstRun, QWidget* parent);

    void FormCreate();
    void ShowFirstRun();
    TConfigDraft ReadDialog() const;
    void btnPasteClick();
    void btnBootstrapClick();
    void btnSaveClick();

    QLabel* lblHint;
    QPlainTextEdit* memConfig;
    QCheckBox* chkAutostart;
    QPushButton* btnPaste;
    QPushButton* btnBootstrap;
    QPushButton* btnSave;
    QPushButton* btnCancel;
};

}  // namespace egaiss
