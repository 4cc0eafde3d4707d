"""Reads a workbook web archive the way an outside consumer does.

Usage: web_archive_check.py ARCHIVE OUTDIR [--no-cells]

Prints one line per finding: "defect ..." for anything Python's email package or the checks
below object to, then "part LOCATION ENCODING TYPE" per part in order. Writes each part's decoded
body to OUTDIR/LOCATION and, for HTML sheets unless --no-cells, OUTDIR/LOCATION.cells: the tables as html.parser
sees them, one line per table, row and cell.
"""
import email
import email.policy
import os
import sys
from html.parser import HTMLParser

BOUNDARY = b"----=_NextPart_01C9ECD4.4FF9C280"


class Cells(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.lines = []
        self.cell = None
        self.text = ""

    def handle_starttag(self, tag, attrs):
        if tag == "table":
            self.lines.append("table")
        elif tag == "tr":
            self.lines.append(" row")
        elif tag == "td":
            names = dict(attrs)
            shown = [k + "=" + (names[k] or "") for k in
                     ("height", "rowspan", "colspan", "class", "bgcolor", "align") if k in names]
            self.cell = " ".join(shown)
            self.text = ""
        elif tag == "br":
            self.text += "\\n"
        elif tag == "font" and self.cell is not None:
            self.text += "<font " + dict(attrs).get("face", "") + ">"
        elif tag == "a" and self.cell is not None:
            self.text += "<a " + dict(attrs).get("href", "") + ">"
        elif tag == "img" and self.cell is not None:
            names = dict(attrs)
            self.text += "<img " + names.get("src", "") + " " + names.get("height", "-") + ">"

    def handle_endtag(self, tag):
        if tag == "td" and self.cell is not None:
            self.lines.append("  [" + self.cell + "] " + self.text)
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.text += data


def main():
    data = open(sys.argv[1], "rb").read()
    out = sys.argv[2]
    if not data.endswith(b"--" + BOUNDARY + b"--"):
        print("defect: the archive does not end with the closing boundary")
    body = data[data.find(b"\r\n--" + BOUNDARY):]
    for line in body.split(b"\r\n"):
        if len(line) > 76:
            print("defect: line of", len(line), "characters:", line[:40])
    if b"\n" in body.replace(b"\r\n", b"") or b"\r" in body.replace(b"\r\n", b""):
        print("defect: a line break other than CR LF")
    message = email.message_from_bytes(data, policy=email.policy.default)
    if message.get_content_type() != "multipart/related":
        print("defect: type", message.get_content_type())
    for part in message.walk():
        for defect in part.defects:
            print("defect:", type(defect).__name__, defect)
    for part in message.iter_parts():
        location = part["Content-Location"]
        print("part", location, part["Content-Transfer-Encoding"], part.get_content_type(),
              part.get_content_charset() or "-")
        decoded = part.get_payload(decode=True)
        with open(os.path.join(out, location.replace("/", "_")), "wb") as f:
            f.write(decoded)
        if location.startswith("sheet") and "--no-cells" not in sys.argv[3:]:
            parser = Cells()
            parser.feed(decoded.decode("ascii"))
            parser.close()
            with open(os.path.join(out, location + ".cells"), "w") as f:
                f.write("\n".join(parser.lines) + "\n")


main()
