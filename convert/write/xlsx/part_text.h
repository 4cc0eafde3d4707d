#pragma once

// The text every part of an Office Open XML workbook package (ECMA-376, SpreadsheetML) is made
// of: the XML declaration and namespaces, numbers, cell references, and texts in elements and
// attributes.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace paginor::xlsx {

inline constexpr const char* kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
inline constexpr const char* kMainNamespace =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr const char* kRelationshipsNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr const char* kPackageRelationships =
    "http://schemas.openxmlformats.org/package/2006/relationships";

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

// The number and the integer as text.
std::string number(double value);
std::string integer(std::int64_t value);
// The pixels a column of width characters takes.
std::int32_t columnPixels(double width);

}  // namespace paginor::xlsx
