// The frame road, part three: the bands of the layout tree, their frames with their surroundings
// and the pieces between the bands are placed on one sheet of rows and columns.

#include <algorithm>
#include <limits>

#include "convert/convert_engine.h"
#include "convert/layout/frame_store.h"
#include "convert/layout/layout_tree.h"

namespace paginor {
namespace {

constexpr std::int64_t kSameLeft = 18;    // frames starting this close share column 0
constexpr std::int64_t kLineReach = 35;   // a line this far beyond an edge is the one before
constexpr std::int64_t kCloseBands = 36;  // single frames closer than this need no empty row
constexpr std::int32_t kMinWidening = 3;  // spans widen to reference lines only this far

// The last line at or before value; 0 before the first.
std::int32_t lineAtOrBefore(const std::vector<std::int32_t>& lines, std::int64_t value) {
    const auto it = std::upper_bound(lines.begin(), lines.end(), value,
                                     [](std::int64_t v, std::int32_t line) { return v < line; });
    return std::max(static_cast<std::int32_t>(it - lines.begin()) - 1, 0);
}

std::int32_t leafFrameOf(const LayoutTree& tree, std::int32_t element) {
    while (!tree.element(element).leaf) {
        element = tree.element(element).firstChild;
    }
    return tree.element(element).frame;
}

// SearchNearFromHint with nearest clear; a line more than kLineReach beyond value counts as the
// one before.
std::int32_t lineNear(const std::vector<std::int32_t>& lines, std::int64_t value) {
    std::int32_t hint = 0;
    std::int32_t index = SearchNearFromHint(lines.data(), value, hint,
                                            static_cast<std::int32_t>(lines.size()), false);
    if (index > 0 && lines[static_cast<std::size_t>(index)] > value + kLineReach) {
        --index;
    }
    return std::max(index, 0);
}

}  // namespace

void CConvertEngine::MeasureLayout(std::int32_t element) {
    LayoutTree& tree = *m_layoutTree;
    tagLayoutElementInfo& e = tree.element(element);
    if (e.leaf) {
        const tagFrameInfo& f = m_frames->GetFrame(e.frame);
        e.width = f.lastColumn - f.firstColumn + 1;
        e.height = f.rowsAbove + f.rows + f.rowsBelow;
        return;
    }
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool first = true;
    for (std::int32_t c = e.firstChild; c != kNoElement; c = tree.element(c).next) {
        MeasureLayout(c);
        tagLayoutElementInfo& child = tree.element(c);
        if (child.alongY) {
            // Bands stack downwards with one empty row between them.
            height += first ? 0 : 1;
            child.rowOffset = height;
            child.columnOffset = 0;
            height += child.height;
            width = std::max(width, child.width);
        } else {
            child.columnOffset = width;
            child.rowOffset = 0;
            width += child.width;
            height = std::max(height, child.height);
        }
        first = false;
    }
    tree.element(element).width = width;
    tree.element(element).height = height;
}

void CConvertEngine::PlaceLayoutFrames(std::int32_t element, std::int32_t column,
                                       std::int32_t row) {
    LayoutTree& tree = *m_layoutTree;
    const tagLayoutElementInfo& e = tree.element(element);
    if (e.leaf) {
        tagFrameInfo& f = m_frames->GetFrame(e.frame);
        f.rowOffset = row + f.rowsAbove;
        f.columnOffset = column - f.firstColumn;
        return;
    }
    for (std::int32_t c = e.firstChild; c != kNoElement; c = tree.element(c).next) {
        const tagLayoutElementInfo& child = tree.element(c);
        PlaceLayoutFrames(c, column + child.columnOffset, row + child.rowOffset);
    }
}

void CConvertEngine::PlaceDeferredRows(std::int32_t first, std::int32_t last, std::int32_t& row) {
    if (last < first) {
        return;
    }
    for (std::size_t i = 0; i < m_deferredPieces.size(); ++i) {
        const std::int32_t own = m_deferredGridRows[i];
        if (own >= first && own <= last) {
            tagDivInfo& piece = *m_deferredPieces[i];
            piece.row = row + own - first;
            // A band follows the run: a tall piece ends with the run's rows.
            piece.rowSpan = std::clamp(piece.rowSpan, 1, last - own + 1);
        }
    }
    row += last - first + 1;
}

// Frames side by side in a band move right onto the reference frame's column lines, so that
// their columns line up with the reference table's; the columns of the boxes left of a moved
// frame then go back onto the reference lines where their boxes stand.
void CConvertEngine::AlignChildFrames(const tagFrameInfo& reference, std::int32_t offset,
                                      std::int32_t band) {
    LayoutTree& tree = *m_layoutTree;
    std::int32_t previous = kNoElement;
    for (std::int32_t c = tree.element(band).firstChild; c != kNoElement;
         previous = c, c = tree.element(c).next) {
        const tagLayoutElementInfo& child = tree.element(c);
        if (!child.leaf || child.alongY) {
            continue;
        }
        tagFrameInfo& f = m_frames->GetFrame(child.frame);
        if (f.left > reference.right) {
            break;
        }
        if (f.left < reference.left) {
            continue;
        }
        const std::int32_t target = lineNear(reference.columnPositions, f.left) + offset;
        const std::int32_t current = offset + child.columnOffset - f.firstColumn;
        if (target <= current) {
            continue;
        }
        const std::int32_t shift = target - current;
        for (std::int32_t s = c; s != kNoElement; s = tree.element(s).next) {
            tree.element(s).columnOffset += shift;
        }
        tree.element(band).width += shift;
        if (f.firstColumn < 0) {
            const std::int32_t after =
                previous == kNoElement
                    ? offset
                    : offset + tree.element(previous).columnOffset + tree.element(previous).width;
            RemapLeftColumns(reference, f, target, offset, after);
            tree.element(c).columnOffset = target - offset + f.firstColumn;
            tree.element(c).width = f.lastColumn - f.firstColumn + 1;
        }
    }
}

// The frame's column 0 stands in sheet column origin; the columns of the boxes left of it go to
// the reference lines nearest their boxes' left edges (sheet column = line + offset), in order,
// from sheet column after on and never right of their own places beside the frame.
void CConvertEngine::RemapLeftColumns(const tagFrameInfo& reference, tagFrameInfo& frame,
                                      std::int32_t origin, std::int32_t offset,
                                      std::int32_t after) {
    std::vector<tagDivInfo*>& left = frame.sides[kSideLeft - 1];
    const std::int32_t count = -frame.firstColumn;
    const auto index = [&](std::int32_t column) {
        return std::clamp(column + count, 0, count - 1);
    };
    constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
    std::vector<std::int64_t> leftEdge(static_cast<std::size_t>(count), kNone);
    for (const tagDivInfo* p : left) {
        std::int64_t& edge = leftEdge[static_cast<std::size_t>(index(p->column))];
        edge = std::min(edge, std::int64_t{p->leftEdge});
    }
    std::vector<std::int32_t> moved(static_cast<std::size_t>(count));
    std::int32_t lowest = after;
    for (std::int32_t k = 0; k < count; ++k) {
        const std::int32_t own = origin - count + k;
        const std::int64_t edge = leftEdge[static_cast<std::size_t>(k)];
        const std::int32_t line =
            edge == kNone ? lowest : lineNear(reference.columnPositions, edge) + offset;
        moved[static_cast<std::size_t>(k)] = std::clamp(line, std::min(lowest, own), own);
        lowest = moved[static_cast<std::size_t>(k)] + 1;
    }
    frame.firstColumn = 0;
    for (tagDivInfo* p : left) {
        const std::int32_t k = index(p->column);
        const std::int32_t column = moved[static_cast<std::size_t>(k)];
        const std::int32_t last = index(p->column + std::max(p->columnSpan, 1) - 1);
        std::int32_t span = moved[static_cast<std::size_t>(last)] - column + 1;
        // Up to the reference line at its right edge, short of the frame and of the next box in
        // the rows it covers.
        std::int32_t limit = origin;
        for (const tagDivInfo* other : left) {
            if (other != p && other->column > p->column && other->row < p->row + p->rowSpan &&
                p->row < other->row + other->rowSpan) {
                limit = std::min(limit, moved[static_cast<std::size_t>(index(other->column))]);
            }
        }
        const std::int32_t reach =
            std::min(lineAtOrBefore(reference.columnPositions, p->rightEdge) + offset, limit) -
            column;
        if (reach >= kMinWidening && reach > span) {
            span = reach;
        }
        p->column = column - origin;
        p->columnSpan = span;
        frame.firstColumn = std::min(frame.firstColumn, p->column);
    }
}

void CConvertEngine::PlaceFrames(std::int32_t& width) {
    LayoutTree& tree = *m_layoutTree;
    std::vector<std::int32_t> bands;
    for (std::int32_t b = tree.element(tree.root()).firstChild; b != kNoElement;
         b = tree.element(b).next) {
        bands.push_back(b);
    }
    std::int32_t reference = leafFrameOf(tree, bands.front());
    for (const std::int32_t b : bands) {
        const std::int32_t f = leafFrameOf(tree, b);
        if (m_frames->GetFrame(f).laidOutColumns > m_frames->GetFrame(reference).laidOutColumns) {
            reference = f;
        }
    }
    const tagFrameInfo& r = m_frames->GetFrame(reference);
    std::vector<std::int32_t> offsets;
    for (const std::int32_t b : bands) {
        const std::int32_t index = leafFrameOf(tree, b);
        const tagFrameInfo& f = m_frames->GetFrame(index);
        std::int32_t offset = 0;
        if (index != reference && std::llabs(std::int64_t{f.left} - r.left) >= kSameLeft) {
            if (f.left < r.left) {
                offset = r.left < f.right ? -1 - lineNear(f.columnPositions, r.left)
                                          : -1 - f.laidOutColumns;
            } else {
                offset =
                    r.right > f.left ? lineNear(r.columnPositions, f.left) : r.laidOutColumns + 1;
            }
        }
        if (tree.element(b).leaf) {
            offset += f.firstColumn;
        }
        offsets.push_back(offset);
    }
    const std::int32_t shift = *std::min_element(offsets.begin(), offsets.end());
    width = 0;
    for (std::size_t k = 0; k < bands.size(); ++k) {
        offsets[k] -= shift;
        MeasureLayout(bands[k]);
        if (!tree.element(bands[k]).leaf) {
            AlignChildFrames(r, offsets[k], bands[k]);
        }
        width = std::max(width, offsets[k] + tree.element(bands[k]).width);
    }
    // The reference frame's column 0 in sheet columns.
    std::int32_t referenceColumn = 0;
    for (std::size_t k = 0; k < bands.size(); ++k) {
        if (leafFrameOf(tree, bands[k]) == reference) {
            referenceColumn = offsets[k] - (tree.element(bands[k]).leaf ? r.firstColumn : 0);
        }
    }

    // The pieces between the bands, aligned to the reference frame's columns.
    std::vector<tagDivInfo*> deferred(m_frames->deferred().begin(), m_frames->deferred().end());
    const std::int32_t deferredRows = layOutSmallGrid(deferred);
    std::vector<std::int64_t> rowTops(static_cast<std::size_t>(deferredRows));
    for (std::int32_t k = 0; k < deferredRows; ++k) {
        rowTops[static_cast<std::size_t>(k)] =
            std::int64_t{m_rows[static_cast<std::size_t>(k)].top} * 10;
    }
    BuildFrameColumns(r, referenceColumn, deferred);
    width = std::max(width, m_outputColumnCount);
    m_deferredPieces = std::move(deferred);
    m_deferredGridRows.clear();
    for (const tagDivInfo* p : m_deferredPieces) {
        m_deferredGridRows.push_back(p->row);
    }

    std::int32_t row = 0;
    std::int32_t nextDeferred = 0;
    for (std::size_t k = 0; k < bands.size(); ++k) {
        const tagLayoutElementInfo& band = tree.element(bands[k]);
        std::int32_t last = nextDeferred;
        while (last < deferredRows && rowTops[static_cast<std::size_t>(last)] < band.start) {
            ++last;
        }
        PlaceDeferredRows(nextDeferred, last - 1, row);
        nextDeferred = last;
        PlaceLayoutFrames(bands[k], offsets[k], row);
        row += band.height;
        if (k + 1 < bands.size() && !m_headerFooterRemoval) {
            const tagLayoutElementInfo& next = tree.element(bands[k + 1]);
            const bool close =
                band.leaf && next.leaf && std::int64_t{next.start} - band.end < kCloseBands;
            row += close ? 0 : 1;
        }
    }
    PlaceDeferredRows(nextDeferred, deferredRows - 1, row);

    // Every frame's surroundings in one list for the output step.
    for (std::int32_t i = 0; i < m_frames->frameCount(); ++i) {
        tagFrameInfo& f = m_frames->GetFrame(i);
        std::vector<tagDivInfo*>& all = f.sides[kSideAbove - 1];
        for (const std::int32_t side : {kSideBelow, kSideLeft, kSideRight}) {
            std::vector<tagDivInfo*>& list = f.sides[static_cast<std::size_t>(side - 1)];
            all.insert(all.end(), list.begin(), list.end());
            list.clear();
        }
    }
}

}  // namespace paginor
