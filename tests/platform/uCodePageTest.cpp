#include <gtest/gtest.h>

#include <string>

#include "platform/uCodePage.h"

namespace egaiss::platform {
namespace {

// The 1251 bytes of a run of consecutive codes, e.g. 0xC0..0xDF for А..Я.
std::string ByteRun(int first, int last) {
    std::string bytes;
    for (int code = first; code <= last; ++code) {
        bytes += static_cast<char>(code);
    }
    return bytes;
}

constexpr const char* UpperAlphabet = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
constexpr const char* LowerAlphabet = "абвгдежзийклмнопрстуфхцчшщъыьэюя";

TEST(CodePageTest, EncodesTheWholeCyrillicAlphabetAndNumeroSign) {
    EXPECT_EQ(Utf8ToCp1251(UpperAlphabet), ByteRun(0xC0, 0xDF));
    EXPECT_EQ(Utf8ToCp1251(LowerAlphabet), ByteRun(0xE0, 0xFF));
    EXPECT_EQ(Utf8ToCp1251("Ё ё № €"), "\xA8 \xB8 \xB9 \x88");
    EXPECT_EQ(Utf8ToCp1251("Сыр «Российский» №1"),
              "\xD1\xFB\xF0 \xAB\xD0\xEE\xF1\xF1\xE8\xE9\xF1\xEA\xE8\xE9\xBB \xB9"
              "1");
}

TEST(CodePageTest, DecodesTheWholeCyrillicAlphabetAndNumeroSign) {
    EXPECT_EQ(Cp1251ToUtf8(ByteRun(0xC0, 0xDF)), UpperAlphabet);
    EXPECT_EQ(Cp1251ToUtf8(ByteRun(0xE0, 0xFF)), LowerAlphabet);
    EXPECT_EQ(Cp1251ToUtf8("\xA8\xB8\xB9"), "Ёё№");
    EXPECT_EQ(Cp1251ToUtf8("PLU;\xCC\xEE\xEB\xEE\xEA\xEE"), "PLU;Молоко");
}

TEST(CodePageTest, WritesOneQuestionMarkPerCharacterWithoutA1251Form) {
    // Latin accents, CJK, a character outside the BMP: never a look-alike, never two marks.
    EXPECT_EQ(Utf8ToCp1251("café"), "caf?");
    EXPECT_EQ(Utf8ToCp1251("a中b"), "a?b");
    EXPECT_EQ(Utf8ToCp1251("x\xF0\x9F\x98\x80y"), "x?y");
    EXPECT_EQ(Utf8ToCp1251("Ω≈ж"), "??\xE6");
    // Bytes that are not UTF-8 at all count one mark each, and conversion goes on after them.
    EXPECT_EQ(Utf8ToCp1251("a\xFF\xFE"
                           "б"),
              "a??\xE1");
    EXPECT_EQ(Utf8ToCp1251("я\xD0"), "\xFF?");
}

TEST(CodePageTest, KeepsAsciiAndControlCharactersAsTheyAre) {
    const std::string ascii = ByteRun(0x00, 0x7F);
    EXPECT_EQ(Utf8ToCp1251(ascii), ascii);
    EXPECT_EQ(Cp1251ToUtf8(ascii), ascii);
    EXPECT_EQ(Utf8ToCp1251(""), "");
    EXPECT_EQ(Cp1251ToUtf8(""), "");
}

TEST(CodePageTest, EveryByteSurvivesARoundTrip) {
    const std::string all = ByteRun(0x00, 0xFF);
    const std::string text = Cp1251ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1251(text), all);
    // 0x98 has no character of its own in 1251; it stands for U+0098 both ways.
    EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xC2\x98");

    const std::string russian = std::string(UpperAlphabet) + " Ёё № " + LowerAlphabet;
    EXPECT_EQ(Cp1251ToUtf8(Utf8ToCp1251(russian)), russian);
}

TEST(CodePageTest, ConvertsLongTextsPastTheAsciiPrefix) {
    std::string text(5000, 'a');
    std::string expected(5000, 'a');
    for (int i = 0; i < 1000; ++i) {
        text += "ж中";
        expected += "\xE6?";
    }
    EXPECT_EQ(Utf8ToCp1251(text), expected);
    EXPECT_EQ(Cp1251ToUtf8(Utf8ToCp1251(std::string(3000, 'z') + LowerAlphabet)),
              std::string(3000, 'z') + LowerAlphabet);
}

}  // namespace
}  // namespace egaiss::platform
