// Header and footer removal and the output records of the grid.

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/read/box_reader.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

constexpr std::int32_t kFoldTopDistance = 15;
constexpr std::int32_t kSpacerGap = 55;  // points between row tops that leave an empty row

enum class TextMatch { Different, Equal, DigitsOnly };

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The end of the number that starts at text[at], at itself when none does. A number is one run
// for the comparison however it is written: digits with ',' or '.' between them, after a sign
// that no digit precedes, or in parentheses.
std::int32_t NumberEnd(const char* text, std::int32_t length, std::int32_t at) {
    std::int32_t k = at;
    const bool parenthesised = text[k] == '(';
    if (parenthesised ||
        ((text[k] == '-' || text[k] == '+') && (at == 0 || !IsDigit(text[at - 1])))) {
        ++k;
    }
    if (k >= length || !IsDigit(text[k])) {
        return at;
    }
    while (k < length && (IsDigit(text[k]) || ((text[k] == ',' || text[k] == '.') &&
                                               k + 1 < length && IsDigit(text[k + 1])))) {
        ++k;
    }
    if (parenthesised) {
        return k < length && text[k] == ')' ? k + 1 : at;
    }
    return k;
}

TextMatch CompareTexts(const tagGridCell& a, const tagGridCell& b) {
    if (a.text == nullptr || b.text == nullptr) {
        return TextMatch::Equal;
    }
    if ((a.textLength == 0) != (b.textLength == 0)) {
        return TextMatch::Different;
    }
    if (EqualNoCaseN(a.text, a.textLength, b.text, b.textLength)) {
        return TextMatch::Equal;
    }
    // Two different numbers are data, never a page number.
    if (IsNumberText(a.text, a.textLength) && IsNumberText(b.text, b.textLength)) {
        return TextMatch::Different;
    }
    std::int32_t i = 0;
    std::int32_t j = 0;
    while (i < a.textLength && j < b.textLength) {
        const std::int32_t ni = NumberEnd(a.text, a.textLength, i);
        const std::int32_t nj = NumberEnd(b.text, b.textLength, j);
        if ((ni > i) != (nj > j)) {
            return TextMatch::Different;
        }
        if (ni > i) {
            i = ni;
            j = nj;
            continue;
        }
        const std::int32_t si = i;
        const std::int32_t sj = j;
        while (i < a.textLength && NumberEnd(a.text, a.textLength, i) == i) {
            ++i;
        }
        while (j < b.textLength && NumberEnd(b.text, b.textLength, j) == j) {
            ++j;
        }
        if (!EqualNoCaseN(a.text + si, i - si, b.text + sj, j - sj)) {
            return TextMatch::Different;
        }
    }
    return i == a.textLength && j == b.textLength ? TextMatch::DigitsOnly : TextMatch::Different;
}

bool SameFontName(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        return true;
    }
    const std::string_view x(a);
    const std::string_view y(b);
    return EqualNoCaseN(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()));
}

TextMatch CompareCells(const tagGridCell& a, const tagGridCell& b) {
    const TextMatch texts = CompareTexts(a, b);
    if (texts == TextMatch::Different) {
        return texts;
    }
    if (a.text == nullptr && b.text == nullptr) {
        return TextMatch::Equal;
    }
    if (a.text == nullptr || b.text == nullptr || a.bold != b.bold || a.fontSize != b.fontSize ||
        a.fontColour != b.fontColour || a.backgroundColour != b.backgroundColour ||
        !SameFontName(a.fontName, b.fontName)) {
        return TextMatch::Different;
    }
    return texts;
}

struct PageRows {
    std::int32_t first = 0;
    std::int32_t count = 0;
};

// Rows of each page; empty when some page has none.
std::vector<PageRows> RowsByPage(const std::vector<tagGridRowInfo>& rows, std::int32_t rowCount,
                                 std::int32_t pages) {
    std::vector<PageRows> result(static_cast<std::size_t>(pages), PageRows{-1, 0});
    for (std::int32_t r = 0; r < rowCount; ++r) {
        if (rows[r].page < 0 || rows[r].page >= pages) {
            return {};
        }
        PageRows& page = result[rows[r].page];
        if (page.first < 0) {
            page.first = r;
        }
        ++page.count;
    }
    for (const PageRows& page : result) {
        if (page.count == 0) {
            return {};
        }
    }
    return result;
}

// HTMLCSS rows repeat only at the same height on their pages; a page whose top is unknown
// repeats nothing.
bool SameHeightOnPage(const std::vector<tagGridRowInfo>& rows,
                      const std::vector<std::int32_t>& pageTops, std::int32_t row,
                      std::int32_t otherRow) {
    auto pageTop = [&](std::int32_t r) {
        const std::int32_t page = rows[r].page;
        return page >= 0 && static_cast<std::size_t>(page) < pageTops.size()
                   ? pageTops[static_cast<std::size_t>(page)]
                   : -1;
    };
    const std::int32_t top = pageTop(row);
    const std::int32_t otherTop = pageTop(otherRow);
    return top >= 0 && otherTop >= 0 &&
           std::int64_t{rows[row].top} - top == std::int64_t{rows[otherRow].top} - otherTop;
}

const tagPageBody* bodyOf(const std::vector<tagPageBody>& bodies, std::int32_t page) {
    return page >= 0 && static_cast<std::size_t>(page) < bodies.size() &&
                   bodies[static_cast<std::size_t>(page)].present
               ? &bodies[static_cast<std::size_t>(page)]
               : nullptr;
}

// A header row lies above its page's body, a footer row below it.
bool aboveBody(const std::vector<tagPageBody>& bodies, const tagGridRowInfo& row) {
    const tagPageBody* body = bodyOf(bodies, row.page);
    return body == nullptr || std::int64_t{row.top} * 10 < body->top;
}

bool belowBody(const std::vector<tagPageBody>& bodies, const tagGridRowInfo& row) {
    const tagPageBody* body = bodyOf(bodies, row.page);
    return body == nullptr || std::int64_t{row.top} * 10 > body->bottom;
}

// Cells of two rows stand at one place: in one grid column, or, for pieces, with their left
// edges, centres or right edges this close (tenths of a point). A right-aligned page number
// moves left as it gains a digit and so changes its grid column.
constexpr std::int64_t kSamePlace = 20;

bool SamePlace(const tagGridCell& a, std::int32_t columnA, const tagGridCell& b,
               std::int32_t columnB) {
    if (a.piece == nullptr || b.piece == nullptr) {
        return columnA == columnB;
    }
    const auto& x = *static_cast<const tagDivInfo*>(a.piece);
    const auto& y = *static_cast<const tagDivInfo*>(b.piece);
    const auto near = [](std::int64_t u, std::int64_t v) {
        return std::llabs(u - v) <= kSamePlace;
    };
    return near(x.leftEdge, y.leftEdge) || near(x.rightEdge, y.rightEdge) ||
           near(std::int64_t{x.leftEdge} + x.rightEdge, std::int64_t{y.leftEdge} + y.rightEdge);
}

// The nearest row with content above or below row on its page, -1 when none.
std::int32_t NeighbourRow(const CConvertEngine& e, std::int32_t row, std::int32_t step) {
    const std::int32_t page = e.rowInfo(row).page;
    for (std::int32_t r = row + step; r >= 0 && r < e.rowCount() && e.rowInfo(r).page == page;
         r += step) {
        if (e.rowInfo(r).occupied > 0) {
            return r;
        }
    }
    return -1;
}

// A cell whose digits change from page to page is a page number or a date only when the rows
// next to it on its own page hold nothing like it at its place: a key column counting down a
// list ("S00001", "S00002", ...) changes in its digits too, on every row.
bool CountsDownItsPage(const CConvertEngine& e, std::int32_t row, std::int32_t column) {
    const tagGridCell& cell = e.cell(row, column);
    for (const std::int32_t step : {-1, 1}) {
        const std::int32_t neighbour = NeighbourRow(e, row, step);
        if (neighbour < 0) {
            continue;
        }
        for (std::int32_t c = 0; c < e.columnCount(); ++c) {
            const tagGridCell& other = e.cell(neighbour, c);
            if (other.text != nullptr && SamePlace(cell, column, other, c) &&
                CompareTexts(cell, other) != TextMatch::Different) {
                return true;
            }
        }
    }
    return false;
}

// The cells with text of two rows pair up left to right; the rows repeat when they have as many,
// every pair stands at one place and compares equal.
TextMatch CompareRows(const CConvertEngine& e, std::int32_t a, std::int32_t b,
                      std::int32_t* digitsOnly) {
    const std::int32_t columns = e.columnCount();
    std::int32_t ca = 0;
    std::int32_t cb = 0;
    std::int32_t digits = 0;
    for (;;) {
        while (ca < columns && e.cell(a, ca).text == nullptr) {
            ++ca;
        }
        while (cb < columns && e.cell(b, cb).text == nullptr) {
            ++cb;
        }
        if (ca == columns || cb == columns) {
            break;
        }
        const tagGridCell& x = e.cell(a, ca);
        const tagGridCell& y = e.cell(b, cb);
        const TextMatch m = SamePlace(x, ca, y, cb) ? CompareCells(x, y) : TextMatch::Different;
        if (m == TextMatch::Different ||
            (m == TextMatch::DigitsOnly &&
             (CountsDownItsPage(e, a, ca) || CountsDownItsPage(e, b, cb)))) {
            return TextMatch::Different;
        }
        digits += m == TextMatch::DigitsOnly ? 1 : 0;
        ++ca;
        ++cb;
    }
    if (ca != columns || cb != columns) {
        return TextMatch::Different;
    }
    if (digitsOnly != nullptr) {
        *digitsOnly = digits;
    }
    return digits > 0 ? TextMatch::DigitsOnly : TextMatch::Equal;
}

}  // namespace

void CConvertEngine::ClearRow(std::int32_t row) {
    for (std::int32_t c = 0; c < m_columnCount; ++c) {
        tagGridCell& cell = at(row, c);
        cell.text = nullptr;
        cell.textLength = 0;
        cell.piece = nullptr;
    }
    m_rows[row].occupied = 0;
}

void CConvertEngine::RemoveRepeatedHeaders(const std::vector<tagPageBody>& bodies) {
    if (m_pageCount < 2) {
        return;
    }
    const std::vector<PageRows> pages = RowsByPage(m_rows, m_rowCount, m_pageCount);
    if (pages.empty()) {
        return;
    }
    const std::int32_t reference = m_firstPageIndex == 0 && m_pageCount >= 3 ? 1 : 0;
    std::int32_t height = 0;
    for (std::int32_t k = 0; k < pages[reference].count; ++k, ++height) {
        bool same = aboveBody(bodies, m_rows[pages[reference].first + k]);
        for (std::int32_t p = reference + 1; p < m_pageCount && same; ++p) {
            if (k >= pages[p].count || !aboveBody(bodies, m_rows[pages[p].first + k]) ||
                (m_mode == kFormatHtmlCss &&
                 !SameHeightOnPage(m_rows, m_pageTops, pages[reference].first + k,
                                   pages[p].first + k))) {
                same = false;
                break;
            }
            std::int32_t digitsOnly = 0;
            same = CompareRows(*this, pages[reference].first + k, pages[p].first + k,
                               &digitsOnly) != TextMatch::Different &&
                   digitsOnly < 3;
        }
        if (!same) {
            break;
        }
    }
    // A page that repeats the reference page whole is data, not a header, unless its body lies
    // in its frames.
    if (bodyOf(bodies, reference) == nullptr) {
        height = std::min(height, pages[reference].count - 1);
    }
    if (height <= 0) {
        return;
    }
    const std::int32_t firstLosing = m_firstPageIndex <= 1 ? 1 : 0;
    for (std::int32_t p = firstLosing; p < m_pageCount; ++p) {
        for (std::int32_t k = 0; k < std::min(height, pages[p].count); ++k) {
            ClearRow(pages[p].first + k);
        }
    }
    CountColumnCells();
}

void CConvertEngine::RemoveRepeatedFooters(const std::vector<tagPageBody>& bodies) {
    if (m_pageCount < 2) {
        return;
    }
    const std::vector<PageRows> pages = RowsByPage(m_rows, m_rowCount, m_pageCount);
    if (pages.empty()) {
        return;
    }
    auto rowFromBottom = [&](std::int32_t p, std::int32_t k) {
        return pages[p].first + pages[p].count - 1 - k;
    };
    std::int32_t height = 0;
    for (std::int32_t k = 0; k < pages[0].count; ++k, ++height) {
        bool same = belowBody(bodies, m_rows[rowFromBottom(0, k)]);
        for (std::int32_t p = 1; p < m_pageCount && same; ++p) {
            if (k >= pages[p].count || !belowBody(bodies, m_rows[rowFromBottom(p, k)]) ||
                (m_mode == kFormatHtmlCss &&
                 !SameHeightOnPage(m_rows, m_pageTops, rowFromBottom(0, k), rowFromBottom(p, k)))) {
                same = false;
                break;
            }
            same = CompareRows(*this, rowFromBottom(0, k), rowFromBottom(p, k), nullptr) !=
                   TextMatch::Different;
        }
        if (!same) {
            break;
        }
    }
    const std::int32_t pagesLosing = m_lastBatch ? m_pageCount - 1 : m_pageCount;
    // The footer never takes a page's last remaining content row, the header's removal included;
    // a page whose body lies in its frames has more.
    for (std::int32_t p = 0; p < pagesLosing; ++p) {
        if (bodyOf(bodies, p) != nullptr) {
            continue;
        }
        std::int32_t occupied = 0;
        for (std::int32_t k = 0; k < pages[p].count; ++k) {
            occupied += m_rows[pages[p].first + k].occupied > 0 ? 1 : 0;
        }
        height = std::min(height, occupied - 1);
    }
    if (height <= 0) {
        return;
    }
    for (std::int32_t p = 0; p < pagesLosing; ++p) {
        for (std::int32_t k = 0; k < std::min(height, pages[p].count); ++k) {
            ClearRow(rowFromBottom(p, k));
        }
    }
    CountColumnCells();
}

bool CConvertEngine::isBlankText(const tagGridCell& cell) {
    for (std::int32_t i = 0; i < cell.textLength; ++i) {
        const char c = cell.text[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            return false;
        }
    }
    return true;
}

// A label row of one or two cells whose text stands beside a much fuller next row (its cells
// reach down into it) covers two output rows.
void CConvertEngine::forceRowSpanTwo(std::int32_t row, tagOutputCellInfo* records,
                                     const std::vector<std::int32_t>& sources) {
    const std::int32_t next = row + 1;
    if (m_mode != kFormatHtml || next >= m_rowCount || m_rows[next].page != m_rows[row].page ||
        m_rows[next].occupied <= 4 || m_rows[next].occupied <= m_rows[row].occupied ||
        m_rows[row].occupied >= 3) {
        return;
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
        tagOutputCellInfo& record = records[i];
        const tagGridCell& cell = at(row, sources[i]);
        if (record.rowSpan != 1 || cell.text == nullptr) {
            continue;
        }
        std::int64_t width = cell.width;
        for (std::int32_t c = sources[i];
             width <= 0 && c < sources[i] + record.columnSpan && c < m_columnCount; ++c) {
            width += m_columns[c].width;
        }
        std::int32_t sameSpan = 0;
        bool otherSpan = false;
        for (std::size_t j = 0; j < sources.size(); ++j) {
            const tagGridCell& other = at(row, sources[j]);
            if (j == i || other.text == nullptr || !isBlankText(other)) {
                continue;
            }
            sameSpan += records[j].rowSpan == record.rowSpan ? 1 : 0;
            otherSpan = otherSpan || records[j].rowSpan != record.rowSpan;
        }
        const tagGridCell& below = at(next, sources[i]);
        if (width > 0 && !otherSpan && sameSpan <= 1 && below.kind == kKindCoveredCopy &&
            below.text == cell.text) {
            record.rowSpan = 2;
        }
    }
}

namespace {

bool ColumnsOverlap(const tagOutputCellInfo* a, const tagOutputCellInfo* aEnd,
                    const tagOutputCellInfo* b, const tagOutputCellInfo* bEnd) {
    for (const auto* x = a; x != aEnd; ++x) {
        for (const auto* y = b; y != bEnd; ++y) {
            if (x->column < y->column + y->columnSpan && y->column < x->column + x->columnSpan) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// The previous output row spans two rows whole: this row is its second half. Records on the
// same columns would land on one cell, so such rows stay apart.
bool CConvertEngine::mergesIntoPrevious(std::size_t previousFirst, std::size_t rowFirst,
                                        std::size_t rowEnd, std::size_t pageFirst) const {
    if (m_mode != kFormatHtml || rowFirst == rowEnd) {
        return false;
    }
    const std::int32_t previousRow = m_records[previousFirst].row;
    for (std::size_t i = previousFirst; i < rowFirst; ++i) {
        if (m_records[i].rowSpan != 2) {
            return false;
        }
    }
    for (std::size_t i = pageFirst; i < previousFirst; ++i) {
        if (m_records[i].row + m_records[i].rowSpan - 1 > previousRow) {
            return false;
        }
    }
    const tagOutputCellInfo* records = m_records.data();
    return !ColumnsOverlap(records + previousFirst, records + rowFirst, records + rowFirst,
                           records + rowEnd);
}

// A sparse row right under a full one whose gaps it fits.
bool CConvertEngine::foldsIntoPrevious(std::size_t previousFirst, std::size_t rowFirst,
                                       std::size_t rowEnd) const {
    const std::size_t previous = rowFirst - previousFirst;
    const std::size_t count = rowEnd - rowFirst;
    if (m_mode != kFormatHtml || count == 0 || previous < 7 || count > 3 || 3 * count > previous ||
        count + 5 > previous) {
        return false;
    }
    const tagOutputCellInfo* records = m_records.data();
    return !ColumnsOverlap(records + previousFirst, records + rowFirst, records + rowFirst,
                           records + rowEnd);
}

// Room for count records and one more, all cleared; the space of earlier batches is reused.
void CConvertEngine::GetExcelOutputSpace(std::size_t count) {
    m_records.assign(count + 1, tagOutputCellInfo{});
}

void CConvertEngine::sortRecords(std::size_t first, std::size_t last) {
    std::stable_sort(m_records.begin() + static_cast<std::ptrdiff_t>(first),
                     m_records.begin() + static_cast<std::ptrdiff_t>(last),
                     [](const tagOutputCellInfo& a, const tagOutputCellInfo& b) {
                         return a.row != b.row ? a.row < b.row : a.column < b.column;
                     });
}

void CConvertEngine::OutputToExcel_Excel2000(std::int32_t* recordCount, tagOutputBatchInfo* batch) {
    auto gives = [](const tagGridCell& cell) {
        return cell.backgroundColour != kNoBackground ||
               (cell.text != nullptr && cell.kind != kKindCoveredCopy);
    };
    // HTMLCSS: a tall gap between two rows of a page, the page's first two excepted, stays as an
    // empty row; not inside a box that reaches across the gap, which would end above its rest.
    auto spacerBefore = [&](std::int32_t r) {
        if (m_mode != kFormatHtmlCss || r < 2 || m_rows[r - 1].page != m_rows[r].page ||
            m_rows[r - 2].page != m_rows[r].page || m_rows[r - 1].top <= 0 ||
            std::int64_t{m_rows[r].top} - m_rows[r - 1].top <= kSpacerGap) {
            return false;
        }
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            const tagGridCell& cell = at(r, c);
            if (cell.text != nullptr && cell.kind == kKindCoveredCopy) {
                return false;
            }
        }
        return true;
    };
    // Whether a cell of row, other than the one in grid column except, gives a record on the
    // output columns from first on.
    auto claimsColumns = [&](std::int32_t row, std::int32_t except, std::int32_t first,
                             std::int32_t columns) {
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            const tagGridCell& cell = at(row, c);
            const std::int32_t column = std::max(cell.outputColumn, 0);
            if (c != except && cell.kind != kKindCoveredCopy && gives(cell) &&
                column < first + columns && first < column + std::max(cell.columnSpan, 1)) {
                return true;
            }
        }
        return false;
    };
    std::size_t count = 0;
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        count += spacerBefore(r) ? 1 : 0;
        for (std::int32_t c = 0; c < m_columnCount && m_rows[r].occupied > 0; ++c) {
            count += gives(at(r, c)) ? 1 : 0;
        }
    }
    trace("bf_GetExcelOutputSpace");
    GetExcelOutputSpace(count);

    // A run of two or more empty rows becomes one blank output row; rows under a taller cell stay.
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        m_rows[r].work = 0;
    }
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        if (m_rows[r].occupied != 0) {
            continue;
        }
        bool underSpan = false;
        for (std::int32_t c = 0; r > 0 && c < m_columnCount && !underSpan; ++c) {
            const tagGridCell& above = at(r - 1, c);
            underSpan = above.text != nullptr && above.occupancy == 1 && above.rowSpan > 1;
        }
        if (underSpan) {
            continue;
        }
        std::int32_t next = r;
        while (next < m_rowCount && m_rows[next].occupied == 0) {
            ++next;
        }
        if (next - r >= 2 && next < m_rowCount && m_rows[next].page == m_rows[r].page) {
            m_rows[r].work = 1;
        }
        r = next - 1;
    }

    trace("OutputToExcel_Excel2000#2");
    if (batch != nullptr) {
        batch->frameCount = 0;
    }
    auto producesRow = [&](std::int32_t r) {
        return m_rows[r].occupied > 0 || m_rows[r].work == 1;
    };
    std::size_t written = 0;
    std::size_t pageFirstRecord = 0;
    std::int32_t outputRow = 0;
    std::int32_t page = m_rowCount > 0 ? m_rows[0].page : 0;
    bool pageHasContent = false;
    std::vector<std::int32_t> sources;  // grid column of each record of the current row
    std::size_t previousFirst = 0;      // the previous output row's records on this page
    std::size_t previousCount = 0;
    std::int32_t previousRow = -1;
    std::int32_t previousTop = 0;
    auto closePage = [&](std::int32_t p) {
        if (batch != nullptr && batch->pages != nullptr && p >= 0 && p < m_pageCount) {
            tagOutputPageInfo& info = batch->pages[p];
            info.records = m_records.data();
            info.recordCount = static_cast<std::uint32_t>(written - pageFirstRecord);
            info.frameCount = 0;
            info.rowCount = static_cast<std::uint32_t>(outputRow);
        }
    };
    if (batch != nullptr && batch->pages != nullptr) {
        for (std::int32_t p = 0; p < m_pageCount; ++p) {
            batch->pages[p] = tagOutputPageInfo{m_records.data(), 0, 0, 0, 0};
        }
    }
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        if (m_rows[r].page != page) {
            closePage(page);
            page = m_rows[r].page;
            pageFirstRecord = written;
            outputRow = 0;
            previousCount = 0;
            previousRow = -1;
            pageHasContent = false;
        } else if (spacerBefore(r)) {
            // The spacer counts in its page's records: the writers take a page's records by
            // that count.
            tagOutputCellInfo& spacer = m_records[written++];
            spacer.row = outputRow++;
            spacer.text = "";
            spacer.page = page;
            previousCount = 0;
        }
        if (m_rows[r].occupied == 0) {
            if (m_rows[r].work == 1 && pageHasContent) {
                ++outputRow;
            }
            continue;
        }
        sources.clear();
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            const tagGridCell& cell = at(r, c);
            if (!gives(cell)) {
                continue;
            }
            sources.push_back(c);
            tagOutputCellInfo& record = m_records[written++];
            record.row = outputRow;
            record.column = std::max(cell.outputColumn, 0);
            record.text = cell.kind == kKindCoveredCopy ? nullptr : cell.text;
            record.textLength = record.text == nullptr ? 0 : cell.textLength;
            record.fontColour = cell.fontColour;
            record.fontName = cell.fontName;
            record.bold = cell.bold;
            record.fontSize = cell.fontSize;
            record.backgroundColour = cell.backgroundColour;
            record.kind = cell.kind;
            record.alignment = cell.alignment;
            record.columnSpan = std::max(cell.columnSpan, 1);
            record.size = cell.size;
            record.page = m_rows[r].page;
            // The span reaches the lowest covered copy below that keeps the cell's column, and
            // ends above a row whose own cell the column optimiser put in its way.
            std::int32_t lowest = r;
            for (std::int32_t d = 1; d < cell.rowSpan && r + d < m_rowCount; ++d) {
                if (claimsColumns(r + d, c, record.column, record.columnSpan)) {
                    break;
                }
                const tagGridCell& below = at(r + d, c);
                if (below.kind == kKindCoveredCopy && below.text != nullptr &&
                    below.outputColumn == cell.outputColumn) {
                    lowest = r + d;
                }
            }
            std::int32_t span = 1;
            for (std::int32_t rr = r + 1; rr <= lowest; ++rr) {
                span += producesRow(rr) ? 1 : 0;
            }
            record.rowSpan = span;
        }
        const auto rowFirst = written - sources.size();
        forceRowSpanTwo(r, m_records.data() + rowFirst, sources);
        const bool adjacent = previousCount > 0 && previousRow == outputRow - 1;
        if (adjacent && mergesIntoPrevious(previousFirst, rowFirst, written, pageFirstRecord)) {
            for (std::size_t i = previousFirst; i < rowFirst; ++i) {
                m_records[i].rowSpan = 1;
            }
            for (std::size_t i = rowFirst; i < written; ++i) {
                m_records[i].row = previousRow;
            }
            sortRecords(previousFirst, written);
            --outputRow;
            previousCount = written - previousFirst;
        } else if (adjacent && foldsIntoPrevious(previousFirst, rowFirst, written) &&
                   std::abs(previousTop - m_rows[r].top) < kFoldTopDistance) {
            for (std::size_t i = rowFirst; i < written; ++i) {
                m_records[i].row = previousRow;
            }
            sortRecords(previousFirst, written);
            previousCount = 0;
        } else {
            previousFirst = rowFirst;
            previousCount = written - rowFirst;
            previousRow = outputRow;
            previousTop = m_rows[r].top;
        }
        pageHasContent = true;
        ++outputRow;
    }
    trace("OutputToExcel_Excel2000#3");
    closePage(page);
    *recordCount = static_cast<std::int32_t>(written);
}

}  // namespace paginor
