#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "convert/conversion_driver.h"
#include "convert/write/excel_writer.h"
#include "core/report_core.h"
#include "tests/convert/write/fake_excel.h"
#include "tests/convert/write/record_batch.h"

namespace paginor {
namespace {

using testing::FakeExcel;
using testing::FakeExcelLog;
using testing::FakeExcelSettings;
using testing::RecordBatch;

struct WriterRun {
    FakeExcelSettings settings;
    FakeExcelLog log;
    CReportCore report;
    ExcelWriterOptions options;
    std::string path = "/tmp/out.xls";
    std::int32_t rowsPerWorksheet = 0;
    bool savedAs2007 = false;

    // Writes the batch and finishes; the log holds every call.
    void go(RecordBatch& batch, std::int32_t columns, std::int32_t firstPage = 1) {
        FakeExcel excel(log, settings);
        CExcelWriter writer(report, excel, options);
        writer.Start(path, rowsPerWorksheet, &savedAs2007);
        batch.write(writer, firstPage, columns);
        writer.Finish(path);
    }
};

TEST(ExcelWriter, TextsThatMustStayTextGoInOneBlockAndNumbersAsValues) {
    WriterRun run;
    run.options.textFormatDetection = true;
    RecordBatch batch;
    batch.pages({2});
    batch.add(0, 0, 0, "0123");
    batch.add(0, 0, 1, "=A1");
    batch.add(0, 0, 2, "1234567890123456");
    batch.add(0, 1, 0, "123");
    batch.add(0, 1, 1, " 1,234.50 ");
    batch.add(0, 1, 2, "Total");
    run.go(batch, 3);
    const auto& log = run.log;
    EXPECT_TRUE(log.has("Range(A1:C2).Value=[0123|=A1|1234567890123456/||Total]"));
    EXPECT_TRUE(log.has("Sheet1.Cells(2,1)=123"));
    EXPECT_TRUE(log.has("Range(A2).NumberFormat=0_ "));
    EXPECT_TRUE(log.has("Sheet1.Cells(2,2)=1234.50"));
    EXPECT_TRUE(log.has("Range(B2).NumberFormat=#,##0.00_ "));
    EXPECT_EQ(log.count("Sheet1.Cells(1,"), 0u);
    EXPECT_EQ(log.count("Sheet1.Cells(2,3)"), 0u);
    EXPECT_TRUE(log.has("SaveCopyAs(/tmp/out.xlsx)"));
    EXPECT_EQ(run.path, "/tmp/out.xlsx");
    EXPECT_TRUE(run.savedAs2007);
    EXPECT_EQ(run.rowsPerWorksheet, CExcelWriter::kRowLimit2007);
}

// The decimal-comma mode fixes how numbers read; the automatic mode takes what the report shows.
// A number whose marks read the other way round stays text.
TEST(ExcelWriter, DecimalCommaModeDecidesHowNumbersRead) {
    const struct {
        const char* text;
        std::int32_t mode;
        const char* written;
    } cases[] = {
        {"1.234,56", 1, "Sheet1.Cells(1,1)=1234.56"},
        {"1,234", 1, "Sheet1.Cells(1,1)=1.234"},
        {"-12,5", 1, "Sheet1.Cells(1,1)=-12.5"},
        {"1,234.56", 1, "Range(A1:A1).Value=[1,234.56]"},
        {"1.234,56", 2, "Range(A1:A1).Value=[1.234,56]"},
        {"12,34", 2, "Range(A1:A1).Value=[12,34]"},
        {"1,234.56", 2, "Sheet1.Cells(1,1)=1234.56"},
        {"1.234,56", 0, "Sheet1.Cells(1,1)=1234.56"},
        {"1,234.56", 0, "Sheet1.Cells(1,1)=1234.56"},
        {"+42", 0, "Sheet1.Cells(1,1)=42"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " mode " + std::to_string(c.mode));
        WriterRun run;
        run.options.textFormatDetection = true;
        run.options.decimalCommaMode = c.mode;
        RecordBatch batch;
        batch.pages({1});
        batch.add(0, 0, 0, c.text);
        run.go(batch, 1);
        EXPECT_TRUE(run.log.has(c.written));
    }
}

TEST(ExcelWriter, UndecidedNumbersFollowTheDecimalMarkTheReportShows) {
    const struct {
        bool spanishOrItalian;
        bool revealing;
        const char* written;
    } cases[] = {
        {true, true, "Sheet1.Cells(1,1)=1234"},
        {false, true, "Sheet1.Cells(1,1)=1234"},
        {true, false, "Sheet1.Cells(1,1)=1234"},
        {false, false, "Sheet1.Cells(1,1)=1.234"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.spanishOrItalian) + std::to_string(c.revealing));
        WriterRun run;
        run.options.spanishOrItalian = c.spanishOrItalian;
        RecordBatch batch;
        batch.pages({2});
        batch.add(0, 0, 0, "1.234");
        batch.add(0, 1, 0, c.revealing ? "12,5" : "7");
        run.go(batch, 1);
        EXPECT_TRUE(run.log.has(c.written));
        if (c.revealing) {
            EXPECT_TRUE(run.log.has("Sheet1.Cells(2,1)=12.5"));
        }
    }
}

TEST(ExcelWriter, FirstRevealingDateDecidesTheDayOrder) {
    const struct {
        const char* first;
        const char* later;
        const char* entered;
        const char* format;
    } cases[] = {
        {"25/03/2004", "03/04/2004", "4/3/2004", "dd/mm/yyyy"},
        {"03/25/2004", "03/04/2004", "3/4/2004", "mm/dd/yyyy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        WriterRun run;
        run.options.textFormatDetection = true;
        RecordBatch batch;
        batch.pages({2});
        batch.add(0, 0, 0, c.first);
        batch.add(0, 1, 0, c.later);
        run.go(batch, 1);
        EXPECT_TRUE(run.log.has(std::string("Sheet1.Cells(2,1)=") + c.entered));
        EXPECT_TRUE(run.log.has(std::string("Range(A2).NumberFormat=") + c.format));
    }
}

// A batch that reveals neither convention leaves both to the first later cell that does: an
// ambiguous number before it in that batch reads by it too.
TEST(ExcelWriter, ABatchThatRevealsNothingLeavesTheConventionsOpen) {
    WriterRun run;
    run.options.textFormatDetection = true;
    FakeExcel excel(run.log, run.settings);
    CExcelWriter writer(run.report, excel, run.options);
    writer.Start(run.path, run.rowsPerWorksheet, nullptr);
    RecordBatch cover;
    cover.pages({1});
    cover.add(0, 0, 0, "Annual statement");
    cover.write(writer, 1, 1);
    EXPECT_EQ(writer.conventions(), tagCellDetectOptions{});
    RecordBatch list;
    list.pages({5});
    for (const char* text : {"2,007", "1.234,56", "1.000", "05/06/2022", "17/06/2022"}) {
        list.add(0, list.recordCount(), 0, text);
    }
    list.write(writer, 2, 1);
    writer.Finish(run.path);
    for (const char* written :
         {"Sheet1.Cells(2,1)=2.007", "Sheet1.Cells(3,1)=1234.56", "Sheet1.Cells(4,1)=1000",
          "Sheet1.Cells(5,1)=6/5/2022", "Sheet1.Cells(6,1)=6/17/2022"}) {
        EXPECT_TRUE(run.log.has(written)) << written;
    }
}

TEST(ExcelWriter, LongTextsWrapAndTheirRowsFit) {
    WriterRun run;
    RecordBatch batch;
    batch.pages({3});
    batch.add(0, 1, 0, std::string(56, 'x'));
    batch.add(0, 1, 1, std::string(80, 'y'));
    batch.add(0, 2, 0, std::string(55, 'z'));
    run.go(batch, 2);
    const auto& log = run.log;
    EXPECT_TRUE(log.has("Range(A2).WrapText=1"));
    EXPECT_TRUE(log.has("Range(B2).WrapText=1"));
    EXPECT_FALSE(log.has("Range(A3).WrapText=1"));
    EXPECT_EQ(log.count("Range(A2).EntireRow.AutoFit"), 1u);
    EXPECT_EQ(log.count("Range(A3).EntireRow.AutoFit"), 0u);

    WriterRun many;
    RecordBatch tall;
    tall.pages({140});
    for (std::int32_t r = 0; r < 140; ++r) {
        tall.add(0, r, 0, std::string(60, 'x'));
    }
    many.go(tall, 1);
    const auto fitted =
        std::count_if(many.log.calls.begin(), many.log.calls.end(),
                      [](const std::string& call) { return call.ends_with(".EntireRow.AutoFit"); });
    EXPECT_EQ(fitted, 128);
    EXPECT_EQ(many.log.count("Range(A128).EntireRow.AutoFit"), 1u);
    EXPECT_EQ(many.log.count("Range(A129).EntireRow.AutoFit"), 0u);
}

TEST(ExcelWriter, SpannedCellsMergeOnlyWhenAskedAndKeepTheirFormats) {
    for (const bool merge : {true, false}) {
        SCOPED_TRACE(merge);
        WriterRun run;
        run.options.mergeSpannedCells = merge;
        run.options.font = true;
        RecordBatch batch;
        batch.pages({3});
        auto& spanned = batch.add(0, 0, 0, "Title");
        spanned.columnSpan = 3;
        spanned.rowSpan = 5;  // clipped to the page's three rows
        spanned.alignment = 2;
        spanned.bold = 1;
        run.go(batch, 2);
        const auto& log = run.log;
        EXPECT_EQ(log.has("Range(A1:B3).Merge"), merge);
        EXPECT_TRUE(log.has("Range(A1:B3).HorizontalAlignment=3"));
        EXPECT_TRUE(log.has("Range(A1:B3).Font.Bold=1"));
    }
}

TEST(ExcelWriter, PageLabelsBreaksAndRemovedRows) {
    WriterRun run;
    run.options.markPages = true;
    run.options.rowsDeletedAtTop = 2;
    run.options.rowsDeletedAtBottom = 1;
    run.options.firstPage = 1;
    run.options.lastPage = 3;
    RecordBatch batch;
    batch.pages({40, 40, 40});
    batch.add(0, 0, 0, "10");
    batch.add(1, 0, 0, "11");
    batch.add(2, 0, 0, "12");
    run.go(batch, 1);
    const auto& log = run.log;
    EXPECT_TRUE(log.has("Range(A3).Value=Page 1"));
    EXPECT_TRUE(log.has("Range(A3).Interior.Color=C8C8C8"));
    EXPECT_TRUE(log.has("Range(A43).Value=Page 2"));
    EXPECT_TRUE(log.has("Range(A83).Value=Page 3"));
    EXPECT_TRUE(log.has("Sheet1.HPageBreaks.Add(A3)"));
    EXPECT_TRUE(log.has("Sheet1.HPageBreaks.Add(A43)"));
    EXPECT_TRUE(log.has("Sheet1.Cells(1,2)=10"));  // shifted right of the labels
    // The first page keeps its top rows; later pages lose two at the top, every page its last.
    const std::vector<std::string> deletions = {
        "Range(A40:A40).EntireRow.Delete(-4162)",   "Range(A40:A41).EntireRow.Delete(-4162)",
        "Range(A77:A77).EntireRow.Delete(-4162)",   "Range(A77:A78).EntireRow.Delete(-4162)",
        "Range(A114:A114).EntireRow.Delete(-4162)",
    };
    std::vector<std::string> seen;
    for (const auto& call : log.calls) {
        if (call.find("Delete") != std::string::npos) {
            seen.push_back(call);
        }
    }
    EXPECT_EQ(seen, deletions);
    EXPECT_LT(log.find("Range(A114:A114).EntireRow.Delete(-4162)"),
              log.find("SaveCopyAs(/tmp/out.xlsx)"));

    WriterRun single;
    single.options.markPages = true;
    RecordBatch one;
    one.pages({2});
    one.add(0, 0, 0, "a");
    single.go(one, 1);
    EXPECT_TRUE(single.log.has("Range(A1).Value=Page 1"));
    EXPECT_EQ(single.log.count("Sheet1.HPageBreaks"), 0u);
}

TEST(ExcelWriter, ListSeparatorProbe) {
    const struct {
        bool refuseComma;
        bool refuseSemicolon;
        char separator;
        std::int32_t limit;
    } cases[] = {
        {false, false, ',', 250},
        {true, false, ';', 250},
        {true, true, ';', 1},
    };
    for (const auto& c : cases) {
        FakeExcelSettings settings;
        settings.refuseComma = c.refuseComma;
        settings.refuseSemicolon = c.refuseSemicolon;
        FakeExcelLog log;
        FakeExcel excel(log, settings);
        CReportCore report;
        CExcelWriter writer(report, excel, {});
        std::string path = "/tmp/a.xlsx";
        std::int32_t rows = 0;
        writer.Start(path, rows, nullptr);
        EXPECT_EQ(writer.formats().listSeparator(), c.separator);
        EXPECT_EQ(writer.formats().rangeListLimit(), c.limit);
        writer.Abandon();
    }
}

TEST(ExcelWriter, SemicolonListsAfterTheCommaWasRefused) {
    WriterRun run;
    run.settings.refuseComma = true;
    run.options.font = true;
    RecordBatch batch;
    batch.pages({3});
    batch.add(0, 0, 0, "a").bold = 1;
    batch.add(0, 0, 2, "b").bold = 1;
    batch.add(0, 1, 0, "c").bold = 1;
    run.go(batch, 3);
    EXPECT_TRUE(run.log.has("Range(C1;A1:A2).Font.Bold=1"));
}

TEST(ExcelWriter, OldVersionKeepsTheNameAndTheSmallerSheets) {
    WriterRun run;
    run.settings.version = "11.0";
    run.settings.defaultSheets = 3;
    run.rowsPerWorksheet = 100000;
    RecordBatch batch;
    batch.pages({1});
    batch.add(0, 0, 0, "a");
    run.go(batch, 1);
    EXPECT_EQ(run.path, "/tmp/out.xls");
    EXPECT_FALSE(run.savedAs2007);
    EXPECT_EQ(run.rowsPerWorksheet, CExcelWriter::kRowLimit97);
}

TEST(ExcelWriter, FullSheetsMoveOnToDefaultSheetsThenAddNew) {
    WriterRun run;
    run.settings.defaultSheets = 3;
    run.rowsPerWorksheet = 1000;
    RecordBatch batch;
    batch.pages({600, 600, 1200, 600, 10});
    for (std::int32_t p = 0; p < 5; ++p) {
        batch.add(p, 0, 0, std::to_string(10 + p));
    }
    run.go(batch, 1);
    const auto& log = run.log;
    EXPECT_TRUE(log.has("Sheet1.Cells(1,1)=10"));
    EXPECT_TRUE(log.has("Sheet2.Cells(1,1)=11"));
    EXPECT_TRUE(log.has("Sheet3.Cells(1,1)=12"));  // more than 1,000 rows on an empty sheet
    EXPECT_TRUE(log.has("Sheet4.Cells(1,1)=13"));
    EXPECT_TRUE(log.has("Sheet4.Cells(601,1)=14"));
    EXPECT_EQ(log.count("Worksheets.Add"), 1u);
}

TEST(ExcelWriter, RefusedNumberFormatIsAFailure) {
    WriterRun run;
    run.settings.refuseNumberFormat = true;
    RecordBatch batch;
    batch.pages({1});
    batch.add(0, 0, 0, "12.5");
    try {
        run.go(batch, 1);
        FAIL() << "reported as success";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.code(), -1);
        EXPECT_NE(error.text().find("OTEFSNF"), std::string::npos);
        EXPECT_NE(error.text().find("Format: [0.0_ ]"), std::string::npos);
    }
    EXPECT_TRUE(run.log.has("Close"));
    EXPECT_TRUE(run.log.has("Quit"));
    EXPECT_FALSE(run.log.has("SaveCopyAs(/tmp/out.xlsx)"));
}

// A number no cell format can show (more than 30 decimals, or more than 15 significant digits)
// stays its text.
TEST(ExcelWriter, NumberWithEndlessDecimalsStaysText) {
    for (const std::string& text :
         {"0." + std::string(130, '5'), "0." + std::string(40, '0') + "5"}) {
        WriterRun run;
        RecordBatch batch;
        batch.pages({1});
        batch.add(0, 0, 0, text);
        run.go(batch, 1);
        EXPECT_TRUE(run.log.has("Range(A1:A1).Value=[" + text + "]")) << text;
        EXPECT_EQ(run.log.count("NumberFormat"), 0u) << text;
    }
}

TEST(ExcelWriter, FailedSaveIsAFailure) {
    WriterRun run;
    run.settings.failSave = true;
    RecordBatch batch;
    batch.pages({1});
    batch.add(0, 0, 0, "12");
    try {
        run.go(batch, 1);
        FAIL() << "reported as success";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.code(), -1);
        EXPECT_NE(error.text().find("OTEFXL4:Run Excel AS [The launching user]"), std::string::npos)
            << error.text();
        EXPECT_NE(error.text().find("disk full"), std::string::npos) << error.text();
    }
    EXPECT_TRUE(run.log.has("Close"));
    EXPECT_TRUE(run.log.has("Quit"));
}

TEST(ExcelWriter, PageBeyondTheSheetLimitIsAClearError) {
    WriterRun run;
    run.settings.version = "11.0";
    RecordBatch batch;
    batch.pages({70000});
    batch.add(0, 0, 0, "a");
    try {
        run.go(batch, 1);
        FAIL() << "rows dropped silently";
    } catch (const ConversionError& error) {
        EXPECT_NE(error.text().find("70000 rows"), std::string::npos) << error.text();
    }
    EXPECT_TRUE(run.log.has("Quit"));
}

TEST(ExcelWriter, RightToLeftReachesEverySheet) {
    WriterRun run;
    run.options.rightToLeft = true;
    run.rowsPerWorksheet = 2;
    RecordBatch batch;
    batch.pages({2, 2});
    const std::string link("Web\0https://x.org/a", 19);
    auto& web = batch.add(1, 0, 0, link);
    web.textLength = 3;
    web.kind = kKindLink;
    batch.add(0, 0, 0, "a");
    run.go(batch, 1);
    const auto& log = run.log;
    EXPECT_TRUE(log.has("Sheet2.Hyperlinks.Add(A1,https://x.org/a,Web)"));
    EXPECT_TRUE(log.has("Sheet1.DisplayRightToLeft=1"));
    EXPECT_TRUE(log.has("Sheet2.DisplayRightToLeft=1"));
}

// Links go to the web; a relative one joins the report's folder, and any other scheme is
// replaced by that folder, or the text has no link when the report has none. A local folder or
// file is linked as a file: URI.
TEST(ExcelWriter, LinksGoToTheWebOrTheReportsFolder) {
    const struct {
        std::string address;
        const char* base;
        const char* target;  // null for no link
    } cases[] = {
        {"https://x.org/a?b=1", "", "https://x.org/a?b=1"},
        {"HTTP://X.ORG/", "/r/", "HTTP://X.ORG/"},
        {"mailto:a@b.c", "https://example.org/reports/", "https://example.org/reports/"},
        {"javascript:alert(1)", "https://example.org/reports/", "https://example.org/reports/"},
        {"javascript:alert(1)", "", nullptr},
        {"file:///etc/passwd", "/home/u/reports/", "file:///home/u/reports/"},
        {"java\tscript:alert(1)", "", nullptr},
        {"page2.htm", "https://example.org/reports/", "https://example.org/reports/page2.htm"},
        {"/top.htm", "https://example.org/reports/", "https://example.org/top.htm"},
        {"//cdn.example.org/a", "https://example.org/reports/", "https://cdn.example.org/a"},
        {"//server/share", "/home/u/reports/", "file:///home/u/reports/"},
        {"page2.htm", "/home/u/reports", "file:///home/u/reports/page2.htm"},
        {"a%20b.htm", "/home/u/my r\xc3\xa9ports/", "file:///home/u/my%20r%C3%A9ports/a%20b.htm"},
        {"page2.htm", "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address + " against " + c.base);
        WriterRun run;
        run.options.baseFolder = c.base;
        RecordBatch batch;
        batch.pages({1});
        const std::string text = "Go" + std::string(1, '\0') + c.address;
        auto& link = batch.add(0, 0, 0, text);
        link.textLength = 2;
        link.kind = kKindLink;
        run.go(batch, 1);
        if (c.target == nullptr) {
            EXPECT_EQ(run.log.count("Sheet1.Hyperlinks.Add"), 0u);
        } else {
            EXPECT_TRUE(run.log.has(std::string("Sheet1.Hyperlinks.Add(A1,") + c.target + ",Go)"));
        }
        EXPECT_TRUE(run.log.has("Range(A1:A1).Value=[Go]"));
    }
}

}  // namespace
}  // namespace paginor
