// The scale lines of a settings text (ParseScalesConfigText, which reads each line with
// ParseScalesLine); the lines SaveScalesConfig writes must read back as the same scale settings.
#include "platform/uFileSystem.h"
#include "scales/uScalesConfig.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string agentIni = fuzz::ScratchDir() + "/agent.ini";
    const TScalesConfig cfg = ParseScalesConfigText(fuzz::AsString(data, size));
    platform::WriteWholeFile(agentIni, "");
    SaveScalesConfig(cfg);
    const TScalesConfig reread = ParseScalesConfigText(platform::ReadWholeFile(agentIni));
    fuzz::Require(reread == cfg, "SaveScalesConfig does not read back as the same scale settings");
    return 0;
}
