#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "convert/conversion_driver.h"
#include "convert/write/excel_writer.h"
#include "convert/write/xlsx/part_text.h"
#include "convert/write/xlsx/workbook.h"
#include "core/report_core.h"
#include "tests/convert/convert_harness.h"
#include "tests/convert/report_texts.h"
#include "tests/convert/write/record_batch.h"
#include "tests/support/libre_office.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::RecordBatch;

class XlsxWorkbook : public testing::ScratchFolderTest {
protected:
    // A workbook of pages 1 to lastPage written to book.xlsx in the scratch folder.
    ExcelOutputOptions bookOptions(std::int32_t lastPage) const {
        ExcelOutputOptions o;
        o.fileFormat = ExportFileFormat::NativeExcel;
        o.firstPage = 1;
        o.lastPage = lastPage;
        o.outputPath = (m_dir / "book.xlsx").string();
        return o;
    }

    // The workbook as the dump script reads it through openpyxl, one fact a line.
    std::vector<std::string> dump(const fs::path& book) const {
        const std::string text =
            testing::runCommand("/usr/bin/python3 " + std::string(PAGINOR_TESTS_DIR) +
                                "/convert/write/dump_xlsx.py " + book.string() + " 2>&1");
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + "\n";
    }
    return text;
}

TEST_F(XlsxWorkbook, OpenpyxlReadsEveryKindOfCell) {
    // A 1x1 PNG.
    testing::runCommand(
        "/usr/bin/python3 -c \"import base64; open('" + (m_dir / "dot.png").string() +
        "', 'wb').write(base64.b64decode('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HA"
        "wCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII='))\"");
    CReportCore report;
    ExcelWriterOptions options;
    options.font = true;
    options.colour = true;
    options.textFormatDetection = true;
    options.markPages = true;
    options.mergeSpannedCells = true;
    options.images = true;
    options.rightToLeft = true;
    options.password = "pw";
    options.html = false;
    options.firstPage = 1;
    options.lastPage = 2;
    options.baseFolder = "https://example.org/reports/";
    options.fetchLinkedFile = [this](std::string_view) { return (m_dir / "dot.png").string(); };
    auto application = StartXlsxApplication();
    CExcelWriter writer(report, *application, options);
    std::string path = (m_dir / "book.xls").string();
    std::int32_t rows = 4;
    bool savedAs2007 = false;
    writer.Start(path, rows, &savedAs2007);

    RecordBatch batch;
    batch.pages({3, 4});
    auto& title = batch.add(0, 0, 0, "Sales");
    title.columnSpan = 3;
    title.alignment = 2;
    title.bold = 1;
    title.fontSize = 14;
    title.fontName = "Arial";
    batch.add(0, 1, 0, "0123");
    batch.add(0, 1, 1, "1,234.50");
    auto& red = batch.add(0, 1, 2, "-42");
    red.fontColour = 0x0000FF;  // red in the engine's order
    red.backgroundColour = 0xFFCC99;
    red.framed = 1;
    batch.add(0, 2, 0, "=SUM(A1)");
    batch.add(0, 2, 1, "03/25/2004");
    batch.add(0, 2, 2, "1234567890123456");
    const std::string linkText("Next\0page2.htm", 14);
    auto& link = batch.add(1, 0, 0, linkText);
    link.textLength = 4;
    link.kind = kKindLink;
    const std::string mailText("Mail\0mailto:a@b.c", 17);
    auto& mail = batch.add(1, 0, 1, mailText);
    mail.textLength = 4;
    mail.kind = kKindLink;
    auto& picture = batch.add(1, 1, 0, "logo.png");
    picture.kind = kKindImage;
    picture.size = (30u << 16) | 20u;
    batch.add(1, 2, 1, std::string(60, 'w'));
    batch.write(writer, 1, 3);
    writer.Finish(path);

    EXPECT_EQ(path, (m_dir / "book.xlsx").string());
    EXPECT_TRUE(savedAs2007);
    EXPECT_EQ(rows, 4);
    const auto lines = dump(path);
    const std::string all = joined(lines);
    for (const std::string expected : {
             "sheets:Sheet1,Sheet2",
             "active:Sheet1",
             "sheet:Sheet1 rtl=1 protected=1",
             "sheet:Sheet2 rtl=1 protected=1",
             "merge:B1:D1",
             "cell:A1|s|'Page 1'|General|fill=C8C8C8",
             "cell:B1|s|'Sales'|General|bold|font=Arial|size=14|align=center",
             "cell:B2|s|'0123'|General",
             "cell:C2|n|1234.5|#,##0.00_ ",
             "cell:D2|n|-42|0_ |color=FF0000|fill=99CCFF|border=thin",
             "cell:B3|s|'=SUM(A1)'|General",
             "cell:C3|d|datetime.datetime(2004, 3, 25, 0, 0)|mm/dd/yyyy",
             "cell:D3|s|'1234567890123456'|General",
             "cell:A1|s|'Page 2'|General|fill=C8C8C8",
             "cell:B1|s|'Next'|General|link=https://example.org/reports/page2.htm",
             "cell:C1|s|'Mail'|General|link=https://example.org/reports/",
             "image:B2",
         }) {
        EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << all;
    }
    EXPECT_NE(all.find("cell:C3|s|'wwww"), std::string::npos) << all;
    EXPECT_NE(all.find("|wrap"), std::string::npos) << all;
    EXPECT_EQ(files(), (std::vector<std::string>{"book.xlsx", "dot.png"}));
}

// A cell longer than a workbook cell holds is cut at its limit instead of failing the export.
TEST_F(XlsxWorkbook, OverlongTextIsCutAtTheCellLimit) {
    CReportCore report;
    auto application = StartXlsxApplication();
    CExcelWriter writer(report, *application, {});
    std::string path = (m_dir / "long.xlsx").string();
    std::int32_t rows = 0;
    writer.Start(path, rows, nullptr);
    RecordBatch batch;
    batch.pages({2});
    batch.add(0, 0, 0, std::string(40000, '\xE9'));  // e acute in windows-1252
    batch.add(0, 1, 0, "after");
    batch.write(writer, 1, 1);
    writer.Finish(path);
    EXPECT_EQ(testing::runCommand(
                  "/usr/bin/python3 -c \"import openpyxl; s = openpyxl.load_workbook('" + path +
                  "').active; v = s['A1'].value; print(len(v), set(v), "
                  "s['A2'].value)\""),
              "32767 {'\u00e9'} after\n");
}

// The limit counts UTF-16 units as the spreadsheet program does: a text of 20,000 characters
// outside the BMP, from UTF-8 and from references alike, is cut to 16,383 of them.
TEST_F(XlsxWorkbook, CellLimitCountsUtf16Units) {
    std::string faces;
    std::string references;
    for (int i = 0; i < 20000; ++i) {
        faces += "\xF0\x9F\x98\x80";  // U+1F600
        references += "&#128512;";
    }
    const fs::path report = m_dir / "report.htm";
    std::ofstream(report, std::ios::binary)
        << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
           "charset=utf-8\"></head><body><!--9876543210_PageMark_Head--><table width=\"300\">"
           "<tr><td width=\"100\">a</td><td width=\"100\">b</td><td width=\"100\">c</td></tr>"
           "<tr><td>"
        << faces << "</td><td>" << references
        << "</td><td>after</td></tr></table><!--9876543210_PageMark_Foot-->"
           "</body></html>";
    CReportCore core;
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    ExcelOutputOptions o = bookOptions(1);
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(testing::packageFaults(o.outputPath), "");
    EXPECT_EQ(testing::runCommand(
                  "/usr/bin/python3 -c \"import sys, openpyxl\n"
                  "rows = openpyxl.load_workbook(sys.argv[1]).active.iter_rows(values_only=True)\n"
                  "row = list(rows)[1]\n"
                  "for v in row: print(len(v), len(v.encode('utf-16-le')) // 2, set(v) if len(v) > "
                  "9 else v)\" '" +
                  o.outputPath + "' 2>&1"),
              "16383 32766 {'\U0001f600'}\n16383 32766 {'\U0001f600'}\n5 5 after\n");
}

TEST_F(XlsxWorkbook, RemovedRowsMoveEverythingBelowThemUp) {
    CReportCore report;
    ExcelWriterOptions options;
    options.markPages = true;
    options.mergeSpannedCells = true;
    options.rowsDeletedAtTop = 1;
    options.rowsDeletedAtBottom = 1;
    options.firstPage = 1;
    options.lastPage = 2;
    auto application = StartXlsxApplication();
    CExcelWriter writer(report, *application, options);
    std::string path = (m_dir / "book.xlsx").string();
    std::int32_t rows = 0;
    writer.Start(path, rows, nullptr);
    RecordBatch batch;
    batch.pages({4, 4});
    for (std::int32_t p = 0; p < 2; ++p) {
        for (std::int32_t r = 0; r < 4; ++r) {
            batch.add(p, r, 0, std::to_string((p + 1) * 10 + r));
        }
        auto& wide = batch.add(p, 1, 1, "span");
        wide.rowSpan = 2;
    }
    batch.write(writer, 1, 2);
    writer.Finish(path);
    const auto lines = dump(path);
    const std::string all = joined(lines);
    // Page 1 loses its last row; page 2 its first and last.
    for (const std::string expected :
         {"cell:B1|n|10|0_ |align=left", "cell:B2|n|11|0_ |align=left",
          "cell:B3|n|12|0_ |align=left", "cell:B4|n|21|0_ |align=left",
          "cell:B5|n|22|0_ |align=left", "merge:C2:C3", "merge:C4:C5",
          "cell:A2|s|'Page 1'|General|fill=C8C8C8", "cell:A4|s|'Page 2'|General|fill=C8C8C8",
          "break:1", "break:3"}) {
        EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << all;
    }
    EXPECT_EQ(all.find("13"), std::string::npos) << all;
    EXPECT_EQ(all.find("|20|"), std::string::npos) << all;
}

TEST_F(XlsxWorkbook, NativeExcelOfAFixtureReadsBackInLibreOffice) {
    CReportCore core;
    const fs::path report = m_dir / "report.htm";
    fs::copy_file(fs::path(PAGINOR_CONVERT_FIXTURES) / "sales_report.htm", report);
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    ExcelOutputOptions o;
    o.fileFormat = ExportFileFormat::NativeExcel;
    o.firstPage = 1;
    o.lastPage = 3;
    o.outputPath = (m_dir / "book.xls").string();
    o.textFormatDetection = true;
    std::string written;
    o.writtenPath = &written;
    bool savedAs2007 = false;
    o.savedAs2007 = &savedAs2007;
    std::vector<int> shown;
    o.mainWindowProgress = [&](int percent) { shown.push_back(percent); };
    std::string step = "Try_Start";
    o.stepBuffer = &step;
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(step, "FL_Excel2000_Loop_End");
    EXPECT_EQ(written, (m_dir / "book.xlsx").string());
    EXPECT_TRUE(savedAs2007);
    EXPECT_EQ(shown, (std::vector<int>{33, 66, 100, 0}));
    std::string failure;
    const std::string csv =
        convertWithLibreOffice(written, m_dir.string(), kLibreOfficeCsv, failure);
    ASSERT_FALSE(csv.empty()) << failure;
    EXPECT_EQ(readText(csv),
              "Sales Report,,Page 1 of 3\n"
              "Region,Product,Amount\n"
              "North,Bolt,\"12\"\n"
              "North,Nut & Washer,\"7\"\n"
              "Printed by Paginor,,\n"
              "Sales Report,,Page 2 of 3\n"
              "Region,Product,Amount\n"
              "South,Bolt M8,\"15\"\n"
              ",,\"-3\"\n"
              "South,Total,\"12\"\n"
              "Printed by Paginor,,\n"
              "Sales Report,,Page 3 of 3\n"
              "Region,Product,Amount\n"
              "West,Screw pack,\"1200\"\n"
              "Printed by Paginor,,\n");
}

TEST_F(XlsxWorkbook, AutoSelectWritesAWorkbookWithTheBuiltInApplication) {
    CReportCore core;
    const fs::path report = m_dir / "report.htm";
    fs::copy_file(fs::path(PAGINOR_CONVERT_FIXTURES) / "sales_report.htm", report);
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    ExcelOutputOptions o;
    o.fileFormat = ExportFileFormat::AutoSelect;
    o.firstPage = 1;
    o.lastPage = 3;
    o.outputPath = (m_dir / "book.xls").string();
    std::string written;
    o.writtenPath = &written;
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(written, (m_dir / "book.xlsx").string());
    EXPECT_EQ(testing::packageFaults(written), "");
    EXPECT_EQ(files(), (std::vector<std::string>{"book.xlsx", "report.htm"}));
}

// An HTML report whose every page spans cells over rows and columns: a title over two columns, a
// region over two rows, and amounts whose shortest forms differ from 16 digits.
std::string spannedReport(int pages) {
    std::string text =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\"></head><body>";
    for (int p = 1; p <= pages; ++p) {
        text += "<table width=\"300\"><tr><td width=\"200\" colspan=2>Stock of page " +
                std::to_string(p) +
                "</td><td width=\"100\">Total</td></tr><tr><td width=\"100\" rowspan=2>Region " +
                std::to_string(p) +
                "</td><td width=\"100\">79.99</td><td width=\"100\">0.1</td></tr><tr><td "
                "width=\"100\">67.15</td><td width=\"100\">" +
                std::to_string(p) + ".07</td></tr></table>";
    }
    return text + "</body></html>";
}

// Every spanned cell is one merge of the saved file, its value in its first cell, whether the rows
// were made on one thread or on several, and with rows deleted around them.
TEST_F(XlsxWorkbook, EveryMergeIsInTheSavedFile) {
    constexpr int kPages = 300;
    const fs::path report = m_dir / "spanned.htm";
    std::ofstream(report) << spannedReport(kPages);
    CReportCore core;
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    ASSERT_EQ(core.pageTable().size(), static_cast<std::size_t>(kPages));
    for (const std::int32_t threads : {1, 4}) {
        SCOPED_TRACE(threads);
        ExcelOutputOptions o = bookOptions(kPages);
        o.mergeSpannedCells = true;
        o.rowsPerWorksheet = 500;
        o.threads = threads;
        std::string written;
        o.writtenPath = &written;
        EXPECT_EQ(OutputToExcelFile(core, o), 0);
        EXPECT_EQ(testing::packageFaults(written), "");
        // Each page's title over A:B of its first row and region over A of its next two.
        const std::string check = testing::runCommand(
            "/usr/bin/python3 -c \"import openpyxl\n"
            "book = openpyxl.load_workbook('" +
            written +
            "')\n"
            "page = 0\n"
            "bad = []\n"
            "for sheet in book.worksheets:\n"
            "    merges = sorted((m.min_row, m.min_col, m.max_row, m.max_col) for m in "
            "sheet.merged_cells.ranges)\n"
            "    for top in range(1, sheet.max_row + 1, 3):\n"
            "        page += 1\n"
            "        want = [(top, 1, top, 2), (top + 1, 1, top + 2, 1)]\n"
            "        if not set(want) <= set(merges): bad.append(('missing', page, want))\n"
            "        if sheet.cell(top, 1).value != 'Stock of page %d' % page: "
            "bad.append(('title', page))\n"
            "        if sheet.cell(top + 1, 1).value != 'Region %d' % page: "
            "bad.append(('region', page))\n"
            "    if len(merges) != 2 * (sheet.max_row // 3): bad.append(('count', len(merges)))\n"
            "print(page, bad[:5])\"");
        EXPECT_EQ(check, std::to_string(kPages) + " []\n");
    }
}

// A temporary folder that fills up fails the export with the system's words, leaving the target
// as it was and nothing behind. The folder is a small file system of its own when the test may
// mount one, else every file of the process is held to a small size, which the workbook's
// temporary file meets first.
TEST_F(XlsxWorkbook, FullTemporaryFolderFailsTheExport) {
    const fs::path report = m_dir / "report.htm";
    std::ofstream(report) << testing::htmlReport(1500);
    const fs::path temporary = m_dir / "tmp";
    fs::create_directory(temporary);
    const bool mounted = ::mount("tmpfs", temporary.c_str(), "tmpfs", 0, "size=64k") == 0;
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const auto saved = std::getenv("TMPDIR") != nullptr ? std::string(std::getenv("TMPDIR")) : "";
    setenv("TMPDIR", temporary.c_str(), 1);
    std::ofstream(m_dir / "book.xlsx") << "old";
    CReportCore core;
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    if (!mounted) {
        rlimit small = before;
        small.rlim_cur = 64 * 1024;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        signal(SIGXFSZ, SIG_IGN);
    }
    ExcelOutputOptions o = bookOptions(static_cast<std::int32_t>(core.pageTable().size()));
    o.threads = 4;
    std::string failure;
    try {
        OutputToExcelFile(core, o);
    } catch (const ConversionError& error) {
        failure = error.text();
    }
    if (mounted) {
        ::umount(temporary.c_str());
    } else {
        setrlimit(RLIMIT_FSIZE, &before);
        signal(SIGXFSZ, SIG_DFL);
    }
    if (saved.empty()) {
        unsetenv("TMPDIR");
    } else {
        setenv("TMPDIR", saved.c_str(), 1);
    }
    EXPECT_NE(failure.find(mounted ? "No space left on device" : "File too large"),
              std::string::npos)
        << failure;
    EXPECT_NE(failure.find(temporary.string()), std::string::npos) << failure;
    EXPECT_TRUE(readText(m_dir / "book.xlsx") == "old") << "the target was replaced";
    EXPECT_EQ(files(), (std::vector<std::string>{"book.xlsx", "report.htm", "tmp"}));
    EXPECT_TRUE(fs::is_empty(temporary));
}

// A batch made ahead of its turn with conventions the batches before it changed is made again by
// the writer: the first batch decides that days come first, the second was made before that was
// known, and its date still reads day first. One made with the conventions that hold is placed.
TEST_F(XlsxWorkbook, BatchesMadeWithOtherConventionsAreMadeAgain) {
    CReportCore report;
    ExcelWriterOptions options;
    options.textFormatDetection = true;
    auto application = StartXlsxApplication();
    CExcelWriter writer(report, *application, options);
    std::string path = (m_dir / "book.xlsx").string();
    std::int32_t rows = 0;
    writer.Start(path, rows, nullptr);
    RecordBatch first;
    first.pages({1});
    first.add(0, 0, 0, "25/03/2004");
    RecordBatch second;
    second.pages({1});
    second.add(0, 0, 0, "03/04/2004");
    RecordBatch third;
    third.pages({1});
    third.add(0, 0, 0, "05/06/2004");
    const tagCellDetectOptions starting = CExcelWriter::StartingConventions(options);
    ExcelMadeBatch early;
    ASSERT_TRUE(CExcelWriter::MakeBatch(*application, report, options, starting, starting, 2, false,
                                        false, second.pageCount(), 1, second.pageTable(),
                                        second.info(), second.recordCount(), early));
    tagCellDetectOptions dayFirst;
    dayFirst.dateOrder = 2;
    ExcelMadeBatch known;
    ASSERT_TRUE(CExcelWriter::MakeBatch(*application, report, options, dayFirst, dayFirst, 3, false,
                                        false, third.pageCount(), 1, third.pageTable(),
                                        third.info(), third.recordCount(), known));
    first.write(writer, 1, 1);
    EXPECT_EQ(writer.conventions().dateOrder, 2);
    second.write(writer, 2, 1, &early);
    third.write(writer, 3, 1, &known);
    writer.Finish(path);
    const auto lines = dump(path);
    for (const std::string expected :
         {"cell:A1|d|datetime.datetime(2004, 3, 25, 0, 0)|dd/mm/yyyy|align=left",
          "cell:A2|d|datetime.datetime(2004, 4, 3, 0, 0)|dd/mm/yyyy|align=left",
          "cell:A3|d|datetime.datetime(2004, 6, 5, 0, 0)|dd/mm/yyyy|align=left"}) {
        EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << joined(lines);
    }
}

// Numbers go in their shortest form that reads back as the same number.
TEST_F(XlsxWorkbook, NumbersAreWrittenInTheirShortestExactForm) {
    const fs::path report = m_dir / "spanned.htm";
    std::ofstream(report) << spannedReport(3);
    CReportCore core;
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    ExcelOutputOptions o = bookOptions(3);
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(testing::packageFaults(o.outputPath), "");
    const std::string sheet =
        testing::runCommand("unzip -p '" + o.outputPath + "' xl/worksheets/sheet1.xml");
    for (const char* value : {"<v>79.99</v>", "<v>0.1</v>", "<v>67.15</v>", "<v>3.07</v>"}) {
        EXPECT_NE(sheet.find(value), std::string::npos) << value << "\n" << sheet;
    }
    EXPECT_EQ(sheet.find("99999999"), std::string::npos) << sheet;
    EXPECT_EQ(sheet.find("00000001"), std::string::npos) << sheet;

    // Any number reads back as itself, amounts with their few decimals.
    const struct {
        double value;
        const char* text;
    } cases[] = {{79.99, "79.99"},
                 {-0.5, "-0.5"},
                 {1e6, "1000000"},
                 {0.000125, "0.000125"},
                 {1234567.891, "1234567.891"},
                 {123456789012345.0, "123456789012345"}};
    for (const auto& c : cases) {
        char digits[32];
        const char* end = xlsx::formatNumber(digits, c.value);
        EXPECT_EQ(std::string_view(digits, static_cast<std::size_t>(end - digits)), c.text);
    }
    std::uint64_t seed = 88172645463325252ull;
    for (int i = 0; i < 100000; ++i) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        double value = 0;
        if (i % 2 == 0) {
            std::memcpy(&value, &seed, sizeof value);
            if (!std::isfinite(value)) {
                continue;
            }
        } else {
            value =
                static_cast<double>(seed % 100000000) / std::pow(10.0, static_cast<int>(seed % 9));
        }
        char digits[32];
        const char* end = xlsx::formatNumber(digits, value);
        double back = 0;
        std::from_chars(digits, end, back);
        ASSERT_EQ(back, value) << std::string_view(digits, static_cast<std::size_t>(end - digits));
    }
}

// Characters the report's code page lacks arrive as references and go in as themselves.
TEST_F(XlsxWorkbook, CharacterReferencesBecomeTheirCharacters) {
    const fs::path report = m_dir / "report.htm";
    std::ofstream(report, std::ios::binary)
        << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
           "charset=windows-1250\"></head><body><!--9876543210_PageMark_Head-->"
           "<table width=\"400\"><tr><td width=\"200\">&#321;\xf3"
           "d&#378; depot</td><td width=\"200\">&#x20AC; &#1046;</td></tr></table>"
           "<!--9876543210_PageMark_Foot--></body></html>";
    CReportCore core;
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    ExcelOutputOptions o = bookOptions(1);
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    const std::vector<std::string> lines = dump(m_dir / "book.xlsx");
    const auto has = [&](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    };
    EXPECT_TRUE(
        has("\xC5\x81\xC3\xB3"
            "d\xC5\xBA depot"))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(has("\xE2\x82\xAC \xD0\x96")) << ::testing::PrintToString(lines);
    EXPECT_FALSE(has("&#")) << ::testing::PrintToString(lines);
}

TEST_F(XlsxWorkbook, FailedExportLeavesTheTargetAndNoTemporaryFile) {
    CReportCore core;
    const fs::path report = m_dir / "report.htm";
    fs::copy_file(fs::path(PAGINOR_CONVERT_FIXTURES) / "sales_report.htm", report);
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    std::ofstream(m_dir / "book.xlsx") << "old";
    std::atomic<std::int32_t> cancel{1};
    ExcelOutputOptions o;
    o.fileFormat = ExportFileFormat::AutoSelect;
    o.firstPage = 1;
    o.lastPage = 3;
    o.outputPath = (m_dir / "book.xlsx").string();
    o.cancel = &cancel;
    try {
        OutputToExcelFile(core, o);
        FAIL() << "a cancelled export succeeded";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.code(), 19);
    }
    EXPECT_EQ(readText(m_dir / "book.xlsx"), "old");
    EXPECT_EQ(files(), (std::vector<std::string>{"book.xlsx", "report.htm"}));
}

// Single cells read their text as an en-US user's entry would.
TEST_F(XlsxWorkbook, EnteredTextsBecomeNumbersDatesOrText) {
    const struct {
        const char* text;
        const char* fact;
    } cases[] = {
        {"1,234.50", "n|1234.5|#,##0.00"},
        {"$1,234", "n|1234|\"$\"#,##0"},
        {"(12)", "n|-12|General"},
        {"-0.5", "n|-0.5|General"},
        {"12%", "n|0.12|0%"},
        {"0123", "n|123|General"},
        {"1,23", "s|'1,23'|General"},
        {"12,345,6", "s|'12,345,6'|General"},
        {"1234567890123456", "s|'1234567890123456'|General"},
        {"123456789012345", "n|123456789012345|General"},
        {"1.5000000000000000", "n|1.5|General"},
        {"=A1+1", "s|'=A1+1'|General"},
        {"1/2/04", "d|datetime.datetime(2004, 1, 2, 0, 0)|m/d/yyyy"},
        {"2/30/2004", "s|'2/30/2004'|General"},
        {"25/03/2004", "s|'25/03/2004'|General"},
        {"12 apples", "s|'12 apples'|General"},
    };
    auto application = StartXlsxApplication();
    ExcelWorkbook& book = application->WorkbooksAdd();
    ExcelWorksheet& sheet = book.WorksheetsItem(1);
    std::int32_t row = 1;
    for (const auto& c : cases) {
        sheet.CellsItem(row++, 1, c.text);
    }
    sheet.Range("B1")->SetNumberFormat("@");
    sheet.CellsItem(1, 2, "0123");
    const fs::path path = m_dir / "entry.xlsx";
    book.SaveCopyAs(path.string());
    const auto lines = dump(path);
    const std::string all = joined(lines);
    row = 1;
    for (const auto& c : cases) {
        const std::string expected = "cell:A" + std::to_string(row++) + "|" + c.fact;
        EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << all;
    }
    EXPECT_TRUE(contains(lines, "cell:B1|s|'0123'|@")) << all;
}

// The xlsx workbook and SpreadsheetML type the same texts the same way: dates of every form the
// report writes, numbers by the conventions the report shows, and what cannot be read safely as
// text.
TEST_F(XlsxWorkbook, ValuesAreTypedAsInSpreadsheetMl) {
    const struct {
        const char* text;
        const char* fact;
    } cases[] = {
        {"1,234.50", "n|1234.5"},
        {"12/28/2022", "d|2022-12-28"},
        {"28/12/2022", "d|2022-12-28"},
        {"28-DEC-2022", "d|2022-12-28"},
        {"28-Dec-22", "d|2022-12-28"},
        {"28-dec-2022", "d|2022-12-28"},
        {"2022-12-28", "d|2022-12-28"},
        {"28.12.2022", "d|2022-12-28"},
        {"28-12-2022", "d|2022-12-28"},
        {"2022.12.28", "d|2022-12-28"},
        {"12/28/22", "d|2022-12-28"},
        {"28/12/22", "d|2022-12-28"},
        {"03/04/1850", "s|03/04/1850"},
        {"12,34", "s|12,34"},
        {"$1,234.50", "n|1234.5"},
        {"+42", "n|42.0"},
        {"1.234,56", "s|1.234,56"},
        {"(1,234)", "n|-1234.0"},
        {"-0.5", "n|-0.5"},
        {"0123", "s|0123"},
        {"12%", "s|12%"},
        {"1234567890123456", "s|1234567890123456"},
    };
    std::string html =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\"></head><body><!--9876543210_PageMark_Head-->"
        "<table width=\"200\">";
    for (const auto& c : cases) {
        html += std::string("<tr><td width=\"200\">") + c.text + "</td></tr>";
    }
    html += "</table><!--9876543210_PageMark_Foot--></body></html>";
    const fs::path report = m_dir / "report.htm";
    std::ofstream(report, std::ios::binary) << html;
    CReportCore core;
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    std::string expected;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        expected += "A" + std::to_string(i + 1) + "|" + cases[i].fact + "\n";
    }
    for (const auto& [format, name] : {std::pair{ExportFileFormat::NativeExcel, "book.xlsx"},
                                       std::pair{ExportFileFormat::SpreadsheetMl, "book.xml"}}) {
        SCOPED_TRACE(name);
        ExcelOutputOptions o;
        o.fileFormat = format;
        o.firstPage = 1;
        o.lastPage = 1;
        o.textFormatDetection = true;
        o.outputPath = (m_dir / name).string();
        EXPECT_EQ(OutputToExcelFile(core, o), 0);
        EXPECT_EQ(
            testing::runCommand("/usr/bin/python3 " + std::string(PAGINOR_TESTS_DIR) +
                                "/convert/write/workbook_values.py " + o.outputPath + " 2>&1"),
            expected);
    }
}

// A ruled table keeps its rules on every cell, the empty ones and an empty last row included.
TEST_F(XlsxWorkbook, EveryCellOfARuledTableHasItsBorders) {
    const auto box = [](int top, int left, int width, int height) {
        return "<div style=\"position:absolute; top:" + std::to_string(top) +
               "pt; left:" + std::to_string(left) + "pt; width:" + std::to_string(width) +
               "pt; height:" + std::to_string(height) + "pt; border-style:solid\"></div>\r\n";
    };
    const auto span = [](int top, int left, const char* text) {
        return "<span class=\"c3\" id=\"c3\" style=\"position:absolute; top:" +
               std::to_string(top) + "pt; left:" + std::to_string(left) + "pt; width:90pt\">" +
               text + "</span>\r\n";
    };
    std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n<style>#c3 {font:9pt Arial; color:#000000}</style>\r\n"
        "</head>\r\n<body>\r\n<div style=\"position:absolute; top:0pt; left:0pt\">"
        "<!--9876543210_PageMark_Head--></div>\r\n" +
        box(70, 36, 300, 60);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            html += box(70 + 20 * r, 36 + 100 * c, 100, 20);
        }
    }
    html += span(36, 36, "Stock Report") + span(74, 38, "Item") + span(74, 138, "Qty") +
            span(74, 238, "Price") + span(94, 38, "Bolt") + span(94, 238, "0.50");
    html +=
        "<div style=\"position:absolute; top:772pt; left:0pt\"><!--9876543210_PageMark_Foot-->"
        "</div>\r\n</body>\r\n</html>\r\n";
    const fs::path report = m_dir / "report.htm";
    std::ofstream(report, std::ios::binary) << html;
    CReportCore core;
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    ExcelOutputOptions o = bookOptions(1);
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    const auto lines = dump(o.outputPath);
    std::vector<std::string> bordered;
    for (const std::string& line : lines) {
        if (line.find("|border=thin") != std::string::npos) {
            bordered.push_back(line.substr(5, line.find('|') - 5));
        }
    }
    EXPECT_EQ(bordered,
              (std::vector<std::string>{"A2", "B2", "C2", "A3", "B3", "C3", "A4", "B4", "C4"}))
        << joined(lines);
}

// A report with a filled, ruled box of its own colour on each of 66,000 rows asks for more cell
// formats than the 64,000 a workbook holds: the workbook keeps to them, the rows past them taking
// the nearest colour held.
TEST_F(XlsxWorkbook, CellFormatsStayWithinTheWorkbookLimit) {
    constexpr int kRows = 66000;
    constexpr int kRowsPerPage = 100;
    std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n<style>#c3 {font:9pt Arial; color:#000000}</style>\r\n"
        "</head>\r\n<body>\r\n";
    const auto colourOf = [](int row) {
        // An odd multiplier: every row a colour of its own.
        return static_cast<std::uint32_t>(row) * 2654435761u % 0x1000000u;
    };
    char colour[8];
    for (int page = 0; page < kRows / kRowsPerPage; ++page) {
        const int pageTop = page * 1300;
        html += "<div style=\"position:absolute; top:" + std::to_string(pageTop) +
                "pt; left:0pt\"><!--9876543210_PageMark_Head--></div>\r\n";
        for (int r = 0; r < kRowsPerPage; ++r) {
            const int row = page * kRowsPerPage + r;
            const int top = pageTop + 10 + r * 12;
            std::snprintf(colour, sizeof colour, "%06X", colourOf(row));
            html +=
                "<div style=\"position:absolute; top:" + std::to_string(top) +
                "pt; left:36pt; width:100pt; height:12pt; border-style:solid; background-color:#" +
                colour +
                "\"></div>\r\n<span class=\"c3\" id=\"c3\" style=\"position:absolute; top:" +
                std::to_string(top + 1) + "pt; left:38pt; width:90pt\">R" + std::to_string(row) +
                "</span>\r\n";
        }
        html += "<div style=\"position:absolute; top:" + std::to_string(pageTop + 1250) +
                "pt; left:0pt\"><!--9876543210_PageMark_Foot--></div>\r\n";
    }
    html += "</body>\r\n</html>\r\n";
    const fs::path report = m_dir / "filled.htm";
    std::ofstream(report, std::ios::binary) << html;
    CReportCore core;
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    ExcelOutputOptions o = bookOptions(core.GetPageCount());
    o.colour = true;
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(testing::packageFaults(o.outputPath), "");
    // Every row's fill as asked or, past the limit, near it; the formats held, to the limit.
    EXPECT_EQ(testing::runCommand(
                  "/usr/bin/python3 -c \"import sys, re, zipfile, openpyxl\n"
                  "styles = zipfile.ZipFile(sys.argv[1]).read('xl/styles.xml').decode()\n"
                  "print(re.search(r'<cellXfs count=.(\\d+)', styles).group(1))\n"
                  "exact = near = far = 0\n"
                  "for row in openpyxl.load_workbook(sys.argv[1], read_only=True).active.rows:\n"
                  "    for cell in row:\n"
                  "        if not isinstance(cell.value, str): continue\n"
                  "        n = int(cell.value[1:])\n"
                  "        want = n * 2654435761 % 0x1000000\n"
                  "        got = int(str(cell.fill.fgColor.rgb)[-6:], 16)\n"
                  "        d = max(abs((want >> s & 255) - (got >> s & 255)) for s in (16, 8, 0))\n"
                  "        if d == 0: exact += 1\n"
                  "        elif d <= 48: near += 1\n"
                  "        else: far += 1\n"
                  "print(exact > 63000, exact + near, far)\" '" +
                  o.outputPath + "' 2>&1"),
              "64000\nTrue " + std::to_string(kRows) + " 0\n");
}

// A worksheet holds 65,530 links: the links past them on one sheet are left out, their cells
// keeping their texts, and the export that ends says how many; sheets cut shorter keep all.
TEST_F(XlsxWorkbook, LinksPastTheSheetLimitAreLeftOutAndCounted) {
    constexpr int kLinks = 65540;
    constexpr int kRowsPerPage = 1000;
    std::ofstream out(m_dir / "links.htm", std::ios::binary);
    out << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
           "charset=windows-1252\"></head><body>";
    for (int first = 0; first < kLinks; first += kRowsPerPage) {
        out << "<!--9876543210_PageMark_Head--><table width=\"200\">";
        for (int n = first; n < std::min(first + kRowsPerPage, kLinks); ++n) {
            out << "<tr><td width=\"200\"><a href=\"http://example.com/" << n << "\">link " << n
                << "</a></td></tr>";
        }
        out << "</table><!--9876543210_PageMark_Foot-->";
    }
    out << "</body></html>";
    out.close();
    CReportCore core;
    core.Init((m_dir / "links.htm").string(), nullptr, false, nullptr, nullptr, nullptr);
    const std::string book = (m_dir / "book.xlsx").string();
    for (const auto& [rowsPerWorksheet, notice, held] :
         {std::tuple{0,
                     "The workbook " + book +
                         " is written, but 10 links were left out: a worksheet holds at most "
                         "65,530 links. Their cells keep their texts.",
                     "65530 65540"},
          std::tuple{40000, std::string(), "40000 65540"}}) {
        SCOPED_TRACE(rowsPerWorksheet);
        ExcelOutputOptions o;
        o.fileFormat = ExportFileFormat::NativeExcel;
        o.firstPage = 1;
        o.lastPage = core.GetPageCount();
        o.outputPath = book;
        o.rowsPerWorksheet = rowsPerWorksheet;
        std::string told = "not cleared";
        o.notice = &told;
        EXPECT_EQ(OutputToExcelFile(core, o), 0);
        EXPECT_EQ(told, notice);
        EXPECT_EQ(testing::packageFaults(book), "");
        // The first sheet's links, and the texts of all sheets.
        EXPECT_EQ(testing::runCommand(
                      "/usr/bin/python3 -c \"import sys, zipfile, openpyxl\n"
                      "sheet = zipfile.ZipFile(sys.argv[1]).read('xl/worksheets/sheet1.xml')\n"
                      "book = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
                      "texts = [c.value for s in book.worksheets for r in s.rows for c in r]\n"
                      "print(sheet.count(b'<hyperlink '), "
                      "sum(t == 'link %d' % i for i, t in enumerate(texts)))\" '" +
                      book + "' 2>&1"),
                  std::string(held) + "\n");
    }
}

TEST_F(XlsxWorkbook, ApplicationThatCannotStartFailsTheExport) {
    CReportCore core;
    const fs::path report = m_dir / "report.htm";
    fs::copy_file(fs::path(PAGINOR_CONVERT_FIXTURES) / "sales_report.htm", report);
    core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
    for (const ExportFileFormat format :
         {ExportFileFormat::AutoSelect, ExportFileFormat::NativeExcel}) {
        ExcelOutputOptions o;
        o.fileFormat = format;
        o.firstPage = 1;
        o.lastPage = 3;
        o.outputPath = (m_dir / "book.xlsx").string();
        o.excel = []() -> std::unique_ptr<ExcelApplication> {
            throw AutomationError("no display");
        };
        try {
            OutputToExcelFile(core, o);
            FAIL() << "the export succeeded";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), -1);
            EXPECT_TRUE(error.text().starts_with(
                "Unable to access Microsoft Excel runtime. Please contact "))
                << error.text();
        }
        EXPECT_EQ(files(), (std::vector<std::string>{"report.htm"}));
    }
}

// Three pages of four rows whose last rows are deleted at the end, with merges, links, a bold
// cell, page breaks and fitted widths; settled tells the workbook after each page.
void buildPagedSheet(ExcelApplication& application, const std::string& path, bool settled) {
    ExcelWorkbook& book = application.WorkbooksAdd();
    ExcelWorksheet& sheet = book.WorksheetsItem(1);
    std::vector<ExcelRowBlock> deleted;
    for (std::int32_t page = 0; page < 3; ++page) {
        const std::int32_t top = page * 4 + 1;
        sheet.CellsItem(top, 1, "Heading of page " + std::to_string(page + 1));
        sheet.Range("A" + std::to_string(top + 1), "B" + std::to_string(top + 1))->Merge();
        sheet.CellsItem(top + 1, 1, "span");
        sheet.CellsItem(top + 2, 2, std::to_string(1000 * (page + 1)) + ".5");
        sheet.HyperlinksAdd("C" + std::to_string(top + 2),
                            "https://example.com/" + std::to_string(page),
                            "link " + std::to_string(page));
        sheet.CellsItem(top + 3, 1, "dropped");
        sheet.Range("B" + std::to_string(top + 3))->SetFontBold(1);
        if (page > 0) {
            sheet.HPageBreaksAdd("A" + std::to_string(top));
        }
        deleted.push_back({top + 3, 1});
        if (settled) {
            sheet.RowsSettled(top + 4, deleted);
        }
    }
    for (std::int32_t i = 0; i < 3; ++i) {
        const std::string row = std::to_string(4 + i * 3);
        sheet.Range("A" + row, "A" + row)->EntireRowDelete(-4162);
    }
    sheet.Range("A1")->EntireColumnAutoFit();
    sheet.Range("B1")->EntireColumnAutoFit();
    book.SaveCopyAs(path);
    book.Close();
    application.Quit();
}

// Rows written out as soon as they are settled make the same workbook as rows written at the end.
TEST_F(XlsxWorkbook, SettledRowsWrittenEarlyMakeTheSameWorkbook) {
    auto application = StartXlsxApplication();
    const std::string early = (m_dir / "early.xlsx").string();
    const std::string late = (m_dir / "late.xlsx").string();
    buildPagedSheet(*application, early, true);
    buildPagedSheet(*application, late, false);
    const auto lines = dump(early);
    EXPECT_EQ(joined(lines), joined(dump(late)));
    for (const std::string expected :
         {"merge:A2:B2", "merge:A5:B5", "merge:A8:B8", "break:3", "break:6"}) {
        EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << joined(lines);
    }
    EXPECT_EQ(joined(lines).find("dropped"), std::string::npos) << joined(lines);
}

// A row once written takes nothing more: a clear error, never a silently lost value.
TEST_F(XlsxWorkbook, WrittenRowsRefuseLaterChanges) {
    auto application = StartXlsxApplication();
    ExcelWorkbook& book = application->WorkbooksAdd();
    ExcelWorksheet& sheet = book.WorksheetsItem(1);
    sheet.CellsItem(1, 1, "first");
    sheet.CellsItem(2, 1, "second");
    sheet.RowsSettled(2, {});
    EXPECT_THROW(sheet.CellsItem(1, 2, "late"), AutomationError);
    EXPECT_THROW(sheet.Range("A1")->SetFontBold(1), AutomationError);
    EXPECT_THROW(sheet.Range("A1:A2")->Merge(), AutomationError);
    EXPECT_THROW(sheet.HyperlinksAdd("A1", "https://example.com", "x"), AutomationError);
    sheet.CellsItem(2, 2, "still open");
    // A deletion of written rows that was not promised cannot be honoured.
    sheet.Range("A1")->EntireRowDelete(-4162);
    EXPECT_THROW(book.SaveCopyAs((m_dir / "book.xlsx").string()), AutomationError);
    EXPECT_EQ(files(), std::vector<std::string>{});
}

}  // namespace
}  // namespace paginor
