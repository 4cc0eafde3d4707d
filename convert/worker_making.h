#pragma once

// What the conversion's workers make of a converted batch besides its records, for the writer to
// place: SpreadsheetML rows, web archive tables or workbook rows. Each batch tells what its cells
// decide of the export's number and date conventions and is made with what the batches before it
// decided; a batch a worker leaves unmade is made by the writer, which meets any failure in its
// place.

#include <cstdint>
#include <vector>

#include "convert/conventions_chain.h"
#include "convert/conversion_driver.h"
#include "convert/convert_types.h"
#include "convert/write/excel_writer.h"
#include "convert/write/spreadsheet_ml.h"
#include "convert/write/workbook_archive.h"

namespace paginor {

// A batch as the engine left it.
struct ConvertedBatch {
    std::int32_t first = 0;  // the report's page
    bool firstPrepended = false;
    bool lastAppended = false;
    std::vector<tagOutputPageInfo>* pages = nullptr;
    const tagOutputBatchInfo* info = nullptr;
    std::int32_t columns = 0;
    std::int32_t records = 0;
    std::int32_t ordinal = 0;  // of the batch in the export, 0 the first
};

// What the workers made of it; ready when the writer has only to place it.
struct MadeOutput {
    SpreadsheetMLBatch rows;
    ArchiveBatch tables;
    ExcelMadeBatch workbookRows;
    bool ready = false;
};

class WorkerMaking {
public:
    WorkerMaking(CReportCore& report, const ExcelOutputOptions& options)
        : m_report(report), m_options(options) {}
    // No worker may wait on a gate while the driver joins them.
    ~WorkerMaking() { close(); }

    // The workbook application and the writer's options, less what only the writer may touch.
    void setWorkbook(ExcelApplication& application, const ExcelWriterOptions& options);

    void makeSpreadsheetRows(const ConvertedBatch& batch, MadeOutput& made);
    void makeArchiveTables(const ConvertedBatch& batch, MadeOutput& made);
    void makeWorkbookRows(const ConvertedBatch& batch, MadeOutput& made);
    // A batch that failed or was cancelled: the batches after it are left to the writer too.
    void unmade(const ConvertedBatch& batch);
    void close() { m_chain.close(); }

private:
    CReportCore& m_report;
    const ExcelOutputOptions& m_options;
    ExcelApplication* m_excel = nullptr;
    ExcelWriterOptions m_excelOptions;
    ConventionsChain m_chain;
};

}  // namespace paginor
