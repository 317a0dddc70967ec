#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "scales/uMassaKFile.h"
#include "scales/uPriceFile.h"
#include "support/uTestDirs.h"
#include "uMassaKTestRows.h"

namespace egaiss {
namespace {

using namespace std::chrono;
using test::At;
using test::FullRow;
using test::Hex;
using test::PlainRow;
using test::TTempDir;
using test::WriteFileText;

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

// Read block by block (1 MiB each), a 1251 file gives the tables built from all its rows, wherever
// its line ends fall; the other forms and every failure give what LoadPriceFile gives.
TEST_F(TPriceFileTest, TablesReadBlockByBlockMatchTheTablesOfAllRows) {
    const auto sameAsRows = [&](const std::string& name, const std::string& bytes) {
        SCOPED_TRACE(name);
        const bool loaded = Load(name, bytes);
        TScaleTables tables;
        std::string err;
        EXPECT_EQ(LoadPriceFileTables(FDir.File(name), tables, err), loaded);
        EXPECT_EQ(err, FErr);
        EXPECT_EQ(tables.Rows, FRows.size());
        EXPECT_TRUE(tables.Goods == (loaded ? BuildGoodsFile(FRows) : TBytes{}));
        EXPECT_TRUE(tables.Plu == (loaded ? BuildPluFile(FRows) : TBytes{}));
    };
    constexpr std::size_t Block = std::size_t{1} << 20;
    std::string text = std::string(FullHeader) + "\r\n";
    // A row whose line break starts at `breakAt` (its name padded to get there).
    const auto rowBreakingAt = [&](int plu, std::size_t breakAt, const char* lineEnd) {
        const std::string start = std::to_string(plu) + ";1;;;;12,5;;;01.02.2026 14:30;5;AB;;;\xCC\xEE";
        text += start + std::string(breakAt - text.size() - start.size(), 'x') + lineEnd;
    };
    for (int plu = 1; plu <= 300; ++plu)
        rowBreakingAt(plu, text.size() + 60 + plu % 7, plu % 3 == 0 ? "\n" : plu % 3 == 1 ? "\r\n" : "\r");
    rowBreakingAt(301, Block - 1, "\r\n");    // CR LF cut by the first block's end
    rowBreakingAt(302, 2 * Block - 1, "\r");  // a lone CR ending the second block
    rowBreakingAt(303, 2 * Block + 80, "\r\n");
    rowBreakingAt(304, 4 * Block + 10, "\n");  // longer than a block
    // 1251 bytes the tables take as they are: a code longer than its field, the unassigned 0x98, a
    // NUL, doubled quotes, a name longer than its field.
    text +=
        "306;0;;;;1;;\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD0;;;"
        "\xC3\xCE\x98\xD2\xD3;;;"
        "\"\xCC\xEE\"\"\xEB\"\"" +
        std::string(1, '\0') + std::string(300, '\xE0') + "\";\xD1\xEE\xEB\xFC;;\n";
    text += "\r\n305;0;;;;1;;;;;;;;last without a break";
    sameAsRows("massa_k.csv", text);

    sameAsRows("utf8.txt", "PLU;NAME;PRICE;X;X;X\n5;Сыр;12,5;;;\n");
    sameAsRows("bad.csv", "PLU;NAME;PRICE\n5;\xD1\xFB\xF0;1;;;\n");
    sameAsRows("price.xls",
               Sheet({"1", "", "Чай", "", "3", "", "", "5", "2", "", "Кофе", "", "4", "", "", "6"}));
    sameAsRows("long.csv", std::string(FullHeader) + "\n31;0;;;;1;;;;4000000;;;;A;;;\n");
    sameAsRows("blank.csv", std::string(FullHeader) + "\r\n\r\n  \r\n");
    TScaleTables tables;
    std::string err;
    EXPECT_FALSE(LoadPriceFileTables(FDir.File("none.csv"), tables, err));
    EXPECT_EQ(err, "File not found");
}

}  // namespace
}  // namespace egaiss
