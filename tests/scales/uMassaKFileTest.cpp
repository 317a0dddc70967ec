#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "scales/uMassaKFile.h"
#include "uMassaKTestRows.h"

namespace egaiss {
namespace {

using namespace std::chrono;
using test::At;
using test::FullRow;
using test::Hex;
using test::PlainRow;

TBytes Concat(std::initializer_list<TBytes> parts) {
    TBytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TBytes Repeat(std::uint8_t byte, std::size_t count) {
    return TBytes(count, byte);
}

TBytes PlainGoods() {
    return Hex(
        "7B 00 00 00  23 00  1E"
        "  3F 81 00 00  31 32 33 20 20 20 20 20 20 20 20 20 20 20 20  6B 67 20 20 20  E2 04 00 00  00  15"
        "  00 00  00 00");
}

TBytes PlainPlu() {
    return Hex("7B 00 00 00  13 00  00 00 00 00 00 7B  7B 00 00 00  6B 67 20 20 20  E8 03 00 00");
}

TEST(MassaTableTest, PlainWeighedRowHasTheBaseFlagsAndA30ByteFixedPart) {
    EXPECT_EQ(BuildGoodsRecord(PlainRow()), PlainGoods());
    EXPECT_EQ(BuildPluRecord(PlainRow()), PlainPlu());
}

TEST(MassaTableTest, FullRowCarriesEveryOptionalFieldInOrder) {
    const TBytes goods =
        Hex("05 00 00 00  54 00  33"
            "  7F FB 00 00"                                   // flags 0xFB7F
            "  C0 C1 C2 2D 30 30 31 20 20 20 20 20 20 20 20"  // code, 1251
            "  70 63 73 20 20  A6 B3 00 00  96 00 00 00  01"  // pcs, price, tare, type
            "  01 02  02  1A 02 01 0E 1E 05  C0 A8 00 00"     // group, centering, best before, 43200 min
            "  D0 CE D1 D2  16"                               // certificate, prefix
            "  10 00 D1 FB F0 20 AB D0 EE F1 F1 E8 E9 F1 EA E8 E9 BB"
            "  0C 00 EC EE EB EE EA EE 2C 20 F1 EE EB FC");
    EXPECT_EQ(BuildGoodsRecord(FullRow()), goods);
    EXPECT_EQ(BuildPluRecord(FullRow()),
              Hex("05 00 00 00  13 00  04 2F 4E F3 B2 D2  05 00 00 00  70 63 73 20 20  E8 03 00 00"));
}

TEST(MassaTableTest, OptionsSwitchOnAndOffIndependently) {
    // Best before, shelf life and certificate without tare, group or centering.
    TMassaPluRow late;
    late.Id = late.Plu = 9;
    late.Code = "9";
    late.Name = "Café 中";
    late.BarcodePrefix = 99;
    late.BestBefore = At(2031y / 12 / 31, 23h + 59min + 59s);
    late.HasBestBefore = true;
    late.ShelfLifeDays = MaxShelfLifeDays;
    late.Certificate = "AB";
    late.InfoBarcode = "999";  // ignored: weighed goods
    EXPECT_EQ(BuildGoodsRecord(late), Hex("09 00 00 00  37 00  2C"
                                          "  3F F1 00 00  39 20 20 20 20 20 20 20 20 20 20 20 20 20 20"
                                          "  6B 67 20 20 20  00 00 00 00  00"
                                          "  1F 0C 1F 17 3B 3B  00 FF FF FF  41 42 20 20  63"
                                          "  06 00 43 61 66 3F 20 3F  00 00"));
    EXPECT_EQ(BuildPluRecord(late),
              Hex("09 00 00 00  13 00  00 00 00 00 00 09  09 00 00 00  6B 67 20 20 20  E8 03 00 00"));

    // Tare, group and centering alone; Id and Plu differ; an empty code is all spaces.
    TMassaPluRow early;
    early.Id = 1;
    early.Plu = 2;
    early.Name = "Ёж №5";
    early.Ingredients = "ё";
    early.PriceKop = 1;
    early.TareGrams = 0x01020304;
    early.GroupCode = 0xFFFF;
    early.Centering = 0xFF;
    early.Certificate = "   ";  // blank: no certificate
    EXPECT_EQ(BuildGoodsRecord(early), Hex("01 00 00 00  30 00  25"
                                           "  7F 8B 00 00  20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"
                                           "  6B 67 20 20 20  01 00 00 00  04 03 02 01  00  FF FF  FF  00"
                                           "  05 00 A8 E6 20 B9 35  01 00 B8"));
    EXPECT_EQ(BuildPluRecord(early),
              Hex("01 00 00 00  13 00  00 00 00 00 00 02  01 00 00 00  6B 67 20 20 20  E8 03 00 00"));
}

TEST(MassaTableTest, CutsOverLongTextsToTheirFieldLimits) {
    TMassaPluRow row;
    row.Id = row.Plu = 70000;
    row.Code = "ABCDEFGHIJKLMNOPQRS";
    row.PriceKop = 0x12345678;
    row.GoodsType = 2;
    row.BarcodePrefix = 21;
    row.InfoBarcode = "4601234567890";  // ignored: only type 1 carries it
    for (int i = 0; i < 260; ++i) {
        row.Name += "Ж";
    }
    row.Ingredients = std::string(1600, 'x');
    const TBytes expected = Concat({Hex("70 11 01 00  F9 06  1E"
                                        "  3F 81 00 00  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F"
                                        "  70 63 73 20 20  78 56 34 12  02  15  FA 00"),
                                    Repeat(0xC6, 250), Hex("DC 05"), Repeat(0x78, 1500)});
    EXPECT_EQ(BuildGoodsRecord(row), expected);
    EXPECT_EQ(BuildPluRecord(row),
              Hex("70 11 01 00  13 00  00 00 00 01 11 70  70 11 01 00  70 63 73 20 20  E8 03 00 00"));
}

TEST(MassaTableTest, ItemNumberFallsBackToPluAndKeepsLow48Bits) {
    TMassaPluRow row = FullRow();
    const auto itemBytes = [&] {
        const TBytes record = BuildPluRecord(row);
        return TBytes(record.begin() + 6, record.begin() + 12);
    };
    row.InfoBarcode = "18446744073709551615";
    EXPECT_EQ(itemBytes(), Hex("FF FF FF FF FF FF"));
    row.InfoBarcode = "18446744073709551616";  // does not fit 64 bits
    EXPECT_EQ(itemBytes(), Hex("00 00 00 00 0F A1"));
    row.InfoBarcode.clear();
    EXPECT_EQ(itemBytes(), Hex("00 00 00 00 0F A1"));
}

TEST(MassaTableTest, FilesAreHeaderThenRecordsInRowOrder) {
    EXPECT_EQ(ScaleFileHeader(1), Hex("30 31 50 43 30 30 30 30 30 30 30 30 30 31"));
    EXPECT_EQ(ScaleFileHeader(5), Hex("30 35 50 43 30 30 30 30 30 30 30 30 30 31"));

    const TBytes plu = BuildPluFile({PlainRow()});
    EXPECT_EQ(plu.size(), 39u);
    EXPECT_EQ(plu, Concat({ScaleFileHeader(5), PlainPlu()}));
    EXPECT_EQ(BuildGoodsFile({PlainRow()}), Concat({ScaleFileHeader(1), PlainGoods()}));

    const TMassaPluRows rows{FullRow(), PlainRow()};
    EXPECT_EQ(BuildGoodsFile(rows),
              Concat({ScaleFileHeader(1), BuildGoodsRecord(FullRow()), BuildGoodsRecord(PlainRow())}));
    EXPECT_EQ(BuildPluFile({}), ScaleFileHeader(5));
}

TEST(MassaTableTest, RefusesAShelfLifeWhoseMinutesOverflow) {
    TMassaPluRow row = PlainRow();
    row.ShelfLifeDays = MaxShelfLifeDays + 1;
    try {
        BuildGoodsFile({row});
        FAIL() << "no error";
    } catch (const EScaleTableError& error) {
        EXPECT_STREQ(error.what(), "Shelf life too long for PLU 123");
    }
}

}  // namespace
}  // namespace egaiss
