#include "convert/conversion_driver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <thread>

#include "convert/batch_slot.h"
#include "convert/convert_engine.h"
#include "convert/worker_making.h"
#include "convert/write/excel_writer.h"
#include "convert/write/spill_file.h"
#include "convert/write/spreadsheet_ml.h"
#include "convert/write/workbook_archive.h"
#include "core/env_info.h"
#include "core/report_core.h"
#include "core/text_scan.h"
#include "platform/program_thread.h"
#include "platform/replacing_file.h"
#include "platform/sys_error.h"
#include "platform/user_info.h"

namespace paginor {

namespace {

constexpr std::size_t kLayoutScanBytes = 16384;  // of a page, read for its first-row layout
constexpr std::int64_t kBufferStep = 262144;
constexpr std::int32_t kArabicCodePage = 1256;
constexpr std::uint16_t kLangArabic = 0x01;

constexpr std::string_view kXmlFailure =
    "Tabulan failed to generate XML report due to a fatal bug.";

// Delimited text is UTF-8; the mark tells spreadsheet programs so.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

constexpr std::uint16_t kLangSpanish = 0x0A;
constexpr std::uint16_t kLangItalian = 0x10;

// A count as a user reads it: 65,530.
std::string groupedDigits(std::int64_t value) {
    std::string digits = std::to_string(value);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    }
    return digits;
}

enum class OutputKind { Excel, Delimited, WebArchive, SpreadsheetMl };

// One conversion: the batch loop over the page range and everything it keeps across batches.
class ExcelFileDriver {
public:
    ExcelFileDriver(CReportCore& report, const ExcelOutputOptions& options)
        : m_report(report), m_options(options), m_making(report, options) {}
    ExcelFileDriver(const ExcelFileDriver&) = delete;
    ExcelFileDriver& operator=(const ExcelFileDriver&) = delete;
    ~ExcelFileDriver() { m_making.close(); }

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
    [[noreturn]] void raiseLayoutFailure(std::int32_t page, std::int32_t code, bool cut);
    FirstRowLayout pageLayout(std::int32_t page);
    void readLayoutsAhead(std::int32_t first);
    const FirstRowLayout& cachedLayout(std::int32_t page, std::optional<FirstRowLayout>& cache);
    bool joinsBatch(std::int32_t page, std::optional<FirstRowLayout>& cache, const BatchSlot& slot);
    void GatherBatchText(BatchSlot& slot);
    void appendPage(BatchSlot& slot, std::int32_t page);
    bool cancelRequested() const;
    void initEngine(BatchSlot& slot);
    void startBatch(BatchSlot& slot, std::int32_t first, std::int32_t size,
                    const CarriedState& from);
    void runEngine(BatchSlot& slot, OutputKind kind, std::string* steps);
    void convertOnWorker(BatchSlot& slot, OutputKind kind, std::string* steps);

    [[noreturn]] void raiseBatchFailure(BatchSlot& slot);
    void convertBatch(BatchSlot& slot, OutputKind kind);
    void convertBatches(std::int32_t first, OutputKind kind);
    void convertBatchesAtOnce(OutputKind kind);
    void finishBatch(BatchSlot& slot, OutputKind kind);
    void writeBatch(BatchSlot& slot, OutputKind kind);
    void ensureWriter();
    void reportProgress(std::int32_t last);
    [[noreturn]] void raiseEngineFailure(const CConvertEngine& engine, const ConvertError& error);
    std::string bugRequest(std::string_view opening) const;
    void writeFile(std::string_view data);
    [[noreturn]] void raiseFileProblem(int errorNumber, std::string_view tag);
    [[noreturn]] void raiseSpillProblem(const SpillFileError& error);
    void checkOutputPlace();
    void checkCancel();
    void finish(OutputKind kind);
    void startExcel();
    void saveWorkbook();
    void runBatches(OutputKind kind);

    CReportCore& m_report;
    const ExcelOutputOptions& m_options;
    bool m_html = true;
    std::int32_t m_pageCount = 0;
    TextDirection m_direction = TextDirection::NotStated;
    std::unique_ptr<ReplacingFile> m_file;
    std::unique_ptr<CSpreadsheetMLWriter> m_writer;
    std::unique_ptr<WorkbookArchive> m_archive;
    std::unique_ptr<ExcelApplication> m_excel;
    std::unique_ptr<CExcelWriter> m_excelWriter;
    std::string m_outputPath;

    BatchSource m_source;
    BatchLayoutState m_layoutState;
    CarriedState m_carried;
    bool m_useLastPage = false;
    std::optional<FirstRowLayout> m_firstPageLayout;
    std::optional<FirstRowLayout> m_lastPageLayout;
    std::optional<std::string> m_firstPageText;
    std::int32_t m_highestProgress = 2;
    std::int32_t m_threads = 1;
    // First-row layouts read ahead on several threads, from m_layoutsFrom on; an empty one is
    // read again in its turn, which meets any failure in its place.
    std::int32_t m_layoutsFrom = 0;
    std::vector<std::optional<FirstRowLayout>> m_layouts;
    WorkerMaking m_making;
    // Declared last: their workers are joined before anything they read goes away.
    std::vector<std::unique_ptr<BatchSlot>> m_slots;
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
        raiseLayoutFailure(page, error.code(), info.length > length);
    }
}

// The table texts of a first row that cannot be read ("tr tag not found") tell a user nothing:
// name the page and what is missing, and that only the page's start is read.
void ExcelFileDriver::raiseLayoutFailure(std::int32_t page, std::int32_t code, bool cut) {
    const char* missing = code == kErrNoRow           ? "its table has no row"
                          : code == kErrNoRowEnd      ? "the first row of its table has no end"
                          : code == kErrNoTableTagEnd ? "its table tag has no end"
                                                      : nullptr;
    if (missing == nullptr) {
        raise(code);
    }
    std::string text = "Page " + std::to_string(page) + " cannot be converted: " + missing;
    if (cut) {
        text += " within the first " + std::to_string(kLayoutScanBytes) +
                " bytes of the page, which are read to find its column widths";
    }
    text += ".(Error Code:" + std::to_string(code) + ")";
    m_report.SetErrorCode(code);
    throw ConversionError(code, text);
}

FirstRowLayout ExcelFileDriver::pageLayout(std::int32_t page) {
    if (m_threads <= 1 || !m_html) {
        return GetPageFirstRowWidths(page);
    }
    if (page < m_layoutsFrom ||
        page >= m_layoutsFrom + static_cast<std::int32_t>(m_layouts.size())) {
        readLayoutsAhead(page);
    }
    const std::optional<FirstRowLayout>& layout =
        m_layouts[static_cast<std::size_t>(page - m_layoutsFrom)];
    return layout ? *layout : GetPageFirstRowWidths(page);
}

// Batches are cut by the layouts of the pages ahead, all read before the first batch starts:
// the threads read them by offset, apart from the report's file window.
void ExcelFileDriver::readLayoutsAhead(std::int32_t first) {
    constexpr std::int32_t kLayoutsAhead = 4096;
    const std::int32_t count = std::min(kLayoutsAhead, m_options.lastPage - first + 1);
    m_layoutsFrom = first;
    m_layouts.assign(static_cast<std::size_t>(std::max(count, 0)), std::nullopt);
    const auto readEvery = [this, first, count](std::int32_t start, std::int32_t step) {
        std::vector<char> text(kLayoutScanBytes);
        for (std::int32_t i = start; i < count; i += step) {
            const tagPageInfo& info = m_report.pageTable()[static_cast<std::size_t>(first + i - 1)];
            const std::int64_t length = std::min<std::int64_t>(info.length, kLayoutScanBytes);
            if (length <= 0 || m_report.ReadFileShared(info.start, text.data(), length) != length) {
                continue;
            }
            try {
                m_layouts[static_cast<std::size_t>(i)] = ParseFirstRowWidths(
                    std::string_view(text.data(), static_cast<std::size_t>(length)));
            } catch (const ConversionError&) {
            }
        }
    };
    std::vector<std::thread> readers;
    for (std::int32_t t = 1; t < m_threads; ++t) {
        readers.push_back(StartThread(readEvery, t, m_threads));
    }
    readEvery(0, m_threads);
    for (std::thread& reader : readers) {
        reader.join();
    }
}

const FirstRowLayout& ExcelFileDriver::cachedLayout(std::int32_t page,
                                                    std::optional<FirstRowLayout>& cache) {
    if (!cache) {
        cache = GetPageFirstRowWidths(page);
    }
    return *cache;
}

// A reference page joins a batch of an HTML report only when it has the batch's layout, one of
// an HTMLCSS report only in its page block.
bool ExcelFileDriver::joinsBatch(std::int32_t page, std::optional<FirstRowLayout>& cache,
                                 const BatchSlot& slot) {
    if (!m_html) {
        return InSamePageBlock(page, slot.first);
    }
    const FirstRowLayout& batchLayout = slot.layout;
    const FirstRowLayout& layout = cachedLayout(page, cache);
    return layout.widthSum == batchLayout.widthSum &&
           IsSameColumnLayout(layout.widths, batchLayout.widths);
}

void ExcelFileDriver::GatherBatchText(BatchSlot& slot) {
    slot.pageList.clear();
    slot.pageOffsets.clear();
    slot.firstPrepended =
        slot.useFirstPage != 0 && slot.first > 1 && joinsBatch(1, m_firstPageLayout, slot);
    if (slot.firstPrepended) {
        slot.pageList.push_back(1);
    }
    for (std::int32_t p = slot.first; p <= slot.last; ++p) {
        slot.pageList.push_back(p);
    }
    slot.lastAppended =
        m_useLastPage && slot.last < m_pageCount && joinsBatch(m_pageCount, m_lastPageLayout, slot);
    if (slot.lastAppended) {
        slot.pageList.push_back(m_pageCount);
    }
    std::int64_t needed = 0;
    for (const std::int32_t p : slot.pageList) {
        needed += m_report.pageTable()[static_cast<std::size_t>(p - 1)].length;
    }
    if (needed > static_cast<std::int64_t>(slot.buffer.size())) {
        try {
            std::vector<char>().swap(slot.buffer);
            slot.buffer.resize(
                static_cast<std::size_t>((needed + kBufferStep - 1) / kBufferStep * kBufferStep));
        } catch (const std::bad_alloc&) {
            m_report.SetSystemErrorText("OTEFGA1", ENOMEM);
            raiseReported(-1);
        }
    }
    slot.batchLength = 0;
    for (const std::int32_t p : slot.pageList) {
        appendPage(slot, p);
    }
}

void ExcelFileDriver::appendPage(BatchSlot& slot, std::int32_t page) {
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
        if (page == 1 && slot.useFirstPage != 0 && m_options.lastPage > 1) {
            m_firstPageText.emplace(text);
        }
    }
    char* destination = slot.buffer.data() + slot.batchLength;
    std::memcpy(destination, text.data(), text.size());
    if (m_html && m_report.nestedTable()) {
        ScanTables(destination, text.size());
    }
    slot.pageOffsets.push_back(slot.batchLength);
    slot.batchLength += static_cast<std::int64_t>(text.size());
}

std::string ExcelFileDriver::bugRequest(std::string_view opening) const {
    return std::string(opening) + "<br>Please send the file to " + supportAddress() +
           " :<font color=\"#FF0000\">" + m_report.reportPath() + "</font>";
}

void ExcelFileDriver::raiseEngineFailure(const CConvertEngine& engine, const ConvertError& error) {
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
    engine.GetErrorText(text);
    raise(-1, text);
}

bool ExcelFileDriver::cancelRequested() const {
    return m_options.cancel != nullptr && m_options.cancel->load() != 0;
}

void ExcelFileDriver::initEngine(BatchSlot& slot) {
    if (slot.engineReady) {
        return;
    }
    try {
        const std::string& head = m_report.head();
        slot.engine.Init(&m_report, static_cast<std::int32_t>(m_report.format()), head.data(),
                         static_cast<std::int64_t>(head.size()),
                         m_direction == TextDirection::RightToLeft);
    } catch (const ConvertError&) {
        std::string text;
        slot.engine.GetErrorText(text);
        raise(-1, text);
    }
    slot.engineReady = true;
}

void ExcelFileDriver::startBatch(BatchSlot& slot, std::int32_t first, std::int32_t size,
                                 const CarriedState& from) {
    slot.first = first;
    slot.last = first + size - 1;
    slot.layout = m_layoutState.first;
    slot.useFirstPage = from.useFirstPage;
    slot.frameEngineAllowed = from.frameEngineAllowed;
    slot.failure = nullptr;
    slot.cancelled = false;
    slot.steps.clear();
    slot.made.ready = false;
}

// Runs on the batch's worker when batches are converted at once: it touches nothing but the
// slot and reads the options.
void ExcelFileDriver::runEngine(BatchSlot& slot, OutputKind kind, std::string* steps) {
    slot.output = nullptr;
    slot.textLength = 0;
    slot.columns = 0;
    slot.records = 0;
    const bool delimited = kind == OutputKind::Delimited;
    const bool excel = kind == OutputKind::Excel;
    slot.outputPages.assign(slot.pageList.size(), tagOutputPageInfo{});
    slot.batchInfo = tagOutputBatchInfo{};
    slot.batchInfo.pages = slot.outputPages.data();
    std::uint8_t colour = excel ? (m_options.colour ? 1 : 0) : (delimited ? 0 : 1);
    const bool lastBatch = slot.last == m_pageCount;
    slot.driverFlag = slot.useFirstPage;
    slot.engine.setFrameEngineAllowed(slot.frameEngineAllowed);
    slot.engine.GetCSVOutput104(
        slot.buffer.data(), slot.batchLength, slot.pageOffsets.data(),
        static_cast<std::int32_t>(slot.pageOffsets.size()), &slot.output, &slot.textLength,
        &slot.columns, &slot.records,
        delimited                                    ? kOutputDelimited
        : kind == OutputKind::SpreadsheetMl || excel ? kOutputRecordsSml
                                                     : kOutputRecords,
        &colour, delimited || excel ? m_options.font : true, &slot.batchInfo, m_options.markPages,
        !delimited || !slot.firstPrepended, !delimited || !slot.lastAppended, &slot.driverFlag,
        m_options.engineNumber, m_options.headerFooterRemoval, slot.first - 1, lastBatch,
        slot.first == 1 && lastBatch && !slot.firstPrepended && !slot.lastAppended, false, steps);
}

void ExcelFileDriver::convertOnWorker(BatchSlot& slot, OutputKind kind, std::string* steps) {
    if (cancelRequested()) {
        slot.cancelled = true;
    } else {
        try {
            runEngine(slot, kind, steps);
        } catch (...) {
            slot.failure = std::current_exception();
        }
    }
    // A request that came while the engine ran spares the rest of the batch's work.
    slot.cancelled = slot.cancelled || cancelRequested();
    const ConvertedBatch batch{slot.first,        slot.firstPrepended, slot.lastAppended,
                               &slot.outputPages, &slot.batchInfo,     slot.columns,
                               slot.records,      slot.ordinal};
    if (slot.cancelled || slot.failure) {
        m_making.unmade(batch);
    } else if (kind == OutputKind::SpreadsheetMl) {
        m_making.makeSpreadsheetRows(batch, slot.made);
    } else if (kind == OutputKind::WebArchive) {
        m_making.makeArchiveTables(batch, slot.made);
    } else if (kind == OutputKind::Excel) {
        m_making.makeWorkbookRows(batch, slot.made);
    }
}

// Turns the failure in flight into the conversion's failure.
void ExcelFileDriver::raiseBatchFailure(BatchSlot& slot) {
    try {
        throw;
    } catch (const ConversionError&) {
        throw;
    } catch (const ConvertError& error) {
        raiseEngineFailure(slot.engine, error);
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
}

void ExcelFileDriver::convertBatch(BatchSlot& slot, OutputKind kind) {
    try {
        m_report.CheckPageRange(slot.first, slot.last);
        GatherBatchText(slot);
        if (cancelRequested()) {
            raise(kErrCancelled);
        }
        step("FL_Convert_GetCSVOutput104");
        step("FL1)Please send the file to " + supportAddress() + ": " + m_report.reportPath());
        runEngine(slot, kind, m_options.stepBuffer);
    } catch (...) {
        raiseBatchFailure(slot);
    }
    finishBatch(slot, kind);
}

// Writes a converted batch and passes its state on to the next batch.
void ExcelFileDriver::finishBatch(BatchSlot& slot, OutputKind kind) {
    writeBatch(slot, kind);
    // A batch can only turn either off. One converted from a state that proved too open, whose
    // result did not depend on it, must not turn it on again.
    m_carried.useFirstPage = std::min(m_carried.useFirstPage, slot.driverFlag);
    m_carried.frameEngineAllowed = m_carried.frameEngineAllowed && slot.engine.frameEngineAllowed();
    // The workbook writer reports each page it wrote.
    if (kind != OutputKind::Excel) {
        reportProgress(slot.last);
    }
}

// One batch after the other, from first on.
void ExcelFileDriver::convertBatches(std::int32_t first, OutputKind kind) {
    BatchSlot& slot = *m_slots.front();
    for (;;) {
        if (kind == OutputKind::Excel) {
            step("FL_Excel2000_Loop_Start");
        }
        const std::int32_t size =
            GetNextBatchSize(m_source, m_options.lastPage, first, m_layoutState,
                             m_options.pageByPage, m_options.sameLayoutBatches);
        if (size == 0) {
            return;
        }
        startBatch(slot, first, size, m_carried);
        convertBatch(slot, kind);
        first = slot.last + 1;
    }
}

// Several batches at once, each on a worker and an engine of its own; the writer takes them in
// batch order. A batch converted before the batch ahead of it was done assumed that batch's
// state (page 1 as a reference page, the frame road): when the assumption proves wrong and
// mattered, the batch is converted again from the right state. A failure while cutting or
// gathering a batch waits for the batches ahead, then the one-by-one loop meets it again in its
// place.
void ExcelFileDriver::convertBatchesAtOnce(OutputKind kind) {
    std::deque<BatchSlot*> inFlight;
    std::vector<BatchSlot*> idle;
    for (auto it = m_slots.rbegin(); it != m_slots.rend(); ++it) {
        idle.push_back(it->get());
    }
    std::string* const steps = m_options.stepBuffer;
    auto stopAll = [&] {
        m_making.close();
        for (BatchSlot* slot : inFlight) {
            slot->wait();
        }
    };
    std::int32_t first = m_options.firstPage;
    std::int32_t ordinal = 0;
    bool planned = false;
    bool stalled = false;
    for (;;) {
        while (!planned && !stalled && !idle.empty()) {
            const BatchLayoutState saved = m_layoutState;
            BatchSlot& slot = *idle.back();
            try {
                const std::int32_t size =
                    GetNextBatchSize(m_source, m_options.lastPage, first, m_layoutState,
                                     m_options.pageByPage, m_options.sameLayoutBatches);
                if (size == 0) {
                    planned = true;
                    break;
                }
                initEngine(slot);
                // The batches ahead may still change the state: assume they do not.
                startBatch(slot, first, size, m_carried);
                m_report.CheckPageRange(slot.first, slot.last);
                GatherBatchText(slot);
            } catch (...) {
                m_layoutState = saved;
                stalled = true;
                break;
            }
            if (cancelRequested()) {
                stopAll();
                raise(kErrCancelled);
            }
            idle.pop_back();
            inFlight.push_back(&slot);
            first = slot.last + 1;
            slot.ordinal = ordinal++;
            slot.worker = StartThread([this, &slot, kind, steps] {
                convertOnWorker(slot, kind, steps != nullptr ? &slot.steps : nullptr);
            });
        }
        if (inFlight.empty()) {
            break;
        }
        BatchSlot& slot = *inFlight.front();
        slot.wait();
        inFlight.pop_front();
        // The one-by-one loop looks at the cancel request before every batch.
        if (slot.cancelled || cancelRequested()) {
            stopAll();
            raise(kErrCancelled);
        }
        if (kind == OutputKind::Excel) {
            step("FL_Excel2000_Loop_Start");
        }
        const bool pageOneDiffers = slot.useFirstPage != m_carried.useFirstPage;
        const bool frameRoadDiffers = slot.frameEngineAllowed != m_carried.frameEngineAllowed;
        if ((pageOneDiffers && slot.firstPrepended) ||
            (frameRoadDiffers && (slot.failure || slot.engine.frameRoadTried()))) {
            // The layout the batch was cut with still holds: only the carried state changes.
            const FirstRowLayout layout = slot.layout;
            startBatch(slot, slot.first, slot.last - slot.first + 1, m_carried);
            slot.layout = layout;
            convertBatch(slot, kind);
        } else {
            step("FL_Convert_GetCSVOutput104");
            step("FL1)Please send the file to " + supportAddress() + ": " + m_report.reportPath());
            if (steps != nullptr) {
                *steps = slot.steps;
            }
            if (slot.failure) {
                try {
                    std::rethrow_exception(slot.failure);
                } catch (...) {
                    stopAll();
                    raiseBatchFailure(slot);
                }
            }
            finishBatch(slot, kind);
        }
        idle.push_back(&slot);
    }
    m_making.close();
    if (stalled) {
        convertBatches(first, kind);
    } else if (kind == OutputKind::Excel) {
        step("FL_Excel2000_Loop_Start");
    }
}

void ExcelFileDriver::writeBatch(BatchSlot& slot, OutputKind kind) {
    const void* const output = slot.output;
    const std::int64_t textLength = slot.textLength;
    const std::int32_t columns = slot.columns;
    const std::int32_t records = slot.records;
    if (kind == OutputKind::Excel) {
        m_excelWriter->WriteBatch(slot.first, slot.firstPrepended, slot.lastAppended,
                                  static_cast<std::int32_t>(slot.outputPages.size()), columns,
                                  slot.outputPages.data(), slot.batchInfo, records,
                                  slot.made.ready ? &slot.made.workbookRows : nullptr);
        // The workbook holds the rows as long as it needs them.
        slot.made.workbookRows = ExcelMadeBatch{};
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
            if (slot.made.ready) {
                m_archive->WriteBatch(slot.made.tables, m_options.activityStamp);
                return;
            }
            m_archive->WriteSheetTable(slot.firstPrepended, slot.lastAppended,
                                       static_cast<std::int32_t>(slot.outputPages.size()), columns,
                                       slot.batchInfo, m_options.activityStamp, records,
                                       m_options.images);
            return;
        }
        ensureWriter();
        // Rows made with conventions the batches before did not decide are made again.
        if (slot.made.ready && m_writer->Accepts(slot.made.rows)) {
            m_writer->WriteBatch(slot.made.rows, m_options.activityStamp);
            return;
        }
        m_writer->WriteTable(slot.first, slot.firstPrepended, slot.lastAppended,
                             static_cast<std::int32_t>(slot.outputPages.size()), columns,
                             slot.outputPages.data(), m_options.activityStamp, records);
    } catch (const SpillFileError& error) {
        raiseSpillProblem(error);
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
    // The long final writes of the workbook kinds stop at a cancel request as well.
    checkCancel();
    if (!m_file->write(data)) {
        raiseFileProblem(m_file->errorNumber(), "OtEFOp2");
    }
}

void ExcelFileDriver::raiseFileProblem(int errorNumber, std::string_view tag) {
    raise(-1, FileProblem(m_outputPath, errorNumber) + " [" + std::string(tag) + "]");
}

// The disk failed the workbook's temporary file: no fault of the program or the report.
void ExcelFileDriver::raiseSpillProblem(const SpillFileError& error) {
    raise(-1, std::string(error.what()) + " [OtEFOp2]");
}

// Before any page is converted: a place where the file cannot be made fails now, not after the
// whole conversion.
void ExcelFileDriver::checkOutputPlace() {
    std::string problem;
    if (!CanCreateFile(m_outputPath, problem)) {
        raise(-1, problem + " [OtEFOp1]");
    }
}

void ExcelFileDriver::checkCancel() {
    if (cancelRequested()) {
        raise(kErrCancelled);
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
        } catch (const SpillFileError& error) {
            raiseSpillProblem(error);
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
        } catch (const SpillFileError& error) {
            raiseSpillProblem(error);
        } catch (const std::exception& error) {
            raise(-1, bugRequest(kXmlFailure) + "<br>Information for vender:" + error.what());
        }
        m_archive.reset();
    }
    if (m_options.mainWindowProgress) {
        m_options.mainWindowProgress(0);
    }
    // Once the file is on the disk is the last moment a cancel request can keep the target as
    // it was.
    if (!m_file->commit([this] { return !cancelRequested(); })) {
        if (m_file->error().empty()) {
            raise(kErrCancelled);
        }
        raiseFileProblem(m_file->errorNumber(), "OtEFOp2");
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
    m_making.setWorkbook(*m_excel, writer);
    m_excel->SetWorkerThreads(m_threads);
    m_excelWriter = std::make_unique<CExcelWriter>(m_report, *m_excel, std::move(writer));
    step("FL_Excel2000_Start");
    std::int32_t rowsPerWorksheet = m_options.rowsPerWorksheet;
    m_excelWriter->Start(m_outputPath, rowsPerWorksheet, m_options.savedAs2007);
}

// A cancel request stops the save, and the workbook takes the target's name only when none
// came meanwhile.
void ExcelFileDriver::saveWorkbook() {
    if (!m_excelWriter->Finish(m_outputPath)) {
        raise(kErrCancelled);
    }
}

void ExcelFileDriver::runBatches(OutputKind kind) {
    m_source.html = m_html;
    m_source.pageLength = [this](std::int32_t page) {
        return m_report.pageTable()[static_cast<std::size_t>(page - 1)].length;
    };
    m_source.layout = [this](std::int32_t page) { return pageLayout(page); };
    if (m_threads > 1) {
        while (static_cast<std::int32_t>(m_slots.size()) < m_threads) {
            m_slots.push_back(std::make_unique<BatchSlot>());
        }
        convertBatchesAtOnce(kind);
    } else {
        convertBatches(m_options.firstPage, kind);
    }
}

std::int32_t ExcelFileDriver::run() {
    stamp();
    if (m_options.savedAs2007 != nullptr) {
        *m_options.savedAs2007 = false;
    }
    if (m_options.notice != nullptr) {
        m_options.notice->clear();
    }
    checkRange();
    m_threads = ConversionThreads(m_options.threads);
    if (m_threads == 0) {
        raise(-1, std::string("The environment variable ") + kThreadsVariable +
                      " must be a whole number from 1 to " + std::to_string(kMaxThreads) + ".");
    }
    m_html = m_report.format() == ReportFormat::Html;
    m_carried.useFirstPage = m_options.firstPage == 1 && !m_options.pageByPage ? 1 : 0;
    m_useLastPage = m_options.lastPage == m_pageCount && !m_options.pageByPage;
    m_direction = effectiveDirection();

    m_slots.push_back(std::make_unique<BatchSlot>());
    step("FL_Init_Convert_Engine");
    initEngine(*m_slots.front());

    step("FL_Init_Ole");
    const OutputKind kind = chooseOutputKind();
    m_outputPath = m_options.outputPath;
    if (kind == OutputKind::Excel) {
        startExcel();
        try {
            checkOutputPlace();
            runBatches(kind);
            step("FL_Excel2000_Loop_End");
            if (m_options.mainWindowProgress) {
                m_options.mainWindowProgress(0);
            }
            checkCancel();
            saveWorkbook();
        } catch (...) {
            m_excelWriter->Abandon();
            throw;
        }
        if (const std::int64_t left = m_excelWriter->linksLeftOut();
            left > 0 && m_options.notice != nullptr) {
            *m_options.notice = "The workbook " + m_outputPath + " is written, but " +
                                groupedDigits(left) + (left == 1 ? " link was" : " links were") +
                                " left out: a worksheet holds at most " +
                                groupedDigits(kMaxLinksPerWorksheet) +
                                " links. Their cells keep their texts.";
        }
    } else {
        step("FL_Delimited_Start");
        checkOutputPlace();
        m_file = std::make_unique<ReplacingFile>(m_outputPath);
        if (!m_file->create()) {
            raiseFileProblem(m_file->errorNumber(), "OtEFOp1");
        }
        if (kind == OutputKind::Delimited) {
            writeFile(kUtf8Mark);
        }
        runBatches(kind);
        step("FL_Convert_Proc1_End");
        finish(kind);
    }
    if (m_options.writtenPath != nullptr) {
        *m_options.writtenPath = m_outputPath;
    }
    for (const auto& slot : m_slots) {
        slot->engine.Free();
    }
    return m_report.SetErrorCode(0);
}

}  // namespace

bool WritesWorkbook(ExportFileFormat format, const ExcelLauncher& excel) {
    return format != ExportFileFormat::Delimited && format != ExportFileFormat::SpreadsheetMl &&
           format != ExportFileFormat::ExcelCompatible && IsExcelAppIdRegistered(excel);
}

std::string OutputPathWritten(const std::string& outputPath, ExportFileFormat format,
                              const ExcelLauncher& excel) {
    return WritesWorkbook(format, excel) ? WorkbookPath2007(outputPath) : outputPath;
}

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
