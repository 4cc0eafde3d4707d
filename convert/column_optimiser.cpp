// Choosing the spreadsheet columns among the grid's candidate columns.

#include <algorithm>
#include <vector>

#include "convert/column_scoring.h"
#include "convert/convert_engine.h"

namespace paginor {

namespace {

constexpr std::int32_t kVoteRadius = 5;
constexpr std::int32_t kNeighbourUnits = 15;

}  // namespace

class ColumnOptimiser {
public:
    explicit ColumnOptimiser(CConvertEngine& engine) : m_e(engine) {}

    void run();

private:
    bool isContent(const tagGridCell& cell) const { return cell.text != nullptr; }
    std::int32_t position(std::int32_t column) const {
        return column < m_e.m_columnCount ? m_e.m_columns[column].left : m_width;
    }
    void survive(std::int32_t column);
    void positionVote(std::int32_t n);
    bool matchRound();
    void mergeSpannedCells();
    void thinSpans();
    void checkColumnOrdinals();

    CConvertEngine& m_e;
    std::int32_t m_width = 0;  // right edge of the widest column
    std::vector<std::int32_t> m_maxWidth;
    std::vector<std::uint8_t> m_survives;
    std::vector<std::int32_t> m_target;  // per cell: its surviving column, -1 none
    std::int32_t m_surviving = 0;
};

void ColumnOptimiser::survive(std::int32_t column) {
    if (m_survives[column] == 0) {
        m_survives[column] = 1;
        ++m_surviving;
    }
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

// One round over the rows, most occupied first, each from the bottom up. True when the round
// had to let further columns survive.
bool ColumnOptimiser::matchRound() {
    const std::int32_t columns = m_e.m_columnCount;
    std::fill(m_target.begin(), m_target.end(), -1);
    std::int32_t largest = 0;
    for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
        largest = std::max(largest, m_e.m_rows[r].occupied);
    }
    bool added = false;
    std::vector<std::uint8_t> taken(static_cast<std::size_t>(columns));
    for (std::int32_t count = largest; count >= 1; --count) {
        for (std::int32_t r = m_e.m_rowCount - 1; r >= 0; --r) {
            if (m_e.m_rows[r].occupied != count) {
                continue;
            }
            std::fill(taken.begin(), taken.end(), 0);
            std::int32_t previous = -1;
            for (std::int32_t c = 0; c < columns; ++c) {
                if (!isContent(m_e.at(r, c))) {
                    continue;
                }
                std::int32_t nextContent = columns;
                for (std::int32_t j = c + 1; j < columns; ++j) {
                    if (isContent(m_e.at(r, j))) {
                        nextContent = j;
                        break;
                    }
                }
                std::int32_t target = -1;
                if (m_survives[c] != 0) {
                    target = c;
                }
                for (std::int32_t j = c - 1;
                     target < 0 && j > previous && position(c) - position(j) <= kNeighbourUnits;
                     --j) {
                    if (taken[j] != 0) {
                        break;
                    }
                    if (m_survives[j] != 0) {
                        target = j;
                    }
                }
                for (std::int32_t j = c + 1;
                     target < 0 && j < nextContent && position(j) - position(c) <= kNeighbourUnits;
                     ++j) {
                    if (m_survives[j] != 0) {
                        target = j;
                    }
                }
                if (target < 0) {
                    // Every earlier cell of the row lies left of this one's own column.
                    survive(c);
                    added = true;
                    target = c;
                }
                taken[target] = 1;
                previous = target;
                m_target[static_cast<std::size_t>(r) * columns + c] = target;
            }
        }
    }
    return added;
}

void ColumnOptimiser::mergeSpannedCells() {
    const std::int32_t columns = m_e.m_columnCount;
    for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            tagGridCell& cell = m_e.at(r, c);
            if (!isContent(cell) || cell.outputColumn < 0) {
                continue;
            }
            const std::int32_t own = cell.outputColumn;
            const std::int32_t spanEnd = std::min(columns, c + std::max(1, cell.columnSpan));
            std::int32_t limit = m_e.m_outputColumnCount;
            const std::int32_t rowEnd = std::min(m_e.m_rowCount, r + std::max(1, cell.rowSpan));
            for (std::int32_t rr = r; rr < rowEnd; ++rr) {
                for (std::int32_t j = c + 1; j < columns; ++j) {
                    const tagGridCell& right = m_e.at(rr, j);
                    if (isContent(right) && right.outputColumn >= 0) {
                        limit = std::min(limit, right.outputColumn);
                        break;
                    }
                }
            }
            std::int32_t last = own;
            const std::int32_t rightEdge = position(spanEnd);
            for (std::int32_t j = c + 1; j < columns && position(j) < rightEdge; ++j) {
                if (m_survives[j] == 0) {
                    continue;
                }
                const std::int32_t ordinal = m_e.m_columns[j].ordinal;
                if (ordinal >= limit || position(j) + m_e.m_columns[j].width / 2 >= rightEdge) {
                    break;
                }
                last = std::max(last, ordinal);
            }
            cell.columnSpan = last - own + 1;
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

void ColumnOptimiser::checkColumnOrdinals() {
    for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
        if (m_e.m_rows[r].occupied == 0) {
            continue;
        }
        std::int32_t previous = -1;
        std::int32_t counted = 0;
        for (std::int32_t c = 0; c < m_e.m_columnCount; ++c) {
            const tagGridCell& cell = m_e.at(r, c);
            if (cell.outputColumn < 0) {
                counted += isContent(cell) && cell.kind == kKindCoveredCopy ? 1 : 0;
                continue;
            }
            if (!isContent(cell)) {
                continue;
            }
            ++counted;
            if (cell.outputColumn <= previous) {
                m_e.raise(kErrOrdinalOrder);
            }
            if (cell.outputColumn >= m_e.m_outputColumnCount) {
                m_e.raise(kErrOrdinalLimit);
            }
            previous = cell.outputColumn;
        }
        if (counted != m_e.m_rows[r].occupied) {
            m_e.raise(kErrOrdinalCount);
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
    if (n > 0 && histogram[n] >= 2) {
        positionVote(n);
    }

    m_target.assign(static_cast<std::size_t>(rows) * columns, -1);
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
    mergeSpannedCells();
    if (m_e.m_outputKind != kOutputDelimited) {
        thinSpans();
    }
    for (std::int32_t c = 0; c < columns; ++c) {
        m_e.m_columns[c].width = m_survives[c] != 0 ? m_maxWidth[c] : 0;
    }
    checkColumnOrdinals();
}

// The relaxed thresholds belong to the alignment vote of positioned pages; the HTML road's vote
// and matching do not depend on them.
void CConvertEngine::OptimiseColumns(bool /*relaxed*/) {
    ColumnOptimiser(*this).run();
}

}  // namespace paginor
