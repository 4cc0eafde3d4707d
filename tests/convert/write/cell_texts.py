"""Prints the text cells of a converted file one a line, "A1|text", or "A1|text|target" for a
cell with a link, as an outside consumer of each kind reads them: openpyxl (xlsx), xml.etree
(SpreadsheetML), Python's email package and html.parser (web archive), the csv module
(delimited text). Characters below the blank are shown as \\xNN.

Usage: cell_texts.py xlsx|xml|mht|txt FILE
"""
import csv
import email
import email.policy
import sys
from html.parser import HTMLParser

from openpyxl import load_workbook
from openpyxl.utils import get_column_letter

from spreadsheet_ml_cells import data_cells


def shown(text):
    return "".join("\\x%02x" % ord(c) if ord(c) < 0x20 else c for c in text)


def xlsx_cells(path):
    for row in load_workbook(path).worksheets[0].iter_rows():
        for cell in row:
            if cell.value is not None:
                link = cell.hyperlink.target if cell.hyperlink is not None else None
                yield cell.coordinate, str(cell.value), link


def spreadsheetml_cells(path):
    for coordinate, data in data_cells(path):
        if data.text:
            yield coordinate, data.text, None


class SheetCells(HTMLParser):
    def __init__(self, rows):
        super().__init__(convert_charrefs=True)
        self.rows = rows
        self.text = None
        self.link = None

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.rows.append([])
        elif tag == "td":
            self.text, self.link = "", None
        elif tag == "br" and self.text is not None:
            self.text += "\n"
        elif tag == "a" and self.text is not None:
            self.link = dict(attrs).get("href")

    def handle_endtag(self, tag):
        if tag == "td" and self.text is not None:
            self.rows[-1].append((self.text, self.link))
            self.text = None

    def handle_data(self, data):
        if self.text is not None:
            self.text += data


def archive_cells(path):
    message = email.message_from_bytes(open(path, "rb").read(), policy=email.policy.default)
    rows = []
    for part in message.iter_parts():
        if part["Content-Location"].startswith("sheet"):
            parser = SheetCells(rows)
            parser.feed(part.get_payload(decode=True).decode("ascii"))
            parser.close()
    for r, cells in enumerate(rows, 1):
        for c, (text, link) in enumerate(cells, 1):
            if text:
                yield "%s%d" % (get_column_letter(c), r), text, link


def delimited_cells(path):
    with open(path, encoding="utf-8-sig", newline="") as text:
        for r, row in enumerate(csv.reader(text, delimiter="\t"), 1):
            for c, field in enumerate(row, 1):
                if field:
                    yield "%s%d" % (get_column_letter(c), r), field, None


def main(kind, path):
    read = {"xlsx": xlsx_cells, "xml": spreadsheetml_cells, "mht": archive_cells,
            "txt": delimited_cells}[kind]
    out = []
    for coordinate, text, link in read(path):
        out.append(coordinate + "|" + shown(text) + ("" if link is None else "|" + link))
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))


main(sys.argv[1], sys.argv[2])
