"""The cells of a SpreadsheetML file's first worksheet, as the tests' readers walk them."""
import xml.etree.ElementTree as ET

from openpyxl.utils import get_column_letter

SS = "{urn:schemas-microsoft-com:office:spreadsheet}"


def data_cells(path):
    """Yields ("A1", Data element) for each cell that holds a Data element, row by row."""
    table = ET.parse(path).getroot().find(SS + "Worksheet").find(SS + "Table")
    for row in table.findall(SS + "Row"):
        r = int(row.get(SS + "Index"))
        column = 0
        for cell in row.findall(SS + "Cell"):
            column = int(cell.get(SS + "Index", column + 1))
            data = cell.find(SS + "Data")
            if data is not None:
                yield "%s%d" % (get_column_letter(column), r), data
            column += int(cell.get(SS + "MergeAcross", "0"))
