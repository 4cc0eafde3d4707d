#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_errors.h"
#include "convert/write/excel_automation.h"
#include "convert/write/xlsx/workbook.h"
#include "core/report_core.h"

namespace paginor {

inline constexpr std::int32_t kMaxBatchPages = 238;
inline constexpr std::int64_t kMaxBatchBytes = 12582912;
// First-row layout of a page: the sum of its cell widths, its column count and the widths as
// "n,n,".
struct FirstRowLayout {
    std::int32_t widthSum = 0;
    std::int32_t columnCount = 0;
    std::string widths;
};

// Parses the first row of the page's table; throws ConversionError 18, 27, 28 or 29.
FirstRowLayout ParseFirstRowWidths(std::string_view text);
bool IsSameColumnLayout(std::string_view a, std::string_view b);
// The number at position of a comma list; position moves past its comma. False at the end or for
// a piece of 32 characters or more.
bool ReadNextListNumber(std::string_view list, std::size_t& position, std::int64_t& value);
// Blanks the markup of tables inside the first table of text.
void ScanTables(char* text, std::size_t length);

// The batching state kept across batches of one conversion.
struct BatchLayoutState {
    std::int32_t scanPosition = 0;
    std::int32_t widthSum = 0;
    FirstRowLayout first;  // of the batch's first page
};

struct BatchSource {
    bool html = true;
    std::function<std::int64_t(std::int32_t page)> pageLength;
    std::function<FirstRowLayout(std::int32_t page)> layout;
};

// HTMLCSS pages come in blocks on which the report generator starts its TOP values again: a
// page whose number is a multiple of kPageBlock stands alone, the pages between two such
// multiples form one block. A batch's TOP values must grow with its pages, so no batch crosses a
// block and a reference page joins only the batches of its own block.
inline constexpr std::int32_t kPageBlock = CReportCore::kPageBlock;
bool InSamePageBlock(std::int32_t a, std::int32_t b);

std::int32_t GetNextBatchSize(const BatchSource& source, std::int32_t lastPage,
                              std::int32_t firstPage, BatchLayoutState& state, bool pageByPage,
                              bool sameLayoutCheck);

enum class ExportFileFormat : std::int32_t {
    AutoSelect = 0,
    Delimited = 1,
    NativeExcel = 2,
    ExcelCompatible = 3,
    SpreadsheetMl = 4,
};

// The export options of one conversion, in the order the export dialog fills them.
struct ExcelOutputOptions {
    ProgressSink mainWindowProgress;  // when set, receives every new percentage and 0 at the end
    std::int32_t firstPage = 1;
    std::int32_t lastPage = 1;
    ExportFileFormat fileFormat = ExportFileFormat::AutoSelect;
    std::int32_t rowsPerWorksheet = 0;
    std::int32_t engineNumber = 0;  // 0 means the default engine
    bool colour = false;
    bool font = false;
    bool noNumberDetection = false;
    std::string outputPath;
    std::string* writtenPath = nullptr;  // receives the path written (a workbook may gain "x")
    // Receives what the user is to be told of an export that succeeded (what the file could not
    // hold); empty when there is nothing to tell.
    std::string* notice = nullptr;
    std::int32_t decimalCommaMode = 0;   // 0 automatic, 1 on, 2 off
    bool textFormatDetection = false;
    bool markPages = false;
    const std::atomic<std::int32_t>* cancel = nullptr;  // non-zero stops with error 19
    std::int32_t* progress = nullptr;                   // receives the percentage reached
    std::string* stepBuffer = nullptr;                  // receives the step in progress
    std::size_t stepBufferSize = 512;
    bool images = false;
    bool headerFooterRemoval = false;
    bool mergeSpannedCells = false;
    std::time_t* activityStamp = nullptr;
    std::int32_t rowsDeletedAtTop = 0;
    std::int32_t rowsDeletedAtBottom = 0;
    bool pageByPage = false;
    bool* savedAs2007 = nullptr;
    std::optional<std::string> password;
    bool sameLayoutBatches = false;
    TextDirection textDirection = TextDirection::NotStated;  // when the report states none
    // Starts the workbook application, by default the built-in xlsx writer. Empty stands for a
    // machine without one: Auto Select then writes SpreadsheetML and Native Excel fails.
    ExcelLauncher excel = StartXlsxApplication;
    // Batches converted at once; 0 takes ConversionThreads' default. 1 converts one batch after
    // the other on the calling thread.
    std::int32_t threads = 0;
};

inline constexpr const char* kThreadsVariable = "PAGINOR_CONVERT_THREADS";
inline constexpr std::int32_t kMaxThreads = 64;
inline constexpr unsigned kDefaultMaxThreads = 8;

// The batches a conversion converts at once: requested when above 0, else the number in the
// environment variable's value when set, else the cores, at most kDefaultMaxThreads. 0 when the
// value is not a whole number from 1 to kMaxThreads.
std::int32_t ConversionThreads(std::int32_t requested, const char* variable, unsigned cores);
std::int32_t ConversionThreads(std::int32_t requested);

// True when a conversion of this format writes an xlsx workbook: Auto Select and Native Excel
// with a workbook application.
bool WritesWorkbook(ExportFileFormat format, const ExcelLauncher& excel = StartXlsxApplication);

// The path a conversion of this format writes for outputPath: a workbook application saves the
// 2007 format under a ".xlsx" name (WorkbookPath2007); every other kind writes outputPath itself.
std::string OutputPathWritten(const std::string& outputPath, ExportFileFormat format,
                              const ExcelLauncher& excel = StartXlsxApplication);

// Converts a page range of the loaded report into the output file. Returns 0; every failure
// stores its code in the report and throws ConversionError with the message. The output file
// appears under its name only when the conversion succeeded.
std::int32_t OutputToExcelFile(CReportCore& report, const ExcelOutputOptions& options);

}  // namespace paginor
