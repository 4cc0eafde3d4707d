#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "core/report_core.h"
#include "report_fixtures.h"
#include "temp_dir.h"

namespace paginor {
namespace {

using fixtures::kFootMark;
using fixtures::kHeadMark;

struct LoadResult {
    std::int32_t code = 0;
    std::string message;
    std::string trace;
};

LoadResult load(CReportCore& core, const std::string& path, const char* baseHref = nullptr) {
    LoadResult result;
    result.trace = "Try_Start";
    try {
        result.code = core.Init(path, baseHref, true, &result.trace, nullptr, nullptr);
    } catch (const ReportError& error) {
        result.code = error.code();
        result.message = core.GetErrorText();
    }
    return result;
}

// Every page as (start, length) found by scanning the text for the marks; HTMLCSS pages widen to
// the div holding the head mark and the end of the div holding the foot mark.
std::vector<tagPageInfo> markedPages(const std::string& text, bool css) {
    std::vector<tagPageInfo> pages;
    std::size_t at = 0;
    while ((at = text.find(kHeadMark, at)) != std::string::npos) {
        std::size_t foot = text.find(kFootMark, at);
        std::size_t start = css ? text.rfind("<div ", at) : at;
        std::size_t end = css ? text.find("</div>", foot) + 5 : foot + kFootMark.size() - 1;
        pages.push_back(
            {static_cast<std::int64_t>(start), static_cast<std::int64_t>(end - start + 1)});
        at = foot;
    }
    return pages;
}

void expectPages(const CReportCore& core, const std::vector<tagPageInfo>& expected) {
    ASSERT_EQ(core.pageTable().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(core.pageTable()[i].start, expected[i].start) << "page " << i + 1;
        EXPECT_EQ(core.pageTable()[i].length, expected[i].length) << "page " << i + 1;
    }
}

TEST(ReportLoad, MarkedHtmlReport) {
    TempDir dir;
    std::string text = fixtures::markedHtmlReport(3, fixtures::htmlPrologue("windows-1256"));
    std::string path = dir.write("report.htm", text);
    CReportCore core;
    EXPECT_EQ(core.pagesPerPrintChunk(), 80);
    LoadResult result = load(core, path);
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(core.state(), 1);
    EXPECT_EQ(core.GetPageCount(), 3);
    EXPECT_EQ(core.pagesPerPrintChunk(), 1);
    EXPECT_EQ(core.format(), ReportFormat::Html);
    EXPECT_EQ(core.codePage(), 1256);
    // Texts of the report convert through the code page it declares.
    EXPECT_EQ(core.ToUnicode("\xc7\xe1 1"), std::u16string(u"\u0627\u0644 1"));
    EXPECT_EQ(core.pageHeight(), 0);
    expectPages(core, markedPages(text, false));
    // Each page runs from the '<' of its head mark to the '>' of its foot mark.
    const tagPageInfo& first = core.pageTable()[0];
    EXPECT_EQ(text.substr(first.start, kHeadMark.size()), kHeadMark);
    EXPECT_EQ(text.substr(first.start + first.length - kFootMark.size(), kFootMark.size()),
              kFootMark);
    EXPECT_EQ(result.trace, "[FL-Init]af GetFormatType");
    EXPECT_EQ(core.baseFolder(), dir.path() + "/");
    EXPECT_FALSE(core.fromWebAddress());

    std::string prologue = fixtures::htmlPrologue("windows-1256");
    std::size_t afterHead = prologue.find("<head>") + 6;
    EXPECT_EQ(core.head(), prologue.substr(0, afterHead) + "\n<base href=\"file://" + path +
                               "\"> " + prologue.substr(afterHead));
}

// Found by fuzzing: one page whose only element stands at the largest TOP; its height is that
// TOP, not one more.
TEST(ReportLoad, PageHeightAtTheLargestTopStaysInRange) {
    CReportCore core;
    LoadResult result = load(core, PAGINOR_FIXTURES_DIR "/fuzz/top-beyond-int32.htm");
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(core.GetPageCount(), 1);
    EXPECT_EQ(core.pageHeight(), INT32_MAX);
}

TEST(ReportLoad, MarkedCssReport) {
    TempDir dir;
    std::string text = fixtures::markedCssReport(3);
    std::string path = dir.write("report.rrph", text);
    CReportCore core;
    LoadResult result = load(core, path);
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(core.format(), ReportFormat::HtmlCss);
    EXPECT_EQ(core.GetPageCount(), 3);
    expectPages(core, markedPages(text, true));
    EXPECT_EQ(core.pageHeight(), 792);
    EXPECT_EQ(core.textDirection(), TextDirection::NotStated);
    EXPECT_EQ(core.firstContentOffset(), static_cast<std::int64_t>(text.find("<div ")));

    std::string prologue = fixtures::cssPrologue();
    std::size_t afterHead = prologue.find("<head>") + 6;
    std::string rest = prologue.substr(afterHead);
    rest.replace(rest.find("<body bgcolor=\"#FFFFFF\">"), 24, "<body bgcolor=\"#FFFFFF\" nowrap>");
    // The style block that the scan recorded is copied behind the head.
    EXPECT_EQ(core.head(), prologue.substr(0, afterHead) + "\n<base href=\"file://" + path +
                               "\"> " + rest +
                               "<style>#c1 {font-family:Arial; font-size:10pt}</style>\r\n");
}

TEST(ReportLoad, CssPageStartsAtTheDivHoldingTheHeadMark) {
    TempDir dir;
    std::string page = "<div style=\"position:absolute; top:0pt; left:0pt\"><b><i>" + kHeadMark +
                       "</i></b></div>\r\n<span style=\"position:absolute; top:700pt; "
                       "left:0pt\">x</span>\r\n" +
                       fixtures::positionedDiv(700, kFootMark);
    std::string text = fixtures::cssPrologue() + page + "</body></html>";
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    ASSERT_EQ(core.pageTable().size(), 1u);
    EXPECT_EQ(core.pageTable()[0].start, static_cast<std::int64_t>(text.find("<div ")));
    EXPECT_EQ(core.pageHeight(), 701);
}

TEST(ReportLoad, RightAlignedFirstDivMeansRightToLeft) {
    TempDir dir;
    CReportCore core;
    LoadResult result = load(
        core, dir.write("r.htm", fixtures::markedCssReport(2, fixtures::cssPrologue(), "right")));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_TRUE(core.IsRightToLeft());
}

TEST(ReportLoad, DirAttributeGivesTheDirection) {
    TempDir dir;
    std::string prologue = "<html dir=\"rtl\">\r\n<body>\r\n";
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", fixtures::markedHtmlReport(1, prologue)));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_TRUE(core.IsRightToLeft());
}

struct HeadCase {
    const char* name;
    std::string prologue;
    // The expected head with @BASE@ standing for the base element.
    std::string head;
    friend void PrintTo(const HeadCase& c, std::ostream* out) { *out << c.name; }
};

class HeadAssembly : public ::testing::TestWithParam<HeadCase> {};

TEST_P(HeadAssembly, ByteForByte) {
    TempDir dir;
    std::string path = dir.write("r.htm", fixtures::markedHtmlReport(1, GetParam().prologue));
    CReportCore core;
    LoadResult result = load(core, path);
    ASSERT_EQ(result.code, 0) << result.message;
    std::string expected = GetParam().head;
    std::size_t at = expected.find("@BASE@");
    if (at != std::string::npos) {
        expected.replace(at, 6, "\n<base href=\"file://" + path + "\"> ");
    }
    EXPECT_EQ(core.head(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, HeadAssembly,
    ::testing::Values(
        HeadCase{"NoHeadNoHtml", "<body>\r\n", "\n<head>@BASE@\n</head><body>\r\n"},
        HeadCase{"HtmlOnly", "<HTML>\r\n<body>\r\n", "<HTML>\n<head>@BASE@\n</head>\r\n<body>\r\n"},
        HeadCase{"HeadOnly", "<Head><title>x</title></head><body>",
                 "<Head>@BASE@<title>x</title></head><body>"},
        HeadCase{"OwnBase",
                 "<html><head><base href=\"http://srv/reports/run.jsp?x=1\"></head><body>",
                 "<html><head><base href=\"http://srv/reports/run.jsp?x=1\"></head><body>"}),
    [](const auto& info) { return info.param.name; });

TEST(ReportLoad, OwnBaseElementGivesTheBaseFolder) {
    TempDir dir;
    std::string prologue =
        "<html><head><base href=\"http://srv/reports/run.jsp?x=1\"></head><body>";
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", fixtures::markedHtmlReport(1, prologue)));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_TRUE(core.ownBaseTag());
    EXPECT_TRUE(core.fromWebAddress());
    EXPECT_EQ(core.baseFolder(), "http://srv/reports/");
}

TEST(ReportLoad, GivenBaseAddressIsQuotedSafely) {
    TempDir dir;
    std::string path = dir.write("r.htm", fixtures::markedHtmlReport(1, "<body>"));
    CReportCore core;
    LoadResult result = load(core, path, "http://srv/a\"b/run?x=1");
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(core.head(), "\n<head>\n<base href=\"http://srv/a%22b/run?x=1\"> \n</head><body>");
    EXPECT_EQ(core.baseFolder(), "http://srv/a\"b/");
    EXPECT_TRUE(core.fromWebAddress());
}

TEST(ReportLoad, LocalPathIsWrittenAsFileUrl) {
    TempDir dir;
    std::string path = dir.write("my report #1%.htm", fixtures::markedHtmlReport(1, "<body>"));
    CReportCore core;
    LoadResult result = load(core, path);
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_NE(
        core.head().find("<base href=\"file://" + dir.path() + "/my%20report%20%231%25.htm\">"),
        std::string::npos);
}

TEST(ReportLoad, PageCountBeforeAnyLoadRaisesFive) {
    CReportCore core;
    EXPECT_EQ(core.state(), 0);
    try {
        core.GetPageCount();
        FAIL() << "no error raised";
    } catch (const ReportError& error) {
        EXPECT_EQ(error.code(), 5);
    }
}

struct FailureCase {
    const char* name;
    std::string text;
    std::int32_t code;
    std::string message;  // the whole message, or empty to check the code only
    friend void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }
};

class LoadFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LoadFailure, RaisesItsCodeAndText) {
    TempDir dir;
    std::string path = dir.write("r.htm", GetParam().text);
    CReportCore core;
    // A good load first, so the failure must also drop what was loaded before.
    ASSERT_EQ(load(core, dir.write("good.htm", fixtures::markedHtmlReport(2))).code, 0);
    LoadResult result = load(core, path);
    EXPECT_EQ(result.code, GetParam().code) << result.message;
    if (!GetParam().message.empty()) {
        EXPECT_EQ(result.message, GetParam().message);
    }
    EXPECT_EQ(core.state(), 0);
}

std::string binaryText() {
    std::string text;
    for (int i = 0; i < 70000; ++i) {
        char c = static_cast<char>((i * 7919) % 256);
        text += c == '<' ? 'x' : c;
    }
    return text;
}

std::string withStyleBlocks(int count) {
    std::string prologue = "<html><head></head><body>\r\n";
    for (int i = 0; i < count; ++i) {
        prologue += "<style>#c" + std::to_string(i) + " {font-size:10pt}</style>\r\n";
    }
    return fixtures::markedCssReport(1, prologue);
}

// A marked HTMLCSS report whose second page starts with a TOP in pixels, and one more page head
// behind the last page when missingFoot is set.
std::string withPixelTop(bool missingFoot) {
    std::string text = fixtures::markedCssReport(3);
    const std::size_t second = text.find("top:792pt");
    text.replace(second, 9, "top:792px");
    if (missingFoot) {
        text.insert(text.rfind("</body>"), fixtures::positionedDiv(2376, kHeadMark));
    }
    return text;
}

const std::string kTwoHeads = "<html><body>" + kHeadMark + "<table x>" + kHeadMark + "</table>";
const std::string kFootFirst = "<html><body>" + kFootMark + "\r\n" + kHeadMark + "<table x>";

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadFailure,
    ::testing::Values(
        FailureCase{"EmptyFile", "", 13, "The file is not a web page !(Error Code:13)"},
        FailureCase{"BinaryFile", binaryText(), 13, ""},
        FailureCase{"NotAReport", "<html><body><p>Hello</p></body></html>", 13, ""},
        FailureCase{"MarksButNoContent", "<html>" + kHeadMark + kFootMark + "</html>", 13, ""},
        FailureCase{"Frameset",
                    "<html>\r\n<frameset cols=\"*\"><frame src=\"a.htm\"></frameset></html>", 24,
                    ""},
        FailureCase{"Form", "<html><body><form action=x><input type=text></form><table x></table>",
                    23, ""},
        FailureCase{"HeadWithoutFoot", "<html><body>" + kHeadMark + "<table x></table>", 9,
                    "Syntax error : Encounter ONLY PageHeadMark  or  PageFootMark (Error "
                    "Code:9)"},
        FailureCase{"TruncatedFoot",
                    "<html><body>" + fixtures::markedHtmlPage(1) + kHeadMark +
                        "<table x></table><!--9876543210_PageMark_Fo",
                    9, ""},
        FailureCase{"TwoHeads", kTwoHeads, -1,
                    "Syntax error : Encounter PageHeadMark while expecting PageFootMark "
                    "(reference address: 12, 82)"},
        FailureCase{"FootBeforeHead", kFootFirst, -1,
                    "Syntax error,Encounter PageFootMark before PageHeadMark in page 1 , or the "
                    "PageHeaderMark is missing (address:42 , 45)"},
        FailureCase{"TooManyStyleBlocks", withStyleBlocks(257), 17, ""},
        FailureCase{
            "UnreadableTopOfAMarkedPage", withPixelTop(false), -1,
            "Unrecognizable TOP value,(reference address : " +
                std::to_string(withPixelTop(false).rfind("<div ",
                                                         withPixelTop(false).find("top:792px"))) +
                ") TOP:792px"},
        FailureCase{"MissingFootBeforeTheTopCheck", withPixelTop(true), 9, ""},
        FailureCase{"StrayTagCloseBeforeCssMark",
                    "<html><body><div style=\"position:absolute; top:0pt; left:0pt\">a > b" +
                        kHeadMark + "</div>",
                    -1, "Syntax Error : Encounter \">\" while expecting \"<\"  (address:61)"}),
    [](const auto& info) { return info.param.name; });

// Noise of a marked page: tags that begin like marks or style blocks ("<span", "<SPAN", "<s>",
// "<strong>", "<style>" without '#', comments, "<!x>", a mark's prefix with another ending, a
// style name too long for a block), '!' and '#' in the text, and a run of letters that grows by
// a byte a page, so that over many moves of the window the marks and blocks meet its edges at
// every distance.
std::string markLikeNoise(int page) {
    return "<SPAN class=\"c1\">No. #" + std::to_string(page) + "! " +
           std::string(static_cast<std::size_t>(page % 3001), 'x') +
           "</SPAN><strong>!</strong><s>#</s><style>p{}</style><style>#wide1{x}</style><!-- note "
           "--><!x><!--9876543210_PageMark_Side-->\r\n";
}

// The scan finds the marks, style blocks and TOPs that a plain search of the text finds.
TEST(ReportLoad, MarkedCssScanFindsWhatASearchOfTheTextFinds) {
    TempDir dir;
    std::string text = fixtures::cssPrologue();
    constexpr int kPages = 6000;
    constexpr int kPitch = 792;
    for (int p = 1; p <= kPages; ++p) {
        const int top = (p - 1) * kPitch;
        text += fixtures::positionedDiv(top, kHeadMark);
        text += "<span style=\"position:absolute; top:" + std::to_string(top + 20) +
                "pt; left:36pt\">Row <s>" + std::to_string(p) + "</s></span>\r\n";
        text += markLikeNoise(p);
        if (p % 30 == 0) {
            text += (p % 60 == 0 ? "<STYLE>#c" : "<style>#c") + std::to_string(p / 30) +
                    " {font-size:10pt}</style>\r\n";
        }
        text += fixtures::positionedDiv(top + 700, kFootMark);
    }
    text += "</body>\r\n</html>\r\n";
    ASSERT_GT(text.size(), 3u * CReportCore::kMaxWindowSize);
    std::vector<std::int64_t> blocks;
    std::string lower = text;
    for (char& c : lower) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    }
    for (std::size_t at = lower.find("<style>#c"); at != std::string::npos;
         at = lower.find("<style>#c", at + 1)) {
        blocks.push_back(static_cast<std::int64_t>(at));
    }
    ASSERT_EQ(blocks.size(), 1u + kPages / 30);
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", text));
    ASSERT_EQ(result.code, 0) << result.message;
    expectPages(core, markedPages(text, true));
    EXPECT_EQ(core.styleBlockOffsets(), blocks);
    EXPECT_EQ(core.pageHeight(), kPitch);

    std::string html = fixtures::htmlPrologue();
    for (int p = 1; p <= kPages; ++p) {
        html += markLikeNoise(p) + fixtures::markedHtmlPage(p);
    }
    html += "</body>\r\n</html>\r\n";
    ASSERT_GT(html.size(), 3u * CReportCore::kMaxWindowSize);
    result = load(core, dir.write("r2.htm", html));
    ASSERT_EQ(result.code, 0) << result.message;
    expectPages(core, markedPages(html, false));
}

// A mark or style block whose '<' lies in the last bytes of the first window, d bytes before its
// end: the scan sees the rest of it in the next window.
TEST(ReportLoad, MarksAndStyleBlocksAtTheWindowsEdge) {
    TempDir dir;
    const auto window = static_cast<std::size_t>(CReportCore::kMaxWindowSize);
    const std::string block = "<style>#c2 {font-size:10pt}</style>\r\n";
    for (bool styleBlock : {false, true}) {
        for (std::size_t d = 1; d <= (styleBlock ? 9u : 32u); ++d) {
            SCOPED_TRACE((styleBlock ? "style block " : "mark ") + std::to_string(d));
            std::string text = fixtures::cssPrologue() + fixtures::markedCssPage(1);
            const std::string page = fixtures::markedCssPage(2);
            const std::size_t markInPage = page.find(kHeadMark);
            const std::size_t at = window - d - (styleBlock ? 0 : markInPage);
            text.append(at - text.size(), ' ');
            if (styleBlock) {
                text += block;
            }
            text += page + std::string(window / 8, ' ') + "</body>\r\n</html>\r\n";
            CReportCore core;
            LoadResult result = load(core, dir.write("edge.htm", text));
            ASSERT_EQ(result.code, 0) << result.message;
            expectPages(core, markedPages(text, true));
            std::vector<std::int64_t> blocks{static_cast<std::int64_t>(text.find("<style>#c1"))};
            if (styleBlock) {
                blocks.push_back(static_cast<std::int64_t>(window - d));
            } else {
                EXPECT_EQ(text.find(kHeadMark, 300), window - d);
            }
            EXPECT_EQ(core.styleBlockOffsets(), blocks);
        }
    }
}

TEST(ReportLoad, TwoHundredFiftySixStyleBlocksAreFine) {
    TempDir dir;
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", withStyleBlocks(256)));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(core.styleBlockOffsets().size(), 256u);
}

TEST(ReportLoad, FourLetterStyleNamesAreKept) {
    TempDir dir;
    std::string prologue = "<html><head></head><body>\r\n<style>#c100{color:red}</style>\r\n";
    CReportCore core;
    LoadResult result = load(core, dir.write("r.htm", fixtures::markedCssReport(1, prologue)));
    ASSERT_EQ(result.code, 0) << result.message;
    EXPECT_EQ(core.styleBlockOffsets().size(), 1u);
    EXPECT_TRUE(core.head().ends_with("<style>#c100{color:red}</style>\r\n"));
}

TEST(ReportLoad, EmptyPathRaisesOne) {
    CReportCore core;
    LoadResult result = load(core, "");
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.message, "Initial Fail, the file name is NULL(Error Code:1)");
    EXPECT_EQ(result.trace, "Enter FoL.Init core");
}

TEST(ReportLoad, MissingFileNamesTheStep) {
    TempDir dir;
    std::string path = dir.write("gone.htm", fixtures::markedHtmlReport(1));
    std::remove(path.c_str());
    CReportCore core;
    LoadResult result = load(core, path);
    EXPECT_EQ(result.code, -1);
    EXPECT_EQ(result.message,
              "Runtime exception[FLC][InitOp2]:" + path + ": No such file or directory");
}

TEST(ReportLoad, RemovedFileStaysReadableWhileLoaded) {
    TempDir dir;
    std::string text = fixtures::markedHtmlReport(2);
    std::string path = dir.write("r.htm", text);
    CReportCore core;
    ASSERT_EQ(load(core, path).code, 0);
    std::remove(path.c_str());
    std::int64_t length = core.pageTable()[1].length;
    core.CopyToStringBuffer(core.pageTable()[1].start, '\0', length);
    EXPECT_EQ(std::string(core.tagBuffer(), length),
              text.substr(core.pageTable()[1].start, length));
}

TEST(ReportLoad, ProgressRisesToTheEnd) {
    TempDir dir;
    std::string text = fixtures::markedHtmlReport(400);
    CReportCore core;
    std::vector<int> seen;
    core.setProgressSink([&](int percent) { seen.push_back(percent); });
    ASSERT_EQ(load(core, dir.write("r.htm", text)).code, 0);
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
    EXPECT_LE(seen.back(), 100);
    EXPECT_GE(seen.back(), 99);
}

TEST(ReportLoad, WindowIsSizedFromTheFile) {
    TempDir dir;
    CReportCore core;
    ASSERT_EQ(load(core, dir.write("small.htm", fixtures::markedHtmlReport(1))).code, 0);
    EXPECT_EQ(core.windowSize(), 147456);
    std::string large =
        fixtures::markedHtmlReport(1, "<html><body>" + std::string(2 * 1024 * 1024, ' '));
    ASSERT_EQ(load(core, dir.write("large.htm", large)).code, 0);
    EXPECT_EQ(core.windowSize(),
              (static_cast<std::int64_t>(large.size()) + 148480) / 147456 * 147456);
    // The window never shrinks.
    ASSERT_EQ(load(core, dir.write("small2.htm", fixtures::markedHtmlReport(1))).code, 0);
    EXPECT_EQ(core.windowSize(),
              (static_cast<std::int64_t>(large.size()) + 148480) / 147456 * 147456);
}

}  // namespace
}  // namespace paginor
