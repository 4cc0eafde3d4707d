#include <gtest/gtest.h>

#include "tests/convert/convert_harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "convert/conversion_driver.h"
#include "core/report_core.h"
#include "tests/convert/write/fake_excel.h"
#include "tests/support/libre_office.h"
#include "tests/support/report_generator.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;
using testing::readText;

constexpr const char kHeadMark[] = "<!--9876543210_PageMark_Head-->";
constexpr const char kFootMark[] = "<!--9876543210_PageMark_Foot-->";

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A marked HTML report whose cells are known: page p has a head row "P<p>|Item|Amount" and rows
// "R<p>.<r>|Item <r>|<p*1000+r>". Pages in narrow have a narrower first column.
struct MarkedReport {
    std::string html;
    std::vector<std::vector<std::string>> rows;  // every page's rows, in page order
};

MarkedReport makeMarkedReport(int pages, int rowsPerPage, const std::vector<int>& narrow = {}) {
    MarkedReport report;
    report.html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n<title>T</title>\r\n</head>\r\n<body>\r\n";
    for (int p = 1; p <= pages; ++p) {
        const bool isNarrow = std::find(narrow.begin(), narrow.end(), p) != narrow.end();
        const std::string head = "P" + std::to_string(p);
        report.html += std::string(kHeadMark) +
                       "<table width=\"440\" border=\"0\">\r\n<tr><td width=\"" +
                       (isNarrow ? "100" : "120") + "\">" + head + "</td><td width=\"" +
                       "200\">Item</td><td width=\"120\" align=\"right\">Amount</td></tr>\r\n";
        report.rows.push_back({head, "Item", "Amount"});
        for (int r = 1; r <= rowsPerPage; ++r) {
            const std::vector<std::string> cells = {
                "R" + std::to_string(p) + "." + std::to_string(r), "Item " + std::to_string(r),
                std::to_string(p * 1000 + r)};
            report.html += "<tr><td>" + cells[0] + "</td><td>" + cells[1] +
                           "</td><td align=\"right\">" + cells[2] + "</td></tr>\r\n";
            report.rows.push_back(cells);
        }
        report.html += "</table>" + std::string(kFootMark) + "\r\n";
    }
    report.html += "</body>\r\n</html>\r\n";
    return report;
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// A quoted field's text: the quotes around it gone and the doubled ones single.
std::string unquoted(const std::string& field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"') {
        return field;
    }
    std::string text;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        text.push_back(field[i]);
        i += field[i] == '"' ? 1 : 0;
    }
    return text;
}

// A delimited file as rows of cells; it begins with the UTF-8 mark.
std::vector<std::vector<std::string>> cellsOf(std::string text) {
    EXPECT_TRUE(text.starts_with(kUtf8Mark)) << text.substr(0, 10);
    if (text.starts_with(kUtf8Mark)) {
        text.erase(0, kUtf8Mark.size());
    }
    std::vector<std::vector<std::string>> rows;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        std::vector<std::string> cells;
        const std::string line = text.substr(start, end - start);
        for (std::size_t at = 0, tab;; at = tab + 1) {
            tab = line.find('\t', at);
            cells.push_back(unquoted(line.substr(at, tab == std::string::npos ? tab : tab - at)));
            if (tab == std::string::npos) {
                break;
            }
        }
        rows.push_back(std::move(cells));
    }
    return rows;
}

class OutputToExcel : public testing::ScratchFolderTest {
protected:
    void load(CReportCore& core, const std::string& html) {
        writeText(m_dir / "report.htm", html);
        core.Init((m_dir / "report.htm").string(), nullptr, false, nullptr, nullptr, nullptr);
    }

    ExcelOutputOptions options(ExportFileFormat format, std::int32_t first, std::int32_t last) {
        ExcelOutputOptions o;
        // No workbook application, as on a machine without one.
        o.excel = nullptr;
        o.fileFormat = format;
        o.firstPage = first;
        o.lastPage = last;
        o.outputPath = target().string();
        return o;
    }

    fs::path target() const { return m_dir / "out.dat"; }
};

TEST_F(OutputToExcel, DelimitedCellsMatchThePagesOfTheRange) {
    struct Case {
        const char* name;
        int pages;
        std::int32_t first;
        std::int32_t last;
        bool pageByPage;
        bool sameLayout;
        std::vector<int> narrow;
    };
    // 240 pages take two batches, the second with page 1 and the first with page 240 as
    // reference pages; a change of the width sum ends a batch and keeps the reference pages
    // of the other layout out.
    const Case cases[] = {
        {"two batches with reference pages", 240, 1, 240, false, false, {}},
        {"inner range without reference pages", 240, 2, 239, false, false, {}},
        {"page by page", 5, 1, 5, true, false, {}},
        {"layout changes", 12, 1, 12, false, true, {1, 5, 6, 12}},
        {"one page", 3, 2, 2, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MarkedReport report = makeMarkedReport(c.pages, 20, c.narrow);
        CReportCore core;
        load(core, report.html);
        ExcelOutputOptions o = options(ExportFileFormat::Delimited, c.first, c.last);
        o.pageByPage = c.pageByPage;
        o.sameLayoutBatches = c.sameLayout;
        EXPECT_EQ(OutputToExcelFile(core, o), 0);
        const auto first = report.rows.begin() + (c.first - 1) * 21;
        const std::vector<std::vector<std::string>> expected(first,
                                                             first + (c.last - c.first + 1) * 21);
        EXPECT_EQ(cellsOf(readText(target())), expected);
        EXPECT_EQ(files(), (std::vector<std::string>{"out.dat", "report.htm"}));
    }
}

TEST_F(OutputToExcel, ProgressStepAndStampOfASuccessfulConversion) {
    CReportCore core;
    load(core, makeMarkedReport(240, 2).html);
    ExcelOutputOptions o = options(ExportFileFormat::SpreadsheetMl, 1, 240);
    std::vector<int> shown;
    o.mainWindowProgress = [&](int percent) { shown.push_back(percent); };
    std::int32_t progress = -1;
    o.progress = &progress;
    std::string step = "Try_Start";
    o.stepBuffer = &step;
    std::time_t stamp = 0;
    o.activityStamp = &stamp;
    bool savedAs2007 = true;
    o.savedAs2007 = &savedAs2007;
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(shown, (std::vector<int>{50, 100, 0}));
    EXPECT_EQ(progress, 100);
    EXPECT_EQ(step, "FL_Convert_Proc1_End");
    EXPECT_NE(stamp, 0);
    EXPECT_FALSE(savedAs2007);
    EXPECT_EQ(core.errorCode(), 0);
}

TEST_F(OutputToExcel, SpreadsheetMlOfManyBatchesIsWellFormed) {
    CReportCore core;
    load(core, makeMarkedReport(240, 3).html);
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::AutoSelect, 1, 240)), 0);
    EXPECT_EQ(testing::runCommand("xmllint --noout " + target().string() + " 2>&1"), "");
    const std::string xml = readText(target());
    std::size_t rows = 0;
    for (std::size_t at = xml.find("<Row "); at != std::string::npos;
         at = xml.find("<Row ", at + 1)) {
        ++rows;
    }
    EXPECT_EQ(rows, 240u * 4);
    EXPECT_NE(xml.find(">R240.3<"), std::string::npos);
    EXPECT_EQ(xml.find("ss:RightToLeft"), std::string::npos);
}

// A decimal-comma, day-first list of pages 350 points wide, after a cover page of another width
// when cover is set: the cover is a batch of its own and decides nothing. Pages without dates
// come first when datesFrom is above 1.
std::string conventionReport(bool cover, int pages, int datesFrom = 1) {
    static const char* const kAmounts[] = {"1.234,56", "2,007", "12,50",
                                           "1.000",    "-7,25", "10.200,00"};
    static const char* const kDates[] = {"05/06/2022", "17/06/2022", "05/06/2022",
                                         "01/02/2022", "05/06/2022", "01/02/2022"};
    std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n</head>\r\n<body>\r\n";
    if (cover) {
        html += std::string(kHeadMark) +
                "<table width=\"500\">\r\n<tr><td width=\"500\">Annual statement</td></tr>\r\n"
                "<tr><td>Prepared for the board</td></tr>\r\n</table>" +
                kFootMark + "\r\n";
    }
    for (int p = 1; p <= pages; ++p) {
        html += std::string(kHeadMark) + "<table width=\"350\">\r\n";
        for (int r = 0; r < 6; ++r) {
            const std::string width = r == 0 ? " width=\"100\"" : "";
            html += "<tr><td" + width + ">Item " + std::to_string(p) + "." + std::to_string(r) +
                    "</td><td" + (r == 0 ? " width=\"150\"" : "") + " align=\"right\">" +
                    kAmounts[r] + "</td><td" + width + ">" + (p >= datesFrom ? kDates[r] : "-") +
                    "</td></tr>\r\n";
        }
        html += "</table>" + std::string(kFootMark) + "\r\n";
    }
    return html + "</body>\r\n</html>\r\n";
}

// The cells of the first sheet as openpyxl (xlsx) or an XML parser (SpreadsheetML) read them,
// "column|type|value", in sheet order; from is the first row taken.
std::vector<std::string> sheetValues(const std::string& book, int from = 1) {
    std::vector<std::string> values;
    std::istringstream in(testing::runCommand("/usr/bin/python3 " + std::string(PAGINOR_TESTS_DIR) +
                                              "/convert/write/workbook_values.py " + book +
                                              " 2>&1"));
    for (std::string line; std::getline(in, line);) {
        const std::size_t digits = line.find_first_of("0123456789");
        const std::size_t bar = line.find('|');
        if (digits == std::string::npos || bar == std::string::npos || digits > bar) {
            values.push_back("unreadable: " + line);
        } else if (std::stoi(line.substr(digits, bar - digits)) >= from) {
            values.push_back(line.substr(0, digits) + line.substr(bar));
        }
    }
    return values;
}

// The conventions are decided by the first cell that reveals them, whichever batch holds it: a
// cover page that is a batch of its own and decides nothing changes no value of the pages after
// it, in either workbook kind, on one thread or on eight.
TEST_F(OutputToExcel, ConventionsComeFromTheFirstCellThatRevealsThem) {
    CReportCore plain;
    CReportCore covered;
    writeText(m_dir / "plain.htm", conventionReport(false, 39));
    writeText(m_dir / "covered.htm", conventionReport(true, 39));
    plain.Init((m_dir / "plain.htm").string(), nullptr, false, nullptr, nullptr, nullptr);
    covered.Init((m_dir / "covered.htm").string(), nullptr, false, nullptr, nullptr, nullptr);
    ASSERT_EQ(covered.pageTable().size(), 40u);
    const std::vector<std::string> amounts = {"n|1234.56", "n|2.007", "n|12.5",
                                              "n|1000.0",  "n|-7.25", "n|10200.0"};
    const std::vector<std::string> dates = {"d|2022-06-05", "d|2022-06-17", "d|2022-06-05",
                                            "d|2022-02-01", "d|2022-06-05", "d|2022-02-01"};
    const std::vector<std::string> texts = {"s|05/06/2022", "s|17/06/2022", "s|05/06/2022",
                                            "s|01/02/2022", "s|05/06/2022", "s|01/02/2022"};
    for (const bool dateDetection : {false, true}) {
        for (const auto& [format, name] :
             {std::pair{ExportFileFormat::NativeExcel, "book.xlsx"},
              std::pair{ExportFileFormat::SpreadsheetMl, "book.xml"}}) {
            for (const std::int32_t threads : {1, 8}) {
                SCOPED_TRACE(std::string(name) + ", " + std::to_string(threads) + " threads" +
                             (dateDetection ? ", dates" : ""));
                std::vector<std::vector<std::string>> read;
                for (CReportCore* core : {&plain, &covered}) {
                    ExcelOutputOptions o = options(format, 1, core == &plain ? 39 : 40);
                    o.excel = StartXlsxApplication;
                    o.outputPath = (m_dir / name).string();
                    o.threads = threads;
                    o.textFormatDetection = dateDetection;
                    ASSERT_EQ(OutputToExcelFile(*core, o), 0);
                    // The cover's two rows come first.
                    read.push_back(sheetValues(o.outputPath, core == &plain ? 1 : 3));
                }
                EXPECT_EQ(read[0], read[1]);
                ASSERT_EQ(read[1].size(), 39u * 6 * 3);
                for (std::size_t r = 0; r < 6; ++r) {
                    EXPECT_EQ(read[1][r * 3 + 1], "B|" + amounts[r]);
                    EXPECT_EQ(read[1][r * 3 + 2], "C|" + (dateDetection ? dates[r] : texts[r]));
                }
            }
        }
    }
}

// A day-first report whose first date is on page 151, in the second batch: every date of the
// pages after it reads day first.
TEST_F(OutputToExcel, ADateOrderRevealedInALaterBatchHolds) {
    CReportCore core;
    load(core, conventionReport(false, 300, 151));
    for (const auto& [format, name] : {std::pair{ExportFileFormat::NativeExcel, "book.xlsx"},
                                       std::pair{ExportFileFormat::SpreadsheetMl, "book.xml"}}) {
        for (const std::int32_t threads : {1, 8}) {
            SCOPED_TRACE(std::string(name) + ", " + std::to_string(threads) + " threads");
            ExcelOutputOptions o = options(format, 1, 300);
            o.excel = StartXlsxApplication;
            o.outputPath = (m_dir / name).string();
            o.threads = threads;
            o.textFormatDetection = true;
            ASSERT_EQ(OutputToExcelFile(core, o), 0);
            std::map<std::string, int> dates;
            for (const std::string& value : sheetValues(o.outputPath)) {
                dates[value.substr(0, 4)] += value.starts_with("C|") ? 1 : 0;
                if (value.starts_with("C|d|")) {
                    ++dates[value];
                }
            }
            EXPECT_EQ(dates, (std::map<std::string, int>{{"A|s|", 0},
                                                         {"B|n|", 0},
                                                         {"C|d|", 900},
                                                         {"C|d|2022-06-05", 450},
                                                         {"C|d|2022-06-17", 150},
                                                         {"C|d|2022-02-01", 300},
                                                         {"C|s|", 900}}));
        }
    }
}

// A list of 70,000 rows whose key and link count down pages of 1,000 rows, under a header with
// the page number and over a footer with the print time: the header and the footer go, every
// row of the list stays.
TEST_F(OutputToExcel, HeaderAndFooterRemovalKeepsEveryRowOfAList) {
    constexpr int kPages = 70;
    constexpr int kRows = 1000;
    std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n</head>\r\n<body>\r\n";
    for (int p = 1; p <= kPages; ++p) {
        html += std::string(kHeadMark) +
                "<table width=\"300\">\r\n<tr><td width=\"100\">Stock list</td><td "
                "width=\"200\">Page " +
                std::to_string(p) + " of " + std::to_string(kPages) + "</td></tr>\r\n";
        for (int r = 1; r <= kRows; ++r) {
            char key[16];
            std::snprintf(key, sizeof key, "K%05d", (p - 1) * kRows + r);
            html += std::string("<tr><td>") + key + "</td><td><a href=\"http://ex.com/" + key +
                    "\">link " + std::to_string((p - 1) * kRows + r) + "</a></td></tr>\r\n";
        }
        html += "<tr><td>Printed 17-MAY-2024 09:41</td><td>Paginor</td></tr>\r\n</table>" +
                std::string(kFootMark) + "\r\n";
    }
    CReportCore core;
    load(core, html + "</body>\r\n</html>\r\n");
    ExcelOutputOptions o = options(ExportFileFormat::NativeExcel, 1, kPages);
    o.excel = StartXlsxApplication;
    o.outputPath = (m_dir / "book.xlsx").string();
    o.headerFooterRemoval = true;
    ASSERT_EQ(OutputToExcelFile(core, o), 0);
    // Rows as openpyxl reads them: the first page's header, the list, the last page's footer.
    EXPECT_EQ(testing::runCommand(
                  "/usr/bin/python3 -c \"import openpyxl, sys\n"
                  "rows = [[c.value for c in r] for r in openpyxl.load_workbook(sys.argv[1], "
                  "read_only=True).worksheets[0].iter_rows() if any(c.value for c in r)]\n"
                  "keys = [r[0] for r in rows[1:-1]]\n"
                  "print(len(rows), rows[0][1], keys == ['K%05d' % n for n in range(1, 70001)], "
                  "rows[-1][0])\" " +
                  o.outputPath + " 2>&1"),
              "70002 Page 1 of 70 True Printed 17-MAY-2024 09:41\n");
}

TEST_F(OutputToExcel, LibreOfficeReadsTheSpreadsheetMlOfAFixture) {
    std::string html = readText(fs::path(PAGINOR_CONVERT_FIXTURES) / "sales_report.htm");
    // An empty merged cell before the amount: the amount keeps its column.
    const std::string west = "<td align=\"right\">1,200</td></tr>";
    ASSERT_NE(html.find(west), std::string::npos);
    html.insert(html.find(west) + west.size(),
                "<tr><td colspan=\"2\"></td><td align=\"right\">9</td></tr>");
    CReportCore core;
    load(core, html);
    ExcelOutputOptions o = options(ExportFileFormat::SpreadsheetMl, 1, 3);
    o.outputPath = (m_dir / "book.xml").string();
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(testing::runCommand("xmllint --noout " + o.outputPath + " 2>&1"), "");
    EXPECT_NE(readText(o.outputPath)
                  .find("<Cell ss:MergeAcross=\"1\" ss:StyleID=\"s29\"/>\r\n"
                        " <Cell ss:StyleID="),
              std::string::npos);
    std::string failure;
    const std::string csv =
        convertWithLibreOffice(o.outputPath, m_dir.string(), kLibreOfficeCsv, failure);
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
              ",,\"9\"\n"
              "Printed by Paginor,,\n");
}

// A report whose tables are drawn as ruled boxes keeps each table's cells on its own rules.
TEST_F(OutputToExcel, LibreOfficeReadsAFramedReport) {
    CReportCore core;
    load(core, readText(fs::path(PAGINOR_CONVERT_FIXTURES) / "htmlcss" / "framed_report.rrph"));
    ExcelOutputOptions o = options(ExportFileFormat::SpreadsheetMl, 1, 2);
    o.outputPath = (m_dir / "framed.xml").string();
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(testing::runCommand("xmllint --noout " + o.outputPath + " 2>&1"), "");
    std::string failure;
    const std::string csv =
        convertWithLibreOffice(o.outputPath, m_dir.string(), kLibreOfficeCsv, failure);
    ASSERT_FALSE(csv.empty()) << failure;
    EXPECT_EQ(readText(csv),
              "Stock Report,,Page 1 of 2\n"
              "Item,Qty,Price\n"
              "Bolt,\"12\",\"0.5\"\n"
              "Nut,\"7\",\"0.2\"\n"
              ",,\n"
              ",,Total\n"
              "Stock Report,,Page 2 of 2\n"
              "Item,Qty,Price\n"
              "Washer,\"30\",\"0.05\"\n"
              "Pin,\"4\",\"1.1\"\n"
              ",,Total\n");
}

// Characters outside the report's code page arrive as numeric references.
TEST_F(OutputToExcel, CharacterReferencesBecomeTheirCharacters) {
    const std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1250\">\r\n</head>\r\n<body>\r\n" +
        std::string(kHeadMark) +
        "<table width=\"400\">\r\n<tr><td width=\"200\">&#321;\xf3"
        "d&#378; depot</td>"
        "<td width=\"200\">&#x20AC; &#1046;</td></tr>\r\n</table>" +
        kFootMark + "\r\n</body>\r\n</html>\r\n";
    CReportCore core;
    load(core, html);
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::Delimited, 1, 1)), 0);
    // Delimited text is UTF-8: the Windows-1250 bytes and every reference become characters.
    EXPECT_EQ(readText(target()),
              std::string(kUtf8Mark) + "\u0141\u00f3d\u017a depot\t\u20ac \u0416\r\n");
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::SpreadsheetMl, 1, 1)), 0);
    const std::string xml = readText(target());
    EXPECT_NE(xml.find(">&#321;&#243;d&#378; depot<"), std::string::npos);
    EXPECT_NE(xml.find(">&#8364; &#1046;<"), std::string::npos);
    EXPECT_EQ(xml.find("&amp;#"), std::string::npos);
}

// Named references become their characters in every kind.
TEST_F(OutputToExcel, NamedReferencesBecomeTheirCharacters) {
    const std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n</head>\r\n<body>\r\n" +
        std::string(kHeadMark) +
        "<table width=\"400\">\r\n<tr><td width=\"200\">&eacute;t&eacute; &euro;5</td>"
        "<td width=\"200\">&mdash; &Omega; &amp;amp;</td></tr>\r\n</table>" +
        kFootMark + "\r\n</body>\r\n</html>\r\n";
    CReportCore core;
    load(core, html);
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::Delimited, 1, 1)), 0);
    // Delimited text is UTF-8: every named character has its place; the cell holding a ';' is
    // quoted.
    EXPECT_EQ(readText(target()), std::string(kUtf8Mark) +
                                      "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"
                                      "5\t\"\xe2\x80\x94 \xce\xa9 &amp;\"\r\n");
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::SpreadsheetMl, 1, 1)), 0);
    const std::string xml = readText(target());
    EXPECT_NE(xml.find(">&#233;t&#233; &#8364;5<"), std::string::npos) << xml;
    EXPECT_NE(xml.find(">&#8212; &#937; &amp;amp;<"), std::string::npos) << xml;
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::ExcelCompatible, 1, 1)), 0);
    const std::string archive = readText(target());
    EXPECT_NE(archive.find(">&#233;t&#233; &#8364;5<"), std::string::npos) << archive;
    EXPECT_NE(archive.find(">&#8212; &#937; &amp;amp;<"), std::string::npos) << archive;
    ExcelOutputOptions o = options(ExportFileFormat::NativeExcel, 1, 1);
    o.excel = StartXlsxApplication;
    o.outputPath = (m_dir / "book.xlsx").string();
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    EXPECT_EQ(testing::runCommand("/usr/bin/python3 -c \"import openpyxl; s = "
                                  "openpyxl.load_workbook('" +
                                  o.outputPath +
                                  "').active; print(s['A1'].value + '|' + s['B1'].value)\""),
              "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"
              "5|\xe2\x80\x94 \xce\xa9 &amp;\n");
}

// A windows-1252 report of one page whose rows hold one cell each, written as given.
std::string oneColumnReport(const std::vector<std::string>& cells) {
    std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n</head>\r\n<body>\r\n" +
        std::string(kHeadMark) + "<table width=\"400\">\r\n";
    for (const std::string& cell : cells) {
        html += "<tr><td width=\"400\">" + cell + "</td></tr>\r\n";
    }
    return html + "</table>" + kFootMark + "\r\n</body>\r\n</html>\r\n";
}

// The cells of the converted file as its kind's outside reader gives them, one line each.
std::vector<std::string> cellTexts(const std::string& kind, const fs::path& path) {
    const std::string out =
        testing::runCommand("/usr/bin/python3 " PAGINOR_TESTS_DIR "/convert/write/cell_texts.py " +
                            kind + " " + path.string() + " 2>&1");
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(out.substr(at, end - at));
    }
    return lines;
}

struct KindRun {
    ExportFileFormat format;
    const char* kind;  // for cell_texts.py
    const char* name;
};

constexpr KindRun kEveryKind[] = {{ExportFileFormat::NativeExcel, "xlsx", "book.xlsx"},
                                  {ExportFileFormat::SpreadsheetMl, "xml", "book.xml"},
                                  {ExportFileFormat::ExcelCompatible, "mht", "book.mht"},
                                  {ExportFileFormat::Delimited, "txt", "book.txt"}};

// Page 1 converted into kind's file in folder, its cells as the kind's outside reader gives them.
std::vector<std::string> firstPageCells(CReportCore& core, const KindRun& kind,
                                        const fs::path& folder) {
    ExcelOutputOptions o;
    o.fileFormat = kind.format;
    o.firstPage = 1;
    o.lastPage = 1;
    o.outputPath = (folder / kind.name).string();
    if (kind.format == ExportFileFormat::NativeExcel) {
        o.excel = StartXlsxApplication;
    }
    EXPECT_EQ(OutputToExcelFile(core, o), 0) << core.GetErrorText();
    return cellTexts(kind.kind, o.outputPath);
}

// Every kind shows what a browser shows: each reference decoded once, by HTML's rules.
TEST_F(OutputToExcel, EveryKindDecodesEachReferenceOnce) {
    const struct {
        std::string cell;
        std::string shown;
    } cases[] = {
        {"&amp;eacute;", "&eacute;"},
        {"&amp;#233;", "&#233;"},
        {"&amp;#x41;", "&#x41;"},
        {"R&amp;D &amp;copy; 2024", "R&D &copy; 2024"},
        {"&amp;amp; &amp;lt;b&amp;gt;", "&amp; &lt;b&gt;"},
        {"&eacute;t&eacute; &#x141; &lt;b&gt;", "\u00e9t\u00e9 \u0141 <b>"},
        {"&#150; &#128; &#x9F; &#153;", "\u2013 \u20ac \u0178 \u2122"},
        {"&#0;/&#xD800;/&#1114112;", "\ufffd/\ufffd/\ufffd"},
        {"&amp;<b>eacute;</b>", "&eacute;"},
        {"&copy<b>2024</b> &#65<i>5</i>", "\u00a92024 A5"},
        {"AT&T &amp; R&D", "AT&T & R&D"},
    };
    std::vector<std::string> cells;
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        cells.push_back(c.cell);
        expected.push_back("A" + std::to_string(cells.size()) + "|" + c.shown);
    }
    CReportCore core;
    load(core, oneColumnReport(cells));
    for (const KindRun& kind : kEveryKind) {
        SCOPED_TRACE(kind.kind);
        EXPECT_EQ(firstPageCells(core, kind, m_dir), expected);
    }
}

// Both kinds that hold links read the address as HTML does and lead only to web addresses and
// to the report's folder.
TEST_F(OutputToExcel, LinksLeadWhereTheReportSays) {
    const std::string folder = "file://" + m_dir.string() + "/";
    const struct {
        std::string href;
        std::string target;
    } cases[] = {
        {"'http://ex.com/single'", "http://ex.com/single"},
        {"\"http://ex.com/a b\"", "http://ex.com/a%20b"},
        {"http://ex.com/u?a=1&amp;b=2", "http://ex.com/u?a=1&b=2"},
        {"\"http://ex.com/caf&eacute;/&#x41;?q=caf&eacute;&amp;r=&#x141;#t&eacute;\"",
         "http://ex.com/caf%C3%A9/A?q=caf%E9&r=%26%23321%3B#t%C3%A9"},
        {"\"http://ex.com/caf\xe9\"", "http://ex.com/caf%C3%A9"},
        {"\"http://ex.com/?a=1&copy=2&not\"", "http://ex.com/?a=1&copy=2%AC"},
        {"\"http://ex.com/&not;x\"", "http://ex.com/%C2%ACx"},
        {"\" HTTPS://EX.COM/x\r\n\"", "HTTPS://EX.COM/x"},
        {"\"detail.htm?id=7\"", folder + "detail.htm?id=7"},
        {"\"javascript:alert(1)\"", folder},
        {"\"java&#x9;script:alert(1)\"", folder},
        {"'vbscript:msgbox(1)'", folder},
        {"\"data:text/html;base64,PGI+\"", folder},
        {"\"file:///etc/passwd\"", folder},
        {"\"ms-excel:ofe|u|http://ex.com/x.xls\"", folder},
    };
    std::vector<std::string> cells;
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        cells.push_back("<a title=\" href=http://wrong/\" href=" + c.href + ">Go</a>");
        expected.push_back("A" + std::to_string(cells.size()) + "|Go|" + c.target);
    }
    CReportCore core;
    load(core, oneColumnReport(cells));
    for (const KindRun& kind : {kEveryKind[0], kEveryKind[2]}) {
        SCOPED_TRACE(kind.kind);
        EXPECT_EQ(firstPageCells(core, kind, m_dir), expected);
    }
}

// LibreOffice's text import, evaluating formulas and trimming blanks, opens every text that it
// or another spreadsheet would take for a formula as text; amounts stay numbers.
TEST_F(OutputToExcel, DelimitedFormulasOpenAsTextInLibreOffice) {
    CReportCore core;
    load(core, oneColumnReport({"=1+2", "=HYPERLINK(&quot;http://ex.com/&quot;,&quot;x&quot;)",
                                "=cmd|' /C calc'!A0", "&#61;2*3", "@SUM(1,2)", "+1+2", "-A1",
                                "&#9;=4+5", "-7.25", "+42", "-1,234.50", "-", "a=b"}));
    ExcelOutputOptions o = options(ExportFileFormat::Delimited, 1, 1);
    o.outputPath = (m_dir / "book.xls").string();
    ASSERT_EQ(OutputToExcelFile(core, o), 0) << core.GetErrorText();
    const std::string dir = m_dir.string();
    testing::runCommand("cd " + dir + " && soffice -env:UserInstallation=file://" + dir +
                        "/profile --headless --norestore --infilter=\"Text - txt - csv "
                        "(StarCalc)\":9,34,76,1,,1033,false,true,false,false,true,false,true "
                        "--convert-to xlsx --outdir " +
                        dir + "/lo " + o.outputPath + " > /dev/null 2>&1");
    EXPECT_EQ(testing::runCommand("/usr/bin/python3 -c \"import openpyxl\n"
                                  "for row in openpyxl.load_workbook('" +
                                  dir +
                                  "/lo/book.xlsx').active.iter_rows():\n"
                                  "    print(row[0].data_type, row[0].value)\""),
              "s '=1+2\n"
              "s '=HYPERLINK(\"http://ex.com/\",\"x\")\n"
              "s '=cmd|' /C calc'!A0\n"
              "s '=2*3\n"
              "s '@SUM(1,2)\n"
              "s '+1+2\n"
              "s '-A1\n"
              "s ' =4+5\n"
              "n -7.25\n"
              "n 42\n"
              "n -1234.5\n"
              "s -\n"
              "s a=b\n");
}

// The cells of ruled boxes are guarded alike.
TEST_F(OutputToExcel, DelimitedFormulasOfRuledBoxesAreText) {
    std::string html =
        readText(fs::path(PAGINOR_CONVERT_FIXTURES) / "htmlcss" / "framed_report.rrph");
    for (const auto& [from, to] : {std::pair{">Bolt<", ">=1+2<"}, std::pair{">Washer<", ">-A1<"}}) {
        ASSERT_NE(html.find(from), std::string::npos);
        html.replace(html.find(from), std::string(from).size(), to);
    }
    CReportCore core;
    load(core, html);
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::Delimited, 1, 2)), 0);
    const auto rows = cellsOf(readText(target()));
    std::vector<std::string> firsts;
    for (const auto& row : rows) {
        firsts.push_back(row.empty() ? "" : row[0]);
    }
    EXPECT_NE(std::find(firsts.begin(), firsts.end(), "'=1+2"), firsts.end());
    EXPECT_NE(std::find(firsts.begin(), firsts.end(), "'-A1"), firsts.end());
}

// Texts without a class in a report whose head defines classes.
TEST_F(OutputToExcel, PositionedTextsWithoutAClassAreConverted) {
    std::string html =
        "<html>\r\n<head>\r\n<style>#c0{font-family:Arial; font-size:13pt; "
        "color:#000080}</style>\r\n</head>\r\n<body>\r\n";
    for (int page = 0; page < 2; ++page) {
        const std::string top = std::to_string(page * 800);
        html +=
            "<div style=\"position:absolute;top:" + top + "pt;left:0pt\">" +
            std::string(kHeadMark) +
            "</div>\r\n<span style=\"position:absolute;top:" + std::to_string(page * 800 + 30) +
            "pt;left:9pt\">" + std::to_string(page + 1) +
            "</span>\r\n<span style=\"position:absolute;top:" + std::to_string(page * 800 + 30) +
            "pt;left:90pt\">Item " + std::to_string(page + 1) +
            "</span>\r\n<div style=\"position:absolute;top:" + std::to_string(page * 800 + 790) +
            "pt;left:0pt\">" + std::string(kFootMark) + "</div>\r\n";
    }
    html += "</body>\r\n</html>\r\n";
    CReportCore core;
    load(core, html);
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::Delimited, 1, 2)), 0);
    EXPECT_EQ(cellsOf(readText(target())),
              (std::vector<std::vector<std::string>>{{"1", "Item 1"}, {"2", "Item 2"}}));
}

// A failed conversion names its cause and leaves the target as it was, without leftovers.
TEST_F(OutputToExcel, FailuresLeaveTheTargetUnchanged) {
    struct Case {
        const char* name;
        std::string html;  // empty: no report loaded
        ExportFileFormat format;
        std::int32_t first;
        std::int32_t last;
        std::int32_t code;
        std::string text;
    };
    const std::string marked = makeMarkedReport(3, 2).html;
    std::vector<GeneratedPage> pages;
    ReportSpec css;
    css.format = GeneratedFormat::HtmlCss;
    css.pageMarks = true;
    css.pages = 2;
    std::string brokenTop = makeReport(css, pages);
    const std::size_t span = brokenTop.find("<span class=\"c1\" style=\"position:absolute; top:");
    ASSERT_NE(span, std::string::npos);
    brokenTop.insert(brokenTop.find("top:", span) + 4, "x");
    ReportSpec widthless;
    widthless.pages = 2;
    const Case cases[] = {
        {"not loaded", "", ExportFileFormat::Delimited, 1, 1, 5, "Report Object is not initialed"},
        {"last page beyond the count", marked, ExportFileFormat::Delimited, 1, 4, -1,
         "Please input page number between 1 and 3 ."},
        {"first page beyond the count", marked, ExportFileFormat::SpreadsheetMl, 4, 3, -1,
         "Please input page number between 1 and 3 ."},
        {"first page after the last", marked, ExportFileFormat::Delimited, 3, 2, -1,
         "Page number should between 1 and 3"},
        {"first page 0", marked, ExportFileFormat::Delimited, 0, 2, -1,
         "Page number should between 1 and 3"},
        {"native Excel", marked, ExportFileFormat::NativeExcel, 1, 3, -1,
         "Unable to access Microsoft Excel runtime"},
        {"unknown format", marked, static_cast<ExportFileFormat>(9), 1, 3, -1,
         "Unable to access Microsoft Excel runtime"},
        {"web archive beyond the count", marked, ExportFileFormat::ExcelCompatible, 1, 4, -1,
         "Please input page number between 1 and 3 ."},
        {"HTMLCSS piece without a top", brokenTop, ExportFileFormat::SpreadsheetMl, 1, 2, -1,
         "Failed to recognize the TOP value inside html code, non-number character was found"},
        {"cells without widths", makeReport(widthless, pages), ExportFileFormat::Delimited, 1, 2,
         -1, "Fail to get the Width of TD"},
        {"no table on the page",
         "<html><body>" + std::string(kHeadMark) + "<p>" + std::string(300, 'x') +
             "</p><table><tr><td>a</td></tr>"
             "</table>" +
             kFootMark + "</body></html>",
         ExportFileFormat::Delimited, 1, 1, 18, "Head of table not found(Error Code:18)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(target(), "old");
        CReportCore core;
        if (!c.html.empty()) {
            load(core, c.html);
        }
        try {
            OutputToExcelFile(core, options(c.format, c.first, c.last));
            ADD_FAILURE() << "no failure";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), c.code);
            EXPECT_NE(error.text().find(c.text), std::string::npos) << error.text();
            EXPECT_EQ(core.errorCode(), c.code);
        }
        EXPECT_EQ(readText(target()), "old");
        fs::remove(m_dir / "report.htm");
        EXPECT_EQ(files(), (std::vector<std::string>{"out.dat"}));
    }
}

// Found by fuzzing: boxes placed near the end of the TOP or LEFT range convert in both formats.
TEST_F(OutputToExcel, ABoxAtAHugePlaceConverts) {
    for (const char* fixture : {"box-top-times-ten.htm", "box-left-times-ten.htm"}) {
        CReportCore core;
        load(core, readText(fs::path(PAGINOR_CONVERT_FIXTURES) / "../fuzz" / fixture));
        for (ExportFileFormat format :
             {ExportFileFormat::Delimited, ExportFileFormat::SpreadsheetMl}) {
            EXPECT_EQ(OutputToExcelFile(core, options(format, 1, 1)), 0) << fixture;
            EXPECT_TRUE(fs::exists(target())) << fixture;
        }
    }
}

// Control bytes and texts that look like the writers' own marks convert in every kind; none of
// them reaches the markup outputs.
TEST_F(OutputToExcel, ControlBytesInTextsConvertToEveryKind) {
    for (const char* fixture : {"control-bytes.htm", "control-bytes-css.htm"}) {
        SCOPED_TRACE(fixture);
        CReportCore core;
        load(core, readText(fs::path(PAGINOR_CONVERT_FIXTURES) / "../fuzz" / fixture));
        for (ExportFileFormat format :
             {ExportFileFormat::Delimited, ExportFileFormat::NativeExcel,
              ExportFileFormat::ExcelCompatible, ExportFileFormat::SpreadsheetMl}) {
            ExcelOutputOptions o = options(format, 1, 2);
            o.excel = StartXlsxApplication;
            o.images = true;
            o.font = true;
            o.textFormatDetection = true;
            o.outputPath = (m_dir / "out.xlsx").string();
            EXPECT_EQ(OutputToExcelFile(core, o), 0);
            const std::string written = readText(o.outputPath);
            if (format == ExportFileFormat::ExcelCompatible) {
                // Quoted-printable writes a control byte as "=01" and so on.
                EXPECT_EQ(written.find("=01"), std::string::npos);
                EXPECT_EQ(written.find("=02"), std::string::npos);
                EXPECT_NE(written.find("aS0z"), std::string::npos);
                EXPECT_NE(written.find("S99"), std::string::npos);
            } else if (format == ExportFileFormat::SpreadsheetMl) {
                EXPECT_EQ(written.find('\x01'), std::string::npos);
                EXPECT_NE(written.find(">aS0z<"), std::string::npos);
                EXPECT_EQ(testing::runCommand("xmllint --noout " + o.outputPath + " 2>&1"), "");
            } else if (format == ExportFileFormat::NativeExcel) {
                EXPECT_EQ(testing::packageFaults(o.outputPath), "");
            }
        }
    }
}

// A 1x1 GIF.
constexpr unsigned char kGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                                  0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04,
                                  0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
                                  0x00, 0x01, 0x00, 0x00, 0x02, 0x01, 0x44, 0x00, 0x3B};

// A report's pictures may name anything: a FIFO, whose open would wait for a writer for ever, and
// folders are left out as a missing picture is, and the picture beside them goes in; on one
// thread and on four, into the workbook and the web archive.
TEST_F(OutputToExcel, PicturesThatAreNoRegularFilesAreLeftOut) {
    std::ofstream(m_dir / "logo.gif", std::ios::binary)
        .write(reinterpret_cast<const char*>(kGif), sizeof kGif);
    ASSERT_EQ(mkfifo((m_dir / "pipe.gif").c_str(), 0600), 0);
    fs::create_directory(m_dir / "images");
    std::string html =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\"></head><body>" +
        std::string(kHeadMark) + "<table width=\"500\"><tr><td width=\"100\">Pictures</td>";
    for (const char* source : {"pipe.gif", ".", "images/", "logo.gif", "missing.gif"}) {
        html += std::string("<td width=\"100\"><img src=\"") + source +
                "\" width=\"20\" height=\"20\"></td>";
    }
    html += "</tr></table>" + std::string(kFootMark) + "</body></html>";
    CReportCore core;
    load(core, html);
    for (const ExportFileFormat format :
         {ExportFileFormat::NativeExcel, ExportFileFormat::ExcelCompatible}) {
        for (const std::int32_t threads : {1, 4}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(format)) + " on " +
                         std::to_string(threads));
            ExcelOutputOptions o = options(format, 1, 1);
            o.excel = StartXlsxApplication;
            o.images = true;
            o.threads = threads;
            o.outputPath = (m_dir / "out.xlsx").string();
            auto done = std::async(std::launch::async, [&] { return OutputToExcelFile(core, o); });
            if (done.wait_for(std::chrono::minutes(5)) != std::future_status::ready) {
                // A writer lets the waiting open go, so that the test can end.
                ::close(::open((m_dir / "pipe.gif").c_str(), O_WRONLY | O_CLOEXEC));
                ADD_FAILURE() << "the export waits on the FIFO";
            }
            EXPECT_EQ(done.get(), 0);
            if (format == ExportFileFormat::NativeExcel) {
                EXPECT_EQ(testing::packageFaults(o.outputPath), "");
                EXPECT_EQ(testing::runCommand("unzip -Z1 '" + o.outputPath + "' 'xl/media/*'"),
                          "xl/media/image1.gif\n");
            } else {
                const fs::path parts = m_dir / "parts";
                fs::create_directory(parts);
                EXPECT_EQ(testing::runCommand("/usr/bin/python3 " PAGINOR_TESTS_DIR
                                              "/convert/write/web_archive_check.py '" +
                                              o.outputPath + "' '" + parts.string() + "'"),
                          "part tabulan-xls.htm quoted-printable text/html us-ascii\n"
                          "part stylesheet.css quoted-printable text/html us-ascii\n"
                          "part sheet001.htm quoted-printable text/html us-ascii\n"
                          "part logo.gif base64 image/gif -\n");
                EXPECT_EQ(readText(parts / "sheet001.htm.cells"),
                          "table\n row\n  [class=tbz0] Pictures\n  [] \n  [] \n  [] \n  "
                          "[] <img logo.gif ->\n  [] \n");
                fs::remove_all(parts);
            }
        }
    }
}

// Pages whose layout cannot be taken fail the export with what is wrong with which page, before
// any file is left: a row past the 16,384 columns a worksheet holds, and a first row that does
// not end where the column widths are read; each keeps its error code.
TEST_F(OutputToExcel, PagesThatCannotBeLaidOutSaySo) {
    const auto page = [](const std::string& table) {
        return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
               "charset=windows-1252\"></head><body>" +
               std::string(kHeadMark) + table + kFootMark + "</body></html>";
    };
    std::string wide =
        "<table width=\"163900\"><tr><td width=\"163900\" colspan=\"16390\">Title"
        "</td></tr><tr>";
    for (int c = 0; c < 16390; ++c) {
        wide += "<td width=\"10\">" + std::to_string(c) + "</td>";
    }
    wide += "</tr></table>";
    const std::string longRow = "<table width=\"100\"><tr><td width=\"100\">" +
                                std::string(17000, 'x') + "</td></tr></table>";
    struct Case {
        const char* name;
        std::string report;
        ExportFileFormat format;
        std::int32_t code;
        const char* text;
    };
    const Case cases[] = {
        {"too many columns", page(wide), ExportFileFormat::NativeExcel, -1,
         "Page 1 has 16390 columns, more than the 16384 columns a worksheet holds."},
        {"a first row longer than what is read", page(longRow), ExportFileFormat::NativeExcel, 28,
         "Page 1 cannot be converted: the first row of its table has no end within the first "
         "16384 bytes of the page, which are read to find its column widths.(Error Code:28)"},
        {"the same into delimited text", page(longRow), ExportFileFormat::Delimited, 28,
         "Page 1 cannot be converted: the first row of its table has no end within the first "
         "16384 bytes of the page, which are read to find its column widths.(Error Code:28)"},
        {"a first row without an end",
         page("<table width=\"100\"><tr><td width=\"100\">x</td></table>"),
         ExportFileFormat::SpreadsheetMl, 28,
         "Page 1 cannot be converted: the first row of its table has no end.(Error Code:28)"},
        {"a table without a row", page("<table width=\"100\"></table>"),
         ExportFileFormat::NativeExcel, 27,
         "Page 1 cannot be converted: its table has no row.(Error Code:27)"},
    };
    for (const Case& c : cases) {
        CReportCore core;
        load(core, c.report);
        for (const std::int32_t threads : {1, 4}) {
            SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(threads));
            ExcelOutputOptions o = options(c.format, 1, 1);
            o.excel = StartXlsxApplication;
            o.threads = threads;
            o.outputPath = (m_dir / "out.xlsx").string();
            try {
                OutputToExcelFile(core, o);
                ADD_FAILURE() << "no failure";
            } catch (const ConversionError& error) {
                EXPECT_EQ(error.code(), c.code);
                EXPECT_EQ(error.text(), c.text);
            }
            EXPECT_EQ(files(), std::vector<std::string>{"report.htm"});
        }
    }
}

TEST_F(OutputToExcel, HtmlCssPagesBecomeRowsOfTwoCells) {
    ReportSpec spec;
    spec.format = GeneratedFormat::HtmlCss;
    spec.pageMarks = true;
    spec.pages = 3;
    spec.rowsPerPage = 5;
    std::vector<GeneratedPage> pages;
    CReportCore core;
    load(core, makeReport(spec, pages));
    EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::Delimited, 1, 3)), 0);
    const auto rows = cellsOf(readText(target()));
    ASSERT_EQ(rows.size(), 15u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 2u);
        EXPECT_FALSE(row[0].empty());
        EXPECT_NE(row[1].find('.'), std::string::npos) << row[1];
    }
}

// 70000 HTMLCSS pages of one row: the TOP values start again on pages 65536 and 65537, so no
// batch may hold pages of two blocks, and the report's first and last page may only be reference
// pages in their own block. Every page's title and row come out once, in page order.
TEST_F(OutputToExcel, HtmlCssPagesOfEveryPageBlockConvert) {
    ReportSpec spec;
    spec.format = GeneratedFormat::HtmlCss;
    spec.pages = 70000;
    spec.rowsPerPage = 1;
    std::vector<GeneratedPage> pages;
    std::string error;
    ASSERT_TRUE(writeReport((m_dir / "report.htm").string(), spec, pages, error)) << error;
    CReportCore core;
    core.Init((m_dir / "report.htm").string(), nullptr, false, nullptr, nullptr, nullptr);
    ASSERT_EQ(core.GetPageCount(), 70000);
    for (auto [first, last] : {std::pair{65530, 65540}, {65300, 70000}, {1, 70000}}) {
        SCOPED_TRACE(std::to_string(first) + ".." + std::to_string(last));
        EXPECT_EQ(OutputToExcelFile(core, options(ExportFileFormat::Delimited, first, last)), 0);
        const auto rows = cellsOf(readText(target()));
        ASSERT_EQ(rows.size(), 2u * static_cast<std::size_t>(last - first + 1));
        for (std::size_t i = 0; i < rows.size(); i += 2) {
            const std::string page = std::to_string(first + static_cast<int>(i / 2));
            ASSERT_EQ(rows[i].size(), 4u) << "page " << page;
            EXPECT_EQ(rows[i][0], "Sales by region, page " + page);
            EXPECT_EQ(rows[i][3], "Page " + page);
            ASSERT_EQ(rows[i + 1].size(), 4u) << "page " << page;
            EXPECT_FALSE(rows[i + 1][1].empty()) << "page " << page;
            EXPECT_NE(rows[i + 1][2].find('.'), std::string::npos) << "page " << page;
        }
    }
}

// The bundled HTMLCSS sample: 150 order lines over 5 pages, each with its quantity, unit price
// and amount in their own columns, the title only once and the page totals under the amounts.
TEST_F(OutputToExcel, BundledHtmlCssSampleKeepsItsColumns) {
    CReportCore core;
    load(core, readText(fs::path(PAGINOR_SAMPLES_DIR) / "order-listing.rrph"));
    ExcelOutputOptions o = options(ExportFileFormat::Delimited, 1, 5);
    o.headerFooterRemoval = true;
    EXPECT_EQ(OutputToExcelFile(core, o), 0);
    const auto digits = [](std::string_view text, std::string_view also) {
        return !text.empty() &&
               text.find_first_not_of("0123456789" + std::string(also)) == std::string_view::npos;
    };
    const auto isQuantity = [&](const std::string& text) { return digits(text, ""); };
    const auto isAmount = [&](const std::string& text) {
        const std::size_t point = text.size() >= 3 ? text.size() - 3 : 0;
        return text.size() >= 4 && text[point] == '.' && digits(text.substr(0, point), ",") &&
               digits(text.substr(point + 1), "");
    };
    int lines = 0;
    int titles = 0;
    int totals = 0;
    for (const auto& row : cellsOf(readText(target()))) {
        SCOPED_TRACE(row[0] + "|" + (row.size() > 4 ? row[4] : ""));
        ASSERT_EQ(row.size(), 9u);
        titles += row[0] == "Order Listing by Order Number" ? 1 : 0;
        if (row[5] == "Page Total") {
            ++totals;
            EXPECT_TRUE(isAmount(row[8])) << row[8];
        }
        if (!row[4].empty() && row[4] != "Item") {
            ++lines;
            EXPECT_TRUE(isQuantity(row[6])) << row[6];
            EXPECT_TRUE(isAmount(row[7])) << row[7];
            EXPECT_TRUE(isAmount(row[8])) << row[8];
        }
    }
    EXPECT_EQ(lines, 150);
    EXPECT_EQ(titles, 1);
    EXPECT_EQ(totals, 5);
}

// The texts of every page of a generated report, in the order they were written.
std::vector<std::vector<std::string>> spanTextsByPage(const std::string& html) {
    std::vector<std::vector<std::string>> pages;
    for (std::size_t at = html.find(kHeadMark); at != std::string::npos;) {
        const std::size_t next = html.find(kHeadMark, at + 1);
        std::vector<std::string>& texts = pages.emplace_back();
        for (std::size_t span = html.find("<span ", at); span < next;
             span = html.find("<span ", span + 1)) {
            const std::size_t start = html.find('>', span) + 1;
            texts.push_back(html.substr(start, html.find("</span>", start) - start));
        }
        at = next;
    }
    return pages;
}

// Ruled reports on the frame road with header and footer removal: the title line is left only
// on the first page and the footer line only on the last, whatever the report's page count
// (its page numbers gaining digits, batches with reference pages) and width.
TEST_F(OutputToExcel, RuledReportsKeepTheirTitleAndFooterOnce) {
    struct Case {
        int pages;
        int columns;
        int rows;
    };
    const Case cases[] = {{3, 2, 5}, {5, 2, 5}, {5, 4, 3}, {20, 2, 5}, {20, 4, 5}, {240, 4, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pages) + " pages of " + std::to_string(c.columns) +
                     " columns");
        ReportSpec spec;
        spec.format = GeneratedFormat::HtmlCss;
        spec.pageMarks = true;
        spec.pages = c.pages;
        spec.rowsPerPage = c.rows;
        spec.ruledColumns = c.columns;
        std::vector<GeneratedPage> generated;
        const std::string html = makeReport(spec, generated);
        std::vector<std::vector<std::string>> expected;
        const auto line = [&](std::vector<std::string> cells) {
            cells.resize(static_cast<std::size_t>(c.columns));
            expected.push_back(std::move(cells));
        };
        const auto pageTexts = spanTextsByPage(html);
        ASSERT_EQ(pageTexts.size(), static_cast<std::size_t>(c.pages));
        for (int p = 0; p < c.pages; ++p) {
            const std::vector<std::string>& texts = pageTexts[static_cast<std::size_t>(p)];
            ASSERT_EQ(texts.size(), static_cast<std::size_t>(3 + (c.rows + 1) * c.columns));
            if (p == 0) {
                std::vector<std::string> title(static_cast<std::size_t>(c.columns));
                title.front() = texts[0];
                title.back() = texts[1];
                line(title);
            }
            for (int r = 0; r <= c.rows; ++r) {
                const auto first = texts.begin() + 2 + r * c.columns;
                line({first, first + c.columns});
            }
            if (p + 1 == c.pages) {
                line({texts.back()});
            }
        }
        CReportCore core;
        load(core, html);
        ExcelOutputOptions o = options(ExportFileFormat::Delimited, 1, c.pages);
        o.headerFooterRemoval = true;
        EXPECT_EQ(OutputToExcelFile(core, o), 0);
        EXPECT_EQ(cellsOf(readText(target())), expected);

        o.fileFormat = ExportFileFormat::SpreadsheetMl;
        EXPECT_EQ(OutputToExcelFile(core, o), 0);
        const std::string xml = readText(target());
        const auto count = [&](const std::string& text) {
            std::size_t n = 0;
            for (std::size_t at = xml.find(text); at != std::string::npos;
                 at = xml.find(text, at + 1)) {
                ++n;
            }
            return n;
        };
        EXPECT_EQ(count("String\">Sales by region<"), 1u);
        EXPECT_EQ(count("String\">Page "), 1u);
        EXPECT_EQ(count("String\">Printed by Paginor, page "), 1u);
        EXPECT_EQ(count("String\">Amount 1<"), static_cast<std::size_t>(c.pages));
    }
}

TEST_F(OutputToExcel, OutputThatCannotBeWrittenIsAFailure) {
    CReportCore core;
    load(core, makeMarkedReport(2, 2).html);
    struct Case {
        const char* name;
        fs::path path;
        const char* tag;
    };
    fs::create_directory(m_dir / "folder");
    // Both are found before any page is converted, and said in words.
    const Case cases[] = {{"missing folder", m_dir / "none" / "out.txt",
                           "/none does not exist (No such file or directory). [OtEFOp1]"},
                          {"target is a folder", m_dir / "folder",
                           "/folder cannot be written: a folder has that name (Is a directory). "
                           "[OtEFOp1]"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExcelOutputOptions o = options(ExportFileFormat::Delimited, 1, 2);
        o.outputPath = c.path.string();
        try {
            OutputToExcelFile(core, o);
            ADD_FAILURE() << "no failure";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), -1);
            EXPECT_NE(error.text().find(c.tag), std::string::npos) << error.text();
        }
        EXPECT_EQ(files(), (std::vector<std::string>{"folder", "report.htm"}));
        EXPECT_TRUE(fs::is_empty(m_dir / "folder"));
    }
}

TEST_F(OutputToExcel, CancelEndsWithErrorNineteen) {
    CReportCore core;
    load(core, makeMarkedReport(240, 2).html);
    for (const bool beforeStart : {true, false}) {
        SCOPED_TRACE(beforeStart ? "before the start" : "after the first batch");
        writeText(target(), "old");
        std::atomic<std::int32_t> cancel = beforeStart ? 1 : 0;
        ExcelOutputOptions o = options(ExportFileFormat::SpreadsheetMl, 1, 240);
        o.cancel = &cancel;
        std::vector<int> shown;
        o.mainWindowProgress = [&](int percent) {
            shown.push_back(percent);
            cancel = 1;
        };
        try {
            OutputToExcelFile(core, o);
            ADD_FAILURE() << "no failure";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), 19);
            EXPECT_EQ(error.text(), "Cancel by server administrator/user(Error Code:19)");
        }
        EXPECT_EQ(shown, beforeStart ? std::vector<int>{} : std::vector<int>{50});
        EXPECT_EQ(readText(target()), "old");
        EXPECT_EQ(files(), (std::vector<std::string>{"out.dat", "report.htm"}));
    }
}

// A request while the last batch is written or the file is saved still keeps the target as it
// was: the long final writes look at it, and nothing is committed after it.
TEST_F(OutputToExcel, CancelAtTheEndKeepsTheTarget) {
    CReportCore core;
    load(core, makeMarkedReport(240, 2).html);
    struct Case {
        ExportFileFormat format;
        bool workbook;
    };
    const Case kinds[] = {{ExportFileFormat::Delimited, false},
                          {ExportFileFormat::SpreadsheetMl, false},
                          {ExportFileFormat::ExcelCompatible, false},
                          {ExportFileFormat::NativeExcel, true}};
    for (const Case& kind : kinds) {
        // 100 comes with the last batch, 0 once everything is converted.
        for (const int at : {100, 0}) {
            for (const std::int32_t threads : {1, 4}) {
                SCOPED_TRACE(std::to_string(static_cast<int>(kind.format)) + " at " +
                             std::to_string(at) + " on " + std::to_string(threads));
                writeText(target(), "old");
                std::atomic<std::int32_t> cancel = 0;
                ExcelOutputOptions o = options(kind.format, 1, 240);
                if (kind.workbook) {
                    o.excel = StartXlsxApplication;
                    o.outputPath = (m_dir / "out.xls").string();
                    writeText(m_dir / "out.xlsx", "old");
                }
                o.threads = threads;
                o.cancel = &cancel;
                o.mainWindowProgress = [&](int percent) {
                    if (percent == at) {
                        cancel = 1;
                    }
                };
                try {
                    OutputToExcelFile(core, o);
                    ADD_FAILURE() << "no failure";
                } catch (const ConversionError& error) {
                    EXPECT_EQ(error.code(), 19) << error.text();
                }
                EXPECT_TRUE(readText(kind.workbook ? m_dir / "out.xlsx" : target()) == "old");
                EXPECT_EQ(files().size(), kind.workbook ? 3u : 2u);
            }
        }
    }
}

// Saving a workbook cannot be stopped part way: it is saved under a hidden name, and takes the
// target's name only when no cancel request came while it was saved.
TEST_F(OutputToExcel, CancelWhileTheWorkbookIsSavedKeepsTheTarget) {
    CReportCore core;
    load(core, makeMarkedReport(3, 2).html);
    for (const bool cancelled : {true, false}) {
        SCOPED_TRACE(cancelled ? "cancelled while saved" : "saved");
        const fs::path target = m_dir / "out.xlsx";
        writeText(target, "old");
        std::atomic<std::int32_t> cancel = 0;
        testing::FakeExcelLog log;
        testing::FakeExcelSettings settings;
        settings.onSave = [&](const std::string& path) {
            writeText(path, "new");
            cancel = cancelled ? 1 : 0;
        };
        ExcelOutputOptions o = options(ExportFileFormat::NativeExcel, 1, 3);
        o.outputPath = (m_dir / "out.xls").string();
        o.excel = [&] { return std::make_unique<testing::FakeExcel>(log, settings); };
        o.cancel = &cancel;
        std::int32_t code = 0;
        try {
            OutputToExcelFile(core, o);
        } catch (const ConversionError& error) {
            code = error.code();
        }
        EXPECT_EQ(code, cancelled ? 19 : 0);
        EXPECT_EQ(readText(target), cancelled ? "old" : "new");
        EXPECT_EQ(files(), (std::vector<std::string>{"out.xlsx", "report.htm"}));
    }
}

}  // namespace
}  // namespace paginor
