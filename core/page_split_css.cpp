#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/report_core.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

// Bytes of a div that its start tag and closing tag must lie in.
constexpr std::int64_t kDivCopyBytes = 1024;
// How far behind an element text is looked for.
constexpr std::int64_t kTextLookBytes = 1000;
// Two elements per page; the last page of a 65536-page block may carry no TOP on its second.
constexpr std::size_t kPairBlockEntries = 131072;
constexpr std::size_t kMaxPeriod = 5;

std::int64_t secondDifference(std::int32_t a, std::int32_t b, std::int32_t c) {
    return static_cast<std::int64_t>(a) - 2 * static_cast<std::int64_t>(b) + c;
}

bool pairStructureHolds(const std::vector<tagElementEntry>& e, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t top = e[i].top;
        if (e[i].end < 0) {
            return false;
        }
        if (top == -1 && (i + 1) % kPairBlockEntries != 0 && !(n == 2 && i == 1)) {
            return false;
        }
        if (i >= 4 && top > 0 && e[i - 2].top > 0 && e[i - 4].top >= 0 &&
            std::llabs(secondDifference(e[i - 4].top, e[i - 2].top, top)) > 1) {
            return false;
        }
        if (i % 2 == 1 && top > 0 && e[i - 1].top >= 0 && top - e[i - 1].top != 1) {
            return false;
        }
    }
    return true;
}

struct Period {
    std::size_t step = 0;   // 0: none found
    bool compared = false;  // at least one second difference was within 1
};

Period findPeriod(const std::vector<tagElementEntry>& e, std::size_t n) {
    for (std::size_t k = 1; k <= kMaxPeriod && k <= (n + 2) / 3; ++k) {
        std::size_t m = 0;
        if ((n - 1) % k == 0) {
            m = n - k;
        } else if (n % k == 0) {
            m = n - k + 1;
        } else {
            continue;
        }
        bool failed = false;
        bool compared = false;
        for (std::size_t j = 2 * k; j < m; j += k) {
            if (std::llabs(secondDifference(e[j - 2 * k].top, e[j - k].top, e[j].top)) <= 1) {
                compared = true;
                continue;
            }
            failed = !(k == 2 && j + k >= m);
            break;
        }
        if (!failed) {
            return {k, compared};
        }
    }
    return {};
}

// The length of a prefix of the elements, at most count, that leaves every period testable:
// one more than a multiple of each period.
constexpr std::size_t kPeriodsMultiple = 60;
static_assert([] {
    for (std::size_t k = 1; k <= kMaxPeriod; ++k) {
        if (kPeriodsMultiple % k != 0) {
            return false;
        }
    }
    return true;
}());
std::size_t structurePrefix(std::size_t count) {
    return (count - 1) / kPeriodsMultiple * kPeriodsMultiple + 1;
}

// Where the page that entry j opens begins: behind the entry before it, or at entry j itself
// when that one's end was not found.
std::int64_t boundaryBefore(const std::vector<tagElementEntry>& e, std::size_t j) {
    return e[j - 1].end >= 0 ? e[j - 1].end + 1 : e[j].start;
}

}  // namespace

void CReportCore::setPageCount(std::int64_t pages) {
    if (pages > INT32_MAX) {
        raiseText("Too many pages: a report holds at most 2147483647 pages.");
    }
    m_pageCount = static_cast<std::int32_t>(pages);
}

bool CReportCore::pageTableIsSound() const {
    std::int64_t previousEnd = 0;
    for (const tagPageInfo& page : m_pageTable) {
        if (page.start < previousEnd || page.length <= 0 || page.length > m_fileSize - page.start) {
            return false;
        }
        previousEnd = page.start + page.length;
    }
    return !m_pageTable.empty();
}

bool CReportCore::pageStructureMayHold(const std::vector<tagElementEntry>& e, std::size_t n) {
    // Each way of dividing below holds on every prefix of the elements of a report it divides,
    // as long as the prefix leaves every period testable and each of its elements has the one
    // behind it to bound its text.
    if ((e[0].top == 0 && pairStructureHolds(e, n)) || findPeriod(e, n).step != 0) {
        return true;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (e[i].end < 0) {
            continue;
        }
        const std::int64_t from = e[i].end + 1;
        if (hasTextIn(from, std::min(from + kTextLookBytes, e[i + 1].start))) {
            return true;
        }
    }
    return false;
}

bool CReportCore::collectPositionedDivs(std::vector<tagElementEntry>& entries) {
    std::size_t checkpoint = kStructureCheckEntries;
    std::int64_t at = 0;
    while (at < m_fileSize) {
        std::int64_t available = 0;
        const char* const base = windowAt(at, available);
        const std::int64_t windowStart = m_windowStart;
        const char* const dataEnd = base + available;
        // Away from the end of the file the window keeps kMoveMargin bytes ahead of every '<'
        // looked at: a whole div of kDivCopyBytes is parsed in place.
        const bool reachesEnd = m_windowStart + m_windowValid >= m_fileSize;
        const char* const stop = reachesEnd ? dataEnd : std::max(base + 1, dataEnd - kMoveMargin);
        const char* p = base;
        while (p < stop && m_windowStart == windowStart) {
            p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(stop - p)));
            if (p == nullptr) {
                p = stop;
                break;
            }
            const std::int64_t left = dataEnd - p;
            const std::int64_t offset = at + (p - base);
            if (left >= 3 && (p[1] | 0x20) == 's' && (p[2] | 0x20) == 't') {
                if (isStyleBlockAt(offset)) {
                    recordStyleBlockAt(offset);
                }
                ++p;
                continue;
            }
            if (left < 5 || (p[1] | 0x20) != 'd' || !EqualNoCaseN(p, 5, "<div ", 5)) {
                ++p;
                continue;
            }
            std::int64_t end = -1;
            std::int32_t top = -1;
            const char* limit = p + std::min(left, kDivCopyBytes);
            if (parseDivLayoutIn(p, limit, offset, end, top) == DivLayout::NotPositioned) {
                p += 5;
                continue;
            }
            try {
                entries.push_back({offset, end, top});
            } catch (const std::bad_alloc&) {
                SetSystemErrorText("GEPIGA1", ENOMEM);
                raise(-1);
            }
            reportProgress(offset);
            // Two more elements behind the prefix: trimming drops at most one, so every element
            // of the prefix keeps the one behind it in the division.
            if (entries.size() == structurePrefix(checkpoint) + 2) {
                if (!pageStructureMayHold(entries, structurePrefix(checkpoint))) {
                    return false;
                }
                checkpoint *= 2;
            }
            // A closed element is skipped whole.
            p = end >= 0 ? base + (end + 1 - at) : p + 5;
        }
        at += p - base;
    }
    return true;
}

bool CReportCore::textBetween(const tagElementEntry& before, const tagElementEntry& after) {
    const std::int64_t from = before.end >= 0 ? before.end + 1 : before.start;
    return hasTextIn(from, std::min(from + kTextLookBytes, after.start));
}

std::int32_t CReportCore::GetEachPageInfo() {
    m_pageTable.clear();
    m_pageCount = 0;
    m_styleBlocks.clear();
    std::vector<tagElementEntry> e;
    if (!collectPositionedDivs(e) || e.empty()) {
        return -1;
    }
    const std::size_t collected = e.size();
    std::size_t n = collected;
    std::int64_t end = m_fileSize;
    auto textAfter = [&](const tagElementEntry& entry) {
        return hasTextIn(entry.end >= 0 ? entry.end + 1 : entry.start, m_fileSize);
    };

    // Trimming the last entry.
    bool pairsPossible = !(n == 3 && static_cast<std::int64_t>(e[1].top) <
                                         static_cast<std::int64_t>(e[2].top) - e[1].top);
    const tagElementEntry& last = e[n - 1];
    if (n % 2 == 1) {
        // A single element is kept: dropping it would leave nothing to split.
        if (n == 1) {
            pairsPossible = false;
        } else if (last.end < 0 || (!textAfter(last) && !textBetween(e[n - 2], last))) {
            end = last.start;
            --n;
        } else {
            pairsPossible = false;
        }
    } else if (last.end < 0) {
        if (!textAfter(last)) {
            end = last.start;
        }
        --n;
        pairsPossible = false;
    } else if (textAfter(last)) {
        pairsPossible = false;
    }
    // An element dropped with text behind it stays on the last page, which then runs to the end
    // of the file.
    const std::size_t count = end == m_fileSize ? n : collected;

    if (pairsPossible && e[0].top == 0 && pairStructureHolds(e, n)) {
        setPageCount(static_cast<std::int64_t>(n / 2));
        try {
            m_pageTable.assign(n / 2, tagPageInfo{});
        } catch (const std::bad_alloc&) {
            SetSystemErrorText("GEPIGA2", ENOMEM);
            raise(-1);
        }
        for (std::size_t j = 0; j < n / 2; ++j) {
            m_pageTable[j] = {e[2 * j].start, e[2 * j + 1].end - e[2 * j].start + 1};
        }
        return pageTableIsSound() ? 0 : -1;
    }

    const Period period = findPeriod(e, n);
    const std::size_t k = period.step;
    if (k == 0) {
        return divideByMarkedText(e, n, end);
    }
    std::size_t pages = 0;
    if (k >= 2) {
        if (!period.compared && std::llabs(static_cast<std::int64_t>(e[k].top) - e[k + 1].top -
                                           e[0].top + e[1].top) > 1) {
            if (k == 2 && n >= 4) {
                return divideByMarkedText(e, n, end);
            }
            raise(22);
        }
        pages = n / k;
    } else if (n >= 3) {
        if (std::llabs(secondDifference(e[n - 3].top, e[n - 2].top, e[n - 1].top)) <= 1) {
            const bool textAtEnd = textAfter(e[n - 1]);
            if (hasTextIn(0, e[0].start)) {
                pages = !textAtEnd && !textBetween(e[n - 2], e[n - 1]) ? n - 1 : n;
            } else {
                pages = !textAtEnd ? n - 1 : n;
            }
        } else {
            pages = n - 1;
        }
    } else if (n == 2) {
        pages = e[0].top == e[1].top ? 1 : 2;
    } else {
        pages = 1;
    }
    setPageCount(static_cast<std::int64_t>(pages));
    SetPageTableSize(e, static_cast<std::int32_t>(k), static_cast<std::int64_t>(count), end);
    return pageTableIsSound() ? 0 : -1;
}

void CReportCore::SetPageTableSize(const std::vector<tagElementEntry>& entries, std::int32_t step,
                                   std::int64_t count, std::int64_t end) {
    const auto pages = static_cast<std::size_t>(m_pageCount);
    const auto k = static_cast<std::size_t>(step);
    const auto collected = static_cast<std::size_t>(std::max<std::int64_t>(count, 0));
    m_pageTable.clear();
    if (pages == 0 || k == 0 || entries.empty() || collected > entries.size()) {
        return;
    }
    try {
        m_pageTable.assign(pages, tagPageInfo{});
    } catch (const std::bad_alloc&) {
        SetSystemErrorText("GEPIGA3", ENOMEM);
        raise(-1);
    }
    if (entries[0].top <= 1) {
        // Each page runs from its first element up to the next page's first element.
        for (std::size_t i = 0; i < pages; ++i) {
            const std::int64_t start = entries[i * k].start;
            const std::int64_t stop = (i + 1) * k < collected ? entries[(i + 1) * k].start : end;
            m_pageTable[i] = {start, stop - start};
        }
        return;
    }
    // The first element sits below the top of its page: each page ends behind its last
    // element, and the first begins with the report's first content.
    for (std::size_t i = 0; i < pages; ++i) {
        const std::int64_t start = i == 0 ? m_firstContentOffset : boundaryBefore(entries, i * k);
        const bool endsAtEnd = i == 0 ? pages == 1 : (i + 1) * k >= collected;
        const std::int64_t stop = endsAtEnd ? end : boundaryBefore(entries, (i + 1) * k);
        m_pageTable[i] = {start, stop - start};
    }
}

std::int32_t CReportCore::divideByMarkedText(const std::vector<tagElementEntry>& e,
                                             std::size_t count, std::int64_t end) {
    // An element with text behind it (up to the next element) opens a page. The last element
    // kept looks past an element left out behind it.
    std::vector<std::int64_t> starts;
    for (std::size_t i = 0; i < count; ++i) {
        if (e[i].end < 0) {
            continue;
        }
        const std::int64_t from = e[i].end + 1;
        std::int64_t to = std::min(from + kTextLookBytes, m_fileSize);
        if (i + 1 < count) {
            to = std::min(to, e[i + 1].start);
        }
        if (!hasTextIn(from, to)) {
            continue;
        }
        try {
            starts.push_back(starts.empty() ? m_firstContentOffset : boundaryBefore(e, i));
        } catch (const std::bad_alloc&) {
            SetSystemErrorText("GEPIGA3", ENOMEM);
            raise(-1);
        }
    }
    if (starts.empty()) {
        return -1;
    }
    setPageCount(static_cast<std::int64_t>(starts.size()));
    try {
        m_pageTable.assign(starts.size(), tagPageInfo{});
    } catch (const std::bad_alloc&) {
        SetSystemErrorText("GEPIGA3", ENOMEM);
        raise(-1);
    }
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::int64_t stop = i + 1 < starts.size() ? starts[i + 1] : end;
        m_pageTable[i] = {starts[i], stop - starts[i]};
    }
    return pageTableIsSound() ? 0 : -1;
}

}  // namespace paginor
