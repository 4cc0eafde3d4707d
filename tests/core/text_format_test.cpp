#include "core/text_format.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace paginor {
namespace {

using namespace std::string_literals;

// ---------------------------------------------------------------------------------------------
// MakeCellReference

TEST(MakeCellReference, Table) {
    struct Case {
        std::uint16_t column;
        std::uint32_t row;
        const char* expected;
    };
    const Case cases[] = {
        {1, 1, "A1"},        {26, 1, "Z1"},    {27, 1, "AA1"},
        {52, 1, "AZ1"},      {53, 1, "BA1"},   {28, 7, "AB7"},
        {702, 3, "ZZ3"},     {703, 3, "AAA3"}, {16384, 1048576, "XFD1048576"},
        {65535, 1, "CRXO1"}, {2, 0, "B0"},     {1, 4294967295u, "A4294967295"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeCellReference(c.column, c.row), c.expected) << c.column << "," << c.row;
    }
}

TEST(MakeCellReference, ColumnZeroIsRejected) {
    EXPECT_EQ(MakeCellReference(0, 5), "");
}

TEST(MakeCellReference, EveryColumnDecodesBackInOrder) {
    std::string previous;
    for (unsigned column = 1; column <= 65535; ++column) {
        const std::string reference = MakeCellReference(static_cast<std::uint16_t>(column), 9);
        ASSERT_EQ(reference.back(), '9');
        const std::string letters = reference.substr(0, reference.size() - 1);
        unsigned decoded = 0;
        for (char c : letters) {
            ASSERT_TRUE(c >= 'A' && c <= 'Z') << reference;
            decoded = decoded * 26 + static_cast<unsigned>(c - 'A' + 1);
        }
        ASSERT_EQ(decoded, column) << reference;
        ASSERT_TRUE(previous.size() < letters.size() ||
                    (previous.size() == letters.size() && previous < letters))
            << previous << " " << letters;
        previous = letters;
    }
}

// ---------------------------------------------------------------------------------------------
// Colours

TEST(ParseHexColor, Table) {
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t colour;
    };
    const Case cases[] = {
        {"FF8000", true, 0x000080FF},   {"ff8000", true, 0x000080FF},
        {"123456", true, 0x00563412},   {"000000", true, 0},
        {"FFFFFF", true, 0x00FFFFFF},   {"aBcDeF", true, 0x00EFCDAB},
        {"FF8000zz", true, 0x000080FF},  // only six characters are read
        {"12345G", false, 0xDEAD},      {"#FF8000", false, 0xDEAD},
        {"1234", false, 0xDEAD},        {"", false, 0xDEAD},
        {" 12345", false, 0xDEAD},
    };
    for (const Case& c : cases) {
        std::uint32_t colour = 0xDEAD;
        EXPECT_EQ(ParseHexColor(c.text, &colour), c.ok) << c.text;
        EXPECT_EQ(colour, c.colour) << c.text;
    }
}

TEST(ParseHexColor, ShortTextFailsAtItsNul) {
    std::unique_ptr<char[]> text(new char[4]);
    std::memcpy(text.get(), "abc", 4);
    std::uint32_t colour = 7;
    EXPECT_FALSE(ParseHexColor(text.get(), &colour));
    EXPECT_EQ(colour, 7u);
}

TEST(ParseRgbColor, Table) {
    struct Case {
        const char* name;
        std::string text;
        std::uint32_t colour;  // 0xDEAD: left as it was
    };
    const Case cases[] = {
        {"plain", "rgb(255,128,0)", 0x000080FF},
        {"upper case and blanks", "RGB( 18 , 52 , 86 )", 0x00563412},
        {"percent signs only separate", "rgb(10%, 20%, 30%)", 0x001E140A},
        {"clamped", "rgb(300,0,0)", 0x000000FF},
        {"clamped long number", "rgb(99999999999999999999,1,300)", 0x00FF01FF},
        {"missing components are 0", "rgb(5)", 0x00000005},
        {"no numbers", "rgb()", 0},
        {"fourth number ignored", "rgb(1,2,3,4)", 0x00030201},
        {"blanks before the parenthesis", "rgb  (1,2,3)", 0x00030201},
        {"no '('", "rgb 1,2,3)", 0xDEAD},
        {"no ')'", "rgb(1,2,3", 0xDEAD},
        {"')' before '('", "rgb)(1,2,3)", 0xDEAD},
        {"30 bytes between", "rgb(" + std::string(27, ' ') + "1,2)", 0x00000201},
        {"31 bytes between", "rgb(" + std::string(28, ' ') + "1,2)", 0xDEAD},
        {"too short", "rg", 0xDEAD},
        {"nothing after rgb", "rgb", 0xDEAD},
    };
    for (const Case& c : cases) {
        // Bounded: a block of exactly the text's size, no NUL.
        std::unique_ptr<char[]> bytes(new char[c.text.size() + 1]);
        std::memcpy(bytes.get(), c.text.data(), c.text.size());
        std::uint32_t colour = 0xDEAD;
        EXPECT_TRUE(ParseRgbColor(bytes.get(), bytes.get() + c.text.size() - 1, &colour)) << c.name;
        EXPECT_EQ(colour, c.colour) << c.name;
        // Unbounded, NUL-terminated.
        bytes[c.text.size()] = '\0';
        colour = 0xDEAD;
        EXPECT_TRUE(ParseRgbColor(bytes.get(), nullptr, &colour)) << c.name;
        EXPECT_EQ(colour, c.colour) << c.name;
    }
}

TEST(ParseRgbColor, ParenthesisPastTheEndDoesNotCount) {
    const std::string text = "rgb(1,2,3) rgb(4";
    std::uint32_t colour = 0xDEAD;
    EXPECT_TRUE(ParseRgbColor(text.data(), text.data() + 8, &colour));
    EXPECT_EQ(colour, 0xDEADu);
    EXPECT_TRUE(ParseRgbColor(text.data(), text.data() + 9, &colour));
    EXPECT_EQ(colour, 0x00030201u);
}

TEST(FormatHtmlColor, Table) {
    EXPECT_EQ(FormatHtmlColor(0x000080FF), "#FF8000");
    EXPECT_EQ(FormatHtmlColor(0x00563412), "#123456");
    EXPECT_EQ(FormatHtmlColor(0), "#000000");
    EXPECT_EQ(FormatHtmlColor(0x00FFFFFF), "#FFFFFF");
    EXPECT_EQ(FormatHtmlColor(0x00EFCDAB), "#ABCDEF");
    EXPECT_EQ(FormatHtmlColor(0x01000000), "#000000");  // the high byte is not a colour
}

TEST(Colours, ParseAndFormatRoundTrip) {
    for (std::uint32_t colour = 0; colour <= 0xFFFFFF; colour += 4093) {
        const std::string html = FormatHtmlColor(colour);
        ASSERT_EQ(html.size(), 7u);
        std::uint32_t parsed = 0xDEADBEEF;
        ASSERT_TRUE(ParseHexColor(html.c_str() + 1, &parsed)) << html;
        ASSERT_EQ(parsed, colour) << html;

        const std::string rgb = "rgb(" + std::to_string(colour & 0xFF) + "," +
                                std::to_string(colour >> 8 & 0xFF) + "," +
                                std::to_string(colour >> 16 & 0xFF) + ")";
        parsed = 0xDEADBEEF;
        ASSERT_TRUE(ParseRgbColor(rgb.c_str(), rgb.c_str() + rgb.size() - 1, &parsed));
        ASSERT_EQ(parsed, colour) << rgb;
    }
}

// ---------------------------------------------------------------------------------------------
// UrlEncodeForm

TEST(UrlEncodeForm, Table) {
    EXPECT_EQ(UrlEncodeForm("a b/\xE9"), "a+b%2F%E9");
    EXPECT_EQ(UrlEncodeForm(""), "");
    EXPECT_EQ(UrlEncodeForm("AZaz09"), "AZaz09");
    EXPECT_EQ(UrlEncodeForm("-_.~*"), "%2D%5F%2E%7E%2A");
    EXPECT_EQ(UrlEncodeForm("a\0b"s), "a%00b");
    EXPECT_EQ(UrlEncodeForm("\xFF\x80\t\r\n"), "%FF%80%09%0D%0A");
    EXPECT_EQ(UrlEncodeForm("/tmp/my report.pdf"), "%2Ftmp%2Fmy+report%2Epdf");
}

TEST(UrlEncodeForm, EveryByteDecodesBack) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    const std::string encoded = UrlEncodeForm(all);
    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '+') {
            decoded += ' ';
        } else if (encoded[i] == '%') {
            ASSERT_LE(i + 2, encoded.size() - 1);
            const std::string hex = encoded.substr(i + 1, 2);
            ASSERT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
            decoded += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 2;
        } else {
            ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(encoded[i])));
            decoded += encoded[i];
        }
    }
    EXPECT_EQ(decoded, all);
    EXPECT_EQ(encoded.size(), 62 + 1 + 193 * 3u);
}

TEST(EscapeMarkup, EntitiesForTheFourMarkupCharactersOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain text", "plain text"},
        {"a<b>&\"c\"", "a&lt;b&gt;&amp;&quot;c&quot;"},
        {"&amp;", "&amp;amp;"},
        {"it's \xe9\t\r\n", "it's \xe9\t\r\n"},
        {"", ""},
    };
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(EscapeMarkup(text), escaped) << text;
    }
}

}  // namespace
}  // namespace paginor
