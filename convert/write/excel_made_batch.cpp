// The workbook writer's batches made apart: each batch's pages are made into the rows of a batch
// sheet of their own (on the conversion's worker threads), and the writer only places them after
// the batches before, numbering their rows, cutting the sheets and recording the rows to delete.

#include <algorithm>

#include "convert/write/excel_writer.h"

namespace paginor {

bool CExcelWriter::FetchesPictures(const ExcelWriterOptions& options, bool skipFirstPage,
                                   bool skipLastPage, std::int32_t pageCount,
                                   const tagOutputPageInfo* pages, std::int32_t recordCount) {
    if (!options.images || options.baseFolder.empty() || pages == nullptr || pageCount <= 0) {
        return false;
    }
    const std::int32_t s = skipFirstPage ? 1 : 0;
    const std::int32_t e = pageCount - (skipLastPage ? 1 : 0);
    const tagOutputCellInfo* records = pages[0].records;
    for (std::int32_t i = 0; records != nullptr && i < recordCount; ++i) {
        const tagOutputCellInfo& record = records[i];
        if (record.kind == kKindImage && record.text != nullptr && record.textLength > 0 &&
            record.page >= s && record.page < e) {
            return true;
        }
    }
    return false;
}

bool CExcelWriter::MakeBatch(ExcelApplication& application, CReportCore& report,
                             const ExcelWriterOptions& options, const tagCellDetectOptions& assumed,
                             const tagCellDetectOptions& decided, std::int32_t firstPageNumber,
                             bool skipFirstPage, bool skipLastPage, std::int32_t pageCount,
                             std::int32_t columnCount, tagOutputPageInfo* pages,
                             const tagOutputBatchInfo& batch, std::int32_t recordCount,
                             ExcelMadeBatch& made) {
    made = ExcelMadeBatch{};
    if (pages == nullptr || pageCount <= 0 ||
        FetchesPictures(options, skipFirstPage, skipLastPage, pageCount, pages, recordCount)) {
        return false;
    }
    try {
        CExcelWriter maker(report, application, options, Maker::Worker, assumed);
        maker.makeBatch(&decided, firstPageNumber, skipFirstPage, skipLastPage, pageCount,
                        columnCount, pages, batch, recordCount, made);
        return true;
    } catch (...) {
        made = ExcelMadeBatch{};
        return false;
    }
}

void CExcelWriter::makeBatch(const tagCellDetectOptions* decided, std::int32_t firstPageNumber,
                             bool skipFirstPage, bool skipLastPage, std::int32_t pageCount,
                             std::int32_t columnCount, tagOutputPageInfo* pages,
                             const tagOutputBatchInfo& batch, std::int32_t recordCount,
                             ExcelMadeBatch& made) {
    made = ExcelMadeBatch{};
    made.sheet = m_application.NewBatchSheet();
    if (!made.sheet) {
        failStep("OTEFXL2", "the workbook application has no batch sheets");
    }
    m_sheet = made.sheet.get();
    // One batch sheet holds the whole batch: 12 MiB of page text make far fewer rows than a sheet.
    m_rowLimit = kRowLimit2007;
    m_rowsPerWorksheet = kRowLimit2007;
    m_highestColumns = std::max(columnCount, 0);
    made.assumed = m_decided;
    made.columns = m_highestColumns;
    made.rangeFound = batch.rangeFound != 0;
    const PageRecords byPage = recordsByPage(pageCount, pages, recordCount);
    const std::int32_t s = skipFirstPage ? 1 : 0;
    const std::int32_t e = pageCount - (skipLastPage ? 1 : 0);
    tagCellDetectOptions after = m_decided;
    if (decided != nullptr) {
        after = *decided;
    } else {
        learnConventions(after, byPage, s, e);
    }
    decide(after);
    made.after = m_decided;
    const bool name = m_options.font && batch.fontName != nullptr && batch.fontName[0] != '\0';
    made.mostUsedFont = name || batch.fontSize != 0;
    if (name) {
        made.fontName = toUnicode(batch.fontName);
    }
    made.fontSize = static_cast<std::int16_t>(batch.fontSize);
    for (std::int32_t p = 0; p < pageCount; ++p) {
        pages[p].writerMark &= ~0xFFu;
    }
    if (s < e) {
        checkColumns(firstPageNumber);
    }
    try {
        for (std::int32_t p = s; p < e; ++p) {
            const auto rows = static_cast<std::int32_t>(std::min<std::uint32_t>(
                pages[p].rowCount, static_cast<std::uint32_t>(INT32_MAX / 2)));
            const std::int32_t pageNumber = firstPageNumber + p - s;
            made.pages.push_back({pageNumber, m_rowsUsed + 1, rows});
            applyMostUsedFont(pages, p, e - 1, batch);
            writeRecords(rows, m_highestColumns, batch, byPage[static_cast<std::size_t>(p)]);
            if (m_options.markPages) {
                writeLabel(m_rowsUsed + std::max(m_options.rowsDeletedAtTop, 0) + 1, pageNumber);
            }
            m_rowsUsed += rows;
        }
    } catch (const AutomationError& error) {
        failStep("OTEFXL2", error.what());
    }
}

bool CExcelWriter::accepts(const ExcelMadeBatch& made) const {
    return made.sheet && made.assumed == m_decided;
}

void CExcelWriter::placeBatch(const ExcelMadeBatch& made) {
    m_highestColumns = std::max(m_highestColumns, made.columns);
    m_rangeFound = made.rangeFound;
    decide(made.after);
    for (const ExcelMadeBatch::Page& page : made.pages) {
        placePage(made, page);
        settleWrittenRows();
    }
}

void CExcelWriter::placePage(const ExcelMadeBatch& made, const ExcelMadeBatch::Page& page) {
    checkCancel();
    tagOutputBatchInfo batch;
    batch.rangeFound = made.rangeFound ? 1 : 0;
    try {
        startPage(page.rows, page.pageNumber, batch);
        // The batch gave its pages' font over its own columns; wider batches before it widen the
        // range the font covers.
        ExcelFontFill fill;
        if (made.mostUsedFont && m_highestColumns > made.columns) {
            fill.firstColumn = m_columnOffset + made.columns + 1;
            fill.lastColumn = m_columnOffset + m_highestColumns;
            fill.name = made.fontName;
            fill.size = made.fontSize;
        }
        m_sheet->PlaceMadeRows(made.sheet, page.firstRow, page.rows, m_rowsUsed + 1, fill);
        step("FL_Convert_Proc2_AddToArray_Now");
        step("SetValue_End*3");
        endPage(page.rows, page.pageNumber, false);
    } catch (const AutomationError& error) {
        failStep("OTEFXL2", error.what());
    }
    m_firstPageWritten = true;
    m_rowsUsed += page.rows;
    if (m_options.pageWritten) {
        m_options.pageWritten(page.pageNumber);
    }
}

}  // namespace paginor
