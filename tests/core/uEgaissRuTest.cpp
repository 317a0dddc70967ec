#include <gtest/gtest.h>

#include "core/uEgaissRu.h"

namespace egaiss {
namespace {

constexpr const char* Fffd = "\xEF\xBF\xBD";

TEST(TextHelpersTest, AsciiTestAndSafeCopyCountCharactersNotBytes) {
    EXPECT_TRUE(IsAsciiText(""));
    EXPECT_TRUE(IsAsciiText("C:\\Temp\x7F"));
    EXPECT_FALSE(IsAsciiText("C:\\Users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"));  // Иван

    EXPECT_EQ(ToAsciiSafe("\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD-1"), std::string(4, '?') + "-1");
    EXPECT_EQ(ToAsciiSafe("\xE2\x82\xAC \xF0\x9F\x98\x80!"), "? ?!");  // three- and four-byte characters
    // Broken bytes count as one character each, as the decoder would show them.
    EXPECT_EQ(ToAsciiSafe("a\xC3\xA9\xA9z"), "a??z");
    EXPECT_EQ(ToAsciiSafe("\xE2\x82"), "??");
}

TEST(TextHelpersTest, Utf8ToTextReplacesEachBadByteAndKeepsGoodText) {
    EXPECT_EQ(Utf8ToText(""), "");
    const std::string good = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x82\xAC \xF0\x9F\x98\x80";
    EXPECT_EQ(Utf8ToText(good), good);

    EXPECT_EQ(Utf8ToText("a\xFF"
                         "b"),
              std::string("a") + Fffd + "b");
    EXPECT_EQ(Utf8ToText("\xC0\xAF"), std::string(Fffd) + Fffd);                        // overlong "/"
    EXPECT_EQ(Utf8ToText("\xED\xA0\x80"), std::string(Fffd) + Fffd + Fffd);             // surrogate
    EXPECT_EQ(Utf8ToText("\xF4\x90\x80\x80"), std::string(Fffd) + Fffd + Fffd + Fffd);  // above U+10FFFF
    EXPECT_EQ(Utf8ToText("x\xE2\x82"), std::string("x") + Fffd + Fffd);                 // cut at the end
    EXPECT_EQ(Utf8ToText("\xE2\x82\r\n"), std::string(Fffd) + Fffd + "\r\n");  // line break not swallowed
    // Windows-1251 bytes are not valid UTF-8 but still give characters, never an empty text.
    EXPECT_EQ(Utf8ToText("\xCF\xF0\xE8"), std::string(Fffd) + Fffd + Fffd);
}

TEST(TextHelpersTest, LengthAndLeftNeverSplitACharacter) {
    const std::string text = "\xD0\x9F\xD1\x80\xE2\x82\xAC\xF0\x9F\x98\x80z";  // Пр€😀z
    EXPECT_EQ(TextLength(""), 0u);
    EXPECT_EQ(TextLength(text), 5u);
    EXPECT_EQ(TextLeft(text, 0), "");
    EXPECT_EQ(TextLeft(text, 1), "\xD0\x9F");
    EXPECT_EQ(TextLeft(text, 3), "\xD0\x9F\xD1\x80\xE2\x82\xAC");
    EXPECT_EQ(TextLeft(text, 4), "\xD0\x9F\xD1\x80\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(TextLeft(text, 99), text);

    const std::string broken = "\xC3\xA9\xA9\xE2\x82";
    EXPECT_EQ(TextLength(broken), TextLength(Utf8ToText(broken)));
    EXPECT_EQ(TextLeft(broken, 1), "\xC3\xA9");

    // ASCII runs are taken eight bytes at a time; a cut inside or right after one stays exact.
    const std::string mixed = "0123456789abc" + text + "0123456789";
    EXPECT_EQ(TextLength(mixed), 28u);
    EXPECT_EQ(TextLeft(mixed, 9), "012345678");
    EXPECT_EQ(TextLeft(mixed, 14), "0123456789abc\xD0\x9F");
    EXPECT_EQ(TextLeft(mixed, 27), mixed.substr(0, mixed.size() - 1));
}

TEST(TextHelpersTest, TrimControlTrimsOnlyCodesBelow33) {
    EXPECT_EQ(TrimControl(""), "");
    EXPECT_EQ(TrimControl(" \t\r\n\x01"), "");
    EXPECT_EQ(TrimControl("\r\n  key = value \x1F"), "key = value");
    // A non-breaking space is not trimmed.
    EXPECT_EQ(TrimControl("\xC2\xA0x\xC2\xA0 "), "\xC2\xA0x\xC2\xA0");
}

}  // namespace
}  // namespace egaiss
