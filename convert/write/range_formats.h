#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "convert/write/excel_automation.h"

namespace paginor {

// Pending format lists of the workbook writer: the cells of each format value are gathered into
// union-range texts ("B3:B9,D4"), vertical neighbours joined, and applied a chunk at a time.
// An empty reference flushes the kind: every list of it is applied and emptied. A sheet that takes
// formats at once gets each one when it is added.
class CRangeFormatLists {
public:
    static constexpr std::int32_t kDefaultRangeListLimit = 250;

    // Empties every list; the separator becomes ','.
    void Reset();

    char listSeparator() const { return m_separator; }
    void setListSeparator(char separator) { m_separator = separator; }
    // The longest chunk applied in one call; 1 applies every list whole.
    std::int32_t rangeListLimit() const { return m_limit; }
    void setRangeListLimit(std::int32_t limit) { m_limit = limit; }

    void AddBoldRange(std::string_view reference, ExcelWorksheet& sheet);
    void AddAlignmentRange(std::string_view reference, std::int32_t alignment,
                           ExcelWorksheet& sheet);
    void AddFontSizeRange(std::string_view reference, std::int16_t size, ExcelWorksheet& sheet);
    void AddFontColorRange(std::string_view reference, std::int32_t colour, ExcelWorksheet& sheet);
    void AddFontNameRange(std::string_view reference, const std::string& name,
                          ExcelWorksheet& sheet);
    void AddInteriorColorRange(std::string_view reference, std::int32_t colour,
                               ExcelWorksheet& sheet);
    void FlushPendingFormats(ExcelWorksheet& sheet);

    // Appends a cell or a rectangle, joining a cell with the items just above and below it in
    // its column.
    void AddCellToRangeList(std::string_view reference, std::string& list) const;
    // Cuts the next chunk off list.
    std::string TakeRangeChunk(std::string& list) const;

private:
    // pending gives the list of the value, made on first use.
    template <typename List, typename Apply>
    void add(std::string_view reference, const List& pending, ExcelWorksheet& sheet,
             const Apply& apply);
    template <typename Apply>
    void flush(std::string& list, ExcelWorksheet& sheet, const Apply& apply);

    char m_separator = ',';
    std::int32_t m_limit = kDefaultRangeListLimit;
    std::string m_bold;
    std::string m_alignment[3];  // left, centre, right
    std::map<std::int16_t, std::string> m_fontSizes;
    std::map<std::int32_t, std::string> m_fontColours;
    std::map<std::string, std::string> m_fontNames;
    std::map<std::int32_t, std::string> m_interiorColours;
};

}  // namespace paginor
