#include "core/report_core.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "core/text_scan.h"
#include "platform/code_page_convert.h"

namespace paginor {

CReportCore::CReportCore() = default;

CReportCore::~CReportCore() = default;

std::int32_t CReportCore::GetPageCount() {
    if (m_state == 0) {
        raise(5);
    }
    return m_pageCount;
}

std::u16string CReportCore::ToUnicode(std::string_view text, std::int32_t codePage) {
    return codePageToUtf16(text, codePage);
}

void CReportCore::GetMarginDirectives(std::string& left, std::string& right, std::string& top,
                                      std::string& bottom) {
    if (m_state == 0 || !m_marginsPending) {
        return;
    }
    m_marginsPending = false;
    for (auto [margin, out] :
         {std::pair{&m_marginLeft, &left}, std::pair{&m_marginRight, &right},
          std::pair{&m_marginTop, &top}, std::pair{&m_marginBottom, &bottom}}) {
        if (!margin->empty()) {
            *out = *margin;
        }
    }
}

void CReportCore::trace(const char* tag) {
    if (m_trace != nullptr) {
        *m_trace = tag;
    }
}

void CReportCore::reportProgress(std::int64_t offset) {
    if (!m_progress || m_fileSize <= 0) {
        return;
    }
    const std::int64_t percent = std::clamp<std::int64_t>(offset * 100 / m_fileSize, 0, 100);
    if (percent > m_percentShown) {
        m_percentShown = static_cast<int>(percent);
        m_progress(m_percentShown);
    }
}

void CReportCore::resetForLoad(const std::string& path, bool embedLinked) {
    m_reportPath = path;
    m_pageHeight = 0;
    m_ownBaseTag = false;
    m_baseFromOwnTag = false;
    m_fromWebAddress = false;
    m_baseFolder.clear();
    m_styleBlocks.clear();
    m_state = 0;
    m_headMarkSeen = false;
    m_pageCount = 0;
    m_pageTable.clear();
    m_errorCode = 0;
    m_errorText.clear();
    m_printDirectly = false;
    m_orientation = 2;
    m_marginLeft.clear();
    m_marginRight.clear();
    m_marginTop.clear();
    m_marginBottom.clear();
    m_printer.clear();
    m_paperSize.clear();
    m_printerPaperPending = true;
    m_firstContentOffset = 0;
    m_sourceMayBeShown = true;
    m_marginsPending = true;
    m_nestedTable = false;
    m_codePage = 0;
    m_embedLinked = embedLinked;
    m_textDirection = TextDirection::NotStated;
    m_format = ReportFormat::Unknown;
    m_head.clear();
    m_linkedFiles.clear();
    m_textCharCount = 0;
    m_percentShown = 0;
    m_fileSize = 0;
    m_windowStart = 0;
    m_windowValid = 0;
    m_tagUsed = 0;
    m_tagOffset = 0;
}

void CReportCore::sizeWindow() {
    const std::int64_t wanted =
        std::min((m_fileSize + 148480) / kLookBehind * kLookBehind, kMaxWindowSize);
    if (wanted > windowSize()) {
        try {
            m_window.assign(static_cast<std::size_t>(wanted), '\0');
        } catch (const std::bad_alloc&) {
            SetSystemErrorText(m_window.empty() ? "InitGA1" : "InitGA2", ENOMEM);
            raise(-1);
        }
    }
    m_windowStart = 0;
    m_windowValid = 0;
    ReadFileRange(0, 0, std::min(windowSize(), m_fileSize));
}

std::int32_t CReportCore::Init(const std::string& path, const char* baseHref, bool embedLinked,
                               std::string* traceOut, const std::int32_t* codePage,
                               std::string* styleSheetPath) {
    m_trace = traceOut;
    struct TraceReset {
        std::string*& target;
        ~TraceReset() { target = nullptr; }
    } traceReset{m_trace};

    trace("Enter FoL.Init core");
    resetForLoad(path, embedLinked);
    m_file.close();
    if (path.empty()) {
        raise(1);
    }
    try {
        if (m_tagBuffer.empty()) {
            m_tagBuffer.assign(static_cast<std::size_t>(kTagBufferStep), '\0');
        }
        std::string openError;
        if (!m_file.open(path, openError)) {
            SetExceptionText(openError, "InitOp2");
            raise(-1);
        }
        m_fileSize = m_file.size();
        sizeWindow();

        if (m_fileSize < kLookBehind && HasForm(m_window.data(), m_windowValid)) {
            raise(23);
        }
        trace("[FL-Init]bf GetFormatType");
        GetFormatType();
        trace("[FL-Init]af GetFormatType");
        if (m_format == ReportFormat::Unknown) {
            const char* first = m_window.data();
            const char* last = first + std::min<std::int64_t>(m_windowValid, 1024) - 1;
            if (m_windowValid > 0 && FindNoCaseInRange(first, last, "<frameset ") != nullptr &&
                FindNoCaseInRange(first, last, "<html>") != nullptr) {
                raise(24);
            }
            raise(13);
        }
        if (m_headMarkSeen) {
            scanMarkedPages();
        }
        if (m_pageCount == 0) {
            splitWithoutMarks();
            if (m_pageTable.empty()) {
                raise(m_format == ReportFormat::HtmlCss ? 3 : 14);
            }
        } else if (m_format == ReportFormat::HtmlCss && !CheckTopValues()) {
            raise(10);
        }

        const tagPageInfo& first = m_pageTable.front();
        std::string prologue = readRange(0, first.start);

        ParseBaseHref(prologue.data(), static_cast<std::int64_t>(prologue.size()));
        if (codePage != nullptr) {
            m_codePage = *codePage;
        } else {
            ParseMetaCharset(prologue.data(), static_cast<std::int64_t>(prologue.size()));
        }
        ParseDirection(prologue.data(), static_cast<std::int64_t>(prologue.size()));
        assembleHead(prologue, baseHref);
        SetBaseFolder(baseHref != nullptr ? std::string(baseHref) : m_reportPath, false);
        if (m_format == ReportFormat::HtmlCss && !InlineLinkedStyleSheet(m_head, styleSheetPath)) {
            AppendStyleBlocks(m_head);
        }
        ParsePrintDirectives(prologue.data(), static_cast<std::int64_t>(prologue.size()));

        m_state = 1;
        m_pagesPerPrintChunk = 1;
        std::int32_t height = 0;
        try {
            m_pageHeight = GetPageHeight(&height) ? height : 0;
        } catch (const ReportError&) {
            m_pageHeight = 0;
            m_errorCode = 0;
            m_errorText.clear();
        }
        return m_errorCode;
    } catch (...) {
        m_state = 0;
        m_file.close();
        throw;
    }
}

void CReportCore::splitWithoutMarks() {
    if (m_format == ReportFormat::HtmlCss) {
        trace("[FL-Init]bf GetEachPageInfo");
        if (GetEachPageInfo() != 0) {
            raise(3);
        }
        trace("[FL-Init]af GetEachPageInfo");
    } else {
        trace("[FL-Init]bf GetEachPageInfo_HTML");
        if (GetEachPageInfo_HTML() != 0) {
            raise(14);
        }
        trace("[FL-Init]af GetEachPageInfo_HTML");
    }
}

}  // namespace paginor
