// Choosing the spreadsheet columns among the grid's candidate columns.

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/layout/column_scoring.h"
#include "convert/read/box_reader.h"

namespace paginor {

namespace {

constexpr std::int32_t kVoteRadius = 5;
constexpr std::int32_t kNeighbourUnits = 15;
constexpr std::int32_t kGroupUnits = 17;
constexpr std::int32_t kEdgeAgreement = 5;
constexpr std::int32_t kRelaxedContentRows = 6;
constexpr std::int32_t kPickRadius = 3;
constexpr double kPickFactor = 0.7;
constexpr double kRelaxedPickFactor = 0.55;
// Slots per edge kind of the alignment vote; edges beyond it share the last slot.
constexpr std::int64_t kMaxVoteWidth = 65536;
// Positions of the vote are kept within this, so that windows around them cannot overflow.
constexpr std::int64_t kMaxVotePosition = std::int64_t{1} << 30;

std::int32_t clampPosition(std::int64_t position) {
    return static_cast<std::int32_t>(std::clamp(position, -kMaxVotePosition, kMaxVotePosition));
}

}  // namespace

struct SpanRun {
    std::int32_t end = 0;    // last row of the run
    std::int32_t count = 1;  // like cells in it, the first included
    std::int32_t stop = 0;   // the row that ended the walk
};

class ColumnOptimiser {
public:
    ColumnOptimiser(CConvertEngine& engine, bool relaxed) : m_e(engine), m_relaxed(relaxed) {}

    void run();

private:
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
                            std::int32_t* count) const;

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
    std::vector<std::map<std::int32_t, std::int32_t>> m_moves;  // per row: source -> target
    std::vector<std::uint8_t> m_used;                           // per column, within one row
    std::int32_t m_surviving = 0;
};

void ColumnOptimiser::survive(std::int32_t column) {
    if (m_survives[column] == 0) {
        m_survives[column] = 1;
        ++m_surviving;
    }
}

void ColumnOptimiser::planMove(std::int32_t row, std::int32_t from, std::int32_t to) {
    if (!isContent(m_e.at(row, from))) {
        return;
    }
    auto& moves = m_moves[row];
    for (const auto& [source, target] : moves) {
        if (target == to) {
            return;
        }
    }
    moves.emplace(from, to);
}

SpanRun ColumnOptimiser::FindColumnSpanEnd(std::int32_t col, std::int32_t row,
                                           std::int32_t rowLimit) const {
    const tagGridCell& first = m_e.at(row, col);
    SpanRun run{row, 1, rowLimit};
    for (std::int32_t r = row + 1; r < rowLimit; ++r) {
        if (m_e.m_rows[r].occupied == 0) {
            continue;
        }
        const tagGridCell& cell = m_e.at(r, col);
        if (!isContent(cell) || cell.kind == kKindCoveredCopy ||
            cell.columnSpan != first.columnSpan || cell.fontSize != first.fontSize ||
            cell.alignment != first.alignment) {
            run.stop = r;
            return run;
        }
        run.end = r;
        ++run.count;
    }
    return run;
}

SpanRun ColumnOptimiser::FindRowSpanEnd(std::int32_t col, std::int32_t row, std::int32_t rowLimit) {
    const tagGridCell first = *GetSpanOwner(row, col);
    SpanRun run{row, 1, rowLimit};
    for (std::int32_t r = row + 1; r < rowLimit; ++r) {
        if (m_e.m_rows[r].occupied == 0) {
            continue;
        }
        const tagGridCell* owner = GetSpanOwner(r, col);
        if (owner == nullptr || owner->columnSpan != first.columnSpan ||
            owner->fontSize != first.fontSize || owner->alignment != first.alignment) {
            run.stop = r;
            return run;
        }
        run.end = r;
        ++run.count;
    }
    return run;
}

// The right-aligned cell that ends in this column of this row, null when none does.
const tagGridCell* ColumnOptimiser::GetSpanOwner(std::int32_t row, std::int32_t col) {
    const tagGridCell& cell = m_e.at(row, col);
    if (cell.occupancy == 1) {
        if (cell.kind == kKindCoveredCopy || cell.columnSpan != 1 || cell.rowSpan > 1 ||
            cell.alignment != 3) {
            return nullptr;
        }
        return isContent(cell) ? &cell : nullptr;
    }
    if (cell.occupancy == 2) {
        if (cell.rowSpan != row) {
            return nullptr;
        }
        const tagGridCell& owner = m_e.at(cell.rowSpan, cell.columnSpan);
        const bool endsHere = spanEnd(cell.columnSpan, owner) - 1 == col;
        return endsHere && isContent(owner) && owner.alignment == 3 ? &owner : nullptr;
    }
    if (cell.occupancy != 0) {
        m_e.raise(kErrHtmlSpanOwner);
    }
    return nullptr;
}

// The first grid column of the cell that GetSpanOwner accepted here.
std::int32_t ColumnOptimiser::CheckCellType(std::int32_t row, std::int32_t col) {
    const tagGridCell& cell = m_e.at(row, col);
    if (cell.occupancy == 2) {
        return cell.columnSpan;
    }
    if (cell.occupancy != 1 || !isContent(cell) || cell.columnSpan != 1 || cell.alignment != 3) {
        m_e.raise(kErrHtmlCell);
    }
    return col;
}

bool ColumnOptimiser::IsRangeBlocked(const tagGridCell& ref, std::int32_t r0, std::int32_t r1,
                                     std::int32_t c0, std::int32_t c1) const {
    for (std::int32_t r = r0; r < r1; ++r) {
        for (std::int32_t c = c0; c < c1; ++c) {
            const tagGridCell& cell = m_e.at(r, c);
            if (cell.occupancy == 1 && isContent(cell)) {
                // A covered copy blocks only when it continues another cell.
                if (cell.kind != kKindCoveredCopy || cell.text != ref.text) {
                    return true;
                }
                continue;
            }
            if (cell.occupancy != 2) {
                continue;
            }
            const tagGridCell& owner = m_e.at(cell.rowSpan, cell.columnSpan);
            if (cell.columnSpan < c0) {
                if (isContent(owner) && (ref.alignment <= 1 || owner.alignment >= 2)) {
                    return true;
                }
            } else if (cell.rowSpan < r0) {
                return true;
            }
        }
    }
    return false;
}

// How well a cell agrees with the cells of other rows already placed on target: above 1.0 when
// their alignments and edges agree, below when their ranges do not even overlap.
double ColumnOptimiser::ComputeFillRatio(std::int32_t row, std::int32_t col, std::int32_t target,
                                         std::int32_t* count) const {
    *count = 0;
    const std::int32_t columns = m_e.m_columnCount;
    if (m_e.m_rowCount == 0) {
        return 1.0;
    }
    auto edge = [&](std::int32_t c, const tagGridCell& cell) {
        const std::int32_t left = position(c);
        const std::int32_t right = rightEdge(c, cell);
        return cell.alignment == 3 ? right : cell.alignment == 2 ? (left + right) / 2 : left;
    };
    const tagGridCell& ref = m_e.at(row, col);
    const std::int32_t refLeft = position(col);
    const std::int32_t refRight = rightEdge(col, ref);
    const std::int32_t refEdge = edge(col, ref);
    double sum = 0.0;
    for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
        if (r == row) {
            continue;
        }
        for (std::int32_t c = 0; c < columns; ++c) {
            const tagGridCell& other = m_e.at(r, c);
            if (m_target[static_cast<std::size_t>(r) * columns + c] != target ||
                !isContent(other)) {
                continue;
            }
            ++*count;
            if (other.alignment == ref.alignment) {
                sum += std::abs(edge(c, other) - refEdge) <= kEdgeAgreement ? 1.0 : 0.0;
            } else {
                sum += 0.1;
            }
            if ((other.alignment == 3) != (ref.alignment == 3)) {
                sum -= 0.05;
            }
            if (rightEdge(c, other) <= refLeft || position(c) >= refRight) {
                sum -= 1.0;
            }
        }
    }
    return *count == 0 ? 1.0 : (*count + sum) / *count;
}

// The left edges, centres and right edges of the boxes of the rows near the dominant count vote
// for the columns; an edge shared by many boxes becomes a column, at the smallest left edge of
// the boxes that share it, and those boxes are planned to move onto it.
void ColumnOptimiser::alignmentVote(std::int32_t n, std::int32_t rowsOfN) {
    const std::int32_t columns = m_e.m_columnCount;
    const std::int32_t rows = m_e.m_rowCount;
    std::map<std::int32_t, std::int32_t> columnAt;
    std::int64_t origin = 0;
    std::int64_t highest = 0;
    for (std::int32_t c = 0; c < columns; ++c) {
        const std::int32_t x = clampPosition(position(c));
        columnAt.emplace(x, c);
        origin = std::min<std::int64_t>(origin, x);
        highest = std::max<std::int64_t>(highest, x);
    }
    struct Voter {
        std::int32_t row;
        std::int32_t column;
        std::array<std::int32_t, 3> at;  // left, centre, right
    };
    std::vector<Voter> voters;
    for (std::int32_t r = 0; r < rows; ++r) {
        if (m_e.m_rows[r].occupied < n - 2) {
            continue;
        }
        for (std::int32_t c = 0; c < columns; ++c) {
            const tagGridCell& cell = m_e.at(r, c);
            if (!isContent(cell) || cell.textLength <= 0) {
                continue;
            }
            const std::int64_t x = clampPosition(position(c));
            const std::int64_t width = std::clamp<std::int64_t>(cell.width, 0, kMaxVoteWidth);
            voters.push_back({r,
                              c,
                              {static_cast<std::int32_t>(x), clampPosition(x + width / 2),
                               clampPosition(x + width)}});
            highest = std::max(highest, x + width);
        }
    }
    const auto slotsPerKind =
        static_cast<std::int32_t>(std::min(highest - origin + 1 + kScoreRadius, kMaxVoteWidth));
    auto slotOf = [&](std::int32_t at) {
        return static_cast<std::int32_t>(
            std::clamp<std::int64_t>(at - origin, 0, slotsPerKind - 1));
    };

    // Per kind: slots, the cells aligned at each edge, and the bounds of their boxes.
    std::vector<std::uint64_t> slots(3 * static_cast<std::size_t>(slotsPerKind), 0);
    std::array<std::map<std::int32_t, std::vector<std::pair<std::int32_t, std::int32_t>>>, 3>
        aligned;
    BoundMap leftToRight;
    BoundMap centreToLeft;
    BoundMap centreToRight;
    BoundMap rightToLeft;
    for (const Voter& v : voters) {
        for (std::size_t kind = 0; kind < 3; ++kind) {
            AddScoreWindow(slots.data() + kind * slotsPerKind, slotOf(v.at[kind]), slotsPerKind);
            aligned[kind][v.at[kind]].emplace_back(v.row, v.column);
        }
        SetMinOrMax(leftToRight, v.at[0], v.at[2], true);
        SetMinOrMax(centreToLeft, v.at[1], v.at[0], false);
        SetMinOrMax(centreToRight, v.at[1], v.at[2], true);
        SetMinOrMax(rightToLeft, v.at[2], v.at[0], false);
    }

    struct Pick {
        std::int32_t kind;
        std::int32_t at;
    };
    std::vector<Pick> picks;
    const double threshold =
        (m_relaxed ? kRelaxedPickFactor : kPickFactor) * ColumnScore(0) * rowsOfN;
    for (std::int32_t p = 0; p < 3 * n; ++p) {
        const auto best = std::max_element(slots.begin(), slots.end());
        if (*best < 1 || static_cast<double>(*best) < threshold) {
            break;
        }
        const auto slot = static_cast<std::int32_t>(best - slots.begin());
        const std::int32_t kind = slot / slotsPerKind;
        const std::int32_t at = slot % slotsPerKind;
        picks.push_back({kind, static_cast<std::int32_t>(at + origin)});
        std::int32_t lo = 0;
        std::int32_t hi = 0;
        GetWindowAround(at, slotsPerKind, kPickRadius, &lo, &hi);
        const auto first = slots.begin() + static_cast<std::ptrdiff_t>(kind) * slotsPerKind;
        std::fill(first + lo, first + hi, 0);
    }

    // The boxes aligned at a pick reach from lo to hi; other picks inside that reach stand for
    // the same boxes.
    auto extent = [&](const Pick& pick) {
        std::pair<std::int32_t, std::int32_t> range{pick.at, pick.at};
        if (pick.kind == 0) {
            GetNeighbourBounds(pick.at, nullptr, &leftToRight, &range.first, &range.second);
        } else if (pick.kind == 1) {
            GetNeighbourBounds(pick.at, &centreToLeft, &centreToRight, &range.first, &range.second);
        } else {
            GetNeighbourBounds(pick.at, &rightToLeft, nullptr, &range.first, &range.second);
        }
        return range;
    };
    for (std::size_t i = 0; i < picks.size(); ++i) {
        const auto [lo, hi] = extent(picks[i]);
        std::vector<Pick> kept;
        std::size_t moved = i;
        for (std::size_t j = 0; j < picks.size(); ++j) {
            if (j != i && picks[j].at >= lo && picks[j].at <= hi) {
                moved -= j < i ? 1 : 0;
                continue;
            }
            kept.push_back(picks[j]);
        }
        picks = std::move(kept);
        i = moved;
    }

    for (const Pick& pick : picks) {
        const std::int32_t at = pick.kind == 0 ? pick.at : extent(pick).first;
        const auto found = columnAt.find(at);
        if (found == columnAt.end()) {
            continue;
        }
        const std::int32_t k = found->second;
        survive(k);
        for (std::int32_t d = 0; d < 2 * kBoundsRadius + 1; ++d) {
            const std::int32_t offset = d % 2 == 0 ? d / 2 : -(d + 1) / 2;
            const auto list = aligned[pick.kind].find(pick.at + offset);
            if (list == aligned[pick.kind].end()) {
                continue;
            }
            for (const auto& [r, c0] : list->second) {
                bool blocked = false;
                if (c0 != k) {
                    for (std::int32_t j = std::min(c0, k) + 1; j < std::max(c0, k) && !blocked;
                         ++j) {
                        blocked = isContent(m_e.at(r, j));
                    }
                    blocked = blocked || isContent(m_e.at(r, k));
                }
                if (!blocked) {
                    planMove(r, c0, k);
                }
            }
        }
    }
}

// Runs of like cells down the columns of the dense rows elect the columns where cells start
// (even slots) or end (odd slots).
bool ColumnOptimiser::runVote(std::int32_t n) {
    const std::int32_t columns = m_e.m_columnCount;
    const std::int32_t rows = m_e.m_rowCount;
    for (std::int32_t r = 0; r < rows; ++r) {
        m_e.m_rows[r].work = 0;
    }
    auto addRun = [&](std::int32_t first, const SpanRun& run) {
        for (std::int32_t r = first; r <= run.end; ++r) {
            m_e.m_rows[r].work += ColumnPenalty(run.count);
        }
    };
    for (std::int32_t c = 0; c < columns; ++c) {
        for (std::int32_t r = 0; r < rows; ++r) {
            if (startsRun(m_e.at(r, c))) {
                const SpanRun run = FindColumnSpanEnd(c, r, rows);
                addRun(r, run);
                r = run.end;
            }
        }
        for (std::int32_t r = 0; r < rows; ++r) {
            if (GetSpanOwner(r, c) != nullptr) {
                const SpanRun run = FindRowSpanEnd(c, r, rows);
                addRun(r, run);
                r = run.end;
            }
        }
    }
    std::int64_t largest = 0;
    std::int32_t largestOccupied = 0;
    for (std::int32_t r = 0; r < rows; ++r) {
        largest = std::max<std::int64_t>(largest, m_e.m_rows[r].work);
        largestOccupied = std::max(largestOccupied, m_e.m_rows[r].occupied);
    }
    if (largest <= 2 * static_cast<std::int64_t>(n) * ColumnPenalty(2)) {
        return false;
    }
    std::vector<std::uint8_t> dense(static_cast<std::size_t>(rows));
    std::int32_t denseCount = 0;
    for (std::int32_t r = 0; r < rows; ++r) {
        dense[r] = 2 * static_cast<std::int64_t>(m_e.m_rows[r].work) > largest ? 1 : 0;
        denseCount += dense[r];
    }
    if (2 * denseCount < rows) {
        return false;
    }

    std::vector<std::int64_t> slots(2 * static_cast<std::size_t>(columns), 0);
    for (std::int32_t b0 = 0; b0 < rows;) {
        if (dense[b0] == 0) {
            ++b0;
            continue;
        }
        std::int32_t b1 = b0;
        while (b1 + 1 < rows && dense[b1 + 1] != 0) {
            ++b1;
        }
        // A run's score is its height, with the free rows above the band's first run and
        // between a run and the cell that ended it.
        auto score = [&](const tagGridCell& cell, std::int32_t r, const SpanRun& run,
                         std::int32_t c0, std::int32_t c1, bool first) {
            std::int64_t s = run.count > 1 ? run.end - r + 1 : std::max(1, cell.rowSpan);
            if (first && r > b0 && !IsRangeBlocked(cell, b0, r, c0, c1)) {
                s += r - b0;
            }
            if (run.stop > run.end + 1 && !IsRangeBlocked(cell, run.end + 1, run.stop, c0, c1)) {
                s += run.stop - run.end - 1;
            }
            return s;
        };
        for (std::int32_t c = 0; c < columns; ++c) {
            bool first = true;
            for (std::int32_t r = b0; r <= b1; ++r) {
                const tagGridCell& cell = m_e.at(r, c);
                if (startsRun(cell)) {
                    const SpanRun run = FindColumnSpanEnd(c, r, b1 + 1);
                    slots[2 * c] += score(cell, r, run, c, spanEnd(c, cell), first);
                    first = false;
                    r = run.end;
                }
            }
            first = true;
            for (std::int32_t r = b0; r <= b1; ++r) {
                const tagGridCell* owner = GetSpanOwner(r, c);
                if (owner != nullptr) {
                    const SpanRun run = FindRowSpanEnd(c, r, b1 + 1);
                    slots[2 * c + 1] += score(*owner, r, run, CheckCellType(r, c), c + 1, first);
                    first = false;
                    r = run.end;
                }
            }
        }
        b0 = b1 + 1;
    }

    const auto threshold = static_cast<std::int64_t>(0.72 * denseCount);
    const auto picks = static_cast<std::int32_t>(1.34 * largestOccupied);
    auto inGroup = [](std::int32_t at, std::int32_t pick) {
        return at - pick <= kGroupUnits && pick - at < kGroupUnits;
    };
    bool picked = false;
    for (std::int32_t p = 0; p < picks; ++p) {
        const auto best = std::max_element(slots.begin(), slots.end());
        if (*best < threshold || *best <= 0) {
            break;
        }
        const auto slot = static_cast<std::int32_t>(best - slots.begin());
        const std::int32_t c = slot / 2;
        if (slot % 2 == 0) {
            survive(c);
            picked = true;
            for (std::int32_t j = 0; j < columns; ++j) {
                if (inGroup(position(j), position(c))) {
                    slots[2 * j] = 0;
                }
            }
            continue;
        }
        std::int32_t marked = -1;
        for (std::int32_t r = 0; r < rows && marked < 0; ++r) {
            if (dense[r] != 0 && GetSpanOwner(r, c) != nullptr) {
                marked = CheckCellType(r, c);
            }
        }
        bool between = false;
        for (std::int32_t j = marked + 1; marked >= 0 && j < c && !between; ++j) {
            between = slots[2 * j] >= threshold || slots[2 * j + 1] >= threshold;
        }
        if (marked < 0 || between) {
            *best = 0;
            continue;
        }
        survive(marked);
        picked = true;
        std::vector<std::int32_t> group;
        for (std::int32_t j = 0; j < columns; ++j) {
            if (inGroup(position(j + 1), position(c + 1))) {
                slots[2 * j + 1] = 0;
                group.push_back(j);
            }
        }
        for (std::int32_t r = 0; r < rows; ++r) {
            if (20 * static_cast<std::int64_t>(m_e.m_rows[r].work) <= largest) {
                continue;
            }
            for (const std::int32_t j : group) {
                const tagGridCell* owner = GetSpanOwner(r, j);
                if (owner == nullptr) {
                    continue;
                }
                const std::int32_t from = CheckCellType(r, j);
                bool blocked = false;
                for (std::int32_t k = std::min(from, marked) + 1; k < std::max(from, marked); ++k) {
                    blocked = blocked || isContent(m_e.at(r, k));
                }
                if (blocked) {
                    continue;
                }
                planMove(r, from, marked);
                for (std::int32_t below = r + 1; below < rows; ++below) {
                    const tagGridCell& copy = m_e.at(below, from);
                    if (copy.kind != kKindCoveredCopy || copy.text != owner->text) {
                        break;
                    }
                    planMove(below, from, marked);
                }
            }
        }
    }
    return picked;
}

void ColumnOptimiser::positionVote(std::int32_t n) {
    const std::int32_t columns = m_e.m_columnCount;
    std::vector<std::int32_t> votes(static_cast<std::size_t>(m_width) + 1, 0);
    struct Voter {
        std::int32_t column;
        std::int32_t span;
        std::int32_t at;
    };
    std::vector<Voter> voters;
    for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
        if (m_e.m_rows[r].occupied != n) {
            continue;
        }
        for (std::int32_t c = 0; c < columns; ++c) {
            const tagGridCell& cell = m_e.at(r, c);
            if (!isContent(cell) || cell.occupancy == 2) {
                continue;
            }
            const std::int32_t after = std::min(columns, c + std::max(1, cell.columnSpan));
            std::int32_t at = position(c);
            if (cell.alignment == 2) {
                at = (position(c) + position(after)) / 2;
            } else if (cell.alignment == 3) {
                at = position(after);
            }
            voters.push_back({c, after - c, at});
            std::int32_t lo = 0;
            std::int32_t hi = 0;
            GetWindowAround(at, m_width + 1, kVoteRadius, &lo, &hi);
            for (std::int32_t i = lo; i < hi; ++i) {
                ++votes[i];
            }
        }
    }
    for (bool added = true; added && m_surviving < n;) {
        added = false;
        const std::int32_t m = *std::max_element(votes.begin(), votes.end());
        if (m < 1) {
            return;
        }
        std::vector<std::pair<std::int32_t, std::int32_t>> runs;
        for (std::int32_t i = 0; i <= m_width; ++i) {
            if (votes[i] == m && (i == 0 || votes[i - 1] != m)) {
                runs.push_back({i, i});
            }
            if (votes[i] == m) {
                runs.back().second = i;
            }
        }
        if (n < static_cast<std::int32_t>(runs.size()) + m_surviving) {
            return;
        }
        for (const auto& [first, last] : runs) {
            std::vector<std::int32_t> score(static_cast<std::size_t>(columns), 0);
            for (const Voter& v : voters) {
                if (v.at + kVoteRadius >= first && v.at - kVoteRadius <= last) {
                    score[v.column] += 2;
                    for (std::int32_t c = v.column + 1; c < v.column + v.span; ++c) {
                        score[c] += 1;
                    }
                }
            }
            const auto best = std::max_element(score.begin(), score.end());
            if (*best > 0 && m_survives[best - score.begin()] == 0) {
                survive(static_cast<std::int32_t>(best - score.begin()));
                added = true;
            }
            std::int32_t lo = first;
            while (lo > 0 && votes[lo - 1] != 0) {
                --lo;
            }
            std::int32_t hi = last;
            while (hi < m_width && votes[hi + 1] != 0) {
                ++hi;
            }
            std::fill(votes.begin() + lo, votes.begin() + hi + 1, 0);
        }
    }
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
        m_target[static_cast<std::size_t>(row) * columns + cells[i]] = target[i];
    }
    return added;
}

// A box two rows tall gives up its second row to a taller box that starts there.
void ColumnOptimiser::breakRowSpans() {
    const std::int32_t columns = m_e.m_columnCount;
    for (std::int32_t r = 0; r + 1 < m_e.m_rowCount; ++r) {
        bool tallBelow = false;
        for (std::int32_t c = 0; c < columns && !tallBelow; ++c) {
            const tagGridCell& below = m_e.at(r + 1, c);
            tallBelow = below.occupancy == 1 && below.rowSpan > 1;
        }
        if (!tallBelow) {
            continue;
        }
        for (std::int32_t c = 0; c < columns; ++c) {
            tagGridCell& cell = m_e.at(r, c);
            if (isContent(cell) && cell.kind != kKindCoveredCopy && cell.rowSpan == 2) {
                cell.rowSpan = 1;
            }
        }
    }
}

void ColumnOptimiser::thinSpans() {
    const std::int32_t columns = m_e.m_columnCount;
    std::int32_t counted = 0;
    for (std::int32_t r = 0; r + 1 < m_e.m_rowCount; ++r) {
        counted += m_e.m_rows[r].occupied > 0 ? 1 : 0;
    }
    if (counted == 0) {
        return;
    }
    for (std::int32_t c = 0; c + 1 < columns; ++c) {
        for (std::int32_t s = 2; s <= 3; ++s) {
            std::int32_t k = 0;
            for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
                const tagGridCell& cell = m_e.at(r, c);
                k += isContent(cell) && cell.kind != kKindCoveredCopy && cell.columnSpan == s;
            }
            if (static_cast<float>(k) * static_cast<float>(s) / static_cast<float>(counted) >
                1.0f) {
                for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
                    tagGridCell& cell = m_e.at(r, c);
                    if (isContent(cell) && cell.kind != kKindCoveredCopy && cell.columnSpan == s) {
                        cell.columnSpan = 1;
                    }
                }
            }
        }
    }
}

void ColumnOptimiser::run() {
    const std::int32_t columns = m_e.m_columnCount;
    const std::int32_t rows = m_e.m_rowCount;
    if (columns == 0 || rows == 0) {
        m_e.raise(kErrEmptyGrid);
    }
    m_width = m_e.m_columns[columns - 1].left + m_e.m_columns[columns - 1].width;
    m_maxWidth.assign(static_cast<std::size_t>(columns), 0);
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            m_maxWidth[c] = std::max(m_maxWidth[c], m_e.at(r, c).width);
        }
    }
    // A short one-page batch has too few rows for a vote to be trusted.
    if (!m_relaxed && m_e.m_pageCount == 1) {
        std::int32_t contentRows = 0;
        for (std::int32_t r = 0; r < rows; ++r) {
            bool content = false;
            for (std::int32_t c = 0; c < columns && !content; ++c) {
                content = isContent(m_e.at(r, c)) && m_e.at(r, c).kind != kKindCoveredCopy;
            }
            contentRows += content ? 1 : 0;
        }
        m_relaxed = contentRows <= kRelaxedContentRows;
    }
    // The dominant occupied count: the largest n x rows(n), the smallest n on a tie.
    std::vector<std::int32_t> histogram(static_cast<std::size_t>(columns) + 1, 0);
    for (std::int32_t r = 0; r < rows; ++r) {
        ++histogram[std::min(m_e.m_rows[r].occupied, columns)];
    }
    std::int32_t n = 0;
    std::int64_t best = 0;
    for (std::int32_t k = 1; k < columns; ++k) {
        if (static_cast<std::int64_t>(k) * histogram[k] > best) {
            best = static_cast<std::int64_t>(k) * histogram[k];
            n = k;
        }
    }
    m_survives.assign(static_cast<std::size_t>(columns), 0);
    for (std::int32_t c = 0; c < columns; ++c) {
        m_e.m_columns[c].ordinal = -1;
    }
    m_moves.assign(static_cast<std::size_t>(rows), {});
    if (n > 0 && histogram[n] >= 2) {
        if (m_e.m_mode == kFormatHtmlCss) {
            alignmentVote(n, histogram[n]);
        } else if (!runVote(n)) {
            positionVote(n);
        }
    }

    markRows();
    m_target.assign(static_cast<std::size_t>(rows) * columns, -1);
    m_used.assign(static_cast<std::size_t>(columns), 0);
    while (matchRound()) {
    }

    std::int32_t ordinal = 0;
    for (std::int32_t c = 0; c < columns; ++c) {
        m_e.m_columns[c].ordinal = m_survives[c] != 0 ? ordinal++ : -1;
        if (m_survives[c] != 0) {
            m_e.m_columns[c].width = m_maxWidth[c];
        }
    }
    m_e.m_outputColumnCount = ordinal;
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            tagGridCell& cell = m_e.at(r, c);
            const std::int32_t target = m_target[static_cast<std::size_t>(r) * columns + c];
            cell.outputColumn = target >= 0 ? m_e.m_columns[target].ordinal : -1;
        }
    }
    // Span widths are measured on the grid's own positions, not on the kept widths.
    for (std::int32_t c = 0; c < columns; ++c) {
        m_e.m_columns[c].width = position(c + 1) - position(c);
    }
    m_e.MergeSpannedCells();
    if (m_e.m_outputKind != kOutputDelimited) {
        if (m_e.m_mode == kFormatHtmlCss) {
            breakRowSpans();
        }
        thinSpans();
    }
    for (std::int32_t c = 0; c < columns; ++c) {
        m_e.m_columns[c].width = m_survives[c] != 0 ? m_maxWidth[c] : 0;
    }
    m_e.CheckColumnOrdinals();
}

void CConvertEngine::MergeSpannedCells() {
    const std::int32_t columns = m_columnCount;
    if (columns == 0) {
        return;
    }
    const std::int32_t width = m_columns[columns - 1].left + m_columns[columns - 1].width;
    auto position = [&](std::int32_t column) {
        return column < columns ? m_columns[column].left : width;
    };
    const bool boxes = m_mode == kFormatHtmlCss;
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            tagGridCell& cell = at(r, c);
            if (cell.text == nullptr || cell.outputColumn < 0 ||
                (boxes && cell.kind == kKindCoveredCopy)) {
                continue;
            }
            const std::int32_t own = cell.outputColumn;
            const std::int32_t spanEnd = std::min(columns, c + std::max(1, cell.columnSpan));
            const std::int32_t rowEnd = std::min(m_rowCount, r + std::max(1, cell.rowSpan));
            std::int32_t limit = m_outputColumnCount;
            if (boxes) {
                // A box spans only free columns: any cell of its rows placed to its right,
                // wherever it stands in the grid, ends the span.
                cell.columnSpan = 1;
                for (std::int32_t rr = r; rr < rowEnd; ++rr) {
                    for (std::int32_t j = 0; j < columns; ++j) {
                        const tagGridCell& other = at(rr, j);
                        if (other.text != nullptr && other.outputColumn > own) {
                            limit = std::min(limit, other.outputColumn);
                        }
                    }
                }
                if (limit - own <= 1) {
                    continue;
                }
            } else {
                for (std::int32_t rr = r; rr < rowEnd; ++rr) {
                    for (std::int32_t j = c + 1; j < columns; ++j) {
                        const tagGridCell& right = at(rr, j);
                        if (right.text != nullptr && right.outputColumn >= 0) {
                            limit = std::min(limit, right.outputColumn);
                            break;
                        }
                    }
                }
            }
            std::int64_t rightEdge = position(spanEnd);
            if (boxes) {
                const auto* piece = static_cast<const tagDivInfo*>(cell.piece);
                rightEdge = piece != nullptr ? std::int64_t{piece->left} + piece->width
                                             : std::int64_t{m_columns[c].left} + (cell.size >> 16);
            }
            std::int32_t last = own;
            for (std::int32_t j = c + 1; j < columns && position(j) < rightEdge; ++j) {
                const std::int32_t ordinal = m_columns[j].ordinal;
                if (ordinal < 0) {
                    continue;
                }
                if (ordinal >= limit ||
                    (!boxes && position(j) + m_columns[j].width / 2 >= rightEdge)) {
                    break;
                }
                last = std::max(last, ordinal);
            }
            cell.columnSpan = last - own + 1;
        }
    }
}

void CConvertEngine::CheckColumnOrdinals() {
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        if (m_rows[r].occupied == 0) {
            continue;
        }
        std::int32_t previous = -1;
        std::int32_t counted = 0;
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            const tagGridCell& cell = at(r, c);
            if (cell.outputColumn < 0) {
                counted += cell.text != nullptr && cell.kind == kKindCoveredCopy ? 1 : 0;
                continue;
            }
            if (cell.text == nullptr) {
                continue;
            }
            ++counted;
            if (cell.outputColumn <= previous) {
                raise(kErrOrdinalOrder);
            }
            if (cell.outputColumn >= m_outputColumnCount) {
                raise(kErrOrdinalLimit);
            }
            previous = cell.outputColumn;
        }
        if (counted != m_rows[r].occupied) {
            raise(kErrOrdinalCount);
        }
    }
}

void CConvertEngine::OptimiseColumns(bool relaxed) {
    ColumnOptimiser(*this, relaxed).run();
}

}  // namespace paginor
