#pragma once

// The column optimiser's state, shared by its phases: the votes that choose the surviving columns
// (column_votes.cpp), the matching of each row's cells onto them (row_matching.cpp), and the
// spans and final checks (column_optimiser.cpp).

#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "convert/convert_engine.h"

namespace paginor {

struct SpanRun {
    std::int32_t end = 0;    // last row of the run
    std::int32_t count = 1;  // like cells in it, the first included
    std::int32_t stop = 0;   // the row that ended the walk
};

// The cells placed on one surviving column during a matching round, counted by what
// ComputeFillRatio asks of them, so that it needs no walk over the batch.
struct PlacedCells {
    // Positions with the grid index of their cell, ordered so that cells below a position can
    // be counted.
    using PositionTree =
        __gnu_pbds::tree<std::pair<std::int32_t, std::size_t>, __gnu_pbds::null_type, std::less<>,
                         __gnu_pbds::rb_tree_tag, __gnu_pbds::tree_order_statistics_node_update>;

    std::vector<std::size_t> cells;                // grid indices
    std::size_t counted = 0;                       // cells entered into the counts below
    std::map<std::int32_t, std::int32_t> aligned;  // alignment -> cells
    // (alignment, aligned edge) -> cells.
    std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t> edges;
    std::int32_t rightAligned = 0;
    PositionTree lefts;
    PositionTree rights;
    std::int32_t inverted = 0;  // cells whose right edge lies left of their left edge

    void clear();
};

class ColumnOptimiser {
public:
    ColumnOptimiser(CConvertEngine& engine, bool relaxed) : m_e(engine), m_relaxed(relaxed) {}

    void run();

private:
    // Positions of the vote are kept within this, so that windows around them cannot overflow.
    static constexpr std::int64_t kMaxVotePosition = std::int64_t{1} << 30;

    static std::int32_t clampPosition(std::int64_t position) {
        return static_cast<std::int32_t>(std::clamp(position, -kMaxVotePosition, kMaxVotePosition));
    }
    bool isContent(const tagGridCell& cell) const { return cell.text != nullptr; }
    std::int32_t position(std::int32_t column) const {
        return column < m_e.m_columnCount ? m_e.m_columns[column].left : m_width;
    }
    std::int32_t spanEnd(std::int32_t column, const tagGridCell& cell) const {
        return std::min(m_e.m_columnCount, column + std::max(1, cell.columnSpan));
    }
    // A box reaches as far as its own width; the next candidate column starts at the next
    // distinct left edge, often only a few points on, which says nothing about the box.
    std::int32_t rightEdge(std::int32_t column, const tagGridCell& cell) const {
        if (m_e.m_mode == kFormatHtmlCss) {
            return clampPosition(std::int64_t{position(column)} + std::max(1, cell.width));
        }
        return position(spanEnd(column, cell));
    }
    void survive(std::int32_t column);
    void planMove(std::int32_t row, std::int32_t from, std::int32_t to);

    bool startsRun(const tagGridCell& cell) const {
        return isContent(cell) && cell.kind != kKindCoveredCopy && cell.alignment != 3;
    }
    SpanRun FindColumnSpanEnd(std::int32_t col, std::int32_t row, std::int32_t rowLimit) const;
    SpanRun FindRowSpanEnd(std::int32_t col, std::int32_t row, std::int32_t rowLimit);
    const tagGridCell* GetSpanOwner(std::int32_t row, std::int32_t col);
    std::int32_t CheckCellType(std::int32_t row, std::int32_t col);
    bool IsRangeBlocked(const tagGridCell& cell, std::int32_t r0, std::int32_t r1, std::int32_t c0,
                        std::int32_t c1) const;
    double ComputeFillRatio(std::int32_t row, std::int32_t col, std::int32_t target,
                            std::int32_t* count);
    void countPlaced(PlacedCells& placed) const;
    // The edge of a cell that its alignment holds: left, centre or right.
    std::int32_t alignedEdge(std::int32_t column, const tagGridCell& cell) const;
    void place(std::size_t index, std::int32_t target);

    void alignmentVote(std::int32_t n, std::int32_t rowsOfN);
    bool runVote(std::int32_t n);
    void positionVote(std::int32_t n);
    void markRows();
    bool matchRound();
    bool matchRow(std::int32_t row);
    void breakRowSpans();
    void thinSpans();

    CConvertEngine& m_e;
    bool m_relaxed;
    std::int32_t m_width = 0;  // right edge of the widest column
    std::vector<std::int32_t> m_maxWidth;
    std::vector<std::uint8_t> m_survives;
    std::vector<std::int32_t> m_target;  // per cell: its surviving column, -1 none
    std::vector<PlacedCells> m_placed;   // per column
    std::vector<std::map<std::int32_t, std::int32_t>> m_moves;  // per row: source -> target
    std::vector<std::uint8_t> m_used;                           // per column, within one row
    std::int32_t m_surviving = 0;
};

}  // namespace paginor
