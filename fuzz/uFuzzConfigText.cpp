// Pasted settings text: every line through ParseConfigLine, the whole through ParseConfigText, and
// what the settings dialog writes back must read as the same settings.
#include "core/uEgaissConfig.h"
#include "uFuzzSupport.h"

using namespace egaiss;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::AsString(data, size);
    for (const std::string& line : SplitTextLines(text))
        ParseConfigLine(line);
    TEgaissConfig cfg = ParseConfigText(text);
    TEgaissConfig reread = ParseConfigText(ConfigToText(cfg));
    reread.AutoStart = cfg.AutoStart;      // kept in the autostart entry, not in the text
    if (cfg.IdSklad < 0) cfg.IdSklad = 0;  // no warehouse either way; only a positive id is written
    fuzz::Require(reread == cfg, "ConfigToText does not read back as the same settings");
    return 0;
}
