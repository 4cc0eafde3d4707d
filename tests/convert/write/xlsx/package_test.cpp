#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "convert/write/excel_automation.h"
#include "convert/write/xlsx/workbook.h"
#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;

class XlsxPackage : public testing::ScratchFolderTest {
protected:
    // The package's entries, content types and relationships as Python's zipfile and XML parser
    // read them, one a line.
    std::string outline(const fs::path& book) const {
        return testing::runCommand(
            "/usr/bin/python3 -c \"import sys, zipfile, xml.etree.ElementTree as ET\n"
            "z = zipfile.ZipFile(sys.argv[1])\n"
            "for n in z.namelist(): print('part', n)\n"
            "types = ET.fromstring(z.read('[Content_Types].xml'))\n"
            "for t in types: print('type', t.get('Extension') or t.get('PartName'), "
            "t.get('ContentType').rpartition('.')[2])\n"
            "for n in z.namelist():\n"
            "    if n.endswith('.rels'):\n"
            "        for r in ET.fromstring(z.read(n)): print('rel', n, r.get('Id'), "
            "r.get('Type').rpartition('/')[2], r.get('Target'), r.get('TargetMode') or '')\n"
            "\" '" +
            book.string() + "' 2>&1");
    }
};

// A 1x1 PNG.
void writePicture(const fs::path& path) {
    testing::runCommand("/usr/bin/python3 -c \"import base64; open('" + path.string() +
                        "', 'wb').write(base64.b64decode('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1"
                        "HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII='))\"");
}

// A workbook that holds every part the package writer makes: two sheets, the first with
// styles of every kind, merges, links, a picture, breaks, widths, heights, protection and right
// to left, the second plain. Each part parses, stands in its schema's order, has its content
// type, and every relationship resolves.
TEST_F(XlsxPackage, EveryPartIsSoundAndListed) {
    const fs::path picture = m_dir / "logo.png";
    writePicture(picture);
    auto application = StartXlsxApplication();
    ExcelWorkbook& book = application->WorkbooksAdd();
    ExcelWorksheet& first = book.WorksheetsItem(1);
    first.CellsItem(1, 1, "Title & <more>");
    first.Range("A1", "C1")->Merge();
    first.Range("A1")->SetFontBold(1);
    first.Range("A1")->SetFontSize(14);
    first.Range("A1")->SetFontName("Arial");
    first.CellsItem(2, 1, "1,234.50");
    first.CellsItem(2, 2, "03/25/2004");
    first.Range("C2")->SetNumberFormat("@");
    first.CellsItem(2, 3, "0123");
    first.Range("A2:C2")->SetInteriorColor(0x99CCFF);
    first.Range("A2:C2")->SetFontColor(0x0000FF);
    first.Range("A2:C2")->SetBordersLineStyle(1);
    first.Range("B3")->SetWrapText(true);
    first.Range("B3")->SetHorizontalAlignment(4);
    first.CellsItem(3, 2, std::string(80, 'w'));
    first.HyperlinksAdd("A4", "https://example.org/a b", "web");
    first.HyperlinksAdd("B4", "mailto:someone@example.org", "mail");
    first.HyperlinksAdd("C4", "/srv/reports/page2.htm", "file");
    first.Range("A5")->Activate();
    first.PicturesInsert(picture.string(), 30, 20);
    first.Range("A5")->SetRowHeight(30);
    first.Range("B1")->SetColumnWidth(20);
    first.HPageBreaksAdd("A5");
    first.Protect("pw");
    first.SetDisplayRightToLeft(true);
    book.WorksheetsAddAfterLast();
    book.WorksheetsItem(2).CellsItem(1, 1, "second");
    const fs::path path = m_dir / "book.xlsx";
    book.SaveCopyAs(path.string());

    EXPECT_EQ(testing::packageFaults(path.string()), "");
    EXPECT_EQ(outline(path),
              "part [Content_Types].xml\n"
              "part _rels/.rels\n"
              "part docProps/app.xml\n"
              "part docProps/core.xml\n"
              "part xl/workbook.xml\n"
              "part xl/_rels/workbook.xml.rels\n"
              "part xl/styles.xml\n"
              "part xl/theme/theme1.xml\n"
              "part xl/worksheets/sheet1.xml\n"
              "part xl/worksheets/_rels/sheet1.xml.rels\n"
              "part xl/worksheets/sheet2.xml\n"
              "part xl/drawings/drawing1.xml\n"
              "part xl/drawings/_rels/drawing1.xml.rels\n"
              "part xl/media/image1.png\n"
              "type rels relationships+xml\n"
              "type xml application/xml\n"
              "type png image/png\n"
              "type /docProps/app.xml extended-properties+xml\n"
              "type /docProps/core.xml core-properties+xml\n"
              "type /xl/styles.xml styles+xml\n"
              "type /xl/theme/theme1.xml theme+xml\n"
              "type /xl/workbook.xml main+xml\n"
              "type /xl/worksheets/sheet1.xml worksheet+xml\n"
              "type /xl/worksheets/sheet2.xml worksheet+xml\n"
              "type /xl/drawings/drawing1.xml drawing+xml\n"
              "rel _rels/.rels rId1 officeDocument xl/workbook.xml \n"
              "rel _rels/.rels rId2 core-properties docProps/core.xml \n"
              "rel _rels/.rels rId3 extended-properties docProps/app.xml \n"
              "rel xl/_rels/workbook.xml.rels rId1 worksheet worksheets/sheet1.xml \n"
              "rel xl/_rels/workbook.xml.rels rId2 worksheet worksheets/sheet2.xml \n"
              "rel xl/_rels/workbook.xml.rels rId3 theme theme/theme1.xml \n"
              "rel xl/_rels/workbook.xml.rels rId4 styles styles.xml \n"
              "rel xl/worksheets/_rels/sheet1.xml.rels rId1 hyperlink "
              "https://example.org/a%20b External\n"
              "rel xl/worksheets/_rels/sheet1.xml.rels rId2 hyperlink "
              "mailto:someone@example.org External\n"
              "rel xl/worksheets/_rels/sheet1.xml.rels rId3 hyperlink "
              "file:///srv/reports/page2.htm External\n"
              "rel xl/worksheets/_rels/sheet1.xml.rels rId4 drawing ../drawings/drawing1.xml \n"
              "rel xl/drawings/_rels/drawing1.xml.rels rId1 image ../media/image1.png \n");
}

// A sheet is finished once another is added after it, so that it keeps only what the package
// needs: it takes no more rows, but still its view, its protection and the active mark.
TEST_F(XlsxPackage, SheetBeforeTheLastTakesNoMoreRows) {
    auto application = StartXlsxApplication();
    ExcelWorkbook& book = application->WorkbooksAdd();
    book.WorksheetsItem(1).CellsItem(1, 1, "first");
    book.WorksheetsAddAfterLast();
    ExcelWorksheet& first = book.WorksheetsItem(1);
    EXPECT_THROW(first.CellsItem(2, 1, "late"), AutomationError);
    EXPECT_THROW(first.Range("A3")->SetFontBold(1), AutomationError);
    EXPECT_THROW(first.HyperlinksAdd("A1", "https://example.org/", "x"), AutomationError);
    EXPECT_THROW(first.HPageBreaksAdd("A2"), AutomationError);
    first.Protect("");
    first.SetDisplayRightToLeft(true);
    first.Activate();
    book.WorksheetsItem(2).CellsItem(1, 1, "second");
    const fs::path path = m_dir / "book.xlsx";
    book.SaveCopyAs(path.string());
    EXPECT_EQ(testing::packageFaults(path.string()), "");
    EXPECT_EQ(testing::runCommand("/usr/bin/python3 -c \"import sys, openpyxl\n"
                                  "for s in openpyxl.load_workbook(sys.argv[1]).worksheets:\n"
                                  "    print(s.title, s['A1'].value, s['A2'].value, "
                                  "s.sheet_view.rightToLeft, s.protection.sheet)\" '" +
                                  path.string() + "' 2>&1"),
              "Sheet1 first None True True\nSheet2 second None None False\n");
}

// A cancel request stops the save, pictures and all, and leaves no file; without one the same
// workbook is saved.
TEST_F(XlsxPackage, CancelStopsTheSave) {
    const fs::path picture = m_dir / "logo.png";
    writePicture(picture);
    for (const std::int32_t request : {1, 0}) {
        SCOPED_TRACE(request);
        std::atomic<std::int32_t> cancel = request;
        auto application = StartXlsxApplication();
        ExcelWorkbook& book = application->WorkbooksAdd();
        ExcelWorksheet& sheet = book.WorksheetsItem(1);
        sheet.CellsItem(1, 1, "text");
        sheet.Range("A2")->Activate();
        sheet.PicturesInsert(picture.string(), 20, 20);
        const fs::path path = m_dir / "book.xlsx";
        const bool kept = book.SaveCopyAs(path.string(), [&cancel] { return cancel == 0; });
        EXPECT_EQ(kept, request == 0);
        EXPECT_EQ(fs::exists(path), request == 0);
        if (kept) {
            EXPECT_EQ(testing::packageFaults(path.string()), "");
        }
    }
    // A request that comes while the package is written stops it there.
    auto application = StartXlsxApplication();
    ExcelWorkbook& book = application->WorkbooksAdd();
    book.WorksheetsItem(1).CellsItem(1, 1, "text");
    int asked = 0;
    const fs::path path = m_dir / "late.xlsx";
    EXPECT_FALSE(book.SaveCopyAs(path.string(), [&asked] { return ++asked < 2; }));
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace paginor
