#pragma once
// The scales dialog: one brand's automatic loading, drop folder, expected file, poll interval and
// list of scales, with the LAN search, "load now" and saving. TScalesEditor holds the rules; this
// dialog lays out the controls and forwards what the user does.
#include <QDialog>
#include <memory>

#include "agent/uScalesEditor.h"
#include "gui/uUiPrompts.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace egaiss {

class TfrmScales : public QDialog, private TScalesEditorView {
    Q_OBJECT

public:
    // `search` says where "Найти в сети" looks; EditScales takes it from the brand's settings.
    TfrmScales(int brand, const TScalesConfig& cfg, TMassaDiscoveryParams search = {},
               QWidget* parent = nullptr);
    ~TfrmScales() override;

    // Modal. True when the user saved; `cfg` is replaced by the saved settings only then. Brands
    // other than Massa-K only get a message that their protocol comes later.
    static bool EditScales(int brand, TScalesConfig& cfg, QWidget* parent = nullptr);

    const TScalesConfig& Config() const { return FEditor->Config(); }

protected:
    void closeEvent(QCloseEvent* event) override;

public slots:
    void reject() override;

private:
    void BuildControls();
    void ShowTexts();
    TScalesFormValues FormValues() const;
    void btnRemoveClick();

    // TScalesEditorView
    void ShowValues(const TScalesFormValues& values, const std::string& mac) override;
    void ShowDir(const std::string& dir) override;
    void ShowFile(const std::string& file) override;
    void ShowScales(const std::vector<TScaleEndpoint>& scales) override;
    void ShowSearching(bool on, const std::string& text) override;
    void ShowSearchText(const std::string& text) override;
    void ShowStopping(const std::string& text) override;
    void ShowLoading(bool on) override;
    void CloseSaved() override { accept(); }

    TWindowPrompts FPrompts{this};
    std::unique_ptr<TScalesEditor> FEditor;

    QLabel* lblHint = nullptr;
    QCheckBox* chkEnabled = nullptr;
    QLabel* lblDir = nullptr;
    QLineEdit* edtDir = nullptr;
    QPushButton* btnBrowse = nullptr;
    QLabel* lblFile = nullptr;
    QLineEdit* edtFile = nullptr;
    QPushButton* btnBrowseFile = nullptr;
    QLabel* lblPoll = nullptr;
    QLineEdit* edtPoll = nullptr;
    QLabel* lblMac = nullptr;
    QLineEdit* edtMac = nullptr;
    QTreeWidget* lvScales = nullptr;
    QLabel* lblSearch = nullptr;
    QProgressBar* pbSearch = nullptr;
    QPushButton* btnFind = nullptr;
    QPushButton* btnStopFind = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnRemove = nullptr;
    QPushButton* btnLoadNow = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnCancel = nullptr;
};

}  // namespace egaiss
