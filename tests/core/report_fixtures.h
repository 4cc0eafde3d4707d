#pragma once

#include <string>
#include <vector>

namespace paginor::fixtures {

inline const std::string kHeadMark = "<!--9876543210_PageMark_Head-->";
inline const std::string kFootMark = "<!--9876543210_PageMark_Foot-->";

inline std::string htmlPrologue(const std::string& charset = "windows-1252") {
    return "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
           charset + "\">\r\n<title>Sales</title>\r\n</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n";
}

inline std::string markedHtmlPage(int page) {
    return kHeadMark + "<table border=0 width=612><tr><td>Page " + std::to_string(page) +
           "</td><td><table border=1><tr><td>inner</td></tr></table></td></tr></table>" +
           kFootMark + "\r\n";
}

inline std::string markedHtmlReport(int pages, const std::string& prologue = htmlPrologue()) {
    std::string text = prologue;
    for (int p = 1; p <= pages; ++p) {
        text += markedHtmlPage(p);
    }
    return text + "</body>\r\n</html>\r\n";
}

inline std::string positionedDiv(int top, const std::string& inner,
                                 const std::string& side = "left") {
    return "<div style=\"position:absolute; top:" + std::to_string(top) + "pt; " + side +
           ":0pt\">" + inner + "</div>\r\n";
}

// A page of boxes with its marks; TOP values grow by pitch from page to page.
inline std::string markedCssPage(int page, int pitch = 792, const std::string& side = "left") {
    const int top = (page - 1) * pitch;
    return positionedDiv(top, kHeadMark, side) +
           "<span class=\"c1\" style=\"position:absolute; top:" + std::to_string(top + 20) +
           "pt; left:36pt\">Row " + std::to_string(page) + "</span>\r\n" +
           positionedDiv(top + 700, kFootMark, side);
}

inline std::string cssPrologue() {
    return "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
           "charset=windows-1252\">\r\n<style>#c1 {font-family:Arial; font-size:10pt}</style>\r\n"
           "</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n";
}

inline std::string markedCssReport(int pages, const std::string& prologue = cssPrologue(),
                                   const std::string& side = "left") {
    std::string text = prologue;
    for (int p = 1; p <= pages; ++p) {
        text += markedCssPage(p, 792, side);
    }
    return text + "</body>\r\n</html>\r\n";
}

}  // namespace paginor::fixtures
