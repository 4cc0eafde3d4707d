#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_types.h"
#include "convert/write/cell_value.h"
#include "convert/write/excel_automation.h"
#include "convert/write/range_formats.h"

namespace paginor {

class CReportCore;

// The options of one workbook export, as the conversion driver hands them over.
struct ExcelWriterOptions {
    std::int32_t firstPage = 1;  // of the export
    std::int32_t lastPage = 1;
    bool colour = false;
    bool font = false;
    bool noNumberDetection = false;
    bool textFormatDetection = false;
    bool markPages = false;
    bool images = false;
    bool mergeSpannedCells = false;
    std::int32_t decimalCommaMode = 0;  // 0 automatic, 1 on, 2 off
    bool spanishOrItalian = false;      // the automatic mode's decimal-comma language
    std::int32_t rowsDeletedAtTop = 0;
    std::int32_t rowsDeletedAtBottom = 0;
    std::optional<std::string> password;
    bool rightToLeft = false;
    bool html = true;
    std::string baseFolder;  // the report's; relative links resolve against it
    const std::atomic<std::int32_t>* cancel = nullptr;
    std::time_t* activityStamp = nullptr;
    // Receives the name of each step before it is taken, for failure messages.
    std::function<void(std::string_view name)> step;
    // Called after each written page with its report page number.
    std::function<void(std::int32_t page)> pageWritten;
    // The local copy of a linked picture; empty when it could not be had.
    std::function<std::string(std::string_view link)> fetchLinkedFile;
};

// A batch's pages made into the rows of a batch sheet ahead of their turn, possibly on another
// thread, with what the writer needs to place them after the batches before it: the number and
// date conventions decided before the batch, as it was made, and those decided after it (what the
// batch's own cells decided where nothing was decided before).
struct ExcelMadeBatch {
    struct Page {
        std::int32_t pageNumber = 0;  // of the report
        std::int32_t firstRow = 1;    // in the batch sheet
        std::int32_t rows = 0;
    };
    std::shared_ptr<ExcelWorksheet> sheet;
    std::vector<Page> pages;
    std::int32_t columns = 0;
    bool rangeFound = false;
    // The pages' most used font, given over the batch's own columns.
    bool mostUsedFont = false;
    std::string fontName;  // empty when the name was not given
    std::int16_t fontSize = 0;
    tagCellDetectOptions assumed;
    tagCellDetectOptions after;
};

// Fills a workbook through the application's object model, page by page, from the output records
// of the conversion engine. Every failure closes the workbook unsaved, quits the application and
// throws ConversionError with the report's code and text. When the application has batch sheets,
// each batch's pages are made into rows of one (by MakeBatch, on any thread) and the writer only
// places them, numbering their rows and cutting the sheets.
class CExcelWriter {
public:
    static constexpr std::int32_t kRowLimit2007 = 1048576;
    static constexpr std::int32_t kRowLimit97 = 65535;
    static constexpr std::int32_t kColumnLimit = 16384;

    CExcelWriter(CReportCore& report, ExcelApplication& application, ExcelWriterOptions options);

    // Version, workbook and list-separator probe. outputPath gains an "x" when a 2007 workbook is
    // saved to a ".xls" name; rowsPerWorksheet is held to the row limit.
    void Start(std::string& outputPath, std::int32_t& rowsPerWorksheet, bool* savedAs2007);

    // Writes the batch's pages; made, when given, holds them made ahead already: its rows are
    // placed as they are unless the batches before changed a convention they were made with.
    void WriteBatch(std::int32_t firstPageNumber, bool skipFirstPage, bool skipLastPage,
                    std::int32_t pageCount, std::int32_t columnCount, tagOutputPageInfo* pages,
                    const tagOutputBatchInfo& batch, std::int32_t recordCount,
                    ExcelMadeBatch* made = nullptr);

    // Whether writing the batch fetches linked pictures, which only the writer may do.
    static bool FetchesPictures(const ExcelWriterOptions& options, bool skipFirstPage,
                                bool skipLastPage, std::int32_t pageCount,
                                const tagOutputPageInfo* pages, std::int32_t recordCount);
    // Makes the batch's pages into the rows of a new batch sheet of the application; assumed holds
    // the conventions decided before the batch, decided those after it. Touches no writer state
    // and reports nothing, so any thread may make a batch while others make theirs. False when the
    // writer must make it: its pictures are to be fetched, the application has no batch sheets, or
    // the making failed (the writer then meets the failure in its place).
    static bool MakeBatch(ExcelApplication& application, CReportCore& report,
                          const ExcelWriterOptions& options, const tagCellDetectOptions& assumed,
                          const tagCellDetectOptions& decided, std::int32_t firstPageNumber,
                          bool skipFirstPage, bool skipLastPage, std::int32_t pageCount,
                          std::int32_t columnCount, tagOutputPageInfo* pages,
                          const tagOutputBatchInfo& batch, std::int32_t recordCount,
                          ExcelMadeBatch& made);
    // The conventions an export starts from, before any batch: the decimal-comma mode's.
    static tagCellDetectOptions StartingConventions(const ExcelWriterOptions& options);
    // The conventions decided after a batch: those decided before it, and for the others what
    // its records decide, as writing it would learn them. What none decides stays undecided.
    static tagCellDetectOptions LearnConventions(const tagCellDetectOptions& before,
                                                 bool skipFirstPage, bool skipLastPage,
                                                 std::int32_t pageCount,
                                                 const tagOutputPageInfo* pages,
                                                 std::int32_t recordCount);
    // The conventions the batches written so far decided.
    const tagCellDetectOptions& conventions() const { return m_decided; }

    // Finishes the last sheet, saves the workbook to outputPath and quits. False when a cancel
    // request came while the workbook was saved: then outputPath keeps what it held.
    bool Finish(const std::string& outputPath);
    // The links the saved workbook left out, past the links a worksheet holds.
    std::int64_t linksLeftOut() const { return m_linksLeftOut; }

    // Closes the workbook without saving and quits; safe to call more than once.
    void Abandon();

    const CRangeFormatLists& formats() const { return m_formats; }

private:
    struct RowRemoval {
        std::int32_t first;
        std::int32_t count;
    };
    enum RecordFlag : std::uint8_t { kThroughArray = 2, kAsText = 4 };
    // What a text record's cell receives: a typed value entered with its number format, or the
    // text as it stands.
    struct CellEntry {
        bool typed = false;
        std::string value;
        std::string format;
    };
    // How a maker reports: the writer making a batch itself reports failures as the writer does;
    // on another thread nothing is reported and the batch is left to the writer.
    enum class Maker { None, Writer, Worker };
    // Thrown on another thread in place of a failure.
    struct NotMade {};

    // A writer that makes batches apart into batch sheets, after the batches that decided
    // assumed.
    CExcelWriter(CReportCore& report, ExcelApplication& application, ExcelWriterOptions options,
                 Maker maker, const tagCellDetectOptions& assumed);
    using PageRecords = std::vector<std::vector<const tagOutputCellInfo*>>;
    static PageRecords recordsByPage(std::int32_t pageCount, const tagOutputPageInfo* pages,
                                     std::int32_t recordCount);
    // Learns what conventions holds undecided from the pages' records.
    static void learnConventions(tagCellDetectOptions& conventions, const PageRecords& byPage,
                                 std::int32_t first, std::int32_t end);
    // The conventions decided so far, and those the values are read with.
    void decide(const tagCellDetectOptions& decided);
    void writePage(const tagOutputPageInfo* pages, std::int32_t p, std::int32_t lastWritten,
                   std::int32_t pageNumber, const tagOutputBatchInfo& batch,
                   const std::vector<const tagOutputCellInfo*>& records);
    // A new sheet when the page does not fit the current one; fails a page no sheet holds.
    void startPage(std::int32_t rows, std::int32_t pageNumber, const tagOutputBatchInfo& batch);
    // Fails a page wider than a worksheet before any of it is written.
    void checkColumns(std::int32_t pageNumber);
    // Values, number formats, dates, wrapping, links, pictures, fonts, colours, alignment, merges
    // and borders of the page's records, on the sheet's rows from m_rowsUsed + 1 on.
    void writeRecords(std::int32_t rows, std::int32_t columns, const tagOutputBatchInfo& batch,
                      const std::vector<const tagOutputCellInfo*>& records);
    // The rows the page loses at its top and bottom, its label and its page break.
    void endPage(std::int32_t rows, std::int32_t pageNumber, bool label);
    void writeLabel(std::int32_t row, std::int32_t pageNumber);
    // decided, when given, holds the conventions after the batch; else they are learned from it.
    void makeBatch(const tagCellDetectOptions* decided, std::int32_t firstPageNumber,
                   bool skipFirstPage, bool skipLastPage, std::int32_t pageCount,
                   std::int32_t columnCount, tagOutputPageInfo* pages,
                   const tagOutputBatchInfo& batch, std::int32_t recordCount, ExcelMadeBatch& made);
    // Whether the batch reads as it would have been written after the batches placed before.
    bool accepts(const ExcelMadeBatch& made) const;
    void placeBatch(const ExcelMadeBatch& made);
    void placePage(const ExcelMadeBatch& made, const ExcelMadeBatch::Page& page);
    void newWorksheet(const tagOutputBatchInfo& batch);
    void settleWrittenRows();
    void finishWorksheet(const tagOutputBatchInfo& batch, bool capWidths);
    void applyMostUsedFont(const tagOutputPageInfo* pages, std::int32_t p, std::int32_t lastWritten,
                           const tagOutputBatchInfo& batch);
    CellEntry readValue(std::string_view text) const;
    void writeValue(std::string_view text, std::int32_t row, std::int32_t column);
    void setNumberFormat(const std::string& format, const std::string& cell);
    void addLink(const tagOutputCellInfo& record, std::string_view shown, const std::string& cell);
    void addPicture(const tagOutputCellInfo& record, std::string_view link,
                    const std::string& cell);
    void DeleteRecordedRows();
    bool passesAsIs(std::string_view text) const;
    std::string toUnicode(std::string_view text) const;
    void checkCancel();
    void step(std::string_view name) const {
        if (m_options.step) {
            m_options.step(name);
        }
    }
    [[noreturn]] void failStep(const char* tag, const std::string& message);
    [[noreturn]] void fail(const std::string& text);

    CReportCore& m_report;
    ExcelApplication& m_application;
    ExcelWriterOptions m_options;
    Maker m_maker = Maker::None;
    bool m_makesBatches = false;  // the application has batch sheets
    ExcelWorkbook* m_workbook = nullptr;
    ExcelWorksheet* m_sheet = nullptr;
    CRangeFormatLists m_formats;
    bool m_open = false;

    std::int32_t m_rowLimit = kRowLimit97;
    std::int32_t m_rowsPerWorksheet = 0;
    std::int32_t m_rowsUsed = 0;
    std::int32_t m_sheetIndex = 1;
    std::int32_t m_highestColumns = 0;
    std::int32_t m_columnOffset = 0;
    std::int32_t m_pageBreaks = 0;
    // The export's number and date conventions decided so far, and those values are read with:
    // the undecided ones by the decimal-comma language's defaults, as the SpreadsheetML writer
    // reads them.
    tagCellDetectOptions m_decided;
    tagCellDetectOptions m_conventions;
    bool m_numberFormats = true;
    std::int32_t m_numberFormatCount = 0;
    bool m_firstPageWritten = false;
    bool m_rangeFound = false;
    std::int64_t m_linksLeftOut = 0;
    std::vector<RowRemoval> m_removals;
    std::size_t m_removalsSettled = 0;  // of m_removals, given to the sheet as settled
    std::vector<std::int32_t> m_wrappedRows;
    std::vector<std::uint8_t> m_flags;
    std::vector<std::string> m_array;
};

// True when a workbook backend is built in; the stand-in for the registered automation server.
bool IsExcelAppIdRegistered(const ExcelLauncher& launcher);

// The name a workbook in the 2007 format is saved under: a ".xls" name gains an "x", and a name
// that does not end with ".xlsx" gets it, so that no program takes the workbook for text. A path
// without a file name is left alone.
std::string WorkbookPath2007(const std::string& path);

}  // namespace paginor
