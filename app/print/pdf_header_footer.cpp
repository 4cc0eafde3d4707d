// Header and footer lines drawn into a finished PDF with libqpdf: the page's own content is kept
// as it is, wrapped in a saved graphics state, and the lines follow it in Helvetica, which
// every PDF reader has, so nothing needs embedding.

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <exception>

#include "app/print/web_browser_print.h"
#include "convert/read/text_measurer.h"

namespace paginor {

namespace {

constexpr double kFontSize = 9;
constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr char kFontName[] = "/PaginorHF";

// UTF-8 as Windows-1252 code points, which Helvetica's WinAnsiEncoding shows; characters it
// lacks become '?'.
std::u16string toWinAnsi(const std::string& text) {
    static const char16_t k80[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t code = byte;
        std::size_t length = 1;
        if (byte >= 0xF0)
            length = 4, code = byte & 0x07;
        else if (byte >= 0xE0)
            length = 3, code = byte & 0x0F;
        else if (byte >= 0xC0)
            length = 2, code = byte & 0x1F;
        else if (byte >= 0x80)
            code = '?';
        if (i + length > text.size()) {
            out += u'?';
            break;
        }
        for (std::size_t k = 1; k < length; ++k)
            code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
            out += static_cast<char16_t>(code < 0x20 ? ' ' : code);
            continue;
        }
        char16_t mapped = u'?';
        for (int k = 0; k < 32; ++k) {
            if (k80[k] != 0 && k80[k] == code)
                mapped = static_cast<char16_t>(0x80 + k);
        }
        out += mapped;
    }
    return out;
}

double widthOf(const std::u16string& text) {
    // Liberation Sans has Helvetica's advances; measured large for precision.
    const TextExtent extent = defaultTextMeasurer().measure("Arial", 100, false, text);
    return extent.width * 0.75 * kFontSize / 100;
}

std::string pdfString(const std::u16string& text) {
    std::string out = "(";
    for (char16_t c : text) {
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x80) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(c & 0xFF));
            out += octal;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + ")";
}

std::string showText(const std::string& utf8, double x, double y, int align) {
    if (utf8.empty())
        return {};
    const std::u16string text = toWinAnsi(utf8);
    const double width = widthOf(text);
    const double left = align == 0 ? x : align == 1 ? x - width / 2 : x - width;
    char position[64];
    std::snprintf(position, sizeof position, "%.2f %.2f Td ", left, y);
    return std::string("BT ") + kFontName + " 9 Tf " + position + pdfString(text) + " Tj ET\n";
}

std::string drawLine(const HeaderFooterLine& line, double left, double centre, double right,
                     double y) {
    return showText(line.left, left, y, 0) + showText(line.center, centre, y, 1) +
           showText(line.right, right, y, 2);
}

}  // namespace

bool StampHeaderFooter(const std::string& path, const std::string& header,
                       const std::string& footer, HeaderFooterFields fields,
                       const std::vector<int>& sheetPages, const PdfPageLayout& layout,
                       std::string& error) {
    const std::string stamped = path + ".stamped";
    try {
        QPDF pdf;
        pdf.processFile(path.c_str());
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
        QPDFObjectHandle font = pdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
        for (std::size_t i = 0; i < pages.size(); ++i) {
            QPDFPageObjectHelper& page = pages[i];
            if (i < sheetPages.size())
                fields.page = sheetPages[i];
            const QPDFObjectHandle::Rectangle box = page.getMediaBox().getArrayAsRectangle();
            const double left = box.llx + layout.left * kPointsPerMm;
            const double right = box.urx - layout.right * kPointsPerMm;
            const double centre = (box.llx + box.urx) / 2;
            // Each line sits in the middle of the printable part of its margin.
            const double headerY =
                box.ury - (layout.hardTop + layout.top) / 2 * kPointsPerMm - kFontSize / 3;
            const double footerY =
                box.lly + (layout.hardBottom + layout.bottom) / 2 * kPointsPerMm - kFontSize / 3;
            const std::string text =
                drawLine(ExpandHeaderFooter(header, fields), left, centre, right, headerY) +
                drawLine(ExpandHeaderFooter(footer, fields), left, centre, right, footerY);
            if (text.empty())
                continue;
            QPDFObjectHandle resources = page.getAttribute("/Resources", true);
            if (!resources.isDictionary()) {
                resources = QPDFObjectHandle::newDictionary();
                page.getObjectHandle().replaceKey("/Resources", resources);
            }
            QPDFObjectHandle fonts = resources.getKey("/Font");
            if (!fonts.isDictionary()) {
                fonts = QPDFObjectHandle::newDictionary();
                resources.replaceKey("/Font", fonts);
            }
            fonts.replaceKey(kFontName, font);
            page.addPageContents(QPDFObjectHandle::newStream(&pdf, "q\n"), true);
            page.addPageContents(QPDFObjectHandle::newStream(&pdf, "\nQ\n0 g\n" + text), false);
        }
        QPDFWriter writer(pdf, stamped.c_str());
        writer.write();
    } catch (const std::exception& e) {
        std::remove(stamped.c_str());
        error = std::string("Cannot draw the header and footer: ") + e.what();
        return false;
    }
    if (std::rename(stamped.c_str(), path.c_str()) != 0) {
        std::remove(stamped.c_str());
        error = "Cannot replace " + path;
        return false;
    }
    return true;
}

}  // namespace paginor
