#pragma once

// A worksheet part: its rows of cells as <c> elements, what its XML states before and after the
// rows, and its relationships.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/write/xlsx/model.h"
#include "convert/write/xlsx/part_text.h"

namespace paginor::xlsx {

// The width a column of width characters is stored with: whole pixels of the default font.
double StoredColumnWidth(double width);
// The sheet protection's 16-bit password hash, as four hexadecimal digits.
std::string PasswordHash(std::string_view password);

// Writes cells as <c> elements, each style as the workbook numbers it.
class CellXml {
public:
    // numbers[i] is the workbook's number of the rows' style i.
    void setStyles(const std::vector<std::uint32_t>& numbers);
    // The attribute that gives a cell the style the workbook numbers number.
    static std::string styleAttribute(std::uint32_t number);
    void startRow(XmlOut& out, std::int32_t row, double height);
    static void endRow(XmlOut& out) { out.append("</row>"); }
    void text(XmlOut& out, std::int32_t column, std::uint32_t style, std::string_view text) {
        textWith(out, column, m_styles[style], text);
    }
    // A number in its text.
    void number(XmlOut& out, std::int32_t column, std::uint32_t style, std::string_view digits);
    void blank(XmlOut& out, std::int32_t column, std::uint32_t style);
    // A text with the style attribute given.
    void textWith(XmlOut& out, std::int32_t column, const std::string& style,
                  std::string_view text);

private:
    // Room for the cell, with bytes to spare after its opening.
    char* open(XmlOut& out, std::int32_t column, const std::string& style, std::size_t spare);

    std::vector<std::string> m_styles;  // ' s="n"', or empty for the default
    std::string m_row;                  // the row's number
};

struct SheetLink {
    std::int32_t row;
    std::int32_t column;
    std::string target;  // a web or mail address, or "file:" and a local path
};

// What a sheet's XML states before and after its rows.
struct SheetSettings {
    std::string dimension = "A1";
    bool rightToLeft = false;
    bool selected = false;
    std::vector<std::pair<std::int32_t, double>> widths;  // column, width in characters
    std::optional<std::string> password;
    std::vector<Rect> merges;
    std::vector<SheetLink> links;
    std::vector<std::int32_t> breaks;  // rows above which a page starts, 0-based
    bool drawing = false;
};

std::string SheetHead(const SheetSettings& settings);
std::string SheetTail(const SheetSettings& settings);
// The sheet's relationships: its links from rId1 on, then its drawing; empty for none.
std::string SheetRelationships(const SheetSettings& settings, std::int32_t drawingNumber);
}  // namespace paginor::xlsx
