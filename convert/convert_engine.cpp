#include "convert/convert_engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "convert/layout/cell_grid.h"
#include "convert/layout/frame_store.h"
#include "convert/layout/layout_tree.h"
#include "convert/read/box_reader.h"
#include "convert/read/html_scan.h"
#include "convert/read/text_measurer.h"
#include "core/report_core.h"

namespace paginor {

CConvertEngine::CConvertEngine(const EngineLimits& limits) : m_limits(limits) {}

CConvertEngine::~CConvertEngine() = default;

void CConvertEngine::Init(CReportCore* report, std::int32_t format, const char* head,
                          std::int64_t headLength, bool rightToLeft) {
    m_report = report;
    m_mode = format;
    m_rightToLeft = rightToLeft;
    m_errorCode = 0;
    m_outputColumnCount = 0;
    m_nextTextBuffer = 0;
    m_currentText = nullptr;
    m_colourFlag = false;
    m_fontFlag = false;
    m_headerFooterRemoval = false;
    m_frameEngineAllowed = true;
    m_styles.reset();
    m_frames.reset();
    m_boxReader.reset();
    m_cellGrid.reset();
    if (format == kFormatHtmlCss) {
        m_styles = std::make_unique<StyleSheet>();
        m_frames = std::make_unique<FrameStore>(*this);
        const std::string_view text =
            head == nullptr || headLength <= 0
                ? std::string_view()
                : std::string_view(head, static_cast<std::size_t>(headLength));
        m_styles->ParseStyleSheet(*this, defaultTextMeasurer(), text);
    }
}

void CConvertEngine::Free() {
    m_boxReader.reset();
    m_cellGrid.reset();
    m_frames.reset();
    m_styles.reset();
    m_pageTops = {};
    m_grid = {};
    m_rows = {};
    m_columns = {};
    m_outputText = {};
    m_records = {};
    m_textBuffers.clear();
    m_textBufferSizes.clear();
    m_nextTextBuffer = 0;
    m_currentText = nullptr;
    m_columnCount = 0;
    m_rowCount = 0;
}

std::size_t CConvertEngine::textBuffersAllocated() const {
    return m_textBuffers.size();
}

std::int32_t CConvertEngine::SetError(std::int32_t code) {
    m_errorCode = code;
    return code;
}

std::int32_t CConvertEngine::SetOwnError(std::string_view message) {
    m_messageText.assign(message.substr(0, kMessageTextSize - 1));
    m_errorCode = kErrOwnText;
    return kErrOwnText;
}

std::int32_t CConvertEngine::SetSystemError(int errorNumber) {
    return SetOwnError("Error [M:MEC]: Error (" + std::to_string(errorNumber) +
                       "): " + std::strerror(errorNumber));
}

void CConvertEngine::raise(std::int32_t code) {
    SetError(code);
    std::string text;
    GetErrorText(text);
    throw ConvertError(code, std::move(text));
}

void CConvertEngine::raiseOwn(std::string_view message) {
    raise(SetOwnError(message));
}

std::int32_t CConvertEngine::GetErrorText(std::string& text, std::size_t size) const {
    text = m_errorCode == kErrOwnText ? m_messageText : errorTableText(m_errorCode);
    if (m_errorCode != kErrOwnText) {
        text += "(Error Code:" + std::to_string(m_errorCode) + ")";
    }
    if (size == 0) {
        text.clear();
    } else if (text.size() > size - 1) {
        text.resize(size - 1);
    }
    return m_errorCode;
}

void CConvertEngine::trace(const char* step) {
    if (m_stepBuffer != nullptr) {
        m_stepBuffer->assign(step, std::min(std::strlen(step), kStepBufferSize - 1));
    }
}

void CConvertEngine::NewTextBuffer(std::size_t needed) {
    if (m_nextTextBuffer >= m_limits.textBuffers) {
        raise(kErrTextBuffers);
    }
    const std::size_t size =
        std::max(kTextBufferBytes, needed + (kTextBufferBytes - kTextBufferFill));
    if (m_nextTextBuffer == m_textBuffers.size()) {
        m_textBuffers.push_back(std::make_unique<char[]>(size));
        m_textBufferSizes.push_back(size);
    } else if (m_textBufferSizes[m_nextTextBuffer] < size) {
        m_textBuffers[m_nextTextBuffer] = std::make_unique<char[]>(size);
        m_textBufferSizes[m_nextTextBuffer] = size;
    }
    m_currentText = m_textBuffers[m_nextTextBuffer].get();
    m_currentTextSize = m_textBufferSizes[m_nextTextBuffer];
    m_textPosition = 0;
    ++m_nextTextBuffer;
}

const char* CConvertEngine::StoreText(std::string_view text, std::string_view link) {
    const std::size_t needed = text.size() + 1 + (link.empty() ? 0 : link.size() + 1);
    const std::size_t fill = m_currentTextSize - (kTextBufferBytes - kTextBufferFill);
    if (m_currentText == nullptr || m_textPosition + needed >= fill) {
        NewTextBuffer(needed);
    }
    char* start = m_currentText + m_textPosition;
    char* out = std::copy(text.begin(), text.end(), start);
    *out++ = '\0';
    if (!link.empty()) {
        out = std::copy(link.begin(), link.end(), out);
        *out++ = '\0';
    }
    m_textPosition = static_cast<std::size_t>(out - m_currentText);
    return start;
}

void CConvertEngine::AllocGrid(std::int32_t rows, std::int32_t columns) {
    const std::size_t cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
    if (rows < 0 || columns < 0 ||
        (columns != 0 && cells / columns != static_cast<std::size_t>(rows))) {
        throw std::bad_alloc();
    }
    m_rowCount = rows;
    m_columnCount = columns;
    m_grid.assign(cells, tagGridCell{});
    m_rows.assign(static_cast<std::size_t>(rows), tagGridRowInfo{});
    m_columns.assign(static_cast<std::size_t>(columns) + 1, tagGridColumnInfo{});
}

void CConvertEngine::CountRowCells() {
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        std::int32_t count = 0;
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            count += at(r, c).text != nullptr ? 1 : 0;
        }
        m_rows[r].occupied = count;
    }
}

void CConvertEngine::CountColumnCells() {
    for (std::int32_t c = 0; c < m_columnCount; ++c) {
        std::int32_t count = 0;
        for (std::int32_t r = 0; r < m_rowCount; ++r) {
            count += at(r, c).text != nullptr ? 1 : 0;
        }
        m_columns[c].occupied = count;
    }
}

void CConvertEngine::GetInputTableRange(const char* input, std::int64_t length) {
    const char* end = input + length;
    m_rangeStart = FindOpenTag(input, end, "table");
    if (m_rangeStart == nullptr) {
        raise(kErrMissingTableEnd);
    }
    // The last page may hold no table of its own; the last page that has one closes the range.
    for (std::int32_t page = m_pageCount - 1; page >= 0; --page) {
        const char* pageStart = std::max(input + m_pageOffsets[page], m_rangeStart);
        const char* open = FindOpenTag(pageStart, end, "table");
        if (open == nullptr) {
            continue;
        }
        const char* close = FindTableClose(open, end);
        if (close == nullptr) {
            raise(kErrMissingTableEnd);
        }
        m_rangeEnd = close;
        return;
    }
    raise(kErrMissingTableEnd);
}

bool CConvertEngine::GetCSVOutput104(
    const char* input, std::int64_t inputLength, const std::int64_t* pageOffsets,
    std::int32_t pageCount, const void** output, std::int64_t* textLength,
    std::int32_t* outputColumns, std::int32_t* recordCount, std::int32_t outputKind,
    std::uint8_t* colourFlag, bool fontFlag, tagOutputBatchInfo* batch, bool pageBreakLines,
    bool keepFirstPage, bool keepLastPage, std::uint8_t* driverFlag, std::int32_t engineNumber,
    bool headerFooterRemoval, std::int32_t firstPageIndex, bool lastBatch, bool dropEmptyTexts,
    bool /*reserved*/, std::string* stepBuffer) {
    m_stepBuffer = stepBuffer;
    if (m_stepBuffer != nullptr) {
        *m_stepBuffer = "Try_Start";
    }
    // Stale results of an earlier batch must never reach the caller.
    if (output != nullptr) {
        *output = nullptr;
    }
    if (textLength != nullptr) {
        *textLength = 0;
    }
    if (recordCount != nullptr) {
        *recordCount = 0;
    }
    m_outputText.clear();
    m_records.clear();
    m_rowCount = 0;
    m_columnCount = 0;
    m_outputColumnCount = 0;
    m_frameRoadTried = false;
    try {
        trace("GetCSVOutput104_start");
        m_errorCode = 0;
        m_engineNumber = engineNumber == 0 ? kEngineNumber : engineNumber;
        m_pageCount = pageCount;
        if (input == nullptr || inputLength < 0 || pageCount < 1 || pageOffsets == nullptr) {
            raiseOwn("Error [M:GCO]: the batch has no pages");
        }
        m_pageOffsets.assign(pageOffsets, pageOffsets + pageCount);
        for (std::int32_t p = 0; p < pageCount; ++p) {
            if (m_pageOffsets[p] < 0 || m_pageOffsets[p] > inputLength ||
                (p > 0 && m_pageOffsets[p] < m_pageOffsets[p - 1])) {
                raiseOwn("Error [M:GCO]: the page offsets do not ascend inside the batch");
            }
        }
        m_input = input;
        m_inputLength = inputLength;
        if (batch != nullptr) {
            batch->rangeFound = 0;
            batch->frameCount = 0;
            batch->fontName = nullptr;
            batch->fontSize = 0;
        }
        m_headerFooterRemoval = headerFooterRemoval;
        m_outputKind = outputKind;
        m_firstPageIndex = firstPageIndex;
        m_lastBatch = lastBatch;
        m_dropEmptyTexts = dropEmptyTexts;
        m_nextTextBuffer = 0;
        m_currentText = nullptr;
        NewTextBuffer(0);

        trace("GetCSVOutput104_start#2");
        m_colourFlag = colourFlag != nullptr && *colourFlag != 0;
        m_fontFlag = fontFlag;
        const bool htmlCss = m_mode == kFormatHtmlCss;
        if (htmlCss && (m_styles == nullptr || !m_styles->colourClasses())) {
            m_colourFlag = false;
        }

        trace("GetInputTableRange_start");
        if (htmlCss) {
            m_rangeStart = input;
            m_rangeEnd = input + inputLength;
        } else {
            GetInputTableRange(input, inputLength);
        }
        trace("GetInputTableRange_end");
        if (m_engineNumber != kEngineNumber) {
            return true;
        }
        if (batch != nullptr) {
            batch->rangeFound = 1;
        }
        m_fontNameCount = 0;
        m_fontSizeCount = 0;

        if (htmlCss) {
            trace("detected_REPORT_DESFORMAT_HTMLCSS");
            if (!ReadBoxes()) {
                if (colourFlag != nullptr) {
                    *colourFlag = m_colourFlag ? 1 : 0;
                }
                return true;
            }
            std::int32_t frameColumns = 0;
            if (UseFrameRoad(&frameColumns)) {
                m_outputColumnCount = frameColumns;
                if (outputKind == kOutputDelimited) {
                    trace("UseEngine102_start#3");
                    WriteFramesDelimited(pageBreakLines, frameColumns, keepFirstPage,
                                         keepLastPage);
                    if (output != nullptr) {
                        *output = m_outputText.c_str();
                    }
                    if (textLength != nullptr) {
                        *textLength = static_cast<std::int64_t>(m_outputText.size());
                    }
                } else {
                    trace("UseEngine102_start#4");
                    std::int32_t count = 0;
                    OutputFramesToRecords(frameColumns, &count, batch);
                    trace("UseEngine102_start#5");
                    if (output != nullptr) {
                        *output = m_records.data();
                    }
                    if (recordCount != nullptr) {
                        *recordCount = count;
                    }
                    GetDominantFont(batch);
                }
                if (outputColumns != nullptr) {
                    *outputColumns = frameColumns;
                }
                if (colourFlag != nullptr) {
                    *colourFlag = m_colourFlag ? 1 : 0;
                }
                trace("UseEngine102_start#6");
                if (driverFlag != nullptr) {
                    *driverFlag = 0;
                }
                trace("UseEngine102_start#7");
                return true;
            }
            BuildCellGrid();
            if (!m_frames->strips().empty() && LayOutSideBySide()) {
                if (driverFlag != nullptr) {
                    *driverFlag = 0;
                }
            } else {
                OptimiseColumns(false);
            }
        } else {
            trace("detected_REPORT_DESFORMAT_HTML");
            const std::int64_t shift = m_rangeStart - input;
            for (auto& offset : m_pageOffsets) {
                offset -= shift;
            }
            ReadHtmlTables();
            FillRowSpans();
            OptimiseColumns(false);
        }
        if (m_headerFooterRemoval) {
            RemoveRepeatedHeaders();
            RemoveRepeatedFooters();
        }

        if (outputKind == kOutputDelimited) {
            WriteDelimitedText(pageBreakLines, keepFirstPage, keepLastPage);
            if (output != nullptr) {
                *output = m_outputText.c_str();
            }
            if (textLength != nullptr) {
                *textLength = static_cast<std::int64_t>(m_outputText.size());
            }
        } else {
            trace("bf_OutputToExcel_Excel2000");
            std::int32_t count = 0;
            OutputToExcel_Excel2000(&count, batch);
            trace("af_OutputToExcel_Excel2000");
            if (output != nullptr) {
                *output = m_records.data();
            }
            if (recordCount != nullptr) {
                *recordCount = count;
            }
            GetDominantFont(batch);
        }
        if (outputColumns != nullptr) {
            *outputColumns = m_outputColumnCount;
        }
        if (colourFlag != nullptr) {
            *colourFlag = m_colourFlag ? 1 : 0;
        }
        return true;
    } catch (const std::bad_alloc&) {
        raise(SetSystemError(ENOMEM));
    } catch (const std::length_error&) {
        raise(SetSystemError(ENOMEM));
    }
}

std::int32_t CConvertEngine::reportCodePage() const {
    return m_report != nullptr && m_report->codePage() > 0 ? m_report->codePage() : 1252;
}

bool CConvertEngine::ReadBoxes() {
    m_frames->clear();
    m_cellGrid.reset();
    BoxReaderOptions options;
    options.codePage = reportCodePage();
    options.rightToLeft = m_rightToLeft;
    options.engineNumber = m_engineNumber;
    m_boxReader =
        std::make_unique<BoxReader>(*this, *m_styles, defaultTextMeasurer(), *m_frames, options);
    m_boxReader->readBoxes(m_input, m_inputLength, m_pageOffsets.data(), m_pageCount);
    m_pageTops = m_boxReader->pageTops();
    return m_boxReader->firstPiece() != nullptr;
}

void CConvertEngine::BuildCellGrid() {
    m_cellGrid = std::make_unique<CellGrid>(*this, m_frames.get());
    m_cellGrid->PlacePiecesInLines(m_boxReader->pieces(), nullptr);
    m_cellGrid->MergeRowLines();
    m_cellGrid->FillGrid(0, static_cast<std::int32_t>(m_cellGrid->rowLines().size()), 0,
                         static_cast<std::int32_t>(m_cellGrid->columnLines().size()));
}

const char* CConvertEngine::InternFontName(std::string_view name) {
    if (name.data() == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < m_fontNameCount; ++i) {
        if (m_fontNames[i] == name) {
            ++m_fontNameUses[i];
            return m_fontNames[i].c_str();
        }
    }
    if (m_fontNameCount == kFontNameCapacity) {
        // A full table hands the name back uncounted; it must outlive the batch's records.
        return StoreText(name, {});
    }
    m_fontNames[m_fontNameCount] = name;
    m_fontNameUses[m_fontNameCount] = 1;
    return m_fontNames[m_fontNameCount++].c_str();
}

void CConvertEngine::CountFontSize(std::int32_t size) {
    for (std::size_t i = 0; i < m_fontSizeCount; ++i) {
        if (m_fontSizes[i] == size) {
            ++m_fontSizeUses[i];
            return;
        }
    }
    if (m_fontSizeCount < kFontSizeCapacity) {
        m_fontSizes[m_fontSizeCount] = size;
        m_fontSizeUses[m_fontSizeCount++] = 1;
    }
}

void CConvertEngine::GetDominantFont(tagOutputBatchInfo* batch) const {
    if (batch == nullptr) {
        return;
    }
    batch->fontName = nullptr;
    batch->fontSize = 0;
    std::int32_t best = 0;
    for (std::size_t i = 0; i < m_fontNameCount; ++i) {
        if (m_fontNameUses[i] > best) {
            best = m_fontNameUses[i];
            batch->fontName = m_fontNames[i].c_str();
        }
    }
    best = 0;
    for (std::size_t i = 0; i < m_fontSizeCount; ++i) {
        if (m_fontSizeUses[i] > best) {
            best = m_fontSizeUses[i];
            batch->fontSize = m_fontSizes[i];
        }
    }
}

}  // namespace paginor
