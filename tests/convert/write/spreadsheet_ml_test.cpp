#include <gtest/gtest.h>

#include <unistd.h>
#include "tests/convert/convert_harness.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "convert/write/cell_value.h"
#include "convert/write/spreadsheet_ml.h"
#include "tests/support/libre_office.h"

namespace paginor {
namespace {

struct DetectCase {
    const char* text;
    std::int32_t numberStyle;  // learned before the text
    std::int32_t dateOrder;
    std::int32_t kind;
    const char* value;
    const char* format;
};

TEST(CellValue, DetectTable) {
    const DetectCase cases[] = {
        {"1,234.50", 0, 0, kCellKindNumber, "1234.50", "#,##0.00_ "},
        {"1.234,5", 0, 0, kCellKindNumber, "1234.5", "#,##0.0_ "},
        {"12 345,67", 0, 0, kCellKindNumber, "12345.67", "#,##0.00_ "},
        {"(1,234)", 2, 1, kCellKindNumber, "-1234", "#,##0_ "},
        {"(1,234)", 0, 0, kCellKindText, "", ""},
        {"$ 12.50", 0, 0, kCellKindNumber, "12.50", "$0.00_ "},
        {"-42", 2, 1, kCellKindNumber, "-42", "0_ "},
        {"-42", 0, 0, kCellKindText, "", ""},
        {"0123", 0, 0, kCellKindText, "", ""},
        {"1234567890123456", 0, 0, kCellKindText, "", ""},
        {"1,234", 1, 1, kCellKindNumber, "1.234", "0.000_ "},
        {"1,234", 2, 1, kCellKindNumber, "1234", "#,##0_ "},
        {"1 2", 3, 1, kCellKindText, "", ""},
        {"1,234,567.123456789012", 0, 0, kCellKindText, "", ""},
        {"31/12/2003", 0, 0, kCellKindDate, "2003-12-31T00:00:00.000", "dd/mm/yyyy"},
        {"05/06/2003", 0, 2, kCellKindDate, "2003-06-05T00:00:00.000", "dd/mm/yyyy"},
        {"05/06/2003", 0, 1, kCellKindDate, "2003-05-06T00:00:00.000", "mm/dd/yyyy"},
        {"12/05/03", 0, 2, kCellKindDate, "2003-05-12T00:00:00.000", "dd/mm/yy"},
        {"12-May-03", 0, 0, kCellKindDate, "2003-05-12T00:00:00.000", "dd-mmm-yy"},
        {"12-January-2003", 0, 0, kCellKindText, "", ""},
        {"03/04/1492", 0, 1, kCellKindText, "", ""},
        {"31/12/1899", 0, 1, kCellKindText, "", ""},
        {"01/01/1900", 0, 1, kCellKindDate, "1900-01-01T00:00:00.000", "mm/dd/yyyy"},
        {"24.12.2004", 0, 0, kCellKindDate, "2004-12-24T00:00:00.000", "dd.mm.yyyy"},
        {"2004-02-29", 0, 0, kCellKindDate, "2004-02-29T00:00:00.000", "yyyy-mm-dd"},
        {"2003-02-29", 0, 0, kCellKindText, "", ""},
        {"31/04/2003", 0, 0, kCellKindText, "", ""},
        {"00/13/2003", 0, 1, kCellKindText, "", ""},
        {"abc", 0, 0, kCellKindText, "", ""},
        {"+42", 2, 1, kCellKindNumber, "42", "0_ "},
        {" 1,234.50\t\r\n", 2, 1, kCellKindNumber, "1234.50", "#,##0.00_ "},
        {" 28-Dec-2022 ", 2, 1, kCellKindDate, "2022-12-28T00:00:00.000", "dd-mmm-yyyy"},
        {"+1.234,5", 1, 1, kCellKindNumber, "1234.5", "#,##0.0_ "},
        {"$1,234.50", 2, 1, kCellKindNumber, "1234.50", "$#,##0.00_ "},
        {"12,34", 2, 1, kCellKindText, "", ""},
        {"1.234,56", 2, 1, kCellKindText, "", ""},
        {"1,234.50", 1, 1, kCellKindText, "", ""},
        {"1,234.50", 3, 1, kCellKindText, "", ""},
        {"12,5", 3, 1, kCellKindNumber, "12.5", "0.0_ "},
        {"1.234.567", 1, 1, kCellKindNumber, "1234567", "#,##0_ "},
        {"1.234.567", 2, 1, kCellKindText, "", ""},
        {"0.000000000000000000000000000001", 2, 1, kCellKindNumber,
         "0.000000000000000000000000000001", "0.000000000000000000000000000000_ "},
        {"0.0000000000000000000000000000001", 2, 1, kCellKindText, "", ""},
        {"", 0, 0, kCellKindText, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CCellValueDetector detector;
        detector.options().numberStyle = c.numberStyle;
        detector.options().dateOrder = c.dateOrder;
        tagCellDetectResult result;
        detector.Detect(c.text, result);
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_EQ(result.value, c.value);
        EXPECT_EQ(result.format, c.format);
    }
    tagCellDetectResult result;
    CCellValueDetector detector;
    detector.Detect(std::string(256, '1'), result);
    EXPECT_EQ(result.kind, kCellKindText);
}

TEST(CellValue, LearnsConventions) {
    CCellValueDetector detector;
    tagCellDetectResult result;
    detector.Detect("31/12/2003", result);
    EXPECT_EQ(detector.options().dateOrder, 2);
    detector.Detect("05/06/2003", result);
    EXPECT_EQ(result.value, "2003-06-05T00:00:00.000");
    detector.Detect("1.234,5", result);
    EXPECT_EQ(detector.options().numberStyle, 1);
    detector.Detect("1,234", result);
    EXPECT_EQ(result.value, "1.234");
    EXPECT_TRUE(detector.options().IsSet());

    CCellValueDetector undecided;
    undecided.Detect("05/06/2003", result);
    EXPECT_EQ(result.kind, kCellKindDate);
    EXPECT_TRUE(result.value.empty());
    EXPECT_FALSE(result.detected);
    tagCellDetectOptions options;
    options.SetDefaults();
    EXPECT_EQ(options.numberStyle, 2);
    EXPECT_EQ(options.dateOrder, 1);
}

// What texts decide of the conventions, read one after the other from the conventions given.
tagCellDetectOptions learned(const std::vector<std::string>& texts,
                             const tagCellDetectOptions& from = {}) {
    CCellValueDetector detector;
    detector.options() = from;
    tagCellDetectResult result;
    for (const std::string& text : texts) {
        detector.Detect(text, result);
    }
    return detector.options();
}

// Batches converted at once learn on their own what their cells decide; folded in batch order
// that must be what learning one batch after the other gives.
TEST(CellValue, ABatchDecidesOnItsOwnWhatItDecidesAfterOthers) {
    const std::vector<std::string> texts = {
        "1.234,56", "2,007",     "1,234.50",   "12 345,67",  "1 234",       "1.234.567 890",
        "$ 12,50",  "(1.234)",   "05/06/2022", "17/06/2022", "06/17/22",    "05.06.2022",
        "-7,25",    "12-May-03", "Page 3",     "0,5",        "$05/06/2022", "03/04/1492"};
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            for (const std::string& c : texts) {
                for (const std::string& d : texts) {
                    const tagCellDetectOptions first = learned({a, b});
                    const tagCellDetectOptions second = learned({c, d});
                    ASSERT_EQ(FoldConventions(first, second), learned({a, b, c, d}))
                        << a << " " << b << " | " << c << " " << d;
                    ASSERT_EQ(FoldConventions(first, second), learned({c, d}, first))
                        << a << " " << b << " | " << c << " " << d;
                }
            }
        }
    }
}

TEST(CellValue, SeparatorsInRange) {
    struct Case {
        const char* text;
        std::int32_t code;
    };
    const Case cases[] = {{"1234", 0},    {"1.234", 0},     {"1234.567", 2}, {"0.123", 2},
                          {"1,234.5", 2}, {"1.234,5", 1},   {"12,5", 1},     {"1,2,3", 3},
                          {"1.5.5", 3},   {"1,234,567", 2}, {"12a4", 0}};
    for (const auto& c : cases) {
        const std::string text = c.text;
        EXPECT_EQ(DetectNumberSeparatorsInRange(text.data(), text.data() + text.size() - 1), c.code)
            << c.text;
    }
}

TEST(SpreadsheetMl, XmlText) {
    struct Case {
        std::u16string text;
        std::string expected;
    };
    const Case cases[] = {
        {u"a&b<c>\"d", "a&amp;b&lt;c&gt;&quot;d"},
        {u"caf\u00e9", "caf&#233;"},
        {u"\U0001F600", "&#128512;"},
        {u"a\x01\x1f\tb\r\n\x7f", "a\tb\r\n&#127;"},
        {std::u16string(1, char16_t(0xD800)) + u"x", "&#65533;x"},
        {u"\uFFFE", ""},
    };
    for (const auto& c : cases) {
        std::string out;
        appendXmlText(out, c.text);
        EXPECT_EQ(out, c.expected);
    }
    std::string number;
    appendXmlNumber(number, -1234567);
    EXPECT_EQ(number, "-1234567");
    EXPECT_EQ(FormatStyleId(21), "s21");
}

TEST(SpreadsheetMl, StyleBodies) {
    CSpreadsheetMLWriter writer(65001, false, false, 2);
    tagOutputCellInfo plain;
    EXPECT_EQ(writer.GetStyleId(plain, nullptr), "s21");
    EXPECT_EQ(writer.GetStyleId(plain, nullptr), "s21");
    tagOutputCellInfo rich;
    rich.alignment = 3;
    rich.framed = 1;
    rich.bold = 1;
    rich.fontColour = 0x0000FF;
    rich.fontName = "A\"&<B";
    rich.fontSize = 12;
    rich.backgroundColour = 0x00FF00;
    EXPECT_EQ(writer.GetStyleId(rich, "#,##0.00_ "), "s22");
    std::string document;
    std::tm created{};
    created.tm_year = 104;
    created.tm_mon = 2;
    created.tm_mday = 5;
    writer.WriteWorkbook([&](std::string_view piece) { document += piece; }, false, created);
    EXPECT_NE(document.find("<Style ss:ID=\"s21\">\r\n<Alignment ss:Horizontal=\"Left\"/></Style>"),
              std::string::npos);
    const std::string richBody =
        "<Style ss:ID=\"s22\">\r\n<Alignment ss:Horizontal=\"Right\"/><Borders>\r\n"
        "    <Border ss:Position=\"Bottom\" ss:LineStyle=\"Continuous\" ss:Weight=\"1\" "
        "ss:Color=\"#000000\"/>\r\n"
        "    <Border ss:Position=\"Left\" ss:LineStyle=\"Continuous\" ss:Weight=\"1\" "
        "ss:Color=\"#000000\"/>\r\n"
        "    <Border ss:Position=\"Right\" ss:LineStyle=\"Continuous\" ss:Weight=\"1\" "
        "ss:Color=\"#000000\"/>\r\n"
        "    <Border ss:Position=\"Top\" ss:LineStyle=\"Continuous\" ss:Weight=\"1\" "
        "ss:Color=\"#000000\"/>\r\n"
        "   </Borders>\r\n"
        "<Font   ss:Bold=\"1\"  ss:Color=\"#FF0000\" ss:FontName=\"A&quot;&amp;&lt;B\" "
        "ss:Size=\"12\"/>\r\n"
        "<NumberFormat ss:Format=\"#,##0.00_ \"/>\r\n"
        "<Interior ss:Color=\"#00FF00\" ss:Pattern=\"Solid\"/>\r\n</Style>\r\n";
    EXPECT_NE(document.find(richBody), std::string::npos) << document;
    EXPECT_NE(document.find("<Created>2004-03-05T00:00:00.000</Created>"), std::string::npos);
    CSpreadsheetMLWriter css(65001, false, false, 1);
    EXPECT_EQ(css.GetStyleId(plain, nullptr), "s21");
}

// A page of records built from a small table; the strings live as long as the page.
struct TestPage {
    std::vector<std::string> texts;
    std::vector<tagOutputCellInfo> records;
    std::uint32_t rows = 0;
};

tagOutputCellInfo makeRecord(std::int32_t row, std::int32_t column, const std::string& text) {
    tagOutputCellInfo record;
    record.row = row;
    record.column = column;
    record.text = text.c_str();
    record.textLength = static_cast<std::int32_t>(text.size());
    return record;
}

struct TestBatch {
    std::vector<std::string> texts;
    std::vector<tagOutputCellInfo> records;
    std::vector<tagOutputPageInfo> pages;

    // cells: one string per row, cells separated by '|'.
    void addPage(const std::vector<std::string>& rows) {
        const auto p = static_cast<std::int32_t>(pages.size());
        std::uint32_t count = 0;
        texts.reserve(100000);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            std::stringstream line(rows[r]);
            std::string cell;
            for (std::int32_t c = 0; std::getline(line, cell, '|'); ++c) {
                if (cell.empty()) {
                    continue;
                }
                texts.push_back(cell);
                records.push_back(makeRecord(static_cast<std::int32_t>(r), c, texts.back()));
                records.back().page = p;
                ++count;
            }
        }
        pages.push_back({nullptr, count, 0, static_cast<std::uint32_t>(rows.size()), 0});
    }
    const tagOutputPageInfo* finish() {
        for (auto& page : pages) {
            page.records = records.data();
        }
        return pages.data();
    }
};

std::string workbookOf(const CSpreadsheetMLWriter& writer, bool rightToLeft = false) {
    std::string document;
    std::tm created{};
    writer.WriteWorkbook([&](std::string_view piece) { document += piece; }, rightToLeft, created);
    return document;
}

// Batches made before the ones ahead of them are placed give what writing them in turn gives:
// row numbers, style identifiers and number conventions follow the batches placed before, and
// control characters in a text cannot pass for the marks that stand for them.
TEST(SpreadsheetMl, BatchesMadeAheadArePlacedInOrder) {
    TestBatch first;
    first.addPage({"1,5|a", "b"});
    first.records[1].alignment = 3;
    TestBatch second;
    second.addPage({"x\x01R9\x02y|2,5", "c\x01S0\x02"});
    second.records[0].bold = 1;
    const tagOutputPageInfo* firstPages = first.finish();
    const tagOutputPageInfo* secondPages = second.finish();
    const auto firstCount = static_cast<std::int32_t>(first.records.size());
    const auto secondCount = static_cast<std::int32_t>(second.records.size());

    CSpreadsheetMLWriter inTurn(1252, false, false, 2);
    inTurn.WriteTable(1, false, false, 1, 2, firstPages, nullptr, firstCount);
    inTurn.WriteTable(2, false, false, 1, 2, secondPages, nullptr, secondCount);

    CSpreadsheetMLWriter placed(1252, false, false, 2);
    const SpreadsheetMLCellSettings settings = placed.cellSettings();
    tagCellDetectOptions afterFirst;
    ASSERT_TRUE(CSpreadsheetMLWriter::LearnConventions(afterFirst, false, false, 1, firstPages,
                                                       firstCount));
    EXPECT_EQ(afterFirst.numberStyle, 1);
    tagCellDetectOptions afterSecond = afterFirst;
    ASSERT_TRUE(CSpreadsheetMLWriter::LearnConventions(afterSecond, false, false, 1, secondPages,
                                                       secondCount));
    SpreadsheetMLBatch madeSecond;
    CSpreadsheetMLWriter::MakeBatch(settings, afterFirst, afterSecond, 2, false, false, 1, 2,
                                    secondPages, secondCount, madeSecond);
    SpreadsheetMLBatch madeFirst;
    CSpreadsheetMLWriter::MakeBatch(settings, {}, afterFirst, 1, false, false, 1, 2, firstPages,
                                    firstCount, madeFirst);
    EXPECT_FALSE(placed.Accepts(madeSecond));
    ASSERT_TRUE(placed.Accepts(madeFirst));
    placed.WriteBatch(madeFirst, nullptr);
    ASSERT_TRUE(placed.Accepts(madeSecond));
    placed.WriteBatch(madeSecond, nullptr);

    const std::string document = workbookOf(placed);
    EXPECT_EQ(document, workbookOf(inTurn));
    EXPECT_NE(document.find("<Row ss:Index=\"3\">"), std::string::npos);
    EXPECT_NE(document.find(">xR9y<"), std::string::npos);
    EXPECT_NE(document.find(">cS0<"), std::string::npos);
    EXPECT_NE(document.find("<Data ss:Type=\"Number\">2.5</Data>"), std::string::npos);
    EXPECT_NE(document.find("<Style ss:ID=\"s23\">"), std::string::npos);
}

TEST(SpreadsheetMl, CellsSpansAndComments) {
    TestBatch batch;
    batch.addPage({"a|||d|e", "|||i|j", "|||k|"});
    batch.addPage({"x"});
    batch.records[0].rowSpan = 2;
    batch.records[0].columnSpan = 3;
    const tagOutputPageInfo* pages = batch.finish();
    CSpreadsheetMLWriter writer(65001, true, false, 1);
    std::time_t stamp = 0;
    writer.WriteTable(5, false, false, 2, 5, pages, &stamp,
                      static_cast<std::int32_t>(batch.records.size()));
    EXPECT_NE(stamp, 0);
    const std::string comment5 =
        "<Comment ss:Author=\"tabulan\"><ss:Data   xmlns=\"http://www.w3.org/TR/REC-html40\"><B>"
        "<Font html:Face=\"Tahoma\"  x:CharSet=\"134\" x:Family=\"Swiss\" html:Size=\"8\" "
        "html:Color=\"#000000\">Page 5</Font></B></ss:Data></Comment>";
    // The columns a cell merges are no gap: only the row under the merge skips columns.
    const std::string expected =
        "<Row ss:Index=\"1\">\r\n"
        " <Cell ss:MergeDown=\"1\" ss:MergeAcross=\"2\" ss:StyleID=\"s21\">" +
        comment5 +
        "<Data ss:Type=\"String\">a</Data></Cell>\r\n"
        " <Cell ss:StyleID=\"s21\"><Data ss:Type=\"String\">d</Data></Cell>\r\n"
        " <Cell ss:StyleID=\"s21\"><Data ss:Type=\"String\">e</Data></Cell>\r\n"
        "</Row>\r\n"
        "<Row ss:Index=\"2\">\r\n"
        " <Cell ss:Index=\"4\" ss:StyleID=\"s21\"><Data ss:Type=\"String\">i</Data></Cell>\r\n"
        " <Cell ss:StyleID=\"s21\"><Data ss:Type=\"String\">j</Data></Cell>\r\n"
        "</Row>\r\n"
        "<Row ss:Index=\"3\">\r\n"
        " <Cell ss:Index=\"4\" ss:StyleID=\"s21\"><Data ss:Type=\"String\">k</Data></Cell>\r\n"
        "</Row>\r\n"
        "<Row ss:Index=\"4\">\r\n"
        " <Cell ss:StyleID=\"s21\">" +
        comment5.substr(0, comment5.find("Page 5")) + "Page 6</Font></B></ss:Data></Comment>" +
        "<Data ss:Type=\"String\">x</Data></Cell>\r\n</Row>\r\n";
    ASSERT_EQ(writer.sheets().size(), 1u);
    EXPECT_EQ(writer.sheets()[0].rows, expected);
    EXPECT_EQ(writer.sheets()[0].rowCount, 4);
    EXPECT_EQ(writer.sheets()[0].columnCount, 5);
}

TEST(SpreadsheetMl, SkippedReferencePagesAndEmptyOrigin) {
    TestBatch batch;
    batch.addPage({"ref"});
    batch.addPage({"|b"});
    batch.addPage({"tail"});
    const tagOutputPageInfo* pages = batch.finish();
    CSpreadsheetMLWriter writer(65001, true, false, 2);
    writer.WriteTable(2, true, true, 3, 2, pages, nullptr,
                      static_cast<std::int32_t>(batch.records.size()));
    EXPECT_EQ(writer.sheets()[0].rows.find("ref"), std::string::npos);
    EXPECT_EQ(writer.sheets()[0].rows.find("tail"), std::string::npos);
    EXPECT_TRUE(writer.sheets()[0].rows.starts_with(
        "<Row ss:Index=\"1\">\r\n <Cell ss:StyleID=\"s21\"><Comment ss:Author"));
    EXPECT_NE(writer.sheets()[0].rows.find("Page 2</Font>"), std::string::npos);
}

TEST(SpreadsheetMl, SheetOverflow) {
    TestBatch batch;
    std::vector<std::string> rows(50, "v");
    for (int p = 0; p < 1400; ++p) {
        batch.addPage(rows);
    }
    const tagOutputPageInfo* pages = batch.finish();
    CSpreadsheetMLWriter writer(65001, false, false, 2);
    writer.WriteTable(1, false, false, 700, 1, pages, nullptr,
                      static_cast<std::int32_t>(batch.records.size()));
    writer.WriteTable(701, false, false, 700, 1, pages + 700, nullptr,
                      static_cast<std::int32_t>(batch.records.size()));
    ASSERT_EQ(writer.sheets().size(), 2u);
    EXPECT_EQ(writer.sheets()[0].rowCount, 65500);
    EXPECT_EQ(writer.sheets()[1].rowCount, 4500);

    // Rows moved out to the temporary file come back whole and in order.
    ASSERT_FALSE(writer.sheets()[0].spilled.empty());
    const std::string document = workbookOf(writer);
    std::vector<long> indexes;
    for (std::size_t at = document.find("<Row ss:Index=\""); at != std::string::npos;
         at = document.find("<Row ss:Index=\"", at + 1)) {
        indexes.push_back(std::strtol(document.c_str() + at + 15, nullptr, 10));
    }
    ASSERT_EQ(indexes.size(), 70000u);
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        ASSERT_EQ(indexes[i], static_cast<long>(i < 65500 ? i + 1 : i - 65500 + 1)) << i;
    }
    EXPECT_TRUE(document.ends_with("</Workbook>\r\n")) << document.substr(document.size() - 40);
}

TEST(SpreadsheetMl, OverlappingRecordsKeepTheirText) {
    TestBatch batch;
    batch.addPage({"a|b", "c|d"});
    batch.records[0].columnSpan = 5;  // clipped to the grid, then shortened by b
    batch.records[2].rowSpan = 9;
    batch.texts.push_back("more");
    batch.records.push_back(makeRecord(1, 1, batch.texts.back()));
    batch.records.push_back(makeRecord(7, 7, batch.texts.back()));  // outside: dropped
    batch.pages[0].recordCount = 6;
    const tagOutputPageInfo* pages = batch.finish();
    CSpreadsheetMLWriter writer(65001, true, false, 1);
    writer.WriteTable(1, false, false, 1, 2, pages, nullptr, 6);
    const std::string& rows = writer.sheets()[0].rows;
    EXPECT_EQ(rows.find("Merge"), std::string::npos);
    EXPECT_NE(rows.find(">d more</Data>"), std::string::npos);
    EXPECT_NE(rows.find(">b</Data>"), std::string::npos);
}

TEST(SpreadsheetMl, WholeWorkbook) {
    TestBatch batch;
    batch.addPage({"1,234.50|31/12/2003"});
    const tagOutputPageInfo* pages = batch.finish();
    CSpreadsheetMLWriter writer(65001, false, true, 2);
    writer.WriteTable(1, false, false, 1, 2, pages, nullptr, 2);
    std::string document;
    std::tm created{};
    created.tm_year = 110;
    created.tm_mday = 1;
    writer.WriteWorkbook([&](std::string_view piece) { document += piece; }, true, created);
    const std::string expected =
        "<?xml version=\"1.0\"?>\r\n"
        "<?mso-application progid=\"Excel.Sheet\"?>\r\n"
        "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"\r\n"
        " xmlns:o=\"urn:schemas-microsoft-com:office:office\"\r\n"
        " xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\r\n"
        " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"\r\n"
        " xmlns:html=\"http://www.w3.org/TR/REC-html40\">\r\n"
        " <DocumentProperties xmlns=\"urn:schemas-microsoft-com:office:office\">\r\n"
        "  <Author>tabulan</Author>\r\n"
        "  <LastAuthor>tabulan</LastAuthor>\r\n"
        "  <Created>2010-01-01T00:00:00.000</Created>\r\n"
        "  <Company>COMPANY</Company>\r\n"
        "  <Version>13.00</Version>\r\n"
        " </DocumentProperties>\r\n"
        " <OfficeDocumentSettings xmlns=\"urn:schemas-microsoft-com:office:office\">\r\n"
        " </OfficeDocumentSettings>\r\n"
        " <ExcelWorkbook xmlns=\"urn:schemas-microsoft-com:office:excel\">\r\n"
        "  <WindowHeight>12945</WindowHeight>\r\n"
        "  <WindowWidth>21435</WindowWidth>\r\n"
        "  <WindowTopX>360</WindowTopX>\r\n"
        "  <WindowTopY>105</WindowTopY>\r\n"
        "  <ProtectStructure>False</ProtectStructure>\r\n"
        "  <ProtectWindows>False</ProtectWindows>\r\n"
        " </ExcelWorkbook>\r\n"
        "<Styles>\r\n"
        "<Style ss:ID=\"s21\">\r\n<Alignment ss:Horizontal=\"Left\"/><NumberFormat "
        "ss:Format=\"#,##0.00_ \"/>\r\n</Style>\r\n"
        "<Style ss:ID=\"s22\">\r\n<Alignment ss:Horizontal=\"Left\"/><NumberFormat "
        "ss:Format=\"dd/mm/yyyy\"/>\r\n</Style>\r\n"
        "</Styles>\r\n"
        "<Worksheet ss:Name=\"Sheet1\" ss:RightToLeft=\"1\">\r\n"
        "  <Table ss:ExpandedColumnCount=\"2\"   ss:ExpandedRowCount=\"1\" x:FullColumns=\"1\"\r\n"
        "   x:FullRows=\"1\">\r\n"
        " <Column ss:Index=\"1\" ss:AutoFitWidth=\"1\"/>\r\n"
        " <Column ss:Index=\"2\" ss:AutoFitWidth=\"1\"/>\r\n"
        "<Row ss:Index=\"1\">\r\n"
        " <Cell ss:StyleID=\"s21\"><Comment ss:Author=\"tabulan\"><ss:Data   "
        "xmlns=\"http://www.w3.org/TR/REC-html40\"><B><Font html:Face=\"Tahoma\"  "
        "x:CharSet=\"134\" x:Family=\"Swiss\" html:Size=\"8\" html:Color=\"#000000\">Page "
        "1</Font></B></ss:Data></Comment><Data ss:Type=\"Number\">1234.50</Data></Cell>\r\n"
        " <Cell ss:StyleID=\"s22\"><Data "
        "ss:Type=\"DateTime\">2003-12-31T00:00:00.000</Data></Cell>\r\n"
        "</Row>\r\n"
        "  </Table>\r\n"
        "  <WorksheetOptions xmlns=\"urn:schemas-microsoft-com:office:excel\">\r\n"
        "   <Selected/>\r\n"
        "   <ProtectObjects>False</ProtectObjects>\r\n"
        "   <ProtectScenarios>False</ProtectScenarios>\r\n"
        "  </WorksheetOptions>\r\n"
        " </Worksheet>\r\n"
        "\r\n</Workbook>\r\n";
    std::string company = expected;
    std::string host = document.substr(document.find("<Company>") + 9);
    host = host.substr(0, host.find("</Company>"));
    company.replace(company.find("COMPANY"), 7, host);
    EXPECT_EQ(document, company);
}

TEST(SpreadsheetMl, EmptyWorkbookHasOneSheet) {
    CSpreadsheetMLWriter writer(65001, false, false, 2);
    const std::string document = workbookOf(writer);
    EXPECT_NE(document.find("<Worksheet ss:Name=\"Sheet1\">"), std::string::npos);
    EXPECT_EQ(document.find("Sheet2"), std::string::npos);
}

TEST(SpreadsheetMl, ConsumersReadTheWorkbook) {
    TestBatch batch;
    const std::string utf8 = "caf\xc3\xa9 \xf0\x9f\x98\x80";
    batch.addPage({"h&1|<h2>|\"q\"", "1,234.50|(12)|0123", utf8 + "|x\x01y|31/12/2003"});
    batch.addPage({"m|n"});
    batch.records[0].fontName = "F\"&<";
    const tagOutputPageInfo* pages = batch.finish();
    CSpreadsheetMLWriter writer(65001, false, true, 2);
    writer.WriteTable(1, false, false, 2, 3, pages, nullptr,
                      static_cast<std::int32_t>(batch.records.size()));
    char folder[] = "/tmp/sml-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    {
        std::ofstream out(dir + "/book.xml", std::ios::binary);
        out << workbookOf(writer);
    }
    EXPECT_EQ(testing::runCommand("xmllint --noout " + dir + "/book.xml 2>&1"), "");
    std::string failure;
    const std::string converted =
        convertWithLibreOffice(dir + "/book.xml", dir, kLibreOfficeCsv, failure);
    EXPECT_FALSE(converted.empty()) << failure;
    std::ifstream in(converted, std::ios::binary);
    std::stringstream csv;
    csv << in.rdbuf();
    const std::string expected =
        "h&1,<h2>,\"\"\"q\"\"\"\n"
        "\"1234.5\",\"-12\",0123\n" +
        utf8 + ",xy,\"12/31/2003\"\nm,n,\n";
    EXPECT_EQ(csv.str(), expected);
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace paginor
