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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CellTextToUnicode(c.text, 1252), c.expected) << c.text;
    }
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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeCharacterReferences(c.text, c.codePage), c.expected) << c.text;
    }
}

}  // namespace
}  // namespace paginor
