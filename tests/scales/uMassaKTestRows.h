#pragma once
// Product rows and byte helpers shared by the price file and scale table tests.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/uBytes.h"
#include "scales/uMassaKFile.h"

namespace egaiss::test {

// Bytes from a hex text such as "7B 00 0A"; the expected tables are written out by hand.
inline TBytes Hex(std::string_view text) {
    TBytes bytes;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] == ' ' || text[pos] == '\n') continue;
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(pos, 2)), nullptr, 16)));
        ++pos;
    }
    return bytes;
}

inline std::chrono::local_seconds At(std::chrono::year_month_day date,
                                     std::chrono::seconds time = std::chrono::seconds{0}) {
    return std::chrono::local_days{date} + time;
}

// Weighed goods, no option at all.
inline TMassaPluRow PlainRow() {
    TMassaPluRow row;
    row.Id = row.Plu = 123;
    row.Code = "123";
    row.PriceKop = 1250;
    row.BarcodePrefix = 21;
    return row;
}

// Piece goods with every option, Cyrillic texts and an information barcode.
inline TMassaPluRow FullRow() {
    using namespace std::chrono;
    TMassaPluRow row;
    row.Id = 5;
    row.Plu = 4001;
    row.Code = "АБВ-001";
    row.Name = "Сыр «Российский»";
    row.Ingredients = "молоко, соль";
    row.PriceKop = 45990;
    row.GoodsType = 1;
    row.BarcodePrefix = 22;
    row.TareGrams = 150;
    row.GroupCode = 513;
    row.Centering = 2;
    row.ShelfLifeDays = 30;
    row.Certificate = "РОСТ";
    row.BestBefore = At(2026y / 2 / 1, 14h + 30min + 5s);
    row.HasBestBefore = true;
    row.InfoBarcode = "4601234567890";
    return row;
}

}  // namespace egaiss::test
