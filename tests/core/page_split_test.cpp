#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/report_core.h"
#include "report_fixtures.h"
#include "temp_dir.h"
#include "tests/support/report_generator.h"

namespace paginor {
namespace {

using Pages = std::vector<tagPageInfo>;

struct LoadResult {
    std::int32_t code = 0;
    std::string message;
};

LoadResult load(CReportCore& core, const std::string& path) {
    try {
        return {core.Init(path, nullptr, false, nullptr, nullptr, nullptr), {}};
    } catch (const ReportError& error) {
        return {error.code(), core.GetErrorText()};
    }
}

// "start+length" per page, so that a failure shows the whole table.
std::string dump(const Pages& pages) {
    std::string text;
    for (const tagPageInfo& page : pages) {
        text += std::to_string(page.start) + "+" + std::to_string(page.length) + " ";
    }
    return text;
}

std::string dumpGenerated(const std::vector<GeneratedPage>& pages) {
    Pages table;
    for (const GeneratedPage& page : pages) {
        table.push_back({page.start, page.length});
    }
    return dump(table);
}

std::int64_t offsetOf(const std::string& text, const std::string& part, std::size_t from = 0) {
    const std::size_t at = text.find(part, from);
    EXPECT_NE(at, std::string::npos) << part;
    return static_cast<std::int64_t>(at);
}

// ---- HTML: a page at each outermost "<table ".

const std::string kHtmlPrologue = fixtures::htmlPrologue();
const std::string kHtmlEpilogue = "</body>\r\n</html>\r\n";

std::string table(const std::string& cell) {
    return "<table border=0 width=612><tr><td>" + cell + "</td></tr></table>\r\n";
}

// A table page padded with blanks to exactly size bytes.
std::string paddedTable(const std::string& cell, std::size_t size) {
    std::string page = table(cell);
    EXPECT_LE(page.size(), size);
    page.insert(page.size() - 2, size - page.size(), ' ');
    return page;
}

// The pages of text split at the given "<table " offsets, each running to the next.
Pages tablePages(const std::string& text, const std::vector<std::int64_t>& starts) {
    Pages pages;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::int64_t end =
            i + 1 < starts.size() ? starts[i + 1] : static_cast<std::int64_t>(text.size());
        pages.push_back({starts[i], end - starts[i]});
    }
    return pages;
}

std::vector<std::int64_t> tableStarts(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    std::vector<std::int64_t> starts;
    for (std::size_t at = lower.find("<table "); at != std::string::npos;
         at = lower.find("<table ", at + 1)) {
        starts.push_back(static_cast<std::int64_t>(at));
    }
    return starts;
}

TEST(HtmlSplit, EveryTopLevelTableStartsAPage) {
    TempDir dir;
    const std::string text = kHtmlPrologue + table("one") + "<p>between</p>\r\n" + table("two") +
                             table("three") + kHtmlEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(core.format(), ReportFormat::Html);
    EXPECT_EQ(core.GetPageCount(), 3);
    EXPECT_EQ(dump(core.pageTable()), dump(tablePages(text, tableStarts(text))));
    EXPECT_FALSE(core.nestedTable());
    EXPECT_EQ(core.head(), kHtmlPrologue.substr(0, kHtmlPrologue.find("<head>") + 6) +
                               "\n<base href=\"file://" + dir.path() + "/r.htm\"> " +
                               kHtmlPrologue.substr(kHtmlPrologue.find("<head>") + 6));
}

struct NestingCase {
    const char* name;
    std::string outer;  // @ stands for the inner table
    bool nested;
    friend void PrintTo(const NestingCase& c, std::ostream* out) { *out << c.name; }
};

class HtmlNesting : public ::testing::TestWithParam<NestingCase> {};

TEST_P(HtmlNesting, TableInACellStartsNoPage) {
    TempDir dir;
    std::string page = GetParam().outer;
    page.replace(page.find('@'), 1, "<table border=1><tr><td>inner</td></tr></table>");
    const std::string text = kHtmlPrologue + page + table("next") + kHtmlEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(core.nestedTable(), GetParam().nested);
    std::vector<std::int64_t> starts = tableStarts(text);
    if (GetParam().nested) {
        starts.erase(starts.begin() + 1);
    }
    EXPECT_EQ(dump(core.pageTable()), dump(tablePages(text, starts)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HtmlNesting,
    ::testing::Values(
        NestingCase{"PlainCell", "<table border=0><tr><td>@</td></tr></table>\r\n", true},
        NestingCase{"CellWithAttributes",
                    "<table border=0><tr><td width=300>\r\n @</td></tr></table>", true},
        NestingCase{"UpperCase", "<TABLE border=0><TR><TD>@</TD></TR></TABLE>", true},
        // A cell tag longer than a few dozen bytes still holds its table.
        NestingCase{"LongCellTag",
                    "<table border=0><tr><td align=left valign=top bgcolor=\"#FFFFFF\" width=300 "
                    "height=20 nowrap>@</td></tr></table>",
                    true},
        NestingCase{"CellTagBrokenOverLines",
                    "<table border=0><tr><td\r\nwidth=3>@</td></tr></table>", true},
        NestingCase{"AfterAParagraph", "<p>@</p>", false},
        NestingCase{"AfterATableData", "<table border=0><tr><tdx>cell @</tdx></tr></table>",
                    false}),
    [](const auto& info) { return info.param.name; });

struct ShortPageCase {
    const char* name;
    std::string page;
    bool kept;
    friend void PrintTo(const ShortPageCase& c, std::ostream* out) { *out << c.name; }
};

class HtmlShortPage : public ::testing::TestWithParam<ShortPageCase> {};

TEST_P(HtmlShortPage, EmptyShortPagesAreDropped) {
    TempDir dir;
    const std::string first = table("first");
    const std::string text =
        kHtmlPrologue + first + GetParam().page + table("last") + kHtmlEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    Pages expected = tablePages(text, tableStarts(text));
    if (!GetParam().kept) {
        expected.erase(expected.begin() + 1);
    }
    EXPECT_EQ(dump(core.pageTable()), dump(expected));
    EXPECT_EQ(core.GetPageCount(), static_cast<std::int32_t>(expected.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HtmlShortPage,
    ::testing::Values(
        ShortPageCase{"TagsAndBlanks", paddedTable("\r\n", 300), false},
        ShortPageCase{"OneLetter", paddedTable("x", 300), true},
        ShortPageCase{"LongWithoutText", paddedTable("", 600), true},
        ShortPageCase{"JustBelowTheLimit", paddedTable("", 499), false},
        ShortPageCase{"AtTheLimit", paddedTable("", 500), true},
        ShortPageCase{"HighBytesOnly", paddedTable("\xE9\xE8\xA0", 300), false},
        ShortPageCase{"OnlyAComment", paddedTable("<!-- a > b -->", 300), false},
        // Pictures show without text characters.
        ShortPageCase{"OnlyAnImage", paddedTable("<IMG src=\"logo.gif\">", 300), true},
        ShortPageCase{"OnlyAnObject", paddedTable("<object data=\"c.swf\"></object>", 300), true},
        // A stray '>' in text is text, not a failed load.
        ShortPageCase{"StrayCloseInText", paddedTable("a > b", 300), true}),
    [](const auto& info) { return info.param.name; });

TEST(HtmlSplit, AllPagesEmptyKeepsTheLastOne) {
    TempDir dir;
    const std::string text = kHtmlPrologue + paddedTable("", 200) + paddedTable("", 200);
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(dump(core.pageTable()), dump({tablePages(text, tableStarts(text)).back()}));
    EXPECT_EQ(core.GetPageCount(), 1);
}

TEST(HtmlSplit, NoTableTagWithABlankRaisesFourteen) {
    TempDir dir;
    CReportCore core;
    LoadResult result =
        load(core, dir.write("r.htm", "<html><body><table><tr><td>x</td></tr></table></body>"));
    EXPECT_EQ(result.code, 14);
    EXPECT_EQ(result.message,
              "Fail to analyze the HTML file . Please send the file to she software author(Error "
              "Code:14)");
    EXPECT_EQ(core.state(), 0);
}

TEST(HtmlSplit, NestedTablesAcrossWindowMoves) {
    TempDir dir;
    std::string text = kHtmlPrologue;
    std::vector<std::int64_t> starts;
    for (int i = 0; text.size() < 7 * 1024 * 1024; ++i) {
        starts.push_back(static_cast<std::int64_t>(text.size()));
        text += "<table border=0 width=612><tr><td>Page " + std::to_string(i) +
                "</td><td valign=top>" + std::string(i % 700, ' ') +
                "<table border=1><tr><td>inner</td></tr></table></td></tr></table>\r\n";
    }
    text += kHtmlEpilogue;
    CReportCore core;
    std::vector<int> progress;
    core.setProgressSink([&](int percent) { progress.push_back(percent); });
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_TRUE(core.nestedTable());
    EXPECT_EQ(dump(core.pageTable()), dump(tablePages(text, starts)));
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GE(progress.back(), 99);
}

TEST(HtmlSplit, GeneratedReportsGiveTheirPageTables) {
    TempDir dir;
    for (std::int64_t size : {std::int64_t{20000}, std::int64_t{9} * 1024 * 1024}) {
        ReportSpec spec;
        spec.format = GeneratedFormat::Html;
        spec.targetBytes = size;
        std::vector<GeneratedPage> expected;
        std::string error;
        const std::string path = dir.path() + "/g.htm";
        ASSERT_TRUE(writeReport(path, spec, expected, error)) << error;
        CReportCore core;
        LoadResult result = load(core, path);
        ASSERT_EQ(result.code, 0) << result.message;
        EXPECT_EQ(dump(core.pageTable()), dumpGenerated(expected)) << size;
    }
}

// ---- HTMLCSS: positioned divs, their TOP values and the text between them.

const std::string kCssPrologue = fixtures::cssPrologue();
// No text before the first element.
const std::string kBarePrologue = "<html><head></head><body>\r\n";
const std::string kCssEpilogue = "</body>\r\n</html>\r\n";

std::string divAt(int top, const std::string& inner = "") {
    return fixtures::positionedDiv(top, inner);
}

// Each positioned div's '<' and the '>' of its "</div>".
struct Element {
    std::int64_t start;
    std::int64_t end;
};

std::vector<Element> elementsOf(const std::string& text) {
    std::vector<Element> elements;
    for (std::size_t at = text.find("<div "); at != std::string::npos;
         at = text.find("<div ", at + 1)) {
        elements.push_back({static_cast<std::int64_t>(at),
                            static_cast<std::int64_t>(text.find("</div>", at) + 5)});
    }
    return elements;
}

std::string cssReport(const std::string& prologue, const std::vector<int>& tops,
                      const std::vector<std::string>& after = {},
                      const std::string& epilogue = kCssEpilogue) {
    std::string text = prologue;
    for (std::size_t i = 0; i < tops.size(); ++i) {
        text += divAt(tops[i], "Box " + std::to_string(i));
        if (i < after.size()) {
            text += after[i];
        }
    }
    return text + epilogue;
}

TEST(CssSplit, PairsOfDivsOnePointApartArePages) {
    TempDir dir;
    const std::string text = kCssPrologue + divAt(0, "Sales") +
                             "<span style=\"position:absolute; top:20pt; "
                             "left:36pt\">Row</span>\r\n" +
                             divAt(1, "Page 1") + divAt(800, "Sales") + divAt(801, "Page 2") +
                             kCssEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::vector<Element> e = elementsOf(text);
    EXPECT_EQ(dump(core.pageTable()), dump({{e[0].start, e[1].end - e[0].start + 1},
                                            {e[2].start, e[3].end - e[2].start + 1}}));
    EXPECT_EQ(core.pageHeight(), 800);
}

const std::vector<int> kThreeByThree = {0, 20, 40, 800, 820, 840, 1600, 1620, 1640};
// Text behind the first div of each page.
const std::vector<std::string> kTextAfterFirsts = {"A", "", "", "B", "", "", "C"};

TEST(CssSplit, ThePeriodOfTheTopsGivesThePages) {
    TempDir dir;
    std::vector<std::string> after = kTextAfterFirsts;
    after.resize(9);
    after[8] = "End of report";
    const std::string text = cssReport(kCssPrologue, kThreeByThree, after);
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::vector<Element> e = elementsOf(text);
    const auto size = static_cast<std::int64_t>(text.size());
    EXPECT_EQ(dump(core.pageTable()), dump({{e[0].start, e[3].start - e[0].start},
                                            {e[3].start, e[6].start - e[3].start},
                                            {e[6].start, size - e[6].start}}));
}

TEST(CssSplit, WithoutAPeriodTextBehindElementsMarksThePages) {
    TempDir dir;
    // No text behind the last div: it is dropped, and eight TOPs have no period. The eighth div,
    // now the last, looks past the dropped one and finds its text: it opens a page too.
    const std::string text = cssReport(kCssPrologue, kThreeByThree, kTextAfterFirsts);
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::vector<Element> e = elementsOf(text);
    const std::int64_t first = core.firstContentOffset();
    EXPECT_EQ(first, e[0].start);
    EXPECT_EQ(dump(core.pageTable()), dump({{first, e[2].end + 1 - first},
                                            {e[2].end + 1, e[5].end - e[2].end},
                                            {e[5].end + 1, e[6].end - e[5].end},
                                            {e[6].end + 1, e[8].start - e[6].end - 1}}));
}

// A listing over twenty pages whose rows have no common pitch, its texts inside the boxes and
// the page total in a box of its own behind the last row: the total is dropped as the odd last
// element, the rows give no period, and the last row sees the total's text behind it.
TEST(CssSplit, ARowBeforeADroppedTotalMarksTheOnlyPage) {
    TempDir dir;
    std::string text = kCssPrologue;
    unsigned state = 7;
    int top = 36;
    std::vector<int> tops;
    while (top < 20 * 792) {
        tops.push_back(top);
        state = state * 1103515245u + 12345u;
        top += 12 + static_cast<int>((state >> 16) % 29);
    }
    if (tops.size() % 2 == 1) {
        tops.pop_back();
    }
    for (std::size_t i = 0; i < tops.size(); ++i) {
        text += divAt(tops[i], "Item " + std::to_string(i));
    }
    const auto total = static_cast<std::int64_t>(text.size());
    text += divAt(top, "Page total 1234") + kCssEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("listing.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::int64_t first = core.firstContentOffset();
    EXPECT_EQ(first, static_cast<std::int64_t>(kCssPrologue.size()));
    EXPECT_EQ(dump(core.pageTable()), dump({{first, total - first}}));
}

TEST(CssSplit, NoPeriodAndNoTextRaisesThree) {
    TempDir dir;
    // Empty boxes: with text inside the dropped last box, the one before it would see that text.
    std::string text = kCssPrologue;
    for (int top : kThreeByThree) {
        text += divAt(top);
    }
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text + kCssEpilogue));
    EXPECT_EQ(result.code, 3);
    EXPECT_EQ(result.message,
              "Failed to analysis the file and split the file into pages. Please make sure the "
              "file is a html file created by Oracle Report.(Error Code:3)");
}

// Tiny positioned divs without a page layout: the split gives up once its element list reaches
// its bound, long before the end of the file, instead of growing with the file. So it does when
// the divs hold text (the last of the bound's elements sees the text of the next one, which
// marks no page), and when a page layout holds for the bound's elements and is lost after it
// (the list stops at twice the bound). The same count of divs in a page layout still loads.
TEST(CssSplit, ElementListStopsAtItsBoundWithoutPageStructure) {
    TempDir dir;
    const std::size_t bound = CReportCore::kStructureCheckEntries;
    struct Case {
        const char* name;
        std::size_t divs;
        std::size_t layoutDivs;  // the first ones that keep a page layout
        const char* inner;
        int maxPercent;  // 0: the report loads
    };
    const Case cases[] = {
        {"no layout", 2 * bound, 0, "", 55},
        {"no layout, text inside", 2 * bound, 0, "x", 55},
        {"layout lost", 3 * bound, bound + 10, "", 70},
        {"page layout", 2 * bound, 2 * bound, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = kBarePrologue;
        text.reserve(c.divs * 30);
        unsigned state = 12345;
        for (std::size_t i = 0; i < c.divs; ++i) {
            state = state * 1103515245u + 12345u;
            const unsigned top = i < c.layoutDivs ? static_cast<unsigned>(i % 2 + i / 2 * 40)
                                                  : 1 + (state >> 16) % 30000;
            text += "<div style=\"top:" + std::to_string(top) + "pt\">" + c.inner + "</div>";
        }
        text += kCssEpilogue;
        CReportCore core;
        int reached = 0;
        core.setProgressSink([&reached](int percent) { reached = percent; });
        LoadResult result = load(core, dir.write("tiny.htm", text));
        if (c.maxPercent == 0) {
            EXPECT_EQ(result.code, 0) << result.message;
            EXPECT_EQ(core.GetPageCount(), static_cast<std::int32_t>(c.divs / 2));
        } else {
            EXPECT_EQ(result.code, 3) << result.message;
            EXPECT_LE(reached, c.maxPercent);
        }
    }
}

TEST(CssSplit, NoPositionedDivRaisesThree) {
    TempDir dir;
    CReportCore core;
    const std::string text = kCssPrologue + "<div class=\"x\">text</div>\r\n" +
                             "<div style=\"position:absolute; top:0pt; width:10pt\">x</div>" +
                             kCssEpilogue;
    EXPECT_EQ(load(core, dir.write("r.htm", text)).code, 3);
}

// Reports whose elements each follow one another at one pitch: one element per page, with the
// last element a page of its own or a trailer, by the text around it.
struct SingleStepCase {
    const char* name;
    std::string prologue;
    std::vector<int> tops;
    std::vector<std::string> after;
    std::size_t pages;
    friend void PrintTo(const SingleStepCase& c, std::ostream* out) { *out << c.name; }
};

class CssSingleStep : public ::testing::TestWithParam<SingleStepCase> {};

TEST_P(CssSingleStep, PageCount) {
    TempDir dir;
    const SingleStepCase& c = GetParam();
    const std::string text = cssReport(c.prologue, c.tops, c.after);
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    ASSERT_EQ(core.pageTable().size(), c.pages);
    // Pages start at their elements and run up to the next page's element.
    const std::vector<Element> e = elementsOf(text);
    Pages expected;
    for (std::size_t i = 0; i < c.pages; ++i) {
        const std::int64_t end =
            i + 1 < e.size() ? e[i + 1].start : static_cast<std::int64_t>(text.size());
        expected.push_back({e[i].start, end - e[i].start});
    }
    EXPECT_EQ(dump(core.pageTable()), dump(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CssSingleStep,
    ::testing::Values(
        SingleStepCase{"OneElement", kCssPrologue, {0}, {}, 1},
        SingleStepCase{"TwoEqualTops", kCssPrologue, {1, 1}, {}, 1},
        SingleStepCase{"TwoTops", kCssPrologue, {1, 700}, {}, 2},
        SingleStepCase{"HeadTextLastBare", kCssPrologue, {0, 800, 1600, 2400}, {}, 3},
        SingleStepCase{
            "HeadTextTextBeforeLast", kCssPrologue, {0, 800, 1600, 2400}, {"", "", "x"}, 4},
        SingleStepCase{
            "HeadTextTextAfterLast", kCssPrologue, {0, 800, 1600, 2400}, {"", "", "", "x"}, 4},
        SingleStepCase{
            "BareHeadTextBeforeLast", kBarePrologue, {0, 800, 1600, 2400}, {"", "", "x"}, 3},
        SingleStepCase{
            "BareHeadTextAfterLast", kBarePrologue, {0, 800, 1600, 2400}, {"", "", "", "x"}, 4},
        SingleStepCase{
            "LastOffThePitch", kCssPrologue, {0, 800, 1600, 3000}, {"", "", "", "x"}, 3}),
    [](const auto& info) { return info.param.name; });

TEST(CssSplit, FirstElementBelowTheTopEndsPagesBehindTheirElements) {
    TempDir dir;
    const std::string text = kCssPrologue +
                             "<span class=\"c1\" style=\"position:absolute; top:4pt; "
                             "left:0pt\">Title</span>\r\n" +
                             cssReport("", {20, 820, 1620, 2420}, {"", "", "", "x"});
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::vector<Element> e = elementsOf(text);
    const std::int64_t first = offsetOf(text, "<span ");
    EXPECT_EQ(core.firstContentOffset(), first);
    EXPECT_EQ(dump(core.pageTable()),
              dump({{first, e[0].end + 1 - first},
                    {e[0].end + 1, e[1].end - e[0].end},
                    {e[1].end + 1, e[2].end - e[1].end},
                    {e[2].end + 1, static_cast<std::int64_t>(text.size()) - e[2].end - 1}}));
}

TEST(CssSplit, OneOpenDivIsOnePage) {
    TempDir dir;
    // A span before its closing tag leaves the div's end unknown.
    const std::string text = kCssPrologue +
                             "<div style=\"position:absolute; top:0pt; left:0pt\"><span "
                             "class=\"c1\">Only</span></div>\r\n" +
                             kCssEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::int64_t start = offsetOf(text, "<div ");
    EXPECT_EQ(dump(core.pageTable()),
              dump({{start, static_cast<std::int64_t>(text.size()) - start}}));
}

TEST(CssSplit, OpenLastDivWithTextStaysOnTheLastPage) {
    TempDir dir;
    const std::string text = cssReport(kCssPrologue, {0, 800, 1600}, {}, "") +
                             "<div style=\"position:absolute; top:2400pt; left:0pt\"><span "
                             "class=\"c1\">Grand total</span></div>\r\n" +
                             kCssEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::vector<Element> e = elementsOf(text);
    EXPECT_EQ(dump(core.pageTable()),
              dump({{e[0].start, e[1].start - e[0].start},
                    {e[1].start, e[2].start - e[1].start},
                    {e[2].start, static_cast<std::int64_t>(text.size()) - e[2].start}}));
}

TEST(CssSplit, OpenLastDivWithoutTextIsLeftOut) {
    TempDir dir;
    const std::string text = cssReport(kCssPrologue, {0, 800, 1600, 2400}, {"", "", "", "x"}, "") +
                             "<div style=\"position:absolute; top:3000pt; left:0pt\"><span "
                             "class=\"c1\"></span></div>\r\n" +
                             kCssEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::vector<Element> e = elementsOf(text);
    EXPECT_EQ(dump(core.pageTable()), dump({{e[0].start, e[1].start - e[0].start},
                                            {e[1].start, e[2].start - e[1].start},
                                            {e[2].start, e[3].start - e[2].start},
                                            {e[3].start, e[4].start - e[3].start}}));
}

TEST(CssSplit, ContentBeyondTheCopiedBytesLeavesTheEndOpen) {
    TempDir dir;
    // The second div's closing tag lies beyond the bytes copied for it, so the divs are no
    // pairs; their period of two makes the pages, each up to the next page's first div.
    const std::string text = kCssPrologue + divAt(0, "Sales") + divAt(1, std::string(1100, 'x')) +
                             divAt(800, "Sales") + divAt(801, "Page 2") + kCssEpilogue;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    const std::vector<Element> e = elementsOf(text);
    EXPECT_EQ(dump(core.pageTable()),
              dump({{e[0].start, e[2].start - e[0].start},
                    {e[2].start, static_cast<std::int64_t>(text.size()) - e[2].start}}));
}

TEST(CssSplit, StyleBlocksAreRecorded) {
    TempDir dir;
    std::string prologue = "<html><head></head><body>\r\n";
    for (int i = 0; i < 256; ++i) {
        prologue += "<style>#c" + std::to_string(i) + " {font-size:10pt}</style>\r\n";
    }
    const std::string text = cssReport(prologue, {0, 1, 800, 801});
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    ASSERT_EQ(core.styleBlockOffsets().size(), 256u);
    EXPECT_EQ(core.styleBlockOffsets()[1], offsetOf(text, "<style>#c1 "));

    const std::string more =
        cssReport(prologue + "<style>#c256 {font-size:10pt}</style>\r\n", {0, 1, 800, 801});
    result = load(core, dir.write("r2.htm", more));
    EXPECT_EQ(result.code, 17);
}

TEST(CssSplit, GeneratedReportsGiveTheirPageTables) {
    TempDir dir;
    struct Case {
        int pages;
        std::int64_t bytes;
        int rows;
    };
    // The last holds pages 65536 and 65537, where the TOP values start again.
    for (const Case& c :
         {Case{1, 0, 20}, Case{3, 0, 20}, Case{1, 9 * 1024 * 1024, 20}, Case{70000, 0, 1}}) {
        ReportSpec spec;
        spec.format = GeneratedFormat::HtmlCss;
        spec.pages = c.pages;
        spec.targetBytes = c.bytes;
        spec.rowsPerPage = c.rows;
        std::vector<GeneratedPage> expected;
        std::string error;
        const std::string path = dir.path() + "/g.htm";
        ASSERT_TRUE(writeReport(path, spec, expected, error)) << error;
        CReportCore core;
        LoadResult result = load(core, path);
        ASSERT_EQ(result.code, 0) << result.message;
        EXPECT_EQ(core.format(), ReportFormat::HtmlCss);
        EXPECT_EQ(dump(core.pageTable()), dumpGenerated(expected)) << c.pages;
        if (expected.size() > 1) {
            EXPECT_EQ(core.pageHeight(), pagePitch(spec));
        }
    }
}

}  // namespace
}  // namespace paginor
