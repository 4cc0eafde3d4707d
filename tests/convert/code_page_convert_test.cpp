#include <gtest/gtest.h>

#include "platform/code_page_convert.h"

namespace paginor {
namespace {

TEST(CodePageConvert, DecodesFallsBackAndReplaces) {
    std::string diagnostic;
    EXPECT_EQ(codePageToUtf8("caf\xe9 \x80", 1252, &diagnostic), "caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(diagnostic, "");
    EXPECT_EQ(codePageToUtf8("\xe0", 1255), "\xd7\x90");
    EXPECT_EQ(codePageToUtf8("\xe9", 99999, &diagnostic), "\xc3\xa9");
    EXPECT_EQ(diagnostic, "code page 99999 is not supported; read as code page 1252");
    EXPECT_EQ(codePageToUtf8("a\xff"
                             "b",
                             65001),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(codePageToUtf16("\xf0\x9f\x98\x80", 65001), std::u16string(u"\U0001F600"));
}

TEST(CodePageConvert, PlainAsciiIsItselfOnlyWhereTheCodePageSaysSo) {
    EXPECT_EQ(codePageToUtf16("Total 1+2", 1252), std::u16string(u"Total 1+2"));
    EXPECT_EQ(codePageToUtf16("Total 1+2", 932), std::u16string(u"Total 1+2"));
    EXPECT_EQ(codePageToUtf8("\xC1\xC2", 37), "AB");
    EXPECT_EQ(codePageToUtf8("AB", 37), "\xc2\xa0\xc3\xa2");
    EXPECT_EQ(codePageToUtf8("1+AOE-", 65000), "1\xc3\xa1");
}

// Every surrogate without its partner is one U+FFFD; a pair is its one character.
TEST(CodePageConvert, Utf16DecodesPairsAndReplacesLoneSurrogates) {
    const struct {
        const char* name;
        std::u16string text;
        std::u32string points;
        const char* utf8;
    } cases[] = {
        {"plain", u"a\u00e9\u20ac", U"a\u00e9\u20ac", "a\xc3\xa9\xe2\x82\xac"},
        {"a pair", u"\U0001F600b", U"\U0001F600b",
         "\xf0\x9f\x98\x80"
         "b"},
        {"a high one at the end", std::u16string(u"a") + char16_t(0xD83D), U"a\uFFFD",
         "a\xef\xbf\xbd"},
        {"a high one before a letter", std::u16string{char16_t(0xD83D), u'b'}, U"\uFFFDb",
         "\xef\xbf\xbd"
         "b"},
        {"a low one alone", std::u16string{char16_t(0xDE00), char16_t(0xD83D), char16_t(0xDE00)},
         U"\uFFFD\U0001F600", "\xef\xbf\xbd\xf0\x9f\x98\x80"},
        {"two high ones", std::u16string{char16_t(0xD83D), char16_t(0xD83D)}, U"\uFFFD\uFFFD",
         "\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::u32string points;
        for (std::size_t i = 0; i < c.text.size();) {
            points += nextCodePoint(c.text, i);
        }
        EXPECT_EQ(points, c.points);
        EXPECT_EQ(utf16ToUtf8(c.text), c.utf8);
        std::u16string again;
        for (char32_t point : c.points) {
            appendUtf16(again, point);
        }
        EXPECT_EQ(codePageToUtf16(utf16ToUtf8(c.text), 65001), again);
    }
}

TEST(CodePageConvert, Utf8PrefixCutsBetweenCharacters) {
    const struct {
        const char* text;
        std::size_t max;
        const char* prefix;
    } cases[] = {
        {"abc", 5, "abc"},
        {"abc", 2, "ab"},
        {"a\xc3\xa9", 2, "a"},
        {"a\xc3\xa9", 3, "a\xc3\xa9"},
        {"\xe2\x82\xac\xe2\x82\xac", 5, "\xe2\x82\xac"},
        {"\xf0\x9f\x98\x80!", 3, ""},
        {"x", 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8Prefix(c.text, c.max), c.prefix) << c.text << " " << c.max;
}

}  // namespace
}  // namespace paginor
