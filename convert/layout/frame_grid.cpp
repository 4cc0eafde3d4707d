// The frame road, part two: every frame gets a grid of its own lines, the pieces inside it go to
// its cells (crowded cells subdivided), and the pieces around it are laid out on small grids
// aligned with its rows and columns. Positions are in tenths of a point.

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "convert/convert_engine.h"
#include "convert/layout/cell_grid.h"
#include "convert/layout/frame_store.h"
#include "convert/layout/layout_tree.h"
#include "convert/read/box_reader.h"

namespace paginor {
namespace {

constexpr std::int64_t kLineReach = 35;   // a line this far beyond a position is the one before
constexpr std::int64_t kNextColumn = 50;  // a left edge this close before a line is past it
constexpr std::int32_t kMinWidening = 3;  // spans widen to frame lines only this far

// The last line at or before value; -1 before the first.
std::int32_t lineAtOrBefore(const std::vector<std::int32_t>& lines, std::int64_t value,
                            std::int32_t cells) {
    const auto it = std::upper_bound(lines.begin(), lines.begin() + cells, value,
                                     [](std::int64_t v, std::int32_t line) { return v < line; });
    return static_cast<std::int32_t>(it - lines.begin()) - 1;
}

// The nearest line, a line more than kLineReach beyond value counting as the one before.
std::int32_t nearestLine(const std::vector<std::int32_t>& lines, std::int64_t value) {
    std::int32_t hint = 0;
    std::int32_t index = SearchNearFromHint(lines.data(), value, hint,
                                            static_cast<std::int32_t>(lines.size()), true);
    if (index > 0 && lines[static_cast<std::size_t>(index)] > value + kLineReach) {
        --index;
    }
    // A subdivided column repeats its line: the first of the copies is its left edge.
    while (index > 0 &&
           lines[static_cast<std::size_t>(index)] == lines[static_cast<std::size_t>(index - 1)]) {
        --index;
    }
    return index;
}

// A tall piece's row span is measured on the lines before the column optimiser gives it its
// columns, which may then reach over a piece of a line below: the span ends above that piece.
// A column span likewise ends before the next piece of its rows.
void KeepSpansApart(std::vector<tagDivInfo*>& pieces, std::int32_t rows) {
    std::vector<std::vector<tagDivInfo*>> byRow(static_cast<std::size_t>(rows));
    for (tagDivInfo* p : pieces) {
        if (p->row >= 0 && p->row < rows) {
            byRow[static_cast<std::size_t>(p->row)].push_back(p);
        }
    }
    const auto sideBySide = [](const tagDivInfo& a, const tagDivInfo& b) {
        return a.column < b.column + b.columnSpan && b.column < a.column + a.columnSpan;
    };
    for (std::int32_t r = 0; r < rows; ++r) {
        std::vector<tagDivInfo*>& row = byRow[static_cast<std::size_t>(r)];
        std::sort(row.begin(), row.end(),
                  [](const tagDivInfo* a, const tagDivInfo* b) { return a->column < b->column; });
        for (std::size_t k = 0; k + 1 < row.size(); ++k) {
            row[k]->columnSpan =
                std::clamp(row[k + 1]->column - row[k]->column, 1, row[k]->columnSpan);
        }
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        for (tagDivInfo* p : byRow[static_cast<std::size_t>(r)]) {
            for (std::int32_t below = r + 1; below < std::min(rows, r + p->rowSpan); ++below) {
                for (const tagDivInfo* q : byRow[static_cast<std::size_t>(below)]) {
                    if (sideBySide(*p, *q)) {
                        p->rowSpan = below - r;
                    }
                }
            }
        }
    }
}

void linkInOrder(std::vector<tagDivInfo*>& pieces) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        pieces[i]->previous = i > 0 ? pieces[i - 1] : nullptr;
        pieces[i]->next = i + 1 < pieces.size() ? pieces[i + 1] : nullptr;
    }
}

}  // namespace

std::int32_t CConvertEngine::layOutSmallGrid(std::vector<tagDivInfo*>& pieces) {
    m_outputColumnCount = 0;
    if (pieces.empty()) {
        m_rowCount = 0;
        m_columnCount = 0;
        return 0;
    }
    linkInOrder(pieces);
    for (tagDivInfo* p : pieces) {
        p->rowSpan = 1;
    }
    CellGrid grid(*this, m_frames.get());
    grid.PlacePiecesInLines(pieces.front(), nullptr);
    grid.MergeRowLines();
    grid.SpreadTallPieces([this] { return m_boxReader->NewDivRecord(); });
    grid.FillGrid(0, static_cast<std::int32_t>(grid.rowLines().size()), 0,
                  static_cast<std::int32_t>(grid.columnLines().size()));
    OptimiseColumns(true);
    // Pieces whose text went into another piece's cell leave the list.
    std::vector<tagDivInfo*> kept;
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            const tagGridCell& cell = at(r, c);
            if (cell.occupancy != 1 || cell.piece == nullptr || cell.kind == kKindCoveredCopy) {
                continue;
            }
            auto* piece = static_cast<tagDivInfo*>(const_cast<void*>(cell.piece));
            piece->text = cell.text;
            piece->textLength = cell.textLength;
            piece->kind = cell.kind;
            piece->row = r;
            piece->column = std::max(cell.outputColumn, 0);
            piece->columnSpan = std::max(cell.columnSpan, 1);
            piece->rowSpan = std::max({cell.rowSpan, piece->rowSpan, 1});
            kept.push_back(piece);
        }
    }
    m_outputColumnCount = std::max(m_outputColumnCount, 1);
    KeepSpansApart(kept, m_rowCount);
    pieces = std::move(kept);
    return m_rowCount;
}

void CConvertEngine::CopyFrameLines(tagFrameInfo& frame) {
    const auto copy = [](const LineList& lines, std::int32_t first, std::int32_t last,
                         std::vector<std::int32_t>& out) {
        out.clear();
        for (const SegmentLine& line : lines) {
            out.push_back(line.position);
        }
        if (out.size() < 2) {
            out = {first, last};
        }
    };
    copy(frame.horizontal, frame.top, frame.bottom, frame.rowPositions);
    copy(frame.vertical, frame.left, frame.right, frame.columnPositions);
    frame.grid.assign(
        static_cast<std::size_t>(frame.gridRows()) * static_cast<std::size_t>(frame.gridColumns()),
        tagFrameCell{});
}

// Cells that no inner rule separates share a label; each run of one label becomes a merged cell.
void CConvertEngine::LabelFrameCells(tagFrameInfo& frame) {
    const std::int32_t rows = frame.gridRows();
    const std::int32_t columns = frame.gridColumns();
    std::vector<std::int32_t> labels(frame.grid.size(), 0);
    const auto label = [&](std::int32_t r, std::int32_t c) -> std::int32_t& {
        return labels[static_cast<std::size_t>(r) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(c)];
    };
    std::int32_t next = 1;
    const auto spanned = [](const std::vector<std::int32_t>& lines, std::int32_t start,
                            std::int32_t end, std::int32_t& first, std::int32_t& last) {
        std::int32_t hint = 0;
        const auto count = static_cast<std::int32_t>(lines.size());
        first = SearchNearFromHint(lines.data(), start, hint, count, true);
        last = SearchNearFromHint(lines.data(), end, hint, count, true);
    };
    for (std::int32_t j = 0; j < static_cast<std::int32_t>(frame.vertical.size()); ++j) {
        const SegmentLine& line = frame.vertical[static_cast<std::size_t>(j)];
        const std::int32_t index = nearestLine(frame.columnPositions, line.position);
        for (const LineSegment& s : line.segments) {
            std::int32_t first = 0;
            std::int32_t last = 0;
            spanned(frame.rowPositions, s.start, s.end, first, last);
            for (std::int32_t r = first; r < last && r < rows; ++r) {
                const std::int32_t fresh = next++;
                for (std::int32_t c = index - 1; c >= 0 && label(r, c) == 0; --c) {
                    label(r, c) = fresh;
                }
            }
        }
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            if (label(r, c) == 0) {
                label(r, c) = next++;
            }
        }
    }
    // Where an inner rule across is missing, the cell below joins the cell above.
    for (std::int32_t i = 1; i < rows; ++i) {
        std::vector<bool> covered(static_cast<std::size_t>(columns), false);
        const std::int32_t position = frame.rowPositions[static_cast<std::size_t>(i)];
        for (const SegmentLine& line : frame.horizontal) {
            if (std::llabs(std::int64_t{line.position} - position) >= kLineReach) {
                continue;
            }
            for (const LineSegment& s : line.segments) {
                std::int32_t first = 0;
                std::int32_t last = 0;
                spanned(frame.columnPositions, s.start, s.end, first, last);
                for (std::int32_t c = first; c < last && c < columns; ++c) {
                    covered[static_cast<std::size_t>(c)] = true;
                }
            }
        }
        for (std::int32_t c = 0; c < columns; ++c) {
            if (!covered[static_cast<std::size_t>(c)]) {
                label(i, c) = label(i - 1, c);
            }
        }
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            if (frame.cell(r, c).kind != kFrameCellUnset) {
                continue;
            }
            const std::int32_t own = label(r, c);
            std::int32_t width = 1;
            while (c + width < columns && label(r, c + width) == own &&
                   frame.cell(r, c + width).kind == kFrameCellUnset) {
                ++width;
            }
            std::int32_t height = 1;
            for (bool grows = true; grows && r + height < rows;) {
                for (std::int32_t k = 0; k < width; ++k) {
                    grows = grows && label(r + height, c + k) == own &&
                            frame.cell(r + height, c + k).kind == kFrameCellUnset;
                }
                height += grows ? 1 : 0;
            }
            for (std::int32_t dr = 0; dr < height; ++dr) {
                for (std::int32_t dc = 0; dc < width; ++dc) {
                    tagFrameCell& covered = frame.cell(r + dr, c + dc);
                    covered.kind = kFrameCellCovered;
                    covered.rowSpan = r;
                    covered.columnSpan = c;
                }
            }
            tagFrameCell& owner = frame.cell(r, c);
            owner.kind = width == 1 && height == 1 ? kFrameCellSingle : kFrameCellOwner;
            owner.rowSpan = height;
            owner.columnSpan = width;
        }
    }
}

void CConvertEngine::JoinPartnerBoxes(tagFrameInfo& frame) {
    const std::int32_t rows = frame.gridRows();
    const auto rowOf = [&](const tagDivInfo* piece) {
        return std::max(lineAtOrBefore(frame.rowPositions, verticalReference(*piece), rows), 0);
    };
    CellGrid joiner(*this);
    std::unordered_map<const tagDivInfo*, tagDivInfo*> joinedInto;
    std::vector<tagDivInfo*> kept;
    for (tagDivInfo* piece : frame.inside) {
        const tagDivInfo* partner = piece->joinedTo;
        if (const auto it = joinedInto.find(partner); it != joinedInto.end()) {
            partner = it->second;
        }
        if (!kept.empty() && partner == kept.back() && rowOf(piece) == rowOf(kept.back())) {
            joiner.JoinDivTexts(kept.back(), piece);
            joinedInto[piece] = kept.back();
            continue;
        }
        kept.push_back(piece);
    }
    frame.inside = std::move(kept);
}

void CConvertEngine::DistributeFrameBoxes(tagFrameInfo& frame) {
    const std::int32_t rows = frame.gridRows();
    const std::int32_t columns = frame.gridColumns();
    const std::vector<std::int32_t>& lines = frame.columnPositions;
    for (tagDivInfo* piece : frame.inside) {
        // LocateInLines: the row of the reference point; the column from the left edge, the point
        // four tenths in and the right edge.
        const std::int32_t row = std::clamp(
            lineAtOrBefore(frame.rowPositions, verticalReference(*piece), rows), 0, rows - 1);
        const std::int64_t left = piece->leftEdge;
        const std::int32_t c0 = lineAtOrBefore(lines, left, columns);
        const std::int32_t c1 =
            lineAtOrBefore(lines, left + 4 * std::int64_t{piece->width}, columns);
        const std::int32_t c2 = lineAtOrBefore(lines, piece->rightEdge, columns);
        bool pastLine = false;
        if (c0 >= 0 && c0 + 1 < static_cast<std::int32_t>(lines.size())) {
            const std::int64_t toNext = lines[static_cast<std::size_t>(c0 + 1)] - left;
            pastLine = toNext < left - lines[static_cast<std::size_t>(c0)] && toNext < kNextColumn;
        }
        std::int32_t column = c0 == c1 || c0 < 0 || pastLine ? c1 : (c2 > c1 ? c1 : c0);
        column = std::clamp(column, 0, columns - 1);
        std::int32_t r = row;
        if (const tagFrameCell& cell = frame.cell(row, column); cell.kind == kFrameCellCovered) {
            r = cell.rowSpan;
            column = cell.columnSpan;
        }
        frame.cell(r, column).pieces.push_back(piece);
    }
    frame.inside.clear();
}

namespace {

struct Crowd {
    std::int32_t row = 0;
    std::int32_t column = 0;
    std::int32_t rows = 1;
    std::int32_t columns = 1;
    std::int32_t smallRows = 0;
    std::int32_t smallColumns = 0;
    std::vector<tagDivInfo*> pieces;
};

// One unit at a time to the first entry with the fewest, until the entries give needed parts.
void DistributeWidth(std::vector<std::int32_t>& extra, std::int32_t first, std::int32_t count,
                     std::int32_t needed) {
    std::int64_t parts = 0;
    for (std::int32_t k = 0; k < count; ++k) {
        parts += 1 + extra[static_cast<std::size_t>(first + k)];
    }
    while (parts < needed) {
        std::int32_t fewest = first;
        for (std::int32_t k = first + 1; k < first + count; ++k) {
            if (extra[static_cast<std::size_t>(k)] < extra[static_cast<std::size_t>(fewest)]) {
                fewest = k;
            }
        }
        ++extra[static_cast<std::size_t>(fewest)];
        ++parts;
    }
}

std::vector<std::int32_t> startsOf(const std::vector<std::int32_t>& extra) {
    std::vector<std::int32_t> starts(extra.size() + 1, 0);
    for (std::size_t k = 0; k < extra.size(); ++k) {
        starts[k + 1] = starts[k] + 1 + extra[k];
    }
    return starts;
}

}  // namespace

void CConvertEngine::SplitCrowdedCells(tagFrameInfo& frame) {
    const std::int32_t rows = frame.gridRows();
    const std::int32_t columns = frame.gridColumns();
    std::vector<Crowd> crowds;
    std::vector<std::int32_t> rowExtra(static_cast<std::size_t>(rows), 0);
    std::vector<std::int32_t> columnExtra(static_cast<std::size_t>(columns), 0);
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            tagFrameCell& cell = frame.cell(r, c);
            if (cell.kind == kFrameCellCovered || cell.pieces.size() < 2) {
                continue;
            }
            Crowd crowd;
            crowd.row = r;
            crowd.column = c;
            crowd.rows = cell.kind == kFrameCellOwner ? cell.rowSpan : 1;
            crowd.columns = cell.kind == kFrameCellOwner ? cell.columnSpan : 1;
            crowd.pieces = std::move(cell.pieces);
            cell.pieces.clear();
            crowd.smallRows = layOutSmallGrid(crowd.pieces);
            crowd.smallColumns = m_outputColumnCount;
            DistributeWidth(columnExtra, c, crowd.columns, crowd.smallColumns);
            DistributeWidth(rowExtra, r, crowd.rows, crowd.smallRows);
            crowds.push_back(std::move(crowd));
        }
    }
    if (crowds.empty()) {
        return;
    }
    const std::vector<std::int32_t> rowStart = startsOf(rowExtra);
    const std::vector<std::int32_t> columnStart = startsOf(columnExtra);
    const std::int32_t newRows = rowStart.back();
    const std::int32_t newColumns = columnStart.back();
    if (newRows != rows || newColumns != columns) {
        std::vector<std::int32_t> rowPositions;
        for (std::int32_t r = 0; r < rows; ++r) {
            const std::int64_t top = frame.rowPositions[static_cast<std::size_t>(r)];
            const std::int64_t bottom = frame.rowPositions[static_cast<std::size_t>(r + 1)];
            const std::int32_t parts = 1 + rowExtra[static_cast<std::size_t>(r)];
            for (std::int32_t k = 0; k < parts; ++k) {
                rowPositions.push_back(static_cast<std::int32_t>(top + (bottom - top) * k / parts));
            }
        }
        rowPositions.push_back(frame.rowPositions.back());
        std::vector<std::int32_t> columnPositions;
        for (std::int32_t c = 0; c < columns; ++c) {
            const std::int32_t parts = 1 + columnExtra[static_cast<std::size_t>(c)];
            columnPositions.insert(columnPositions.end(), static_cast<std::size_t>(parts),
                                   frame.columnPositions[static_cast<std::size_t>(c)]);
        }
        columnPositions.push_back(frame.columnPositions.back());
        tagFrameInfo grown;
        grown.rowPositions = std::move(rowPositions);
        grown.columnPositions = std::move(columnPositions);
        grown.grid.assign(static_cast<std::size_t>(newRows) * static_cast<std::size_t>(newColumns),
                          tagFrameCell{});
        for (std::int32_t r = 0; r < rows; ++r) {
            for (std::int32_t c = 0; c < columns; ++c) {
                tagFrameCell& old = frame.cell(r, c);
                if (old.kind == kFrameCellCovered) {
                    continue;
                }
                const std::int32_t spanRows = old.kind == kFrameCellOwner ? old.rowSpan : 1;
                const std::int32_t spanColumns = old.kind == kFrameCellOwner ? old.columnSpan : 1;
                const std::int32_t nr = rowStart[static_cast<std::size_t>(r)];
                const std::int32_t nc = columnStart[static_cast<std::size_t>(c)];
                const std::int32_t height = rowStart[static_cast<std::size_t>(r + spanRows)] - nr;
                const std::int32_t width =
                    columnStart[static_cast<std::size_t>(c + spanColumns)] - nc;
                for (std::int32_t dr = 0; dr < height; ++dr) {
                    for (std::int32_t dc = 0; dc < width; ++dc) {
                        tagFrameCell& covered = grown.cell(nr + dr, nc + dc);
                        covered.kind = kFrameCellCovered;
                        covered.rowSpan = nr;
                        covered.columnSpan = nc;
                        covered.background = old.background;
                    }
                }
                tagFrameCell& owner = grown.cell(nr, nc);
                owner = std::move(old);
                owner.kind = width == 1 && height == 1 ? kFrameCellSingle : kFrameCellOwner;
                owner.rowSpan = height;
                owner.columnSpan = width;
            }
        }
        frame.rowPositions = std::move(grown.rowPositions);
        frame.columnPositions = std::move(grown.columnPositions);
        frame.grid = std::move(grown.grid);
        for (Crowd& crowd : crowds) {
            const std::int32_t r = crowd.row;
            const std::int32_t c = crowd.column;
            crowd.row = rowStart[static_cast<std::size_t>(r)];
            crowd.column = columnStart[static_cast<std::size_t>(c)];
            crowd.rows = rowStart[static_cast<std::size_t>(r + crowd.rows)] - crowd.row;
            crowd.columns = columnStart[static_cast<std::size_t>(c + crowd.columns)] - crowd.column;
        }
    }
    // BuildFrameGrid: each crowded cell becomes single cells holding its pieces.
    for (Crowd& crowd : crowds) {
        const std::uint32_t background = frame.cell(crowd.row, crowd.column).background;
        for (std::int32_t dr = 0; dr < crowd.rows; ++dr) {
            for (std::int32_t dc = 0; dc < crowd.columns; ++dc) {
                tagFrameCell& cell = frame.cell(crowd.row + dr, crowd.column + dc);
                cell = tagFrameCell{};
                cell.kind = kFrameCellOwner;
                cell.rowSpan = 1;
                cell.columnSpan = 1;
                cell.background = background;
            }
        }
        std::vector<std::int32_t> rowOf(static_cast<std::size_t>(crowd.smallRows));
        for (std::int32_t k = 0; k < crowd.smallRows; ++k) {
            rowOf[static_cast<std::size_t>(k)] = crowd.row + k;
        }
        if (crowd.rows >= 2 && crowd.smallRows < crowd.rows) {
            std::vector<std::int32_t> matched;
            std::int32_t previous = crowd.row - 1;
            bool inside = true;
            for (std::int32_t k = 0; k < crowd.smallRows; ++k) {
                std::int64_t average = -1;
                for (const tagDivInfo* p : crowd.pieces) {
                    if (p->row == k) {
                        average = average < 0 ? p->top : (average + p->top) / 2;
                    }
                }
                std::int32_t line = nearestLine(frame.rowPositions, average * 10);
                line = std::max(line, previous + 1);
                inside = inside && line < crowd.row + crowd.rows;
                matched.push_back(line);
                previous = line;
            }
            if (inside) {
                rowOf = std::move(matched);
            }
        }
        std::vector<std::int32_t> columnOf(static_cast<std::size_t>(crowd.smallColumns));
        for (std::int32_t k = 0; k < crowd.smallColumns; ++k) {
            columnOf[static_cast<std::size_t>(k)] = crowd.column + k;
        }
        if (crowd.columns >= 2 && crowd.smallColumns < crowd.columns) {
            std::int32_t limit = crowd.column + crowd.columns - 1;
            for (std::int32_t k = crowd.smallColumns - 1; k >= 0; --k) {
                std::int64_t sum = 0;
                std::int64_t count = 0;
                for (const tagDivInfo* p : crowd.pieces) {
                    if (p->column == k) {
                        sum += std::int64_t{p->leftEdge} + 2 * std::int64_t{p->width};
                        ++count;
                    }
                }
                std::int32_t line = count == 0 ? columnOf[static_cast<std::size_t>(k)]
                                               : nearestLine(frame.columnPositions, sum / count);
                line = std::min(line, limit);
                if (line > columnOf[static_cast<std::size_t>(k)]) {
                    columnOf[static_cast<std::size_t>(k)] = line;
                }
                limit = columnOf[static_cast<std::size_t>(k)] - 1;
            }
        }
        for (tagDivInfo* p : crowd.pieces) {
            const std::int32_t r = rowOf[static_cast<std::size_t>(p->row)];
            const std::int32_t c = columnOf[static_cast<std::size_t>(p->column)];
            frame.cell(r, c).pieces.push_back(p);
        }
    }
}

// The grid of the last small layout has its columns moved onto the frame's column lines.
void CConvertEngine::BuildFrameColumns(const tagFrameInfo& frame, std::int32_t offset,
                                       std::vector<tagDivInfo*>& pieces) {
    const std::int32_t ordinals = m_outputColumnCount;
    std::vector<std::int64_t> leftOf(static_cast<std::size_t>(ordinals),
                                     std::numeric_limits<std::int64_t>::max());
    for (std::int32_t c = 0; c < m_columnCount; ++c) {
        const tagGridColumnInfo& column = m_columns[static_cast<std::size_t>(c)];
        if (column.ordinal >= 0 && column.ordinal < ordinals) {
            std::int64_t& left = leftOf[static_cast<std::size_t>(column.ordinal)];
            left = std::min(left, std::int64_t{column.left} * 10);
        }
    }
    std::vector<std::int32_t> moved(static_cast<std::size_t>(ordinals));
    std::int32_t previous = -1;
    for (std::int32_t k = 0; k < ordinals; ++k) {
        std::int32_t target = previous + 1;
        if (leftOf[static_cast<std::size_t>(k)] != std::numeric_limits<std::int64_t>::max()) {
            target = std::max(
                target,
                nearestLine(frame.columnPositions, leftOf[static_cast<std::size_t>(k)]) + offset);
        }
        moved[static_cast<std::size_t>(k)] = target;
        previous = target;
    }
    m_outputColumnCount = ordinals > 0 ? moved.back() + 1 : 0;
    for (tagDivInfo* p : pieces) {
        const std::int32_t last = std::min(p->column + p->columnSpan, ordinals) - 1;
        p->column = moved[static_cast<std::size_t>(std::clamp(p->column, 0, ordinals - 1))];
        p->columnSpan =
            std::max(moved[static_cast<std::size_t>(std::max(last, 0))] - p->column + 1, 1);
    }
    // A span widens up to the next piece where it now stands, in every row the span covers.
    for (tagDivInfo* p : pieces) {
        const std::int32_t reach =
            lineAtOrBefore(frame.columnPositions, p->rightEdge,
                           static_cast<std::int32_t>(frame.columnPositions.size())) +
            offset;
        std::int32_t next = std::numeric_limits<std::int32_t>::max();
        for (const tagDivInfo* other : pieces) {
            if (other != p && other->column > p->column && other->row < p->row + p->rowSpan &&
                p->row < other->row + other->rowSpan) {
                next = std::min(next, other->column);
            }
        }
        const std::int32_t widened = std::min(reach, next) - p->column;
        if (widened >= kMinWidening && widened > p->columnSpan) {
            p->columnSpan = widened;
        }
    }
}

void CConvertEngine::LayOutAboveBelow() {
    for (std::int32_t i = 0; i < m_frames->frameCount(); ++i) {
        tagFrameInfo& frame = m_frames->GetFrame(i);
        for (const std::int32_t side : {kSideAbove, kSideBelow}) {
            std::vector<tagDivInfo*>& list = frame.sides[static_cast<std::size_t>(side - 1)];
            if (list.empty()) {
                continue;
            }
            const std::int32_t rows = layOutSmallGrid(list);
            BuildFrameColumns(frame, 0, list);
            for (tagDivInfo* p : list) {
                p->row = side == kSideAbove ? p->row - rows : p->row + frame.rows;
                frame.lastColumn = std::max(frame.lastColumn, p->column + p->columnSpan - 1);
            }
            std::int32_t& used = side == kSideAbove ? frame.rowsAbove : frame.rowsBelow;
            used = std::max(used, rows);
        }
    }
}

void CConvertEngine::MapFrameRows(const tagFrameInfo& frame, std::int32_t& rows,
                                  std::vector<std::int32_t>& map) {
    map.assign(static_cast<std::size_t>(m_rowCount), 0);
    std::int32_t previous = -1;
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        const std::int64_t position = std::int64_t{m_rows[static_cast<std::size_t>(r)].top} * 10;
        std::int32_t mapped = std::max(previous + 1, r);
        if (frame.top <= position && position <= frame.bottom) {
            mapped = std::max(mapped, nearestLine(frame.rowPositions, position));
        }
        map[static_cast<std::size_t>(r)] = mapped;
        previous = mapped;
    }
    rows = std::max(rows, previous + 1);
}

void CConvertEngine::LayOutLeftRight(tagFrameInfo& frame, std::int32_t side) {
    std::vector<tagDivInfo*>& list = frame.sides[static_cast<std::size_t>(side - 1)];
    if (list.empty()) {
        return;
    }
    layOutSmallGrid(list);
    const std::int32_t columns = m_outputColumnCount;
    std::vector<std::int32_t> map;
    MapFrameRows(frame, frame.rows, map);
    const std::int32_t firstRight = frame.lastColumn + 1;
    for (tagDivInfo* p : list) {
        p->row = map[static_cast<std::size_t>(p->row)];
        p->column = side == kSideLeft ? p->column - columns : p->column + firstRight;
        frame.firstColumn = std::min(frame.firstColumn, p->column);
        frame.lastColumn = std::max(frame.lastColumn, p->column + p->columnSpan - 1);
    }
}

void CConvertEngine::BuildFrameGrids() {
    FrameStore& frames = *m_frames;
    std::vector<std::int32_t> crowded;
    for (std::int32_t i = 0; i < frames.frameCount(); ++i) {
        tagFrameInfo& frame = frames.GetFrame(i);
        CopyFrameLines(frame);
        LabelFrameCells(frame);
        JoinPartnerBoxes(frame);
        DistributeFrameBoxes(frame);
        bool isCrowded = false;
        for (std::int32_t r = 0; r < frame.gridRows(); ++r) {
            for (std::int32_t c = 0; c < frame.gridColumns(); ++c) {
                tagFrameCell& cell = frame.cell(r, c);
                isCrowded = isCrowded || cell.pieces.size() >= 2;
                const std::int64_t x =
                    (std::int64_t{frame.columnPositions[c]} + frame.columnPositions[c + 1]) / 2;
                const std::int64_t y =
                    (std::int64_t{frame.rowPositions[r]} + frame.rowPositions[r + 1]) / 2;
                cell.background = frames.GetRegionColour(static_cast<std::int32_t>(x),
                                                         static_cast<std::int32_t>(y));
            }
        }
        if (isCrowded) {
            crowded.push_back(i);
        }
    }
    for (const std::int32_t i : crowded) {
        SplitCrowdedCells(frames.GetFrame(i));
    }
    for (std::int32_t i = 0; i < frames.frameCount(); ++i) {
        tagFrameInfo& frame = frames.GetFrame(i);
        frame.laidOutColumns = frame.gridColumns();
        frame.lastColumn = frame.gridColumns() - 1;
        frame.firstColumn = 0;
        frame.rows = frame.gridRows();
        frame.rowsAbove = 0;
        frame.rowsBelow = 0;
    }
    LayOutAboveBelow();
    for (std::int32_t i = 0; i < frames.frameCount(); ++i) {
        LayOutLeftRight(frames.GetFrame(i), kSideLeft);
        LayOutLeftRight(frames.GetFrame(i), kSideRight);
    }
}

}  // namespace paginor
