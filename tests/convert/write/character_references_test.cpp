#include "convert/write/character_references.h"

#include <gtest/gtest.h>

#include <string>

namespace paginor {
namespace {

TEST(CharacterReferences, UnicodeOutputsDecodeWellFormedReferences) {
    struct Case {
        const char* text;  // windows-1252
        std::u16string expected;
    };
    const Case cases[] = {
        {"&#321;\xf3"
         "d&#378; depot",
         u"\u0141\u00f3d\u017a depot"},
        {"&#x141;&#X141;&#x00e9;", u"\u0141\u0141\u00e9"},
        {"&#128512;", u"\U0001F600"},
        {"&amp; &lt; stay", u"&amp; &lt; stay"},
        {"&#321 &#; &#x; &#12a; &#0; &#xD800; &#1114112; &#99999999999;",
         u"&#321 &#; &#x; &#12a; &#0; &#xD800; &#1114112; &#99999999999;"},
        {"&&#65;&#", u"&A&#"},
        {"&eacute;t&eacute; &euro;5 &mdash; &Omega;&hellip;",
         u"\u00e9t\u00e9 \u20ac5 \u2014 \u03a9\u2026"},
        {"&NotEqualTilde; &Afr;", u"\u2242\u0338 \U0001D504"},
        {"&AMP; &QUOT; &nbsp; &Lt;", u"&AMP; &QUOT; &nbsp; &Lt;"},
        {"&eacute &nosuchname; &Eacute;&eacutex; AT&T; &;",
         u"&eacute &nosuchname; \u00c9&eacutex; AT&T; &;"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CellTextToUnicode(c.text, 1252), c.expected) << c.text;
    }
    EXPECT_TRUE(HoldsCharacterReference("x &euro;"));
    EXPECT_FALSE(HoldsCharacterReference("Nut & Washer &amp; &euro"));
}

TEST(CharacterReferences, CodePageOutputsEncodeWhatTheCodePageHolds) {
    struct Case {
        const char* text;
        int codePage;
        std::string expected;
    };
    const Case cases[] = {
        {"&#321;\xf3"
         "d&#378; depot",
         1250, "\xa3\xf3\x64\x9f depot"},
        {"&#321;&#233;t&#xE9;", 1252, "&#321;\xe9t\xe9"},
        {"&#x20AC; &#1046;", 1251, "\x88 \xc6"},
        {"&#1046;&#65;", 1252, "&#1046;A"},
        {"&#x141;", 65001, "\xc5\x81"},
        {"&#321", 1250, "&#321"},
        {"&eacute;t&eacute; &euro; &mdash;", 1252, "\xe9t\xe9 \x80 \x97"},
        {"&Lstrok;&eacute;", 1252, "&Lstrok;\xe9"},
        {"&Lstrok;&eacute;", 1250, "\xa3\xe9"},
        {"&NotEqualTilde;", 65001, "\xe2\x89\x82\xcc\xb8"},
        {"&NotEqualTilde;", 1252, "&NotEqualTilde;"},
        {"&amp;", 1252, "&amp;"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeCharacterReferences(c.text, c.codePage), c.expected) << c.text;
    }
}

// Only plain ASCII without references takes the short way; anything else is left to the
// converting writers, and nothing is appended for it.
TEST(CharacterReferences, PlainMarkupText) {
    struct Case {
        std::string text;
        int codePage;
        bool plain;
        std::string expected;
    };
    const Case cases[] = {
        {"a<b & \"c\">\td", 1252, true, "a&lt;b &amp; &quot;c&quot;&gt;\td"},
        {"x\ny\r\n", 1252, true, "x<br>y\r<br>"},
        {"", 1252, true, ""},
        {"caf\xE9", 1252, false, ""},
        {"&#233;", 1252, false, ""},
        {"&eacute;", 1252, false, ""},
        {"Nut & Washer &amp;", 1252, true, "Nut &amp; Washer &amp;amp;"},
        {"a\x01", 1252, false, ""},
        {"a\x7F", 1252, false, ""},
        {"abc", 1026, false, ""},
    };
    for (const Case& c : cases) {
        std::string out = "<";
        EXPECT_EQ(AppendPlainMarkupText(out, c.text, c.codePage, "<br>"), c.plain) << c.text;
        EXPECT_EQ(out, "<" + c.expected) << c.text;
    }
}

}  // namespace
}  // namespace paginor
