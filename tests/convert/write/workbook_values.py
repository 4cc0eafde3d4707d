"""Prints the cells of a workbook's first sheet one a line, "A1|type|value", for the tests that
compare how the workbook kinds type the same texts. Reads an xlsx package through openpyxl and a
SpreadsheetML file through xml.etree. Types: n number, d date, s text.

Usage: workbook_values.py BOOK
"""
import datetime
import sys
import xml.etree.ElementTree as ET

import openpyxl
from openpyxl.utils import get_column_letter

import check_package

SS = "{urn:schemas-microsoft-com:office:spreadsheet}"


def fact(kind, value):
    if kind == "n":
        return "n|%r" % float(value)
    if kind == "d":
        return "d|" + value
    return "s|" + value


def xlsx_cells(path):
    sheet = openpyxl.load_workbook(path).worksheets[0]
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            if isinstance(cell.value, datetime.datetime):
                yield cell.coordinate, fact("d", cell.value.date().isoformat())
            elif isinstance(cell.value, (int, float)):
                yield cell.coordinate, fact("n", cell.value)
            else:
                yield cell.coordinate, fact("s", str(cell.value))


def spreadsheetml_cells(path):
    table = ET.parse(path).getroot().find(SS + "Worksheet").find(SS + "Table")
    for row in table.findall(SS + "Row"):
        r = int(row.get(SS + "Index"))
        column = 0
        for cell in row.findall(SS + "Cell"):
            column = int(cell.get(SS + "Index", column + 1))
            data = cell.find(SS + "Data")
            if data is not None:
                kind = {"Number": "n", "DateTime": "d"}.get(data.get(SS + "Type"), "s")
                text = data.text or ""
                yield "%s%d" % (get_column_letter(column), r), fact(
                    kind, text[:10] if kind == "d" else text)
            column += int(cell.get(SS + "MergeAcross", "0"))


def main(path):
    # A package with faults prints them and no cells.
    if path.endswith(".xlsx") and check_package.main([path]) != 0:
        sys.exit(1)
    cells = xlsx_cells(path) if path.endswith(".xlsx") else spreadsheetml_cells(path)
    for coordinate, text in cells:
        print(coordinate + "|" + text)


main(sys.argv[1])
