#pragma once

#include <cstdio>
#include <memory>
#include <utility>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "convert/convert_types.h"
#include "convert/write/cell_value.h"
#include "convert/write/spill_file.h"

namespace paginor {

// Text made XML-safe: '&', '<', '>' and '"' as entities, every code point from 127 up as one
// decimal reference, control characters XML forbids dropped. out receives plain ASCII.
void appendXmlText(std::string& out, std::u16string_view text);
// A number in XML, independent of the locale.
void appendXmlNumber(std::string& out, std::int64_t value);
// "s%d".
std::string FormatStyleId(std::int32_t number);

struct tagSheetInfo {
    std::int32_t rowCount = 0;
    std::int32_t columnCount = 0;
    // The sheet's Row elements: the pieces moved out to the spill file (offset, length), in
    // order, then the rest in memory.
    SpilledPieces spilled;
    std::string rows;
};

// Writes the pages of an export as one Excel 2003 XML workbook. The sheets are kept until the end
// because each sheet's head states its row count; their rows go to an unnamed temporary file as
// they grow, so memory stays that of one batch however long the report is.
class CSpreadsheetMLWriter {
public:
    static constexpr std::int32_t kRowsPerWorksheet = 65535;

    // codePage is the report's: cell texts and font names are converted from it.
    CSpreadsheetMLWriter(std::int32_t codePage, bool keepNumbersAsText, bool convertDates,
                         std::int32_t reportFormat);

    // Places the pages of one batch; pages holds pageCount entries over records (recordCount in
    // all, each page's records pointing at the batch's first). The skip flags leave out the batch's
    // reference pages.
    void WriteTable(std::int32_t firstPageNumber, bool skipFirstPage, bool skipLastPage,
                    std::int32_t pageCount, std::int32_t columnCount,
                    const tagOutputPageInfo* pages, std::time_t* timeOut, std::int32_t recordCount);

    // The whole document in pieces to sink; created is the local time the header states.
    void WriteWorkbook(const std::function<void(std::string_view)>& sink, bool rightToLeft,
                       const std::tm& created) const;

    // The identifier of the cell's style; numberFormat may be null.
    std::string GetStyleId(const tagOutputCellInfo& cell, const char* numberFormat);
    // Text of the report's code page made XML-safe, numeric character references decoded.
    void EscapeText(std::string& out, std::string_view text) const;
    // A cell's text into a sheet's rows, made XML-safe the same way.
    void WriteEscapedText(std::string& rows, std::string_view text) const;

    const std::vector<tagSheetInfo>& sheets() const { return m_sheets; }
    const CCellValueDetector& detector() const { return m_detector; }

private:
    void writeCell(std::string& out, const tagOutputCellInfo& cell, std::string_view text,
                   std::int32_t column, bool indexed, std::int32_t pageNumber);

    void spillRows(tagSheetInfo& sheet);

    std::int32_t m_codePage;
    std::vector<tagSheetInfo> m_sheets;
    mutable SpillFile m_spill{"rows"};  // reading back moves its file position
    std::int32_t m_rowsWritten = kRowsPerWorksheet + 1;
    std::int32_t m_rowsPerWorksheet = kRowsPerWorksheet;
    std::unordered_map<std::string, std::int32_t> m_styleIds;
    std::vector<std::string> m_styleBodies;  // in identifier order
    CCellValueDetector m_detector;
    bool m_convertDates;
    bool m_keepNumbersAsText;
    std::int32_t m_reportFormat;
};

}  // namespace paginor
