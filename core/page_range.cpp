#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "core/report_core.h"
#include "platform/replacing_file.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

constexpr std::int32_t kPageBlock = CReportCore::kPageBlock;
// The tallest run, in TOP units, that the browser lays out.
constexpr std::int64_t kHeightLimit = 130000;
// Room for links that grow when they become local copies.
constexpr std::int64_t kLinkAllowancePerPage = 1024;
constexpr std::int64_t kPlainAllowance = 256;
// File output of HTMLCSS reports covers the first page block only.
constexpr std::int32_t kLastWritablePage = 65535;
constexpr std::int64_t kTrailerLength = sizeof CReportCore::kTrailer - 1;
constexpr std::int32_t kCancelledCode = 19;  // "Cancel by server administrator/user"

bool isBlockPage(std::int64_t page) {
    return page % kPageBlock == 0;
}

bool validRange(std::int32_t p1, std::int32_t p2, std::int32_t pageCount) {
    return p1 >= 1 && p2 <= pageCount && p1 <= p2;
}

std::string rangeText(std::int32_t pageCount) {
    return "Page number should between 1 and " + std::to_string(pageCount) +
           " , and the first one should less than the second one";
}

const tagPageInfo& pageAt(const CReportCore& core, std::int32_t pageNumber) {
    return core.pageTable()[static_cast<std::size_t>(pageNumber - 1)];
}

void copyPage(CReportCore& core, std::int32_t pageNumber) {
    const tagPageInfo& page = pageAt(core, pageNumber);
    std::int64_t length = page.length;
    core.CopyToStringBuffer(page.start, '\0', length);
}

}  // namespace

std::int32_t CReportCore::startingTop(std::int32_t firstPage) {
    if (isBlockPage(firstPage)) {
        return 0;
    }
    copyPage(*this, firstPage);
    const std::int32_t top = GetTopValue(0, firstPage);
    if (top != -1 && top < 1) {
        return top;
    }
    if (firstPage == 1) {
        return 0;
    }
    copyPage(*this, firstPage - 1);
    bool fullyPlaced = false;
    const std::int32_t previousLast = GetTopValueAtPage(&fullyPlaced);
    const std::int64_t afterPrevious = std::int64_t{previousLast} + 1;
    if (top != -1 && !(fullyPlaced && std::llabs(afterPrevious - top) > 2)) {
        return top;
    }
    // A page of the pair layout ends with a box one point below its first: that box marks the
    // top of its own page, not the end of its content, so the run begins at its own first TOP.
    if (top != -1 && previousLast > 0 &&
        afterPrevious == std::int64_t{firstTopOrNone(firstPage - 1)} + 2) {
        return top;
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(afterPrevious, INT32_MAX));
}

std::int32_t CReportCore::firstTopOrNone(std::int32_t pageNumber) {
    // Only a hint: a first tag that cannot be read leaves the stored error as it was.
    const std::int32_t code = m_errorCode;
    std::string text = m_errorText;
    try {
        const std::int32_t top = GetTopValue(0, pageNumber);
        return top >= 0 ? top : -2;
    } catch (const ReportError&) {
        m_errorCode = code;
        m_errorText = std::move(text);
        return -2;
    }
}

void CReportCore::requireLoadedRange(std::int32_t p1, std::int32_t p2) {
    if (m_state == 0) {
        raise(5);
    }
    if (!validRange(p1, p2, m_pageCount)) {
        raiseText(rangeText(m_pageCount));
    }
}

std::int32_t CReportCore::GetPage(std::int32_t p1, std::int32_t p2, std::string& document,
                                  bool countText) {
    document.clear();
    requireLoadedRange(p1, p2);
    const bool css = m_format == ReportFormat::HtmlCss;
    if (css && p1 / kPageBlock != p2 / kPageBlock) {
        raise(6);
    }
    if (css && isBlockPage(p1) && p2 != p1) {
        raise(7);
    }
    std::int32_t startTop = 0;
    if (css && !isBlockPage(p1)) {
        startTop = startingTop(p1);
        copyPage(*this, p2);
        if (std::int64_t{GetTopValueAtPage()} - startTop > kHeightLimit) {
            raise(4);
        }
    }

    const tagPageInfo& last = pageAt(*this, p2);
    const std::int64_t span = last.start + last.length - pageAt(*this, p1).start;
    const std::int64_t pages = std::int64_t{p2} - p1 + 1;
    const std::int64_t allowance =
        (m_embedLinked ? pages * kLinkAllowancePerPage : kPlainAllowance) +
        (countText ? pages * static_cast<std::int64_t>(sizeof kPrintPageMark - 1) : 0);
    try {
        document.reserve(static_cast<std::size_t>(static_cast<std::int64_t>(m_head.size()) + span +
                                                  kTrailerLength + allowance));
    } catch (const std::bad_alloc&) {
        SetSystemErrorText("GPgGA2", ENOMEM);
        raise(-1);
    }
    try {
        document += m_head;
        for (std::int32_t p = p1; p <= p2; ++p) {
            copyPage(*this, p);
            if (css && startTop != 0) {
                RebaseTopValues(startTop, p);
            }
            if (css && countText) {
                HideEmptyLastDiv();
            }
            if (m_embedLinked) {
                LocalizeImageLinks();
            }
            if (countText) {
                document += kPrintPageMark;
            }
            document.append(m_tagBuffer.data(), static_cast<std::size_t>(m_tagUsed));
        }
        document += kTrailer;
        if (countText) {
            CountTextChars(document.data(), static_cast<std::int64_t>(document.size()));
        }
    } catch (const std::bad_alloc&) {
        document.clear();
        SetSystemErrorText("GPgGA1", ENOMEM);
        raise(-1);
    } catch (...) {
        document.clear();
        throw;
    }
    return 0;
}

std::int32_t CReportCore::SplitPageRange(std::int32_t p1, std::int32_t p2,
                                         std::vector<tagPageRun>& runs) {
    runs.clear();
    requireLoadedRange(p1, p2);
    if (m_format != ReportFormat::HtmlCss) {
        return SplitRange(p1, p2, runs);
    }
    std::vector<tagPageRun> part;
    for (std::int64_t p = p1; p <= p2;) {
        if (isBlockPage(p)) {
            runs.push_back({static_cast<std::int32_t>(p), static_cast<std::int32_t>(p)});
            ++p;
            continue;
        }
        const std::int64_t blockEnd = std::min<std::int64_t>(p | (kPageBlock - 1), p2);
        SplitRunByHeight(static_cast<std::int32_t>(p), static_cast<std::int32_t>(blockEnd), part);
        runs.insert(runs.end(), part.begin(), part.end());
        p = blockEnd + 1;
    }
    return 0;
}

std::int32_t CReportCore::GetPagesInRanges(std::int32_t p1, std::int32_t p2) {
    std::vector<tagPageRun> runs;
    SplitPageRange(p1, p2, runs);
    std::string document;
    for (const tagPageRun& run : runs) {
        GetPage(run.first, run.last, document, false);
    }
    return 0;
}

std::int32_t CReportCore::OutputToHtmlFile(std::int32_t p1, std::int32_t p2,
                                           const std::string& path,
                                           const std::atomic<std::int32_t>* cancel,
                                           const ProgressSink& progress) {
    requireLoadedRange(p1, p2);
    const bool css = m_format == ReportFormat::HtmlCss;
    if (css && (p1 > kLastWritablePage || p2 > kLastWritablePage)) {
        raiseText("Only support output up to page 65536!");
    }
    const std::int32_t startTop = css ? startingTop(p1) : 0;

    ReplacingFile file(path);
    auto check = [&](bool done) {
        if (!done) {
            SetExceptionText(file.error(), "OTHFOp");
            raise(-1);
        }
    };
    check(file.create());
    check(file.write(m_head.data(), static_cast<std::int64_t>(m_head.size())));
    const std::int64_t pages = std::int64_t{p2} - p1 + 1;
    int shown = 0;
    for (std::int32_t p = p1; p <= p2; ++p) {
        if (cancel != nullptr && cancel->load() != 0) {
            raise(kCancelledCode);
        }
        copyPage(*this, p);
        if (startTop != 0) {
            RebaseTopValues(startTop, p);
        }
        check(file.write(m_tagBuffer.data(), m_tagUsed));
        const auto percent = static_cast<int>((p - p1 + 1) * 100 / pages);
        if (progress && percent != shown) {
            shown = percent;
            progress(percent);
        }
    }
    check(file.write(kTrailer, kTrailerLength));
    if (progress) {
        progress(0);
    }
    // The flush to the disk is the long part of the end: a request during it still counts.
    check(file.sync());
    if (cancel != nullptr && cancel->load() != 0) {
        raise(kCancelledCode);
    }
    check(file.commit());
    return 0;
}

std::int64_t CReportCore::CheckPageRange(std::int32_t p1, std::int32_t p2) {
    if (p2 == -1) {
        p2 = p1;
    }
    requireLoadedRange(p1, p2);
    const tagPageInfo& last = pageAt(*this, p2);
    return last.start + last.length - pageAt(*this, p1).start;
}

std::int32_t CReportCore::SplitRange(std::int32_t p1, std::int32_t p2,
                                     std::vector<tagPageRun>& runs) {
    runs.clear();
    if (p1 > p2) {
        return 0;
    }
    const std::int64_t k = std::max(m_pagesPerPrintChunk, 1);
    try {
        runs.reserve(static_cast<std::size_t>((std::int64_t{p2} - p1 + k) / k));
    } catch (const std::bad_alloc&) {
        SetSystemErrorText("SRGA1", ENOMEM);
        raise(-1);
    }
    for (std::int64_t first = p1; first <= p2; first += k) {
        runs.push_back({static_cast<std::int32_t>(first),
                        static_cast<std::int32_t>(std::min<std::int64_t>(first + k - 1, p2))});
    }
    return 0;
}

std::int32_t CReportCore::SplitRunByHeight(std::int32_t p1, std::int32_t p2,
                                           std::vector<tagPageRun>& runs) {
    runs.clear();
    requireLoadedRange(p1, p2);
    if (p1 / kPageBlock != p2 / kPageBlock) {
        raise(6);
    }
    if (isBlockPage(p1)) {
        if (p2 != p1) {
            raise(7);
        }
        runs.push_back({p1, p1});
        return 0;
    }
    // Measured from the starting TOP, as GetPage measures the run it builds.
    const std::int64_t startTop = startingTop(p1);
    std::int32_t k = std::min(p2 - p1 + 1, std::max(m_pagesPerPrintChunk, 1));
    for (;;) {
        copyPage(*this, p1 + k - 1);
        if (GetTopValueAtPage() - startTop <= kHeightLimit) {
            break;
        }
        if (--k == 0) {
            raise(2);
        }
    }
    for (std::int64_t first = p1; first <= p2; first += k) {
        runs.push_back({static_cast<std::int32_t>(first),
                        static_cast<std::int32_t>(std::min<std::int64_t>(first + k - 1, p2))});
    }
    return 0;
}

std::int32_t CReportCore::GetInfo(std::string& page) {
    page += "<html>\n";
    page += "<body bgcolor=\"#000000\" text=\"#FFFF00\">\n";
    if (m_state != 0) {
        page += m_format == ReportFormat::HtmlCss ? "<p>Report Format : HTMLCSS</p>"
                                                  : "<p>Report Format : HTML</p>";
        page += "<p>File size : ";
        page += "<font color=\"#FF0000\"> " + std::to_string(m_fileSize) + " </font>";
        page += "bytes</p>\n<p>Pages num : ";
        page += "<font color=\"#FF0000\"> " + std::to_string(m_pageCount) + " </font>pages";
    } else {
        page += "<p>You have not open any file";
    }
    page += " </body>\n</html>";
    return 0;
}

}  // namespace paginor
