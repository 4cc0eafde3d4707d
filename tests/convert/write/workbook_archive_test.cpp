#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "convert/write/workbook_archive.h"
#include "core/report_core.h"
#include "tests/convert/convert_harness.h"

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
    std::string writeAndRead(WorkbookArchive& archive, bool protect = false) {
        std::string data;
        archive.WriteWorkbook([&](std::string_view piece) { data += piece; }, protect);
        m_archive = data;
        writeFile(m_dir / "out.mht", data);
        return testing::runCommand(
            "/usr/bin/python3 " PAGINOR_TESTS_DIR "/convert/write/web_archive_check.py " +
            (m_dir / "out.mht").string() + " " + (m_dir / "parts").string() + " 2>&1");
    }

    std::string part(const std::string& name) const { return readFile(m_dir / "parts" / name); }

    fs::path m_dir;
    std::string m_archive;
};

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
    EXPECT_EQ(m_archive.substr(m_archive.size() - 38), "\r\n------=_NextPart_01C9ECD4.4FF9C280--");
}

}  // namespace
}  // namespace paginor
