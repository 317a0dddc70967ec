#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <filesystem>

#include "gui/uSetupForm.h"
#include "support/uTestDirs.h"
#include "uGuiTestSupport.h"

namespace egaiss {
namespace {

using test::Control;
using test::DriveModal;
using test::ReadFileText;

class SetupFormTest : public ::testing::Test {
protected:
    test::TTempDir FHome;
    test::TScopedEnv FXdg{"XDG_CONFIG_HOME", FHome.Path()};
    test::TTempDataDir FData;
    test::TTestPrompts FPrompts;
    TEgaissConfig FCfg;

    std::string Ini() const { return FData.File("agent.ini"); }

    bool Edit(const std::function<void(QDialog&)>& drive) {
        bool saved = false;
        DriveModal([&] { saved = TfrmSetup::EditConfig(FCfg, nullptr); }, drive);
        return saved;
    }
};

TEST_F(SetupFormTest, FirstRunOffersScalesOnlyAndWritesNothing) {
    FCfg.AgentID = "stale";
    const bool saved = Edit([this](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Velmora EGAIS - Settings");
        EXPECT_EQ(dialog.size(), QSize(584, 385));
        EXPECT_EQ(Control<QLabel>(dialog, "lblHint").text(),
                  "Для ЕГАИС вставьте конфиг из Velmora. Для весов без ЕГАИС - кнопка Только весы.");
        auto& cancel = Control<QPushButton>(dialog, "btnCancel");
        EXPECT_EQ(cancel.text(), "Только весы");
        EXPECT_EQ(cancel.geometry().right() + 1, 584 - 16);
        EXPECT_EQ(cancel.width(), 110);
        // The preparation window needs complete settings, as they stand in the text.
        Control<QPushButton>(dialog, "btnBootstrap").click();
        EXPECT_EQ(FPrompts.Messages.back(), MissingFieldsMessage);
        cancel.click();
    });
    EXPECT_FALSE(saved);
    EXPECT_EQ(FCfg, TEgaissConfig{}) << "the settings are reloaded from the (missing) file";
    EXPECT_FALSE(std::filesystem::exists(Ini()));
}

// The pasted block carries no scale settings: those of the file stay (they were lost once).
TEST_F(SetupFormTest, PasteReplacesTheTextOnlyValidSettingsAreSavedAndTheScalesStay) {
    test::WriteFileText(Ini(),
                        "# shop\r\nserver_url=http://old.example\r\nagent_id=A0\r\nagent_secret=s0\r\n"
                        "fsrar_id=030000123456\r\nautostart=1\r\nmassa_dir=/srv/vesi\r\n");
    const std::string complete =
        "SERVER_URL = http://velmora.example/api\nagent_id=A1\nagent_secret=s3\nlabel=Магазин\n";
    const bool saved = Edit([&](QDialog& dialog) {
        auto& text = Control<QPlainTextEdit>(dialog, "memConfig");
        EXPECT_EQ(
            text.toPlainText(),
            "# shop\nserver_url=http://old.example\nagent_id=A0\nagent_secret=s0\nmassa_dir=/srv/vesi\n");
        EXPECT_TRUE(Control<QCheckBox>(dialog, "chkAutostart").isChecked());
        EXPECT_EQ(Control<QPushButton>(dialog, "btnCancel").text(), "Отмена");

        const QString incomplete = "server_url=http://velmora.example/api\nagent_id=A1\n";
        FPrompts.Clipboard = incomplete;
        Control<QPushButton>(dialog, "btnPaste").click();
        EXPECT_EQ(text.toPlainText(), incomplete);
        Control<QPushButton>(dialog, "btnSave").click();
        EXPECT_EQ(FPrompts.Messages,
                  QStringList{"Missing fields: server_url, agent_id, agent_secret, utm_host, utm_port."});
        EXPECT_TRUE(dialog.isVisible());

        FPrompts.Clipboard.clear();
        Control<QPushButton>(dialog, "btnPaste").click();
        EXPECT_EQ(text.toPlainText(), incomplete) << "an empty clipboard changes nothing";

        FPrompts.Clipboard = "server_url=my velmora shop\nagent_id=A1\nagent_secret=s3\n";
        Control<QPushButton>(dialog, "btnPaste").click();
        Control<QPushButton>(dialog, "btnSave").click();
        EXPECT_EQ(FPrompts.Messages.back(),
                  "server_url: expected an http:// or https:// address, got 'my velmora shop'");
        EXPECT_TRUE(dialog.isVisible());
        FPrompts.Clipboard = QString::fromStdString(complete);
        Control<QPushButton>(dialog, "btnPaste").click();
        Control<QCheckBox>(dialog, "chkAutostart").setChecked(false);
        Control<QPushButton>(dialog, "btnSave").click();
        EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_TRUE(saved);
    EXPECT_EQ(FCfg.ServerURL, "https://velmora.example/api");
    EXPECT_EQ(FCfg.LabelText, "Магазин");
    EXPECT_EQ(ReadFileText(Ini()),
              "\xEF\xBB\xBFserver_url=https://velmora.example/api\r\nagent_id=A1\r\n"
              "agent_secret=s3\r\nlabel=Магазин\r\nmassa_dir=/srv/vesi\r\nautostart=0\r\n");
}

TEST_F(SetupFormTest, AFailedSaveIsReportedAndCountsAsCancel) {
    // The autostart entry's folder cannot be made below a file (a folder in place of agent.ini
    // would already fail the dialog's read).
    test::WriteFileText(FHome.File("autostart"), "not a folder");
    const bool saved = Edit([&](QDialog& dialog) {
        FPrompts.Clipboard = "server_url=http://127.0.0.1:1/api\nagent_id=A1\nagent_secret=s3\n";
        Control<QPushButton>(dialog, "btnPaste").click();
        Control<QCheckBox>(dialog, "chkAutostart").setChecked(true);
        Control<QPushButton>(dialog, "btnSave").click();
    });
    EXPECT_FALSE(saved);
    ASSERT_EQ(FPrompts.Messages.size(), 1);
    EXPECT_TRUE(FPrompts.Messages[0].startsWith("Failed to save settings: "))
        << FPrompts.Messages[0].toStdString();
}

}  // namespace
}  // namespace egaiss
