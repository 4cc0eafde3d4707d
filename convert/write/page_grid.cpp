#include "convert/write/page_grid.h"

#include <algorithm>

namespace paginor {

PageGrid::PageGrid(std::int32_t rows, std::int32_t columns)
    : m_rows(rows),
      m_columns(columns),
      m_slots(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns)) {}

void PageGrid::place(const tagOutputCellInfo& record) {
    const std::int32_t r = record.row;
    const std::int32_t c = record.column;
    if (r < 0 || r >= m_rows || c < 0 || c >= m_columns) {
        return;
    }
    PageGridSlot& slot = at(r, c);
    if (slot.owner >= 0) {
        collapse(slot.owner);
    }
    if (slot.cell != nullptr) {
        join(slot, record);
        return;
    }
    slot.cell = &record;
    std::int32_t columnSpan = std::clamp(record.columnSpan, 1, m_columns - c);
    std::int32_t rowSpan = std::clamp(record.rowSpan, 1, m_rows - r);
    for (std::int32_t d = 1; d < columnSpan; ++d) {
        if (taken(r, c + d)) {
            columnSpan = d;
        }
    }
    for (std::int32_t dr = 1; dr < rowSpan; ++dr) {
        for (std::int32_t d = 0; d < columnSpan; ++d) {
            if (taken(r + dr, c + d)) {
                rowSpan = dr;
            }
        }
    }
    const auto owner = static_cast<std::int32_t>(index(r, c));
    for (std::int32_t dr = 0; dr < rowSpan; ++dr) {
        for (std::int32_t d = 0; d < columnSpan; ++d) {
            PageGridSlot& covered = at(r + dr, c + d);
            covered.rowSpan = 0;
            covered.columnSpan = 0;
            covered.owner = owner;
        }
    }
    slot.rowSpan = rowSpan;
    slot.columnSpan = columnSpan;
    slot.owner = -1;
}

bool PageGrid::taken(std::int32_t r, std::int32_t c) const {
    const PageGridSlot& slot = at(r, c);
    return slot.cell != nullptr || slot.owner >= 0;
}

void PageGrid::collapse(std::int32_t owner) {
    PageGridSlot& origin = m_slots[static_cast<std::size_t>(owner)];
    const std::int32_t r = owner / m_columns;
    const std::int32_t c = owner % m_columns;
    for (std::int32_t dr = 0; dr < origin.rowSpan; ++dr) {
        for (std::int32_t d = 0; d < origin.columnSpan; ++d) {
            if (dr != 0 || d != 0) {
                PageGridSlot& covered = at(r + dr, c + d);
                covered.rowSpan = 1;
                covered.columnSpan = 1;
                covered.owner = -1;
            }
        }
    }
    origin.rowSpan = 1;
    origin.columnSpan = 1;
}

void PageGrid::join(PageGridSlot& slot, const tagOutputCellInfo& record) {
    const std::string_view more = RecordText(record);
    if (more.empty()) {
        return;
    }
    if (!slot.hasJoined) {
        slot.joined = std::string(RecordText(*slot.cell));
        slot.hasJoined = true;
    }
    if (!slot.joined.empty()) {
        slot.joined += ' ';
    }
    slot.joined += more;
}

std::string_view RecordText(const tagOutputCellInfo& record) {
    if (record.text == nullptr || record.textLength <= 0 ||
        (record.kind != kKindText && record.kind != kKindLink)) {
        return {};
    }
    return {record.text, static_cast<std::size_t>(record.textLength)};
}

std::string_view SlotText(const PageGridSlot& slot) {
    if (slot.hasJoined) {
        return slot.joined;
    }
    return slot.cell == nullptr ? std::string_view() : RecordText(*slot.cell);
}

PageRecordIndex::PageRecordIndex(const tagOutputPageInfo* pages, std::int32_t pageCount,
                                 std::int32_t recordCount)
    : m_pages(pages), m_recordCount(recordCount) {
    const auto count = static_cast<std::size_t>(std::max(pageCount, 0));
    for (std::size_t p = 0; p < count && m_records == nullptr; ++p) {
        m_records = pages[p].records;
    }
    m_starts.assign(count + 1, 0);
    if (m_records == nullptr) {
        return;
    }
    const auto total = static_cast<std::size_t>(std::max(recordCount, 0));
    const auto inRange = [&](const tagOutputCellInfo& record) {
        return record.page >= 0 && static_cast<std::size_t>(record.page) < count;
    };
    for (std::size_t i = 0; i < total; ++i) {
        if (inRange(m_records[i])) {
            ++m_starts[static_cast<std::size_t>(m_records[i].page) + 1];
        }
    }
    for (std::size_t p = 0; p < count; ++p) {
        m_starts[p + 1] += m_starts[p];
    }
    m_order.resize(m_starts[count]);
    std::vector<std::uint32_t> next(m_starts.begin(), m_starts.end() - 1);
    for (std::size_t i = 0; i < total; ++i) {
        if (inRange(m_records[i])) {
            m_order[next[static_cast<std::size_t>(m_records[i].page)]++] =
                static_cast<std::uint32_t>(i);
        }
    }
}

}  // namespace paginor
