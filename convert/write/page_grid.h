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

}  // namespace paginor
