#pragma once

// Tag and attribute scanning of HTML report pages. Ranges are half-open: [start, end). Names
// compare ignoring ASCII case. Nothing here writes into the text.

#include <cstdint>
#include <string_view>

namespace paginor {

// lt points at '<': whether the tag there is `name` ("tr", "/tr" ...), the name followed by '>',
// a blank, TAB, '/' or the end of the range.
bool IsTagNamed(const char* lt, const char* end, std::string_view name);

// The first opening of tag `name` in the range, null when none.
const char* FindOpenTag(const char* start, const char* end, std::string_view name);

// The '>' that ends the tag opened at lt, null when the range ends first.
const char* FindTagClose(const char* lt, const char* end);

// The '<' of the "</table" that closes the table opened at `open`, counting nested tables and
// skipping comments; null when the table never closes.
const char* FindTableClose(const char* open, const char* end);

struct TagAttribute {
    std::string_view value;  // as written, without its quotes
    char quote = 0;          // '"' or '\'' around the value, 0 for none
    bool closed = true;      // a quoted value found its closing quote before the tag's end
};

// Attribute `name` of the tag opened at tagStart ('<') and ending at tagEnd (its '>'), read as
// HTML reads attributes: name = "value", 'value' or value up to a blank; the first of equal names
// counts. False when absent; a name without a value gives an empty one.
bool FindAttribute(const char* tagStart, const char* tagEnd, std::string_view name,
                   TagAttribute* attribute);
bool FindAttribute(const char* tagStart, const char* tagEnd, std::string_view name,
                   std::string_view* value);

// All digits: the value, saturated at `limit`; otherwise -1.
std::int32_t ParseDigits(std::string_view text, std::int32_t limit);

struct CellSpanAlign {
    std::int32_t rowSpan = 1;
    std::int32_t columnSpan = 1;
    std::int32_t alignment = 0;
};

// rowspan, colspan and align of a cell tag; the align sides swap in a right-to-left report.
CellSpanAlign ParseCellSpanAlign(const char* tagStart, const char* tagEnd, bool rightToLeft);

// The width attribute in units, -1 when absent or not a number. A percentage sets *percent and
// gives its digits.
std::int32_t ParseWidthAttribute(const char* tagStart, const char* tagEnd, bool* percent = nullptr);

enum class ImageParse { None, Found, BadWidth, BadHeight };

struct ImageInfo {
    std::string_view source;
    std::int32_t widthTenths = 0;  // tenths of a point; a pixel is three quarters of a point
    std::int32_t heightTenths = 0;
};

// The first "<img " of the range that has a src attribute.
ImageParse ParseImgTag(const char* start, const char* end, ImageInfo* image);

// Counts the occurrences of keyword in the range (ASCII case-insensitive, overlapping ones
// included) and returns the first; the count stops at limit (-1 counts all).
const char* FindNoCaseInRangeLen(const char* start, const char* end, std::string_view keyword,
                                 std::int32_t* count, std::int32_t limit);

}  // namespace paginor
