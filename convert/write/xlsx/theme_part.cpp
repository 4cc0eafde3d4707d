#include "convert/write/xlsx/theme_part.h"

#include <utility>

#include "convert/write/xlsx/part_text.h"

namespace paginor::xlsx {

std::string ThemeXml() {
    // The colours and fonts of the default office theme, which the styles name by number.
    std::string out = kXmlDeclaration;
    out +=
        "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "name=\"Office Theme\"><a:themeElements><a:clrScheme name=\"Office\">"
        "<a:dk1><a:sysClr val=\"windowText\" lastClr=\"000000\"/></a:dk1>"
        "<a:lt1><a:sysClr val=\"window\" lastClr=\"FFFFFF\"/></a:lt1>";
    const std::pair<const char*, const char*> colours[] = {
        {"dk2", "1F497D"},     {"lt2", "EEECE1"},     {"accent1", "4F81BD"}, {"accent2", "C0504D"},
        {"accent3", "9BBB59"}, {"accent4", "8064A2"}, {"accent5", "4BACC6"}, {"accent6", "F79646"},
        {"hlink", "0000FF"},   {"folHlink", "800080"}};
    for (const auto& [name, rgb] : colours) {
        out += std::string("<a:") + name + "><a:srgbClr val=\"" + rgb + "\"/></a:" + name + ">";
    }
    out +=
        "</a:clrScheme><a:fontScheme name=\"Office\"><a:majorFont><a:latin "
        "typeface=\"Cambria\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:majorFont>"
        "<a:minorFont><a:latin typeface=\"Calibri\"/><a:ea typeface=\"\"/><a:cs "
        "typeface=\"\"/></a:minorFont></a:fontScheme><a:fmtScheme name=\"Office\">";
    const std::string fill = "<a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill>";
    out += "<a:fillStyleLst>" + fill + fill + fill + "</a:fillStyleLst><a:lnStyleLst>";
    for (const char* width : {"9525", "25400", "38100"}) {
        out += std::string("<a:ln w=\"") + width + "\">" + fill + "</a:ln>";
    }
    out += "</a:lnStyleLst><a:effectStyleLst>";
    for (int i = 0; i < 3; ++i) {
        out += "<a:effectStyle><a:effectLst/></a:effectStyle>";
    }
    out += "</a:effectStyleLst><a:bgFillStyleLst>" + fill + fill + fill +
           "</a:bgFillStyleLst></a:fmtScheme></a:themeElements><a:objectDefaults/>"
           "<a:extraClrSchemeLst/></a:theme>";
    return out;
}

}  // namespace paginor::xlsx
