"""Reads a workbook package byte by byte and part by part, apart from the program that wrote it,
and prints every fault found, one a line; nothing when the package is sound.

The zip layer (PKWARE APPNOTE 6.3): every local header agrees with its central directory entry
(name, method, CRC, sizes, zip64 extra), entries lie back to back from offset 0, each entry's data
inflates to exactly its size and CRC, the central directory starts and ends where the end records
say, and the end record's 16- and 32-bit fields are either right or mark a zip64 end record that
is there and right. Then Python's zipfile and `unzip -t` read it too.

The parts (ECMA-376): every XML part parses; every part has a content type and every override
names a part; every internal relationship target is a part; the workbook's sheets, the sheets'
links and drawings resolve; styles name fonts, fills, borders and number formats that exist; rows
and cells stand in order; and the spreadsheet program's limits hold: at most 64,000 cell formats,
65,530 links a sheet and 32,767 UTF-16 units a cell.

    check_package.py BOOK        prints the faults; exit status 1 when there are any
    check_package.py --zip FILE  the zip layer only
"""
import posixpath
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile
import zlib

MAX32 = 0xFFFFFFFF
MAX16 = 0xFFFF
MAX_CELL_FORMATS = 64000
MAX_LINKS_PER_SHEET = 65530
MAX_CELL_UNITS = 32767
FIRST_CUSTOM_FORMAT = 164

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
REL = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"
PACKAGE_REL = "{http://schemas.openxmlformats.org/package/2006/relationships}"
TYPES = "{http://schemas.openxmlformats.org/package/2006/content-types}"


# The order of the children that ECMA-376 gives the worksheet, the styles and the workbook; a
# reader may refuse a part whose children stand in another order.
WORKSHEET_ORDER = [
    "sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols", "sheetData", "sheetCalcPr",
    "sheetProtection", "protectedRanges", "scenarios", "autoFilter", "sortState",
    "dataConsolidate", "customSheetViews", "mergeCells", "phoneticPr", "conditionalFormatting",
    "dataValidations", "hyperlinks", "printOptions", "pageMargins", "pageSetup", "headerFooter",
    "rowBreaks", "colBreaks", "customProperties", "cellWatches", "ignoredErrors", "smartTags",
    "drawing", "legacyDrawing", "legacyDrawingHF", "picture", "oleObjects", "controls",
    "webPublishItems", "tableParts", "extLst"]
STYLES_ORDER = ["numFmts", "fonts", "fills", "borders", "cellStyleXfs", "cellXfs", "cellStyles",
                "dxfs", "tableStyles", "colors", "extLst"]
WORKBOOK_ORDER = [
    "fileVersion", "fileSharing", "workbookPr", "workbookProtection", "bookViews", "sheets",
    "functionGroups", "externalReferences", "definedNames", "calcPr", "oleSize",
    "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes", "webPublishing",
    "fileRecoveryPr", "webPublishObjects", "extLst"]


def order_faults(name, children, order):
    """children: the local names of a root's children in document order."""
    faults = []
    last = -1
    for child in children:
        if child not in order:
            faults.append("%s: %s is no child of its root" % (name, child))
            continue
        if order.index(child) < last or (order.index(child) == last and child != "conditionalFormatting"):
            faults.append("%s: %s out of order" % (name, child))
        last = order.index(child)
    return faults


def local(tag):
    return tag.rpartition("}")[2]


class Entry:
    pass


def zip64_extra(extra, want_size, want_compressed, want_offset):
    """The zip64 extra field's values, in APPNOTE order, for the fields that are maxed."""
    at = 0
    while at + 4 <= len(extra):
        tag, length = struct.unpack_from("<HH", extra, at)
        body = extra[at + 4:at + 4 + length]
        at += 4 + length
        if tag != 1:
            continue
        values = []
        for wanted in (want_size, want_compressed, want_offset):
            if wanted:
                if len(body) < 8 * (len(values) + 1):
                    return None
                values.append(struct.unpack_from("<Q", body, 8 * len(values))[0])
        if len(body) != 8 * len(values) and len(body) != 8 * len(values) + 4:
            return None
        return values
    return None


def zip_faults(path, data_reader, file_size):
    faults = []
    tail = data_reader(max(0, file_size - 65558), min(file_size, 65558))
    at = tail.rfind(b"PK\x05\x06")
    if at < 0:
        return ["zip: no end of central directory record"], []
    eocd_offset = file_size - len(tail) + at
    (_, disk, cd_disk, disk_count, count16, size32, start32,
     comment) = struct.unpack_from("<IHHHHIIH", tail, at)
    if eocd_offset + 22 + comment != file_size:
        faults.append("zip: bytes after the end record")
    if disk != 0 or cd_disk != 0 or disk_count != count16:
        faults.append("zip: end record names more than one disk")
    count, size, start = count16, size32, start32
    zip64_at = None
    locator = data_reader(eocd_offset - 20, 20) if eocd_offset >= 20 else b""
    if locator[:4] == b"PK\x06\x07":
        _, locator_disk, record_offset, disks = struct.unpack("<IIQI", locator)
        zip64_at = record_offset
        record = data_reader(record_offset, 56)
        if record[:4] != b"PK\x06\x06":
            faults.append("zip: the zip64 locator points at no zip64 end record")
            zip64_at = None
        else:
            (_, record_size, _, needed, _, _, disk_entries, entries, cd_size,
             cd_start) = struct.unpack("<IQHHIIQQQQ", record)
            if record_size != 44 or needed < 45 or disk_entries != entries or disks != 1:
                faults.append("zip: zip64 end record malformed")
            if record_offset + 56 != eocd_offset - 20:
                faults.append("zip: zip64 end record not right before its locator")
            for name, small, large, limit in (("entry count", count16, entries, MAX16),
                                              ("directory size", size32, cd_size, MAX32),
                                              ("directory offset", start32, cd_start, MAX32)):
                if small != limit and small != large:
                    faults.append("zip: end record %s %d, zip64 record %d" % (name, small, large))
            count, size, start = entries, cd_size, cd_start
    directory_end = zip64_at if zip64_at is not None else eocd_offset
    if start + size != directory_end:
        faults.append("zip: central directory at %d, %d bytes, ends at %d, not %d" % (
            start, size, start + size, directory_end))
    needs64 = count >= MAX16 or size >= MAX32 or start >= MAX32
    if needs64 and zip64_at is None:
        faults.append("zip: %d entries, %d directory bytes at %d, and no zip64 end record" % (
            count, size, start))
    if count16 == MAX16 and zip64_at is None:
        faults.append("zip: end record says 65535 entries without a zip64 end record")

    entries = []
    directory = data_reader(start, size)
    at = 0
    while at < len(directory):
        if directory[at:at + 4] != b"PK\x01\x02":
            faults.append("zip: no central header at directory byte %d" % at)
            break
        (_, made, needed, flags, method, _, _, crc, compressed, length, name_length,
         extra_length, comment_length, disk_start, _, _, offset) = struct.unpack_from(
            "<IHHHHHHIIIHHHHHII", directory, at)
        entry = Entry()
        entry.name = directory[at + 46:at + 46 + name_length].decode("utf-8", "replace")
        extra = directory[at + 46 + name_length:at + 46 + name_length + extra_length]
        at += 46 + name_length + extra_length + comment_length
        entry.method, entry.crc, entry.flags = method, crc, flags
        maxed = (length == MAX32, compressed == MAX32, offset == MAX32)
        values = zip64_extra(extra, *maxed) if any(maxed) else []
        if values is None:
            faults.append("zip: %s: maxed fields without their zip64 extra" % entry.name)
            values = []
        values = list(values)
        entry.size = values.pop(0) if maxed[0] else length
        entry.compressed = values.pop(0) if maxed[1] else compressed
        entry.offset = values.pop(0) if maxed[2] else offset
        if any(maxed) and needed < 45:
            faults.append("zip: %s: zip64 fields with version needed %d" % (entry.name, needed))
        if (entry.size >= MAX32 or entry.compressed >= MAX32) and not (maxed[0] and maxed[1]):
            faults.append("zip: %s: a size past 32 bits without zip64 sizes" % entry.name)
        if entry.offset >= MAX32 and not maxed[2]:
            faults.append("zip: %s: an offset past 32 bits without a zip64 offset" % entry.name)
        if flags & 0x0001:
            faults.append("zip: %s: encrypted" % entry.name)
        if method not in (0, 8):
            faults.append("zip: %s: method %d" % (entry.name, method))
        if method == 0 and entry.size != entry.compressed:
            faults.append("zip: %s: stored with two sizes" % entry.name)
        if disk_start != 0:
            faults.append("zip: %s: on another disk" % entry.name)
        entries.append(entry)
    if len(entries) != count:
        faults.append("zip: end records say %d entries, the directory holds %d" % (
            count, len(entries)))

    names = [e.name for e in entries]
    if len(set(names)) != len(names):
        faults.append("zip: an entry name stands twice")
    expected_offset = 0
    for entry in entries:
        if entry.offset != expected_offset:
            faults.append("zip: %s: local header at %d, the entry before ends at %d" % (
                entry.name, entry.offset, expected_offset))
        header = data_reader(entry.offset, 30)
        if header[:4] != b"PK\x03\x04":
            faults.append("zip: %s: no local header at %d" % (entry.name, entry.offset))
            break
        (_, needed, flags, method, _, _, crc, compressed, length, name_length,
         extra_length) = struct.unpack("<IHHHHHIIIHH", header)
        name = data_reader(entry.offset + 30, name_length).decode("utf-8", "replace")
        extra = data_reader(entry.offset + 30 + name_length, extra_length)
        if name != entry.name:
            faults.append("zip: local name %s, central name %s" % (name, entry.name))
        if method != entry.method or crc != entry.crc or flags != entry.flags:
            faults.append("zip: %s: local header's method, CRC or flags differ" % entry.name)
        if compressed == MAX32 or length == MAX32:
            values = zip64_extra(extra, True, True, False)
            if values is None or values != [entry.size, entry.compressed]:
                faults.append("zip: %s: local zip64 sizes %s, central %s" % (
                    entry.name, values, [entry.size, entry.compressed]))
            if needed < 45:
                faults.append("zip: %s: local zip64 sizes with version %d" % (entry.name, needed))
        elif (length, compressed) != (entry.size, entry.compressed):
            faults.append("zip: %s: local sizes %d/%d, central %d/%d" % (
                entry.name, length, compressed, entry.size, entry.compressed))
        data_start = entry.offset + 30 + name_length + extra_length
        expected_offset = data_start + entry.compressed
        faults.extend(data_faults(entry, data_start, data_reader))
    if entries and expected_offset != start:
        faults.append("zip: the last entry ends at %d, the central directory starts at %d" % (
            expected_offset, start))
    return faults, entries


def data_faults(entry, data_start, data_reader):
    block = 1 << 22
    crc = 0
    produced = 0
    inflater = zlib.decompressobj(-15) if entry.method == 8 else None
    for at in range(0, entry.compressed, block):
        piece = data_reader(data_start + at, min(block, entry.compressed - at))
        if inflater is None:
            crc = zlib.crc32(piece, crc)
            produced += len(piece)
            continue
        # Output in bounded steps: a few bytes of zeros inflate to gigabytes.
        while piece:
            if inflater.eof:
                return ["zip: %s: bytes after the end of its deflate stream" % entry.name]
            try:
                out = inflater.decompress(piece, block)
            except zlib.error as error:
                return ["zip: %s: %s" % (entry.name, error)]
            piece = inflater.unconsumed_tail
            crc = zlib.crc32(out, crc)
            produced += len(out)
    while inflater is not None and not inflater.eof:
        try:
            out = inflater.decompress(b"", block)
        except zlib.error as error:
            return ["zip: %s: %s" % (entry.name, error)]
        if not out:
            break
        crc = zlib.crc32(out, crc)
        produced += len(out)
    faults = []
    if inflater is not None:
        if not inflater.eof:
            faults.append("zip: %s: its deflate stream does not end" % entry.name)
        elif inflater.unused_data:
            faults.append("zip: %s: bytes after the end of its deflate stream" % entry.name)
    if produced != entry.size:
        faults.append("zip: %s: %d bytes, the headers say %d" % (entry.name, produced, entry.size))
    if crc != entry.crc:
        faults.append("zip: %s: CRC %08x, the headers say %08x" % (entry.name, crc, entry.crc))
    return faults


def parse(package, name, faults):
    try:
        with package.open(name) as part:
            return ET.parse(part).getroot()
    except ET.ParseError as error:
        faults.append("%s: not well formed: %s" % (name, error))
    return None


def relationships(package, names, source, faults):
    """The relationships of a part: Id to (Type, resolved target or None for external)."""
    folder, base = posixpath.split(source)
    rels_name = posixpath.join(folder, "_rels", base + ".rels")
    if rels_name not in names:
        return {}
    root = parse(package, rels_name, faults)
    found = {}
    if root is None:
        return found
    for rel in root.findall(PACKAGE_REL + "Relationship"):
        rid, target = rel.get("Id"), rel.get("Target")
        if rid in found:
            faults.append("%s: relationship %s twice" % (rels_name, rid))
        if rel.get("TargetMode") == "External":
            found[rid] = (rel.get("Type"), None)
            continue
        resolved = posixpath.normpath(posixpath.join(folder, target)).lstrip("/")
        if target.startswith("/"):
            resolved = target.lstrip("/")
        if resolved not in names:
            faults.append("%s: %s names %s, not in the package" % (rels_name, rid, resolved))
        found[rid] = (rel.get("Type"), resolved)
    return found


def column_number(letters):
    n = 0
    for c in letters:
        n = n * 26 + ord(c) - 64
    return n


def split_reference(reference):
    letters = reference.rstrip("0123456789")
    return int(reference[len(letters):]), column_number(letters)


def utf16_units(text):
    return len(text.encode("utf-16-le")) // 2


def styles_faults(package, name, faults):
    root = parse(package, name, faults)
    if root is None:
        return 0
    faults.extend(order_faults(name, [local(c.tag) for c in root], STYLES_ORDER))
    counts = {}
    for group, child in (("fonts", "font"), ("fills", "fill"), ("borders", "border"),
                         ("cellXfs", "xf"), ("cellStyleXfs", "xf"), ("numFmts", "numFmt")):
        element = root.find(MAIN + group)
        members = [] if element is None else element.findall(MAIN + child)
        counts[group] = len(members)
        if element is not None and element.get("count") not in (None, str(len(members))):
            faults.append("%s: %s count %s, %d there" % (name, group, element.get("count"),
                                                       len(members)))
    formats = set()
    element = root.find(MAIN + "numFmts")
    for fmt in [] if element is None else element.findall(MAIN + "numFmt"):
        formats.add(int(fmt.get("numFmtId")))
    xfs = root.find(MAIN + "cellXfs")
    for xf in [] if xfs is None else xfs.findall(MAIN + "xf"):
        for attribute, group in (("fontId", "fonts"), ("fillId", "fills"),
                                 ("borderId", "borders"), ("xfId", "cellStyleXfs")):
            if int(xf.get(attribute, "0")) >= counts[group]:
                faults.append("%s: a cell format names %s %s of %d" % (
                    name, attribute, xf.get(attribute), counts[group]))
        format_id = int(xf.get("numFmtId", "0"))
        if format_id >= FIRST_CUSTOM_FORMAT and format_id not in formats:
            faults.append("%s: number format %d is not defined" % (name, format_id))
    if counts["cellXfs"] > MAX_CELL_FORMATS:
        faults.append("%s: %d cell formats, more than %d" % (name, counts["cellXfs"],
                                                               MAX_CELL_FORMATS))
    return counts["cellXfs"]


def sheet_faults(package, name, rels, formats, faults):
    rows = 0
    last_row = 0
    cells_of_row = 0
    links = 0
    merges = 0
    merge_count = None
    depth = 0
    children = []
    try:
        with package.open(name) as part:
            for event, element in ET.iterparse(part, events=("start", "end")):
                tag = element.tag
                if event == "start":
                    depth += 1
                    if depth == 2:
                        children.append(local(tag))
                    if tag == MAIN + "row":
                        row = int(element.get("r"))
                        if row <= last_row:
                            faults.append("%s: row %d after row %d" % (name, row, last_row))
                        last_row = row
                        cells_of_row = 0
                        rows += 1
                    elif tag == MAIN + "mergeCells":
                        merge_count = element.get("count")
                    continue
                depth -= 1
                if tag == MAIN + "c":
                    row, column = split_reference(element.get("r"))
                    if row != last_row or column <= cells_of_row or column > 16384:
                        faults.append("%s: cell %s out of place" % (name, element.get("r")))
                    cells_of_row = column
                    if int(element.get("s", "0")) >= formats:
                        faults.append("%s: cell %s has format %s of %d" % (
                            name, element.get("r"), element.get("s"), formats))
                    kind = element.get("t", "n")
                    if kind == "inlineStr":
                        text = "".join(element.find(MAIN + "is").itertext())
                        if utf16_units(text) > MAX_CELL_UNITS:
                            faults.append("%s: cell %s holds %d UTF-16 units" % (
                                name, element.get("r"), utf16_units(text)))
                    elif kind == "n" and element.find(MAIN + "v") is not None:
                        float(element.find(MAIN + "v").text)
                    element.clear()
                elif tag == MAIN + "row":
                    element.clear()
                elif tag == MAIN + "mergeCell":
                    merges += 1
                elif tag == MAIN + "hyperlink":
                    links += 1
                    rid = element.get(REL + "id")
                    if rid not in rels or rels[rid][1] is not None:
                        faults.append("%s: link %s has no external target" % (name, rid))
                elif tag == MAIN + "drawing":
                    rid = element.get(REL + "id")
                    if rid not in rels or rels[rid][1] is None:
                        faults.append("%s: drawing %s has no part" % (name, rid))
    except ET.ParseError as error:
        faults.append("%s: not well formed: %s" % (name, error))
    except (ValueError, AttributeError, TypeError) as error:
        faults.append("%s: %s" % (name, error))
    faults.extend(order_faults(name, children, WORKSHEET_ORDER))
    if merge_count is not None and merge_count != str(merges):
        faults.append("%s: mergeCells count %s, %d there" % (name, merge_count, merges))
    if links > MAX_LINKS_PER_SHEET:
        faults.append("%s: %d links, more than %d" % (name, links, MAX_LINKS_PER_SHEET))
    return rows


def part_faults(path):
    faults = []
    with zipfile.ZipFile(path) as package:
        bad = package.testzip()
        if bad is not None:
            faults.append("zipfile: %s does not read back" % bad)
        names = set(package.namelist())
        for name in sorted(names):
            if name.endswith(".xml") or name.endswith(".rels"):
                if not name.startswith("xl/worksheets/sheet"):
                    parse(package, name, faults)
        types = None
        if "[Content_Types].xml" in names:
            types = parse(package, "[Content_Types].xml", faults)
        else:
            faults.append("no [Content_Types].xml")
        if types is not None:
            defaults = {d.get("Extension").lower() for d in types.findall(TYPES + "Default")}
            overrides = {o.get("PartName").lstrip("/") for o in types.findall(TYPES + "Override")}
            for missing in sorted(overrides - names):
                faults.append("[Content_Types].xml: override for %s, not in the package" % missing)
            for name in sorted(names - {"[Content_Types].xml"}):
                if name.endswith("/"):
                    continue
                extension = posixpath.basename(name).rpartition(".")[2].lower()
                if name not in overrides and extension not in defaults:
                    faults.append("%s has no content type" % name)
        top = relationships(package, names, "", faults) if "_rels/.rels" in names else {}
        office = [t for kind, t in top.values() if kind and kind.endswith("/officeDocument")]
        if len(office) != 1:
            faults.append("_rels/.rels: %d office documents" % len(office))
            return faults
        workbook_name = office[0]
        workbook = parse(package, workbook_name, faults)
        workbook_rels = relationships(package, names, workbook_name, faults)
        formats = 0
        for kind, target in workbook_rels.values():
            if kind and kind.endswith("/styles") and target:
                formats = styles_faults(package, target, faults)
        if workbook is None:
            return faults
        faults.extend(order_faults(workbook_name, [local(c.tag) for c in workbook],
                                   WORKBOOK_ORDER))
        sheets = workbook.find(MAIN + "sheets")
        read = set()
        for sheet in [] if sheets is None else sheets.findall(MAIN + "sheet"):
            rid = sheet.get(REL + "id")
            kind, target = workbook_rels.get(rid, (None, None))
            if not kind or not kind.endswith("/worksheet") or not target:
                faults.append("%s: sheet %s has no worksheet part" % (workbook_name,
                                                                     sheet.get("name")))
                continue
            sheet_rels = relationships(package, names, target, faults)
            sheet_faults(package, target, sheet_rels, formats, faults)
            read.add(target)
        for name in sorted(names - read):
            if name.startswith("xl/worksheets/sheet") and name.endswith(".xml"):
                faults.append("%s: no sheet of the workbook" % name)
                parse(package, name, faults)
    return faults


def main(arguments):
    zip_only = arguments[0] == "--zip"
    path = arguments[-1]
    with open(path, "rb") as book:
        book.seek(0, 2)
        size = book.tell()

        def reader(offset, length):
            book.seek(offset)
            return book.read(length)

        faults, entries = zip_faults(path, reader, size)
    try:
        if zip_only:
            # The data was read back above; zipfile need only find the same entries.
            with zipfile.ZipFile(path) as package:
                listed = [(i.filename, i.file_size, i.compress_size, i.CRC, i.header_offset)
                          for i in package.infolist()]
                if listed != [(e.name, e.size, e.compressed, e.crc, e.offset) for e in entries]:
                    faults.append("zipfile: lists other entries than the central directory")
        else:
            faults.extend(part_faults(path))
    except (zipfile.BadZipFile, KeyError, OSError) as error:
        faults.append("zipfile: %s" % error)
    test = subprocess.run(["unzip", "-tqq", path], capture_output=True, text=True)
    if test.returncode != 0:
        faults.append("unzip -t: %s%s" % (test.stdout.strip(), test.stderr.strip()))
    for fault in faults[:100]:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
