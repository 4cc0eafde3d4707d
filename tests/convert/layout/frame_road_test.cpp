// Framed HTMLCSS pages through the engine's entry: bordered tables laid out on their own rules.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "convert/convert_engine.h"
#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::delimitedCells;
using testing::dumpText;
using testing::RunOptions;
using testing::RunResult;

// A page drawn in points, as a report writer draws it: boxes first, then the texts.
class PageBuilder {
public:
    PageBuilder& box(double top, double left, double width, double height,
                     const char* colour = nullptr) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "<div style=\"position:absolute;top:%gpt;left:%gpt;width:%gpt;height:%gpt;"
                      "border-style:solid%s%s\"></div>\n",
                      top, left, width, height, colour != nullptr ? ";background-color:" : "",
                      colour != nullptr ? colour : "");
        m_boxes += text;
        return *this;
    }
    PageBuilder& text(double top, int left, const std::string& content) {
        char at[80];
        std::snprintf(at, sizeof at, "top:%gpt;left:%dpt", top, left);
        m_texts += "<div id=\"f1\" style=\"" + std::string(at) + "\">" + content + "</div>\n";
        m_written.push_back(content);
        m_starts.emplace_back(top, left);
        return *this;
    }
    // Where each text starts: top and left.
    const std::vector<std::pair<double, int>>& textStarts() const { return m_starts; }
    // An image of widthPx x heightPx pixels; its source is no text.
    PageBuilder& image(double top, int left, int widthPx, int heightPx, const std::string& src) {
        char at[160];
        std::snprintf(at, sizeof at,
                      "<div id=\"f1\" style=\"top:%gpt;left:%dpt\"><img src=\"%s\" width=\"%d\" "
                      "height=\"%d\"></div>\n",
                      top, left, src.c_str(), widthPx, heightPx);
        m_texts += at;
        m_images.push_back(src);
        return *this;
    }
    // A ruled table: an outline and a bordered box per cell; cells maps "r,c" to its text.
    PageBuilder& table(double top, int left, int rows, int columns, int cellWidth, int cellHeight,
                       const std::map<std::pair<int, int>, std::string>& cells,
                       const char* headingColour = nullptr) {
        box(top, left, columns * cellWidth, rows * cellHeight);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                box(top + r * cellHeight, left + c * cellWidth, cellWidth, cellHeight,
                    r == 0 ? headingColour : nullptr);
            }
        }
        for (const auto& [at, content] : cells) {
            text(top + at.first * cellHeight + 2, left + at.second * cellWidth + 2, content);
        }
        return *this;
    }
    std::string html() const { return "<!--PAGE-->\n" + m_boxes + m_texts; }
    const std::vector<std::string>& written() const { return m_written; }
    const std::vector<std::string>& images() const { return m_images; }

private:
    std::string m_boxes;
    std::string m_texts;
    std::vector<std::string> m_written;
    std::vector<std::pair<double, int>> m_starts;
    std::vector<std::string> m_images;
};

const std::string kHead =
    "<html><head><style type=\"text/css\">div{position:absolute;}</style>\n"
    "<style>#f1 {font:9pt \"Arial\"; color:#000000}</style>\n</head><body>\n";

RunResult runPages(const std::vector<PageBuilder>& pages, const RunOptions& o = {}) {
    testing::CssReport report;
    report.head = kHead;
    std::vector<std::string> html;
    for (const PageBuilder& page : pages) {
        html.push_back(page.html());
    }
    report.batch = testing::makeBatch(html);
    auto engine = std::make_shared<CConvertEngine>();
    engine->Init(nullptr, kFormatHtmlCss, report.head.data(),
                 static_cast<std::int64_t>(report.head.size()), false);
    RunResult r = testing::run(*engine, report.batch, o);
    r.engine = engine;
    return r;
}

// "p0 r1 c2 1x2 F #C0C0C0 'text'" per record, in page, row and column order.
std::string dumpFrameRecords(std::vector<tagOutputCellInfo> records) {
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return std::tie(a.page, a.row, a.column) < std::tie(b.page, b.row, b.column);
    });
    std::string out;
    for (const tagOutputCellInfo& r : records) {
        char line[80];
        std::snprintf(line, sizeof line, "p%d r%d c%d %dx%d%s", r.page, r.row, r.column, r.rowSpan,
                      r.columnSpan, r.framed != 0 ? " F" : "");
        out += line;
        if (r.backgroundColour != kNoBackground) {
            std::snprintf(line, sizeof line, " #%06X", r.backgroundColour);
            out += line;
        }
        if (r.text != nullptr) {
            out += " '" + std::string(r.text, static_cast<std::size_t>(r.textLength)) + "'";
        }
        out += "\n";
    }
    return out;
}

std::map<std::string, int> wordsOf(const std::string& text, std::map<std::string, int> words = {}) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find_first_of(" \t\r\n", at), text.size());
        if (end > at) {
            ++words[text.substr(at, end - at)];
        }
        at = end + 1;
    }
    return words;
}

// Every text written on the pages comes out exactly once, in the records and in the text: two
// pieces that fall on one cell share its record, so words are counted. Every image has a record
// of its own.
void expectEveryTextOnce(const std::vector<PageBuilder>& pages, const RunOptions& options = {}) {
    std::map<std::string, int> written;
    std::map<std::string, int> drawn;
    for (const PageBuilder& page : pages) {
        for (const std::string& text : page.written()) {
            written = wordsOf(text, written);
        }
        for (const std::string& image : page.images()) {
            ++drawn[image];
        }
    }
    RunOptions asRecords = options;
    asRecords.kind = kOutputRecords;
    const RunResult records = runPages(pages, asRecords);
    std::map<std::string, int> recorded;
    std::map<std::string, int> pictured;
    for (const tagOutputCellInfo& r : records.records) {
        if (r.text == nullptr || r.textLength <= 0) {
            continue;
        }
        const std::string text(r.text, static_cast<std::size_t>(r.textLength));
        if (r.kind == kKindImage) {
            ++pictured[text];
        } else {
            recorded = wordsOf(text, recorded);
        }
    }
    EXPECT_EQ(recorded, written) << dumpFrameRecords(records.records);
    EXPECT_EQ(pictured, drawn) << dumpFrameRecords(records.records);
    RunOptions asText = options;
    asText.kind = kOutputDelimited;
    const std::string text = runPages(pages, asText).text;
    std::string cells;
    for (const auto& row : delimitedCells(text)) {
        for (const std::string& cell : row) {
            cells += cell + "\n";
        }
    }
    EXPECT_EQ(wordsOf(cells), written) << dumpText(text);
}

PageBuilder invoicePage(int top, int page, int pages) {
    PageBuilder p;
    p.text(top, 40, "Stock Report")
        .text(top, 240, "Page " + std::to_string(page) + " of " + std::to_string(pages))
        .table(top + 20, 40, 4, 3, 100, 20,
               {{{0, 0}, "Item"},
                {{0, 1}, "Qty"},
                {{0, 2}, "Price"},
                {{1, 0}, "Bolt"},
                {{1, 1}, "12"},
                {{1, 2}, "0.50"},
                {{2, 0}, "Nut"},
                {{2, 1}, "7"},
                {{2, 2}, "0.20"},
                {{3, 0}, "Washer"},
                {{3, 1}, "30"},
                {{3, 2}, "0.05"}},
               "#c0c0c0")
        .text(top + 110, 242, "Total 9.00");
    return p;
}

struct RoadCase {
    const char* name;
    std::vector<PageBuilder> pages;
    RunOptions options;
    bool framed;  // else the batch takes the grid road
    std::string records;
    std::string text;
};

std::string overlappingCells(const std::vector<tagOutputCellInfo>& records);

std::vector<RoadCase> roadCases() {
    std::vector<RoadCase> cases;
    cases.push_back({"ruled table with title, total and footer",
                     {invoicePage(40, 1, 1)},
                     {},
                     true,
                     "p0 r0 c0 1x1 'Stock Report'\n"
                     "p0 r0 c2 1x1 'Page 1 of 1'\n"
                     "p0 r1 c0 1x1 F #C0C0C0 'Item'\n"
                     "p0 r1 c1 1x1 F #C0C0C0 'Qty'\n"
                     "p0 r1 c2 1x1 F #C0C0C0 'Price'\n"
                     "p0 r2 c0 1x1 F 'Bolt'\n"
                     "p0 r2 c1 1x1 F '12'\n"
                     "p0 r2 c2 1x1 F '0.50'\n"
                     "p0 r3 c0 1x1 F 'Nut'\n"
                     "p0 r3 c1 1x1 F '7'\n"
                     "p0 r3 c2 1x1 F '0.20'\n"
                     "p0 r4 c0 1x1 F 'Washer'\n"
                     "p0 r4 c1 1x1 F '30'\n"
                     "p0 r4 c2 1x1 F '0.05'\n"
                     "p0 r5 c2 1x1 'Total 9.00'\n",
                     "r0|Stock Report||Page 1 of 1|\n"
                     "r1|Item|Qty|Price|\n"
                     "r2|Bolt|12|0.50|\n"
                     "r3|Nut|7|0.20|\n"
                     "r4|Washer|30|0.05|\n"
                     "r5|||Total 9.00|\n"});
    {
        // The rule between the first two cells of row 1 is missing: one cell spans two columns.
        PageBuilder p;
        p.box(40, 40, 300, 60).box(40, 40, 100, 20).box(40, 140, 100, 20).box(40, 240, 100, 20);
        p.box(60, 40, 200, 20).box(60, 240, 100, 20);
        p.box(80, 40, 100, 20).box(80, 140, 100, 20).box(80, 240, 100, 20);
        p.text(42, 42, "A").text(42, 142, "B").text(42, 242, "C");
        p.text(62, 42, "Wide").text(62, 242, "D");
        p.text(82, 42, "E").text(82, 142, "F").text(82, 242, "G");
        cases.push_back({"missing inner rule",
                         {p},
                         {},
                         true,
                         "p0 r0 c0 1x1 F 'A'\n"
                         "p0 r0 c1 1x1 F 'B'\n"
                         "p0 r0 c2 1x1 F 'C'\n"
                         "p0 r1 c0 1x2 F 'Wide'\n"
                         "p0 r1 c2 1x1 F 'D'\n"
                         "p0 r2 c0 1x1 F 'E'\n"
                         "p0 r2 c1 1x1 F 'F'\n"
                         "p0 r2 c2 1x1 F 'G'\n",
                         "r0|A|B|C|\n"
                         "r1|Wide||D|\n"
                         "r2|E|F|G|\n"});
    }
    {
        // Three pieces in one cell of a 2 x 2 table.
        PageBuilder p;
        p.table(40, 40, 2, 2, 150, 20, {{{0, 0}, "Name"}, {{0, 1}, "Parts"}, {{1, 0}, "Frame"}});
        p.text(62, 192, "Bolt").text(62, 232, "Nut").text(62, 272, "Pin");
        cases.push_back({"crowded cell",
                         {p},
                         {},
                         true,
                         "p0 r0 c0 1x1 F 'Name'\n"
                         "p0 r0 c1 1x3 F 'Parts'\n"
                         "p0 r1 c0 1x1 F 'Frame'\n"
                         "p0 r1 c1 1x1 F 'Bolt'\n"
                         "p0 r1 c2 1x1 F 'Nut'\n"
                         "p0 r1 c3 1x1 F 'Pin'\n",
                         "r0|Name|Parts|||\n"
                         "r1|Frame|Bolt|Nut|Pin|\n"});
    }
    {
        PageBuilder p;
        p.table(40, 140, 2, 2, 100, 20,
                {{{0, 0}, "A"}, {{0, 1}, "B"}, {{1, 0}, "C"}, {{1, 1}, "D"}});
        p.text(42, 40, "Left one").text(62, 40, "Left two").text(62, 360, "Right");
        cases.push_back({"pieces left and right of a frame",
                         {p},
                         {},
                         true,
                         "p0 r0 c0 1x1 'Left one'\n"
                         "p0 r0 c1 1x1 F 'A'\n"
                         "p0 r0 c2 1x1 F 'B'\n"
                         "p0 r1 c0 1x1 'Left two'\n"
                         "p0 r1 c1 1x1 F 'C'\n"
                         "p0 r1 c2 1x1 F 'D'\n"
                         "p0 r1 c3 1x1 'Right'\n",
                         "r0|Left one|A|B||\n"
                         "r1|Left two|C|D|Right|\n"});
    }
    for (const double gap : {3.5, 3.6}) {
        // Two tables one above the other, gap points apart.
        PageBuilder p;
        p.table(40, 40, 2, 2, 100, 20, {{{0, 0}, "A"}, {{1, 1}, "B"}});
        p.table(80 + gap, 40, 2, 2, 100, 20, {{{0, 0}, "C"}, {{1, 1}, "D"}});
        // Single frames closer than 3.6 points follow each other without an empty row.
        cases.push_back({gap == 3.5 ? "bands 3.5 pt apart" : "bands 3.6 pt apart",
                         {p},
                         {},
                         true,
                         gap == 3.5 ? "p0 r0 c0 1x1 F 'A'\n"
                                      "p0 r1 c1 1x1 F 'B'\n"
                                      "p0 r2 c0 1x1 F 'C'\n"
                                      "p0 r3 c1 1x1 F 'D'\n"
                                    : "p0 r0 c0 1x1 F 'A'\n"
                                      "p0 r1 c1 1x1 F 'B'\n"
                                      "p0 r3 c0 1x1 F 'C'\n"
                                      "p0 r4 c1 1x1 F 'D'\n",
                         gap == 3.5 ? "r0|A||\nr1||B|\nr2|C||\nr3||D|\n"
                                    : "r0|A||\nr1||B|\nr2|||\nr3|C||\nr4||D|\n"});
    }
    {
        std::vector<PageBuilder> pages;
        for (int k = 0; k < 3; ++k) {
            pages.push_back(invoicePage(40 + k * 800, k + 1, 3));
        }
        cases.push_back({"three pages with a frame each",
                         pages,
                         {},
                         true,
                         "p0 r0 c0 1x1 'Stock Report'\n"
                         "p0 r0 c2 1x1 'Page 1 of 3'\n"
                         "p0 r1 c0 1x1 F #C0C0C0 'Item'\n"
                         "p0 r1 c1 1x1 F #C0C0C0 'Qty'\n"
                         "p0 r1 c2 1x1 F #C0C0C0 'Price'\n"
                         "p0 r2 c0 1x1 F 'Bolt'\n"
                         "p0 r2 c1 1x1 F '12'\n"
                         "p0 r2 c2 1x1 F '0.50'\n"
                         "p0 r3 c0 1x1 F 'Nut'\n"
                         "p0 r3 c1 1x1 F '7'\n"
                         "p0 r3 c2 1x1 F '0.20'\n"
                         "p0 r4 c0 1x1 F 'Washer'\n"
                         "p0 r4 c1 1x1 F '30'\n"
                         "p0 r4 c2 1x1 F '0.05'\n"
                         "p0 r6 c2 1x1 'Total 9.00'\n"
                         "p1 r0 c0 1x1 'Stock Report'\n"
                         "p1 r0 c2 1x1 'Page 2 of 3'\n"
                         "p1 r1 c0 1x1 F #C0C0C0 'Item'\n"
                         "p1 r1 c1 1x1 F #C0C0C0 'Qty'\n"
                         "p1 r1 c2 1x1 F #C0C0C0 'Price'\n"
                         "p1 r2 c0 1x1 F 'Bolt'\n"
                         "p1 r2 c1 1x1 F '12'\n"
                         "p1 r2 c2 1x1 F '0.50'\n"
                         "p1 r3 c0 1x1 F 'Nut'\n"
                         "p1 r3 c1 1x1 F '7'\n"
                         "p1 r3 c2 1x1 F '0.20'\n"
                         "p1 r4 c0 1x1 F 'Washer'\n"
                         "p1 r4 c1 1x1 F '30'\n"
                         "p1 r4 c2 1x1 F '0.05'\n"
                         "p1 r6 c2 1x1 'Total 9.00'\n"
                         "p2 r0 c0 1x1 'Stock Report'\n"
                         "p2 r0 c2 1x1 'Page 3 of 3'\n"
                         "p2 r1 c0 1x1 F #C0C0C0 'Item'\n"
                         "p2 r1 c1 1x1 F #C0C0C0 'Qty'\n"
                         "p2 r1 c2 1x1 F #C0C0C0 'Price'\n"
                         "p2 r2 c0 1x1 F 'Bolt'\n"
                         "p2 r2 c1 1x1 F '12'\n"
                         "p2 r2 c2 1x1 F '0.50'\n"
                         "p2 r3 c0 1x1 F 'Nut'\n"
                         "p2 r3 c1 1x1 F '7'\n"
                         "p2 r3 c2 1x1 F '0.20'\n"
                         "p2 r4 c0 1x1 F 'Washer'\n"
                         "p2 r4 c1 1x1 F '30'\n"
                         "p2 r4 c2 1x1 F '0.05'\n"
                         "p2 r5 c2 1x1 'Total 9.00'\n",
                         "r0|Stock Report||Page 1 of 3|\n"
                         "r1|Item|Qty|Price|\n"
                         "r2|Bolt|12|0.50|\n"
                         "r3|Nut|7|0.20|\n"
                         "r4|Washer|30|0.05|\n"
                         "r5||||\n"
                         "r6|||Total 9.00|\n"
                         "r7|Stock Report||Page 2 of 3|\n"
                         "r8|Item|Qty|Price|\n"
                         "r9|Bolt|12|0.50|\n"
                         "r10|Nut|7|0.20|\n"
                         "r11|Washer|30|0.05|\n"
                         "r12||||\n"
                         "r13|||Total 9.00|\n"
                         "r14|Stock Report||Page 3 of 3|\n"
                         "r15|Item|Qty|Price|\n"
                         "r16|Bolt|12|0.50|\n"
                         "r17|Nut|7|0.20|\n"
                         "r18|Washer|30|0.05|\n"
                         "r19|||Total 9.00|\n"});
        // The first page keeps its title, the last its total.
        RunOptions removal;
        removal.headerFooter = true;
        cases.push_back({"three pages, headers and footers removed", pages, removal, true,
                         "p0 r0 c0 1x1 'Stock Report'\n"
                         "p0 r0 c2 1x1 'Page 1 of 3'\n"
                         "p0 r1 c0 1x1 F #C0C0C0 'Item'\n"
                         "p0 r1 c1 1x1 F #C0C0C0 'Qty'\n"
                         "p0 r1 c2 1x1 F #C0C0C0 'Price'\n"
                         "p0 r2 c0 1x1 F 'Bolt'\n"
                         "p0 r2 c1 1x1 F '12'\n"
                         "p0 r2 c2 1x1 F '0.50'\n"
                         "p0 r3 c0 1x1 F 'Nut'\n"
                         "p0 r3 c1 1x1 F '7'\n"
                         "p0 r3 c2 1x1 F '0.20'\n"
                         "p0 r4 c0 1x1 F 'Washer'\n"
                         "p0 r4 c1 1x1 F '30'\n"
                         "p0 r4 c2 1x1 F '0.05'\n"
                         "p1 r0 c0 1x1 F #C0C0C0 'Item'\n"
                         "p1 r0 c1 1x1 F #C0C0C0 'Qty'\n"
                         "p1 r0 c2 1x1 F #C0C0C0 'Price'\n"
                         "p1 r1 c0 1x1 F 'Bolt'\n"
                         "p1 r1 c1 1x1 F '12'\n"
                         "p1 r1 c2 1x1 F '0.50'\n"
                         "p1 r2 c0 1x1 F 'Nut'\n"
                         "p1 r2 c1 1x1 F '7'\n"
                         "p1 r2 c2 1x1 F '0.20'\n"
                         "p1 r3 c0 1x1 F 'Washer'\n"
                         "p1 r3 c1 1x1 F '30'\n"
                         "p1 r3 c2 1x1 F '0.05'\n"
                         "p2 r0 c0 1x1 F #C0C0C0 'Item'\n"
                         "p2 r0 c1 1x1 F #C0C0C0 'Qty'\n"
                         "p2 r0 c2 1x1 F #C0C0C0 'Price'\n"
                         "p2 r1 c0 1x1 F 'Bolt'\n"
                         "p2 r1 c1 1x1 F '12'\n"
                         "p2 r1 c2 1x1 F '0.50'\n"
                         "p2 r2 c0 1x1 F 'Nut'\n"
                         "p2 r2 c1 1x1 F '7'\n"
                         "p2 r2 c2 1x1 F '0.20'\n"
                         "p2 r3 c0 1x1 F 'Washer'\n"
                         "p2 r3 c1 1x1 F '30'\n"
                         "p2 r3 c2 1x1 F '0.05'\n"
                         "p2 r4 c2 1x1 'Total 9.00'\n",
                         "r0|Stock Report||Page 1 of 3|\n"
                         "r1|Item|Qty|Price|\n"
                         "r2|Bolt|12|0.50|\n"
                         "r3|Nut|7|0.20|\n"
                         "r4|Washer|30|0.05|\n"
                         "r5|Item|Qty|Price|\n"
                         "r6|Bolt|12|0.50|\n"
                         "r7|Nut|7|0.20|\n"
                         "r8|Washer|30|0.05|\n"
                         "r9|Item|Qty|Price|\n"
                         "r10|Bolt|12|0.50|\n"
                         "r11|Nut|7|0.20|\n"
                         "r12|Washer|30|0.05|\n"
                         "r13|||Total 9.00|\n"});
    }
    {
        // A wide table above two narrow ones side by side: the right one moves onto the wide
        // table's fourth column.
        PageBuilder p;
        p.table(40, 40, 2, 4, 100, 20,
                {{{0, 0}, "W0"}, {{0, 1}, "W1"}, {{0, 2}, "W2"}, {{0, 3}, "W3"}});
        p.table(100, 40, 2, 2, 50, 20, {{{0, 0}, "L0"}, {{1, 1}, "L1"}});
        p.table(100, 340, 2, 2, 50, 20, {{{0, 0}, "R0"}, {{1, 1}, "R1"}});
        cases.push_back({"frames side by side align to the reference columns",
                         {p},
                         {},
                         true,
                         "p0 r0 c0 1x1 F 'W0'\n"
                         "p0 r0 c1 1x1 F 'W1'\n"
                         "p0 r0 c2 1x1 F 'W2'\n"
                         "p0 r0 c3 1x1 F 'W3'\n"
                         "p0 r3 c0 1x1 F 'L0'\n"
                         "p0 r3 c3 1x1 F 'R0'\n"
                         "p0 r4 c1 1x1 F 'L1'\n"
                         "p0 r4 c4 1x1 F 'R1'\n",
                         "r0|W0|W1|W2|W3||\n"
                         "r1||||||\n"
                         "r2||||||\n"
                         "r3|L0|||R0||\n"
                         "r4||L1|||R1|\n"});
    }
    for (const bool wide : {false, true}) {
        // Under a wide table, a narrow table and, right of it, texts and a table that moves right
        // onto the wide table's seventh column: the texts keep the columns they stand under.
        PageBuilder p;
        std::map<std::pair<int, int>, std::string> top;
        for (int c = 0; c < 8; ++c) {
            top[{0, c}] = "W" + std::to_string(c);
        }
        p.table(40, 40, 2, 8, 50, 20, top);
        p.table(100, 40, 2, 2, 25, 20, {{{0, 0}, "L0"}, {{1, 1}, "L1"}});
        p.table(100, 340, 2, 2, 50, 20, {{{0, 0}, "R0"}, {{1, 1}, "R1"}});
        if (wide) {
            p.text(102, 95, "Quarterly deliveries of all northern regions, in total");
        } else {
            p.text(102, 95, "Name").text(102, 195, "Code");
        }
        const std::string head =
            "p0 r0 c0 1x1 F 'W0'\n"
            "p0 r0 c1 1x1 F 'W1'\n"
            "p0 r0 c2 1x1 F 'W2'\n"
            "p0 r0 c3 1x1 F 'W3'\n"
            "p0 r0 c4 1x1 F 'W4'\n"
            "p0 r0 c5 1x1 F 'W5'\n"
            "p0 r0 c6 1x1 F 'W6'\n"
            "p0 r0 c7 1x1 F 'W7'\n"
            "p0 r3 c0 1x1 F 'L0'\n";
        cases.push_back(
            {wide ? "a moved frame's left text widens to the reference lines it reaches"
                  : "a moved frame's left texts keep their reference columns",
             {p},
             {},
             true,
             wide ? head + "p0 r3 c2 1x3 'Quarterly deliveries of all northern regions, in total'\n"
                           "p0 r3 c6 1x1 F 'R0'\n"
                           "p0 r4 c1 1x1 F 'L1'\n"
                           "p0 r4 c7 1x1 F 'R1'\n"
                  : head + "p0 r3 c2 1x1 'Name'\n"
                           "p0 r3 c3 1x1 'Code'\n"
                           "p0 r3 c6 1x1 F 'R0'\n"
                           "p0 r4 c1 1x1 F 'L1'\n"
                           "p0 r4 c7 1x1 F 'R1'\n",
             wide ? "r0|W0|W1|W2|W3|W4|W5|W6|W7|\n"
                    "r1|||||||||\n"
                    "r2|||||||||\n"
                    "r3|L0||Quarterly deliveries of all northern regions, in total||||R0||\n"
                    "r4||L1||||||R1|\n"
                  : "r0|W0|W1|W2|W3|W4|W5|W6|W7|\n"
                    "r1|||||||||\n"
                    "r2|||||||||\n"
                    "r3|L0||Name|Code|||R0||\n"
                    "r4||L1||||||R1|\n"});
    }
    {
        // An image above a table reaches down past the table's row; it ends above the table, off
        // the cell it stands over.
        PageBuilder p;
        p.table(60, 40, 1, 4, 80, 20, {{{0, 0}, "A"}, {{0, 1}, "B"}, {{0, 2}, "C"}, {{0, 3}, "D"}});
        p.text(10, 40, "Title").image(0, 282, 67, 133, "logo.png").text(85, 40, "Notes");
        cases.push_back({"a tall image above a table ends above it",
                         {p},
                         {},
                         true,
                         "p0 r0 c3 2x1 'logo.png'\n"
                         "p0 r1 c0 1x1 'Title'\n"
                         "p0 r2 c0 1x1 F 'A'\n"
                         "p0 r2 c1 1x1 F 'B'\n"
                         "p0 r2 c2 1x1 F 'C'\n"
                         "p0 r2 c3 1x1 F 'D'\n"
                         "p0 r3 c0 1x1 'Notes'\n",
                         "r0|||||\n"
                         "r1|Title||||\n"
                         "r2|A|B|C|D|\n"
                         "r3|Notes||||\n"});
    }
    {
        // Found by the random pages: left of a table that moves right, an image two rows high
        // widens onto the reference columns only as far as the text beside its second row.
        PageBuilder first;
        first.box(30, 33, 142, 60).box(75, 104, 71, 15).box(53, 246, 75, 92);
        first.text(83, 212, "X7x").text(65, 232, "X8x").text(55, 248, "T9x");
        first.text(78, 248, "T10x w42 w36 w88 w53 w94").text(101, 248, "T11x w15 w3");
        first.text(124, 248, "T12x").image(19, 192, 30, 148, "i14.png");
        PageBuilder second;
        second.box(942, 65, 74, 21).box(942, 139, 74, 21).box(942, 213, 74, 21);
        second.text(944, 67, "T14x").text(945, 91, "T15x").text(953, 115, "T16x");
        second.text(944, 141, "T17x").text(945, 165, "T18x w69 w31 w11 w22");
        second.text(946, 189, "T19x w21 w90 w90 w97 w96");
        cases.push_back({"a widened left image stays off the text beside it",
                         {first, second},
                         {},
                         true,
                         "p0 r0 c0 1x2 F\n"
                         "p0 r0 c3 2x2 'i14.png'\n"
                         "p0 r0 c6 1x1 F 'T9x'\n"
                         "p0 r1 c5 1x1 'X8x'\n"
                         "p0 r1 c6 1x1 F 'T10x w42 w36 w88 w53 w94'\n"
                         "p0 r2 c4 1x1 'X7x'\n"
                         "p0 r2 c6 1x1 F 'T11x w15 w3'\n"
                         "p0 r3 c6 1x1 F 'T12x'\n"
                         "p1 r1 c1 1x1 F 'T14x'\n"
                         "p1 r1 c2 1x1 F 'T15x'\n"
                         "p1 r1 c3 1x1 F\n"
                         "p1 r1 c4 1x1 F 'T17x'\n"
                         "p1 r1 c5 1x1 F 'T18x w69 w31 w11 w22'\n"
                         "p1 r1 c6 1x1 F 'T19x w21 w90 w90 w97 w96'\n"
                         "p1 r1 c7 2x1 F\n"
                         "p1 r2 c1 1x1 F\n"
                         "p1 r2 c2 1x1 F\n"
                         "p1 r2 c3 1x1 F 'T16x'\n"
                         "p1 r2 c4 1x1 F\n"
                         "p1 r2 c5 1x1 F\n"
                         "p1 r2 c6 1x1 F\n",
                         "r0|||||||T9x||\n"
                         "r1||||||X8x|T10x w42 w36 w88 w53 w94||\n"
                         "r2|||||X7x||T11x w15 w3||\n"
                         "r3|||||||T12x||\n"
                         "r4|||||||||\n"
                         "r5||T14x|T15x||T17x|T18x w69 w31 w11 w22|T19x w21 w90 w90 w97 w96||\n"
                         "r6||||T16x|||||\n"});
    }
    {
        // Images drawn where a text starts, above a table and in one of its cells: each keeps
        // a cell of its own right of the text.
        PageBuilder p;
        p.image(10, 40, 80, 20, "logo.gif").text(10, 40, "Stock Report");
        p.image(62, 142, 20, 15, "tick.gif");
        p.table(40, 40, 3, 3, 100, 20,
                {{{0, 0}, "Item"},
                 {{0, 1}, "Qty"},
                 {{0, 2}, "Price"},
                 {{1, 0}, "Bolt"},
                 {{1, 1}, "12"},
                 {{1, 2}, "0.50"},
                 {{2, 0}, "Nut"},
                 {{2, 1}, "7"},
                 {{2, 2}, "0.20"}});
        cases.push_back({"images where texts start",
                         {p},
                         {},
                         true,
                         "p0 r0 c0 1x1 'Stock Report'\n"
                         "p0 r0 c1 1x1 'logo.gif'\n"
                         "p0 r1 c0 1x1 F 'Item'\n"
                         "p0 r1 c1 1x2 F 'Qty'\n"
                         "p0 r1 c3 1x1 F 'Price'\n"
                         "p0 r2 c0 1x1 F 'Bolt'\n"
                         "p0 r2 c1 1x1 F '12'\n"
                         "p0 r2 c2 1x1 F 'tick.gif'\n"
                         "p0 r2 c3 1x1 F '0.50'\n"
                         "p0 r3 c0 1x1 F 'Nut'\n"
                         "p0 r3 c1 1x2 F '7'\n"
                         "p0 r3 c3 1x1 F '0.20'\n",
                         "r0|Stock Report||||\n"
                         "r1|Item|Qty||Price|\n"
                         "r2|Bolt|12||0.50|\n"
                         "r3|Nut|7||0.20|\n"});
    }
    {
        // One outline per page around everything: no table.
        std::vector<PageBuilder> pages;
        for (int k = 0; k < 2; ++k) {
            PageBuilder p;
            p.box(40 + k * 800, 40, 300, 100)
                .text(50 + k * 800, 50, "Only")
                .text(70 + k * 800, 50, "Text");
            pages.push_back(p);
        }
        cases.push_back({"single-cell frames",
                         pages,
                         {},
                         false,
                         "p0 r0 c0 1x1 'Only'\n"
                         "p0 r1 c0 1x1 'Text'\n"
                         "p1 r0 c0 1x1 'Only'\n"
                         "p1 r1 c0 1x1 'Text'\n",
                         "r0|Only|\n"
                         "r1|Text|\n"
                         "r2|Only|\n"
                         "r3|Text|\n"});
    }
    {
        // Four frames around a hole cannot be cut into bands and slices.
        PageBuilder p;
        p.table(40, 40, 2, 2, 50, 20, {{{0, 0}, "NW"}});
        p.table(40, 142, 2, 2, 50, 40, {{{0, 0}, "NE"}});
        p.table(122, 92, 2, 2, 50, 20, {{{0, 0}, "SE"}});
        p.table(82, 40, 2, 2, 25, 40, {{{0, 0}, "SW"}});
        cases.push_back({"pinwheel",
                         {p},
                         {},
                         false,
                         "p0 r0 c0 1x1 'NW'\n"
                         "p0 r0 c2 1x1 'NE'\n"
                         "p0 r1 c0 1x1 'SW'\n"
                         "p0 r2 c1 1x1 'SE'\n",
                         "r0|NW||NE|\n"
                         "r1|SW|||\n"
                         "r2||SE||\n"});
    }
    {
        // Twelve pieces in a table of two cells: more than five a cell.
        PageBuilder p;
        p.table(40, 40, 1, 2, 150, 200, {});
        for (int k = 0; k < 12; ++k) {
            p.text(42 + k * 12, 42 + (k % 2) * 150, std::string("Line ") + char('A' + k));
        }
        cases.push_back({"over-dense frame",
                         {p},
                         {},
                         false,
                         "p0 r0 c0 1x1 'Line A'\n"
                         "p0 r1 c1 1x1 'Line B'\n"
                         "p0 r2 c0 1x1 'Line C'\n"
                         "p0 r3 c1 1x1 'Line D'\n"
                         "p0 r4 c0 1x1 'Line E'\n"
                         "p0 r5 c1 1x1 'Line F'\n"
                         "p0 r6 c0 1x1 'Line G'\n"
                         "p0 r7 c1 1x1 'Line H'\n"
                         "p0 r8 c0 1x1 'Line I'\n"
                         "p0 r9 c1 1x1 'Line J'\n"
                         "p0 r10 c0 1x1 'Line K'\n"
                         "p0 r11 c1 1x1 'Line L'\n",
                         "r0|Line A||\n"
                         "r1||Line B|\n"
                         "r2|Line C||\n"
                         "r3||Line D|\n"
                         "r4|Line E||\n"
                         "r5||Line F|\n"
                         "r6|Line G||\n"
                         "r7||Line H|\n"
                         "r8|Line I||\n"
                         "r9||Line J|\n"
                         "r10|Line K||\n"
                         "r11||Line L|\n"});
    }
    return cases;
}

TEST(FrameRoad, FramedPagesThroughTheEntry) {
    for (const RoadCase& c : roadCases()) {
        RunOptions o = c.options;
        o.kind = kOutputRecords;
        const RunResult r = runPages(c.pages, o);
        EXPECT_EQ(r.step, c.framed ? "UseEngine102_start#7" : "af_OutputToExcel_Excel2000")
            << c.name;
        EXPECT_EQ(dumpFrameRecords(r.records), c.records) << c.name;
        RunOptions t = c.options;
        t.kind = kOutputDelimited;
        EXPECT_EQ(dumpText(runPages(c.pages, t).text), c.text) << c.name;
        EXPECT_EQ(overlappingCells(r.records), "") << c.name;
        if (!c.options.headerFooter) {
            expectEveryTextOnce(c.pages, c.options);
        }
    }
}

// The frame road needs more than 0.3 of the pieces inside frames.
// Rows outside the frames repeat from page to page when only their digits differ; a list whose
// key counts down the pages below the frame is no footer, while the report's title and page
// number above it still go.
TEST(FrameRoad, AListOutsideTheFramesKeepsEveryRow) {
    std::vector<PageBuilder> pages;
    for (int k = 0; k < 3; ++k) {
        PageBuilder page = invoicePage(40 + k * 800, k + 1, 3);
        for (int r = 1; r <= 4; ++r) {
            char key[8];
            std::snprintf(key, sizeof key, "N%04d", 4 * k + r);
            page.text(40 + k * 800 + 130 + 15 * r, 40, key)
                .text(40 + k * 800 + 130 + 15 * r, 140, "noted");
        }
        pages.push_back(page);
    }
    RunOptions o;
    o.headerFooter = true;
    const std::string text = dumpText(runPages(pages, o).text);
    for (int n = 1; n <= 12; ++n) {
        char key[8];
        std::snprintf(key, sizeof key, "N%04d", n);
        EXPECT_NE(text.find(std::string("|") + key + "|"), std::string::npos) << key << "\n"
                                                                              << text;
    }
    EXPECT_NE(text.find("Page 1 of 3"), std::string::npos) << text;
    EXPECT_EQ(text.find("Page 2 of 3"), std::string::npos) << text;
}

TEST(FrameRoad, TheShareOfPiecesInsideFramesDecides) {
    struct Case {
        int inside;
        int loose;
        bool framed;
    } cases[] = {{3, 7, false}, {31, 69, true}};
    for (const Case& c : cases) {
        PageBuilder p;
        std::map<std::pair<int, int>, std::string> cells;
        for (int k = 0; k < c.inside; ++k) {
            cells[{k, 0}] = "In " + std::to_string(k);
        }
        p.table(40, 40, c.inside, 1, 100, 20, cells);
        for (int k = 0; k < c.loose; ++k) {
            p.text(60 + 20 * c.inside + 20 * k, 40, "Out " + std::to_string(k));
        }
        RunOptions o;
        o.kind = kOutputRecords;
        EXPECT_EQ(runPages({p}, o).step,
                  c.framed ? "UseEngine102_start#7" : "af_OutputToExcel_Excel2000")
            << c.inside << " of " << c.inside + c.loose;
    }
}

// Random ruled pages: whatever their shape, no text is lost or doubled.
TEST(FrameRoad, RandomRuledPagesKeepEveryText) {
    std::uint32_t seed = 12345;
    const auto next = [&](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<std::uint32_t>(range));
    };
    int framed = 0;
    for (int round = 0; round < 200; ++round) {
        PageBuilder p;
        int top = 30;
        int serial = 0;
        for (int t = 0, tables = 1 + next(3); t < tables; ++t) {
            const int rows = 1 + next(4);
            const int columns = 1 + next(4);
            const int left = 20 + next(60);
            std::map<std::pair<int, int>, std::string> cells;
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < columns; ++c) {
                    if (next(3) != 0) {
                        cells[{r, c}] = "T" + std::to_string(serial++) + "x";
                    }
                }
            }
            p.table(top, left, rows, columns, 60 + next(40), 14 + next(10), cells);
            for (int k = 0, extra = next(3); k < extra; ++k) {
                p.text(top + next(rows * 14), left + next(columns * 60),
                       "X" + std::to_string(serial++) + "x");
            }
            top += rows * 24 + 10 + next(30);
            if (next(2) == 0) {
                p.text(top - 8, 20 + next(300), "G" + std::to_string(serial++) + "x");
            }
        }
        SCOPED_TRACE("round " + std::to_string(round) + "\n" + p.html());
        expectEveryTextOnce({p});
        RunOptions o;
        o.kind = kOutputRecordsSml;
        framed += runPages({p}, o).step == "UseEngine102_start#7" ? 1 : 0;
    }
    EXPECT_GT(framed, 100);
}

// The cells that more than one record covers, as "p0 r1 c2" lines; empty when none does.
std::string overlappingCells(const std::vector<tagOutputCellInfo>& records) {
    std::map<std::tuple<int, int, int>, int> covered;
    for (const tagOutputCellInfo& r : records) {
        for (int dr = 0; dr < std::max(r.rowSpan, 1); ++dr) {
            for (int dc = 0; dc < std::max(r.columnSpan, 1); ++dc) {
                ++covered[{r.page, r.row + dr, r.column + dc}];
            }
        }
    }
    std::string out;
    for (const auto& [at, count] : covered) {
        if (count > 1) {
            out += "p" + std::to_string(std::get<0>(at)) + " r" + std::to_string(std::get<1>(at)) +
                   " c" + std::to_string(std::get<2>(at)) + "\n";
        }
    }
    return out;
}

// A random page of ruled tables, some side by side, some with cells merged, with texts inside
// (several to a cell at times, some long or on two lines), beside, above, below and between them,
// and now and then a tall image, at times on a text; a title and a footer line stand above and
// below.
PageBuilder randomRuledPage(const std::function<int(int)>& next, int pageTop, int page) {
    PageBuilder p;
    p.text(pageTop + 10, 40, "Random tables")
        .text(pageTop + 760, 40, "Page " + std::to_string(page));
    int top = pageTop + 30;
    int serial = 0;
    const auto label = [&](char kind) {
        std::string text = kind + std::to_string(serial++) + "x";
        for (int words = next(4) == 0 ? 1 + next(5) : 0; words > 0; --words) {
            text += " w" + std::to_string(next(100));
        }
        return text;
    };
    for (int band = 0, bands = 1 + next(3); band < bands; ++band) {
        int left = 20 + next(60);
        int bandHeight = 0;
        for (int t = 0, tables = 1 + (next(3) == 0 ? 1 : 0); t < tables; ++t) {
            const int rows = 1 + next(4);
            const int columns = 1 + next(4);
            const int width = 40 + next(50);
            const int height = 14 + next(10);
            const int tableTop = top + (t > 0 ? next(2) * height : 0);
            p.box(tableTop, left, columns * width, rows * height);
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < columns; ++c) {
                    // Now and then a cell and the one right of it share one box.
                    if (c + 1 < columns && next(6) == 0) {
                        p.box(tableTop + r * height, left + c * width, 2 * width, height);
                        ++c;
                    } else {
                        p.box(tableTop + r * height, left + c * width, width, height);
                    }
                }
            }
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < columns; ++c) {
                    for (int k = 0, texts = next(5) == 0   ? 2 + next(2)
                                            : next(3) != 0 ? 1
                                                           : 0;
                         k < texts; ++k) {
                        p.text(tableTop + r * height + 2 + (k > 0 ? next(height / 2) : 0),
                               left + c * width + 2 + k * (width / 3), label('T'));
                    }
                }
            }
            for (int k = 0, extra = next(4); k < extra; ++k) {
                const int side = next(4);
                const int y = side == 0   ? std::max(pageTop + 2, tableTop - 14 - next(20))
                              : side == 1 ? tableTop + rows * height + 2 + next(20)
                                          : tableTop + next(rows * height);
                const int x = side == 2   ? std::max(2, left - 30 - next(60))
                              : side == 3 ? left + columns * width + 4 + next(60)
                                          : left + next(columns * width);
                p.text(y, x, label('X'));
                if (next(4) == 0) {
                    p.text(y + 11, x, label('Y'));  // a second line of the same text
                }
            }
            bandHeight = std::max(bandHeight, tableTop - top + rows * height);
            left += columns * width + 20 + next(80);
        }
        if (next(4) == 0) {
            // An image that may reach down over the band or beside it; at times it starts where
            // a text starts, now and then with a second image on it.
            double y = std::max(pageTop + 2, top - next(40));
            int x = 20 + next(400);
            int images = 1;
            if (next(2) == 0) {
                const auto& starts = p.textStarts();
                std::tie(y, x) =
                    starts[static_cast<std::size_t>(next(static_cast<int>(starts.size())))];
                images += next(3) == 0 ? 1 : 0;
            }
            for (int k = 0; k < images; ++k) {
                const int width = 20 + next(60);
                const int height = 40 + next(120);
                p.image(y, x, width, height, "i" + std::to_string(serial++) + ".png");
            }
        }
        top += bandHeight + 10 + next(40);
        if (next(2) == 0) {
            p.text(top - 8, 20 + next(300), label('G'));
        }
    }
    return p;
}

// Random batches of one to three ruled pages, with a title and a footer on every page: no two
// records cover one cell, in either record kind, with or without header and footer removal, and
// without removal every text and every image comes out once.
TEST(FrameRoad, RandomRuledPagesGiveRecordsThatDoNotOverlap) {
    std::uint32_t seed = 2024;
    const std::function<int(int)> next = [&](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<std::uint32_t>(range));
    };
    int pages = 0;
    int framed = 0;
    int failed = 0;
    for (int round = 0; round < 1000; ++round) {
        std::vector<PageBuilder> batch;
        for (int k = 0, count = 1 + next(3); k < count; ++k) {
            batch.push_back(randomRuledPage(next, 800 * k, k + 1));
        }
        pages += static_cast<int>(batch.size());
        RunOptions o;
        o.headerFooter = next(2) == 0;
        if (!o.headerFooter) {
            expectEveryTextOnce(batch);
        }
        for (const std::int32_t kind : {kOutputRecords, kOutputRecordsSml}) {
            o.kind = kind;
            const RunResult r = runPages(batch, o);
            framed += kind == kOutputRecords && r.step == "UseEngine102_start#7" ? 1 : 0;
            const std::string overlaps = overlappingCells(r.records);
            if (!overlaps.empty() && ++failed <= 5) {
                std::string html;
                for (const PageBuilder& p : batch) {
                    html += p.html();
                }
                ADD_FAILURE() << "round " << round << " kind " << kind << " removal "
                              << o.headerFooter << "\n"
                              << overlaps << dumpFrameRecords(r.records) << html;
            }
        }
    }
    EXPECT_EQ(failed, 0);
    EXPECT_GT(pages, 1800);
    EXPECT_GT(framed, 500);
}

// Once a batch takes the grid road, the rest of the conversion stays on it.
TEST(FrameRoad, AGridRoadBatchTurnsTheFrameEngineOff) {
    PageBuilder plain;
    plain.text(40, 40, "No").text(40, 140, "Table");
    const PageBuilder framed = invoicePage(40, 1, 1);
    const auto batchOf = [](const PageBuilder& page) { return testing::makeBatch({page.html()}); };
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtmlCss, kHead.data(), static_cast<std::int64_t>(kHead.size()),
                false);
    RunOptions o;
    o.kind = kOutputRecords;
    EXPECT_EQ(testing::run(engine, batchOf(framed), o).step, "UseEngine102_start#7");
    EXPECT_EQ(testing::run(engine, batchOf(plain), o).step, "af_OutputToExcel_Excel2000");
    EXPECT_EQ(testing::run(engine, batchOf(framed), o).step, "af_OutputToExcel_Excel2000");
    engine.Init(nullptr, kFormatHtmlCss, kHead.data(), static_cast<std::int64_t>(kHead.size()),
                false);
    EXPECT_EQ(testing::run(engine, batchOf(framed), o).step, "UseEngine102_start#7");
}

}  // namespace
}  // namespace paginor
