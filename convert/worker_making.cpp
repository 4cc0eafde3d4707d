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

// The first batch learns the number and date conventions from its own records, as the writer
// would, and the others are made with them; it is made itself from the conventions the export
// starts from.
void WorkerMaking::makeWorkbookRows(const ConvertedBatch& batch, MadeOutput& made) {
    const auto pages = static_cast<std::int32_t>(batch.pages->size());
    const tagCellDetectOptions* conventions = nullptr;
    tagCellDetectOptions starting;
    if (batch.firstBatch) {
        m_excelGate.open(CExcelWriter::LearnConventions(m_excelOptions, batch.firstPrepended,
                                                        batch.lastAppended, pages,
                                                        batch.pages->data(), batch.records));
        starting = CExcelWriter::StartingConventions(m_excelOptions);
        conventions = &starting;
    } else {
        conventions = m_excelGate.wait();
    }
    made.ready =
        conventions != nullptr &&
        CExcelWriter::MakeBatch(*m_excel, m_report, m_excelOptions, *conventions, batch.first,
                                batch.firstPrepended, batch.lastAppended, pages, batch.columns,
                                batch.pages->data(), *batch.info, batch.records, made.workbookRows);
}

}  // namespace paginor
