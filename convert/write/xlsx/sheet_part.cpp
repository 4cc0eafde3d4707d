#include "convert/write/xlsx/sheet_part.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace paginor::xlsx {

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

}  // namespace paginor::xlsx
