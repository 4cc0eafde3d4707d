#include <gtest/gtest.h>

#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::batchFromFixture;
using testing::dumpRecords;
using testing::dumpText;
using testing::makeBatch;
using testing::runHtml;
using testing::RunOptions;

const char* const kMark = "<!--9876543210_PageMark_Head-->";

std::string page(const std::string& rows, const std::string& table = "<table width=\"300\">") {
    return std::string(kMark) + table + rows + "</table>\r\n";
}

TEST(TableReader, SalesReportCellByCell) {
    // Spanned title cells, th outside the first row, a nested table, an image, a link and a
    // row span; "<tr" followed by a line break still opens a row.
    EXPECT_EQ(dumpText(runHtml(batchFromFixture("sales_report.htm")).text),
              "r0|Sales Report||Page 1 of 3|\nr1|Region|Product|Amount|\nr2|North|Bolt|12|\n"
              "r3|North|Nut & Washer|7|\nr4|Printed by Paginor|||\n"
              "r5|Sales Report||Page 2 of 3|\nr6|Region|Product|Amount|\nr7|South|Bolt M8|15|\n"
              "r8|||-3|\nr9|South|Total|12|\nr10|Printed by Paginor|||\n"
              "r11|Sales Report||Page 3 of 3|\nr12|Region|Product|Amount|\n"
              "r13|West|Screw pack|1,200|\nr14|Printed by Paginor|||\n");
}

TEST(TableReader, RecordsCarryKindsSpansLinksAndFonts) {
    RunOptions o;
    o.kind = kOutputRecords;
    o.font = true;
    o.colour = true;
    const auto r = runHtml(batchFromFixture("sales_report.htm"), o);
    const std::string dump = dumpRecords(r.records);
    EXPECT_NE(dump.find("p0 r0 c0 1x2 k0 'Sales Report'\n"), std::string::npos);
    EXPECT_NE(dump.find("p1 r2 c0 2x1 k0 'South'\n"), std::string::npos);
    EXPECT_NE(dump.find("p1 r3 c1 1x1 k1 'logo.gif'\n"), std::string::npos);
    for (const auto& rec : r.records) {
        const std::string text(rec.text, static_cast<std::size_t>(rec.textLength));
        if (text == "Total") {
            EXPECT_EQ(rec.kind, kKindLink);
            EXPECT_STREQ(rec.text + rec.textLength + 1, "detail.htm?id=7&x=1");
        } else if (text == "logo.gif") {
            EXPECT_EQ(rec.size, (75u << 16) | 38u);
        } else if (text == "Sales Report") {
            EXPECT_EQ(rec.fontSize, 14);
            EXPECT_EQ(rec.bold, 1);
            EXPECT_EQ(rec.fontColour, 0x800000u);
            EXPECT_STREQ(rec.fontName, "Arial");
        } else if (text == "-3") {
            EXPECT_EQ(rec.fontColour, 0x0000FFu);
        } else if (text == "Printed by Paginor") {
            // An unquoted face ends at the blank; the size after it is still read.
            EXPECT_STREQ(rec.fontName, "Arial");
            EXPECT_EQ(rec.fontSize, 7);
        }
    }
    EXPECT_EQ(r.colour, 1);
    EXPECT_EQ(r.pages[1].recordCount, 14u);
}

TEST(TableReader, CellTexts) {
    struct Case {
        const char* name;
        std::string cell;
        std::string expected;
    };
    const Case cases[] = {
        {"entity", "A&amp;B", "r0|A&B|x|\n"},
        {"nbsp without semicolon", "&NBSP", "r0||x|\n"},
        {"line break tag", "a <br> b", "r0|a b|x|\n"},
        {"blank runs", "a  \r\n  b", "r0|a b|x|\n"},
        {"tags dropped", "<font size=2><b>Bold</b></font>", "r0|Bold|x|\n"},
        {"link keeps shown text", "<a href=\"x?a=1&amp;b=2\">Total</a>", "r0|Total|x|\n"},
        // Each reference once, as a browser shows it, though tags and entities join the text.
        {"escaped references", "&amp;eacute; &amp;#233; R&amp;D &amp;copy; &amp;amp;",
         "r0|&eacute; &#233; R&D &copy; &amp;|x|\n"},
        {"escaped reference across a tag", "&amp;<b>eacute;</b> &eac<i>ute;</i>",
         "r0|&eacute; &eacute;|x|\n"},
        {"reference ended by a tag", "&copy<b>2024</b> &#65<b>5</b>", "r0|\u00a92024 A5|x|\n"},
    };
    for (const Case& c : cases) {
        const std::string html =
            page("<tr><td width=\"100\">" + c.cell + "</td><td width=\"200\">x</td></tr>");
        EXPECT_EQ(dumpText(runHtml(makeBatch({html})).text), c.expected) << c.name;
    }
}

// Attributes are read as HTML reads them: in either quotes or none, the first of equal names.
TEST(TableReader, LinkAddresses) {
    struct Case {
        std::string tag;
        std::string address;
    };
    const Case cases[] = {
        {"<a href='http://ex.com/single'>", "http://ex.com/single"},
        {"<a href=\"http://ex.com/a b\">", "http://ex.com/a%20b"},
        {"<A HREF = http://ex.com/u?a=1&amp;b=2&copy=3 target=_blank>",
         "http://ex.com/u?a=1&b=2&copy=3"},
        {"<a title=\" href=http://wrong/\" href=\"http://ex.com/\" href=\"http://later/\">",
         "http://ex.com/"},
        {"<a href=\"http://ex.com/caf&eacute;?q=caf\xe9&amp;r=&#x141;#t\xe9\">",
         "http://ex.com/caf%C3%A9?q=caf%E9&r=%26%23321%3B#t%C3%A9"},
        {"<a href=\" http://ex.com/&lt;x&gt;/%41/%zz\r\n\">", "http://ex.com/%3Cx%3E/%41/%25zz"},
        {"<a href='x.htm'title='t'>", "x.htm"},
    };
    for (const Case& c : cases) {
        RunOptions o;
        o.kind = kOutputRecords;
        const auto r = runHtml(makeBatch({page("<tr><td width=\"100\">" + c.tag +
                                               "Go</a></td><td width=\"200\">x</td></tr>")}),
                               o);
        ASSERT_FALSE(r.records.empty()) << c.tag;
        const auto& link = r.records[0];
        EXPECT_EQ(std::string(link.text, static_cast<std::size_t>(link.textLength)), "Go");
        EXPECT_EQ(link.kind, kKindLink) << c.tag;
        EXPECT_EQ(std::string(link.text + link.textLength + 1), c.address) << c.tag;
    }
}

// A single-quoted face is read whole; one whose quote never closes is error 104.
TEST(TableReader, SingleQuotedFaces) {
    RunOptions o;
    o.kind = kOutputRecords;
    o.font = true;
    const auto r = runHtml(
        makeBatch({page("<tr><td width='100'><font face='Courier New' size=2>a</font></td></tr>")}),
        o);
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_STREQ(r.records[0].fontName, "Courier New");
    EXPECT_EQ(r.records[0].fontSize, 10);
    try {
        runHtml(makeBatch({page("<tr><td width='100'><font face='Arial>a</font></td></tr>")}), o);
        ADD_FAILURE() << "no error";
    } catch (const ConvertError& e) {
        EXPECT_EQ(e.code(), 104);
    }
}

TEST(TableReader, UnionOfPageColumnBoundaries) {
    const auto batch =
        makeBatch({page("<tr><td width=\"100\">a</td><td width=\"200\">b</td></tr>"),
                   page("<tr><td width=\"150\">c</td><td width=\"150\">d</td></tr>")});
    // Grid columns at 0, 100 and 150: b and c each cover two of them.
    EXPECT_EQ(dumpText(runHtml(batch).text), "r0|a|b||\nr1|c||d|\n");
}

TEST(TableReader, PercentTableWidthTakesTheCells) {
    const auto batch = makeBatch({page("<tr><td width=\"320\">a</td><td width=\"320\">b</td></tr>",
                                       "<table width=\"100%\">")});
    EXPECT_EQ(dumpText(runHtml(batch).text), "r0|a|b|\n");
}

TEST(TableReader, RightToLeftSwapsAlignSides) {
    RunOptions o;
    o.kind = kOutputRecords;
    const auto r = runHtml(batchFromFixture("right_to_left.htm"), o, true);
    ASSERT_GE(r.records.size(), 3u);
    EXPECT_EQ(r.records[0].alignment, 1);  // RIGHT in capitals
    EXPECT_EQ(r.records[1].alignment, 3);
    EXPECT_EQ(r.records[2].alignment, 2);
}

TEST(TableReader, FontSizes) {
    struct Case {
        std::string cell;
        bool flags;
        std::int32_t points;
    };
    const Case cases[] = {{"<font size=5>x</font>", true, 18},
                          {"<font face=\"Arial\">x</font>", true, 12},
                          {"<font size=5>x</font>", false, 10},
                          {"<font size=\"+1\">x</font>", true, 14}};
    for (const Case& c : cases) {
        RunOptions o;
        o.kind = kOutputRecords;
        o.font = c.flags;
        o.colour = c.flags;
        const auto r =
            runHtml(makeBatch({page("<tr><td width=\"100\">" + c.cell + "</td></tr>")}), o);
        ASSERT_EQ(r.records.size(), 1u) << c.cell;
        EXPECT_EQ(r.records[0].fontSize, c.points) << c.cell;
    }
}

}  // namespace
}  // namespace paginor
