#include "app/print/print_layout.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "core/text_scan.h"

namespace paginor {

namespace {

constexpr double kMillimetresPerInch = 25.4;
// At least this much of the paper stays printable between opposite margins.
constexpr double kMinPrintableMm = 25.4;
// The room a header or footer line of 9 points takes, with as much again around it.
constexpr double kLineBandMm = 18 * 25.4 / 72;

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
               return lower(x) == lower(y);
           });
}

}  // namespace

double ParseInches(const std::string& text) {
    std::string number = text;
    std::replace(number.begin(), number.end(), ',', '.');
    const auto first = number.find_first_not_of(' ');
    if (first == std::string::npos)
        return 0;
    // Only plain decimal numbers: no exponents, no hexadecimal, no "inf".
    if (number.find_first_not_of("0123456789.- ") != std::string::npos)
        return 0;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(number.c_str() + first, &end);
    if (errno != 0 || end == number.c_str() + first ||
        std::string(end).find_first_not_of(' ') != std::string::npos || !std::isfinite(value) ||
        value < 0)
        return 0;
    return value;
}

int FindMedia(const std::vector<PrinterMedia>& media, const std::string& paper) {
    if (paper.empty())
        return -1;
    for (std::size_t i = 0; i < media.size(); ++i) {
        const PrinterMedia& m = media[i];
        if (equalIgnoringCase(m.pwgName, paper) || equalIgnoringCase(m.ppdName, paper) ||
            equalIgnoringCase(m.displayName, paper))
            return static_cast<int>(i);
    }
    return -1;
}

int FindMediaByPrefix(const std::vector<PrinterMedia>& media, const std::string& text) {
    if (text.empty())
        return -1;
    for (std::size_t i = 0; i < media.size(); ++i) {
        if (startsWithNoCase(MediaShortName(media[i]), text) ||
            startsWithNoCase(media[i].displayName, text))
            return static_cast<int>(i);
    }
    return FindMedia(media, text);
}

std::string MediaShortName(const PrinterMedia& media) {
    if (!media.ppdName.empty())
        return media.ppdName;
    return media.displayName.empty() ? media.pwgName : media.displayName;
}

PdfPageLayout MakePageLayout(const PrinterMedia& media, bool landscape, const MarginTexts& margins,
                             bool header, bool footer) {
    PdfPageLayout layout;
    layout.landscape = landscape;
    const double width = media.width / 100.0;
    const double length = media.length / 100.0;
    // Hardware margins as the paper stands; landscape turns the portrait page by 90 degrees.
    double hardLeft = media.left / 100.0, hardRight = media.right / 100.0;
    double hardTop = media.top / 100.0, hardBottom = media.bottom / 100.0;
    if (landscape) {
        layout.width = length;
        layout.height = width;
        const double left = hardLeft, right = hardRight, top = hardTop, bottom = hardBottom;
        hardLeft = bottom;
        hardRight = top;
        hardTop = left;
        hardBottom = right;
    } else {
        layout.width = width;
        layout.height = length;
    }
    const auto margin = [](const std::string& text, double hardware) {
        return std::max(ParseInches(text) * kMillimetresPerInch, hardware);
    };
    layout.left = margin(margins.left, hardLeft);
    layout.right = margin(margins.right, hardRight);
    layout.top = margin(margins.top, hardTop);
    layout.bottom = margin(margins.bottom, hardBottom);
    if (header)
        layout.top = std::max(layout.top, hardTop + kLineBandMm);
    if (footer)
        layout.bottom = std::max(layout.bottom, hardBottom + kLineBandMm);
    layout.hardTop = hardTop;
    layout.hardBottom = hardBottom;
    const auto fit = [](double& a, double& b, double size) {
        const double room = size - kMinPrintableMm;
        if (a + b <= room)
            return;
        const double scale = room > 0 ? room / (a + b) : 0;
        a *= scale;
        b *= scale;
    };
    fit(layout.left, layout.right, layout.width);
    fit(layout.top, layout.bottom, layout.height);
    return layout;
}

HeaderFooterLine ExpandHeaderFooter(const std::string& text, const HeaderFooterFields& fields) {
    HeaderFooterLine line;
    std::string* part = &line.left;
    int breaks = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&' || i + 1 == text.size()) {
            *part += text[i];
            continue;
        }
        const char code = text[++i];
        switch (code) {
            case 'w':
                *part += fields.title;
                break;
            case 'u':
                *part += fields.address;
                break;
            case 'd':
                *part += fields.shortDate;
                break;
            case 'D':
                *part += fields.longDate;
                break;
            case 't':
                *part += fields.time;
                break;
            case 'T':
                *part += fields.time24;
                break;
            case 'p':
                *part += std::to_string(fields.page);
                break;
            case 'P':
                *part += std::to_string(fields.pages);
                break;
            case '&':
                *part += '&';
                break;
            case 'b':
                ++breaks;
                part = breaks == 1 ? &line.center : &line.right;
                break;
            default:
                *part += '&';
                *part += code;
                break;
        }
    }
    return line;
}

}  // namespace paginor
