// The main window's commands that open the scales dialog and the preparation window.
#include <gtest/gtest.h>

#include "core/uEgaissLog.h"
#include "gui/uMain.h"
#include "support/uFakeAgentServices.h"
#include "support/uTestDirs.h"
#include "uGuiTestSupport.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;

TEST(MainWindowLinks, ScalesSavedAreAppliedAndPreparationPausesSync) {
    test::TTempDataDir data;
    test::TTestPrompts prompts;
    test::TFakeServices services;
    services.Cfg = test::CompleteConfig();
    TfrmMain* window = nullptr;
    bool pausedWhileOpen = false;
    TMainWindowLinks links;
    links.EditConfig = [](TEgaissConfig&, QWidget*) { return false; };
    links.ShowQueue = [](const TEgaissConfig&, QWidget*) {};
    links.OpenUrl = [](const std::string&) { return true; };
    links.EditScales = [&](int brand, TScalesConfig& cfg, QWidget*) {
        cfg.Brands[brand] = {true, data.Path(), "massa_k*.csv", 2, {{"127.0.0.42", 5001, "", true}}, ""};
        services.Scales = cfg;  // as the dialog writes agent.ini
        return true;
    };
    links.ShowBootstrap = [&](const TEgaissConfig& cfg, const TSyncPauser& pause, QWidget*) {
        EXPECT_TRUE(cfg.IsComplete());
        pause(true);
        pausedWhileOpen = window->Agent().SyncPaused();
        pause(false);
    };
    TfrmMain form(services.All(), links);
    window = &form;
    form.FormCreate();

    form.mnuScalesBrandClick(sbMassaK);
    EXPECT_TRUE(form.Agent().ScalesTimer().IsActive());
    EXPECT_EQ(form.Agent().ScalesTimer().Interval().count(), 2000);
    EXPECT_NE(test::ReadFileText(LogFilePath()).find("Scales Масса-К saved; active=True"), std::string::npos);

    form.mnuBootstrapClick();
    EXPECT_TRUE(pausedWhileOpen);
    EXPECT_FALSE(form.Agent().SyncPaused());

    form.SetSyncPaused(true);
    EXPECT_TRUE(form.Agent().WaitForJobs(10s));
}

}  // namespace
}  // namespace egaiss
