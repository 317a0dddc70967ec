#pragma once
// The price file the shop's ERP drops for the scales, read into the product rows that the scale
// tables are built from (uMassaKFile.h). Pure data work: no network, no settings, no log.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scales/uMassaKFile.h"

namespace egaiss {

// Reads a price file: an XML spreadsheet for ".xls"/".xml", otherwise CSV in Windows-1251 or, when
// its start lacks "PLU;TYPE", in strict UTF-8. On failure `rows` is empty and `err` says why.
bool LoadPriceFile(const std::string& path, TMassaPluRows& rows, std::string& err);

// Both scale tables of a price file and its number of rows.
struct TScaleTables {
    TBytes Goods;
    TBytes Plu;
    std::size_t Rows = 0;
};
// LoadPriceFile followed by BuildGoodsFile and BuildPluFile, with the same results and errors, but
// a Windows-1251 CSV file is read block by block into the tables: neither the whole file nor its
// rows are held. On failure `tables` is empty.
bool LoadPriceFileTables(const std::string& path, TScaleTables& tables, std::string& err);
bool ParsePluCsv(std::string_view text, TMassaPluRows& rows, std::string& err);
bool ParsePluXmlSheet(std::string_view text, TMassaPluRows& rows, std::string& err);

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
