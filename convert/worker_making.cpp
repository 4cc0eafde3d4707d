#include "convert/worker_making.h"

namespace paginor {

void WorkerMaking::setWorkbook(ExcelApplication& application, const ExcelWriterOptions& options) {
    m_excel = &application;
    m_excelOptions = options;
    m_excelOptions.activityStamp = nullptr;
    m_excelOptions.step = nullptr;
    m_excelOptions.pageWritten = nullptr;
    m_excelOptions.fetchLinkedFile = nullptr;
}

void WorkerMaking::unmade(const ConvertedBatch& batch) {
    if (batch.firstBatch) {
        close();
    }
}

// The first batch learns the number and date conventions from its own records, exactly as the
// writer would, and the other batches are made with them.
void WorkerMaking::makeSpreadsheetRows(const ConvertedBatch& batch, MadeOutput& made) {
    const auto pages = static_cast<std::int32_t>(batch.pages->size());
    if (batch.firstBatch) {
        SpreadsheetMLCellSettings settings =
            CSpreadsheetMLWriter(m_report.codePage(), m_options.noNumberDetection,
                                 m_options.textFormatDetection,
                                 static_cast<std::int32_t>(m_report.format()))
                .cellSettings();
        if (!CSpreadsheetMLWriter::LearnConventions(settings.conventions, batch.firstPrepended,
                                                    batch.lastAppended, pages, batch.pages->data(),
                                                    batch.records)) {
            m_cellGate.close();
            return;
        }
        m_cellGate.open(settings);
    }
    const SpreadsheetMLCellSettings* settings = m_cellGate.wait();
    if (settings == nullptr) {
        return;
    }
    try {
        CSpreadsheetMLWriter::MakeBatch(*settings, batch.first, batch.firstPrepended,
                                        batch.lastAppended, pages, batch.columns,
                                        batch.pages->data(), batch.records, made.rows);
        made.ready = true;
    } catch (...) {
        made.rows = SpreadsheetMLBatch{};
    }
}

// Tables whose images are to be fetched are left to the writer, which alone may download.
void WorkerMaking::makeArchiveTables(const ConvertedBatch& batch, MadeOutput& made) {
    const ArchiveCellSettings settings{m_report.codePage(), m_options.decimalCommaMode,
                                       m_options.images};
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

// The first batch is made from the conventions of no batch and tells those after it (learned
// without its pictures when they are the writer's to fetch); the others wait for them.
void WorkerMaking::makeWorkbookRows(const ConvertedBatch& batch, MadeOutput& made) {
    const auto pages = static_cast<std::int32_t>(batch.pages->size());
    auto make = [&](const ExcelWriterOptions& options, const ExcelConventions& conventions,
                    ExcelMadeBatch& into) {
        return CExcelWriter::MakeBatch(*m_excel, m_report, options, conventions, batch.first,
                                       batch.firstPrepended, batch.lastAppended, pages,
                                       batch.columns, batch.pages->data(), *batch.info,
                                       batch.records, into);
    };
    if (!batch.firstBatch) {
        const ExcelConventions* conventions = m_excelGate.wait();
        made.ready =
            conventions != nullptr && make(m_excelOptions, *conventions, made.workbookRows);
        return;
    }
    // Without dates to read or undecided numbers there is nothing to learn.
    if (!m_excelOptions.textFormatDetection &&
        (m_excelOptions.decimalCommaMode != 0 || !m_excelOptions.spanishOrItalian)) {
        m_excelGate.open({});
    }
    if (!CExcelWriter::FetchesPictures(m_excelOptions, batch.firstPrepended, batch.lastAppended,
                                       pages, batch.pages->data(), batch.records)) {
        made.ready = make(m_excelOptions, {}, made.workbookRows);
        if (made.ready) {
            m_excelGate.open(made.workbookRows.after());
        }
    } else {
        ExcelWriterOptions withoutPictures = m_excelOptions;
        withoutPictures.images = false;
        ExcelMadeBatch learned;
        if (make(withoutPictures, {}, learned)) {
            m_excelGate.open(learned.after());
        }
    }
    m_excelGate.close();
}

}  // namespace paginor
