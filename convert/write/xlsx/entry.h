#pragma once

// How the workbook takes what the writer hands it: cell references and ranges, texts entered as
// a user of the en-US locale types them, colours, and the size of pictures.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace paginor::xlsx {

constexpr std::int32_t kMaxRows = 1048576;
constexpr std::int32_t kMaxColumns = 16384;
constexpr std::size_t kMaxSignificantDigits = 15;

enum class CellType : std::uint8_t { Blank, Text, Number };

struct Rect {
    std::int32_t firstRow;  // 0-based
    std::int32_t firstColumn;
    std::int32_t lastRow;
    std::int32_t lastColumn;
};

// The rectangles of a range: one held in place, as most ranges are, more on the heap.
class RectList {
public:
    void push_back(const Rect& rect) {
        if (m_count == 1) {
            m_many.assign(1, m_one);
        }
        if (m_count == 0) {
            m_one = rect;
        } else {
            m_many.push_back(rect);
        }
        ++m_count;
    }
    const Rect* begin() const { return m_count <= 1 ? &m_one : m_many.data(); }
    const Rect* end() const { return begin() + m_count; }
    const Rect& front() const { return *begin(); }
    bool empty() const { return m_count == 0; }

private:
    Rect m_one{};
    std::vector<Rect> m_many;
    std::size_t m_count = 0;
};

struct Entry {
    CellType type = CellType::Text;
    double number = 0;
    const char* format = nullptr;  // applied when the cell has no number format
};

// 0x00BBGGRR to 0xRRGGBB.
std::int32_t toRgb(std::int32_t bgr);
// "B3" as a 0-based row and column; false past the sheet's limits.
bool parseCell(std::string_view text, std::int32_t& row, std::int32_t& column);
// "A1", "A1:B2" or a union of them joined by ',' or ';'; throws AutomationError when a part
// does not parse.
RectList parseRange(std::string_view text);
// The serial number of a date, none when the date does not exist.
std::optional<double> serialDate(int year, int month, int day);
// A text entered as a user of the en-US locale types it: numbers with ',' thousands, '.', '$',
// '-', parentheses and '%'; m/d/yyyy dates. A leading '=' is never a formula, and more than 15
// significant digits stay text.
Entry enterText(std::string_view text);
// The bytes a picture's kind and size are read from, at most kPictureHead from its start; false
// for a file that is not a regular one (a FIFO, a device, a folder), which is never waited for.
inline constexpr std::size_t kPictureHead = 64 * 1024;
bool readPictureHead(const std::string& path, std::string& head);
// Pixel size of a PNG, GIF, BMP or JPEG picture from its first bytes.
bool imageSize(std::string_view head, double& width, double& height);

}  // namespace paginor::xlsx
