// Header and footer lines drawn into a finished PDF with libqpdf: the page's own content is kept
// as it is, wrapped in a saved graphics state, and the lines follow it. The text is drawn in
// fonts that fontconfig finds, each embedded as a subset (Type0 over CIDFontType2, Identity-H)
// with a ToUnicode map, so any script prints and a reader gets the text back.

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <charconv>
#include <cstdio>
#include <exception>
#include <map>
#include <set>

#include "app/print/pdf_replace.h"
#include "app/print/stamp_fonts.h"
#include "app/print/web_browser_print.h"

namespace paginor {

namespace {

constexpr double kFontSize = 9;
constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr char kFontPrefix[] = "/PaginorHF";
// A ToUnicode CMap lists at most this many codes in one bfchar block.
constexpr std::size_t kCMapBlock = 100;

// PDF numbers never take the process locale's decimal comma.
std::string number(double value) {
    char digits[32];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 2).ptr;
    return std::string(digits, end);
}

std::string hex4(unsigned value) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", value & 0xFFFF);
    return digits;
}

std::string utf16Hex(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) {
        if (c >= 0x10000) {
            out += hex4(0xD800 + ((c - 0x10000) >> 10));
            out += hex4(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += hex4(c);
        }
    }
    return out;
}

int perMille(int units, int unitsPerEm) {
    return static_cast<int>(units * 1000.0 / unitsPerEm + (units < 0 ? -0.5 : 0.5));
}

// A line laid out and where it stands on its sheet.
struct PlacedLine {
    StampLine line;
    double x = 0;
    double y = 0;
};

void placeLine(StampFonts& fonts, const HeaderFooterLine& text, double left, double centre,
               double right, double y, std::vector<PlacedLine>& placed) {
    const std::string* parts[] = {&text.left, &text.center, &text.right};
    for (int align = 0; align < 3; ++align) {
        if (parts[align]->empty())
            continue;
        PlacedLine line{fonts.LayOut(*parts[align], kFontSize), 0, y};
        line.x = align == 0   ? left
                 : align == 1 ? centre - line.line.width / 2
                              : right - line.line.width;
        if (!line.line.glyphs.empty())
            placed.push_back(std::move(line));
    }
}

// A subset tag of six capitals that differs with the glyphs the subset holds.
std::string subsetTag(const StampFace& face) {
    std::uint32_t hash = 2166136261u;
    const auto mix = [&](unsigned value) { hash = (hash ^ value) * 16777619u; };
    for (char c : face.file())
        mix(static_cast<unsigned char>(c));
    for (const auto& [glyph, text] : face.glyphText())
        mix(glyph);
    std::string tag;
    for (int i = 0; i < 6; ++i) {
        tag += static_cast<char>('A' + hash % 26);
        hash /= 26;
    }
    return tag;
}

std::string toUnicodeCMap(const StampFace& face, const std::map<unsigned, unsigned>& newGlyphs) {
    std::vector<std::pair<unsigned, const std::u32string*>> entries;
    for (const auto& [glyph, text] : face.glyphText()) {
        if (!text.empty())
            entries.emplace_back(newGlyphs.at(glyph), &text);
    }
    std::string cmap =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    for (std::size_t i = 0; i < entries.size(); i += kCMapBlock) {
        const std::size_t end = std::min(entries.size(), i + kCMapBlock);
        cmap += std::to_string(end - i) + " beginbfchar\n";
        for (std::size_t k = i; k < end; ++k)
            cmap += "<" + hex4(entries[k].first) + "> <" + utf16Hex(*entries[k].second) + ">\n";
        cmap += "endbfchar\n";
    }
    return cmap + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

// The Type0 font that draws face's glyphs, numbered as newGlyphs says.
QPDFObjectHandle embedFont(QPDF& pdf, const StampFace& face, const std::string& program,
                           const std::map<unsigned, unsigned>& newGlyphs) {
    const StampFace::Metrics& m = face.metrics();
    const std::string name = "/" + subsetTag(face) + "+" + face.postScriptName();
    QPDFObjectHandle file = QPDFObjectHandle::newStream(&pdf, program);
    file.getDict().replaceKey("/Length1",
                              QPDFObjectHandle::newInteger(static_cast<long long>(program.size())));
    QPDFObjectHandle descriptor = QPDFObjectHandle::parse(
        "<< /Type /FontDescriptor /FontName " + name + " /Flags 4 /FontBBox [" +
        std::to_string(perMille(m.box[0], m.unitsPerEm)) + " " +
        std::to_string(perMille(m.box[1], m.unitsPerEm)) + " " +
        std::to_string(perMille(m.box[2], m.unitsPerEm)) + " " +
        std::to_string(perMille(m.box[3], m.unitsPerEm)) + "] /ItalicAngle 0 /Ascent " +
        std::to_string(perMille(m.ascender, m.unitsPerEm)) + " /Descent " +
        std::to_string(perMille(m.descender, m.unitsPerEm)) + " /CapHeight " +
        std::to_string(perMille(m.capHeight, m.unitsPerEm)) + " /StemV 80 >>");
    descriptor.replaceKey("/FontFile2", pdf.makeIndirectObject(file));
    std::map<unsigned, int> widths;
    for (const auto& [glyph, to] : newGlyphs)
        widths[to] = perMille(face.advance(glyph), m.unitsPerEm);
    std::string w = "[";
    for (const auto& [glyph, width] : widths)
        w += std::to_string(glyph) + " [" + std::to_string(width) + "] ";
    QPDFObjectHandle cidFont = QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont " + name +
        " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
        " /DW 1000 /W " +
        w + "] /CIDToGIDMap /Identity >>");
    cidFont.replaceKey("/FontDescriptor", pdf.makeIndirectObject(descriptor));
    QPDFObjectHandle font = QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type0 /BaseFont " +
                                                    name + " /Encoding /Identity-H >>");
    font.replaceKey("/DescendantFonts",
                    QPDFObjectHandle::newArray({pdf.makeIndirectObject(cidFont)}));
    font.replaceKey("/ToUnicode", pdf.makeIndirectObject(QPDFObjectHandle::newStream(
                                      &pdf, toUnicodeCMap(face, newGlyphs))));
    return pdf.makeIndirectObject(font);
}

std::string drawLines(const std::vector<PlacedLine>& lines,
                      const std::vector<std::map<unsigned, unsigned>>& newGlyphs,
                      std::set<std::size_t>& facesUsed) {
    std::string text;
    for (const PlacedLine& placed : lines) {
        text += "BT\n";
        std::size_t current = static_cast<std::size_t>(-1);
        for (const StampGlyph& glyph : placed.line.glyphs) {
            if (glyph.face != current) {
                current = glyph.face;
                facesUsed.insert(current);
                text += kFontPrefix + std::to_string(current) + " " + number(kFontSize) + " Tf\n";
            }
            text += "1 0 0 1 " + number(placed.x + glyph.x) + " " + number(placed.y + glyph.y) +
                    " Tm <" + hex4(newGlyphs[glyph.face].at(glyph.glyph)) + "> Tj\n";
        }
        text += "ET\n";
    }
    return text;
}

}  // namespace

bool StampHeaderFooter(const std::string& path, const std::string& header,
                       const std::string& footer, HeaderFooterFields fields,
                       const std::vector<int>& sheetPages, const PdfPageLayout& layout,
                       std::string& error) {
    try {
        QPDF pdf;
        pdf.processFile(path.c_str());
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
        StampFonts fonts;
        std::string fontError;
        if (!fonts.Open(fontError)) {
            error = "Cannot draw the header and footer: " + fontError;
            return false;
        }
        // Every sheet is laid out first, so that each font is cut down once to all it draws.
        std::vector<std::vector<PlacedLine>> sheets(pages.size());
        for (std::size_t i = 0; i < pages.size(); ++i) {
            fields.page = i < sheetPages.size() ? sheetPages[i]
                          : sheetPages.empty()  ? static_cast<int>(i) + 1
                                                : sheetPages.back();
            const QPDFObjectHandle::Rectangle box = pages[i].getMediaBox().getArrayAsRectangle();
            const double left = box.llx + layout.left * kPointsPerMm;
            const double right = box.urx - layout.right * kPointsPerMm;
            const double centre = (box.llx + box.urx) / 2;
            // Each line sits in the middle of the printable part of its margin.
            const double headerY =
                box.ury - (layout.hardTop + layout.top) / 2 * kPointsPerMm - kFontSize / 3;
            const double footerY =
                box.lly + (layout.hardBottom + layout.bottom) / 2 * kPointsPerMm - kFontSize / 3;
            placeLine(fonts, ExpandHeaderFooter(header, fields), left, centre, right, headerY,
                      sheets[i]);
            placeLine(fonts, ExpandHeaderFooter(footer, fields), left, centre, right, footerY,
                      sheets[i]);
        }
        std::vector<QPDFObjectHandle> fontObjects(fonts.faceCount());
        std::vector<std::map<unsigned, unsigned>> newGlyphs(fonts.faceCount());
        for (std::size_t f = 0; f < fonts.faceCount(); ++f) {
            const StampFace* face = fonts.usedFace(f);
            if (face == nullptr)
                continue;
            std::string program;
            if (!face->Subset(program, newGlyphs[f], fontError)) {
                error = "Cannot draw the header and footer: " + fontError;
                return false;
            }
            fontObjects[f] = embedFont(pdf, *face, program, newGlyphs[f]);
        }
        for (std::size_t i = 0; i < pages.size(); ++i) {
            QPDFPageObjectHelper& page = pages[i];
            std::set<std::size_t> facesUsed;
            const std::string text = drawLines(sheets[i], newGlyphs, facesUsed);
            if (text.empty())
                continue;
            QPDFObjectHandle resources = page.getAttribute("/Resources", true);
            if (!resources.isDictionary()) {
                resources = QPDFObjectHandle::newDictionary();
                page.getObjectHandle().replaceKey("/Resources", resources);
            }
            QPDFObjectHandle fontResources = resources.getKey("/Font");
            if (!fontResources.isDictionary()) {
                fontResources = QPDFObjectHandle::newDictionary();
                resources.replaceKey("/Font", fontResources);
            }
            for (std::size_t f : facesUsed)
                fontResources.replaceKey(kFontPrefix + std::to_string(f), fontObjects[f]);
            page.addPageContents(QPDFObjectHandle::newStream(&pdf, "q\n"), true);
            page.addPageContents(QPDFObjectHandle::newStream(&pdf, "\nQ\n0 g\n" + text), false);
        }
        // The stamped document takes the place of the plain one whole or not at all.
        return ReplacePdf(pdf, path, error);
    } catch (const std::exception& e) {
        error = std::string("Cannot draw the header and footer: ") + e.what();
        return false;
    }
}

}  // namespace paginor
