// Matching each row's cells onto the surviving columns.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "convert/layout/column_optimiser.h"

namespace paginor {

namespace {

constexpr std::int32_t kNeighbourUnits = 15;
constexpr std::int32_t kEdgeAgreement = 5;

}  // namespace

void PlacedCells::clear() {
    cells.clear();
    counted = 0;
    aligned.clear();
    edges.clear();
    rightAligned = 0;
    lefts.clear();
    rights.clear();
    inverted = 0;
}

std::int32_t ColumnOptimiser::alignedEdge(std::int32_t column, const tagGridCell& cell) const {
    const std::int32_t left = position(column);
    const std::int32_t right = rightEdge(column, cell);
    return cell.alignment == 3 ? right : cell.alignment == 2 ? (left + right) / 2 : left;
}

void ColumnOptimiser::place(std::size_t index, std::int32_t target) {
    m_placed[static_cast<std::size_t>(target)].cells.push_back(index);
}

// Most columns are never compared: their cells are counted only when one is.
void ColumnOptimiser::countPlaced(PlacedCells& placed) const {
    const auto width = static_cast<std::size_t>(m_e.m_columnCount);
    for (; placed.counted < placed.cells.size(); ++placed.counted) {
        const std::size_t index = placed.cells[placed.counted];
        const auto c = static_cast<std::int32_t>(index % width);
        const tagGridCell& cell = m_e.m_grid[index];
        const std::int32_t left = position(c);
        const std::int32_t right = rightEdge(c, cell);
        ++placed.aligned[cell.alignment];
        ++placed.edges[{cell.alignment, alignedEdge(c, cell)}];
        placed.rightAligned += cell.alignment == 3 ? 1 : 0;
        placed.lefts.insert({left, index});
        placed.rights.insert({right, index});
        placed.inverted += right < left ? 1 : 0;
    }
}

// How well a cell agrees with the cells of other rows already placed on target: above 1.0 when
// their alignments and edges agree, below when their ranges do not even overlap. A row's cells
// are placed when its matching ends, so the cells on target all lie in other rows. The sum is
// counted in twentieths, exactly; the ratio is then one correctly rounded division.
double ColumnOptimiser::ComputeFillRatio(std::int32_t row, std::int32_t col, std::int32_t target,
                                         std::int32_t* count) {
    PlacedCells& placed = m_placed[static_cast<std::size_t>(target)];
    countPlaced(placed);
    const auto n = static_cast<std::int64_t>(placed.cells.size());
    *count = static_cast<std::int32_t>(n);
    if (n == 0) {
        return 1.0;
    }
    const tagGridCell& ref = m_e.at(row, col);
    const std::int32_t refLeft = position(col);
    const std::int32_t refRight = rightEdge(col, ref);
    const std::int64_t refEdge = alignedEdge(col, ref);
    // Equal alignment: 1.0 when the edges agree; another alignment: 0.1.
    std::int64_t agreeing = 0;
    for (auto it = placed.edges.lower_bound(
             {ref.alignment, static_cast<std::int32_t>(
                                 std::max<std::int64_t>(refEdge - kEdgeAgreement, INT32_MIN))});
         it != placed.edges.end() && it->first.first == ref.alignment &&
         it->first.second <= refEdge + kEdgeAgreement;
         ++it) {
        agreeing += it->second;
    }
    const auto same = placed.aligned.find(ref.alignment);
    const std::int64_t sameAlignment = same == placed.aligned.end() ? 0 : same->second;
    std::int64_t twentieths = 20 * agreeing + 2 * (n - sameAlignment);
    // Right alignment on one side only: -0.05.
    twentieths -= ref.alignment == 3 ? n - placed.rightAligned : placed.rightAligned;
    // No overlap at all: -1.0.
    std::int64_t apart =
        static_cast<std::int64_t>(placed.rights.order_of_key({refLeft, SIZE_MAX})) + n -
        static_cast<std::int64_t>(placed.lefts.order_of_key({refRight, 0}));
    if (placed.inverted > 0 || refLeft >= refRight) {
        // Only then can a cell end before the reference starts and also start after it ends.
        const auto width = static_cast<std::size_t>(m_e.m_columnCount);
        for (const std::size_t index : placed.cells) {
            const auto c = static_cast<std::int32_t>(index % width);
            apart -= rightEdge(c, m_e.m_grid[index]) <= refLeft && position(c) >= refRight ? 1 : 0;
        }
    }
    twentieths -= 20 * apart;
    return static_cast<double>(20 * n + twentieths) / static_cast<double>(20 * n);
}

// A row whose cells reach down into the next row with content waits for that row: its cells
// then follow their continuation copies.
void ColumnOptimiser::markRows() {
    const std::int32_t columns = m_e.m_columnCount;
    const std::int32_t rows = m_e.m_rowCount;
    for (std::int32_t r = 0; r < rows; ++r) {
        m_e.m_rows[r].mark = 0;
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        if (m_e.m_rows[r].occupied == 0) {
            continue;
        }
        std::int32_t next = r + 1;
        while (next < rows && m_e.m_rows[next].occupied == 0) {
            ++next;
        }
        if (next == rows) {
            break;
        }
        bool spans = false;
        bool givesUp = false;
        for (std::int32_t c = 0; c < columns && !givesUp; ++c) {
            const tagGridCell& cell = m_e.at(r, c);
            if (!isContent(cell)) {
                continue;
            }
            const tagGridCell& below = m_e.at(next, c);
            if (!isContent(below)) {
                givesUp = true;
                break;
            }
            if (m_e.m_mode == kFormatHtml && below.columnSpan < cell.columnSpan) {
                for (std::int32_t j = c + std::max(1, below.columnSpan); j < spanEnd(c, cell);
                     ++j) {
                    givesUp = givesUp || isContent(m_e.at(next, j));
                }
            }
            spans = spans || r + cell.rowSpan > next;
        }
        if (spans && !givesUp) {
            m_e.m_rows[r].mark = next;
        }
    }
}

// One round: rows by occupied count, most first, each count from the bottom up; marked rows
// after the rows they wait for. True when the round had to let further columns survive.
bool ColumnOptimiser::matchRound() {
    std::fill(m_target.begin(), m_target.end(), -1);
    for (PlacedCells& placed : m_placed) {
        placed.clear();
    }
    std::int32_t largest = 0;
    for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
        largest = std::max(largest, m_e.m_rows[r].occupied);
    }
    bool added = false;
    for (std::int32_t count = largest; count >= 1; --count) {
        for (std::int32_t r = m_e.m_rowCount - 1; r >= 0; --r) {
            if (m_e.m_rows[r].occupied == count && m_e.m_rows[r].mark == 0) {
                added = matchRow(r) || added;
            }
        }
    }
    for (std::int32_t r = m_e.m_rowCount - 1; r >= 0; --r) {
        if (m_e.m_rows[r].occupied > 0 && m_e.m_rows[r].mark != 0) {
            added = matchRow(r) || added;
        }
    }
    return added;
}

// Every target stays strictly between the own columns of the row's neighbouring content cells,
// so the targets of a row always increase from left to right.
bool ColumnOptimiser::matchRow(std::int32_t row) {
    const std::int32_t columns = m_e.m_columnCount;
    std::vector<std::int32_t> cells;
    for (std::int32_t c = 0; c < columns; ++c) {
        if (isContent(m_e.at(row, c))) {
            cells.push_back(c);
        }
    }
    const auto m = static_cast<std::int32_t>(cells.size());
    std::vector<std::int32_t> target(cells.size(), -1);
    std::fill(m_used.begin(), m_used.end(), 0);
    auto lowerBound = [&](std::int32_t i) { return i > 0 ? cells[i - 1] : -1; };
    auto upperBound = [&](std::int32_t i) { return i + 1 < m ? cells[i + 1] : columns; };
    auto take = [&](std::int32_t i, std::int32_t k) {
        target[i] = k;
        m_used[k] = 1;
    };
    auto tryMove = [&](std::int32_t i, std::int32_t k) {
        if (k > lowerBound(i) && k < upperBound(i) && m_survives[k] != 0 && m_used[k] == 0 &&
            target[i] < 0) {
            take(i, k);
        }
    };
    const std::int32_t next = m_e.m_rows[row].mark;
    if (next != 0) {
        for (std::int32_t i = 0; i < m; ++i) {
            const tagGridCell& cell = m_e.at(row, cells[i]);
            if (row + cell.rowSpan > next) {
                const std::int32_t k =
                    m_target[static_cast<std::size_t>(next) * columns + cells[i]];
                if (k >= 0) {
                    tryMove(i, k);
                }
            }
        }
    }
    for (const auto& [from, to] : m_moves[row]) {
        const auto found = std::find(cells.begin(), cells.end(), from);
        if (found != cells.end()) {
            tryMove(static_cast<std::int32_t>(found - cells.begin()), to);
        }
    }
    // Two neighbouring cells may each move past the other's target; neither keeps its move.
    for (bool crossed = true; crossed;) {
        crossed = false;
        for (std::int32_t i = 0, previous = -1; i < m && !crossed; ++i) {
            if (target[i] < 0) {
                continue;
            }
            if (previous >= 0 && target[previous] >= target[i]) {
                for (const std::int32_t j : {previous, i}) {
                    m_used[target[j]] = 0;
                    target[j] = -1;
                }
                crossed = true;
            }
            previous = i;
        }
    }
    auto previousTarget = [&](std::int32_t i) {
        for (std::int32_t j = i - 1; j >= 0; --j) {
            if (target[j] >= 0) {
                return target[j];
            }
        }
        return -1;
    };
    auto nextTarget = [&](std::int32_t i) {
        for (std::int32_t j = i + 1; j < m; ++j) {
            if (target[j] >= 0) {
                return target[j];
            }
        }
        return columns;
    };
    for (std::int32_t i = 0; i < m; ++i) {
        if (target[i] >= 0) {
            continue;
        }
        const std::int32_t c = cells[i];
        const std::int32_t low = previousTarget(i);
        const std::int32_t high = std::min(nextTarget(i), upperBound(i));
        if (m_survives[c] != 0 && m_used[c] == 0 && c < nextTarget(i)) {
            take(i, c);
            continue;
        }
        for (std::int32_t j = c - 1; j > low && position(c) - position(j) <= kNeighbourUnits; --j) {
            if (m_used[j] != 0) {
                break;
            }
            if (m_survives[j] != 0) {
                take(i, j);
                break;
            }
        }
        for (std::int32_t j = c + 1;
             target[i] < 0 && j < high && position(j) - position(c) <= kNeighbourUnits; ++j) {
            if (m_survives[j] != 0 && m_used[j] == 0) {
                take(i, j);
            }
        }
    }

    // Cells still without a column fill the free surviving columns between their placed
    // neighbours, or make columns survive when those are too few.
    bool added = false;
    for (std::int32_t a = 0; a < m; ++a) {
        if (target[a] >= 0) {
            continue;
        }
        std::int32_t b = a;
        while (b + 1 < m && target[b + 1] < 0) {
            ++b;
        }
        const std::int32_t low = a > 0 ? target[a - 1] : -1;
        const std::int32_t high = b + 1 < m ? target[b + 1] : columns;
        std::vector<std::int32_t> free;
        for (std::int32_t k = low + 1; k < high; ++k) {
            if (m_survives[k] != 0 && m_used[k] == 0) {
                free.push_back(k);
            }
        }
        std::int32_t last = low;
        for (std::int32_t i = a; i <= b; ++i) {
            const std::int32_t limit = std::min(high, upperBound(i));
            std::int32_t best = -1;
            double bestRatio = 0.0;
            for (const std::int32_t k : free) {
                if (m_relaxed || k <= last || k >= limit) {
                    continue;
                }
                std::int32_t compared = 0;
                const double ratio = ComputeFillRatio(row, cells[i], k, &compared);
                if (best < 0 || ratio > bestRatio) {
                    best = k;
                    bestRatio = ratio;
                }
            }
            // A free column is worth taking only when the cells already there agree with this
            // one; otherwise the cell's own column survives.
            if (best < 0 || bestRatio <= 1.0) {
                const std::int32_t c = cells[i];
                best = -1;
                for (std::int32_t j = last + 1; j < limit; ++j) {
                    if (m_used[j] == 0 && (best < 0 || std::abs(j - c) < std::abs(best - c))) {
                        best = j;
                    }
                }
                if (best < 0) {
                    m_e.raise(kErrRunPlacement);
                }
                added = added || m_survives[best] == 0;
                survive(best);
            }
            take(i, best);
            last = best;
        }
        a = b;
    }
    for (std::int32_t i = 0; i < m; ++i) {
        const std::size_t index =
            static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
            static_cast<std::size_t>(cells[i]);
        m_target[index] = target[i];
        if (target[i] >= 0) {
            place(index, target[i]);
        }
    }
    return added;
}

}  // namespace paginor
