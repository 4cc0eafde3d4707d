#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "convert/conversion_driver.h"
#include "convert/write/workbook_archive.h"
#include "core/report_core.h"
#include "tests/convert/convert_harness.h"
#include "tests/support/report_generator.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

tagOutputCellInfo textCell(std::int32_t row, std::int32_t column, const char* text) {
    tagOutputCellInfo cell;
    cell.row = row;
    cell.column = column;
    cell.text = text;
    cell.textLength = static_cast<std::int32_t>(std::char_traits<char>::length(text));
    return cell;
}

// The pages of one batch over hand-made records.
struct BatchInput {
    std::vector<tagOutputCellInfo> records;
    std::vector<tagOutputPageInfo> pages;
    tagOutputBatchInfo batch;

    explicit BatchInput(const std::vector<std::uint32_t>& rowsPerPage) {
        for (const std::uint32_t rows : rowsPerPage) {
            tagOutputPageInfo page;
            page.rowCount = rows;
            pages.push_back(page);
        }
    }
    void add(std::int32_t page, tagOutputCellInfo cell) {
        cell.page = page;
        records.push_back(cell);
    }
    // Call once every record is in.
    const tagOutputBatchInfo& info() {
        for (auto& page : pages) {
            page.records = records.data();
            page.recordCount = 0;
        }
        for (const auto& record : records) {
            ++pages[static_cast<std::size_t>(record.page)].recordCount;
        }
        batch.pages = pages.data();
        return batch;
    }
    std::int32_t count() const { return static_cast<std::int32_t>(records.size()); }
};

class WorkbookArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/workbook-archive-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_dir = folder;
        fs::create_directory(m_dir / "parts");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // A loaded report of the given charset: the writer takes its code page and base folder.
    void load(CReportCore& core, const std::string& charset) {
        const std::string html =
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
            charset + "\"></head><body><!--9876543210_PageMark_Head--><table><tr><td " +
            "width=\"10\">a</td></tr></table><!--9876543210_PageMark_Foot--></body></html>";
        writeFile(m_dir / "report.htm", html);
        core.Init((m_dir / "report.htm").string(), nullptr, false, nullptr, nullptr, nullptr);
    }

    // Writes the archive and reads it with Python's email package and html.parser: the findings
    // and the part list; the decoded parts land in parts/, each without its last line break,
    // which belongs to the boundary line after it.
    std::string writeAndRead(WorkbookArchive& archive, bool protect = false,
                             const std::string& options = "") {
        std::string data;
        archive.WriteWorkbook([&](std::string_view piece) { data += piece; }, protect);
        m_archive = data;
        writeFile(m_dir / "out.mht", data);
        return testing::runCommand("/usr/bin/python3 " PAGINOR_TESTS_DIR
                                   "/convert/write/web_archive_check.py " +
                                   (m_dir / "out.mht").string() + " " + (m_dir / "parts").string() +
                                   " " + options + " 2>&1");
    }

    std::string part(const std::string& name) const { return readFile(m_dir / "parts" / name); }

    fs::path m_dir;
    std::string m_archive;
};

std::vector<std::string> cellTexts(const std::string& cells) {
    std::vector<std::string> texts;
    std::istringstream in(cells);
    for (std::string line; std::getline(in, line);) {
        const auto close = line.find("] ");
        if (line.rfind("  [", 0) == 0 && close != std::string::npos) {
            texts.push_back(line.substr(close + 2));
        }
    }
    return texts;
}

std::string sheetHead(const char* decimal, const char* thousands, const char* protect) {
    return std::string(
               "<html xmlns:o=\"urn:schemas-microsoft-com:office:office\"\r\n"
               "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\r\n"
               "xmlns=\"http://www.w3.org/TR/REC-html40\">\r\n"
               "<head>\r\n"
               "<meta http-equiv=Content-Type content=\"text/html; charset=us-ascii\">\r\n"
               "<meta name=ProgId content=Excel.Sheet>\r\n"
               "<meta name=Generator content=\"Microsoft Excel 11\">\r\n"
               "<link rel=Stylesheet href=stylesheet.css>\r\n"
               "<style>\r\n"
               "<!--table\r\n"
               "\t{mso-displayed-decimal-separator:\"\\") +
           decimal + "\";\r\n\tmso-displayed-thousand-separator:\"\\" + thousands +
           "\";}\r\n"
           "@page\r\n"
           "\t{margin:1.0in .75in 1.0in .75in;\r\n"
           "\tmso-header-margin:.5in;\r\n"
           "\tmso-footer-margin:.5in;}\r\n"
           "-->\r\n"
           "</style>\r\n"
           "<!--[if gte mso 9]><xml>\r\n"
           " <x:WorksheetOptions>\r\n"
           "  <x:Panes>\r\n"
           "   <x:Pane>\r\n"
           "    <x:Number>3</x:Number>\r\n"
           "    <x:ActiveRow>0</x:ActiveRow>\r\n"
           "    <x:ActiveCol>0</x:ActiveCol>\r\n"
           "   </x:Pane>\r\n"
           "  </x:Panes>\r\n"
           "  <x:ProtectContents>" +
           protect + "</x:ProtectContents>\r\n  <x:ProtectObjects>" + protect +
           "</x:ProtectObjects>\r\n  <x:ProtectScenarios>" + protect +
           "</x:ProtectScenarios>\r\n"
           " </x:WorksheetOptions>\r\n"
           "</xml><![endif]-->\r\n"
           "</head>\r\n"
           "<body link=blue vlink=purple>\r\n";
}

// One page with every kind of cell, read back by the outside consumers.
TEST_F(WorkbookArchiveTest, CellsOfAPage) {
    CReportCore core;
    load(core, "windows-1252");
    const std::string gif = std::string("GIF89a\0\r\n", 9) + std::string(3000, '\x07');
    writeFile(m_dir / "pic.gif", gif);
    writeFile(m_dir / "logo.xyz", "logo bytes");
    static const char kLink[] = "Home\0http://x/?a=1&b=2";
    BatchInput input({4, 1});
    tagOutputCellInfo name = textCell(0, 0, "Name");
    name.bold = 1;
    name.fontSize = 10;
    name.fontName = "Arial";
    input.add(0, name);
    tagOutputCellInfo spanned = textCell(0, 1, "a<b & c");
    spanned.bold = 1;
    spanned.fontSize = 10;
    spanned.fontName = "Arial";
    spanned.rowSpan = 2;
    spanned.columnSpan = 3;
    spanned.backgroundColour = 0x0000FF;
    spanned.alignment = 2;
    input.add(0, spanned);
    input.add(0, textCell(1, 0, "x\ny"));
    tagOutputCellInfo euro = textCell(2, 0, "\x80 5");
    euro.fontName = "Caf\xE9";
    euro.fontColour = 0xFF0000;
    euro.alignment = 3;
    input.add(0, euro);
    tagOutputCellInfo link = textCell(2, 1, kLink);
    link.kind = kKindLink;
    input.add(0, link);
    tagOutputCellInfo picture = textCell(2, 2, "pic.gif");
    picture.kind = kKindImage;
    picture.size = 40u << 16 | 16u;
    input.add(0, picture);
    tagOutputCellInfo logo = textCell(2, 3, "logo.xyz");
    logo.kind = kKindImage;
    logo.size = 40u << 16 | 15u;
    input.add(0, logo);
    tagOutputCellInfo left = textCell(3, 3, "1,5");
    left.alignment = 1;
    input.add(0, left);
    input.add(1, textCell(0, 0, "reference page"));

    WorkbookArchive archive(core, 0);
    std::time_t stamp = 0;
    archive.WriteSheetTable(false, true, 2, 4, input.info(), &stamp, input.count(), true);
    EXPECT_NE(stamp, 0);
    EXPECT_EQ(archive.commaDecimalCount(), 1);

    EXPECT_EQ(writeAndRead(archive),
              "part tabulan-xls.htm quoted-printable text/html us-ascii\n"
              "part stylesheet.css quoted-printable text/html us-ascii\n"
              "part sheet001.htm quoted-printable text/html us-ascii\n"
              "part pic.gif base64 image/gif -\n"
              "part logo.xyz base64 application/octet-stream -\n");
    EXPECT_EQ(part("stylesheet.css"),
              "  .tbz0{font: bold 10pt Arial; color:#000000;}\r\n"
              "  .tbz1{font:              ; color:#0000FF;}\r\n");
    EXPECT_EQ(part("sheet001.htm"),
              sheetHead(",", ".", "False") +
                  "<TABLE>\r\n"
                  "<tr>\r\n"
                  " <td class=tbz0 >Name</td>\r\n"
                  " <td rowspan=\"2\" colspan=\"3\" class=tbz0  bgcolor=\"#FF0000\"  "
                  "align=\"center\" >a&lt;b &amp; c</td>\r\n"
                  "</tr>\r\n"
                  "<tr>\r\n"
                  " <td>x<br>y</td>\r\n"
                  "</tr>\r\n"
                  "<tr>\r\n"
                  " <td class=tbz1  align=\"right\" ><font face=\"Caf&#233;\">&#8364; "
                  "5</font></td>\r\n"
                  " <td><a href=\"http://x/?a=1&amp;b=2\">Home</a></td>\r\n"
                  " <td height=\"20\"><img src=\"pic.gif\"  height=\"20\"></td>\r\n"
                  " <td><img src=\"logo.xyz\" ></td>\r\n"
                  "</tr>\r\n"
                  "<tr>\r\n"
                  " <td></td>\r\n"
                  " <td></td>\r\n"
                  " <td></td>\r\n"
                  " <td align=\"left\" >1,5</td>\r\n"
                  "</tr>\r\n"
                  "</TABLE>\r\n"
                  "\r\n</body>\r\n</html>\r\n");
    EXPECT_EQ(part("sheet001.htm.cells"),
              "table\n"
              " row\n"
              "  [class=tbz0] Name\n"
              "  [rowspan=2 colspan=3 class=tbz0 bgcolor=#FF0000 align=center] a<b & c\n"
              " row\n"
              "  [] x\\ny\n"
              " row\n"
              "  [class=tbz1 align=right] <font Caf\xC3\xA9>\xE2\x82\xAC 5\n"
              "  [] <a http://x/?a=1&b=2>Home\n"
              "  [height=20] <img pic.gif 20>\n"
              "  [] <img logo.xyz ->\n"
              " row\n"
              "  [] \n"
              "  [] \n"
              "  [] \n"
              "  [align=left] 1,5\n");
    EXPECT_EQ(part("pic.gif"), gif);
    EXPECT_EQ(part("logo.xyz"), "logo bytes");
    const std::string header =
        "MIME-Version: 1.0\r\n"
        "X-Document-Type: Workbook\r\n"
        "Content-Type: multipart/related; boundary=\"----=_NextPart_01C9ECD4.4FF9C280\"\r\n"
        "\r\n"
        "This document is a Single File Web Page, also known as a Web Archive file.  If you are "
        "seeing this message, your browser or editor doesn't support Web Archive files.  Please "
        "download a browser that supports Web Archive, such as Microsoft Internet Explorer.\r\n"
        "\r\n"
        "------=_NextPart_01C9ECD4.4FF9C280\r\n"
        "Content-Location: tabulan-xls.htm\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n"
        "Content-Type: text/html; charset=\"us-ascii\"\r\n"
        "\r\n";
    EXPECT_EQ(m_archive.substr(0, header.size()), header);
    const std::string site = supportAddress().substr(supportAddress().find('@') + 1);
    EXPECT_EQ(part("tabulan-xls.htm"),
              "<html xmlns:o=\"urn:schemas-microsoft-com:office:office\"\r\n"
              "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\r\n"
              "xmlns=\"http://www.w3.org/TR/REC-html40\">\r\n"
              "<head>\r\n"
              "<meta name=\"Excel Workbook Frameset\">\r\n"
              "<meta http-equiv=Content-Type content=\"text/html; charset=us-ascii\">\r\n"
              "<meta name=ProgId content=Excel.Sheet>\r\n"
              "<meta name=Generator content=\"Tabulan\">\r\n"
              "<!--[if gte mso 9]><xml>\r\n"
              " <o:DocumentProperties>\r\n"
              "  <o:Author>Tabulan, web site: " +
                  site +
                  "</o:Author>\r\n"
                  "  <o:Version>11.5606</o:Version>\r\n"
                  " </o:DocumentProperties>\r\n"
                  "</xml><![endif]-->\r\n"
                  "<!--[if gte mso 9]><xml>\r\n"
                  " <x:ExcelWorkbook>\r\n"
                  "  <x:ExcelWorksheets>\r\n"
                  "   <x:ExcelWorksheet>\r\n"
                  "    <x:Name>Sheet1</x:Name> \r\n"
                  " <x:WorksheetSource HRef=\"sheet001.htm\"/>\r\n"
                  "   </x:ExcelWorksheet>\r\n"
                  "  </x:ExcelWorksheets>\r\n"
                  "  <x:Stylesheet HRef=\"stylesheet.css\"/>\r\n"
                  "  <x:ActiveSheet>0</x:ActiveSheet>\r\n"
                  " </x:ExcelWorkbook>\r\n"
                  "</xml><![endif]-->\r\n"
                  "</head>\r\n"
                  "</html>\r\n");
    EXPECT_EQ(m_archive.substr(m_archive.size() - 38), "\r\n------=_NextPart_01C9ECD4.4FF9C280--");
}

std::size_t countOf(const std::string& text, const std::string& word) {
    std::size_t n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++n;
    }
    return n;
}

// Each image once, typed by its extension; a type the table does not know is a byte stream, and
// an image whose file cannot be opened is left out.
// Batches made before the ones ahead of them are placed give what writing them in turn gives:
// style classes are numbered across the archive, decimal counts add up.
TEST_F(WorkbookArchiveTest, BatchesMadeAheadArePlacedInOrder) {
    CReportCore core;
    load(core, "windows-1252");
    tagOutputCellInfo bold = textCell(0, 0, "1,5");
    bold.bold = 1;
    tagOutputCellInfo red = textCell(0, 1, "2.5");
    red.fontColour = 0x0000FF;
    BatchInput first({1});
    first.add(0, bold);
    BatchInput second({1, 1});
    second.add(0, red);
    second.add(1, bold);

    WorkbookArchive inTurn(core, 0);
    inTurn.WriteSheetTable(false, false, 1, 2, first.info(), nullptr, first.count(), false);
    inTurn.WriteSheetTable(false, false, 2, 2, second.info(), nullptr, second.count(), false);
    writeAndRead(inTurn);
    const std::string expected = m_archive;

    WorkbookArchive placed(core, 0);
    const ArchiveCellSettings settings = placed.cellSettings(false);
    ArchiveBatch madeSecond;
    WorkbookArchive::MakeBatch(settings, false, false, 2, 2, second.info(), second.count(), nullptr,
                               madeSecond);
    ArchiveBatch madeFirst;
    WorkbookArchive::MakeBatch(settings, false, false, 1, 2, first.info(), first.count(), nullptr,
                               madeFirst);
    placed.WriteBatch(madeFirst, nullptr);
    placed.WriteBatch(madeSecond, nullptr);
    EXPECT_EQ(placed.commaDecimalCount(), 2);
    EXPECT_EQ(placed.pointDecimalCount(), 1);
    writeAndRead(placed);
    EXPECT_EQ(m_archive, expected);
    EXPECT_NE(m_archive.find("class=3Dtbz1 >2.5"), std::string::npos);
}

// Control characters in a report's text are not HTML and never pass for the marks that stand for
// the style classes of a batch made ahead of its turn.
TEST_F(WorkbookArchiveTest, ControlCharactersInTextsAreDropped) {
    CReportCore core;
    load(core, "windows-1252");
    const char* texts[] = {"a\x01S0\x02z", "\x01S99\x02", "\x01", "b\x01R7", "c\x1f\x7f\td"};
    BatchInput input({1});
    std::int32_t column = 0;
    for (const char* text : texts) {
        tagOutputCellInfo cell = textCell(0, column++, text);
        cell.bold = column % 2;
        input.add(0, cell);
    }
    tagOutputCellInfo font = textCell(0, column++, "e");
    font.fontName = "Fo\x01nt";
    input.add(0, font);
    const auto columns = static_cast<std::int32_t>(input.count());

    WorkbookArchive placed(core, 0);
    ArchiveBatch made;
    WorkbookArchive::MakeBatch(placed.cellSettings(false), false, false, 1, columns, input.info(),
                               input.count(), nullptr, made);
    placed.WriteBatch(made, nullptr);
    writeAndRead(placed);
    EXPECT_EQ(cellTexts(part("sheet001.htm.cells")),
              (std::vector<std::string>{"aS0z", "S99", "", "bR7", "c\td", "<font Font>e"}));
    const std::string sheet = part("sheet001.htm");
    EXPECT_EQ(std::count_if(
                  sheet.begin(), sheet.end(),
                  [](char c) { return c >= 0 && c < 0x20 && c != '\r' && c != '\n' && c != '\t'; }),
              0)
        << sheet;
}

TEST_F(WorkbookArchiveTest, ImageParts) {
    CReportCore core;
    load(core, "windows-1252");
    writeFile(m_dir / "photo.jpeg", std::string("\xFF\xD8\xFF\xE0", 4));
    writeFile(m_dir / "shape.svgz", "s");
    writeFile(m_dir / "a b.gif", "GIF89a");
    BatchInput input({5});
    const char* sources[] = {"photo.jpeg", "shape.svgz", "photo.jpeg", "a b.gif", "none.gif"};
    for (std::int32_t r = 0; r < 5; ++r) {
        tagOutputCellInfo image = textCell(r, 0, sources[r]);
        image.kind = kKindImage;
        input.add(0, image);
    }
    WorkbookArchive archive(core, 0);
    archive.WriteSheetTable(false, false, 1, 1, input.info(), nullptr, input.count(), true);
    EXPECT_EQ(writeAndRead(archive),
              "part tabulan-xls.htm quoted-printable text/html us-ascii\n"
              "part sheet001.htm quoted-printable text/html us-ascii\n"
              "part photo.jpeg base64 image/jpeg -\n"
              "part shape.svgz base64 application/octet-stream -\n"
              "part a%20b.gif base64 image/gif -\n");
    EXPECT_EQ(part("a%20b.gif"), "GIF89a");
    EXPECT_EQ(cellTexts(part("sheet001.htm.cells")),
              (std::vector<std::string>{"<img photo.jpeg ->", "<img shape.svgz ->",
                                        "<img photo.jpeg ->", "<img a%20b.gif ->", ""}));
    EXPECT_EQ(part("sheet001.htm").find("none.gif"), std::string::npos);
}

// Pages are never split: a sheet ends before the page that would carry it past 65535 rows.
// Sheets of 1 MB and more go through the temporary file.
TEST_F(WorkbookArchiveTest, SheetsEndAtTheRowLimit) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::uint32_t>> batches;  // rows per page, per batch
        std::vector<std::size_t> rowsPerSheet;
    };
    const Case cases[] = {
        {"two pages of 40000 rows", {{40000, 40000}}, {40000, 40000}},
        {"one page of 70000 rows", {{70000}}, {70000}},
        {"the limit exactly, in two batches", {{30000, 35535}, {1}}, {65535, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CReportCore core;
        load(core, "windows-1252");
        WorkbookArchive archive(core, 0);
        for (const auto& rows : c.batches) {
            BatchInput input(rows);
            input.add(0, textCell(0, 0, "first"));
            archive.WriteSheetTable(false, false, static_cast<std::int32_t>(rows.size()), 1,
                                    input.info(), nullptr, input.count(), false);
        }
        std::string expected = "part tabulan-xls.htm quoted-printable text/html us-ascii\n";
        for (std::size_t n = 1; n <= c.rowsPerSheet.size(); ++n) {
            expected +=
                "part sheet00" + std::to_string(n) + ".htm quoted-printable text/html us-ascii\n";
        }
        ASSERT_EQ(writeAndRead(archive, false, "--no-cells"), expected);
        const std::string frameset = part("tabulan-xls.htm");
        EXPECT_NE(frameset.find("  <x:Stylesheet HRef=\"stylesheet.css\"/>"), std::string::npos);
        for (std::size_t n = 1; n <= c.rowsPerSheet.size(); ++n) {
            const std::string number = std::to_string(n);
            EXPECT_NE(frameset.find("    <x:Name>Sheet" + number +
                                    "</x:Name> \r\n <x:WorksheetSource HRef=\"sheet00" + number +
                                    ".htm\"/>\r\n"),
                      std::string::npos);
            EXPECT_EQ(countOf(part("sheet00" + number + ".htm"), "<tr>\r\n"),
                      c.rowsPerSheet[n - 1]);
        }
        EXPECT_EQ(countOf(frameset, "<x:ExcelWorksheet>"), c.rowsPerSheet.size());
    }
}

// The head's separators follow the mode and the numbers met; without a deciding number the
// point stays.
TEST_F(WorkbookArchiveTest, SeparatorsAndProtection) {
    struct Case {
        const char* name;
        std::int32_t mode;
        std::vector<const char*> texts;
        bool protect;
        const char* decimal;
        const char* thousands;
    };
    const std::vector<const char*> nineCommas(9, "1,25");
    std::vector<const char*> nineToOne = nineCommas;
    nineToOne.push_back("1.25");
    std::vector<const char*> eightToOne(nineCommas.begin() + 1, nineCommas.end());
    eightToOne.push_back("1.25");
    const Case cases[] = {
        {"no numbers", 0, {"abc"}, false, ".", ","},
        {"comma decimals only", 0, {"1,5", "x"}, true, ",", "."},
        {"nine commas to one point", 0, nineToOne, false, ",", "."},
        {"eight commas to one point", 0, eightToOne, false, ".", ","},
        {"points", 0, {"1.25", "1,234.5"}, false, ".", ","},
        {"comma mode", 1, {"1.25"}, false, ",", "."},
        {"point mode", 2, {"1,5"}, true, ".", ","},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CReportCore core;
        load(core, "windows-1252");
        WorkbookArchive archive(core, c.mode);
        BatchInput input({static_cast<std::uint32_t>(c.texts.size())});
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            input.add(0, textCell(static_cast<std::int32_t>(i), 0, c.texts[i]));
        }
        archive.WriteSheetTable(false, false, 1, 1, input.info(), nullptr, input.count(), false);
        EXPECT_EQ(archive.BuildSheetHead(c.protect),
                  sheetHead(c.decimal, c.thousands, c.protect ? "True" : "False"));
    }
}

// Every code point from 127 up is one reference, whatever the report's code page; markup
// characters are escaped.
// The steps that write the parts, each by its exact text.
TEST_F(WorkbookArchiveTest, PartSteps) {
    std::string out;
    const WorkbookArchive::Sink sink = [&](std::string_view piece) { out += piece; };
    const std::string boundary = std::string("--") + WorkbookArchive::kBoundary + "\r\n";
    {
        QuotedPrintableEncoder body(sink);
        WorkbookArchive::WriteQuotedPrintable(sink, body, "a=b", "sheet001.htm", "us-ascii");
        WorkbookArchive::WriteQuotedPrintableText(sink, body, "\tc", nullptr, "us-ascii");
        WorkbookArchive::WriteSheetEnd(sink, body);
        body.Finish();
    }
    EXPECT_EQ(out, boundary +
                       "Content-Location: sheet001.htm\r\n"
                       "Content-Transfer-Encoding: quoted-printable\r\n"
                       "Content-Type: text/html; charset=\"us-ascii\"\r\n\r\n"
                       "a=3Db\tc\r\n</body>\r\n</html>\r\n\r\n");
    CReportCore core;
    load(core, "windows-1252");
    WorkbookArchive archive(core, 1);
    out.clear();
    {
        QuotedPrintableEncoder body(sink);
        archive.WriteSheetHead(sink, body, true);
        body.Finish();
    }
    std::string encoded;
    QuotedPrintableEncoder expected([&](std::string_view piece) { encoded += piece; });
    expected.Append(sheetHead(",", ".", "True"));
    expected.Finish();
    EXPECT_EQ(out, encoded);
    for (const auto& [location, type] :
         {std::pair<const char*, const char*>{"img/logo.jpeg", "image/jpeg"},
          {"a.b/logo", "application/octet-stream"}}) {
        out.clear();
        WorkbookArchive::WriteBase64PartHeader(sink, location);
        EXPECT_EQ(out, boundary + "Content-Location: " + location +
                           "\r\nContent-Transfer-Encoding: base64\r\nContent-Type: " + type +
                           "\r\n\r\n");
    }
}

TEST_F(WorkbookArchiveTest, TextAsAscii) {
    struct Case {
        const char* charset;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"windows-1252", "\x80", "&#8364;"},
        {"windows-1252", "a<b>&\"c\" d\r", "a&lt;b&gt;&amp;&quot;c&quot; d\r"},
        {"utf-8", "\xF0\x9F\x98\x80", "&#128512;"},
        {"utf-8", "\xC3\xA9t\xC3\xA9", "&#233;t&#233;"},
        {"windows-1251", "\xC4\xE0", "&#1044;&#1072;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        CReportCore core;
        load(core, c.charset);
        WorkbookArchive archive(core, 0);
        std::string out;
        archive.WriteTextAsAscii(out, c.text);
        EXPECT_EQ(out, c.expected);
    }
}

// A character the report's code page lacks arrives as a reference and stays that character;
// every reference stands for its character once.
TEST_F(WorkbookArchiveTest, CharacterReferencesInCells) {
    CReportCore core;
    load(core, "windows-1252");
    BatchInput input({1});
    input.add(0, textCell(0, 0,
                          "&#321;\xF3"
                          "d&#x17A; &amp; &#9999999;"));
    WorkbookArchive archive(core, 0);
    std::time_t stamp = 0;
    archive.WriteSheetTable(false, false, 1, 1, input.info(), &stamp, input.count(), true);
    writeAndRead(archive);
    const std::string sheet = part("sheet001.htm");
    EXPECT_NE(sheet.find(">&#321;&#243;d&#378; &amp; &#65533;<"), std::string::npos) << sheet;
}

class WebArchiveExport : public WorkbookArchiveTest {
protected:
    ExcelOutputOptions options(std::int32_t first, std::int32_t last) {
        ExcelOutputOptions o;
        o.fileFormat = ExportFileFormat::ExcelCompatible;
        o.firstPage = first;
        o.lastPage = last;
        o.outputPath = (m_dir / "out.mht").string();
        return o;
    }
    void loadHtml(CReportCore& core, const std::string& html) {
        writeFile(m_dir / "report.htm", html);
        core.Init((m_dir / "report.htm").string(), nullptr, false, nullptr, nullptr, nullptr);
    }
    std::string readArchive() {
        return testing::runCommand(
            "/usr/bin/python3 " PAGINOR_TESTS_DIR "/convert/write/web_archive_check.py " +
            (m_dir / "out.mht").string() + " " + (m_dir / "parts").string() + " 2>&1");
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

// An HTML report with images in its cells; an image 30 pixels high is 22 points, written 28.
std::string imageReport(const std::string& image) {
    std::string html =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n</head>\r\n<body>\r\n";
    for (int p = 1; p <= 2; ++p) {
        html +=
            "<!--9876543210_PageMark_Head--><table width=\"300\">\r\n<tr><td width=\"100\">"
            "<b>Logo</b></td><td width=\"200\"><img src=\"" +
            image +
            "\" width=\"40\" height=\"30\"></td></tr>\r\n"
            "<tr><td>Total</td><td>1,234.50</td></tr>\r\n"
            "</table><!--9876543210_PageMark_Foot-->\r\n";
    }
    return html + "</body>\r\n</html>\r\n";
}

// Whole exports read back by the outside consumers: one table per page, the cells' texts, the
// images as their source bytes.
TEST_F(WebArchiveExport, ReportsOfEachFormat) {
    {
        SCOPED_TRACE("HTML with images");
        const std::string gif = std::string("GIF89a", 6) + std::string(2000, '\x01');
        writeFile(m_dir / "pic.gif", gif);
        CReportCore core;
        loadHtml(core, imageReport("pic.gif"));
        ExcelOutputOptions o = options(1, 2);
        o.images = true;
        o.password = "secret";
        EXPECT_EQ(OutputToExcelFile(core, o), 0);
        EXPECT_EQ(readArchive(),
                  "part tabulan-xls.htm quoted-printable text/html us-ascii\n"
                  "part stylesheet.css quoted-printable text/html us-ascii\n"
                  "part sheet001.htm quoted-printable text/html us-ascii\n"
                  "part pic.gif base64 image/gif -\n");
        EXPECT_EQ(part("pic.gif"), gif);
        const std::string cells = part("sheet001.htm.cells");
        EXPECT_EQ(countOf(cells, "table\n"), 2u);
        EXPECT_EQ(cellTexts(cells),
                  (std::vector<std::string>{"Logo", "<img pic.gif 28>", "Total", "1,234.50", "Logo",
                                            "<img pic.gif 28>", "Total", "1,234.50"}));
        const std::string sheet = part("sheet001.htm");
        EXPECT_NE(sheet.find("<x:ProtectContents>True</x:ProtectContents>"), std::string::npos);
        EXPECT_NE(sheet.find("mso-displayed-decimal-separator:\"\\.\""), std::string::npos);
        EXPECT_EQ(files(), (std::vector<std::string>{"out.mht", "parts", "pic.gif", "report.htm"}));
    }
    {
        SCOPED_TRACE("HTMLCSS");
        ReportSpec spec;
        spec.format = GeneratedFormat::HtmlCss;
        spec.pageMarks = true;
        spec.pages = 3;
        spec.rowsPerPage = 5;
        std::vector<GeneratedPage> pages;
        CReportCore core;
        loadHtml(core, makeReport(spec, pages));
        EXPECT_EQ(OutputToExcelFile(core, options(1, 3)), 0);
        const std::string found = readArchive();
        EXPECT_EQ(found.find("defect"), std::string::npos) << found;
        const std::string cells = part("sheet001.htm.cells");
        EXPECT_EQ(countOf(cells, "table\n"), 3u);
        EXPECT_EQ(countOf(cells, " row\n"), 15u);
        for (const std::string& text : cellTexts(cells)) {
            EXPECT_FALSE(text.empty());
        }
    }
}

// A failure leaves the target as it was and no file behind.
TEST_F(WebArchiveExport, FailuresLeaveTheTargetUnchanged) {
    struct Case {
        const char* name;
        std::string image;
        bool targetIsFolder;
        const char* text;
    };
    // A picture that is a folder is left out as a missing one is (see the export tests).
    fs::create_directory(m_dir / "folder.gif");
    const Case cases[] = {
        // Found before any page is converted.
        {"target is a folder", "folder.gif", true,
         "a folder has that name (Is a directory). [OtEFOp1]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CReportCore core;
        loadHtml(core, imageReport(c.image));
        ExcelOutputOptions o = options(1, 2);
        o.images = true;
        writeFile(m_dir / "out.mht", "old");
        if (c.targetIsFolder) {
            o.outputPath = (m_dir / "parts").string();
        }
        try {
            OutputToExcelFile(core, o);
            ADD_FAILURE() << "no failure";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), -1);
            EXPECT_NE(error.text().find(c.text), std::string::npos) << error.text();
        }
        EXPECT_EQ(readFile(m_dir / "out.mht"), "old");
        EXPECT_TRUE(fs::is_empty(m_dir / "parts"));
        EXPECT_EQ(files(),
                  (std::vector<std::string>{"folder.gif", "out.mht", "parts", "report.htm"}));
    }
}

}  // namespace
}  // namespace paginor
