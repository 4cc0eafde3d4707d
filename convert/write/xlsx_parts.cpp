#include "convert/write/xlsx_parts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>

#include "convert/write/character_references.h"

namespace paginor::xlsx {

namespace {

constexpr const char* kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr const char* kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRelationshipsNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kPackageRelationships =
    "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr const char* kDefaultFontName = "Calibri";
constexpr double kDefaultRowHeight = 15;
constexpr std::int32_t kFirstCustomFormat = 164;
constexpr double kEmuPerPixel = 9525;

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "_x" and four hexadecimal digits and "_": how workbooks write characters XML cannot hold.
bool looksEscaped(std::string_view text, std::size_t at) {
    return at + 7 <= text.size() && text[at + 1] == 'x' && isHex(text[at + 2]) &&
           isHex(text[at + 3]) && isHex(text[at + 4]) && isHex(text[at + 5]) && text[at + 6] == '_';
}

std::string hexColour(std::int32_t rgb) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "FF";
    for (int shift = 20; shift >= 0; shift -= 4) {
        text += kDigits[(static_cast<std::uint32_t>(rgb) >> shift) & 0xF];
    }
    return text;
}

std::string number(double value) {
    std::string text;
    appendNumber(text, value);
    return text;
}

std::string integer(std::int64_t value) {
    std::string text;
    appendInteger(text, value);
    return text;
}

std::int32_t columnPixels(double width) {
    if (width < 1) {
        return static_cast<std::int32_t>(width * 12 + 0.5);
    }
    return static_cast<std::int32_t>(width * 7 + 0.5) + 5;
}

}  // namespace

char* writeColumnLetters(char* to, std::int32_t column) {
    char letters[4];
    int n = 0;
    for (std::int32_t c = column + 1; c > 0 && n < 4; c = (c - 1) / 26) {
        letters[n++] = static_cast<char>('A' + (c - 1) % 26);
    }
    while (n > 0) {
        *to++ = letters[--n];
    }
    return to;
}

void appendInteger(std::string& out, std::int64_t value) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void appendCellReference(std::string& out, std::int32_t row, std::int32_t column) {
    char letters[4];
    out.append(letters, writeColumnLetters(letters, column));
    appendInteger(out, std::int64_t{row} + 1);
}

char* formatNumber(char* to, double value) {
    // Amounts of up to six decimals: the fewest decimals that read back as the value, written
    // with integer arithmetic.
    constexpr double kPowers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
    constexpr double kLargest = 1e15;
    const double magnitude = value < 0 ? -value : value;
    if (magnitude < kLargest && magnitude >= 1e-6) {
        for (int decimals = 0; decimals <= 6; ++decimals) {
            const double scaled = magnitude * kPowers[decimals];
            if (scaled >= 9e15) {
                break;
            }
            const auto whole = static_cast<std::int64_t>(scaled + 0.5);
            if (static_cast<double>(whole) / kPowers[decimals] != magnitude) {
                continue;
            }
            char* at = to;
            if (value < 0) {
                *at++ = '-';
            }
            const auto unit = static_cast<std::int64_t>(kPowers[decimals]);
            at = std::to_chars(at, at + 20, whole / unit).ptr;
            if (decimals > 0) {
                *at++ = '.';
                std::int64_t fraction = whole % unit;
                for (int d = decimals - 1; d >= 0; --d) {
                    at[d] = static_cast<char>('0' + fraction % 10);
                    fraction /= 10;
                }
                at += decimals;
            }
            return at;
        }
    }
    return std::to_chars(to, to + 32, value).ptr;
}

void appendNumber(std::string& out, double value) {
    char digits[32];
    out.append(digits, formatNumber(digits, value));
}

char* writeCellText(char* to, std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    auto escape = [&to](unsigned code) {
        std::memcpy(to, "_x", 2);
        to += 2;
        for (int shift = 12; shift >= 0; shift -= 4) {
            *to++ = kDigits[(code >> shift) & 0xF];
        }
        *to++ = '_';
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '&' && c != '<' && c != '>' && c != '_' && c != 0xEF) {
            *to++ = static_cast<char>(c);
        } else if (c == '&') {
            std::memcpy(to, "&amp;", 5);
            to += 5;
        } else if (c == '<') {
            std::memcpy(to, "&lt;", 4);
            to += 4;
        } else if (c == '>') {
            std::memcpy(to, "&gt;", 4);
            to += 4;
        } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            escape(c);
        } else if (c == '_' && looksEscaped(text, i)) {
            escape('_');
        } else if (c == 0xEF && i + 2 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0xBF &&
                   (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
            // U+FFFE and U+FFFF, which XML forbids.
            escape(0xFFFE | (static_cast<unsigned char>(text[i + 2]) & 1));
            i += 2;
        } else {
            *to++ = static_cast<char>(c);
        }
    }
    return to;
}

void appendAttributeText(std::string& out, std::string_view text) {
    for (const char c : text) {
        if (!AppendMarkupEntity(out, static_cast<unsigned char>(c)) &&
            (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')) {
            out += c;
        }
    }
}

double StoredColumnWidth(double width) {
    return std::floor(columnPixels(width) / 7.0 * 256) / 256;
}

std::string PasswordHash(std::string_view password) {
    std::uint32_t hash = 0;
    for (auto it = password.rbegin(); it != password.rend(); ++it) {
        hash = ((hash >> 14) & 0x01) | ((hash << 1) & 0x7FFF);
        hash ^= static_cast<unsigned char>(*it);
    }
    hash = ((hash >> 14) & 0x01) | ((hash << 1) & 0x7FFF);
    hash ^= static_cast<std::uint32_t>(password.size()) & 0x7FFF;
    hash ^= 0xCE4B;
    char digits[8];
    const auto end = std::to_chars(digits, digits + sizeof digits, hash, 16).ptr;
    std::string text(digits, end);
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string CellXml::styleAttribute(std::uint32_t number) {
    std::string text;
    if (number != 0) {
        text = " s=\"";
        appendInteger(text, number);
        text += '"';
    }
    return text;
}

void CellXml::setStyles(const std::vector<std::uint32_t>& numbers) {
    m_styles.resize(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        m_styles[i] = styleAttribute(numbers[i]);
    }
}

void CellXml::startRow(XmlOut& out, std::int32_t row, double height) {
    m_row.clear();
    appendInteger(m_row, std::int64_t{row} + 1);
    char* at = out.room(64);
    std::memcpy(at, "<row r=\"", 8);
    at += 8;
    std::memcpy(at, m_row.data(), m_row.size());
    at += m_row.size();
    *at++ = '"';
    if (height >= 0) {
        std::memcpy(at, " ht=\"", 5);
        at = formatNumber(at + 5, height);
        std::memcpy(at, "\" customHeight=\"1\"", 18);
        at += 18;
    }
    *at++ = '>';
    out.used(at);
}

char* CellXml::open(XmlOut& out, std::int32_t column, const std::string& style, std::size_t spare) {
    char* at = out.room(32 + m_row.size() + style.size() + spare);
    std::memcpy(at, "<c r=\"", 6);
    at = writeColumnLetters(at + 6, column);
    std::memcpy(at, m_row.data(), m_row.size());
    at += m_row.size();
    *at++ = '"';
    std::memcpy(at, style.data(), style.size());
    return at + style.size();
}

void CellXml::textWith(XmlOut& out, std::int32_t column, const std::string& style,
                       std::string_view text) {
    auto edge = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    const bool preserve = !text.empty() && (edge(text.front()) || edge(text.back()));
    char* at = open(out, column, style, 64 + text.size() * 7);
    constexpr std::string_view kPlain = " t=\"inlineStr\"><is><t>";
    constexpr std::string_view kPreserve = " t=\"inlineStr\"><is><t xml:space=\"preserve\">";
    const std::string_view opening = preserve ? kPreserve : kPlain;
    std::memcpy(at, opening.data(), opening.size());
    at = writeCellText(at + opening.size(), text);
    std::memcpy(at, "</t></is></c>", 13);
    out.used(at + 13);
}

void CellXml::number(XmlOut& out, std::int32_t column, std::uint32_t style,
                     std::string_view digits) {
    char* at = open(out, column, m_styles[style], 16 + digits.size());
    std::memcpy(at, "><v>", 4);
    at += 4;
    std::memcpy(at, digits.data(), digits.size());
    at += digits.size();
    std::memcpy(at, "</v></c>", 8);
    out.used(at + 8);
}

void CellXml::blank(XmlOut& out, std::int32_t column, std::uint32_t style) {
    char* at = open(out, column, m_styles[style], 2);
    std::memcpy(at, "/>", 2);
    out.used(at + 2);
}

std::string SheetHead(const SheetSettings& s) {
    std::string out = kXmlDeclaration;
    out += "<worksheet xmlns=\"";
    out += kMainNamespace;
    out += "\" xmlns:r=\"";
    out += kRelationshipsNamespace;
    out += "\"><dimension ref=\"" + s.dimension + "\"/><sheetViews><sheetView";
    if (s.rightToLeft) {
        out += " rightToLeft=\"1\"";
    }
    if (s.selected) {
        out += " tabSelected=\"1\"";
    }
    out += " workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
    if (!s.widths.empty()) {
        out += "<cols>";
        for (const auto& [column, width] : s.widths) {
            const std::string at = integer(column + 1);
            out += "<col min=\"" + at + "\" max=\"" + at + "\" width=\"" +
                   number(StoredColumnWidth(width)) + "\" customWidth=\"1\"/>";
        }
        out += "</cols>";
    }
    out += "<sheetData>";
    return out;
}

std::string SheetTail(const SheetSettings& s) {
    std::string out = "</sheetData>";
    if (s.password) {
        out += "<sheetProtection";
        if (!s.password->empty()) {
            out += " password=\"" + PasswordHash(*s.password) + "\"";
        }
        out += " sheet=\"1\" objects=\"1\" scenarios=\"1\"/>";
    }
    if (!s.merges.empty()) {
        out += "<mergeCells count=\"" + integer(static_cast<std::int64_t>(s.merges.size())) + "\">";
        for (const Rect& rect : s.merges) {
            out += "<mergeCell ref=\"";
            appendCellReference(out, rect.firstRow, rect.firstColumn);
            out += ':';
            appendCellReference(out, rect.lastRow, rect.lastColumn);
            out += "\"/>";
        }
        out += "</mergeCells>";
    }
    if (!s.links.empty()) {
        out += "<hyperlinks>";
        for (std::size_t i = 0; i < s.links.size(); ++i) {
            out += "<hyperlink ref=\"";
            appendCellReference(out, s.links[i].row, s.links[i].column);
            out += "\" r:id=\"rId" + integer(static_cast<std::int64_t>(i + 1)) + "\"/>";
        }
        out += "</hyperlinks>";
    }
    out +=
        "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
        "footer=\"0.3\"/>";
    if (!s.breaks.empty()) {
        const std::string count = integer(static_cast<std::int64_t>(s.breaks.size()));
        out += "<rowBreaks count=\"" + count + "\" manualBreakCount=\"" + count + "\">";
        for (const std::int32_t row : s.breaks) {
            out += "<brk id=\"" + integer(row) + "\" max=\"16383\" man=\"1\"/>";
        }
        out += "</rowBreaks>";
    }
    if (s.drawing) {
        out +=
            "<drawing r:id=\"rId" + integer(static_cast<std::int64_t>(s.links.size() + 1)) + "\"/>";
    }
    out += "</worksheet>";
    return out;
}

std::string SheetRelationships(const SheetSettings& s, std::int32_t drawingNumber) {
    if (s.links.empty() && !s.drawing) {
        return {};
    }
    std::string out = kXmlDeclaration;
    out += "<Relationships xmlns=\"";
    out += kPackageRelationships;
    out += "\">";
    for (std::size_t i = 0; i < s.links.size(); ++i) {
        out += "<Relationship Id=\"rId" + integer(static_cast<std::int64_t>(i + 1)) + "\" Type=\"" +
               kRelationshipsNamespace + "/hyperlink\" Target=\"";
        appendAttributeText(out, s.links[i].target);
        out += "\" TargetMode=\"External\"/>";
    }
    if (s.drawing) {
        out += "<Relationship Id=\"rId" + integer(static_cast<std::int64_t>(s.links.size() + 1)) +
               "\" Type=\"" + kRelationshipsNamespace + "/drawing\" Target=\"../drawings/drawing" +
               integer(drawingNumber) + ".xml\"/>";
    }
    out += "</Relationships>";
    return out;
}

std::string StylesXml(const StyleTable& styles) {
    struct FontKey {
        std::string name;
        std::int16_t size;
        std::uint8_t bold;
        std::uint8_t link;
        std::int32_t colour;
        bool operator<(const FontKey& o) const {
            return std::tie(name, size, bold, link, colour) <
                   std::tie(o.name, o.size, o.bold, o.link, o.colour);
        }
    };
    std::map<FontKey, std::int32_t> fontIds;
    std::vector<FontKey> fonts;
    std::map<std::int32_t, std::int32_t> fillIds;  // colour to fill, from 2 on
    std::vector<std::int32_t> fills;
    std::map<std::int32_t, std::int32_t> formatIds;  // table format to numFmtId
    std::vector<std::int32_t> formats;
    auto fontOf = [&](const CellStyle& s) {
        FontKey key{s.link != 0 || s.fontName < 0 ? std::string() : styles.name(s.fontName),
                    s.link != 0 ? std::int16_t{0} : s.fontSize,
                    s.link != 0 ? std::uint8_t{0} : s.bold, s.link,
                    s.link != 0 ? -1 : s.fontColour};
        const auto [it, added] = fontIds.try_emplace(key, static_cast<std::int32_t>(fonts.size()));
        if (added) {
            fonts.push_back(key);
        }
        return it->second;
    };
    fontOf(CellStyle{});
    bool links = false;
    std::int32_t linkFont = 0;
    struct Xf {
        std::int32_t format;
        std::int32_t font;
        std::int32_t fill;
        std::int32_t border;
    };
    std::vector<Xf> xfs;
    for (std::uint32_t id = 0; id < styles.size(); ++id) {
        const CellStyle& s = styles.style(id);
        Xf xf{0, fontOf(s), 0, s.link != 0 ? 0 : s.border};
        if (s.link != 0) {
            links = true;
            linkFont = xf.font;
        } else {
            if (s.fill >= 0) {
                const auto [it, added] =
                    fillIds.try_emplace(s.fill, static_cast<std::int32_t>(fills.size()) + 2);
                if (added) {
                    fills.push_back(s.fill);
                }
                xf.fill = it->second;
            }
            if (s.numberFormat >= 0) {
                const auto [it, added] = formatIds.try_emplace(
                    s.numberFormat, static_cast<std::int32_t>(formats.size()) + kFirstCustomFormat);
                if (added) {
                    formats.push_back(s.numberFormat);
                }
                xf.format = it->second;
            }
        }
        xfs.push_back(xf);
    }
    std::string out = kXmlDeclaration;
    out += "<styleSheet xmlns=\"";
    out += kMainNamespace;
    out += "\">";
    if (!formats.empty()) {
        out += "<numFmts count=\"" + integer(static_cast<std::int64_t>(formats.size())) + "\">";
        for (std::size_t i = 0; i < formats.size(); ++i) {
            out += "<numFmt numFmtId=\"" +
                   integer(static_cast<std::int64_t>(i) + kFirstCustomFormat) + "\" formatCode=\"";
            appendAttributeText(out, styles.format(formats[i]));
            out += "\"/>";
        }
        out += "</numFmts>";
    }
    out += "<fonts count=\"" + integer(static_cast<std::int64_t>(fonts.size())) + "\">";
    for (const FontKey& f : fonts) {
        out += "<font>";
        if (f.link != 0) {
            out +=
                "<u/><sz val=\"11\"/><color theme=\"10\"/><name val=\"Calibri\"/><family "
                "val=\"2\"/></font>";
            continue;
        }
        if (f.bold != 0) {
            out += "<b/>";
        }
        out += "<sz val=\"" + integer(f.size > 0 ? f.size : 11) + "\"/>";
        // Black is the colour a font has when none is given.
        out += f.colour >= 0 ? "<color rgb=\"" + hexColour(f.colour) + "\"/>"
                             : std::string("<color theme=\"1\"/>");
        out += "<name val=\"";
        appendAttributeText(out, f.name.empty() ? kDefaultFontName : f.name);
        out += "\"/><family val=\"2\"/>";
        if (f.name.empty()) {
            out += "<scheme val=\"minor\"/>";
        }
        out += "</font>";
    }
    out += "</fonts><fills count=\"" + integer(static_cast<std::int64_t>(fills.size()) + 2) +
           "\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
           "patternType=\"gray125\"/></fill>";
    for (const std::int32_t colour : fills) {
        out += "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"" + hexColour(colour) +
               "\"/><bgColor indexed=\"64\"/></patternFill></fill>";
    }
    out +=
        "</fills><borders count=\"2\"><border><left/><right/><top/><bottom/><diagonal/></border>"
        "<border><left style=\"thin\"><color auto=\"1\"/></left><right style=\"thin\"><color "
        "auto=\"1\"/></right><top style=\"thin\"><color auto=\"1\"/></top><bottom "
        "style=\"thin\"><color auto=\"1\"/></bottom><diagonal/></border></borders>";
    out += "<cellStyleXfs count=\"" + std::string(links ? "2" : "1") +
           "\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>";
    if (links) {
        out += "<xf numFmtId=\"0\" fontId=\"" + integer(linkFont) +
               "\" fillId=\"0\" borderId=\"0\" applyNumberFormat=\"0\" applyFill=\"0\" "
               "applyBorder=\"0\" applyAlignment=\"0\" applyProtection=\"0\"><alignment "
               "vertical=\"top\"/><protection locked=\"0\"/></xf>";
    }
    out +=
        "</cellStyleXfs><cellXfs count=\"" + integer(static_cast<std::int64_t>(xfs.size())) + "\">";
    for (std::uint32_t id = 0; id < xfs.size(); ++id) {
        const CellStyle& s = styles.style(id);
        const Xf& xf = xfs[id];
        out += "<xf numFmtId=\"" + integer(xf.format) + "\" fontId=\"" + integer(xf.font) +
               "\" fillId=\"" + integer(xf.fill) + "\" borderId=\"" + integer(xf.border) +
               "\" xfId=\"" + (s.link != 0 ? "1" : "0") + "\"";
        if (s.link != 0) {
            out += " applyAlignment=\"1\" applyProtection=\"1\"/>";
            continue;
        }
        const bool alignment = s.alignment != 0 || s.wrap != 0;
        out += xf.format != 0 ? " applyNumberFormat=\"1\"" : "";
        out += xf.font != 0 ? " applyFont=\"1\"" : "";
        out += xf.fill != 0 ? " applyFill=\"1\"" : "";
        out += xf.border != 0 ? " applyBorder=\"1\"" : "";
        if (!alignment) {
            out += "/>";
            continue;
        }
        out += " applyAlignment=\"1\"><alignment";
        static constexpr const char* kHorizontal[] = {"", "", "left", "center", "right"};
        if (s.alignment >= 2 && s.alignment <= 4) {
            out += std::string(" horizontal=\"") + kHorizontal[s.alignment] + "\"";
        }
        if (s.wrap != 0) {
            out += " wrapText=\"1\"";
        }
        out += "/></xf>";
    }
    out += "</cellXfs><cellStyles count=\"" + std::string(links ? "2" : "1") + "\">";
    if (links) {
        out += "<cellStyle name=\"Hyperlink\" xfId=\"1\" builtinId=\"8\"/>";
    }
    out +=
        "<cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles><dxfs "
        "count=\"0\"/><tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium9\" "
        "defaultPivotStyle=\"PivotStyleLight16\"/></styleSheet>";
    return out;
}

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

std::string DrawingXml(const std::vector<SheetPicture>& pictures,
                       const std::vector<std::pair<std::int32_t, double>>& widths,
                       const std::vector<std::pair<std::int32_t, double>>& heights) {
    const std::map<std::int32_t, double> widthOf(widths.begin(), widths.end());
    const std::map<std::int32_t, double> heightOf(heights.begin(), heights.end());
    auto columnWidth = [&](std::int32_t c) {
        const auto it = widthOf.find(c);
        return columnPixels(it == widthOf.end() ? kDefaultColumnWidth : it->second);
    };
    auto rowHeight = [&](std::int32_t r) {
        const auto it = heightOf.find(r);
        return static_cast<std::int32_t>(
            (it == heightOf.end() ? kDefaultRowHeight : it->second) * 4 / 3 + 0.5);
    };
    // The pixel where cell (row, column) starts, and the cell and offset where a length ends.
    auto start = [](std::int32_t first, const auto& size) {
        std::int64_t at = 0;
        for (std::int32_t i = 0; i < first; ++i) {
            at += size(i);
        }
        return at;
    };
    auto end = [](std::int32_t first, double length, const auto& size, std::int32_t& cell,
                  double& offset) {
        cell = first;
        while (length >= size(cell) && size(cell) > 0) {
            length -= size(cell);
            ++cell;
        }
        offset = length;
    };
    std::string out = kXmlDeclaration;
    out +=
        "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/"
        "spreadsheetDrawing\" xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">";
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const SheetPicture& p = pictures[i];
        // Points at 96 pixels an inch.
        const double width = p.width * 96 / 72;
        const double height = p.height * 96 / 72;
        std::int32_t toColumn = 0;
        std::int32_t toRow = 0;
        double columnOffset = 0;
        double rowOffset = 0;
        end(p.column, width, columnWidth, toColumn, columnOffset);
        end(p.row, height, rowHeight, toRow, rowOffset);
        const std::string n = integer(static_cast<std::int64_t>(i + 1));
        out += "<xdr:twoCellAnchor editAs=\"oneCell\"><xdr:from><xdr:col>" + integer(p.column) +
               "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" + integer(p.row) +
               "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>" +
               integer(toColumn) + "</xdr:col><xdr:colOff>" +
               integer(std::llround(columnOffset * kEmuPerPixel)) + "</xdr:colOff><xdr:row>" +
               integer(toRow) + "</xdr:row><xdr:rowOff>" +
               integer(std::llround(rowOffset * kEmuPerPixel)) +
               "</xdr:rowOff></xdr:to><xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"" +
               integer(static_cast<std::int64_t>(i + 2)) + "\" name=\"Picture " + n + "\" descr=\"";
        const auto slash = p.path.rfind('/');
        appendAttributeText(out, slash == std::string::npos ? p.path : p.path.substr(slash + 1));
        out +=
            "\"/><xdr:cNvPicPr><a:picLocks noChangeAspect=\"1\"/></xdr:cNvPicPr></xdr:nvPicPr>"
            "<xdr:blipFill><a:blip xmlns:r=\"";
        out += kRelationshipsNamespace;
        out += "\" r:embed=\"rId" + n +
               "\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill><xdr:spPr><a:xfrm><a:off "
               "x=\"" +
               integer(
                   std::llround(static_cast<double>(start(p.column, columnWidth)) * kEmuPerPixel)) +
               "\" y=\"" +
               integer(std::llround(static_cast<double>(start(p.row, rowHeight)) * kEmuPerPixel)) +
               "\"/><a:ext cx=\"" + integer(std::llround(width * kEmuPerPixel)) + "\" cy=\"" +
               integer(std::llround(height * kEmuPerPixel)) +
               "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr>"
               "</xdr:pic><xdr:clientData/></xdr:twoCellAnchor>";
    }
    out += "</xdr:wsDr>";
    return out;
}

std::string DrawingRelationships(const std::vector<std::string>& media) {
    std::string out = kXmlDeclaration;
    out += "<Relationships xmlns=\"";
    out += kPackageRelationships;
    out += "\">";
    for (std::size_t i = 0; i < media.size(); ++i) {
        out += "<Relationship Id=\"rId" + integer(static_cast<std::int64_t>(i + 1)) + "\" Type=\"" +
               kRelationshipsNamespace + "/image\" Target=\"../media/" + media[i] + "\"/>";
    }
    out += "</Relationships>";
    return out;
}

std::optional<std::string> PictureKind(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[4] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    if (in.gcount() < 2) {
        return std::nullopt;
    }
    if (std::memcmp(head, "\x89PNG", 4) == 0) {
        return "png";
    }
    if (std::memcmp(head, "GIF", 3) == 0) {
        return "gif";
    }
    if (head[0] == 'B' && head[1] == 'M') {
        return "bmp";
    }
    if (head[0] == 0xFF && head[1] == 0xD8) {
        return "jpeg";
    }
    return std::nullopt;
}

}  // namespace paginor::xlsx
