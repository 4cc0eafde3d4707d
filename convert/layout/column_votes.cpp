// The votes that choose which candidate columns survive.

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>
#include <utility>
#include <vector>

#include "convert/layout/column_optimiser.h"
#include "convert/layout/column_scoring.h"

namespace paginor {

namespace {

constexpr std::int32_t kVoteRadius = 5;
constexpr std::int32_t kGroupUnits = 17;
constexpr std::int32_t kPickRadius = 3;
constexpr double kPickFactor = 0.7;
constexpr double kRelaxedPickFactor = 0.55;
// Slots per edge kind of the alignment vote; edges beyond it share the last slot.
constexpr std::int64_t kMaxVoteWidth = 65536;

}  // namespace

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

}  // namespace paginor
