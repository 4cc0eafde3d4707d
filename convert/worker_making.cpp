#include "convert/worker_making.h"

namespace paginor {

void WorkerMaking::setWorkbook(ExcelApplication& application, const ExcelWriterOptions& options) {
    m_excel = &application;
    m_excelOptions = options;
    m_excelOptions.activityStamp = nullptr;
    m_excelOptions.step = nullptr;
    m_excelOptions.pageWritten = nullptr;
    m_excelOptions.fetchLinkedFile = nullptr;
    m_chain.start(CExcelWriter::StartingConventions(m_excelOptions));
}

void WorkerMaking::unmade(const ConvertedBatch& batch) {
    m_chain.untold(batch.ordinal);
}

// The batch learns the number and date conventions from its own records, exactly as the writer
// would, and is made with those the batches before it decided.
void WorkerMaking::makeSpreadsheetRows(const ConvertedBatch& batch, MadeOutput& made) {
    const auto pages = static_cast<std::int32_t>(batch.pages->size());
    tagCellDetectOptions own;
    CSpreadsheetMLWriter::LearnConventions(own, batch.firstPrepended, batch.lastAppended, pages,
                                           batch.pages->data(), batch.records);
    m_chain.tell(batch.ordinal, own);
    const std::optional<tagCellDetectOptions> before = m_chain.before(batch.ordinal);
    if (!before) {
        return;
    }
    const SpreadsheetMLCellSettings settings{m_report.codePage(), m_options.noNumberDetection,
                                             m_options.textFormatDetection,
                                             static_cast<std::int32_t>(m_report.format())};
    try {
        CSpreadsheetMLWriter::MakeBatch(settings, *before, FoldConventions(*before, own),
                                        batch.first, batch.firstPrepended, batch.lastAppended,
                                        pages, batch.columns, batch.pages->data(), batch.records,
                                        made.rows);
        made.ready = true;
    } catch (...) {
        made.rows = SpreadsheetMLBatch{};
    }
}

// Tables whose images are to be fetched are left to the writer, which alone may download.
void WorkerMaking::makeArchiveTables(const ConvertedBatch& batch, MadeOutput& made) {
    const ArchiveCellSettings settings{m_report.codePage(), m_options.decimalCommaMode,
                                       m_options.images, m_report.baseFolder()};
    const auto pages = static_cast<std::int32_t>(batch.pages->size());
    if (WorkbookArchive::NeedsImages(settings, batch.firstPrepended, batch.lastAppended, pages,
                                     *batch.info, batch.records)) {
        return;
    }
    try {
        WorkbookArchive::MakeBatch(settings, batch.firstPrepended, batch.lastAppended, pages,
                                   batch.columns, *batch.info, batch.records, nullptr, made.tables);
        made.ready = true;
    } catch (...) {
        made.tables = ArchiveBatch{};
    }
}

// The batch learns the number and date conventions from its own records, as the writer would,
// and is made with those the batches before it decided.
void WorkerMaking::makeWorkbookRows(const ConvertedBatch& batch, MadeOutput& made) {
    const auto pages = static_cast<std::int32_t>(batch.pages->size());
    const tagCellDetectOptions own = CExcelWriter::LearnConventions(
        CExcelWriter::StartingConventions(m_excelOptions), batch.firstPrepended, batch.lastAppended,
        pages, batch.pages->data(), batch.records);
    m_chain.tell(batch.ordinal, own);
    const std::optional<tagCellDetectOptions> before = m_chain.before(batch.ordinal);
    made.ready = before && CExcelWriter::MakeBatch(*m_excel, m_report, m_excelOptions, *before,
                                                   FoldConventions(*before, own), batch.first,
                                                   batch.firstPrepended, batch.lastAppended, pages,
                                                   batch.columns, batch.pages->data(), *batch.info,
                                                   batch.records, made.workbookRows);
}

}  // namespace paginor
