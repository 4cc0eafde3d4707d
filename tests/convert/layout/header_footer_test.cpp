#include <gtest/gtest.h>

#include <cstdio>

#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::batchFromFixture;
using testing::dumpText;
using testing::makeBatch;
using testing::runHtml;
using testing::RunOptions;

const char* const kMark = "<!--9876543210_PageMark_Head-->";

std::string page(const std::vector<std::string>& texts) {
    std::string html = std::string(kMark) + "<table>";
    for (const auto& t : texts) {
        html += "<tr><td width=\"100\">" + t + "</td></tr>";
    }
    return html + "</table>";
}

TEST(HeaderFooter, RemovesExactlyTheRepeatedRows) {
    RunOptions o;
    o.headerFooter = true;
    // First and last report pages are the batch's reference pages: the first keeps its header,
    // the last its footer.
    EXPECT_EQ(dumpText(runHtml(batchFromFixture("sales_report.htm"), o).text),
              "r0|Sales Report||Page 1 of 3|\nr1|Region|Product|Amount|\nr2|North|Bolt|12|\n"
              "r3|North|Nut & Washer|7|\nr4||||\nr5|South|Bolt M8|15|\nr6|||-3|\n"
              "r7|South|Total|12|\nr8||||\nr9|West|Screw pack|1,200|\n"
              "r10|Printed by Paginor|||\n");
}

TEST(HeaderFooter, Cases) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> pages;
        std::int32_t firstPageIndex;
        std::string expected;
    };
    const Case cases[] = {
        {"one page keeps all", {{"Head", "Bolt", "Foot"}}, 0, "r0|Head|\nr1|Bolt|\nr2|Foot|\n"},
        {"a prefix is not equal",
         {{"Total", "Bolt"}, {"Total 5,000", "Nut"}},
         4,
         "r0|Total|\nr1|Bolt|\nr2|Total 5,000|\nr3|Nut|\n"},
        {"different numbers are data",
         {{"12", "x"}, {"15", "y"}},
         4,
         "r0|12|\nr1|x|\nr2|15|\nr3|y|\n"},
        {"page numbers are removed from every page from page five",
         {{"Page 5", "a", "End"}, {"Page 6", "b", "End"}},
         4,
         "r0|a|\nr1|b|\n"},
        {"a page keeps its last content row", {{"a", "b"}, {"a", "b"}}, 4, "r0|b|\nr1|b|\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> pages;
        for (const auto& p : c.pages) {
            pages.push_back(page(p));
        }
        RunOptions o;
        o.headerFooter = true;
        o.firstPageIndex = c.firstPageIndex;
        o.lastBatch = false;
        std::string text = dumpText(runHtml(makeBatch(pages), o).text);
        EXPECT_EQ(text, c.expected) << c.name;
    }
}

TEST(HeaderFooter, AWrittenNumberIsOneRunHoweverLong) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> pages;
        bool lastBatch;
        std::string expected;
    };
    const Case cases[] = {
        {"page totals of every magnitude: the last page keeps its footer",
         {{"a", "Page total: 26,584,211.30"},
          {"b", "Page total: 584,211.30"},
          {"c", "Page total: (1,211.30)"},
          {"d", "Page total: -7.30"}},
         true,
         "r0|a|\nr1|b|\nr2|c|\nr3|d|\nr4|Page total: -7.30|\n"},
        {"carried totals in the header",
         {{"Brought forward 1.000,00", "a"}, {"Brought forward 12.500,00", "b"}},
         false,
         "r0|a|\nr1|b|\n"},
        {"the words around the number still count",
         {{"a", "Total 1,200 EUR"}, {"b", "Total 31,200 USD"}},
         false,
         "r0|a|\nr1|Total 1,200 EUR|\nr2|b|\nr3|Total 31,200 USD|\n"},
        {"an unclosed parenthesis is text",
         {{"a", "Net (1,200"}, {"b", "Net 31,200"}},
         false,
         "r0|a|\nr1|Net (1,200|\nr2|b|\nr3|Net 31,200|\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> pages;
        for (const auto& p : c.pages) {
            pages.push_back(page(p));
        }
        RunOptions o;
        o.headerFooter = true;
        o.firstPageIndex = 4;
        o.lastBatch = c.lastBatch;
        EXPECT_EQ(dumpText(runHtml(makeBatch(pages), o).text), c.expected) << c.name;
    }
}

using Row = std::vector<std::string>;

std::string numbered(const char* format, int n) {
    char text[32];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

// Pages of rows of cells, as an HTML table of 100-point columns or as HTMLCSS pieces 100 points
// apart on pages 800 points apart.
std::string htmlPage(const std::vector<Row>& rows) {
    std::string html = std::string(kMark) + "<table>";
    for (const Row& row : rows) {
        html += "<tr>";
        for (const std::string& text : row) {
            html += "<td width=\"100\">" + text + "</td>";
        }
        html += "</tr>";
    }
    return html + "</table>";
}

std::string htmlCssPage(const std::vector<Row>& rows, int page) {
    std::string html = "<!--PAGE-->";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            html += "<div id=\"d1\" style=\"top:" + std::to_string(page * 800 + 30 + 15 * r) +
                    "pt;left:" + std::to_string(36 + 100 * c) + "pt\">" + rows[r][c] + "</div>";
        }
    }
    return html;
}

std::string dumpRows(const std::vector<Row>& rows) {
    std::string text;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        text += "r" + std::to_string(r) + "|";
        for (const std::string& cell : rows[r]) {
            text += cell + "|";
        }
        text += "\n";
    }
    return text;
}

// The pages in either format, as delimited text after the removal.
std::string removed(const std::vector<std::vector<Row>>& pages, bool htmlCss,
                    std::int32_t firstPageIndex, bool lastBatch) {
    RunOptions o;
    o.headerFooter = true;
    o.firstPageIndex = firstPageIndex;
    o.lastBatch = lastBatch;
    std::vector<std::string> texts;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        texts.push_back(htmlCss ? htmlCssPage(pages[p], static_cast<int>(p)) : htmlPage(pages[p]));
    }
    if (!htmlCss) {
        return dumpText(runHtml(makeBatch(texts), o).text);
    }
    const std::string head =
        "<style type=\"text/css\">div{position:absolute;}</style>"
        "<style>#d1 {font:9pt \"Arial\"; color:#000000}</style>";
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtmlCss, head.data(), static_cast<std::int64_t>(head.size()),
                false);
    return dumpText(testing::run(engine, makeBatch(texts), o).text);
}

// A list whose key counts down the pages differs from page to page only in its digits, as page
// numbers do; none of its rows is a header or a footer, whichever page the batch starts at.
TEST(HeaderFooter, ListsCountingDownThePagesKeepEveryRow) {
    struct Case {
        const char* name;
        Row (*row)(int n);
    };
    const Case cases[] = {
        {"a key column",
         [](int n) {
             return Row{numbered("S%05d", n), "v"};
         }},
        {"a key column alone", [](int n) { return Row{numbered("S%05d", n)}; }},
        {"two varying columns",
         [](int n) {
             return Row{numbered("K%05d", n), numbered("link %d", n)};
         }},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<Row>> pages(3);
        std::vector<Row> all;
        for (int n = 1; n <= 15; ++n) {
            pages[static_cast<std::size_t>((n - 1) / 5)].push_back(c.row(n));
            all.push_back(c.row(n));
        }
        for (const bool htmlCss : {false, true}) {
            for (const std::int32_t first : {0, 4}) {
                SCOPED_TRACE(std::string(c.name) + (htmlCss ? ", HTMLCSS" : ", HTML") +
                             ", batch from page " + std::to_string(first + 1));
                EXPECT_EQ(removed(pages, htmlCss, first, first == 0), dumpRows(all));
            }
        }
    }
}

// Page numbers and print times in the headers and footers of such a list still go: the report's
// first page keeps its header, its last page its footer.
TEST(HeaderFooter, PageNumbersAndPrintTimesAroundAListAreRemoved) {
    const auto header = [](int page) {
        return std::vector<Row>{{"Order list", "Page " + std::to_string(page) + " of 3"},
                                {"Printed 17-MAY-2024 09:4" + std::to_string(page), "Paginor"}};
    };
    for (const bool atTop : {true, false}) {
        std::vector<std::vector<Row>> pages;
        std::vector<Row> kept;
        for (int p = 1; p <= 3; ++p) {
            std::vector<Row> list;
            for (int r = 1; r <= 5; ++r) {
                list.push_back({numbered("S%05d", 5 * (p - 1) + r), "v"});
            }
            const std::vector<Row> head = header(p);
            std::vector<Row> rows = atTop ? head : list;
            const std::vector<Row>& rest = atTop ? list : head;
            rows.insert(rows.end(), rest.begin(), rest.end());
            pages.push_back(rows);
            const bool keeps = atTop ? p == 1 : p == 3;
            for (const Row& row : rows) {
                const bool repeated = row.size() == 2 && row[1] != "v";
                if (!repeated || keeps) {
                    kept.push_back(row);
                }
            }
        }
        for (const bool htmlCss : {false, true}) {
            SCOPED_TRACE(std::string(atTop ? "headers" : "footers") +
                         (htmlCss ? ", HTMLCSS" : ", HTML"));
            EXPECT_EQ(removed(pages, htmlCss, 0, true), dumpRows(kept));
        }
    }
}

// HTMLCSS pages of one text piece per row: its top in points and its text, in document order.
std::string cssPage(const std::vector<std::pair<std::int32_t, std::string>>& pieces) {
    std::string html = "<!--PAGE-->";
    for (const auto& [top, text] : pieces) {
        html += "<div id=\"d1\" style=\"top:" + std::to_string(top) + "pt;left:36pt\">" + text +
                "</div>";
    }
    return html;
}

// HTMLCSS rows repeat only at the same height below their page's top, the top of the page's
// first text in the document.
TEST(HeaderFooter, HtmlCssRowsRepeatAtTheSameHeightOnTheirPages) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::int32_t, std::string>> second;
        std::string expected;
    };
    const Case cases[] = {
        {"same heights",
         {{830, "Title"}, {860, "b"}, {1100, "Page 2"}},
         "r0|Title|\nr1|a|\nr2|b|\nr3|Page 2|\n"},
        {"the page's top lies lower",
         {{860, "b"}, {830, "Title"}, {1100, "Page 2"}},
         "r0|Title|\nr1|a|\nr2|Page 1|\nr3|Title|\nr4|b|\nr5|Page 2|\n"},
    };
    const std::string head =
        "<style type=\"text/css\">div{position:absolute;}</style>"
        "<style>#d1 {font:9pt \"Arial\"; color:#000000}</style>";
    for (const Case& c : cases) {
        CConvertEngine engine;
        engine.Init(nullptr, kFormatHtmlCss, head.data(), static_cast<std::int64_t>(head.size()),
                    false);
        RunOptions o;
        o.headerFooter = true;
        const auto r = testing::run(
            engine,
            makeBatch({cssPage({{30, "Title"}, {60, "a"}, {300, "Page 1"}}), cssPage(c.second)}),
            o);
        EXPECT_EQ(dumpText(r.text), c.expected) << c.name;
    }
}

// A right-aligned page number moves left as it gains a digit; it still repeats as long as one of
// its edges or its centre stays in place.
TEST(HeaderFooter, HtmlCssCellsRepeatAtTheirAlignedEdge) {
    struct Case {
        const char* name;
        int secondLeft;  // of the second page's page number box
        std::string expected;
    };
    const Case cases[] = {
        {"right edges in place", 36, "r0|a||\nr1|b||\n"},
        {"no edge in place", 90,
         "r0|Stock list|Page 9||\nr1|a|||\nr2|Stock list||Page 10|\nr3|b|||\n"},
    };
    const std::string head =
        "<style type=\"text/css\">div{position:absolute;}</style>"
        "<style>#d1 {font:9pt \"Arial\"; color:#000000}</style>";
    const auto page = [](int top, int numberLeft, const std::string& number,
                         const std::string& text) {
        const auto at = [&](int y) { return "top:" + std::to_string(top + y) + "pt;"; };
        return "<!--PAGE--><div id=\"d1\" style=\"" + at(0) + "left:36pt\">Stock list</div>" +
               "<span class=\"d1\" style=\"" + at(0) + "left:" + std::to_string(numberLeft) +
               "pt;width:300pt;text-align:right\">" + number + "</span><div id=\"d1\" style=\"" +
               at(30) + "left:36pt\">" + text + "</div>";
    };
    for (const Case& c : cases) {
        CConvertEngine engine;
        engine.Init(nullptr, kFormatHtmlCss, head.data(), static_cast<std::int64_t>(head.size()),
                    false);
        RunOptions o;
        o.headerFooter = true;
        o.firstPageIndex = 8;
        o.lastBatch = false;
        const auto r = testing::run(
            engine,
            makeBatch({page(0, 36, "Page 9", "a"), page(800, c.secondLeft, "Page 10", "b")}), o);
        EXPECT_EQ(dumpText(r.text), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace paginor
