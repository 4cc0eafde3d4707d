#include "convert/conversion_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "convert/convert_engine.h"
#include "convert/write/excel_writer.h"
#include "convert/write/spreadsheet_ml.h"
#include "convert/write/workbook_archive.h"
#include "core/env_info.h"
#include "core/report_core.h"
#include "platform/replacing_file.h"
#include "platform/sys_error.h"
#include "platform/user_info.h"

namespace paginor {

namespace {

constexpr std::size_t kLayoutScanBytes = 16384;
constexpr std::size_t kTableSearchBytes = 256;
constexpr std::size_t kMaxListPiece = 32;

bool startsNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (at + word.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char a = text[at + i];
        const char lower = a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a;
        if (lower != word[i]) {
            return false;
        }
    }
    return true;
}

std::size_t findNoCase(std::string_view text, std::string_view word, std::size_t from,
                       std::size_t end = std::string_view::npos) {
    end = std::min(end, text.size());
    for (std::size_t at = from; at + word.size() <= end; ++at) {
        if (startsNoCase(text, at, word)) {
            return at;
        }
    }
    return std::string_view::npos;
}

[[noreturn]] void fail(std::int32_t code, std::string text) {
    throw ConversionError(code, std::move(text));
}

std::int32_t readNumberAfter(std::string_view tag, std::size_t at) {
    while (at < tag.size() && (tag[at] < '0' || tag[at] > '9')) {
        ++at;
    }
    std::int32_t value = 0;
    for (; at < tag.size() && tag[at] >= '0' && tag[at] <= '9'; ++at) {
        value = std::min(value * 10 + (tag[at] - '0'), 100000000);
    }
    return value;
}

}  // namespace

FirstRowLayout ParseFirstRowWidths(std::string_view text) {
    FirstRowLayout layout;
    std::size_t table = 0;
    if (!startsNoCase(text, 0, "<table ")) {
        table = findNoCase(text, "<table ", 0, kTableSearchBytes);
        if (table == std::string_view::npos) {
            fail(kErrNoTable, errorTableText(kErrNoTable));
        }
    }
    const auto tableEnd = text.find('>', table);
    if (tableEnd == std::string_view::npos) {
        fail(kErrNoTableTagEnd, errorTableText(kErrNoTableTagEnd));
    }
    const auto row = findNoCase(text, "<tr", tableEnd);
    if (row == std::string_view::npos) {
        fail(kErrNoRow, errorTableText(kErrNoRow));
    }
    auto rowEnd = findNoCase(text, "</tr>", row);
    if (rowEnd == std::string_view::npos) {
        rowEnd = findNoCase(text, "<tr", row + 3);
        if (rowEnd == std::string_view::npos) {
            fail(kErrNoRowEnd, errorTableText(kErrNoRowEnd));
        }
    }
    const std::string_view rowText = text.substr(0, rowEnd);
    for (auto cell = findNoCase(rowText, "<td", row); cell != std::string_view::npos;
         cell = findNoCase(rowText, "<td", cell + 3)) {
        const auto close = rowText.find('>', cell);
        const std::string_view tag = rowText.substr(
            cell, close == std::string_view::npos ? rowText.size() - cell : close - cell);
        const auto width = findNoCase(tag, "width=", 0);
        if (width == std::string_view::npos) {
            break;
        }
        const std::int32_t value = readNumberAfter(tag, width + 6);
        layout.widthSum += value;
        layout.widths += std::to_string(value) + ",";
        const auto span = findNoCase(tag, "colspan=", 0);
        layout.columnCount += span == std::string_view::npos ? 1 : readNumberAfter(tag, span + 8);
    }
    return layout;
}

bool ReadNextListNumber(std::string_view list, std::size_t& position, std::int64_t& value) {
    if (position >= list.size()) {
        return false;
    }
    auto comma = list.find(',', position);
    if (comma == std::string_view::npos) {
        comma = list.size();
    }
    const std::string_view piece = list.substr(position, comma - position);
    position = comma + 1;
    if (piece.size() >= kMaxListPiece) {
        return false;
    }
    value = 0;
    for (const char c : piece) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
        }
    }
    return true;
}

bool IsSameColumnLayout(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && startsNoCase(a, 0, std::string(b))) {
        return true;
    }
    // An over-long piece cannot be compared: the layouts count as different.
    for (const std::string_view list : {a, b}) {
        for (std::size_t at = 0, end; at < list.size(); at = end + 1) {
            end = std::min(list.find(',', at), list.size());
            if (end - at >= kMaxListPiece) {
                return false;
            }
        }
    }
    // Two lists are one layout when one only groups the other's widths: every column boundary
    // of the coarser list is a boundary of the finer one ("100,50" and "150" agree, "100,50" and
    // "50,100" do not).
    auto boundaries = [](std::string_view list) {
        std::vector<std::int64_t> sums;
        std::int64_t sum = 0;
        std::int64_t value = 0;
        for (std::size_t at = 0; ReadNextListNumber(list, at, value);) {
            sum += value;
            sums.push_back(sum);
        }
        return sums;
    };
    const std::vector<std::int64_t> left = boundaries(a);
    const std::vector<std::int64_t> right = boundaries(b);
    auto within = [](const std::vector<std::int64_t>& coarse,
                     const std::vector<std::int64_t>& fine) {
        return std::includes(fine.begin(), fine.end(), coarse.begin(), coarse.end());
    };
    return within(left, right) || within(right, left);
}

void ScanTables(char* text, std::size_t length) {
    static constexpr std::string_view kTags[] = {"<table ", "<td>",  "<td ",  "<tr>",
                                                 "<tr ",    "</td>", "</tr>", "</table>"};
    const std::string_view view(text, length);
    const auto first = findNoCase(view, "<table ", 0);
    if (first == std::string_view::npos) {
        return;
    }
    for (auto inner = findNoCase(view, "<table ", first + 7); inner != std::string_view::npos;) {
        const auto close = findNoCase(view, "</table>", inner);
        const auto end = close == std::string_view::npos ? length : close + 8;
        for (auto at = view.find('<', inner); at != std::string_view::npos && at < end;
             at = view.find('<', at + 1)) {
            const bool listed =
                std::any_of(std::begin(kTags), std::end(kTags),
                            [&](std::string_view tag) { return startsNoCase(view, at, tag); });
            if (!listed) {
                continue;
            }
            const auto gt = view.find('>', at);
            const auto stop = gt == std::string_view::npos ? length : gt + 1;
            std::fill(text + at, text + stop, ' ');
            at = stop - 1;
        }
        if (close == std::string_view::npos) {
            return;
        }
        inner = findNoCase(view, "<table ", end);
    }
}

std::int32_t GetNextBatchSize(const BatchSource& source, std::int32_t lastPage,
                              std::int32_t firstPage, BatchLayoutState& state, bool pageByPage,
                              bool sameLayoutCheck) {
    const std::int32_t maximum = pageByPage ? 1 : kMaxBatchPages;
    if (firstPage > lastPage) {
        return 0;
    }
    std::int32_t count = lastPage - firstPage + 1;
    if (source.html) {
        if (firstPage > state.scanPosition) {
            state.scanPosition = lastPage;
            for (std::int32_t p = firstPage; p <= lastPage; ++p) {
                FirstRowLayout layout = source.layout(p);
                if (p == firstPage) {
                    if (state.widthSum <= 0) {
                        state.widthSum = layout.widthSum;
                    }
                    state.first = std::move(layout);
                    continue;
                }
                const bool breaks = layout.widthSum != state.widthSum ||
                                    (sameLayoutCheck && p != lastPage &&
                                     !IsSameColumnLayout(layout.widths, state.first.widths));
                if (breaks) {
                    state.scanPosition = p - 1;
                    state.widthSum = layout.widthSum;
                    break;
                }
            }
        }
        count = std::max(state.scanPosition - firstPage + 1, 0);
    }
    if (count == 0) {
        return 0;
    }
    const std::int32_t batches = (count - 1) / maximum + 1;
    std::int32_t size = count / batches;
    if (size > 1) {
        std::int64_t total = 0;
        for (std::int32_t i = 0; i < size; ++i) {
            total += source.pageLength(firstPage + i);
            if (total > kMaxBatchBytes) {
                size = i + 1;
                break;
            }
        }
    }
    return size;
}

namespace {

constexpr std::int64_t kBufferStep = 262144;
constexpr std::int32_t kArabicCodePage = 1256;
constexpr std::uint16_t kLangArabic = 0x01;

constexpr std::string_view kXmlFailure =
    "Tabulan failed to generate XML report due to a fatal bug.";

constexpr std::uint16_t kLangSpanish = 0x0A;
constexpr std::uint16_t kLangItalian = 0x10;

enum class OutputKind { Excel, Delimited, WebArchive, SpreadsheetMl };

// One conversion: the batch loop over the page range and everything it keeps across batches.
class ExcelFileDriver {
public:
    ExcelFileDriver(CReportCore& report, const ExcelOutputOptions& options)
        : m_report(report), m_options(options) {}

    std::int32_t run();

private:
    [[noreturn]] void raise(std::int32_t code, std::string ownText = {});
    [[noreturn]] void raiseReported(std::int32_t code);
    void step(std::string_view name);
    void stamp();
    TextDirection effectiveDirection() const;
    void checkRange();
    OutputKind chooseOutputKind();
    [[noreturn]] void RaiseExcelUnavailable();
    FirstRowLayout GetPageFirstRowWidths(std::int32_t page);
    const FirstRowLayout& cachedLayout(std::int32_t page, std::optional<FirstRowLayout>& cache);
    bool joinsBatch(std::int32_t page, std::optional<FirstRowLayout>& cache);
    void GatherBatchText(std::int32_t first, std::int32_t last);
    void appendPage(std::int32_t page);
    void convertBatch(std::int32_t first, std::int32_t last, OutputKind kind);
    void writeBatch(std::int32_t first, OutputKind kind, const void* output,
                    std::int64_t textLength, std::int32_t columns, std::int32_t records);
    void ensureWriter();
    void reportProgress(std::int32_t last);
    [[noreturn]] void raiseEngineFailure(const ConvertError& error);
    std::string bugRequest(std::string_view opening) const;
    void writeFile(std::string_view data);
    void finish(OutputKind kind);
    void startExcel();
    void runBatches(OutputKind kind);

    CReportCore& m_report;
    const ExcelOutputOptions& m_options;
    bool m_html = true;
    std::int32_t m_pageCount = 0;
    TextDirection m_direction = TextDirection::NotStated;
    CConvertEngine m_engine;
    std::unique_ptr<ReplacingFile> m_file;
    std::unique_ptr<CSpreadsheetMLWriter> m_writer;
    std::unique_ptr<WorkbookArchive> m_archive;
    std::unique_ptr<ExcelApplication> m_excel;
    std::unique_ptr<CExcelWriter> m_excelWriter;
    std::string m_outputPath;

    BatchLayoutState m_layoutState;
    std::uint8_t m_useFirstPage = 0;
    bool m_useLastPage = false;
    std::optional<FirstRowLayout> m_firstPageLayout;
    std::optional<FirstRowLayout> m_lastPageLayout;
    std::optional<std::string> m_firstPageText;
    std::vector<char> m_buffer;
    std::int64_t m_batchLength = 0;
    std::vector<std::int64_t> m_pageOffsets;
    std::vector<std::int32_t> m_pageList;
    bool m_firstPrepended = false;
    bool m_lastAppended = false;
    std::vector<tagOutputPageInfo> m_outputPages;
    tagOutputBatchInfo m_batchInfo;
    std::int32_t m_highestProgress = 2;
};

void ExcelFileDriver::raise(std::int32_t code, std::string ownText) {
    if (code == -1) {
        m_report.SetErrorText(std::move(ownText));
    } else {
        m_report.SetErrorCode(code);
    }
    throw ConversionError(code, m_report.GetErrorText());
}

void ExcelFileDriver::raiseReported(std::int32_t code) {
    throw ConversionError(m_report.SetErrorCode(code), m_report.GetErrorText());
}

void ExcelFileDriver::step(std::string_view name) {
    if (m_options.stepBuffer != nullptr && m_options.stepBufferSize > 0) {
        m_options.stepBuffer->assign(name.substr(0, m_options.stepBufferSize - 1));
    }
}

void ExcelFileDriver::stamp() {
    if (m_options.activityStamp != nullptr) {
        *m_options.activityStamp = std::time(nullptr);
    }
}

// The user's locale stands in for the system's ANSI code page: Arabic means 1256.
TextDirection ExcelFileDriver::effectiveDirection() const {
    if (m_report.textDirection() != TextDirection::NotStated) {
        return m_report.textDirection();
    }
    if (m_options.textDirection != TextDirection::NotStated) {
        return m_options.textDirection;
    }
    const bool arabicSystem = (userDefaultLangId() & 0x3FF) == kLangArabic;
    return arabicSystem || m_report.codePage() == kArabicCodePage ? TextDirection::RightToLeft
                                                                  : TextDirection::NotStated;
}

void ExcelFileDriver::checkRange() {
    if (m_report.state() == 0) {
        raise(kErrReportNotLoaded);
    }
    m_pageCount = static_cast<std::int32_t>(m_report.pageTable().size());
    if (m_options.firstPage > m_pageCount || m_options.lastPage > m_pageCount) {
        raise(-1, "Please input page number between 1 and " + std::to_string(m_pageCount) + " .");
    }
    // A range that yields no batch would end as an empty success.
    try {
        m_report.CheckPageRange(m_options.firstPage, m_options.lastPage);
    } catch (const ReportError& error) {
        raiseReported(error.code());
    }
}

OutputKind ExcelFileDriver::chooseOutputKind() {
    switch (m_options.fileFormat) {
        case ExportFileFormat::Delimited:
            return OutputKind::Delimited;
        case ExportFileFormat::SpreadsheetMl:
            return OutputKind::SpreadsheetMl;
        case ExportFileFormat::ExcelCompatible:
            return OutputKind::WebArchive;
        case ExportFileFormat::AutoSelect:
        case ExportFileFormat::NativeExcel:
        default:
            break;
    }
    if (!IsExcelAppIdRegistered(m_options.excel)) {
        // No workbook application here: Auto Select falls back, Native Excel cannot be had.
        if (m_options.fileFormat == ExportFileFormat::AutoSelect) {
            return OutputKind::SpreadsheetMl;
        }
        raise(-1,
              "Unable to access Microsoft Excel runtime. Please install Microsoft Office on "
              "the server/machine");
    }
    try {
        m_excel = m_options.excel();
    } catch (const std::exception&) {
        m_excel.reset();
    }
    if (!m_excel) {
        RaiseExcelUnavailable();
    }
    return OutputKind::Excel;
}

void ExcelFileDriver::RaiseExcelUnavailable() {
    raise(-1, "Unable to access Microsoft Excel runtime. Please contact " + supportAddress() +
                  " for more information. More info: user name: " + GetWindowsUserName());
}

FirstRowLayout ExcelFileDriver::GetPageFirstRowWidths(std::int32_t page) {
    const tagPageInfo& info = m_report.pageTable()[static_cast<std::size_t>(page - 1)];
    std::int64_t length = std::min<std::int64_t>(info.length, kLayoutScanBytes);
    if (length <= 0) {
        raise(kErrNoTable);
    }
    try {
        m_report.CopyToStringBuffer(info.start, '\0', length);
        return ParseFirstRowWidths(
            std::string_view(m_report.tagBuffer(), static_cast<std::size_t>(length)));
    } catch (const ReportError& error) {
        raiseReported(error.code());
    } catch (const ConversionError& error) {
        raise(error.code());
    }
}

const FirstRowLayout& ExcelFileDriver::cachedLayout(std::int32_t page,
                                                    std::optional<FirstRowLayout>& cache) {
    if (!cache) {
        cache = GetPageFirstRowWidths(page);
    }
    return *cache;
}

// A reference page joins a batch of an HTML report only when it has the batch's layout.
bool ExcelFileDriver::joinsBatch(std::int32_t page, std::optional<FirstRowLayout>& cache) {
    if (!m_html) {
        return true;
    }
    const FirstRowLayout& layout = cachedLayout(page, cache);
    return layout.widthSum == m_layoutState.first.widthSum &&
           IsSameColumnLayout(layout.widths, m_layoutState.first.widths);
}

void ExcelFileDriver::GatherBatchText(std::int32_t first, std::int32_t last) {
    m_pageList.clear();
    m_pageOffsets.clear();
    m_firstPrepended = m_useFirstPage != 0 && first > 1 && joinsBatch(1, m_firstPageLayout);
    if (m_firstPrepended) {
        m_pageList.push_back(1);
    }
    for (std::int32_t p = first; p <= last; ++p) {
        m_pageList.push_back(p);
    }
    m_lastAppended =
        m_useLastPage && last < m_pageCount && joinsBatch(m_pageCount, m_lastPageLayout);
    if (m_lastAppended) {
        m_pageList.push_back(m_pageCount);
    }
    std::int64_t needed = 0;
    for (const std::int32_t p : m_pageList) {
        needed += m_report.pageTable()[static_cast<std::size_t>(p - 1)].length;
    }
    if (needed > static_cast<std::int64_t>(m_buffer.size())) {
        try {
            std::vector<char>().swap(m_buffer);
            m_buffer.resize(
                static_cast<std::size_t>((needed + kBufferStep - 1) / kBufferStep * kBufferStep));
        } catch (const std::bad_alloc&) {
            m_report.SetSystemErrorText("OTEFGA1", ENOMEM);
            raiseReported(-1);
        }
    }
    m_batchLength = 0;
    for (const std::int32_t p : m_pageList) {
        appendPage(p);
    }
}

void ExcelFileDriver::appendPage(std::int32_t page) {
    const tagPageInfo& info = m_report.pageTable()[static_cast<std::size_t>(page - 1)];
    std::string_view text;
    if (page == 1 && m_firstPageText) {
        text = *m_firstPageText;
    } else {
        std::int64_t length = info.length;
        try {
            m_report.CopyToStringBuffer(info.start, '\0', length);
        } catch (const ReportError& error) {
            raiseReported(error.code());
        }
        text = std::string_view(m_report.tagBuffer(), static_cast<std::size_t>(length));
        if (page == 1 && m_useFirstPage != 0 && m_options.lastPage > 1) {
            m_firstPageText.emplace(text);
        }
    }
    char* destination = m_buffer.data() + m_batchLength;
    std::memcpy(destination, text.data(), text.size());
    if (m_html && m_report.nestedTable()) {
        ScanTables(destination, text.size());
    }
    m_pageOffsets.push_back(m_batchLength);
    m_batchLength += static_cast<std::int64_t>(text.size());
}

std::string ExcelFileDriver::bugRequest(std::string_view opening) const {
    return std::string(opening) + "<br>Please send the file to " + supportAddress() +
           " :<font color=\"#FF0000\">" + m_report.reportPath() + "</font>";
}

void ExcelFileDriver::raiseEngineFailure(const ConvertError& error) {
    if (m_options.mainWindowProgress) {
        m_options.mainWindowProgress(0);
    }
    const std::int32_t code = error.code();
    if (code >= 1 && code <= 4) {
        raise(-1, bugRequest("Tabulan failed to convert your report because of a bug (#" +
                             std::to_string(code) + ") of conversion engine."));
    }
    if (code == 0) {
        raise(-1, m_report.GetErrorText());
    }
    std::string text;
    m_engine.GetErrorText(text);
    raise(-1, text);
}

void ExcelFileDriver::convertBatch(std::int32_t first, std::int32_t last, OutputKind kind) {
    const void* output = nullptr;
    std::int64_t textLength = 0;
    std::int32_t columns = 0;
    std::int32_t records = 0;
    try {
        m_report.CheckPageRange(first, last);
        GatherBatchText(first, last);
        if (m_options.cancel != nullptr && m_options.cancel->load() != 0) {
            raise(kErrCancelled);
        }
        const bool delimited = kind == OutputKind::Delimited;
        const bool excel = kind == OutputKind::Excel;
        m_outputPages.assign(m_pageList.size(), tagOutputPageInfo{});
        m_batchInfo = tagOutputBatchInfo{};
        m_batchInfo.pages = m_outputPages.data();
        std::uint8_t colour = excel ? (m_options.colour ? 1 : 0) : (delimited ? 0 : 1);
        const bool lastBatch = last == m_pageCount;
        step("FL_Convert_GetCSVOutput104");
        step("FL1)Please send the file to " + supportAddress() + ": " + m_report.reportPath());
        m_engine.GetCSVOutput104(
            m_buffer.data(), m_batchLength, m_pageOffsets.data(),
            static_cast<std::int32_t>(m_pageOffsets.size()), &output, &textLength, &columns,
            &records,
            delimited                           ? kOutputDelimited
            : kind == OutputKind::SpreadsheetMl ? kOutputRecordsSml
                                                : kOutputRecords,
            &colour, delimited || excel ? m_options.font : true, &m_batchInfo, m_options.markPages,
            !delimited || !m_firstPrepended, !delimited || !m_lastAppended, &m_useFirstPage,
            m_options.engineNumber, m_options.headerFooterRemoval, first - 1, lastBatch,
            first == 1 && lastBatch && !m_firstPrepended && !m_lastAppended, false,
            m_options.stepBuffer);
    } catch (const ConversionError&) {
        throw;
    } catch (const ConvertError& error) {
        raiseEngineFailure(error);
    } catch (const ReportError& error) {
        raiseReported(error.code());
    } catch (const std::exception& error) {
        raise(-1, bugRequest("Tabulan failed to convert your report because of a bug of "
                             "conversion engine.") +
                      "<br>Information for vender:" + error.what());
    } catch (...) {
        raise(-1, bugRequest("Tabulan failed to convert your report because of a bug of "
                             "conversion engine.") +
                      "Information for vender:Format: Delimited");
    }
    writeBatch(first, kind, output, textLength, columns, records);
}

void ExcelFileDriver::writeBatch(std::int32_t first, OutputKind kind, const void* output,
                                 std::int64_t textLength, std::int32_t columns,
                                 std::int32_t records) {
    if (kind == OutputKind::Excel) {
        m_excelWriter->WriteBatch(first, m_firstPrepended, m_lastAppended,
                                  static_cast<std::int32_t>(m_outputPages.size()), columns,
                                  m_outputPages.data(), m_batchInfo, records);
        return;
    }
    if (kind == OutputKind::Delimited) {
        if (output != nullptr && textLength > 0) {
            writeFile({static_cast<const char*>(output), static_cast<std::size_t>(textLength)});
        }
        return;
    }
    try {
        if (kind == OutputKind::WebArchive) {
            if (!m_archive) {
                m_archive = std::make_unique<WorkbookArchive>(m_report, m_options.decimalCommaMode);
            }
            m_archive->WriteSheetTable(
                m_firstPrepended, m_lastAppended, static_cast<std::int32_t>(m_outputPages.size()),
                columns, m_batchInfo, m_options.activityStamp, records, m_options.images);
            return;
        }
        ensureWriter();
        m_writer->WriteTable(first, m_firstPrepended, m_lastAppended,
                             static_cast<std::int32_t>(m_outputPages.size()), columns,
                             m_outputPages.data(), m_options.activityStamp, records);
    } catch (const std::exception& error) {
        raise(-1, bugRequest(kXmlFailure) + "<br>Information for vender:" + error.what());
    } catch (...) {
        raise(-1, bugRequest(kXmlFailure) + "Information for vender:Format: Delimited");
    }
}

void ExcelFileDriver::ensureWriter() {
    if (!m_writer) {
        m_writer = std::make_unique<CSpreadsheetMLWriter>(
            m_report.codePage(), m_options.noNumberDetection, m_options.textFormatDetection,
            static_cast<std::int32_t>(m_report.format()));
    }
}

void ExcelFileDriver::reportProgress(std::int32_t last) {
    const std::int64_t done = std::int64_t{last} - m_options.firstPage + 1;
    const std::int64_t total = std::int64_t{m_options.lastPage} - m_options.firstPage + 1;
    const auto percent = static_cast<std::int32_t>(done * 1000 / total / 10);
    m_highestProgress = std::max(m_highestProgress, percent);
    if (m_options.progress != nullptr) {
        *m_options.progress = m_highestProgress;
    }
    stamp();
    if (m_options.mainWindowProgress) {
        m_options.mainWindowProgress(m_highestProgress);
    }
}

void ExcelFileDriver::writeFile(std::string_view data) {
    if (!m_file->write(data)) {
        m_report.SetExceptionText(m_file->error(), "OtEFOp2");
        raiseReported(-1);
    }
}

void ExcelFileDriver::finish(OutputKind kind) {
    const bool rightToLeft = m_direction == TextDirection::RightToLeft;
    if (kind == OutputKind::SpreadsheetMl) {
        const std::time_t now = std::time(nullptr);
        std::tm created{};
        localtime_r(&now, &created);
        try {
            ensureWriter();
            m_writer->WriteWorkbook([this](std::string_view piece) { writeFile(piece); },
                                    rightToLeft, created);
        } catch (const ConversionError&) {
            throw;
        } catch (const std::exception& error) {
            raise(-1, bugRequest(kXmlFailure) + "<br>Information for vender:" + error.what());
        }
        m_writer.reset();
    }
    if (kind == OutputKind::WebArchive) {
        try {
            if (!m_archive) {
                m_archive = std::make_unique<WorkbookArchive>(m_report, m_options.decimalCommaMode);
            }
            m_archive->WriteWorkbook([this](std::string_view piece) { writeFile(piece); },
                                     m_options.password.has_value());
        } catch (const ConversionError&) {
            throw;
        } catch (const std::exception& error) {
            raise(-1, bugRequest(kXmlFailure) + "<br>Information for vender:" + error.what());
        }
        m_archive.reset();
    }
    if (m_options.mainWindowProgress) {
        m_options.mainWindowProgress(0);
    }
    if (!m_file->commit()) {
        m_report.SetExceptionText(m_file->error(), "OtEFOp2");
        raiseReported(-1);
    }
}

void ExcelFileDriver::startExcel() {
    ExcelWriterOptions writer;
    writer.firstPage = m_options.firstPage;
    writer.lastPage = m_options.lastPage;
    writer.colour = m_options.colour;
    writer.font = m_options.font;
    writer.noNumberDetection = m_options.noNumberDetection;
    writer.textFormatDetection = m_options.textFormatDetection;
    writer.markPages = m_options.markPages;
    writer.images = m_options.images;
    writer.mergeSpannedCells = m_options.mergeSpannedCells;
    writer.decimalCommaMode = m_options.decimalCommaMode;
    const std::uint16_t language = userDefaultLangId() & 0x3FF;
    writer.spanishOrItalian =
        m_options.decimalCommaMode == 0 && (language == kLangSpanish || language == kLangItalian);
    writer.rowsDeletedAtTop = m_options.rowsDeletedAtTop;
    writer.rowsDeletedAtBottom = m_options.rowsDeletedAtBottom;
    writer.password = m_options.password;
    writer.rightToLeft = m_direction == TextDirection::RightToLeft;
    writer.html = m_html;
    writer.baseFolder = m_report.baseFolder();
    writer.cancel = m_options.cancel;
    writer.activityStamp = m_options.activityStamp;
    writer.step = [this](std::string_view name) { step(name); };
    writer.pageWritten = [this](std::int32_t page) { reportProgress(page); };
    writer.fetchLinkedFile = [this](std::string_view link) {
        std::string path;
        try {
            m_report.FetchLinkedFile(link.data(), static_cast<std::int64_t>(link.size()), path);
        } catch (const std::exception&) {
            path.clear();
        }
        return path;
    };
    m_excelWriter = std::make_unique<CExcelWriter>(m_report, *m_excel, std::move(writer));
    step("FL_Excel2000_Start");
    std::int32_t rowsPerWorksheet = m_options.rowsPerWorksheet;
    m_excelWriter->Start(m_outputPath, rowsPerWorksheet, m_options.savedAs2007);
}

void ExcelFileDriver::runBatches(OutputKind kind) {
    BatchSource source;
    source.html = m_html;
    source.pageLength = [this](std::int32_t page) {
        return m_report.pageTable()[static_cast<std::size_t>(page - 1)].length;
    };
    source.layout = [this](std::int32_t page) { return GetPageFirstRowWidths(page); };
    for (std::int32_t first = m_options.firstPage;;) {
        if (kind == OutputKind::Excel) {
            step("FL_Excel2000_Loop_Start");
        }
        const std::int32_t size =
            GetNextBatchSize(source, m_options.lastPage, first, m_layoutState, m_options.pageByPage,
                             m_options.sameLayoutBatches);
        if (size == 0) {
            break;
        }
        const std::int32_t last = first + size - 1;
        convertBatch(first, last, kind);
        if (kind != OutputKind::Excel) {
            reportProgress(last);
        }
        first = last + 1;
    }
}

std::int32_t ExcelFileDriver::run() {
    stamp();
    if (m_options.savedAs2007 != nullptr) {
        *m_options.savedAs2007 = false;
    }
    checkRange();
    m_html = m_report.format() == ReportFormat::Html;
    m_useFirstPage = m_options.firstPage == 1 && !m_options.pageByPage ? 1 : 0;
    m_useLastPage = m_options.lastPage == m_pageCount && !m_options.pageByPage;
    m_direction = effectiveDirection();

    step("FL_Init_Convert_Engine");
    try {
        const std::string& head = m_report.head();
        m_engine.Init(&m_report, static_cast<std::int32_t>(m_report.format()), head.data(),
                      static_cast<std::int64_t>(head.size()),
                      m_direction == TextDirection::RightToLeft);
    } catch (const ConvertError&) {
        std::string text;
        m_engine.GetErrorText(text);
        raise(-1, text);
    }

    step("FL_Init_Ole");
    const OutputKind kind = chooseOutputKind();
    m_outputPath = m_options.outputPath;
    if (kind == OutputKind::Excel) {
        startExcel();
        try {
            runBatches(kind);
            step("FL_Excel2000_Loop_End");
            if (m_options.mainWindowProgress) {
                m_options.mainWindowProgress(0);
            }
            m_excelWriter->Finish(m_outputPath);
        } catch (...) {
            m_excelWriter->Abandon();
            throw;
        }
    } else {
        step("FL_Delimited_Start");
        m_file = std::make_unique<ReplacingFile>(m_outputPath);
        if (!m_file->create()) {
            m_report.SetExceptionText(m_file->error(), "OtEFOp1");
            raiseReported(-1);
        }
        runBatches(kind);
        step("FL_Convert_Proc1_End");
        finish(kind);
    }
    if (m_options.writtenPath != nullptr) {
        *m_options.writtenPath = m_outputPath;
    }
    m_engine.Free();
    return m_report.SetErrorCode(0);
}

}  // namespace

std::int32_t OutputToExcelFile(CReportCore& report, const ExcelOutputOptions& options) {
    ExcelFileDriver driver(report, options);
    try {
        return driver.run();
    } catch (const ConversionError&) {
        throw;
    } catch (const std::exception& error) {
        const std::string step = options.stepBuffer != nullptr ? *options.stepBuffer : "";
        const std::string tag = "OTEFXL5 (STEP: " + step + "; RunAs " + GetWindowsUserName() + "," +
                                (IsAdministratorUser() ? "Is Admin" : "Not Admin") +
                                ". RunExcelAs: ,IdentityFlag=-1)";
        report.SetExceptionText(error.what(), tag.c_str());
        throw ConversionError(-1, report.GetErrorText());
    }
}

}  // namespace paginor
