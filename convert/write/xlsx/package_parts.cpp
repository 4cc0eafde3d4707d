#include "convert/write/xlsx/package_parts.h"

#include "convert/write/xlsx/part_text.h"

namespace paginor::xlsx {

std::string PackageRelationships() {
    std::string out = kXmlDeclaration;
    out += "<Relationships xmlns=\"";
    out += kPackageRelationships;
    out += "\"><Relationship Id=\"rId1\" Type=\"";
    out += kRelationshipsNamespace;
    out += "/officeDocument\" Target=\"xl/workbook.xml\"/><Relationship Id=\"rId2\" Type=\"";
    out += kPackageRelationships;
    out +=
        "/metadata/core-properties\" Target=\"docProps/core.xml\"/><Relationship Id=\"rId3\" "
        "Type=\"";
    out += kRelationshipsNamespace;
    out += "/extended-properties\" Target=\"docProps/app.xml\"/></Relationships>";
    return out;
}

std::string ContentTypes(std::size_t sheets, const std::vector<std::int32_t>& drawings,
                         const std::vector<std::string>& extensions) {
    const std::string office = "application/vnd.openxmlformats-officedocument.";
    std::string out = kXmlDeclaration;
    out +=
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    for (const std::string& extension : extensions) {
        out += "<Default Extension=\"" + extension + "\" ContentType=\"image/" + extension + "\"/>";
    }
    out += "<Override PartName=\"/docProps/app.xml\" ContentType=\"" + office +
           "extended-properties+xml\"/><Override PartName=\"/docProps/core.xml\" "
           "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
           "<Override PartName=\"/xl/styles.xml\" ContentType=\"" +
           office + "spreadsheetml.styles+xml\"/><Override PartName=\"/xl/theme/theme1.xml\" " +
           "ContentType=\"" + office + "theme+xml\"/><Override PartName=\"/xl/workbook.xml\" " +
           "ContentType=\"" + office + "spreadsheetml.sheet.main+xml\"/>";
    for (std::size_t i = 0; i < sheets; ++i) {
        out += "<Override PartName=\"/xl/worksheets/sheet" +
               integer(static_cast<std::int64_t>(i + 1)) + ".xml\" ContentType=\"" + office +
               "spreadsheetml.worksheet+xml\"/>";
    }
    for (const std::int32_t drawing : drawings) {
        out += "<Override PartName=\"/xl/drawings/drawing" + integer(drawing) +
               ".xml\" ContentType=\"" + office + "drawing+xml\"/>";
    }
    out += "</Types>";
    return out;
}

std::string AppProperties(const std::vector<std::string>& sheets) {
    std::string out = kXmlDeclaration;
    out +=
        "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "extended-properties\" xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "docPropsVTypes\"><Application>Paginor</Application><DocSecurity>0</DocSecurity>"
        "<ScaleCrop>false</ScaleCrop><HeadingPairs><vt:vector size=\"2\" "
        "baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant>"
        "<vt:variant><vt:i4>";
    out += integer(static_cast<std::int64_t>(sheets.size()));
    out += "</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector size=\"" +
           integer(static_cast<std::int64_t>(sheets.size())) + "\" baseType=\"lpstr\">";
    for (const std::string& sheet : sheets) {
        out += "<vt:lpstr>";
        appendAttributeText(out, sheet);
        out += "</vt:lpstr>";
    }
    out +=
        "</vt:vector></TitlesOfParts><LinksUpToDate>false</LinksUpToDate><SharedDoc>false"
        "</SharedDoc><HyperlinksChanged>false</HyperlinksChanged><AppVersion>12.0000"
        "</AppVersion></Properties>";
    return out;
}

std::string CoreProperties(std::time_t created) {
    std::tm utc{};
    gmtime_r(&created, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string out = kXmlDeclaration;
    out +=
        "<cp:coreProperties "
        "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
        "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><dc:creator></dc:creator>"
        "<cp:lastModifiedBy></cp:lastModifiedBy><dcterms:created xsi:type=\"dcterms:W3CDTF\">";
    out += stamp;
    out += "</dcterms:created><dcterms:modified xsi:type=\"dcterms:W3CDTF\">";
    out += stamp;
    out += "</dcterms:modified></cp:coreProperties>";
    return out;
}

}  // namespace paginor::xlsx
