#pragma once

// The parts of an Office Open XML workbook package (ECMA-376, SpreadsheetML), as text:
// cells and rows, styles, sheet heads and tails, the workbook and its relationships, drawings.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/write/xlsx_model.h"

namespace paginor::xlsx {

// "B3" for row 2 and column 1, both 0-based.
void appendCellReference(std::string& out, std::int32_t row, std::int32_t column);
// The column's letters at to (room for three); returns the end.
char* writeColumnLetters(char* to, std::int32_t column);
// Text as element content: '&', '<' and '>' as entities; characters XML cannot hold, and texts that
// would read as such an escape, as _xHHHH_ escapes. Room for 7 bytes a byte of text at to;
// returns the end.
char* writeCellText(char* to, std::string_view text);

// Text built front to back in room taken ahead, for many small pieces.
class XmlOut {
public:
    // Room for n bytes at the end: write them there, then give the end to used().
    char* room(std::size_t n) {
        if (m_size + n > m_buffer.size()) {
            m_buffer.resize(std::max(m_buffer.size() * 2, m_size + n + 65536));
        }
        return m_buffer.data() + m_size;
    }
    void used(const char* end) { m_size = static_cast<std::size_t>(end - m_buffer.data()); }
    void append(std::string_view text) {
        std::memcpy(room(text.size()), text.data(), text.size());
        m_size += text.size();
    }
    void clear() { m_size = 0; }
    std::string_view view() const { return {m_buffer.data(), m_size}; }

private:
    std::vector<char> m_buffer;
    std::size_t m_size = 0;
};
// Text inside an attribute's double quotes.
void appendAttributeText(std::string& out, std::string_view text);
// The shortest text that reads back as the same number, without an exponent where a few decimals
// say it; at least 32 bytes at to. Returns the end.
char* formatNumber(char* to, double value);
void appendNumber(std::string& out, double value);
void appendInteger(std::string& out, std::int64_t value);

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

struct SheetPicture {
    std::int32_t row;
    std::int32_t column;
    std::string path;
    double height;  // points
    double width;
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

// styles.xml: cell format i is the table's style i.
std::string StylesXml(const StyleTable& styles);
std::string ThemeXml();
std::string WorkbookXml(const std::vector<std::string>& sheets, std::size_t active);
std::string WorkbookRelationships(std::size_t sheets);
std::string PackageRelationships();
std::string ContentTypes(std::size_t sheets, const std::vector<std::int32_t>& drawings,
                         const std::vector<std::string>& extensions);
std::string AppProperties(const std::vector<std::string>& sheets);
std::string CoreProperties(std::time_t created);
// A drawing of the pictures at their cells, picture i shown from relationship rId<i + 1>;
// widths and heights are the sheet's own, in characters and points.
std::string DrawingXml(const std::vector<SheetPicture>& pictures,
                       const std::vector<std::pair<std::int32_t, double>>& widths,
                       const std::vector<std::pair<std::int32_t, double>>& heights);
// Relationship rId<i + 1> names media[i], a part name under xl/media/.
std::string DrawingRelationships(const std::vector<std::string>& media);

// The part name extension of the picture the file holds, by its first bytes; nullopt for none of
// PNG, GIF, BMP and JPEG.
std::optional<std::string> PictureKind(const std::string& path);

}  // namespace paginor::xlsx
