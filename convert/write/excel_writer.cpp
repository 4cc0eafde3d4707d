#include "convert/write/excel_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "convert/convert_errors.h"
#include "convert/write/character_references.h"
#include "convert/write/link_target.h"
#include "core/report_core.h"
#include "core/text_format.h"
#include "core/text_scan.h"
#include "platform/code_page_convert.h"

namespace paginor {
namespace {

constexpr std::size_t kWrapAbove = 55;
constexpr std::size_t kMaxWrappedRows = 128;
constexpr std::int32_t kMaxPageBreaks = 1020;
constexpr std::int32_t kPageBreakRangeLimit = 1024;
constexpr std::int32_t kPageLabelColour = 0xC8C8C8;
constexpr std::int32_t kShiftUp = -4162;
constexpr double kMaxColumnWidth = 25;
constexpr std::size_t kMaxCellCharacters = 32767;  // UTF-16 units
constexpr const char* kLaunchIdentity = "[The launching user]";

bool isTrimmed(char c) {
    return c == ' ' || c == '\r' || c == '\n' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isTrimmed(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isTrimmed(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string cellRef(std::int32_t row, std::int32_t column) {
    return MakeCellReference(static_cast<std::uint16_t>(column), static_cast<std::uint32_t>(row));
}

}  // namespace

bool IsExcelAppIdRegistered(const ExcelLauncher& launcher) {
    return static_cast<bool>(launcher);
}

std::string WorkbookPath2007(const std::string& path) {
    if (path.empty() || path.back() == '/' || endsWithNoCase(path, ".xlsx")) {
        return path;
    }
    return endsWithNoCase(path, ".xls") ? path + 'x' : path + ".xlsx";
}

CExcelWriter::CExcelWriter(CReportCore& report, ExcelApplication& application,
                           ExcelWriterOptions options)
    : m_report(report), m_application(application), m_options(std::move(options)) {
    m_columnOffset = m_options.markPages ? 1 : 0;
    decide(StartingConventions(m_options));
}

CExcelWriter::CExcelWriter(CReportCore& report, ExcelApplication& application,
                           ExcelWriterOptions options, Maker maker,
                           const tagCellDetectOptions& assumed)
    : CExcelWriter(report, application, std::move(options)) {
    m_maker = maker;
    decide(assumed);
    // The writer numbers the steps when it places the pages.
    m_options.step = nullptr;
    m_options.pageWritten = nullptr;
}

void CExcelWriter::fail(const std::string& text) {
    if (m_maker == Maker::Worker) {
        throw NotMade{};
    }
    Abandon();
    const std::int32_t code = m_report.SetErrorText(text);
    throw ConversionError(code, m_report.GetErrorText());
}

void CExcelWriter::failStep(const char* tag, const std::string& message) {
    if (m_maker == Maker::Worker) {
        throw NotMade{};
    }
    Abandon();
    m_report.SetExceptionText(message, tag);
    throw ConversionError(-1, m_report.GetErrorText());
}

void CExcelWriter::Abandon() {
    if (m_workbook != nullptr) {
        try {
            m_workbook->Close();
        } catch (const AutomationError&) {
            // Closing is best effort: the failure being reported matters more.
        }
        m_workbook = nullptr;
        m_sheet = nullptr;
    }
    if (m_open) {
        m_open = false;
        try {
            m_application.Quit();
        } catch (const AutomationError&) {
        }
    }
}

void CExcelWriter::Start(std::string& outputPath, std::int32_t& rowsPerWorksheet,
                         bool* savedAs2007) {
    m_open = true;
    m_formats.Reset();
    try {
        step("FL_Excel2000_Start#4");
        const std::string version = m_application.Version();
        const int major = std::atoi(version.c_str());
        // No stored default format says otherwise: from 12 on, the 2007 format.
        const bool xlsx = major >= 12;
        if (savedAs2007 != nullptr) {
            *savedAs2007 = xlsx;
        }
        if (xlsx) {
            outputPath = WorkbookPath2007(outputPath);
        }
        m_rowLimit = xlsx ? kRowLimit2007 : kRowLimit97;
        if (rowsPerWorksheet <= 0 || rowsPerWorksheet > m_rowLimit) {
            rowsPerWorksheet = m_rowLimit;
        }
    } catch (const AutomationError&) {
        // The version step is skipped as a whole; the smaller limit holds.
    }
    m_rowsPerWorksheet = rowsPerWorksheet > 0 ? std::min(rowsPerWorksheet, m_rowLimit) : m_rowLimit;
    m_makesBatches = m_application.NewBatchSheet() != nullptr;
    try {
        step("FL_Excel2000_Loop_Start_AddWorkBook");
        m_workbook = &m_application.WorkbooksAdd();
        m_sheetIndex = 1;
        m_sheet = &m_workbook->WorksheetsItem(1);
    } catch (const AutomationError& error) {
        failStep("OTEFXL2", error.what());
    }
    m_rowsUsed = 0;
    try {
        m_sheet->Range("A2:B2,D2:E2");
    } catch (const AutomationError&) {
        m_formats.setListSeparator(';');
        try {
            m_sheet->Range("A2:B2;D2:E2");
        } catch (const AutomationError&) {
            m_formats.setRangeListLimit(1);
        }
    }
}

void CExcelWriter::checkCancel() {
    if (m_options.cancel != nullptr && m_options.cancel->load() != 0) {
        if (m_maker == Maker::Worker) {
            throw NotMade{};
        }
        Abandon();
        m_report.SetErrorCode(kErrCancelled);
        throw ConversionError(kErrCancelled, m_report.GetErrorText());
    }
}

// Plain ASCII reads the same in every code page but the escape-based ones.
bool CExcelWriter::passesAsIs(std::string_view text) const {
    const std::int32_t codePage = m_report.codePage();
    const bool escapes = (codePage >= 50220 && codePage <= 50229) || codePage == 65000;
    return !escapes && text.size() <= kMaxCellCharacters &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; }) &&
           !HoldsCharacterReference(text);
}

std::string CExcelWriter::toUnicode(std::string_view text) const {
    if (passesAsIs(text)) {
        return std::string(text);
    }
    const std::int32_t codePage = m_report.codePage();
    const bool references = HoldsCharacterReference(text);
    // Characters the code page lacks arrive as references and go in as themselves.
    std::string out = references ? utf16ToUtf8(CellTextToUnicode(text, codePage))
                                 : codePageToUtf8(text, codePage);
    // A cell holds at most 32,767 characters as the workbook counts them, in UTF-16 units: one
    // outside the BMP counts two. Cut at a character boundary.
    std::size_t units = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto lead = static_cast<unsigned char>(out[i]);
        if ((lead & 0xC0) == 0x80) {
            continue;
        }
        units += lead >= 0xF0 ? 2 : 1;
        if (units > kMaxCellCharacters) {
            out.resize(i);
            break;
        }
    }
    return out;
}

CExcelWriter::PageRecords CExcelWriter::recordsByPage(std::int32_t pageCount,
                                                      const tagOutputPageInfo* pages,
                                                      std::int32_t recordCount) {
    PageRecords byPage(static_cast<std::size_t>(pageCount));
    const tagOutputCellInfo* records = pages[0].records;
    for (std::int32_t i = 0; records != nullptr && i < recordCount; ++i) {
        const std::int32_t p = records[i].page;
        if (p >= 0 && p < pageCount) {
            byPage[static_cast<std::size_t>(p)].push_back(&records[i]);
        }
    }
    return byPage;
}

void CExcelWriter::WriteBatch(std::int32_t firstPageNumber, bool skipFirstPage, bool skipLastPage,
                              std::int32_t pageCount, std::int32_t columnCount,
                              tagOutputPageInfo* pages, const tagOutputBatchInfo& batch,
                              std::int32_t recordCount, ExcelMadeBatch* made) {
    if (pages == nullptr || pageCount <= 0) {
        return;
    }
    if (m_makesBatches) {
        ExcelMadeBatch here;
        if (made == nullptr || !accepts(*made)) {
            ExcelWriterOptions options = m_options;
            CExcelWriter maker(m_report, m_application, std::move(options), Maker::Writer,
                               m_decided);
            maker.makeBatch(nullptr, firstPageNumber, skipFirstPage, skipLastPage, pageCount,
                            columnCount, pages, batch, recordCount, here);
            made = &here;
        }
        placeBatch(*made);
        return;
    }
    m_highestColumns = std::max(m_highestColumns, columnCount);
    m_rangeFound = batch.rangeFound != 0;
    const PageRecords byPage = recordsByPage(pageCount, pages, recordCount);
    const std::int32_t s = skipFirstPage ? 1 : 0;
    const std::int32_t e = pageCount - (skipLastPage ? 1 : 0);
    tagCellDetectOptions decided = m_decided;
    learnConventions(decided, byPage, s, e);
    decide(decided);
    for (std::int32_t p = 0; p < pageCount; ++p) {
        pages[p].writerMark &= ~0xFFu;
    }
    for (std::int32_t p = s; p < e; ++p) {
        writePage(pages, p, e - 1, firstPageNumber + p - s, batch,
                  byPage[static_cast<std::size_t>(p)]);
        settleWrittenRows();
    }
}

void CExcelWriter::learnConventions(tagCellDetectOptions& conventions, const PageRecords& byPage,
                                    std::int32_t first, std::int32_t end) {
    if (conventions.IsSet()) {
        return;
    }
    CCellValueDetector detector;
    tagCellDetectOptions& options = detector.options();
    options = conventions;
    tagCellDetectResult discarded;
    for (std::int32_t p = first; p < end && !options.IsSet(); ++p) {
        for (const tagOutputCellInfo* record : byPage[static_cast<std::size_t>(p)]) {
            if (record->text != nullptr && record->textLength > 0) {
                detector.Detect({record->text, static_cast<std::size_t>(record->textLength)},
                                discarded);
            }
            if (options.IsSet()) {
                break;
            }
        }
    }
    conventions = options;
}

void CExcelWriter::decide(const tagCellDetectOptions& decided) {
    m_decided = decided;
    m_conventions = decided;
    // What the report leaves undecided so far follows the decimal-comma language.
    const bool comma = m_options.decimalCommaMode == 0 && m_options.spanishOrItalian;
    if (m_conventions.numberStyle == 0) {
        m_conventions.numberStyle = comma ? 1 : 2;
    }
    if (m_conventions.dateOrder == 0) {
        m_conventions.dateOrder = comma ? 2 : 1;
    }
}

tagCellDetectOptions CExcelWriter::StartingConventions(const ExcelWriterOptions& options) {
    // The decimal-comma mode says how numbers read; the automatic mode learns it from the report.
    tagCellDetectOptions conventions;
    conventions.numberStyle =
        options.decimalCommaMode == 1 ? 1 : (options.decimalCommaMode == 2 ? 2 : 0);
    return conventions;
}

tagCellDetectOptions CExcelWriter::LearnConventions(const tagCellDetectOptions& before,
                                                    bool skipFirstPage, bool skipLastPage,
                                                    std::int32_t pageCount,
                                                    const tagOutputPageInfo* pages,
                                                    std::int32_t recordCount) {
    tagCellDetectOptions conventions = before;
    if (pages != nullptr && pageCount > 0) {
        learnConventions(conventions, recordsByPage(pageCount, pages, recordCount),
                         skipFirstPage ? 1 : 0, pageCount - (skipLastPage ? 1 : 0));
    }
    return conventions;
}

CExcelWriter::CellEntry CExcelWriter::readValue(std::string_view text) const {
    CellEntry entry;
    tagCellDetectResult reading;
    ReadCellValue(text, m_conventions, reading);
    if (reading.value.empty()) {
        return entry;
    }
    if (reading.kind == kCellKindNumber && !m_options.noNumberDetection) {
        entry.typed = true;
        entry.value = std::move(reading.value);
        entry.format = std::move(reading.format);
    } else if (reading.kind == kCellKindDate && m_options.textFormatDetection) {
        // "yyyy-mm-ddT..." entered as the workbook's own m/d/yyyy.
        const std::string& v = reading.value;
        entry.typed = true;
        entry.value = std::to_string(std::atoi(v.substr(5, 2).c_str())) + "/" +
                      std::to_string(std::atoi(v.substr(8, 2).c_str())) + "/" + v.substr(0, 4);
        entry.format = std::move(reading.format);
    }
    return entry;
}

void CExcelWriter::settleWrittenRows() {
    if (!m_sheet->WritesSettledRows()) {
        return;
    }
    // Written pages change no more but through recorded deletions once their pending formats
    // are applied; a list held for later pages would keep every row after it waiting. The sheet
    // keeps the deletions it was given, so each is given once.
    std::vector<ExcelRowBlock> deleted;
    for (std::size_t i = m_removalsSettled; i < m_removals.size(); ++i) {
        deleted.push_back({m_removals[i].first, m_removals[i].count});
    }
    m_removalsSettled = m_removals.size();
    try {
        m_formats.FlushPendingFormats(*m_sheet);
        m_sheet->RowsSettled(m_rowsUsed + 1, deleted);
    } catch (const AutomationError& error) {
        failStep("OTEFXL2", error.what());
    }
}

void CExcelWriter::newWorksheet(const tagOutputBatchInfo& batch) {
    finishWorksheet(batch, false);
    if (m_sheetIndex >= m_workbook->WorksheetsCount()) {
        m_workbook->WorksheetsAddAfterLast();
    }
    ++m_sheetIndex;
    m_sheet = &m_workbook->WorksheetsItem(m_sheetIndex);
    m_rowsUsed = 0;
}

void CExcelWriter::finishWorksheet(const tagOutputBatchInfo& batch, bool capWidths) {
    m_formats.FlushPendingFormats(*m_sheet);
    DeleteRecordedRows();
    if (batch.rangeFound != 0 || m_rangeFound) {
        for (std::int32_t c = 1 + m_columnOffset; c <= m_highestColumns + m_columnOffset; ++c) {
            auto range = m_sheet->Range(cellRef(1, c));
            range->EntireColumnAutoFit();
            if (capWidths && range->ColumnWidth() > kMaxColumnWidth) {
                range->SetColumnWidth(kMaxColumnWidth);
            }
        }
    }
    if (m_options.password) {
        m_sheet->Protect(*m_options.password);
    }
    if (m_options.rightToLeft) {
        // Every sheet, not only the last one, reads from the right.
        m_sheet->SetDisplayRightToLeft(true);
    }
}

void CExcelWriter::DeleteRecordedRows() {
    std::int32_t deleted = 0;
    for (const RowRemoval& removal : m_removals) {
        const std::int32_t first = removal.first - deleted;
        m_sheet->Range(cellRef(first, 1), cellRef(first + removal.count - 1, 1))
            ->EntireRowDelete(kShiftUp);
        deleted += removal.count;
    }
    m_removals.clear();
    m_removalsSettled = 0;
}

void CExcelWriter::applyMostUsedFont(const tagOutputPageInfo* pages, std::int32_t p,
                                     std::int32_t lastWritten, const tagOutputBatchInfo& batch) {
    const bool name = m_options.font && batch.fontName != nullptr && batch.fontName[0] != '\0';
    if ((pages[p].writerMark & 0xFF) != 0 || (!name && batch.fontSize == 0)) {
        return;
    }
    std::int64_t rows = 0;
    for (std::int32_t q = p; q <= lastWritten; ++q) {
        if (q > p && m_rowsUsed + rows + pages[q].rowCount > m_rowsPerWorksheet) {
            break;
        }
        rows += pages[q].rowCount;
        const_cast<tagOutputPageInfo&>(pages[q]).writerMark |= 1;
    }
    if (rows <= 0 || m_highestColumns <= 0) {
        return;
    }
    try {
        auto range = m_sheet->Range(cellRef(m_rowsUsed + 1, 1 + m_columnOffset),
                                    cellRef(static_cast<std::int32_t>(m_rowsUsed + rows),
                                            m_columnOffset + std::max(m_highestColumns, 1)));
        if (name) {
            range->SetFontName(toUnicode(batch.fontName));
        }
        if (batch.fontSize != 0) {
            range->SetFontSize(static_cast<std::int16_t>(batch.fontSize));
        }
    } catch (const AutomationError& error) {
        failStep("OTEFXL1", error.what());
    }
}

void CExcelWriter::writePage(const tagOutputPageInfo* pages, std::int32_t p,
                             std::int32_t lastWritten, std::int32_t pageNumber,
                             const tagOutputBatchInfo& batch,
                             const std::vector<const tagOutputCellInfo*>& records) {
    const auto rows = static_cast<std::int32_t>(
        std::min<std::uint32_t>(pages[p].rowCount, static_cast<std::uint32_t>(INT32_MAX / 2)));
    try {
        startPage(rows, pageNumber, batch);
        applyMostUsedFont(pages, p, lastWritten, batch);
        writeRecords(rows, m_highestColumns, batch, records);
        endPage(rows, pageNumber, true);
    } catch (const AutomationError& error) {
        failStep("OTEFXL2", error.what());
    }
    m_firstPageWritten = true;
    m_rowsUsed += rows;
    if (m_options.pageWritten) {
        m_options.pageWritten(pageNumber);
    }
}

void CExcelWriter::startPage(std::int32_t rows, std::int32_t pageNumber,
                             const tagOutputBatchInfo& batch) {
    if (m_rowsUsed + rows > m_rowsPerWorksheet && m_rowsUsed > 0) {
        step("FL_Convert_Proc2_AddNewPage_Start");
        newWorksheet(batch);
    }
    if (m_rowsUsed + rows > m_rowLimit) {
        fail("Page " + std::to_string(pageNumber) + " has " + std::to_string(rows) +
             " rows, more than the " + std::to_string(m_rowLimit) + " rows a worksheet holds.");
    }
    checkColumns(pageNumber);
    step("FL_Convert_Proc2_SetPopFont_Start");
}

void CExcelWriter::checkColumns(std::int32_t pageNumber) {
    if (m_columnOffset + m_highestColumns > kColumnLimit) {
        fail("Page " + std::to_string(pageNumber) + " has " + std::to_string(m_highestColumns) +
             " columns, more than the " + std::to_string(kColumnLimit - m_columnOffset) +
             " columns a worksheet holds.");
    }
}

void CExcelWriter::writeRecords(std::int32_t rows, std::int32_t columns,
                                const tagOutputBatchInfo& batch,
                                const std::vector<const tagOutputCellInfo*>& records) {
    // First pass: which texts must stay text, sent in one block.
    m_flags.assign(records.size(), 0);
    std::vector<CellEntry> entries(records.size());
    m_array.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns), {});
    bool anyInArray = false;
    m_wrappedRows.clear();
    for (std::size_t i = 0; i < records.size(); ++i) {
        checkCancel();
        const tagOutputCellInfo& record = *records[i];
        if (record.text == nullptr) {
            continue;
        }
        const std::string_view text =
            trim({record.text, static_cast<std::size_t>(std::max(record.textLength, 0))});
        CellEntry& entry = entries[i];
        bool asText = false;
        if ((record.kind == kKindText || record.kind == kKindLink) && !text.empty()) {
            entry = readValue(text);
            asText = !entry.typed;
        }
        const bool inBlock =
            record.row >= 0 && record.row < rows && record.column >= 0 && record.column < columns;
        if (asText) {
            m_flags[i] |= kAsText;
            if (inBlock) {
                m_array[static_cast<std::size_t>(record.row) * columns + record.column] =
                    toUnicode(text);
                m_flags[i] |= kThroughArray;
                anyInArray = true;
            }
        }
        // A text sent in the block is not needed again.
        if (!entry.typed && !(asText && inBlock)) {
            entry.value.assign(text);
        }
        if (text.size() > kWrapAbove) {
            const std::int32_t row = m_rowsUsed + record.row + 1;
            m_sheet->Range(cellRef(row, m_columnOffset + record.column + 1))->SetWrapText(true);
            if (m_wrappedRows.size() < kMaxWrappedRows &&
                std::find(m_wrappedRows.begin(), m_wrappedRows.end(), row) == m_wrappedRows.end()) {
                m_wrappedRows.push_back(row);
            }
        }
    }
    step("FL_Convert_Proc2_AddToArray_Now");
    if (anyInArray && rows > 0 && columns > 0) {
        m_sheet
            ->Range(cellRef(m_rowsUsed + 1, 1 + m_columnOffset),
                    cellRef(m_rowsUsed + rows, m_columnOffset + columns))
            ->SetValueArray(m_array, rows, columns);
    }

    // Second pass: typed values, links, pictures and formats.
    for (std::size_t i = 0; i < records.size(); ++i) {
        const tagOutputCellInfo& record = *records[i];
        if (i % 10000 == 9999 && m_options.activityStamp != nullptr) {
            *m_options.activityStamp = std::time(nullptr);
        }
        const std::int32_t row = m_rowsUsed + record.row + 1;
        const std::int32_t column = m_columnOffset + record.column + 1;
        const std::string cell = cellRef(row, column);
        const bool hasText = record.text != nullptr && record.textLength > 0;
        if (hasText) {
            const CellEntry& entry = entries[i];
            if (record.kind == kKindImage) {
                if (m_options.images) {
                    addPicture(record, entry.value, cell);
                }
            } else if (record.kind == kKindText || record.kind == kKindLink) {
                if ((m_flags[i] & kAsText) == 0) {
                    if (m_numberFormats) {
                        setNumberFormat(entry.format, cell);
                    }
                    writeValue(entry.value, row, column);
                } else if ((m_flags[i] & kThroughArray) == 0) {
                    // Outside the page's block: a block of its own keeps it text.
                    m_sheet->Range(cell)->SetValueArray({toUnicode(entry.value)}, 1, 1);
                }
                if (record.kind == kKindLink) {
                    addLink(record,
                            trim({record.text,
                                  static_cast<std::size_t>(std::max(record.textLength, 0))}),
                            cell);
                }
            }
        }
        const bool single = record.rowSpan <= 1 && record.columnSpan <= 1;
        const bool fontName =
            hasText && m_options.font && record.fontName != nullptr && record.fontName[0] != '\0' &&
            (batch.fontName == nullptr || std::strcmp(record.fontName, batch.fontName) != 0);
        const bool bold = hasText && m_options.font && record.bold != 0;
        const bool fontColour = hasText && m_options.colour && record.fontColour != 0;
        const bool fontSize = hasText && record.fontSize != 0 && record.fontSize != batch.fontSize;
        const bool background = record.backgroundColour != kNoBackground;
        std::string target = cell;
        bool merged = false;
        if (!single) {
            // The span stays inside the page's grid.
            const std::int32_t lastRow =
                std::min(record.row + std::max(record.rowSpan, 1), rows) - 1;
            const std::int32_t lastColumn =
                std::min(record.column + std::max(record.columnSpan, 1), columns) - 1;
            target = cell + ":" +
                     cellRef(m_rowsUsed + std::max(lastRow, record.row) + 1,
                             m_columnOffset + std::max(lastColumn, record.column) + 1);
            auto range = m_sheet->Range(target);
            if (m_options.mergeSpannedCells) {
                range->Merge();
                merged = true;
            }
            if (record.alignment != 0) {
                range->SetHorizontalAlignment(static_cast<std::int16_t>(record.alignment + 1));
            }
        }
        if (fontName) {
            m_formats.AddFontNameRange(target, toUnicode(record.fontName), *m_sheet);
        }
        if (bold) {
            m_formats.AddBoldRange(target, *m_sheet);
        }
        if (fontColour) {
            m_formats.AddFontColorRange(target, static_cast<std::int32_t>(record.fontColour),
                                        *m_sheet);
        }
        if (fontSize) {
            m_formats.AddFontSizeRange(target, static_cast<std::int16_t>(record.fontSize),
                                       *m_sheet);
        }
        if (background) {
            try {
                m_formats.AddInteriorColorRange(
                    target, static_cast<std::int32_t>(record.backgroundColour), *m_sheet);
            } catch (const AutomationError& error) {
                failStep("OTEFXL6", error.what());
            }
        }
        if (m_options.html && !merged) {
            m_formats.AddAlignmentRange(cell, record.alignment, *m_sheet);
        }
        if (record.framed != 0) {
            auto range = m_sheet->Range(target);
            range->SetBordersLineStyle(1);
            range->SetBordersWeight(2);
        }
    }

    step("SetValue_End*3");
    for (const std::int32_t row : m_wrappedRows) {
        m_sheet->Range(cellRef(row, 1))->EntireRowAutoFit();
    }
}

void CExcelWriter::endPage(std::int32_t rows, std::int32_t pageNumber, bool label) {
    const std::int32_t top = m_options.rowsDeletedAtTop;
    const std::int32_t bottom = m_options.rowsDeletedAtBottom;
    if ((top > 0 || bottom > 0) && std::max(top, 0) + std::max(bottom, 0) < rows) {
        if (top > 0 && m_firstPageWritten) {
            m_removals.push_back({m_rowsUsed + 1, top});
        }
        if (bottom > 0) {
            m_removals.push_back({m_rowsUsed + rows - bottom + 1, bottom});
        }
    }
    if (m_options.markPages) {
        const std::int32_t labelRow = m_rowsUsed + std::max(top, 0) + 1;
        if (label) {
            writeLabel(labelRow, pageNumber);
        }
        if (m_options.lastPage - m_options.firstPage < kPageBreakRangeLimit && labelRow > 1 &&
            m_pageBreaks < kMaxPageBreaks) {
            m_sheet->HPageBreaksAdd(cellRef(labelRow, 1));
            ++m_pageBreaks;
        }
    }
}

void CExcelWriter::writeLabel(std::int32_t row, std::int32_t pageNumber) {
    auto range = m_sheet->Range(cellRef(row, 1));
    range->SetValue("Page " + std::to_string(pageNumber));
    range->SetInteriorColor(kPageLabelColour);
}

void CExcelWriter::setNumberFormat(const std::string& format, const std::string& cell) {
    if (format.empty()) {
        return;
    }
    ++m_numberFormatCount;
    std::unique_ptr<ExcelRange> range;
    try {
        range = m_sheet->Range(cell);
    } catch (const AutomationError& error) {
        // A refused range ends the export as a failure, not as a silent success.
        failStep("OTEGRGE1", error.what());
    }
    try {
        // Invariant codes: the format reads the same whatever the user's marks are.
        range->SetNumberFormat(format);
    } catch (const AutomationError& error) {
        m_numberFormats = false;
        Abandon();
        m_report.SetExceptionText(error.what(), "OTEFSNF");
        m_report.SetErrorText(m_report.GetErrorText() + " More info: Order:" +
                              std::to_string(m_numberFormatCount) + " Format: [" + format + "]");
        throw ConversionError(-1, m_report.GetErrorText());
    }
}

void CExcelWriter::writeValue(std::string_view text, std::int32_t row, std::int32_t column) {
    if (passesAsIs(text)) {
        m_sheet->CellsItem(row, column, text);
        return;
    }
    m_sheet->CellsItem(row, column, toUnicode(text));
}

void CExcelWriter::addLink(const tagOutputCellInfo& record, std::string_view shown,
                           const std::string& cell) {
    const char* address = record.text + record.textLength + 1;
    const std::size_t length = std::strlen(address);
    if (length == 0) {
        return;
    }
    const std::string target = LinkTarget({address, length}, m_options.baseFolder);
    if (!target.empty()) {
        m_sheet->HyperlinksAdd(cell, target, toUnicode(shown));
    }
}

void CExcelWriter::addPicture(const tagOutputCellInfo& record, std::string_view link,
                              const std::string& cell) {
    if (m_options.baseFolder.empty() || !m_options.fetchLinkedFile) {
        return;
    }
    try {
        auto range = m_sheet->Range(cell);
        range->Activate();
        const std::string path = m_options.fetchLinkedFile(link);
        if (path.empty()) {
            return;
        }
        const double width = record.size >> 16;
        const double height = record.size & 0xFFFF;
        m_sheet->PicturesInsert(path, height, width);
        if (height > 15) {
            range->SetRowHeight(height);
        }
        if (width > 15) {
            range->SetColumnWidth(width / 12);
        }
    } catch (const AutomationError&) {
        // The picture is left out; the cells still count.
    }
}

bool CExcelWriter::Finish(const std::string& outputPath) {
    tagOutputBatchInfo none;
    try {
        finishWorksheet(none, true);
        m_workbook->WorksheetsItem(1).Activate();
    } catch (const AutomationError& error) {
        failStep("OTEFXL2", error.what());
    }
    bool kept = false;
    try {
        if (m_options.password) {
            m_application.SetDisplayAlerts(false);
            m_workbook->ProtectSharing(*m_options.password);
            m_application.SetDisplayAlerts(true);
        }
        const std::atomic<std::int32_t>* const cancel = m_options.cancel;
        kept = m_workbook->SaveCopyAs(
            outputPath, [cancel] { return cancel == nullptr || cancel->load() == 0; });
        m_linksLeftOut = m_workbook->LinksLeftOut();
        m_workbook->Close();
        m_workbook = nullptr;
        m_sheet = nullptr;
        m_open = false;
        m_application.Quit();
    } catch (const AutomationError& error) {
        failStep((std::string("OTEFXL4:Run Excel AS ") + kLaunchIdentity).c_str(), error.what());
    }
    return kept;
}

}  // namespace paginor
