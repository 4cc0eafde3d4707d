"""Every fact a reader of a workbook sees, one a line, read with openpyxl: the sheets and their
settings, merges, breaks, widths, links, pictures, and each cell with its value and its whole
style. Numbers are given to 15 significant digits, what a workbook promises to keep; cells covered
by a merge are left out, as a reader never shows them; the workbook's folder reads FOLDER.

    xlsx_facts.py BOOK                 prints the facts
    xlsx_facts.py BOOK REFERENCE.gz    compares them with a stored list, prints the differences
                                       and exits 1 when there are any
"""
import difflib
import gzip
import os
import re
import sys
import zipfile

import openpyxl

import check_package


def colour(c):
    if c is None:
        return ""
    if c.type == "rgb":
        return "" if c.rgb in (None, "00000000") else str(c.rgb)[-6:]
    if c.type == "theme":
        return "theme%d" % c.theme
    if c.type == "indexed":
        return "" if c.indexed == 64 else "indexed%d" % c.indexed
    return ""


def value(cell):
    v = cell.value
    if isinstance(v, float):
        return repr(float("%.15g" % v))
    return repr(v)


def pictures(package, sheet_number):
    rels = "xl/worksheets/_rels/sheet%d.xml.rels" % sheet_number
    if rels not in package.namelist():
        return []
    drawing = re.search(r'Target="../drawings/(drawing\d+\.xml)"', package.read(rels).decode())
    if not drawing:
        return []
    xml = package.read("xl/drawings/" + drawing.group(1)).decode()
    return re.findall(r"<xdr:from><xdr:col>(\d+)</xdr:col><xdr:colOff>-?\d+</xdr:colOff>"
                      r"<xdr:row>(\d+)</xdr:row>.*?<a:ext cx=\"(\d+)\" cy=\"(\d+)\"/>", xml)


def facts(path):
    lines = []
    book = openpyxl.load_workbook(path)
    package = zipfile.ZipFile(path)
    lines.append("sheets:" + ",".join(book.sheetnames))
    lines.append("active:" + book.active.title)
    for number, sheet in enumerate(book.worksheets, 1):
        protection = sheet.protection
        lines.append("sheet:%s rtl=%d protected=%d password=%s" % (
            sheet.title, 1 if sheet.sheet_view.rightToLeft else 0,
            1 if protection.sheet else 0, protection.password or ""))
        covered = set()
        for merged in sorted(sheet.merged_cells.ranges, key=str):
            lines.append("merge:%s" % merged)
            for row in range(merged.min_row, merged.max_row + 1):
                for column in range(merged.min_col, merged.max_col + 1):
                    if (row, column) != (merged.min_row, merged.min_col):
                        covered.add((row, column))
        for brk in sheet.row_breaks.brk:
            lines.append("break:%d" % brk.id)
        for column, row, cx, cy in pictures(package, number):
            lines.append("picture:%s%d %sx%s" % (
                openpyxl.utils.get_column_letter(int(column) + 1), int(row) + 1, cx, cy))
        for letter, dim in sorted(sheet.column_dimensions.items(),
                                  key=lambda item: openpyxl.utils.column_index_from_string(item[0])):
            if dim.customWidth:
                lines.append("width:%s=%.2f" % (letter, dim.width))
        for row_number, dim in sorted(sheet.row_dimensions.items()):
            if dim.customHeight:
                lines.append("height:%d=%.2f" % (row_number, dim.height))
        for row in sheet.iter_rows():
            for cell in row:
                if (cell.row, cell.column) in covered:
                    continue
                if cell.value is None and not cell.has_style:
                    continue
                font = cell.font
                facts = [cell.coordinate, cell.data_type, value(cell), cell.number_format,
                         "font=%s,%g%s%s%s" % (font.name, float(font.sz or 11),
                                                ",bold" if font.b else "",
                                                ",u=" + font.u if font.u else "",
                                                "," + colour(font.color) if colour(font.color)
                                                else "")]
                if cell.fill.fill_type:
                    facts.append("fill=%s:%s" % (cell.fill.fill_type, colour(cell.fill.fgColor)))
                if cell.alignment.horizontal:
                    facts.append("align=" + cell.alignment.horizontal)
                if cell.alignment.wrap_text:
                    facts.append("wrap")
                border = cell.border
                sides = [side.style or "" for side in (border.left, border.right, border.top,
                                                       border.bottom)]
                if any(sides):
                    facts.append("border=" + "/".join(sides))
                if cell.hyperlink is not None:
                    facts.append("link=" + str(cell.hyperlink.target))
                lines.append("cell:" + "|".join(facts))
    return lines


def main(arguments):
    # A package with faults prints them and no facts.
    if check_package.main([arguments[0]]) != 0:
        return 1
    folder = os.path.dirname(os.path.abspath(arguments[0]))
    lines = [line.replace(folder, "FOLDER").replace(folder.replace("/", "\\"), "FOLDER")
             for line in facts(arguments[0])]
    if len(arguments) == 1:
        print("\n".join(lines))
        return 0
    with gzip.open(arguments[1], "rt", encoding="utf-8") as stored:
        expected = stored.read().splitlines()
    differences = list(difflib.unified_diff(expected, lines, "reference", "workbook",
                                            lineterm="", n=0))
    if differences:
        print("\n".join(differences[:200]))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
