// Pages that carry report blocks side by side, cut apart by long vertical rules: every block gets
// its own output columns, and the column optimiser is not run.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/layout/frame_store.h"

namespace paginor {

namespace {

constexpr std::int64_t kShortSegment = 30;      // tenths: a rule of shorter pieces is dashed
constexpr std::int32_t kCloseStrips = 100;      // tenths
constexpr std::int64_t kColumnReach = 20;       // tenths a column may start left of its rule
constexpr std::int32_t kCommonWidthRows = 4;    // rows that make a block width common
constexpr double kMaxAverageBlockWidth = 1.75;  // columns
constexpr double kMaxCellsPerBlock = 2.2;
constexpr float kMinStripShare = 0.5f;

std::int64_t totalLength(const SegmentLine& strip) {
    std::int64_t total = 0;
    for (const LineSegment& s : strip.segments) {
        total += std::int64_t{s.end} - s.start;
    }
    return total;
}

// Row tops are whole points, segment bounds tenths.
bool insideSegment(const SegmentLine& strip, std::int32_t top) {
    return std::any_of(strip.segments.begin(), strip.segments.end(), [&](const LineSegment& s) {
        return s.start / 10 < top && top < s.end / 10;
    });
}

bool isContent(const tagGridCell& cell) {
    return cell.text != nullptr && cell.kind != kKindCoveredCopy;
}

}  // namespace

class SideBySideLayout {
public:
    explicit SideBySideLayout(CConvertEngine& engine)
        : m_e(engine), m_strips(engine.m_frames->strips()) {}

    bool run();

private:
    struct Block {
        std::int32_t first = 0;  // grid columns first .. end - 1
        std::int32_t end = 0;
        std::size_t rightStrip = 0;
        std::int32_t width = 0;
        std::vector<std::uint8_t> insideRight;  // per row: strictly inside a right-strip segment
    };

    std::int64_t scaled(std::int32_t column) const {
        return std::int64_t{m_e.m_columns[column].left} * 10;
    }
    bool dropShortStrips();
    bool tallEnough() const;
    void mergeCloseStrips();
    std::int32_t firstReaching(std::int32_t x) const;
    bool findBlocks();
    void measure(Block& block) const;
    bool narrowEnough() const;
    void placeRow(std::size_t b, std::int32_t row);
    bool followedInRow(std::int32_t row, std::int32_t column, std::int32_t x) const;
    void survive(std::int32_t column);
    void inheritCopyOrdinals();

    CConvertEngine& m_e;
    LineList& m_strips;
    std::int64_t m_longest = 0;
    std::vector<Block> m_blocks;
    std::vector<std::size_t> m_mergedStrips;  // unlinked once the page is taken
    std::vector<std::uint8_t> m_survives;
    std::vector<std::int32_t> m_blockOf;  // per column: its block, -1 outside every block
    std::vector<std::int32_t> m_blockSurvivors;
};

bool SideBySideLayout::dropShortStrips() {
    m_longest = 0;
    std::erase_if(m_strips, [&](const SegmentLine& strip) {
        const std::int64_t total = totalLength(strip);
        m_longest = std::max(m_longest, total);
        const auto count = static_cast<std::int64_t>(strip.segments.size());
        return count == 0 || total / count <= kShortSegment;
    });
    return !m_strips.empty();
}

// The longest strip must cover a fair share of the batch. Page tops run on over the whole report,
// so the page height comes from the steps between the batch's pages, not from the last top.
bool SideBySideLayout::tallEnough() const {
    const std::int32_t pages = m_e.m_pageCount;
    if (pages <= 1) {
        return true;
    }
    const auto known =
        static_cast<std::int32_t>(std::min<std::size_t>(m_e.m_pageTops.size(), pages));
    std::vector<std::int64_t> steps;
    std::int32_t previous = -1;
    for (std::int32_t p = 0; p < known; ++p) {
        if (m_e.m_pageTops[p] < 0) {
            continue;
        }
        if (previous >= 0) {
            const std::int64_t step =
                (std::int64_t{m_e.m_pageTops[p]} - m_e.m_pageTops[previous]) / (p - previous);
            if (step > 0) {
                steps.push_back(step);
            }
        }
        previous = p;
    }
    if (steps.empty()) {
        return false;
    }
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>((steps.size() - 1) / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    const std::int64_t height = *middle * pages;
    if (height <= 0) {
        return false;
    }
    // Tenths over whole points, as the threshold was tuned.
    return static_cast<float>(m_longest) / static_cast<float>(height) >= kMinStripShare;
}

void SideBySideLayout::mergeCloseStrips() {
    std::size_t i = 0;
    while (i + 1 < m_strips.size()) {
        const std::int64_t x = m_strips[i].position;
        const std::int64_t next = m_strips[i + 1].position;
        bool columnBetween = false;
        for (std::int32_t c = 0; c < m_e.m_columnCount && !columnBetween; ++c) {
            columnBetween = x < scaled(c) && scaled(c) < next;
        }
        if (next - x >= kCloseStrips || columnBetween) {
            ++i;
            continue;
        }
        const bool dropCurrent = totalLength(m_strips[i]) < totalLength(m_strips[i + 1]);
        m_strips.erase(m_strips.begin() + static_cast<std::ptrdiff_t>(dropCurrent ? i : i + 1));
    }
}

std::int32_t SideBySideLayout::firstReaching(std::int32_t x) const {
    std::int32_t c = 0;
    while (c < m_e.m_columnCount && scaled(c) + kColumnReach < x) {
        ++c;
    }
    return c;
}

void SideBySideLayout::measure(Block& block) const {
    const SegmentLine& right = m_strips[block.rightStrip];
    const std::int32_t columns = block.end - block.first;
    std::vector<std::int32_t> histogram(static_cast<std::size_t>(columns) + 1, 0);
    std::int32_t largest = 0;
    block.insideRight.assign(static_cast<std::size_t>(m_e.m_rowCount), 0);
    for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
        std::int32_t count = 0;
        for (std::int32_t c = block.first; c < block.end; ++c) {
            count += m_e.at(r, c).textLength > 0 ? 1 : 0;
        }
        if (count > 1) {
            ++histogram[count];
        }
        if (insideSegment(right, m_e.m_rows[r].top)) {
            block.insideRight[r] = 1;
            largest = std::max(largest, count);
        }
    }
    block.width = largest;
    for (std::int32_t c = columns; c > largest; --c) {
        if (histogram[c] >= kCommonWidthRows) {
            block.width = c;
            break;
        }
    }
}

bool SideBySideLayout::findBlocks() {
    std::size_t left = 0;
    for (std::size_t s = 1; s < m_strips.size(); ++s) {
        Block block;
        block.first = firstReaching(m_strips[left].position);
        block.end = firstReaching(m_strips[s].position);
        if (block.first == block.end) {
            m_mergedStrips.push_back(s);
            continue;
        }
        block.rightStrip = s;
        measure(block);
        m_blocks.push_back(std::move(block));
        left = s;
    }
    if (m_blocks.empty()) {
        return false;
    }
    // Content right of the last rule belongs to no block.
    for (std::int32_t c = m_blocks.back().end; c < m_e.m_columnCount; ++c) {
        for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
            if (isContent(m_e.at(r, c))) {
                return false;
            }
        }
    }
    return true;
}

bool SideBySideLayout::narrowEnough() const {
    std::int64_t sum = 0;
    for (const Block& block : m_blocks) {
        sum += block.width;
    }
    const auto blocks = static_cast<double>(m_blocks.size());
    if (static_cast<double>(sum) / blocks > kMaxAverageBlockWidth) {
        return false;
    }
    for (std::int32_t r = 0; r < m_e.m_rowCount; ++r) {
        std::int32_t count = 0;
        for (std::int32_t c = 0; c < m_e.m_columnCount; ++c) {
            count += isContent(m_e.at(r, c)) ? 1 : 0;
        }
        if (count > kMaxCellsPerBlock * blocks) {
            return false;
        }
    }
    return true;
}

bool SideBySideLayout::followedInRow(std::int32_t row, std::int32_t column, std::int32_t x) const {
    for (std::int32_t c = column + 1; c < m_e.m_columnCount && scaled(c) <= x; ++c) {
        if (isContent(m_e.at(row, c))) {
            return true;
        }
    }
    return false;
}

void SideBySideLayout::survive(std::int32_t column) {
    if (m_survives[column] == 0) {
        m_survives[column] = 1;
        if (m_blockOf[column] >= 0) {
            ++m_blockSurvivors[m_blockOf[column]];
        }
    }
}

// While the blocks are placed, a cell's output column holds the grid column it goes to.
void SideBySideLayout::placeRow(std::size_t b, std::int32_t row) {
    const Block& block = m_blocks[b];
    const std::int32_t blockSurvivors = m_blockSurvivors[b];
    std::vector<std::int32_t> cells;
    for (std::int32_t c = block.first; c < block.end; ++c) {
        if (isContent(m_e.at(row, c))) {
            cells.push_back(c);
        }
    }
    if (cells.empty()) {
        return;
    }
    std::vector<std::int32_t> targets;
    std::int32_t first = block.first;
    if (cells.size() == 1 && blockSurvivors > 1) {
        const std::int32_t own = m_e.m_columns[cells[0]].left;
        std::int32_t best = -1;
        for (std::int32_t k = block.first; k < block.end; ++k) {
            if (m_survives[k] != 0 && (best < 0 || std::abs(m_e.m_columns[k].left - own) <
                                                       std::abs(m_e.m_columns[best].left - own))) {
                best = k;
            }
        }
        first = best;
    }
    targets.push_back(first);
    const std::int32_t rightX = m_strips[block.rightStrip].position;
    for (std::size_t i = 1; i < cells.size(); ++i) {
        const std::int32_t c = cells[i];
        std::int32_t next = -1;
        for (std::int32_t k = targets.back() + 1; k < block.end && next < 0; ++k) {
            if (m_survives[k] != 0 &&
                std::find(targets.begin(), targets.end(), k) == targets.end()) {
                next = k;
            }
        }
        if (next < 0) {
            std::int32_t after = -1;
            for (std::int32_t k = block.end; k < m_e.m_columnCount && after < 0; ++k) {
                if (isContent(m_e.at(row, k))) {
                    after = k;
                }
            }
            const bool ownColumn = block.insideRight[row] != 0 || b + 1 == m_blocks.size() ||
                                   followedInRow(row, c, rightX) ||
                                   (after >= 0 && m_e.at(row, after).outputColumn == block.end);
            // Only the last block may end at the page's last column.
            next = ownColumn ? c : block.end;
            survive(next);
        }
        targets.push_back(next);
    }
    const auto descends = [](std::int32_t x, std::int32_t y) { return x >= y; };
    if (std::adjacent_find(targets.begin(), targets.end(), descends) != targets.end()) {
        // Reorder onto the surviving columns the cells span; when those are too few, every cell
        // keeps its own column, which always increases.
        const std::int32_t highest = *std::max_element(targets.begin(), targets.end());
        std::int32_t k = *std::min_element(targets.begin(), targets.end());
        for (std::int32_t& target : targets) {
            while (k <= highest && m_survives[k] == 0) {
                ++k;
            }
            target = k++;
        }
        if (targets.back() > highest) {
            for (std::size_t i = 0; i < cells.size(); ++i) {
                targets[i] = cells[i];
                survive(cells[i]);
            }
        }
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        m_e.at(row, cells[i]).outputColumn = targets[i];
    }
}

// A tall cell's copies keep its output column where their row allows it, so that the output
// still merges them into one cell.
void SideBySideLayout::inheritCopyOrdinals() {
    for (std::int32_t r = 1; r < m_e.m_rowCount; ++r) {
        for (std::int32_t c = 0; c < m_e.m_columnCount; ++c) {
            tagGridCell& copy = m_e.at(r, c);
            const tagGridCell& above = m_e.at(r - 1, c);
            if (copy.text == nullptr || copy.kind != kKindCoveredCopy || above.text != copy.text ||
                above.outputColumn < 0) {
                continue;
            }
            bool fits = true;
            for (std::int32_t k = 0; k < m_e.m_columnCount && fits; ++k) {
                const std::int32_t other = m_e.at(r, k).outputColumn;
                if (k != c && m_e.at(r, k).text != nullptr && other >= 0) {
                    fits = k < c ? other < above.outputColumn : other > above.outputColumn;
                }
            }
            if (fits) {
                copy.outputColumn = above.outputColumn;
            }
        }
    }
}

bool SideBySideLayout::run() {
    const std::int32_t columns = m_e.m_columnCount;
    const std::int32_t rows = m_e.m_rowCount;
    if (!dropShortStrips() || !tallEnough() || columns == 0 || rows == 0) {
        return false;
    }
    mergeCloseStrips();
    if (m_strips.front().position > scaled(0) || m_strips.back().position < scaled(columns - 1)) {
        return false;
    }
    if (!findBlocks() || !narrowEnough()) {
        return false;
    }

    for (std::int32_t c = 0; c < columns; ++c) {
        m_e.m_columns[c].ordinal = -1;
    }
    // The final check counts a tall cell's copies too, whether or not they keep a column.
    for (std::int32_t r = 0; r < rows; ++r) {
        std::int32_t occupied = 0;
        for (std::int32_t c = 0; c < columns; ++c) {
            tagGridCell& cell = m_e.at(r, c);
            cell.outputColumn = -1;
            occupied += cell.text != nullptr ? 1 : 0;
        }
        m_e.m_rows[r].occupied = occupied;
    }
    m_survives.assign(static_cast<std::size_t>(columns), 0);
    m_blockOf.assign(static_cast<std::size_t>(columns), -1);
    for (std::size_t b = 0; b < m_blocks.size(); ++b) {
        std::fill(m_blockOf.begin() + m_blocks[b].first, m_blockOf.begin() + m_blocks[b].end,
                  static_cast<std::int32_t>(b));
    }
    m_blockSurvivors.assign(m_blocks.size(), 0);
    for (std::size_t b = m_blocks.size(); b-- > 0;) {
        survive(m_blocks[b].first);
        for (std::int32_t r = 0; r < rows; ++r) {
            placeRow(b, r);
        }
    }

    std::int32_t ordinal = 0;
    for (std::int32_t c = 0; c < columns; ++c) {
        m_e.m_columns[c].ordinal = m_survives[c] != 0 ? ordinal++ : -1;
    }
    m_e.m_outputColumnCount = ordinal;
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            tagGridCell& cell = m_e.at(r, c);
            if (cell.outputColumn >= 0) {
                cell.outputColumn = m_e.m_columns[cell.outputColumn].ordinal;
            }
        }
    }
    inheritCopyOrdinals();
    for (auto s = m_mergedStrips.rbegin(); s != m_mergedStrips.rend(); ++s) {
        m_strips.erase(m_strips.begin() + static_cast<std::ptrdiff_t>(*s));
    }
    m_e.MergeSpannedCells();
    m_e.CheckColumnOrdinals();
    return true;
}

bool CConvertEngine::LayOutSideBySide() {
    if (m_frames == nullptr) {
        return false;
    }
    return SideBySideLayout(*this).run();
}

}  // namespace paginor
