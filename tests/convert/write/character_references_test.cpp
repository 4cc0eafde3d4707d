#include "convert/write/character_references.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

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
        // Each reference once: what an escaped '&' starts stays text.
        {"&amp;eacute; &amp;#233; &amp; &lt;", u"&eacute; &#233; & <"},
        {"&#321 &#; &#x; &#12a; &#0; &#xD800; &#1114112; &#99999999999;",
         u"\u0141 &#; &#x; \u000ca; \ufffd \ufffd \ufffd \ufffd"},
        // 0x80-0x9F are the windows-1252 characters where that code page has one.
        {"&#128;&#150;&#x9F;&#129;&#x9d;&#127;", u"\u20ac\u2013\u0178\u0081\u009d\u007f"},
        {"&&#65;&#", u"&A&#"},
        {"&eacute;t&eacute; &euro;5 &mdash; &Omega;&hellip;",
         u"\u00e9t\u00e9 \u20ac5 \u2014 \u03a9\u2026"},
        {"&NotEqualTilde; &Afr;", u"\u2242\u0338 \U0001D504"},
        {"&AMP; &QUOT; &nbsp; &Lt; &Amp; &NBSP;", u"& \" \u00a0 \u226a &Amp; &NBSP;"},
        // A few names HTML reads without their ';', the longest one that matches.
        {"&eacute &nosuchname; &Eacute;&eacutex; AT&T; &;",
         u"\u00e9 &nosuchname; \u00c9\u00e9x; AT&T; &;"},
        {"&notit; &notin; &copy2024 &timestamp &euro",
         u"\u00acit; \u2209 \u00a92024 \u00d7tamp &euro"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CellTextToUnicode(c.text, 1252), c.expected) << c.text;
    }
    EXPECT_TRUE(HoldsCharacterReference("x &euro;"));
    EXPECT_TRUE(HoldsCharacterReference("Nut &amp; Washer"));
    EXPECT_FALSE(HoldsCharacterReference("Nut & Washer &euro &#x; AT&T;"));
}

// Inside an attribute value a name without its ';' is read only when no letter, digit or '='
// follows.
TEST(CharacterReferences, AttributeValues) {
    EXPECT_EQ(DecodeCharacterReferences(u"?a=1&copy=2&copy;&notx&not &amp;x&ampx&#65x",
                                        ReferenceContext::AttributeValue),
              u"?a=1&copy=2\u00a9&notx\u00ac &x&ampxAx");
}

// Python's html.unescape follows HTML's rules for text: both read every reference alike.
TEST(CharacterReferences, ReadAsPythonsHtmlModuleReadsThem) {
    const std::vector<std::string> texts = {"&amp;eacute;",
                                            "R&amp;D &amp;copy; 2024",
                                            "&#128;&#150;&#159;&#129;",
                                            "&#x41&#65;&#0;",
                                            "&#xD800;&#xDFFF;&#x110000;",
                                            "&notin;&notit;&not",
                                            "&ampx&amp&AMP;&Amp;",
                                            "&lt&ltimes;",
                                            "&#12a;",
                                            "&#x;&#;&",
                                            "&copy2024&timestamp",
                                            "AT&T; &;",
                                            "&NotEqualTilde;&Afr;",
                                            "&frac12&frac1&fjlig;",
                                            "&#99999999999999999999;"};
    std::string script =
        "import html, sys\nfor line in sys.stdin.read().split('\\n'):\n"
        "    sys.stdout.buffer.write(html.unescape(line).encode('utf-16-le')"
        " + b'\\n\\0')\n";
    const std::string folder = ::testing::TempDir();
    std::ofstream(folder + "/unescape.py") << script;
    std::string input;
    for (const std::string& text : texts) {
        input += (input.empty() ? "" : "\n") + text;
    }
    std::ofstream(folder + "/texts.txt", std::ios::binary) << input;
    FILE* pipe = popen(
        ("/usr/bin/python3 " + folder + "/unescape.py < " + folder + "/texts.txt").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string bytes;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        bytes.append(buffer, n);
    }
    ASSERT_EQ(pclose(pipe), 0);
    std::u16string all(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    std::size_t at = 0;
    for (const std::string& text : texts) {
        const std::size_t end = all.find(u"\n", at);
        ASSERT_NE(end, std::u16string::npos) << text;
        EXPECT_EQ(CellTextToUnicode(text, 1252), all.substr(at, end - at)) << text;
        at = end + 1;
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
        {"&#321", 1250, "\xa3"},
        {"&#150;&#128; &#x9F;", 1252, "\x96\x80 \x9f"},
        {"&#150;", 65001, "\xe2\x80\x93"},
        {"&eacute;t&eacute; &euro; &mdash;", 1252, "\xe9t\xe9 \x80 \x97"},
        {"&Lstrok;&eacute;", 1252, "&Lstrok;\xe9"},
        {"&Lstrok;&eacute;", 1250, "\xa3\xe9"},
        {"&NotEqualTilde;", 65001, "\xe2\x89\x82\xcc\xb8"},
        {"&NotEqualTilde;", 1252, "&NotEqualTilde;"},
        {"&amp;amp;", 1252, "&amp;"},
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
        {"Nut & Washer", 1252, true, "Nut &amp; Washer"},
        {"Nut &amp; Washer", 1252, false, ""},
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
