#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "scales/uMassaKFile.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using namespace std::chrono;
using test::TTempDir;
using test::WriteFileText;

// Bytes from a hex text such as "7B 00 0A"; the expected tables are written out by hand.
TBytes Hex(std::string_view text) {
    TBytes bytes;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] == ' ' || text[pos] == '\n') continue;
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(pos, 2)), nullptr, 16)));
        ++pos;
    }
    return bytes;
}

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

local_seconds At(year_month_day date, seconds time = seconds{0}) {
    return local_days{date} + time;
}

// Weighed goods, no option at all.
TMassaPluRow PlainRow() {
    TMassaPluRow row;
    row.Id = row.Plu = 123;
    row.Code = "123";
    row.PriceKop = 1250;
    row.BarcodePrefix = 21;
    return row;
}

// Piece goods with every option, Cyrillic texts and an information barcode.
TMassaPluRow FullRow() {
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

// --- CSV ---------------------------------------------------------------------------------------

constexpr const char* FullHeader =
    "PLU;TYPE;X;X;BARCODE_PREFIX;PRICE;TARE;CODE;BEST_BEFORE;SHELF_LIFE;CERTIFICATE;GROUP;CENTERING;NAME;"
    "CONTENT;X;INFO";

TMassaPluRows ParseOk(const std::string& text) {
    TMassaPluRows rows;
    std::string err;
    EXPECT_TRUE(ParsePluCsv(text, rows, err)) << err;
    return rows;
}

std::string ParseError(const std::string& text) {
    TMassaPluRows rows{PlainRow()};
    std::string err;
    EXPECT_FALSE(ParsePluCsv(text, rows, err));
    EXPECT_TRUE(rows.empty());
    return err;
}

TEST(PriceCsvTest, ReadsEveryColumnOfTheDefaultLayout) {
    const auto rows = ParseOk(std::string(FullHeader) +
                              "\r\n4001;1;;;22;459,90;150; АБВ-001 ;01.02.2026 14:30:05;30;РОСТЕСТ;513;2;"
                              "Сыр «Российский»;молоко, соль;;4601-2345-67890\r\n");
    ASSERT_EQ(rows.size(), 1u);
    TMassaPluRow expected = FullRow();
    expected.Id = 4001;
    EXPECT_EQ(rows[0], expected);
}

TEST(PriceCsvTest, MinimalLineTakesDefaults) {
    const auto rows = ParseOk("PLU;TYPE\n123;0;;;;12,50");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], PlainRow());
}

TEST(PriceCsvTest, FindsColumnsByNameAndFallsBackToPositions) {
    // TYPE is not in the header, so it comes from position 1, which here is the name.
    const auto rows = ParseOk("plu;Name; price \n7;Молоко 3.2%;99;;;;;\n8;Хлеб;5;;;;");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Name, "Молоко 3.2%");
    EXPECT_EQ(rows[0].PriceKop, 9900u);
    EXPECT_EQ(rows[0].GoodsType, 32);
    EXPECT_EQ(rows[1].GoodsType, 0);
    EXPECT_EQ(rows[1].Code, "8");

    // A header column past the end of a short line reads as empty, not from its position.
    const auto shortRows = ParseOk("PLU;A;B;C;D;E;F;G;H;I;J;K;L;M;N;O;P;NAME\n5;0;;;;1;;;;;;;;Fallback");
    EXPECT_EQ(shortRows.at(0).Name, "");
}

TEST(PriceCsvTest, SkipsBlankShortAndZeroPluLines) {
    const auto rows = ParseOk(
        "PLU;TYPE\r\n"
        "   \r\n"
        "1;0;;;5\r\n"          // five fields
        "abc;0;;;;1\r"         // no digits in PLU
        "0;0;;;;1\n"           // PLU 0
        "4294967296;0;;;;1\n"  // low 32 bits are 0
        "\n"
        "2;0;;;;1\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Plu, 2u);
}

TEST(PriceCsvTest, ReadsNumbersAsTheirFieldsDo) {
    const auto rows = ParseOk(std::string(FullHeader) +
                              "\nPLU-0017;258;;;300;;x;;;;;70000;99999999999;;;;\n"
                              "9;1;;;abc;;;0123456789ABCDEFGHIJ;31.02.2026;;;;;\"\"\"Q\"\"\";;;");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Plu, 17u);
    EXPECT_EQ(rows[0].Code, "0017");  // digits of the PLU field
    EXPECT_EQ(rows[0].GoodsType, 2);  // 258, low 8 bits
    EXPECT_EQ(rows[0].BarcodePrefix, 44);
    EXPECT_EQ(rows[0].GroupCode, 70000 & 0xFFFF);
    EXPECT_EQ(rows[0].Centering, 0);  // too large for 32 bits: default
    EXPECT_EQ(rows[1].BarcodePrefix, 21);
    EXPECT_EQ(rows[1].Code, "0123456789ABCDE");
    EXPECT_FALSE(rows[1].HasBestBefore);
    // The line split leaves "Q" in quotes, and reading the field strips them as well.
    EXPECT_EQ(rows[1].Name, "Q");
}

TEST(PriceCsvTest, ReportsFilesWithoutRows) {
    EXPECT_EQ(ParseError(""), "Empty CSV");
    EXPECT_EQ(ParseError("\r\n1;0;;;;1"), "CSV: expected header starting with PLU;TYPE;...");
    EXPECT_EQ(ParseError(" PLU;TYPE\n1;0;;;;1"), "CSV: expected header starting with PLU;TYPE;...");
    EXPECT_EQ(ParseError("plu;type"), "No PLU rows in CSV");
    EXPECT_EQ(ParseError("PLU;TYPE\n0;0;;;;1\n"), "No PLU rows in CSV");
}

TEST(PriceCsvTest, ShelfLifeBeyondTheTableFailsTheFile) {
    const std::string head = std::string(FullHeader) + "\n1;0;;;;1;;;;2982616;;;;A;;;\n";
    EXPECT_EQ(ParseOk(head).at(0).ShelfLifeDays, MaxShelfLifeDays);
    EXPECT_EQ(ParseError(head + "77;0;;;;1;;;;2982617;;;;B;;;\n"), "Shelf life too long for PLU 77");
}

TEST(PriceCsvTest, SplitsLinesAtSemicolonsWithQuotes) {
    using TFields = std::vector<std::string>;
    EXPECT_EQ(SplitCsvLine(""), TFields{});
    EXPECT_EQ(SplitCsvLine(";"), (TFields{"", ""}));
    EXPECT_EQ(SplitCsvLine(" a ; b "), (TFields{" a ", " b "}));
    EXPECT_EQ(SplitCsvLine("a;;b;"), (TFields{"a", "", "b", ""}));
    EXPECT_EQ(SplitCsvLine("\"a;b\";c"), (TFields{"a;b", "c"}));
    EXPECT_EQ(SplitCsvLine("\"say \"\"hi\"\"\";"), (TFields{"say \"hi\"", ""}));
    EXPECT_EQ(SplitCsvLine("\"open;rest"), (TFields{"open;rest"}));
    EXPECT_EQ(SplitCsvLine("\"ab\"cd;e"), (TFields{"ab", "cd", "e"}));
    EXPECT_EQ(SplitCsvLine("x;\"\""), (TFields{"x", ""}));
}

TEST(PriceCsvTest, UnquotesAndFindsFields) {
    EXPECT_EQ(UnquoteCsvField("  \"a\"\"b\"  "), "a\"b");
    EXPECT_EQ(UnquoteCsvField("\""), "\"");
    EXPECT_EQ(UnquoteCsvField("\"\""), "");
    EXPECT_EQ(UnquoteCsvField("x\"\"\"\"y"), "x\"\"y");

    const std::vector<std::string> header{"PLU", " name ", "NAME"};
    const std::vector<std::string> values{"1", " \"Tea\" ", "second", "pos3"};
    EXPECT_EQ(CsvFieldByName(values, header, "Name", 3), "Tea");
    EXPECT_EQ(CsvFieldByName(values, header, "PRICE", 3), "pos3");
    EXPECT_EQ(CsvFieldByName(values, header, "PRICE", 4), "");
    EXPECT_EQ(CsvFieldByName(values, header, "PRICE", -1), "");
}

TEST(PriceTextTest, ReadsKopecksRoundingHalvesToEven) {
    EXPECT_EQ(ParsePriceKop("1 234,50"), 123450u);
    EXPECT_EQ(ParsePriceKop("-5"), 0u);
    EXPECT_EQ(ParsePriceKop("12.3"), 1230u);
    EXPECT_EQ(ParsePriceKop(""), 0u);
    EXPECT_EQ(ParsePriceKop("  7 "), 700u);
    EXPECT_EQ(ParsePriceKop("+3,5"), 350u);
    EXPECT_EQ(ParsePriceKop(".5"), 50u);
    EXPECT_EQ(ParsePriceKop("5."), 500u);
    EXPECT_EQ(ParsePriceKop("1.5e2"), 15000u);
    EXPECT_EQ(ParsePriceKop("0.125"), 12u);
    EXPECT_EQ(ParsePriceKop("0.135"), 14u);
    EXPECT_EQ(ParsePriceKop("2.675"), 268u);
    EXPECT_EQ(ParsePriceKop("0,0051"), 1u);
    EXPECT_EQ(ParsePriceKop("42949672.97"), 1u);  // low 32 bits
    for (const char* bad : {"abc", "1,234.50", "1\t000", "12 р.", "1e", "1e+", "inf", "0x10", "."}) {
        EXPECT_EQ(ParsePriceKop(bad), 0u) << bad;
    }
}

TEST(PriceTextTest, ReadsBestBeforeDates) {
    local_seconds value{};
    ASSERT_TRUE(ParseBestBefore("31.12.25", value));
    EXPECT_EQ(value, At(2025y / 12 / 31));
    ASSERT_TRUE(ParseBestBefore(" 01.02.2026   14:30 ", value));
    EXPECT_EQ(value, At(2026y / 2 / 1, 14h + 30min));
    ASSERT_TRUE(ParseBestBefore("01.02.2026 08:05:09", value));
    EXPECT_EQ(value, At(2026y / 2 / 1, 8h + 5min + 9s));
    ASSERT_TRUE(ParseBestBefore("01.02.2026 25:99", value));
    EXPECT_EQ(value, At(2026y / 2 / 1));
    ASSERT_TRUE(ParseBestBefore("29.02.2024", value));
    EXPECT_EQ(value, At(2024y / 2 / 29));

    for (const char* bad : {"", "1.2.26", "31.02.2026", "29.02.2023", "01-02-2026", "00.01.2026",
                            "ab.cd.efgh", "01.13.2026", "01.01.10000"}) {
        EXPECT_FALSE(ParseBestBefore(bad, value)) << bad;
    }
}

// --- XML spreadsheet ---------------------------------------------------------------------------

std::string Sheet(const std::vector<std::string>& cells) {
    std::string xml = "<?xml version=\"1.0\"?>\n<Workbook><Worksheet><Table>";
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i % 8 == 0) xml += i == 0 ? "<Row>" : "</Row><Row>";
        xml += "<Cell><Data ss:Type=\"String\">" + cells[i] + "</Data></Cell>";
    }
    return xml + "</Row></Table></Worksheet></Workbook>";
}

TEST(PriceXmlTest, SkipsTheIdHeaderRowAndKeepsCellTextsRaw) {
    TMassaPluRows rows;
    std::string err;
    ASSERT_TRUE(ParsePluXmlSheet(Sheet({"Id", "Code", "Name", "Type", "Price", "Content", "Days", "PLU",  //
                                        "", " 0042 ", " Чай &amp; мёд ", "1", "99,90", " состав ", "10", ""}),
                                 rows, err))
        << err;
    ASSERT_EQ(rows.size(), 1u);
    TMassaPluRow expected;
    expected.Id = 1;    // no digits: numbered by position
    expected.Plu = 42;  // no PLU cell: the code's digits
    expected.Code = "0042";
    expected.Name = "Чай &amp; мёд";
    expected.GoodsType = 1;
    expected.PriceKop = 9990;
    expected.Ingredients = "состав";
    expected.ShelfLifeDays = 10;
    expected.BarcodePrefix = 21;
    EXPECT_EQ(rows[0], expected);
}

TEST(PriceXmlTest, ReadsRowsWithoutHeaderAndNumbersMissingIds) {
    TMassaPluRows rows;
    std::string err;
    ASSERT_TRUE(ParsePluXmlSheet(Sheet({"",        "X",
                                        "skipped", "0",
                                        "1",       "",
                                        "",        "",  //
                                        "",        "",
                                        "First",   "0",
                                        "1",       "",
                                        "",        "7",  //
                                        "",        "ABCDEFGHIJKLMNOPQRS-9",
                                        "Second",  "0",
                                        "2",       "",
                                        "",        ""}),  //
                                 rows, err))
        << err;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Id, 1u);
    EXPECT_EQ(rows[0].Code, "7");
    EXPECT_EQ(rows[1].Id, 2u);
    EXPECT_EQ(rows[1].Plu, 9u);
    EXPECT_EQ(rows[1].Code, "ABCDEFGHIJKLMNO");
}

TEST(PriceXmlTest, ReportsSheetsWithoutProducts) {
    TMassaPluRows rows;
    std::string err;
    EXPECT_FALSE(ParsePluXmlSheet(Sheet({"1", "2", "3", "4", "5", "6", "7", "8", "1", "2"}), rows, err));
    EXPECT_EQ(err, "XLS: not enough cells");
    EXPECT_FALSE(ParsePluXmlSheet(Sheet({"ID", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""}),
                                  rows, err));
    EXPECT_EQ(err, "XLS: no rows");
    EXPECT_FALSE(ParsePluXmlSheet(
        Sheet({"", "1", "", "", "", "", "2982617", "", "", "2", "", "", "", "", "", ""}), rows, err));
    EXPECT_EQ(err, "Shelf life too long for PLU 1");
    EXPECT_TRUE(rows.empty());
}

TEST(PriceXmlTest, CountsOnlyDataElementsAsCells) {
    // DataValidation is another element; an empty <Data/> is still one cell.
    const std::string xml = "<DataValidation><Range>A1</Range></DataValidation>" +
                            Sheet({"5", "c", "n", "0", "1", "", "", "6"}) +
                            "<Data/><Data>c2</Data><Data>n2</Data><Data>0</Data><Data>2</Data><Data></"
                            "Data><Data></Data><Data>8</Data>";
    TMassaPluRows rows;
    std::string err;
    ASSERT_TRUE(ParsePluXmlSheet(xml, rows, err)) << err;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Plu, 6u);
    EXPECT_EQ(rows[1].Id, 2u);
    EXPECT_EQ(rows[1].Plu, 8u);
}

// --- Loading files -----------------------------------------------------------------------------

class TPriceFileTest : public ::testing::Test {
protected:
    TTempDir FDir;
    TMassaPluRows FRows;
    std::string FErr;

    bool Load(const std::string& name, const std::string& bytes) {
        WriteFileText(FDir.File(name), bytes);
        return LoadPriceFile(FDir.File(name), FRows, FErr);
    }
};

TEST_F(TPriceFileTest, ReadsWindows1251FilesWithTheirHeader) {
    // "Молоко" and "Ёжик" in 1251.
    ASSERT_TRUE(Load("massa_k.csv",
                     "plu;type;;;;price;;;;;;;;name\r\n1;0;;;;10;;;;;;;;\xCC\xEE\xEB\xEE\xEA\xEE\r\n"
                     "2;1;;;;20;;;;;;;;\xA8\xE6\xE8\xEA\r\n"))
        << FErr;
    ASSERT_EQ(FRows.size(), 2u);
    EXPECT_EQ(FRows[0].Name, "Молоко");
    EXPECT_EQ(FRows[1].Name, "Ёжик");
    const TBytes goods = BuildGoodsRecord(FRows[1]);
    EXPECT_EQ(TBytes(goods.end() - 8, goods.end()), Hex("04 00 A8 E6 E8 EA 00 00"));
}

TEST_F(TPriceFileTest, ReadsUtf8WhenTheStartLacksThe1251Header) {
    ASSERT_TRUE(Load("price.txt", "PLU;NAME;PRICE;X;X;X\n5;Сыр;12,5;;;\n")) << FErr;
    ASSERT_EQ(FRows.size(), 1u);
    EXPECT_EQ(FRows[0].Name, "Сыр");
    EXPECT_EQ(FRows[0].PriceKop, 1250u);

    EXPECT_FALSE(Load("bad.csv", "PLU;NAME;PRICE\n5;\xD1\xFB\xF0;1;;;\n"));
    EXPECT_EQ(FErr, "No mapping for the Unicode character exists in the target multi-byte code page");
    EXPECT_TRUE(FRows.empty());
}

TEST_F(TPriceFileTest, TrustsThe1251HeaderWhateverTheRealEncoding) {
    ASSERT_TRUE(Load("utf8.csv", "PLU;TYPE;;;;;;;;;;;;NAME\n5;0;;;;1;;;;;;;;Сыр\n")) << FErr;
    EXPECT_EQ(FRows.at(0).Name, "РЎС‹СЂ");

    EXPECT_FALSE(Load("bom.csv", "\xEF\xBB\xBFPLU;TYPE\n5;0;;;;1\n"));
    EXPECT_EQ(FErr, "CSV: expected header starting with PLU;TYPE;...");
}

TEST_F(TPriceFileTest, ReadsXmlSpreadsheetsByExtension) {
    const std::string sheet = Sheet({"ID", "", "", "", "", "", "", "", "1", "", "Чай", "", "3", "", "", "5"});
    ASSERT_TRUE(Load("price.XML", "\xEF\xBB\xBF" + sheet)) << FErr;
    EXPECT_EQ(FRows.at(0).Name, "Чай");
    ASSERT_TRUE(Load("price.xls", sheet)) << FErr;
    EXPECT_FALSE(Load("price.csv", sheet));
    EXPECT_EQ(FErr, "CSV: expected header starting with PLU;TYPE;...");
}

TEST_F(TPriceFileTest, ReportsMissingFilesAndOverlongShelfLives) {
    EXPECT_FALSE(LoadPriceFile(FDir.File("none.csv"), FRows, FErr));
    EXPECT_EQ(FErr, "File not found");
    EXPECT_FALSE(Load("long.csv", std::string(FullHeader) + "\n31;0;;;;1;;;;4000000;;;;A;;;\n"));
    EXPECT_EQ(FErr, "Shelf life too long for PLU 31");
    EXPECT_TRUE(FRows.empty());
}

}  // namespace
}  // namespace egaiss
