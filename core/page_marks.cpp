#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "core/report_core.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

bool isLowerLetter(char c) {
    return c >= 'a' && c <= 'z';
}

// "right" as a word of its own, the sign of a right-to-left layout in a div's style.
bool holdsWordRight(const std::string& tag) {
    static constexpr char kWord[] = "right";
    constexpr std::size_t n = sizeof kWord - 1;
    for (std::size_t i = 0; i + n <= tag.size(); ++i) {
        if (!EqualNoCaseN(tag.data() + i, static_cast<int>(n), kWord, static_cast<int>(n))) {
            continue;
        }
        bool letterBefore = i > 0 && isLowerLetter(FoldCase(tag[i - 1]));
        bool letterAfter = i + n < tag.size() && isLowerLetter(FoldCase(tag[i + n]));
        if (!letterBefore && !letterAfter) {
            return true;
        }
    }
    return false;
}

}  // namespace

void CReportCore::GetFormatType() {
    m_format = ReportFormat::Unknown;
    std::int64_t firstDiv = -1;       // "<div"
    std::int64_t firstDivBlank = -1;  // "<div "
    for (std::int64_t at = findByte(0, '<'); at >= 0; at = findByte(at + 1, '<')) {
        std::int64_t available = 0;
        const char* p = windowAt(at, available);
        if (!m_headMarkSeen && available >= kMarkLength &&
            std::memcmp(p, kHeadMark, kMarkLength) == 0) {
            m_headMarkSeen = true;
        }
        if (textAtNoCase(at + 1, "/div>")) {
            m_format = ReportFormat::HtmlCss;
            checkDirectionOfFirstDiv(at);
            return;
        }
        if (textAtNoCase(at + 1, "table")) {
            if (firstDiv < 0) {
                m_firstContentOffset = at;
                m_format = ReportFormat::Html;
            } else {
                m_format = ReportFormat::HtmlCss;
                if (m_firstContentOffset == 0) {
                    m_firstContentOffset = firstDiv;
                }
            }
            return;
        }
        if (textAtNoCase(at + 1, "div")) {
            if (firstDiv < 0) {
                firstDiv = at;
            }
            if (firstDivBlank < 0 && textAtNoCase(at + 1, "div ")) {
                firstDivBlank = at;
            }
        } else if (m_firstContentOffset == 0 && firstDivBlank < 0 &&
                   textAtNoCase(at + 1, "span ")) {
            m_firstContentOffset = at;
        }
    }
}

void CReportCore::checkDirectionOfFirstDiv(std::int64_t closingDiv) {
    std::int64_t open = closingDiv;
    do {
        open = open > 0 ? findLastByteBefore(open, '<') : -1;
    } while (open >= 0 && !textAtNoCase(open + 1, "div "));
    if (open < 0) {
        return;
    }
    std::int64_t close = findByte(open, '>');
    if (close < 0 || close > closingDiv) {
        return;
    }
    if (holdsWordRight(readRange(open + 4, close - open - 4))) {
        m_textDirection = TextDirection::RightToLeft;
    }
    if (m_firstContentOffset == 0) {
        m_firstContentOffset = open;
    }
}

std::int64_t CReportCore::findLastByteBefore(std::int64_t before, char c) {
    std::int64_t offset = before - 1;
    while (offset >= 0) {
        std::int64_t segmentStart = 0;
        const char* p = windowBackFrom(offset, segmentStart);
        const char* first = p - (offset - segmentStart);
        const void* hit = memrchr(first, c, static_cast<std::size_t>(p - first + 1));
        if (hit != nullptr) {
            return segmentStart + (static_cast<const char*>(hit) - first);
        }
        offset = segmentStart - 1;
    }
    return -1;
}

bool CReportCore::isStyleBlockAt(std::int64_t offset) {
    static constexpr int kBraceReach = 20;
    static constexpr int kBodyReach = 512;
    static constexpr std::size_t kMaxNameLength = 4;
    std::int64_t available = 0;
    const char* p = windowAt(offset, available);
    if (available < 9 || !EqualNoCaseN(p, 7, "<style>", 7) || p[7] != '#') {
        return false;
    }
    const char* end = p + available;
    const char* name = p + 8;
    const char* reach = std::min(end, name + kBraceReach);
    const char* brace = static_cast<const char*>(std::memchr(name, '{', reach - name));
    if (brace == nullptr) {
        return false;
    }
    const char* nameEnd = name;
    while (nameEnd < brace && !IsBlank(*nameEnd)) {
        ++nameEnd;
    }
    if (static_cast<std::size_t>(nameEnd - name) > kMaxNameLength) {
        return false;
    }
    const char* bodyEnd = std::min(end, brace + 1 + kBodyReach);
    const char* next = static_cast<const char*>(std::memchr(brace, '<', bodyEnd - brace));
    return next != nullptr && end - next >= 8 && EqualNoCaseN(next, 8, "</style>", 8);
}

void CReportCore::recordStyleBlockAt(std::int64_t offset) {
    if (m_styleBlocks.size() >= kMaxStyleBlocks) {
        raise(17);
    }
    m_styleBlocks.push_back(offset);
}

std::int64_t CReportCore::findDivBeforeHeadMark(std::int64_t mark, std::int64_t lowerBound) {
    bool tagOpen = false;
    std::int64_t offset = mark - 1;
    while (offset >= lowerBound) {
        std::int64_t segmentStart = 0;
        const char* p = windowBackFrom(offset, segmentStart);
        const std::int64_t stop = std::max(segmentStart, lowerBound);
        for (; offset >= stop; --offset, --p) {
            if (*p == '>') {
                if (tagOpen) {
                    raiseText("Syntax Error : Encounter \">\" while expecting \"<\"  (address:" +
                              std::to_string(offset) + ")");
                }
                tagOpen = true;
            } else if (*p == '<') {
                if (!tagOpen) {
                    raiseText("Syntax Error : Cannot find \">\" mark follow \"<\" mark (address: " +
                              std::to_string(offset) + ")");
                }
                if (textAtNoCase(offset + 1, "div ")) {
                    return offset;
                }
                // The look-ahead may have moved the window: fetch it anew.
                tagOpen = false;
                --offset;
                break;
            }
        }
    }
    return -1;
}

std::int64_t CReportCore::findClosingDivAfter(std::int64_t from) {
    for (std::int64_t at = findByte(from, '<'); at >= 0; at = findByte(at + 1, '<')) {
        if (textAtNoCase(at + 1, "/div>")) {
            return at + 5;
        }
    }
    return -1;
}

std::int64_t CReportCore::findMarkCandidate(std::int64_t from, bool css) {
    // A mark has '!' right behind its '<' and a style block '#' seven bytes behind ("<style>#"):
    // those rare bytes are looked for instead of every '<', and the '<' before one is tested with
    // the prefix within the window. A '<' too close to the window's end to tell is a candidate.
    static constexpr char kStyleBlockStart[] = "<style>#";
    constexpr std::int64_t kHashDistance = sizeof kStyleBlockStart - 2;
    const std::int64_t overlap = css ? kHashDistance : 1;
    std::int64_t at = from;
    while (at < m_fileSize) {
        std::int64_t available = 0;
        const char* const base = windowAt(at, available);
        // The first offset in [index, limit) whose byte distance further on is c: where the '<'
        // of a mark ('!', 1) or of a style block ('#', 7) would stand; kNone without one.
        constexpr std::int64_t kNone = INT64_MAX;
        auto next = [base, available](std::int64_t index, std::int64_t limit, char c,
                                      std::int64_t distance) {
            const std::int64_t stop = std::min(limit, available - distance);
            if (index >= stop) {
                return kNone;
            }
            const void* hit =
                std::memchr(base + index + distance, c, static_cast<std::size_t>(stop - index));
            return hit == nullptr ? kNone : static_cast<const char*>(hit) - base - distance;
        };
        // Style blocks are looked for only up to the next '!', so that each byte is searched
        // once for each of the two.
        for (std::int64_t index = 0; index < available;) {
            const std::int64_t bang = next(index, available, '!', 1);
            if (css) {
                for (std::int64_t open = next(index, bang, '#', kHashDistance); open != kNone;
                     open = next(open + 1, bang, '#', kHashDistance)) {
                    if (EqualNoCaseN(base + open, static_cast<int>(kHashDistance), kStyleBlockStart,
                                     static_cast<int>(kHashDistance))) {
                        return at + open;
                    }
                }
            }
            if (bang == kNone) {
                break;
            }
            if (base[bang] == '<' &&
                (available - bang < kMarkCommonLength ||
                 std::memcmp(base + bang, kHeadMark, kMarkCommonLength) == 0)) {
                return at + bang;
            }
            index = bang + 1;
        }
        if (at + available >= m_fileSize) {
            break;
        }
        // A '<' in the window's last bytes has its '!' or '#' in the next window.
        at = std::max(at + 1, at + available - overlap);
    }
    return -1;
}

std::int32_t CReportCore::FindNextPageMarks(std::int64_t from, std::int64_t& head,
                                            std::int64_t& foot) {
    m_errorCode = 0;
    head = -1;
    foot = -1;
    const bool css = m_format == ReportFormat::HtmlCss;
    for (std::int64_t at = findMarkCandidate(from, css); at >= 0;
         at = findMarkCandidate(at + 1, css)) {
        if (css && isStyleBlockAt(at)) {
            recordStyleBlockAt(at);
        }
        std::int64_t available = 0;
        const char* p = windowAt(at, available);
        if (available < kMarkLength) {
            break;
        }
        const bool isHead = std::memcmp(p, kHeadMark, kMarkLength) == 0;
        const bool isFoot = !isHead && std::memcmp(p, kFootMark, kMarkLength) == 0;
        if (!isHead && !isFoot) {
            continue;
        }
        const std::int64_t last = at + kMarkLength - 1;
        if (isHead) {
            if (head >= 0) {
                raiseText(
                    "Syntax error : Encounter PageHeadMark while expecting PageFootMark "
                    "(reference address: " +
                    std::to_string(head) + ", " + std::to_string(last) + ")");
            }
            // A page of positioned boxes starts at the div that holds its head mark, but never
            // before the end of the page in front of it.
            head = css ? findDivBeforeHeadMark(at, from) : at;
        } else {
            if (foot >= 0) {
                raiseText(
                    "Syntax error : Encounter PageFootMark while expecting PageHeadMark "
                    "(reference address: " +
                    std::to_string(foot) + ", " + std::to_string(last) + ")");
            }
            foot = css ? findClosingDivAfter(last + 1) : last;
        }
        if (head >= 0 && foot >= 0) {
            return 0;
        }
        at = last;
    }
    return 0;
}

std::int32_t CReportCore::readFirstTopInScan(std::int64_t start, std::int32_t pageNumber) {
    // The page's first tag is in the window now. A tag whose TOP cannot be read is left to the
    // TOP check, which reads it again and fails then: after any error of the scan, as before.
    try {
        std::int64_t length = 0;
        CopyToStringBuffer(start, '>', length);
        return GetTopValue(0, pageNumber);
    } catch (const ReportError&) {
        m_errorCode = 0;
        return kTopNotRead;
    }
}

void CReportCore::scanMarkedPages() {
    std::vector<tagPageInfo> pages;
    const bool css = m_format == ReportFormat::HtmlCss;
    m_firstTops.clear();
    std::int64_t from = 0;
    while (true) {
        std::int64_t head = -1;
        std::int64_t foot = -1;
        FindNextPageMarks(from, head, foot);
        if (head < 0 && foot < 0) {
            break;
        }
        if (head < 0 || foot < 0) {
            raise(9);
        }
        reportProgress(foot);
        if (head > foot) {
            raiseText("Syntax error,Encounter PageFootMark before PageHeadMark in page " +
                      std::to_string(pages.size() + 1) +
                      " , or the PageHeaderMark is missing (address:" + std::to_string(foot) +
                      " , " + std::to_string(head) + ")");
        }
        if (pages.size() >= static_cast<std::size_t>(INT32_MAX)) {
            raiseText("Too many pages: a report holds at most 2147483647 pages.");
        }
        try {
            pages.push_back({head, foot - head + 1});
            if (css) {
                m_firstTops.push_back(
                    readFirstTopInScan(head, static_cast<std::int32_t>(pages.size())));
            }
        } catch (const std::bad_alloc&) {
            SetSystemErrorText("InitGA4", ENOMEM);
            raise(-1);
        }
        from = foot + 1;
        if (from >= m_fileSize) {
            break;
        }
    }
    m_pageTable = std::move(pages);
    m_pageCount = static_cast<std::int32_t>(m_pageTable.size());
}

}  // namespace paginor
