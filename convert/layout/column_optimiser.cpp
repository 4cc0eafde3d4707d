// Choosing the spreadsheet columns among the grid's candidate columns.

#include <algorithm>
#include <vector>

#include "convert/layout/column_optimiser.h"
#include "convert/read/box_reader.h"

namespace paginor {

namespace {

constexpr std::int32_t kRelaxedContentRows = 6;

}  // namespace

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
    m_placed.assign(static_cast<std::size_t>(columns), {});
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
                if (piece == nullptr) {
                    rightEdge = std::int64_t{m_columns[c].left} + (cell.size >> 16);
                } else {
                    // An image moved off a shared cell still ends where it is drawn.
                    const std::int32_t start =
                        piece->kind == kKindImage ? piece->leftEdge / 10 : piece->left;
                    rightEdge = std::int64_t{start} + piece->width;
                }
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
