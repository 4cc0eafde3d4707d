"""Prints the cells of a workbook's first sheet one a line, "A1|type|value", for the tests that
compare how the workbook kinds type the same texts. Reads an xlsx package through openpyxl and a
SpreadsheetML file through xml.etree. Types: n number, d date, s text.

Usage: workbook_values.py BOOK
"""
import datetime
import sys

import openpyxl

import check_package
from spreadsheet_ml_cells import SS, data_cells


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
    for coordinate, data in data_cells(path):
        kind = {"Number": "n", "DateTime": "d"}.get(data.get(SS + "Type"), "s")
        text = data.text or ""
        yield coordinate, fact(kind, text[:10] if kind == "d" else text)


def main(path):
    # A package with faults prints them and no cells.
    if path.endswith(".xlsx") and check_package.main([path]) != 0:
        sys.exit(1)
    cells = xlsx_cells(path) if path.endswith(".xlsx") else spreadsheetml_cells(path)
    for coordinate, text in cells:
        print(coordinate + "|" + text)


main(sys.argv[1])
