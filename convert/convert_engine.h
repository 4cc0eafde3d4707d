#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_errors.h"
#include "convert/convert_types.h"

namespace paginor {

class BoxReader;
class CReportCore;
class CellGrid;
class FrameStore;
class LayoutTree;
struct tagDivInfo;
struct tagFrameInfo;
class StyleSheet;
class TextMeasurer;

inline constexpr std::int32_t kFormatHtmlCss = 1;
inline constexpr std::int32_t kFormatHtml = 2;

inline constexpr std::int32_t kOutputDelimited = 0;
inline constexpr std::int32_t kOutputRecords = 1;
// Records with one for every frame grid position, so that a writer borders every cell of a frame.
inline constexpr std::int32_t kOutputRecordsSml = 2;

inline constexpr std::int32_t kEngineNumber = 102;
inline constexpr std::size_t kMessageTextSize = 1024;  // the engine's own message text
inline constexpr std::size_t kStepBufferSize = 512;
inline constexpr std::size_t kTextBufferBytes = 65536;
inline constexpr std::size_t kTextBufferFill = 65526;  // a text must end below this position
inline constexpr std::size_t kFontNameCapacity = 128;
inline constexpr std::size_t kFontSizeCapacity = 64;
inline constexpr std::int32_t kMaxTableWidth = 1000000;  // widest table the column map takes
inline constexpr std::int32_t kMaxLinkLength = 511;

// Capacities that a test may shrink; the defaults are the engine's own.
struct EngineLimits {
    std::size_t textBuffers = 128;
    std::size_t pieces = 95 * 2048;
};

// The band of a page between the top of its topmost wide frame and the bottom of its lowest,
// in tenths of a point; absent on a page without one.
struct tagPageBody {
    bool present = false;
    std::int64_t top = 0;
    std::int64_t bottom = 0;
};

// The text of a cell or box: in the input when it needs no rewriting, else in a cell-text
// buffer (text, NUL, for kind 3 the link target, NUL); for an image its source.
struct tagCellContent {
    const char* text = nullptr;
    std::int32_t length = 0;
    std::int32_t kind = kKindText;
    std::int32_t imageWidth = 0;  // tenths of a point, 0 when the tag gives none
    std::int32_t imageHeight = 0;
};

// Turns the HTML of a batch of report pages into a grid of cells, then into output records or
// delimited text. One object serves one conversion; its buffers are reused batch after batch.
class CConvertEngine {
public:
    explicit CConvertEngine(const EngineLimits& limits = {});
    ~CConvertEngine();
    CConvertEngine(const CConvertEngine&) = delete;
    CConvertEngine& operator=(const CConvertEngine&) = delete;

    // report may be null (the engine only reads it); format 1 HTMLCSS or 2 HTML.
    void Init(CReportCore* report, std::int32_t format, const char* head, std::int64_t headLength,
              bool rightToLeft);

    // One batch. output receives a `const char*` (kind 0) or a `const tagOutputCellInfo*`
    // (kinds 1, 2). Page offsets are the pages' starts within input. Throws ConvertError.
    bool GetCSVOutput104(const char* input, std::int64_t inputLength,
                         const std::int64_t* pageOffsets, std::int32_t pageCount,
                         const void** output, std::int64_t* textLength, std::int32_t* outputColumns,
                         std::int32_t* recordCount, std::int32_t outputKind,
                         std::uint8_t* colourFlag, bool fontFlag, tagOutputBatchInfo* batch,
                         bool pageBreakLines, bool keepFirstPage, bool keepLastPage,
                         std::uint8_t* driverFlag, std::int32_t engineNumber,
                         bool headerFooterRemoval, std::int32_t firstPageIndex, bool lastBatch,
                         bool dropEmptyTexts, bool reserved, std::string* stepBuffer);

    // The message of the stored code, at most size - 1 bytes; returns the code.
    std::int32_t GetErrorText(std::string& text, std::size_t size = kMessageTextSize) const;
    std::int32_t SetError(std::int32_t code);
    std::int32_t SetOwnError(std::string_view message);
    std::int32_t SetSystemError(int errorNumber);
    // Store the code (raiseOwn: -1 with the message) and throw ConvertError with the message.
    [[noreturn]] void raise(std::int32_t code);
    [[noreturn]] void raiseOwn(std::string_view message);
    void Free();

    std::int32_t errorCode() const { return m_errorCode; }
    // Cell-text buffers allocated so far (reused across batches).
    std::size_t textBuffersAllocated() const;

    // Whether HTMLCSS batches may still take the frame road: a batch that falls back to the grid
    // road turns it off for the rest of the conversion. An engine that converts a later batch
    // before the earlier ones are done is told the state the batch starts from.
    bool frameEngineAllowed() const { return m_frameEngineAllowed; }
    void setFrameEngineAllowed(bool allowed) { m_frameEngineAllowed = allowed; }
    // Whether the last batch tried the frame road, so that its result depends on that state.
    bool frameRoadTried() const { return m_frameRoadTried; }

    // The grid of the last batch, row-major; valid until the next batch.
    std::int32_t columnCount() const { return m_columnCount; }
    std::int32_t rowCount() const { return m_rowCount; }
    const tagGridCell& cell(std::int32_t row, std::int32_t column) const {
        return m_grid[static_cast<std::size_t>(row) * m_columnCount + column];
    }
    const tagGridRowInfo& rowInfo(std::int32_t row) const { return m_rows[row]; }
    std::int32_t ordinalLimit() const { return m_outputColumnCount; }

    // Font tables of the batch.
    const char* InternFontName(std::string_view name);
    void CountFontSize(std::int32_t size);
    void GetDominantFont(tagOutputBatchInfo* batch) const;

private:
    friend class BoxReader;
    friend class CellGrid;
    friend class HtmlTableReader;
    friend class ColumnOptimiser;
    friend class SideBySideLayout;
    friend class LayoutTree;
    friend struct EngineTestAccess;

    void trace(const char* step);

    // Pools and tables.
    void NewTextBuffer(std::size_t needed);
    // Copies text into the current cell-text buffer, then a NUL, then link and a NUL when given.
    const char* StoreText(std::string_view text, std::string_view link);
    void AllocGrid(std::int32_t rows, std::int32_t columns);
    void CountRowCells();
    void CountColumnCells();
    tagGridCell& at(std::int32_t row, std::int32_t column) {
        return m_grid[static_cast<std::size_t>(row) * m_columnCount + column];
    }
    void GetInputTableRange(const char* input, std::int64_t length);

    // Text, link or image between a tag's '>' and the element's end.
    tagCellContent GetCellContent(const char* start, const char* end);
    tagCellContent GetCellText(const char* start, const char* end);

    // Steps of a batch.
    void ReadHtmlTables();
    // False when the batch holds no piece.
    bool ReadBoxes();
    void BuildCellGrid();
    void FillRowSpans();
    void OptimiseColumns(bool relaxed);
    // Spans and the final check over the surviving columns (ordinal >= 0).
    void MergeSpannedCells();
    void CheckColumnOrdinals();
    // True when the strips cut the page into side-by-side blocks and the grid was laid out.
    bool LayOutSideBySide();
    // bodies, when given, holds each page's body on the frame road: the removal may then take
    // every row of a page that has one, headers only above it and footers only below it.
    void RemoveRepeatedHeaders(const std::vector<tagPageBody>& bodies = {});
    void RemoveRepeatedFooters(const std::vector<tagPageBody>& bodies = {});
    void ClearRow(std::int32_t row);
    void OutputToExcel_Excel2000(std::int32_t* recordCount, tagOutputBatchInfo* batch);
    static bool isBlankText(const tagGridCell& cell);
    void forceRowSpanTwo(std::int32_t row, tagOutputCellInfo* records,
                         const std::vector<std::int32_t>& sources);
    bool mergesIntoPrevious(std::size_t previousFirst, std::size_t rowFirst, std::size_t rowEnd,
                            std::size_t pageFirst) const;
    bool foldsIntoPrevious(std::size_t previousFirst, std::size_t rowFirst,
                           std::size_t rowEnd) const;
    void GetExcelOutputSpace(std::size_t count);
    void sortRecords(std::size_t first, std::size_t last);
    void WriteDelimitedText(bool pageBreakLines, bool keepFirstPage, bool keepLastPage);
    // The report's code page; 1252 without a report or when it states none.
    std::int32_t reportCodePage() const;

    // The frame road of HTMLCSS batches. True when the batch was laid out on its frames.
    bool UseFrameRoad(std::int32_t* outputColumns);
    std::vector<tagDivInfo*> RemoveOuterHeadersFooters();
    void BuildFrameGrids();
    void CopyFrameLines(tagFrameInfo& frame);
    void LabelFrameCells(tagFrameInfo& frame);
    void JoinPartnerBoxes(tagFrameInfo& frame);
    void DistributeFrameBoxes(tagFrameInfo& frame);
    void SplitCrowdedCells(tagFrameInfo& frame);
    void LayOutAboveBelow();
    void LayOutLeftRight(tagFrameInfo& frame, std::int32_t side);
    void BuildFrameColumns(const tagFrameInfo& frame, std::int32_t offset,
                           std::vector<tagDivInfo*>& pieces);
    void MapFrameRows(const tagFrameInfo& frame, std::int32_t& rows,
                      std::vector<std::int32_t>& map);
    void PlaceFrames(std::int32_t& width);
    void MeasureLayout(std::int32_t element);
    void PlaceLayoutFrames(std::int32_t element, std::int32_t column, std::int32_t row);
    void AlignChildFrames(const tagFrameInfo& reference, std::int32_t offset, std::int32_t band);
    void RemapLeftColumns(const tagFrameInfo& reference, tagFrameInfo& frame, std::int32_t origin,
                          std::int32_t offset, std::int32_t after);
    void PlaceDeferredRows(std::int32_t first, std::int32_t last, std::int32_t& row);
    void OutputFramesToRecords(std::int32_t columns, std::int32_t* recordCount,
                               tagOutputBatchInfo* batch);
    void WriteFramesDelimited(bool pageBreakLines, std::int32_t columns, bool keepFirstPage,
                              bool keepLastPage);
    // Pieces on a grid of their own; returns its rows (columns in m_outputColumnCount).
    std::int32_t layOutSmallGrid(std::vector<tagDivInfo*>& pieces);

    EngineLimits m_limits;
    std::int32_t m_errorCode = 0;
    CReportCore* m_report = nullptr;
    std::int32_t m_engineNumber = kEngineNumber;
    std::int32_t m_mode = kFormatHtml;
    std::int32_t m_outputKind = kOutputDelimited;

    const char* m_input = nullptr;
    std::int64_t m_inputLength = 0;
    const char* m_rangeStart = nullptr;
    const char* m_rangeEnd = nullptr;  // the '<' of the closing tag, exclusive

    std::vector<tagGridCell> m_grid;
    std::vector<tagGridRowInfo> m_rows;
    std::vector<tagGridColumnInfo> m_columns;
    std::int32_t m_columnCount = 0;
    std::int32_t m_rowCount = 0;
    std::int32_t m_outputColumnCount = 0;

    std::string m_outputText;
    std::vector<tagOutputCellInfo> m_records;
    std::string m_messageText;

    // Cell-text buffers: the fixed count is a budget; a text longer than one buffer gets a
    // buffer of its own size that still counts as one.
    std::vector<std::unique_ptr<char[]>> m_textBuffers;
    std::vector<std::size_t> m_textBufferSizes;
    std::size_t m_nextTextBuffer = 0;
    char* m_currentText = nullptr;
    std::size_t m_currentTextSize = 0;
    std::size_t m_textPosition = 0;

    bool m_colourFlag = false;
    bool m_fontFlag = false;
    bool m_coloured = false;
    bool m_headerFooterRemoval = false;
    bool m_rightToLeft = false;
    bool m_lastBatch = false;
    bool m_dropEmptyTexts = false;
    std::int32_t m_firstPageIndex = 0;

    std::int32_t m_pageCount = 0;
    std::vector<std::int64_t> m_pageOffsets;  // relative to the range start

    std::array<std::string, kFontNameCapacity> m_fontNames;
    std::array<std::int32_t, kFontNameCapacity> m_fontNameUses{};
    std::size_t m_fontNameCount = 0;
    std::array<std::int32_t, kFontSizeCapacity> m_fontSizes{};
    std::array<std::int32_t, kFontSizeCapacity> m_fontSizeUses{};
    std::size_t m_fontSizeCount = 0;

    std::string* m_stepBuffer = nullptr;

    // HTMLCSS: the report's style classes, the frames, regions and strips of the batch, and the
    // top of each page's first text element in points (-1 for a page without one).
    std::unique_ptr<StyleSheet> m_styles;
    std::unique_ptr<FrameStore> m_frames;
    std::vector<std::int32_t> m_pageTops;
    // The pieces and joined texts of the batch; the records point into them.
    std::unique_ptr<BoxReader> m_boxReader;
    std::unique_ptr<CellGrid> m_cellGrid;
    // The frame road: its layout tree, the rows placed between bands, and whether later
    // batches may still take it.
    std::unique_ptr<LayoutTree> m_layoutTree;
    std::vector<tagDivInfo*> m_deferredPieces;
    std::vector<std::int32_t> m_deferredGridRows;  // each deferred piece's row on its own grid
    bool m_frameEngineAllowed = true;
    bool m_frameRoadTried = false;
    bool m_keepFirstPage = true;
    bool m_keepLastPage = true;
};

}  // namespace paginor
