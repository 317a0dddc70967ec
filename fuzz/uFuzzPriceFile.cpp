// A whole price file as the scales poll loads it: chosen by extension, code page detected, parsed
// and turned into the GOODS and PLU tables, also block by block as the folder loader reads it,
// which must agree. Input: one byte choosing the extension, then the file.
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
    const bool loaded = LoadPriceFile(path, rows, err);
    TScaleTables tables;
    std::string tablesErr;
    const bool built = LoadPriceFileTables(path, tables, tablesErr);
    fuzz::Require(built == loaded && tablesErr == err, "the tables read block by block fail otherwise");
    if (!loaded) {
        fuzz::Require(rows.empty() && !err.empty(), "LoadPriceFile failed without a reason or kept rows");
        return 0;
    }
    fuzz::Require(tables.Goods == BuildGoodsFile(rows) && tables.Plu == BuildPluFile(rows) &&
                      tables.Rows == rows.size(),
                  "the tables read block by block differ from those of the rows");
    return 0;
}
