// A whole price file as the scales poll loads it: chosen by extension, code page detected, parsed
// and turned into the GOODS and PLU tables. Input: one byte choosing the extension, then the file.
#include <array>

#include "platform/uFileSystem.h"
#include "scales/uMassaKFile.h"
#include "scales/uPriceFile.h"
#include "uFuzzSupport.h"

using namespace egaiss;

namespace {
constexpr std::array<const char*, 4> Extensions = {".csv", ".xml", ".xls", ".txt"};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string path = fuzz::ScratchDir() + "/massa_k" + Extensions[data[0] % Extensions.size()];
    platform::WriteWholeFile(path, fuzz::AsString(data + 1, size - 1));
    TMassaPluRows rows;
    std::string err;
    if (!LoadPriceFile(path, rows, err)) {
        fuzz::Require(rows.empty() && !err.empty(), "LoadPriceFile failed without a reason or kept rows");
        return 0;
    }
    BuildGoodsFile(rows);
    BuildPluFile(rows);
    return 0;
}
