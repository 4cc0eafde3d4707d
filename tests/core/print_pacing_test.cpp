#include <gtest/gtest.h>

#include <string>

#include "core/report_core.h"
#include "report_fixtures.h"
#include "temp_dir.h"

namespace paginor {
namespace {

// An HTML report of marked pages, each padded with text to about pageBytes bytes.
std::string paddedReport(int pages, std::size_t pageBytes) {
    std::string text = fixtures::htmlPrologue();
    for (int p = 1; p <= pages; ++p) {
        const std::string page = fixtures::markedHtmlPage(p);
        text += fixtures::kHeadMark + "<p>" +
                std::string(pageBytes > page.size() ? pageBytes - page.size() : 0, 'x') + "</p>" +
                page.substr(fixtures::kHeadMark.size());
    }
    return text + "</body>\r\n</html>\r\n";
}

TEST(PrintPacing, PagesPerTaskFillAQuarterMegabyte) {
    TempDir dir;
    CReportCore unloaded;
    EXPECT_EQ(unloaded.GetPagesPerTask(true), 0);
    EXPECT_EQ(unloaded.pagesPerPrintChunk(), 80);

    struct Case {
        int pages;
        std::size_t pageBytes;
    };
    const Case cases[] = {{3, 200}, {4, 100000}, {2, 262144}, {3, 300000}, {2, 3000}};
    for (const Case& c : cases) {
        CReportCore core;
        const std::string path = dir.write("r.htm", paddedReport(c.pages, c.pageBytes));
        core.Init(path, nullptr, true, nullptr, nullptr, nullptr);
        ASSERT_EQ(core.GetPageCount(), c.pages);
        const std::int64_t average = core.fileSize() / c.pages;
        const std::int64_t expected = std::min<std::int64_t>((average + 262143) / average, 80);
        SCOPED_TRACE(std::to_string(c.pageBytes));
        EXPECT_EQ(core.GetPagesPerTask(false), expected);
        EXPECT_EQ(core.pagesPerPrintChunk(), 1);  // not stored
        EXPECT_EQ(core.GetPagesPerTask(true), expected);
        EXPECT_EQ(core.pagesPerPrintChunk(), expected);
    }
}

TEST(PrintPacing, PagesPerTaskBoundsAtItsEnds) {
    TempDir dir;
    CReportCore small;
    small.Init(dir.write("s.htm", paddedReport(3, 200)), nullptr, true, nullptr, nullptr, nullptr);
    EXPECT_EQ(small.GetPagesPerTask(false), 80);
    CReportCore large;
    large.Init(dir.write("l.htm", paddedReport(2, 400000)), nullptr, true, nullptr, nullptr,
               nullptr);
    EXPECT_EQ(large.GetPagesPerTask(false), 1);
}

// The text of the last printed task is t characters.
std::int32_t waitFor(std::int32_t t, std::int32_t speed) {
    CReportCore core;
    const std::string text(static_cast<std::size_t>(t), 'a');
    core.CountTextChars(text.data(), static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(core.textCharCount(), t);
    return core.EstimatePrintWait(true, speed);
}

TEST(PrintPacing, WaitEstimateAddsLessTheLongerTheTask) {
    struct Case {
        std::int32_t text;
        std::int32_t speed;
        std::int32_t wait;
    };
    // Speed 25: d = 25 * 11 / 7 + 25 = 64. Speed 0: d = 25. Speed 120: d = 213.
    const Case cases[] = {
        {0, 25, 25},        // v 0
        {576, 25, 34},      // v 9.0
        {640, 25, 30},      // v 10: the second band
        {1599, 25, 44},     // v 24.98
        {1600, 25, 40},     // v 25
        {3199, 25, 64},     // v 49.98
        {3200, 25, 55},     // v 50
        {5119, 25, 84},     // v 79.98
        {5120, 25, 80},     // v 80: no addition
        {64000, 25, 1000},  // v 1000
        {250, 0, 30},       // d 25, v 10
        {2130, 120, 30},    // d 213, v 10
        {2130, 500, 30},    // out of range: taken as 120
        {250, -40, 30},     // taken as 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(waitFor(c.text, c.speed), c.wait) << c.text << " at " << c.speed;
    }
}

}  // namespace
}  // namespace paginor
