"""Prints a workbook one fact a line, for the workbook tests to compare."""
import re
import sys
import zipfile

import openpyxl

import check_package


def colour(c):
    if c is None or c.type != "rgb" or c.rgb in (None, "00000000"):
        return ""
    return str(c.rgb)[-6:]


def images(path, sheet_number):
    """Anchors of the sheet's pictures, read from the package: openpyxl drops pictures
    without an imaging library."""
    with zipfile.ZipFile(path) as package:
        rels = "xl/worksheets/_rels/sheet%d.xml.rels" % sheet_number
        if rels not in package.namelist():
            return []
        drawing = re.search(r'Target="../drawings/(drawing\d+\.xml)"',
                            package.read(rels).decode())
        if not drawing:
            return []
        xml = package.read("xl/drawings/" + drawing.group(1)).decode()
        return [(int(c), int(r)) for c, r in re.findall(
            r"<xdr:from><xdr:col>(\d+)</xdr:col><xdr:colOff>-?\d+</xdr:colOff>"
            r"<xdr:row>(\d+)</xdr:row>", xml)]


def main(path):
    book = openpyxl.load_workbook(path)
    print("sheets:" + ",".join(book.sheetnames))
    print("active:" + book.active.title)
    for sheet in book.worksheets:
        print("sheet:%s rtl=%d protected=%d" % (
            sheet.title, 1 if sheet.sheet_view.rightToLeft else 0,
            1 if sheet.protection.sheet else 0))
        for merged in sorted(str(m) for m in sheet.merged_cells.ranges):
            print("merge:" + merged)
        for brk in sheet.row_breaks.brk:
            print("break:%d" % brk.id)
        for col, row in images(path, book.worksheets.index(sheet) + 1):
            print("image:%s%d" % (openpyxl.utils.get_column_letter(col + 1), row + 1))
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is None and not cell.has_style:
                    continue
                facts = [cell.coordinate, cell.data_type, repr(cell.value),
                         cell.number_format]
                font = cell.font
                if font.b:
                    facts.append("bold")
                if font.name and font.name != "Calibri":
                    facts.append("font=" + font.name)
                if font.sz and float(font.sz) != 11:
                    facts.append("size=%g" % float(font.sz))
                if colour(font.color):
                    facts.append("color=" + colour(font.color))
                if cell.fill.fill_type == "solid":
                    facts.append("fill=" + colour(cell.fill.fgColor))
                if cell.alignment.horizontal:
                    facts.append("align=" + cell.alignment.horizontal)
                if cell.alignment.wrap_text:
                    facts.append("wrap")
                if cell.border.left.style:
                    facts.append("border=" + cell.border.left.style)
                if cell.hyperlink is not None:
                    facts.append("link=" + str(cell.hyperlink.target))
                print("cell:" + "|".join(facts))
        for letter, dim in sorted(sheet.column_dimensions.items()):
            if dim.customWidth:
                print("width:%s=%.1f" % (letter, dim.width))


if __name__ == "__main__":
    # A package with faults prints them and no facts, so that no expected fact is found.
    if check_package.main([sys.argv[1]]) != 0:
        sys.exit(1)
    main(sys.argv[1])
