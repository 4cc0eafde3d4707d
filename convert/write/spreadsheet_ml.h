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
#include "convert/write/batch_marks.h"
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

// Style bodies numbered in the order of their first use.
class StyleTable {
public:
    // The body's number, from 0.
    std::int32_t Add(const std::string& body);
    const std::vector<std::string>& bodies() const { return m_bodies; }

private:
    std::unordered_map<std::string, std::int32_t> m_numbers;
    std::vector<std::string> m_bodies;
};

// What the cells of every batch of an export are written with.
struct SpreadsheetMLCellSettings {
    std::int32_t codePage = 0;
    bool keepNumbersAsText = false;
    bool convertDates = false;
    std::int32_t reportFormat = 0;
};

// A batch's pages as Row elements, made before the batches ahead of it are placed (possibly on
// another thread). Row numbers and style identifiers depend on those batches: they stand as
// marks beside the text, resolved when the writer places the batch.
struct SpreadsheetMLBatch {
    struct Page {
        std::int32_t rows = 0;
        MarkedText xml;
    };
    std::vector<Page> pages;
    std::int32_t columns = 0;
    std::vector<std::string> styleBodies;  // by the marks' numbers
    // The conventions decided before the batch, as the batch was made, and after it.
    tagCellDetectOptions assumed;
    tagCellDetectOptions decided;
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
    // reference pages. The same as LearnConventions, MakeBatch and WriteBatch in turn.
    void WriteTable(std::int32_t firstPageNumber, bool skipFirstPage, bool skipLastPage,
                    std::int32_t pageCount, std::int32_t columnCount,
                    const tagOutputPageInfo* pages, std::time_t* timeOut, std::int32_t recordCount);

    // Learns what conventions leaves undecided from the first cells of the batch that reveal it;
    // what the batch does not reveal stays undecided for the batches after it. False when the
    // batch has no pages (nothing is learned).
    static bool LearnConventions(tagCellDetectOptions& conventions, bool skipFirstPage,
                                 bool skipLastPage, std::int32_t pageCount,
                                 const tagOutputPageInfo* pages, std::int32_t recordCount);
    SpreadsheetMLCellSettings cellSettings() const;
    // Makes the Row elements of one batch (arguments as WriteTable's); touches no writer state.
    // assumed holds the conventions decided before the batch, decided those after it (assumed
    // and what the batch's cells decide); the cells are read with decided, defaults for the rest.
    static void MakeBatch(const SpreadsheetMLCellSettings& settings,
                          const tagCellDetectOptions& assumed, const tagCellDetectOptions& decided,
                          std::int32_t firstPageNumber, bool skipFirstPage, bool skipLastPage,
                          std::int32_t pageCount, std::int32_t columnCount,
                          const tagOutputPageInfo* pages, std::int32_t recordCount,
                          SpreadsheetMLBatch& batch);
    // Whether the batch was made with the conventions the batches placed so far decided.
    bool Accepts(const SpreadsheetMLBatch& batch) const;
    // Places a made batch after the batches placed before it; its conventions hold from then on.
    void WriteBatch(const SpreadsheetMLBatch& batch, std::time_t* timeOut);
    // The conventions the batches placed so far decided.
    const tagCellDetectOptions& conventions() const { return m_conventions; }

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

private:
    void spillRows(tagSheetInfo& sheet);

    std::int32_t m_codePage;
    std::vector<tagSheetInfo> m_sheets;
    mutable SpillFile m_spill{"rows"};  // reading back moves its file position
    std::int32_t m_rowsWritten = kRowsPerWorksheet + 1;
    std::int32_t m_rowsPerWorksheet = kRowsPerWorksheet;
    StyleTable m_styles;
    std::vector<std::int32_t> m_batchStyles;  // a batch's style marks to this table's numbers
    tagCellDetectOptions m_conventions;
    bool m_convertDates;
    bool m_keepNumbersAsText;
    std::int32_t m_reportFormat;
};

}  // namespace paginor
