#include <gtest/gtest.h>

#include "gui/uAgentApplication.h"

// One application object for the whole run: the agent's own, so that exceptions escaping event
// handlers reach the main window as they do in the tray agent.
int main(int argc, char** argv) {
    // Test discovery runs the program without the CTest environment, and no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    egaiss::TAgentApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
