// The support commands of the real binary against egaiss-sim, in a data folder whose path has
// Cyrillic letters and spaces, as a shop PC's folder may have.
#include <gtest/gtest.h>

#include <string>

#include "support/uSimProcess.h"

namespace egaiss {
namespace {

using test::JsonArray;
using test::TAgentFolder;
using test::TSimProcess;

TEST(SupportCommandsE2ETest, DiagnoseConfigSetAndSyncInAFolderWithCyrillicLettersAndSpaces) {
    TSimProcess sim(EGAISS_SIM_EXE, "both", {"--docs", "2", "--outbox", "1"});
    TAgentFolder agent(EGAISS_AGENT_EXE, "Агент ЕГАИС/Магазин 1");
    agent.WriteIni(test::AgentIniFor(sim));

    auto result = agent.Run({"diagnose"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_EQ(result.Output.rfind("{\n  \"ok\": true,\n  \"fsrar_id\": \"030000123456\",\n", 0), 0u)
        << result.Output;

    result = agent.Run({"config", "--set", "poll_seconds=120", "agent_id=Касса-2"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(result.Output.find("agent_id=Касса-2\n"), std::string::npos) << result.Output;
    const std::string ini = test::ReadFileText(agent.File("agent.ini"));
    EXPECT_NE(ini.find("poll_seconds=120\r\n"), std::string::npos) << ini;
    result = agent.Run({"config", "--set", "agent_id=agent-1"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;

    result = agent.Run({"sync"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_EQ(result.Output, "OK: Sync finished\n");
    EXPECT_EQ(JsonArray(sim.Server().State(), "inbox").Size(), 2u);
    EXPECT_EQ(JsonArray(sim.Utm().State(), "received").Size(), 1u);
    EXPECT_NE(agent.Log().find("[INFO] Sync OK in=2 out=1"), std::string::npos) << agent.Log();
}

}  // namespace
}  // namespace egaiss
