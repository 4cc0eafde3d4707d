#include <algorithm>
#include <cstring>
#include <new>

#include "core/report_core.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

constexpr std::int64_t kTableTagLength = 7;  // "<table "
// How far back a table looks for the cell tag that holds it; a "<td ...>" with many attributes
// is far longer than a few dozen bytes.
constexpr std::int64_t kCellLookBack = 1024;
constexpr std::int64_t kShortPageBytes = 500;
// Content that shows without any text character.
constexpr const char* kEmbeddedContent[] = {"<img", "<object", "<embed", "<input"};

bool isTableTag(const char* p) {
    return (p[1] | 0x20) == 't' && EqualNoCaseN(p, kTableTagLength, "<table ", kTableTagLength);
}

}  // namespace

bool CReportCore::tableSitsInCell(std::int64_t table) {
    const std::int64_t lowest = std::max<std::int64_t>(0, table - kCellLookBack);
    std::int64_t open = -1;
    for (std::int64_t offset = table - 1; offset >= lowest && open < 0;) {
        std::int64_t segmentStart = 0;
        const char* p = windowBackFrom(offset, segmentStart);
        const std::int64_t from = std::max(segmentStart, lowest);
        const char* first = p - (offset - from);
        const void* hit = memrchr(first, '<', static_cast<std::size_t>(p - first + 1));
        if (hit != nullptr) {
            open = from + (static_cast<const char*>(hit) - first);
        }
        offset = from - 1;
    }
    if (open < 0) {
        return false;
    }
    std::int64_t available = 0;
    const char* p = windowAt(open, available);
    return available >= 4 && EqualNoCaseN(p, 3, "<td", 3) && (IsBlank(p[3]) || p[3] == '>');
}

bool CReportCore::isEmptyShortPage(const tagPageInfo& page) {
    if (page.length >= kShortPageBytes || hasTextIn(page.start, page.start + page.length)) {
        return false;
    }
    // A short page lies wholly in the window: it keeps at least kMoveMargin bytes ahead.
    std::int64_t available = 0;
    const char* first = windowAt(page.start, available);
    const char* last = first + std::min(available, page.length) - 1;
    for (const char* keyword : kEmbeddedContent) {
        if (FindNoCaseInRange(first, last, keyword) != nullptr) {
            return false;
        }
    }
    return true;
}

std::int32_t CReportCore::GetEachPageInfo_HTML() {
    m_pageTable.clear();
    m_pageCount = 0;
    std::int64_t at = 0;
    while (at < m_fileSize) {
        std::int64_t available = 0;
        const char* const base = windowAt(at, available);
        const char* const dataEnd = base + available;
        // Away from the end of the file the window keeps kMoveMargin bytes ahead of every '<'
        // looked at, so a whole tag can be compared in place.
        const bool reachesEnd = m_windowStart + m_windowValid >= m_fileSize;
        const char* const stop = reachesEnd ? dataEnd : std::max(base + 1, dataEnd - kMoveMargin);
        const char* p = base;
        std::int64_t table = -1;
        while (p < stop) {
            p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(stop - p)));
            if (p == nullptr) {
                p = stop;
                break;
            }
            if (dataEnd - p >= kTableTagLength && isTableTag(p)) {
                table = at + (p - base);
                break;
            }
            ++p;
        }
        if (table < 0) {
            at += p - base;
            continue;
        }
        if (tableSitsInCell(table)) {
            m_nestedTable = true;
        } else {
            try {
                m_pageTable.push_back({table, 0});
            } catch (const std::bad_alloc&) {
                SetSystemErrorText("GEPIGA1", ENOMEM);
                raise(-1);
            }
            reportProgress(table);
        }
        at = table + kTableTagLength;
    }
    if (m_pageTable.empty()) {
        return -1;
    }
    for (std::size_t i = 0; i < m_pageTable.size(); ++i) {
        const std::int64_t end = i + 1 < m_pageTable.size() ? m_pageTable[i + 1].start : m_fileSize;
        m_pageTable[i].length = end - m_pageTable[i].start;
    }

    // Drop pages that show nothing, but never the last one left.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_pageTable.size(); ++i) {
        const tagPageInfo page = m_pageTable[i];
        const bool onlyOneLeft = kept == 0 && i + 1 == m_pageTable.size();
        if (!onlyOneLeft && isEmptyShortPage(page)) {
            continue;
        }
        m_pageTable[kept++] = page;
    }
    m_pageTable.resize(kept);
    setPageCount(static_cast<std::int64_t>(m_pageTable.size()));
    return 0;
}

}  // namespace paginor
