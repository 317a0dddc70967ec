#pragma once
// The two table files a Massa-K label scale loads, the goods table and the PLU table, built byte for
// byte as the scale wants them from product rows (see uPriceFile.h for reading those).
// Pure data work: no network, no settings, no log.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/uBytes.h"
#include "platform/uErrors.h"

namespace egaiss {

// One product, the same record number in both tables.
struct TMassaPluRow {
    std::uint32_t Id = 0;
    std::uint32_t Plu = 0;  // never 0 in a row the parsers produce
    std::string Code;       // at most 15 characters
    std::string Name;
    std::string Ingredients;
    std::uint32_t PriceKop = 0;
    std::uint8_t GoodsType = 0;  // 0 = by weight ("kg"), else by the piece ("pcs"); 1 allows InfoBarcode
    std::uint8_t BarcodePrefix = 0;
    std::uint32_t TareGrams = 0;
    std::uint16_t GroupCode = 0;
    std::uint8_t Centering = 0;
    std::uint32_t ShelfLifeDays = 0;
    std::string Certificate;  // at most 4 characters
    std::chrono::local_seconds BestBefore{};
    bool HasBestBefore = false;
    std::string InfoBarcode;  // decimal digits

    bool operator==(const TMassaPluRow&) const = default;
};

using TMassaPluRows = std::vector<TMassaPluRow>;

// The longest shelf life whose minutes still fit the table's 32-bit field.
constexpr std::uint32_t MaxShelfLifeDays = 2982616;

// A row that the goods table cannot hold (see MaxShelfLifeDays).
class EScaleTableError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "EScaleTableError"; }
};

// The whole table files: header then one record per row. Raise EScaleTableError for a row whose
// shelf life exceeds MaxShelfLifeDays (the parsers never produce one).
TBytes BuildGoodsFile(const TMassaPluRows& rows);
TBytes BuildPluFile(const TMassaPluRows& rows);
TBytes BuildGoodsRecord(const TMassaPluRow& row);
TBytes BuildPluRecord(const TMassaPluRow& row);
// "01PC0000000001" for the goods table (code 1), "05PC0000000001" for the PLU table (code 5).
TBytes ScaleFileHeader(int fileCode);
constexpr int GoodsFileCode = 1;
constexpr int PluFileCode = 5;
// How a row carries its texts: UTF-8, or already in the tables' code page 1251 (a reader of a
// 1251 file that builds the tables straight from its bytes).
enum class TRowText { rtUtf8, rtCp1251 };
// One record appended to a table file, for a reader that builds the tables as it goes.
void AppendGoodsRecord(TBytes& file, const TMassaPluRow& row, TRowText text = TRowText::rtUtf8);
void AppendPluRecord(TBytes& file, const TMassaPluRow& row);

}  // namespace egaiss
