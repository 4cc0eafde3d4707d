#pragma once

// Where a sheet's rows land once blocks of rows are deleted.

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace paginor::xlsx {

// Rows after the deleted ones move up: the first row of each deleted block and the rows removed
// before it.
class RowMap {
public:
    RowMap() = default;
    explicit RowMap(const std::map<std::int32_t, std::int32_t>& deleted) {
        for (const auto& [start, count] : deleted) {
            add(start, count);
        }
    }
    // A deleted block after every block so far.
    void add(std::int32_t start, std::int32_t count) {
        const std::int32_t removed =
            m_blocks.empty() ? 0 : m_blocks.back().removedBefore + m_blocks.back().count;
        m_blocks.push_back({start, count, removed});
    }
    std::int32_t last() const { return m_blocks.empty() ? -1 : m_blocks.back().start; }
    // The row after deletions, -1 for a deleted row.
    std::int32_t operator()(std::int32_t row) const {
        auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), row,
                                   [](std::int32_t r, const Block& b) { return r < b.start; });
        if (it == m_blocks.begin()) {
            return row;
        }
        --it;
        if (row < it->start + it->count) {
            return -1;
        }
        return row - it->removedBefore - it->count;
    }
    // The first row at or after row that is kept, mapped; -1 when none up to limit.
    std::int32_t keptFrom(std::int32_t row, std::int32_t limit) const {
        for (; row <= limit; ++row) {
            if (const std::int32_t mapped = (*this)(row); mapped >= 0) {
                return mapped;
            }
        }
        return -1;
    }
    std::int32_t keptUpTo(std::int32_t row, std::int32_t limit) const {
        for (; row >= limit; --row) {
            if (const std::int32_t mapped = (*this)(row); mapped >= 0) {
                return mapped;
            }
        }
        return -1;
    }

private:
    struct Block {
        std::int32_t start;
        std::int32_t count;
        std::int32_t removedBefore;
    };
    std::vector<Block> m_blocks;
};

}  // namespace paginor::xlsx
