#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_types.h"

namespace paginor {

// One position of a page's grid.
struct PageGridSlot {
    std::int32_t rowSpan = 1;  // 0 on a position covered by another cell's span
    std::int32_t columnSpan = 1;
    std::int32_t owner = -1;  // on a covered position: the covering slot's index
    const tagOutputCellInfo* cell = nullptr;
    std::string joined;  // the texts of several records at one position
    bool hasJoined = false;
};

// The records of one page laid out on its rows and columns. Records outside the grid are
// dropped, spans are clipped to it, and spans never overlap: a span is shortened where it would
// cover a placed record, and a record landing on a covered position shortens the covering span.
class PageGrid {
public:
    PageGrid(std::int32_t rows, std::int32_t columns);

    PageGridSlot& at(std::int32_t r, std::int32_t c) { return m_slots[index(r, c)]; }
    const PageGridSlot& at(std::int32_t r, std::int32_t c) const { return m_slots[index(r, c)]; }

    void place(const tagOutputCellInfo& record);

private:
    std::size_t index(std::int32_t r, std::int32_t c) const {
        return static_cast<std::size_t>(r) * static_cast<std::size_t>(m_columns) +
               static_cast<std::size_t>(c);
    }

    bool taken(std::int32_t r, std::int32_t c) const;
    void collapse(std::int32_t owner);
    static void join(PageGridSlot& slot, const tagOutputCellInfo& record);

    std::int32_t m_rows;
    std::int32_t m_columns;
    std::vector<PageGridSlot> m_slots;
};

// The text a record shows: only text and link records have one.
std::string_view RecordText(const tagOutputCellInfo& record);
// The text of a slot: the joined texts, else its record's.
std::string_view SlotText(const PageGridSlot& slot);

// Calls visit(record) for the records of page p in their order, among the batch's recordCount
// records, until visit returns false.
template <typename Visit>
void ForEachPageRecord(const tagOutputPageInfo* pages, std::int32_t p, std::int32_t recordCount,
                       Visit&& visit) {
    const tagOutputPageInfo& page = pages[p];
    if (page.records == nullptr) {
        return;
    }
    const auto total = static_cast<std::size_t>(recordCount > 0 ? recordCount : 0);
    std::uint32_t found = 0;
    for (std::size_t i = 0; i < total && found < page.recordCount; ++i) {
        const tagOutputCellInfo& record = page.records[i];
        if (record.page == p) {
            ++found;
            if (!visit(record)) {
                return;
            }
        }
    }
}

// The records of a batch grouped by page, so that visiting a page costs its own records rather
// than the batch's. Visits as ForEachPageRecord does.
class PageRecordIndex {
public:
    PageRecordIndex(const tagOutputPageInfo* pages, std::int32_t pageCount,
                    std::int32_t recordCount);

    template <typename Visit>
    void forEach(std::int32_t p, Visit&& visit) const {
        const tagOutputPageInfo& page = m_pages[p];
        if (page.records == nullptr) {
            return;
        }
        if (page.records != m_records) {
            ForEachPageRecord(m_pages, p, m_recordCount, visit);
            return;
        }
        std::uint32_t found = 0;
        const auto at = static_cast<std::size_t>(p);
        for (std::uint32_t i = m_starts[at]; i < m_starts[at + 1] && found < page.recordCount;
             ++i, ++found) {
            if (!visit(m_records[m_order[i]])) {
                return;
            }
        }
    }

private:
    const tagOutputPageInfo* m_pages;
    std::int32_t m_recordCount;
    const tagOutputCellInfo* m_records = nullptr;
    std::vector<std::uint32_t> m_starts;  // per page, into m_order; one more at the end
    std::vector<std::uint32_t> m_order;
};

}  // namespace paginor
