#pragma once

// Reports written for the conversion tests: long ones that make many batches, with layouts,
// conventions and frames that batches converted at once must agree on.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace paginor::testing {

inline std::string readFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The framed fixture's first page repeated, one letter a page: 'F' framed, 'P' plain (its ruled
// boxes left out: it takes the grid road and turns the frame road off for later pages), 'E' empty
// (only its page marks: it leaves the frame road as it was).
inline std::string framedReport(const std::string& pages) {
    std::istringstream in(readFileText(std::filesystem::path(PAGINOR_CONVERT_FIXTURES) / "htmlcss" /
                                       "framed_report.rrph"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line + "\n");
    }
    std::string report;
    for (std::size_t i = 0; i < 8; ++i) {
        report += lines[i];
    }
    for (std::size_t p = 0; p < pages.size(); ++p) {
        for (std::size_t i = 8; i < 32; ++i) {
            const bool mark = lines[i].find("PageMark") != std::string::npos;
            const bool rule = lines[i].find("border-style") != std::string::npos;
            if ((pages[p] == 'P' && rule) || (pages[p] == 'E' && !mark)) {
                continue;
            }
            // Every line holds one "top:<n>pt".
            const std::string& line = lines[i];
            const std::size_t at = line.find("top:") + 4;
            const std::size_t end = line.find("pt", at);
            report += line.substr(0, at) +
                      std::to_string(std::stoi(line.substr(at, end - at)) + 792 * p) +
                      line.substr(end);
        }
    }
    return report + "</body>\n</html>\n";
}

// An HTML report of small tables; every seventh page has a narrower first column, so layouts
// change inside batch ranges and reference pages join only some batches.
inline std::string htmlReport(int pages) {
    std::string text =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n<title>T</title>\r\n</head>\r\n<body>\r\n";
    for (int p = 1; p <= pages; ++p) {
        const bool narrow = p % 7 == 0;
        text += "<table width=\"400\">\r\n<tr><td width=\"" + std::string(narrow ? "80" : "100") +
                "\">Stock list</td><td width=\"" + (narrow ? "220" : "200") +
                "\">North &amp; South</td><td width=\"100\" align=right>Page " + std::to_string(p) +
                "</td></tr>\r\n";
        for (int r = 0; r < 6; ++r) {
            text += "<tr><td>Item " + std::to_string(r) + "</td><td>" +
                    std::to_string((p * 31 + r * 17) % 997) + ".5</td><td align=right>" +
                    std::to_string(p * 100 + r) + "</td></tr>\r\n";
        }
        text += "<tr><td colspan=3>Printed by Paginor</td></tr>\r\n</table>\r\n";
    }
    return text + "</body>\r\n</html>\r\n";
}

// Page 1 alone shows a decimal comma and the day before the month; the later pages' amounts and
// dates read either way, so every batch must take the conventions page 1 set.
inline std::string conventionsReport(int pages) {
    std::string text =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n<title>T</title>\r\n</head>\r\n<body>\r\n";
    for (int p = 1; p <= pages; ++p) {
        text += "<table width=\"300\">\r\n";
        for (int r = 0; r < 4; ++r) {
            const int day = 1 + (p + r) % 12;
            text +=
                "<tr><td width=\"100\">Item " + std::to_string(r) + "</td><td width=\"100\">" +
                (p == 1 ? std::string("1.234,56") : std::to_string(p) + ",25" + std::to_string(r)) +
                "</td><td width=\"100\">" +
                (p == 1 ? std::string("31/12/2024")
                        : "0" + std::to_string(day % 10) + "/0" + std::to_string(1 + r) + "/2024") +
                "</td></tr>\r\n";
        }
        text += "</table>\r\n";
    }
    return text + "</body>\r\n</html>\r\n";
}

// The same as positioned texts, one page every 792 points.
inline std::string htmlCssReport(int pages) {
    std::string text =
        "<html>\r\n<head>\r\n<style>#c1 {font:bold 10pt Arial; color:#000080}</style>\r\n"
        "<style>#c2 {font:9pt Arial; color:#000000}</style>\r\n</head>\r\n<body>\r\n";
    auto span = [](const char* style, int top, int left, const std::string& value) {
        return "<span class=\"" + std::string(style) +
               "\" style=\"position:absolute; top:" + std::to_string(top) +
               "pt; left:" + std::to_string(left) + "pt; width:90pt\">" + value + "</span>\r\n";
    };
    for (int p = 1; p <= pages; ++p) {
        const int top = (p - 1) * 792;
        text += "<div style=\"position:absolute; top:" + std::to_string(top) +
                "pt; left:0pt\"><!--9876543210_PageMark_Head--></div>\r\n";
        text += span("c1", top + 20, 36, "Stock list");
        text += span("c1", top + 20, 236, "Page " + std::to_string(p));
        for (int r = 0; r < 6; ++r) {
            text += span("c2", top + 40 + 13 * r, 36, "Item " + std::to_string(r));
            text += span("c2", top + 40 + 13 * r, 136, std::to_string((p * 31 + r) % 997));
            text += span("c2", top + 40 + 13 * r, 236, std::to_string(p * 100 + r));
        }
        text += "<div style=\"position:absolute; top:" + std::to_string(top + 772) +
                "pt; left:0pt\"><!--9876543210_PageMark_Foot--></div>\r\n";
    }
    return text + "</body>\r\n</html>\r\n";
}

}  // namespace paginor::testing
