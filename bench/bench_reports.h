#pragma once

// The reports the benchmarks convert: pages of 50 rows of 10 amounts under a repeated page header
// and over a footer, as HTML (every cell with its width) and as HTMLCSS.

#include <fstream>
#include <string>

namespace paginor::bench {

inline constexpr int kRows = 50;
inline constexpr int kColumns = 10;

inline std::string pageText(int page, int pages) {
    std::string text = "<table border=0 cellspacing=0 cellpadding=2 width=\"800\">\r\n";
    text +=
        "<tr><td width=\"400\" colspan=5><b>Northgate Supply Company</b></td>"
        "<td width=\"400\" colspan=5 align=right>Page " +
        std::to_string(page) + " of " + std::to_string(pages) + "</td></tr>\r\n<tr>";
    for (int c = 0; c < kColumns; ++c) {
        text += "<td width=\"80\"><b>Column " + std::to_string(c + 1) + "</b></td>";
    }
    text += "</tr>\r\n";
    for (int r = 0; r < kRows; ++r) {
        text += "<tr>";
        for (int c = 0; c < kColumns; ++c) {
            const int value = (page * 7919 + r * 104729 + c * 1299709) % 100000;
            text += "<td width=\"80\" align=right>" + std::to_string(value / 100) + "." +
                    std::to_string(10 + value % 90) + "</td>";
        }
        text += "</tr>\r\n";
    }
    text +=
        "<tr><td width=\"800\" colspan=10>Confidential - printed by Oracle Reports</td></tr>"
        "\r\n</table>\r\n";
    return text;
}

// The head of the HTML reports.
inline constexpr const char* kHtmlReportHead =
    "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
    "charset=windows-1252\">\r\n<title>Benchmark</title>\r\n</head>\r\n<body>\r\n";

inline bool writeHtmlReport(const std::string& path, int pages) {
    std::ofstream out(path, std::ios::binary);
    out << kHtmlReportHead;
    for (int page = 1; page <= pages; ++page) {
        out << pageText(page, pages);
    }
    out << "</body>\r\n</html>\r\n";
    return static_cast<bool>(out);
}

inline std::string cssSpan(const char* style, int top, int left, int width, const std::string& text,
                           bool right) {
    return "<span class=\"" + std::string(style) +
           "\" style=\"position:absolute; top:" + std::to_string(top) +
           "pt; left:" + std::to_string(left) + "pt; width:" + std::to_string(width) + "pt" +
           (right ? "; text-align:right" : "") + "\">" + text + "</span>\r\n";
}

inline std::string cssBox(int top, int left, int width, int height) {
    return "<div style=\"position:absolute; top:" + std::to_string(top) +
           "pt; left:" + std::to_string(left) + "pt; width:" + std::to_string(width) +
           "pt; height:" + std::to_string(height) + "pt; border-style:solid\"></div>\r\n";
}

// One page of the HTMLCSS report; tops run on from page to page as the report server writes them.
// A ruled page draws its table as an outline and a bordered box per cell.
inline std::string cssPageText(int page, int pages, bool ruled) {
    constexpr int kPitch = 792;
    const int top = (page - 1) * kPitch;
    std::string text = "<div style=\"position:absolute; top:" + std::to_string(top) +
                       "pt; left:0pt\"><!--9876543210_PageMark_Head--></div>\r\n";
    if (ruled) {
        text += cssBox(top + 38, 35, 54 * kColumns, 18 + 13 * kRows);
        for (int c = 0; c < kColumns; ++c) {
            text += cssBox(top + 38, 35 + 54 * c, 54, 18);
        }
        for (int r = 0; r < kRows; ++r) {
            for (int c = 0; c < kColumns; ++c) {
                text += cssBox(top + 56 + 13 * r, 35 + 54 * c, 54, 13);
            }
        }
    }
    text += cssSpan("c1", top + 20, 36, 300, "Northgate Supply Company", false);
    text += cssSpan("c2", top + 20, 400, 176,
                    "Page " + std::to_string(page) + " of " + std::to_string(pages), true);
    for (int c = 0; c < kColumns; ++c) {
        text += cssSpan("c1", top + 40, 36 + 54 * c, 52, "Column " + std::to_string(c + 1), true);
    }
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const int value = (page * 7919 + r * 104729 + c * 1299709) % 100000;
            text +=
                cssSpan("c2", top + 56 + 13 * r, 36 + 54 * c, 52,
                        std::to_string(value / 100) + "." + std::to_string(10 + value % 90), true);
        }
    }
    text += cssSpan("c2", top + 730, 36, 400, "Confidential - printed by Oracle Reports", false);
    text += "<div style=\"position:absolute; top:" + std::to_string(top + kPitch - 10) +
            "pt; left:0pt\"><!--9876543210_PageMark_Foot--></div>\r\n";
    return text;
}

// The head of the positioned reports: their two text styles.
constexpr const char* kCssReportHead =
    "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
    "charset=windows-1252\">\r\n<title>Benchmark</title>\r\n"
    "<style>#c1 {font:bold 8pt \"Arial\"; color:#000000}</style>\r\n"
    "<style>#c2 {font:8pt \"Arial\"; color:#000000}</style>\r\n</head>\r\n<body>\r\n";

inline bool writeCssReport(const std::string& path, int pages, bool ruled) {
    std::ofstream out(path, std::ios::binary);
    out << kCssReportHead;
    for (int page = 1; page <= pages; ++page) {
        out << cssPageText(page, pages, ruled);
    }
    out << "</body>\r\n</html>\r\n";
    return static_cast<bool>(out);
}

}  // namespace paginor::bench
