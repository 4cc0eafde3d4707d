#include <gtest/gtest.h>

#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::dumpRecords;
using testing::makeBatch;
using testing::runHtml;
using testing::RunOptions;

std::string page(const std::string& rows) {
    return "<!--9876543210_PageMark_Head--><table>" + rows + "</table>";
}

std::string header(int columns) {
    std::string html = "<tr>";
    for (int c = 0; c < columns; ++c) {
        html += "<td width=\"60\">H" + std::to_string(c) + "</td>";
    }
    return html + "</tr>";
}

// Labels that span down beside the row they name become one output row with it.
TEST(OutputRecords, RowOfTwoRowLabelsTakesTheNextRowIn) {
    const std::string rows = header(7) +
                             "<tr><td rowspan=\"2\">North</td><td rowspan=\"2\">Q1</td></tr>"
                             "<tr><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td></tr>";
    RunOptions o;
    o.kind = kOutputRecords;
    const auto r = runHtml(makeBatch({page(rows), page(rows)}), o);
    const std::string onePage =
        "r0 c0 1x1 k0 'H0'\nr0 c1 1x1 k0 'H1'\nr0 c2 1x1 k0 'H2'\nr0 c3 1x1 k0 'H3'\n"
        "r0 c4 1x1 k0 'H4'\nr0 c5 1x1 k0 'H5'\nr0 c6 1x1 k0 'H6'\n"
        "r1 c0 1x1 k0 'North'\nr1 c1 1x1 k0 'Q1'\nr1 c2 1x1 k0 '1'\nr1 c3 1x1 k0 '2'\n"
        "r1 c4 1x1 k0 '3'\nr1 c5 1x1 k0 '4'\nr1 c6 1x1 k0 '5'\n";
    std::string expected;
    for (const char* p : {"p0 ", "p1 "}) {
        for (std::size_t at = 0; at < onePage.size();) {
            const std::size_t end = onePage.find('\n', at) + 1;
            expected += p + onePage.substr(at, end - at);
            at = end;
        }
    }
    EXPECT_EQ(dumpRecords(r.records), expected);
    EXPECT_EQ(r.pages[0].recordCount, 14u);
    EXPECT_EQ(r.pages[0].rowCount, 2u);
}

// Rows whose records would land on the same cells are never merged.
TEST(OutputRecords, OverlappingRowsStayApart) {
    const std::string rows = header(7) +
                             "<tr><td rowspan=\"2\">North</td><td rowspan=\"2\">Q1</td>"
                             "<td colspan=\"5\">note</td></tr>"
                             "<tr><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td></tr>";
    RunOptions o;
    o.kind = kOutputRecords;
    const auto r = runHtml(makeBatch({page(rows), page(rows)}), o);
    std::int32_t lastRow = 0;
    for (const auto& rec : r.records) {
        lastRow = std::max(lastRow, rec.row);
    }
    EXPECT_EQ(lastRow, 2) << dumpRecords(r.records);
}

// HTMLCSS pages: pieces at their tops and lefts in points; an image when a height in pixels is
// given.
struct Piece {
    std::int32_t top;
    std::int32_t left;
    std::string text;
    std::int32_t imageHeight = 0;
};

std::string cssPage(const std::vector<Piece>& pieces) {
    std::string html = "<!--PAGE-->";
    for (const Piece& p : pieces) {
        const std::string at =
            "top:" + std::to_string(p.top) + "pt;left:" + std::to_string(p.left) + "pt";
        html += p.imageHeight > 0
                    ? "<div style=\"" + at + "\"><img src=\"" + p.text +
                          "\" width=\"40\" height=\"" + std::to_string(p.imageHeight) + "\"></div>"
                    : "<div id=\"d1\" style=\"" + at + "\">" + p.text + "</div>";
    }
    return html;
}

testing::RunResult runCss(const std::vector<std::string>& pages, const RunOptions& o) {
    const std::string head =
        "<style type=\"text/css\">div{position:absolute;}</style>"
        "<style>#d1 {font:9pt \"Arial\"; color:#000000}</style>";
    auto engine = std::make_shared<CConvertEngine>();
    engine->Init(nullptr, kFormatHtmlCss, head.data(), static_cast<std::int64_t>(head.size()),
                 false);
    testing::Batch batch;
    for (const auto& page : pages) {
        batch.offsets.push_back(static_cast<std::int64_t>(batch.html.size()));
        batch.html += page;
    }
    testing::RunResult r = testing::run(*engine, batch, o);
    r.engine = engine;
    return r;
}

// A gap of more than 55 points between two rows of a page leaves an empty spacer record, but
// not between a page's first two rows, and not where a box reaches across the gap. Every
// record, spacers included, counts in its page's record count: the writers take a page's
// records by that count.
TEST(OutputRecords, HtmlCssSpacersForTallGaps) {
    struct Case {
        const char* name;
        std::vector<std::vector<Piece>> pages;
        std::string expected;
    };
    const Case cases[] = {
        {"a gap of 56 points",
         {{{40, 36, "a"}, {60, 36, "b"}, {116, 36, "c"}}},
         "p0 r0 c0 1x1 k0 'a'\np0 r1 c0 1x1 k0 'b'\np0 r2 c0 1x1 k0 ''\np0 r3 c0 1x1 k0 'c'\n"},
        {"a gap of 55 points",
         {{{40, 36, "a"}, {60, 36, "b"}, {115, 36, "c"}}},
         "p0 r0 c0 1x1 k0 'a'\np0 r1 c0 1x1 k0 'b'\np0 r2 c0 1x1 k0 'c'\n"},
        {"not between a page's first two rows",
         {{{40, 36, "a"}, {140, 36, "b"}}, {{840, 36, "c"}, {940, 36, "d"}, {1040, 36, "e"}}},
         "p0 r0 c0 1x1 k0 'a'\np0 r1 c0 1x1 k0 'b'\np1 r0 c0 1x1 k0 'c'\np1 r1 c0 1x1 k0 'd'\n"
         "p1 r2 c0 1x1 k0 ''\np1 r3 c0 1x1 k0 'e'\n"},
        {"not inside a tall image",
         {{{40, 200, "a"}, {60, 36, "i.gif", 140}, {60, 200, "b"}, {120, 200, "c"}}},
         "p0 r0 c1 1x1 k0 'a'\np0 r1 c0 2x1 k1 'i.gif'\np0 r1 c1 1x1 k0 'b'\n"
         "p0 r2 c1 1x1 k0 'c'\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> pages;
        for (const auto& p : c.pages) {
            pages.push_back(cssPage(p));
        }
        RunOptions o;
        o.kind = kOutputRecords;
        const auto r = runCss(pages, o);
        EXPECT_EQ(dumpRecords(r.records), c.expected) << c.name;
        for (std::size_t p = 0; p < r.pages.size(); ++p) {
            std::uint32_t records = 0;
            std::int32_t rows = 0;
            for (const auto& rec : r.records) {
                records += rec.page == static_cast<std::int32_t>(p) ? 1 : 0;
                rows =
                    rec.page == static_cast<std::int32_t>(p) ? std::max(rows, rec.row + 1) : rows;
            }
            EXPECT_EQ(r.pages[p].recordCount, records) << c.name << " page " << p;
            EXPECT_EQ(r.pages[p].rowCount, static_cast<std::uint32_t>(rows))
                << c.name << " page " << p;
        }
    }
}

// A tall image whose covered rows the column optimiser shares with a text below it: its span
// ends above the text rather than covering it.
TEST(OutputRecords, HtmlCssSpanEndsAboveACellInItsColumn) {
    RunOptions o;
    o.kind = kOutputRecords;
    const auto r = runCss({cssPage({{32, 68, "T0x"},
                                    {34, 94, "T1x w8 w67 w90 w52"},
                                    {67, 110, "X2x"},
                                    {49, 2, "X3x"},
                                    {60, 2, "Y4x"},
                                    {11, 104, "i5.png", 93},
                                    {72, 130, "G6x"},
                                    {10, 40, "Random tables"}})},
                          o);
    EXPECT_EQ(dumpRecords(r.records),
              "p0 r0 c1 1x2 k0 'Random tables'\n"
              "p0 r0 c3 1x1 k1 'i5.png'\n"
              "p0 r1 c2 1x1 k0 'T0x'\n"
              "p0 r1 c3 1x1 k0 'T1x w8 w67 w90 w52'\n"
              "p0 r2 c0 1x1 k0 'X3x'\n"
              "p0 r3 c0 1x1 k0 'Y4x'\n"
              "p0 r3 c4 1x1 k0 'X2x'\n"
              "p0 r4 c5 1x1 k0 'G6x'\n");
}

}  // namespace
}  // namespace paginor
