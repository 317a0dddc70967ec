#include <gtest/gtest.h>

#include "gui/uAgentApplication.h"

// The windows need one application object for the whole run: the agent's own, so that exceptions
// escaping event handlers reach the main window as they do in the tray agent.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    egaiss::TAgentApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
