#pragma once
// The settings dialog: the agent settings as key=value text, pasted from the web service.
#include <QDialog>

#include "agent/uSetupPresenter.h"
#include "gui/uUiPrompts.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace egaiss {

class TfrmSetup : public QDialog, private TSetupView {
    Q_OBJECT

public:
    // Modal. cfg is first reloaded from agent.ini. True when the user saved: agent.ini is written,
    // the autostart entry applied and cfg reloaded; false when cancelled (or "scales only") or when
    // saving failed. Unconfigured, the dialog offers running for scales only instead of a plain
    // cancel. Raises EFileError when agent.ini exists but cannot be read.
    static bool EditConfig(TEgaissConfig& cfg, QWidget* parent = nullptr);

private:
    explicit TfrmSetup(QWidget* parent);

    void FormCreate();
    void ShowTexts(const TSetupTexts& texts);
    TConfigDraft ReadDialog() const;

    // TSetupView
    void ShowDraft(const TConfigDraft& draft) override;
    void ShowConfigText(const std::string& text) override;
    void Close() override;
    void OpenPreparation(const TEgaissConfig& cfg) override;

    TWindowPrompts FPrompts;
    TSetupPresenter FPresenter;

    QLabel* lblHint;
    QPlainTextEdit* memConfig;
    QCheckBox* chkAutostart;
    QPushButton* btnPaste;
    QPushButton* btnBootstrap;
    QPushButton* btnSave;
    QPushButton* btnCancel;
};

}  // namespace egaiss
