#pragma once
// The price file the shop's ERP drops for the scales, and the two table files built from it that a
// Massa-K label scale loads: the goods table and the PLU table, byte for byte as the scale wants them.
// Pure data work: no network, no settings, no log.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
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

// Reads a price file: an XML spreadsheet for ".xls"/".xml", otherwise CSV in Windows-1251 or, when
// its start lacks "PLU;TYPE", in strict UTF-8. On failure `rows` is empty and `err` says why.
bool LoadPriceFile(const std::string& path, TMassaPluRows& rows, std::string& err);
bool ParsePluCsv(std::string_view text, TMassaPluRows& rows, std::string& err);
bool ParsePluXmlSheet(std::string_view text, TMassaPluRows& rows, std::string& err);

// The whole table files: header then one record per row. Raise EScaleTableError for a row whose
// shelf life exceeds MaxShelfLifeDays (the parsers never produce one).
TBytes BuildGoodsFile(const TMassaPluRows& rows);
TBytes BuildPluFile(const TMassaPluRows& rows);
TBytes BuildGoodsRecord(const TMassaPluRow& row);
TBytes BuildPluRecord(const TMassaPluRow& row);
// "01PC0000000001" for the goods table (code 1), "05PC0000000001" for the PLU table (code 5).
TBytes ScaleFileHeader(int fileCode);

// Kopecks of a price text such as "1 234,50"; 0 for a text that is not a non-negative number.
std::uint32_t ParsePriceKop(std::string_view text);
// A "dd.mm.yy[yy] [hh:mm[:ss]]" text; false when it is not a valid date.
bool ParseBestBefore(std::string_view text, std::chrono::local_seconds& value);

std::vector<std::string> SplitCsvLine(std::string_view line);
// The row's value in the header column `name`, or at `position` when the header lacks it.
std::string CsvFieldByName(const std::vector<std::string>& values, const std::vector<std::string>& header,
                           std::string_view name, int position);
std::string UnquoteCsvField(std::string_view text);

}  // namespace egaiss
