// HTMLCSS pages through the engine's entry: positioned pieces become rows and columns.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/convert_engine.h"
#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::Batch;
using testing::CssReport;
using testing::dumpRecords;
using testing::dumpText;
using testing::RunOptions;
using testing::RunResult;

RunResult runCss(const CssReport& report, const RunOptions& o = {}, bool rightToLeft = false,
                 const EngineLimits& limits = {}) {
    auto engine = std::make_shared<CConvertEngine>(limits);
    engine->Init(nullptr, kFormatHtmlCss, report.head.data(),
                 static_cast<std::int64_t>(report.head.size()), rightToLeft);
    RunResult r = testing::run(*engine, report.batch, o);
    r.engine = engine;
    return r;
}

RunResult runFixture(const std::string& name, const RunOptions& o = {}, bool rightToLeft = false) {
    return runCss(testing::splitCssReport(testing::readFixture("htmlcss/" + name)), o, rightToLeft);
}

std::string textOf(const tagOutputCellInfo& record) {
    return std::string(record.text, static_cast<std::size_t>(record.textLength));
}

constexpr std::uint32_t kBandColour = 0x64381F;  // #1F3864 as a Windows colour value

TEST(HtmlCssEngine, InvoiceListingAsDelimitedText) {
    const RunResult r = runFixture("invoice_listing.htm");
    EXPECT_EQ(dumpText(r.text),
              "r0||Invoice Listing||Online copy||\n"
              "r1|Invoice|Date|Customer||Amount|\n"
              "r2|10041|02/01/2024|Contoso Pharmacy||1,250.00|\n"
              "r3|10042|03/01/2024|Northwind Traders and Sons Ltd||87.50|\n"
              "r4|10043|05/01/2024|Fabrikam Inc.||12,400.10|\n"
              "r5|Page 1 of 2|||||\n"
              "r6||Invoice Listing||Online copy||\n"
              "r7|Invoice|Date|Customer||Amount|\n"
              "r8|10044|08/01/2024|Tailspin Toys||310.00|\n"
              "r9|10045|09/01/2024|Litware Ltd||45.25|\n"
              "r10|Page 2 of 2|||||\n");
    EXPECT_EQ(r.step, "detected_REPORT_DESFORMAT_HTMLCSS");
    EXPECT_EQ(r.columns, 5);
    EXPECT_EQ(r.driverFlag, 1);
}

TEST(HtmlCssEngine, InvoiceListingAsRecords) {
    RunOptions o;
    o.kind = kOutputRecordsSml;
    o.colour = true;
    o.font = true;
    const RunResult r = runFixture("invoice_listing.htm", o);
    // The spacer rows stand for the gap above each page's footer.
    EXPECT_EQ(dumpRecords(r.records),
              "p0 r0 c0 1x1 k1 'logo.gif'\n"
              "p0 r0 c1 1x2 k0 'Invoice Listing'\n"
              "p0 r0 c3 1x1 k3 'Online copy'\n"
              "p0 r1 c0 1x1 k0 'Invoice'\n"
              "p0 r1 c1 1x1 k0 'Date'\n"
              "p0 r1 c2 1x1 k0 'Customer'\n"
              "p0 r1 c4 1x1 k0 'Amount'\n"
              "p0 r2 c0 1x1 k0 '10041'\n"
              "p0 r2 c1 1x1 k0 '02/01/2024'\n"
              "p0 r2 c2 1x1 k0 'Contoso Pharmacy'\n"
              "p0 r2 c4 1x1 k0 '1,250.00'\n"
              "p0 r3 c0 1x1 k0 '10042'\n"
              "p0 r3 c1 1x1 k0 '03/01/2024'\n"
              "p0 r3 c2 1x1 k0 'Northwind Traders and Sons Ltd'\n"
              "p0 r3 c4 1x1 k0 '87.50'\n"
              "p0 r4 c0 1x1 k0 '10043'\n"
              "p0 r4 c1 1x1 k0 '05/01/2024'\n"
              "p0 r4 c2 1x1 k0 'Fabrikam Inc.'\n"
              "p0 r4 c4 1x1 k0 '12,400.10'\n"
              "p0 r5 c0 1x1 k0 ''\n"
              "p0 r6 c0 1x1 k0 'Page 1 of 2'\n"
              "p1 r0 c0 1x1 k1 'logo.gif'\n"
              "p1 r0 c1 1x2 k0 'Invoice Listing'\n"
              "p1 r0 c3 1x1 k3 'Online copy'\n"
              "p1 r1 c0 1x1 k0 'Invoice'\n"
              "p1 r1 c1 1x1 k0 'Date'\n"
              "p1 r1 c2 1x1 k0 'Customer'\n"
              "p1 r1 c4 1x1 k0 'Amount'\n"
              "p1 r2 c0 1x1 k0 '10044'\n"
              "p1 r2 c1 1x1 k0 '08/01/2024'\n"
              "p1 r2 c2 1x1 k0 'Tailspin Toys'\n"
              "p1 r2 c4 1x1 k0 '310.00'\n"
              "p1 r3 c0 1x1 k0 '10045'\n"
              "p1 r3 c1 1x1 k0 '09/01/2024'\n"
              "p1 r3 c2 1x1 k0 'Litware Ltd'\n"
              "p1 r3 c4 1x1 k0 '45.25'\n"
              "p1 r4 c0 1x1 k0 ''\n"
              "p1 r5 c0 1x1 k0 'Page 2 of 2'\n");
    for (const auto& record : r.records) {
        SCOPED_TRACE(textOf(record));
        const bool heading = record.row == 1;
        EXPECT_EQ(record.backgroundColour, heading ? kBandColour : kNoBackground);
        if (heading) {
            EXPECT_EQ(record.fontColour, 0xFFFFFFu);
            EXPECT_EQ(record.bold, 1);
        }
    }
    const tagOutputCellInfo& logo = r.records[0];
    EXPECT_EQ(logo.size, 48u << 16 | 24u);  // 64 x 32 pixels
    const tagOutputCellInfo& link = r.records[2];
    EXPECT_STREQ(link.text + link.textLength + 1, "http://reports.example.com/inv?p=1");
    EXPECT_EQ(link.fontSize, 7);
    EXPECT_EQ(r.colour, 1);
    EXPECT_STREQ(r.batch.fontName, "Arial");
    EXPECT_EQ(r.batch.fontSize, 9);
    EXPECT_EQ(r.pages[0].recordCount, 21u);
    EXPECT_EQ(r.pages[1].recordCount, 17u);
}

// A logo drawn under the title and two stamps under a price: every text keeps its cell, every
// image gets one of its own right of it.
TEST(HtmlCssEngine, ImagesUnderTextsKeepBoth) {
    RunOptions o;
    o.kind = kOutputRecords;
    const RunResult r = runFixture("images_under_texts.htm", o);
    EXPECT_EQ(dumpRecords(r.records),
              "p0 r0 c0 1x1 k0 'Northwind Traders'\n"
              "p0 r0 c1 1x1 k1 'logo.gif'\n"
              "p0 r0 c5 1x1 k0 'Statement 1'\n"
              "p0 r1 c0 1x1 k0 'Item'\n"
              "p0 r1 c1 1x1 k0 'Qty'\n"
              "p0 r1 c2 1x1 k0 'Price'\n"
              "p0 r2 c0 1x1 k0 'Bolt'\n"
              "p0 r2 c1 1x1 k0 '12'\n"
              "p0 r2 c2 1x1 k0 '0.50'\n"
              "p0 r3 c0 1x1 k0 'Nut'\n"
              "p0 r3 c1 1x1 k0 '7'\n"
              "p0 r3 c2 1x1 k0 '0.20'\n"
              "p0 r3 c3 1x1 k1 'paid.gif'\n"
              "p0 r3 c4 1x1 k1 'stamp.gif'\n"
              "p0 r4 c0 1x1 k0 'Washer'\n"
              "p0 r4 c1 1x1 k0 '30'\n"
              "p0 r4 c2 1x1 k0 '0.05'\n"
              "p1 r0 c0 1x1 k0 'Northwind Traders'\n"
              "p1 r0 c1 1x1 k1 'logo.gif'\n"
              "p1 r0 c5 1x1 k0 'Statement 2'\n"
              "p1 r1 c0 1x1 k0 'Item'\n"
              "p1 r1 c1 1x1 k0 'Qty'\n"
              "p1 r1 c2 1x1 k0 'Price'\n"
              "p1 r2 c0 1x1 k0 'Bolt'\n"
              "p1 r2 c1 1x1 k0 '12'\n"
              "p1 r2 c2 1x1 k0 '0.50'\n"
              "p1 r3 c0 1x1 k0 'Nut'\n"
              "p1 r3 c1 1x1 k0 '7'\n"
              "p1 r3 c2 1x1 k0 '0.20'\n"
              "p1 r3 c3 1x1 k1 'paid.gif'\n"
              "p1 r3 c4 1x1 k1 'stamp.gif'\n"
              "p1 r4 c0 1x1 k0 'Washer'\n"
              "p1 r4 c1 1x1 k0 '30'\n"
              "p1 r4 c2 1x1 k0 '0.05'\n");
    EXPECT_EQ(r.columns, 6);
    EXPECT_EQ(dumpText(runFixture("images_under_texts.htm").text),
              "r0|Northwind Traders|||||Statement 1|\n"
              "r1|Item|Qty|Price||||\n"
              "r2|Bolt|12|0.50||||\n"
              "r3|Nut|7|0.20||||\n"
              "r4|Washer|30|0.05||||\n"
              "r5|Northwind Traders|||||Statement 2|\n"
              "r6|Item|Qty|Price||||\n"
              "r7|Bolt|12|0.50||||\n"
              "r8|Nut|7|0.20||||\n"
              "r9|Washer|30|0.05||||\n");
}

TEST(HtmlCssEngine, RepeatedTitleAndHeadingLeaveTheLaterPages) {
    RunOptions o;
    o.headerFooter = true;
    const RunResult r = runFixture("invoice_listing.htm", o);
    // The batch starts at the report's first page, which keeps its title and heading; only the
    // last page keeps its footer.
    EXPECT_EQ(dumpText(r.text),
              "r0||Invoice Listing||Online copy||\n"
              "r1|Invoice|Date|Customer||Amount|\n"
              "r2|10041|02/01/2024|Contoso Pharmacy||1,250.00|\n"
              "r3|10042|03/01/2024|Northwind Traders and Sons Ltd||87.50|\n"
              "r4|10043|05/01/2024|Fabrikam Inc.||12,400.10|\n"
              "r5||||||\n"
              "r6|10044|08/01/2024|Tailspin Toys||310.00|\n"
              "r7|10045|09/01/2024|Litware Ltd||45.25|\n"
              "r8|Page 2 of 2|||||\n");
}

TEST(HtmlCssEngine, TwoBlocksSideBySideTakeOneColumnEach) {
    const RunResult r = runFixture("side_by_side.htm");
    EXPECT_EQ(dumpText(r.text),
              "r0|Branch Contacts||\n"
              "r1|West Region||\n"
              "r2||East Region|\n"
              "r3|Anna Berg||\n"
              "r4||Kai Lund|\n"
              "r5|Carl Dahl||\n"
              "r6||Mia Nord|\n"
              "r7|Coast Office||\n"
              "r8||Ole Prag|\n"
              "r9|Eva Falk||\n"
              "r10||Pia Quist|\n"
              "r11|Gus Holm||\n"
              "r12||Rut Sand|\n");
    EXPECT_EQ(r.driverFlag, 0);
    EXPECT_EQ(r.columns, 2);

    // Without the two tall boxes the indented names of the first block get a column of their own.
    std::string html = testing::readFixture("htmlcss/side_by_side.htm");
    for (std::size_t box; (box = html.find("border-style:solid")) != std::string::npos;) {
        const std::size_t start = html.rfind("<div", box);
        html.erase(start, html.find("</div>", box) + 6 - start);
    }
    const RunResult plain = runCss(testing::splitCssReport(html));
    EXPECT_EQ(plain.driverFlag, 1);
    EXPECT_EQ(plain.columns, 3);
}

TEST(HtmlCssEngine, HiddenAndCoveredPiecesAreDroppedAndOnlyThose) {
    const RunResult r = runFixture("sales_boxes.htm");
    // Page 2: the grey box hides the two pieces under it; the transparent one hides nothing.
    EXPECT_EQ(dumpText(r.text),
              "r0|Quarterly Sales||\n"
              "r1|Region & Area|Amount|\n"
              "r2|The northern region sold||\n"
              "r3|more than planned||\n"
              "r4|1200|In pixels|\n"
              "r5|1300||\n"
              "r6|||\n"
              "r7|Details||\n"
              "r8|Kept||\n"
              "r9|01/02/2024||\n"
              "r10|03/04/2024||\n");
}

TEST(HtmlCssEngine, RightToLeftReportPlacesByTheRightEdge) {
    const RunResult r = runFixture("right_to_left.htm", {}, true);
    EXPECT_EQ(dumpText(r.text),
              "r0||Left in RTL|\n"
              "r1|Stays||\n");
}

TEST(HtmlCssEngine, ColourFlagIsClearedWhenNoClassCarriesAColour) {
    RunOptions o;
    o.colour = true;
    EXPECT_EQ(runFixture("grid_table.htm", o).colour, 0);
    EXPECT_EQ(runFixture("sales_boxes.htm", o).colour, 1);
}

TEST(HtmlCssEngine, ASecondBatchReusesTheBuffersAndGivesTheSameResult) {
    const CssReport report =
        testing::splitCssReport(testing::readFixture("htmlcss/invoice_listing.htm"));
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtmlCss, report.head.data(),
                static_cast<std::int64_t>(report.head.size()), false);
    const std::string first = testing::run(engine, report.batch).text;
    const std::size_t buffers = engine.textBuffersAllocated();
    EXPECT_EQ(testing::run(engine, report.batch).text, first);
    EXPECT_EQ(engine.textBuffersAllocated(), buffers);
}

TEST(HtmlCssEngine, FailuresCarryTheirCodeAndText) {
    const std::string head =
        "<style type=\"text/css\">div{position:absolute;}</style>"
        "<style>#d {font:9pt \"Arial\"; color:#000000}</style>";
    const auto piece = [](int top, const std::string& text) {
        return "<div id=\"d\" style=\"top:" + std::to_string(top) + "pt;left:40pt\">" + text +
               "</div>";
    };
    std::string manyPieces;
    for (int i = 0; i < 40; ++i) {
        manyPieces += piece(20 + 12 * i, "row " + std::to_string(i));
    }
    std::string longTexts;
    for (int i = 0; i < 6; ++i) {
        longTexts += piece(20 + 12 * i, std::string(30000, 'a') + "&amp;");
    }
    struct Case {
        const char* name;
        std::vector<std::string> pages;
        EngineLimits limits;
        std::int32_t code;
        std::string text;
    };
    EngineLimits fewPieces;
    fewPieces.pieces = 30;
    EngineLimits twoBuffers;
    twoBuffers.textBuffers = 2;
    const Case cases[] = {
        {"pages out of order",
         {piece(500, "first"), piece(100, "second")},
         {},
         6,
         "Encounter Wrong Page Code(Error Code:6)"},
        {"piece pool", {manyPieces}, fewPieces, 10, "(Error Code:10)"},
        {"cell-text buffers", {longTexts}, twoBuffers, 12, "(Error Code:12)"},
        {"top not a number",
         {"<div id=\"d\" style=\"top:1x;left:40pt\">a</div>"},
         {},
         -1,
         "Failed to recognize the TOP value inside html code, non-number character was found"},
        {"tag without its end",
         {"<div id=\"d\" style=\"top:10pt;left:40pt\">a<b</div>"},
         {},
         8,
         "(Error Code:8)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Batch batch = testing::makeBatch(c.pages);
        CConvertEngine engine(c.limits);
        engine.Init(nullptr, kFormatHtmlCss, head.data(), static_cast<std::int64_t>(head.size()),
                    false);
        try {
            testing::run(engine, batch);
            ADD_FAILURE() << "no failure";
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.code(), c.code);
            std::string text;
            engine.GetErrorText(text);
            EXPECT_NE(text.find(c.text), std::string::npos) << text;
        }
    }
}

}  // namespace
}  // namespace paginor
