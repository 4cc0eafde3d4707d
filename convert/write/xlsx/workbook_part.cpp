#include "convert/write/xlsx/workbook_part.h"

#include "convert/write/xlsx/part_text.h"

namespace paginor::xlsx {

std::string WorkbookXml(const std::vector<std::string>& sheets, std::size_t active) {
    std::string out = kXmlDeclaration;
    out += "<workbook xmlns=\"";
    out += kMainNamespace;
    out += "\" xmlns:r=\"";
    out += kRelationshipsNamespace;
    out +=
        "\"><bookViews><workbookView xWindow=\"240\" yWindow=\"15\" windowWidth=\"16095\" "
        "windowHeight=\"9660\"";
    if (active > 0) {
        out += " activeTab=\"" + integer(static_cast<std::int64_t>(active)) + "\"";
    }
    out += "/></bookViews><sheets>";
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const std::string n = integer(static_cast<std::int64_t>(i + 1));
        out += "<sheet name=\"";
        appendAttributeText(out, sheets[i]);
        out += "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    }
    out += "</sheets><calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/></workbook>";
    return out;
}

std::string WorkbookRelationships(std::size_t sheets) {
    std::string out = kXmlDeclaration;
    out += "<Relationships xmlns=\"";
    out += kPackageRelationships;
    out += "\">";
    for (std::size_t i = 0; i < sheets; ++i) {
        const std::string n = integer(static_cast<std::int64_t>(i + 1));
        out += "<Relationship Id=\"rId" + n + "\" Type=\"" + kRelationshipsNamespace +
               "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    }
    out += "<Relationship Id=\"rId" + integer(static_cast<std::int64_t>(sheets + 1)) +
           "\" Type=\"" + kRelationshipsNamespace + "/theme\" Target=\"theme/theme1.xml\"/>";
    out += "<Relationship Id=\"rId" + integer(static_cast<std::int64_t>(sheets + 2)) +
           "\" Type=\"" + kRelationshipsNamespace + "/styles\" Target=\"styles.xml\"/>";
    out += "</Relationships>";
    return out;
}

}  // namespace paginor::xlsx
