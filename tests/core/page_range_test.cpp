#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/report_core.h"
#include "platform/file.h"
#include "platform/sys_error.h"
#include "report_fixtures.h"
#include "temp_dir.h"
#include "tests/support/report_generator.h"

namespace paginor {
namespace {

using fixtures::kFootMark;
using fixtures::kHeadMark;
using Runs = std::vector<tagPageRun>;

struct Outcome {
    std::int32_t code = 0;
    std::string message;
};

Outcome outcomeOf(CReportCore& core, const std::function<void()>& call) {
    try {
        call();
    } catch (const ReportError& error) {
        return {error.code(), core.GetErrorText()};
    }
    return {};
}

::testing::AssertionResult loaded(CReportCore& core, const std::string& path) {
    try {
        core.Init(path, nullptr, true, nullptr, nullptr, nullptr);
    } catch (const ReportError&) {
        return ::testing::AssertionFailure() << core.GetErrorText();
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string fileText(const std::string& path) {
    std::string text;
    std::string error;
    EXPECT_TRUE(readWholeFile(path, text, error)) << error;
    return text;
}

// A fixture page as the report holds it: from its first '<' to the '>' that ends it.
std::string pageText(const std::string& fixturePage) {
    return fixturePage.substr(0, fixturePage.size() - 2);
}

std::string documentOf(const CReportCore& core, const std::vector<std::string>& pages) {
    std::string document = core.head();
    for (const std::string& page : pages) {
        document += page;
    }
    return document + CReportCore::kTrailer;
}

std::string htmlDocument(const CReportCore& core, int p1, int p2) {
    std::vector<std::string> pages;
    for (int p = p1; p <= p2; ++p) {
        pages.push_back(pageText(fixtures::markedHtmlPage(p)));
    }
    return documentOf(core, pages);
}

// A positioned box; an empty top leaves the TOP out.
std::string box(const std::string& tag, const std::string& top, const std::string& inner,
                const std::string& extra = "") {
    const std::string place = top.empty() ? "" : "top:" + top + "pt; ";
    return "<" + tag + " style=\"position:absolute; " + place + "left:0pt" + extra + "\">" + inner +
           "</" + tag + ">";
}

// A marked page: the head-mark div, one row, the foot-mark div, with these TOP texts.
std::string cssPage(const std::vector<std::string>& tops, const std::string& footExtra = "") {
    return box("div", tops[0], kHeadMark) + "\r\n" + box("span", tops[1], "Row") + "\r\n" +
           box("div", tops[2], kFootMark, footExtra);
}

std::string cssReport(const std::vector<std::string>& pages) {
    std::string text = fixtures::cssPrologue();
    for (const std::string& page : pages) {
        text += page + "\r\n";
    }
    return text + "</body>\r\n</html>\r\n";
}

// Pages 20000 TOP units apart, page i ending lastOffsets[i] below its top.
std::string tallCssReport(const std::vector<int>& lastOffsets) {
    std::vector<std::string> pages;
    for (std::size_t i = 0; i < lastOffsets.size(); ++i) {
        const int top = static_cast<int>(i) * 20000;
        pages.push_back(cssPage(
            {std::to_string(top), std::to_string(top + 20), std::to_string(top + lastOffsets[i])}));
    }
    return cssReport(pages);
}

// Bytes 33..127 outside tags.
std::int32_t visibleBytes(const std::string& text) {
    std::int32_t count = 0;
    bool inTag = false;
    for (char c : text) {
        if (c == '<' || c == '>') {
            inTag = c == '<';
        } else if (!inTag && static_cast<unsigned char>(c) >= 33 &&
                   static_cast<unsigned char>(c) <= 127) {
            ++count;
        }
    }
    return count;
}

const std::string kRangeText =
    "Page number should between 1 and 3 , and the first one should less than the second one";

TEST(PageRange, RefusesBadRangesAndUnloadedReports) {
    TempDir dir;
    const std::string out = dir.path() + "/out.htm";
    struct Operation {
        const char* name;
        std::function<void(CReportCore&, int, int)> call;
    };
    const std::vector<Operation> operations = {
        {"GetPage",
         [](CReportCore& core, int p1, int p2) {
             std::string document;
             core.GetPage(p1, p2, document, false);
         }},
        {"SplitPageRange",
         [](CReportCore& core, int p1, int p2) {
             Runs runs;
             core.SplitPageRange(p1, p2, runs);
         }},
        {"SplitRunByHeight",
         [](CReportCore& core, int p1, int p2) {
             Runs runs;
             core.SplitRunByHeight(p1, p2, runs);
         }},
        {"GetPagesInRanges",
         [](CReportCore& core, int p1, int p2) { core.GetPagesInRanges(p1, p2); }},
        {"OutputToHtmlFile",
         [&out](CReportCore& core, int p1, int p2) { core.OutputToHtmlFile(p1, p2, out); }},
        {"CheckPageRange", [](CReportCore& core, int p1, int p2) { core.CheckPageRange(p1, p2); }},
    };
    const std::vector<std::pair<int, int>> badRanges = {{10, 5}, {0, 2}, {2, 4}, {3, 2}, {-3, -1}};

    CReportCore unloaded;
    CReportCore html;
    CReportCore css;
    ASSERT_TRUE(loaded(html, dir.write("r.htm", fixtures::markedHtmlReport(3))));
    ASSERT_TRUE(loaded(css, dir.write("c.htm", fixtures::markedCssReport(3))));
    for (const Operation& operation : operations) {
        SCOPED_TRACE(operation.name);
        EXPECT_EQ(outcomeOf(unloaded, [&] { operation.call(unloaded, 1, 1); }).code, 5);
        for (CReportCore* core : {&html, &css}) {
            for (auto [p1, p2] : badRanges) {
                Outcome result = outcomeOf(*core, [&] { operation.call(*core, p1, p2); });
                EXPECT_EQ(result.code, -1) << p1 << ".." << p2;
                EXPECT_EQ(result.message, kRangeText) << p1 << ".." << p2;
            }
        }
    }
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"c.htm", "r.htm"}));
}

TEST(PageRange, HtmlDocumentIsHeadPagesAndTrailer) {
    TempDir dir;
    CReportCore core;
    ASSERT_TRUE(loaded(core, dir.write("r.htm", fixtures::markedHtmlReport(3))));
    std::string document(70000, 'x');
    const std::size_t capacity = document.capacity();
    for (auto [p1, p2] : {std::pair{1, 3}, {2, 2}, {3, 3}, {1, 1}}) {
        EXPECT_EQ(core.GetPage(p1, p2, document, false), 0);
        EXPECT_EQ(document, htmlDocument(core, p1, p2)) << p1 << ".." << p2;
        EXPECT_GE(document.capacity(), capacity);
    }
}

TEST(PageRange, CssRunFromPageOneKeepsItsTops) {
    TempDir dir;
    CReportCore core;
    ASSERT_TRUE(loaded(core, dir.write("c.htm", fixtures::markedCssReport(3))));
    std::string document;
    EXPECT_EQ(core.GetPage(1, 3, document, false), 0);
    EXPECT_EQ(document, documentOf(core, {pageText(fixtures::markedCssPage(1)),
                                          pageText(fixtures::markedCssPage(2)),
                                          pageText(fixtures::markedCssPage(3))}));
}

TEST(PageRange, FileHoldsTheDocumentOfTheRange) {
    TempDir dir;
    struct Case {
        std::string report;
        int p1;
        int p2;
    };
    const std::vector<Case> cases = {
        {fixtures::markedHtmlReport(3), 1, 3},
        {fixtures::markedHtmlReport(3), 2, 3},
        {fixtures::markedCssReport(3), 1, 3},
        {fixtures::markedCssReport(3), 2, 3},
    };
    const std::string out = dir.write("out.htm", std::string(100000, 'o'));
    for (const Case& c : cases) {
        CReportCore core;
        ASSERT_TRUE(loaded(core, dir.write("r.htm", c.report)));
        EXPECT_EQ(core.OutputToHtmlFile(c.p1, c.p2, out), 0);
        std::string document;
        core.GetPage(c.p1, c.p2, document, false);
        EXPECT_EQ(fileText(out), document) << c.p1 << ".." << c.p2;
        EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"out.htm", "r.htm"}));
    }
}

TEST(PageRange, FailedFileOutputLeavesNothingBehind) {
    TempDir dir;
    const std::string report = dir.write("r.htm", fixtures::markedHtmlReport(3));
    const std::string folder = dir.path() + "/folder";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    CReportCore core;
    ASSERT_TRUE(loaded(core, report));

    for (auto [target, error] :
         {std::pair{folder, EISDIR}, {dir.path() + "/none/out.htm", ENOENT}}) {
        Outcome result = outcomeOf(core, [&] { core.OutputToHtmlFile(1, 3, target); });
        EXPECT_EQ(result.code, -1);
        EXPECT_EQ(result.message,
                  "Runtime exception[FLC][OTHFOp]:" + target + ": " + systemErrorText(error));
    }
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"folder", "r.htm"}));
    EXPECT_TRUE(folderEntries(folder).empty());

    // The report shrinks under the loaded object: page 3 can no longer be read, and the file is
    // named as the cause, for the page shown as for the file written.
    const std::string out = dir.write("out.htm", "old");
    const std::int64_t size = static_cast<std::int64_t>(fileText(report).size());
    ASSERT_EQ(truncate(report.c_str(), core.pageTable()[2].start + 10), 0);
    const std::string cut = "The report file " + report +
                            " was changed or cut on disk after it was opened: it no longer holds "
                            "the " +
                            std::to_string(size) + " bytes it held then. Open the report again.";
    std::string page;
    for (const Outcome& result : {outcomeOf(core, [&] { core.OutputToHtmlFile(1, 3, out); }),
                                  outcomeOf(core, [&] { core.GetPage(3, 3, page, false); })}) {
        EXPECT_EQ(result.code, -1);
        EXPECT_EQ(result.message, cut);
    }
    EXPECT_EQ(fileText(out), "old");
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"folder", "out.htm", "r.htm"}));
}

// The pages' progress reaches the caller, and a cancel request stops the writing between pages
// or before the file takes its name, the target left as it was.
TEST(PageRange, FileOutputReportsProgressAndStopsWhenCancelled) {
    TempDir dir;
    CReportCore core;
    ASSERT_TRUE(loaded(core, dir.write("r.htm", fixtures::markedHtmlReport(4))));
    const std::string out = dir.path() + "/out.htm";
    std::atomic<std::int32_t> cancel = 0;
    std::vector<int> shown;
    EXPECT_EQ(core.OutputToHtmlFile(1, 4, out, &cancel, [&](int p) { shown.push_back(p); }), 0);
    EXPECT_EQ(shown, (std::vector<int>{25, 50, 75, 100, 0}));
    for (const int at : {50, 0}) {
        SCOPED_TRACE(at);
        dir.write("out.htm", "old");
        cancel = 0;
        shown.clear();
        const Outcome result = outcomeOf(core, [&] {
            core.OutputToHtmlFile(1, 4, out, &cancel, [&](int p) {
                shown.push_back(p);
                cancel = p == at ? 1 : cancel.load();
            });
        });
        EXPECT_EQ(result.code, 19);
        EXPECT_EQ(result.message, "Cancel by server administrator/user(Error Code:19)");
        EXPECT_EQ(shown.back(), at);
        EXPECT_EQ(fileText(out), "old");
        EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"out.htm", "r.htm"}));
    }
}

TEST(PageRange, StartingTopOfARun) {
    struct Case {
        const char* name;
        std::string previous;
        std::vector<std::string> tops;
        std::vector<std::string> rebased;
    };
    const std::vector<Case> cases = {
        {"previous page ends with a placed div far above",
         cssPage({"0", "20", "700"}),
         {"792", "812", "1492"},
         {" 91", "111", " 791"}},
        {"previous page ends with a div that is not fully placed",
         cssPage({"0", "20", "700"}, "; width:10pt"),
         {"792", "812", "1492"},
         {"  0", " 20", " 700"}},
        {"previous page ends just above",
         cssPage({"0", "20", "790"}),
         {"792", "812", "1492"},
         {"  0", " 20", " 700"}},
        {"first element without TOP",
         cssPage({"0", "20", "700"}),
         {"", "812", "1492"},
         {"", "111", " 791"}},
        {"first element at TOP 0",
         cssPage({"0", "20", "700"}),
         {"0", "812", "1492"},
         {"0", "812", "1492"}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CReportCore core;
        ASSERT_TRUE(loaded(core, dir.write("c.htm", cssReport({c.previous, cssPage(c.tops)}))));
        std::string document;
        EXPECT_EQ(core.GetPage(2, 2, document, false), 0);
        EXPECT_EQ(document, documentOf(core, {cssPage(c.rebased)}));
        const std::string out = dir.path() + "/out.htm";
        EXPECT_EQ(core.OutputToHtmlFile(2, 2, out), 0);
        EXPECT_EQ(fileText(out), document);
    }
}

// Unmarked HTMLCSS pages of the pair layout begin with a box at the page's TOP and end with its
// pair one point below: every page then shows from its top, as page 1 does.
TEST(PageRange, PairLayoutPagesBeginAtTheirTop) {
    TempDir dir;
    for (int rows : {1, 50}) {
        SCOPED_TRACE(rows);
        ReportSpec spec;
        spec.format = GeneratedFormat::HtmlCss;
        spec.pages = 3;
        spec.rowsPerPage = rows;
        const std::string path = dir.path() + "/r.htm";
        std::vector<GeneratedPage> pages;
        std::string error;
        ASSERT_TRUE(writeReport(path, spec, pages, error)) << error;
        CReportCore core;
        ASSERT_TRUE(loaded(core, path));
        ASSERT_EQ(core.GetPageCount(), 3);
        for (std::int32_t page : {1, 2, 3}) {
            std::string document;
            ASSERT_EQ(core.GetPage(page, page, document, false), 0);
            const std::size_t top = document.find("top:", core.head().size());
            ASSERT_NE(top, std::string::npos);
            EXPECT_EQ(std::stoi(document.substr(top + 4)), 0) << "page " << page;
        }
    }
}

TEST(PageRange, PrintedDocumentsHideEmptyLastDivsAndCountText) {
    TempDir dir;
    CReportCore core;
    ASSERT_TRUE(loaded(core, dir.write("c.htm", cssReport({cssPage({"0", "20", "700"}),
                                                           cssPage({"792", "812", "1492"})}))));
    // The foot-mark div holds nothing but the mark: it becomes a comment of the same length.
    auto hidden = [](std::string element) {
        std::replace(element.begin(), element.end(), '<', '(');
        std::replace(element.begin(), element.end(), '>', ')');
        return element.replace(0, 4, "<!--").replace(element.size() - 3, 3, "-->");
    };
    // Each page of the print form begins with the mark that gives it a sheet of its own.
    auto printed = [&](const std::vector<std::string>& tops) {
        return CReportCore::kPrintPageMark + box("div", tops[0], kHeadMark) + "\r\n" +
               box("span", tops[1], "Row") + "\r\n" + hidden(box("div", tops[2], kFootMark));
    };
    struct Case {
        int p1;
        int p2;
        std::vector<std::string> pages;
    };
    const std::vector<Case> cases = {
        {1, 2, {printed({"0", "20", "700"}), printed({"792", "812", "1492"})}},
        {2, 2, {printed({" 91", "111", " 791"})}},
    };
    for (const Case& c : cases) {
        const std::string expected = documentOf(core, c.pages);
        std::string document;
        EXPECT_EQ(core.GetPage(c.p1, c.p2, document, true), 0);
        EXPECT_EQ(document, expected) << c.p1 << ".." << c.p2;
        EXPECT_EQ(core.textCharCount(), visibleBytes(expected)) << c.p1 << ".." << c.p2;
    }
}

TEST(PageRange, CheckPageRangeCountsTheBytesOfTheRange) {
    TempDir dir;
    const std::string text = fixtures::markedHtmlReport(3);
    CReportCore core;
    ASSERT_TRUE(loaded(core, dir.write("r.htm", text)));
    const auto onePage = static_cast<std::int64_t>(pageText(fixtures::markedHtmlPage(2)).size());
    EXPECT_EQ(core.CheckPageRange(2, -1), onePage);
    EXPECT_EQ(core.CheckPageRange(2, 2), onePage);
    const auto all =
        static_cast<std::int64_t>(text.rfind(kFootMark) + kFootMark.size() - text.find(kHeadMark));
    EXPECT_EQ(core.CheckPageRange(1, 3), all);
}

TEST(PageRange, SplitRangeCutsChunks) {
    struct Case {
        int chunk;
        int p1;
        int p2;
        Runs runs;
    };
    const std::vector<Case> cases = {
        {3, 1, 10, {{1, 3}, {4, 6}, {7, 9}, {10, 10}}},
        {1, 4, 6, {{4, 4}, {5, 5}, {6, 6}}},
        {10, 5, 7, {{5, 7}}},
        {0, 1, 2, {{1, 1}, {2, 2}}},
        {-4, 7, 8, {{7, 7}, {8, 8}}},
        {3, 5, 4, {}},
        {2, 2147483646, 2147483647, {{2147483646, 2147483647}}},
    };
    CReportCore core;
    for (const Case& c : cases) {
        core.setPagesPerPrintChunk(c.chunk);
        Runs runs = {{99, 99}};
        EXPECT_EQ(core.SplitRange(c.p1, c.p2, runs), 0);
        EXPECT_EQ(runs, c.runs) << "chunk " << c.chunk << ", " << c.p1 << ".." << c.p2;
    }

    TempDir dir;
    ASSERT_TRUE(loaded(core, dir.write("r.htm", fixtures::markedHtmlReport(10))));
    core.setPagesPerPrintChunk(3);
    Runs runs;
    EXPECT_EQ(core.SplitPageRange(1, 10, runs), 0);
    EXPECT_EQ(runs, cases[0].runs);
}

TEST(PageRange, RunsShrinkToTheHeightLimit) {
    TempDir dir;
    CReportCore core;
    ASSERT_TRUE(loaded(core, dir.write("c.htm", tallCssReport(std::vector<int>(20, 15000)))));
    core.setPagesPerPrintChunk(10);
    // Six pages span 5 x 20000 + 15000 = 115000 units, seven 20000 more: over the limit.
    const Runs expected = {{1, 6}, {7, 12}, {13, 18}, {19, 20}};
    Runs runs;
    EXPECT_EQ(core.SplitRunByHeight(1, 20, runs), 0);
    EXPECT_EQ(runs, expected);
    EXPECT_EQ(core.SplitPageRange(1, 20, runs), 0);
    EXPECT_EQ(runs, expected);

    std::string document;
    EXPECT_EQ(core.GetPage(1, 6, document, false), 0);
    EXPECT_EQ(outcomeOf(core, [&] { core.GetPage(1, 7, document, false); }).code, 4);
    EXPECT_TRUE(document.empty());
}

TEST(PageRange, HeightIsMeasuredFromTheStartingTop) {
    // Page 2's first element has no TOP, so its run starts below the last element of page 1.
    TempDir dir;
    CReportCore core;
    ASSERT_TRUE(loaded(core, dir.write("c.htm", cssReport({cssPage({"0", "20", "100000"}),
                                                           cssPage({"", "100020", "200000"})}))));
    Runs runs;
    EXPECT_EQ(core.SplitRunByHeight(2, 2, runs), 0);
    EXPECT_EQ(runs, (Runs{{2, 2}}));
    std::string document;
    EXPECT_EQ(core.GetPage(2, 2, document, false), 0);
    EXPECT_EQ(document, documentOf(core, {cssPage({"", "    19", " 99999"})}));
}

TEST(PageRange, PageTallerThanTheLimitStopsTheCheck) {
    TempDir dir;
    CReportCore core;
    ASSERT_TRUE(loaded(core, dir.write("c.htm", tallCssReport({15000, 15000, 140000, 15000}))));
    Runs runs;
    EXPECT_EQ(outcomeOf(core, [&] { core.SplitRunByHeight(3, 4, runs); }).code, 2);
    std::string document;
    EXPECT_EQ(outcomeOf(core, [&] { core.GetPage(3, 3, document, false); }).code, 4);
    // Only the first run of a block is measured, so the walk meets page 3 when it builds it.
    EXPECT_EQ(core.SplitPageRange(1, 4, runs), 0);
    EXPECT_EQ(runs, (Runs{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    EXPECT_EQ(core.GetPagesInRanges(1, 2), 0);
    EXPECT_EQ(outcomeOf(core, [&] { core.GetPagesInRanges(1, 4); }).code, 4);
}

TEST(PageRange, InformationPage) {
    const std::string open = "<html>\n<body bgcolor=\"#000000\" text=\"#FFFF00\">\n";
    CReportCore core;
    std::string page = "before";
    EXPECT_EQ(core.GetInfo(page), 0);
    EXPECT_EQ(page, "before" + open + "<p>You have not open any file </body>\n</html>");

    TempDir dir;
    for (auto [report, format] : {std::pair{fixtures::markedHtmlReport(3), "HTML"},
                                  {fixtures::markedCssReport(3), "HTMLCSS"}}) {
        ASSERT_TRUE(loaded(core, dir.write("r.htm", report)));
        page.clear();
        EXPECT_EQ(core.GetInfo(page), 0);
        EXPECT_EQ(page, open + "<p>Report Format : " + format +
                            "</p><p>File size : <font color=\"#FF0000\"> " +
                            std::to_string(report.size()) +
                            " </font>bytes</p>\n<p>Pages num : <font color=\"#FF0000\"> 3 "
                            "</font>pages </body>\n</html>");
    }
}

TEST(PageRange, EveryKindOfReportGivesItsRanges) {
    TempDir dir;
    for (GeneratedFormat format : {GeneratedFormat::Html, GeneratedFormat::HtmlCss}) {
        for (bool marks : {true, false}) {
            SCOPED_TRACE(std::string(format == GeneratedFormat::Html ? "HTML" : "HTMLCSS") +
                         (marks ? ", marked" : ", unmarked"));
            ReportSpec spec;
            spec.format = format;
            spec.pageMarks = marks;
            spec.pages = 300;
            const std::string path = dir.path() + "/r.htm";
            std::vector<GeneratedPage> pages;
            std::string error;
            ASSERT_TRUE(writeReport(path, spec, pages, error)) << error;
            CReportCore core;
            ASSERT_TRUE(loaded(core, path));
            ASSERT_EQ(core.GetPageCount(), 300);
            core.setPagesPerPrintChunk(7);
            Runs runs;
            EXPECT_EQ(core.SplitPageRange(1, 300, runs), 0);
            EXPECT_EQ(runs.size(), 43u);
            EXPECT_EQ(runs.back(), (tagPageRun{295, 300}));
            EXPECT_EQ(core.GetPagesInRanges(1, 300), 0);
            std::string document;
            EXPECT_EQ(core.GetPage(2, 300, document, false), 0);
            const std::string out = dir.path() + "/out.htm";
            EXPECT_EQ(core.OutputToHtmlFile(2, 300, out), 0);
            EXPECT_EQ(fileText(out), document);
            if (format == GeneratedFormat::Html) {
                const std::string text = fileText(path);
                std::vector<std::string> texts;
                for (std::size_t i = 1; i < pages.size(); ++i) {
                    texts.push_back(text.substr(static_cast<std::size_t>(pages[i].start),
                                                static_cast<std::size_t>(pages[i].length)));
                }
                EXPECT_EQ(document, documentOf(core, texts));
            }
        }
    }
}

// 70000 marked HTMLCSS pages: the generator restarts the TOP values on pages 65536 and 65537.
class PageBlocks : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<TempDir>();
        ReportSpec spec;
        spec.format = GeneratedFormat::HtmlCss;
        spec.pageMarks = true;
        spec.pages = 70000;
        spec.rowsPerPage = 1;
        s_path = s_dir->path() + "/blocks.htm";
        std::string error;
        ASSERT_TRUE(writeReport(s_path, spec, s_pages, error)) << error;
        ASSERT_TRUE(readWholeFile(s_path, s_text, error)) << error;
        s_core = std::make_unique<CReportCore>();
        ASSERT_TRUE(loaded(*s_core, s_path));
    }
    static void TearDownTestSuite() {
        s_core.reset();
        s_text.clear();
        s_dir.reset();
    }
    void SetUp() override {
        ASSERT_NE(s_core, nullptr);
        ASSERT_EQ(s_core->state(), 1);
        s_core->setPagesPerPrintChunk(1);
    }

    static std::string document(int p1, int p2) {
        std::vector<std::string> pages;
        for (int p = p1; p <= p2; ++p) {
            const GeneratedPage& page = s_pages[static_cast<std::size_t>(p - 1)];
            pages.push_back(s_text.substr(static_cast<std::size_t>(page.start),
                                          static_cast<std::size_t>(page.length)));
        }
        return documentOf(*s_core, pages);
    }

    static std::unique_ptr<TempDir> s_dir;
    static std::string s_path;
    static std::string s_text;
    static std::vector<GeneratedPage> s_pages;
    static std::unique_ptr<CReportCore> s_core;
};

std::unique_ptr<TempDir> PageBlocks::s_dir;
std::string PageBlocks::s_path;
std::string PageBlocks::s_text;
std::vector<GeneratedPage> PageBlocks::s_pages;
std::unique_ptr<CReportCore> PageBlocks::s_core;

TEST_F(PageBlocks, NoRunCrossesABlock) {
    CReportCore& core = *s_core;
    std::string text;
    for (auto [p1, p2, code] :
         {std::tuple{65535, 65536, 6}, {65534, 65537, 6}, {65536, 65537, 7}}) {
        EXPECT_EQ(outcomeOf(core, [&] { core.GetPage(p1, p2, text, false); }).code, code)
            << p1 << ".." << p2;
        Runs runs;
        EXPECT_EQ(outcomeOf(core, [&] { core.SplitRunByHeight(p1, p2, runs); }).code, code)
            << p1 << ".." << p2;
    }
}

TEST_F(PageBlocks, BlockPagesKeepTheirTops) {
    std::string text;
    for (auto [p1, p2] : {std::pair{65536, 65536}, {65537, 65540}, {1, 2}}) {
        EXPECT_EQ(s_core->GetPage(p1, p2, text, false), 0);
        EXPECT_EQ(text, document(p1, p2)) << p1 << ".." << p2;
    }
}

TEST_F(PageBlocks, SplitPageRangeHonoursBlocks) {
    struct Case {
        int chunk;
        Runs runs;
    };
    const std::vector<Case> cases = {
        {10, {{65530, 65535}, {65536, 65536}, {65537, 65540}}},
        {3, {{65530, 65532}, {65533, 65535}, {65536, 65536}, {65537, 65539}, {65540, 65540}}},
        {1,
         {{65530, 65530},
          {65531, 65531},
          {65532, 65532},
          {65533, 65533},
          {65534, 65534},
          {65535, 65535},
          {65536, 65536},
          {65537, 65537},
          {65538, 65538},
          {65539, 65539},
          {65540, 65540}}},
    };
    for (const Case& c : cases) {
        s_core->setPagesPerPrintChunk(c.chunk);
        Runs runs;
        EXPECT_EQ(s_core->SplitPageRange(65530, 65540, runs), 0);
        EXPECT_EQ(runs, c.runs) << "chunk " << c.chunk;
    }
    Runs runs;
    EXPECT_EQ(s_core->SplitRunByHeight(65536, 65536, runs), 0);
    EXPECT_EQ(runs, (Runs{{65536, 65536}}));
}

TEST_F(PageBlocks, EveryRunOfTheReportCanBeBuilt) {
    s_core->setPagesPerPrintChunk(10);
    Runs runs;
    EXPECT_EQ(s_core->SplitPageRange(1, 70000, runs), 0);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.front().first, 1);
    EXPECT_EQ(runs.back().last, 70000);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].first / 65536, runs[i].last / 65536) << i;
        EXPECT_TRUE(runs[i].first % 65536 != 0 || runs[i].last == runs[i].first) << i;
        if (i > 0) {
            EXPECT_EQ(runs[i].first, runs[i - 1].last + 1) << i;
        }
    }
    EXPECT_EQ(s_core->GetPagesInRanges(1, 70000), 0);

    const std::string out = s_dir->path() + "/out.htm";
    EXPECT_EQ(s_core->OutputToHtmlFile(65530, 65535, out), 0);
    std::string document;
    EXPECT_EQ(s_core->GetPage(65530, 65535, document, false), 0);
    EXPECT_EQ(fileText(out), document);
    EXPECT_EQ(unlink(out.c_str()), 0);
}

TEST_F(PageBlocks, FileOutputStopsAtTheFirstBlock) {
    const std::string out = s_dir->path() + "/out.htm";
    for (auto [p1, p2] : {std::pair{65536, 65536}, {65535, 65536}, {65537, 65540}}) {
        Outcome result = outcomeOf(*s_core, [&] { s_core->OutputToHtmlFile(p1, p2, out); });
        EXPECT_EQ(result.code, -1);
        EXPECT_EQ(result.message, "Only support output up to page 65536!");
    }
    EXPECT_EQ(folderEntries(s_dir->path()), (std::vector<std::string>{"blocks.htm"}));
}

}  // namespace
}  // namespace paginor
