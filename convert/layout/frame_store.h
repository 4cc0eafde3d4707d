#pragma once

// The collecting half of the frame engine: while the box reader reads a page, bordered boxes
// become frames with their horizontal and vertical lines, coloured boxes become coloured
// regions, and the vertical edges of boxes become the page-wide strips that side-by-side
// detection reads. All positions are in tenths of a point.

#include <array>
#include <cstdint>
#include <deque>
#include <unordered_set>
#include <vector>

#include "convert/layout/cell_grid.h"
#include "convert/read/box_reader.h"

namespace paginor {

class CConvertEngine;

inline constexpr std::int32_t kNoLines = 65535;  // a frame without lines of one kind
inline constexpr std::size_t kLineRecordCapacity = 64 * 2048;
inline constexpr std::size_t kRegionRecordCapacity = 16 * 2048;

struct LineSegment {
    std::int32_t start = 0;
    std::int32_t end = 0;
};

// One line position with its segments, ordered by start.
struct SegmentLine {
    std::int32_t position = 0;
    std::vector<LineSegment> segments;
};

// Lines ordered by position.
using LineList = std::vector<SegmentLine>;

struct tagRegionInfo {
    std::int32_t left = 0;
    std::int32_t right = 0;
    std::int32_t top = 0;
    std::int32_t bottom = 0;
    std::uint32_t colour = 0;
};

// A cell of a frame's own grid.
inline constexpr std::int32_t kFrameCellUnset = 0;
inline constexpr std::int32_t kFrameCellOwner = 1;
inline constexpr std::int32_t kFrameCellCovered = 2;
inline constexpr std::int32_t kFrameCellSingle = 3;

struct tagFrameCell {
    std::int32_t kind = kFrameCellUnset;
    std::int32_t rowSpan = 0;     // a covered cell: its owner's row
    std::int32_t columnSpan = 0;  // a covered cell: its owner's column
    std::vector<tagDivInfo*> pieces;
    std::uint32_t background = kNoBackground;
};

struct tagFrameInfo {
    std::int32_t top = 0;
    std::int32_t left = 0;
    std::int32_t bottom = 0;
    std::int32_t right = 0;
    LineList horizontal;
    LineList vertical;
    std::int32_t rowCount = kNoLines;
    std::int32_t columnCount = kNoLines;
    std::vector<tagDivInfo*> inside;
    std::array<std::vector<tagDivInfo*>, 4> sides;  // above, below, left, right
    std::int32_t boxCount = 0;
    std::int32_t page = 0;
    // The frame's own grid: line positions in order and rows x columns cells.
    std::vector<std::int32_t> rowPositions;
    std::vector<std::int32_t> columnPositions;
    std::vector<tagFrameCell> grid;
    // Placement on the sheet; rows above and columns left of the frame are negative.
    std::int32_t rowOffset = 0;
    std::int32_t columnOffset = 0;
    std::int32_t rowsAbove = 0;
    std::int32_t rows = 0;
    std::int32_t rowsBelow = 0;
    std::int32_t lastColumn = 0;
    std::int32_t firstColumn = 0;
    std::int32_t laidOutColumns = 0;

    std::int32_t gridRows() const {
        return rowPositions.empty() ? 0 : static_cast<std::int32_t>(rowPositions.size()) - 1;
    }
    std::int32_t gridColumns() const {
        return columnPositions.empty() ? 0 : static_cast<std::int32_t>(columnPositions.size()) - 1;
    }
    tagFrameCell& cell(std::int32_t row, std::int32_t column) {
        return grid[static_cast<std::size_t>(row) * static_cast<std::size_t>(gridColumns()) +
                    static_cast<std::size_t>(column)];
    }
};

// Joins b's rectangle into a when they stand edge to edge (differences below 19 touch).
bool MergeNearbyRects(tagFrameInfo& a, const tagFrameInfo& b);
// True when lo2 <= p <= hi2 and lo1 <= q <= hi1.
bool IsPointInRanges(std::int32_t p, std::int32_t lo1, std::int32_t hi1, std::int32_t q,
                     std::int32_t lo2, std::int32_t hi2);
// A piece's reference point: its vertical centre and a point three tenths into it, in tenths.
std::int64_t verticalReference(const tagDivInfo& piece);
std::int64_t horizontalReference(const tagDivInfo& piece);

class FrameStore final : public FrameCollector, public RegionColours {
public:
    // Errors are stored in engine before ConvertError is thrown.
    explicit FrameStore(CConvertEngine& engine);

    // Empties frames, regions and strips for the next batch; capacities are kept.
    void clear();

    // FrameCollector
    std::int32_t frameCount() const override;
    bool insideColouredRegion(const tagDivRectInfo& box) const override;
    bool placeBox(const tagDivRectInfo& box, std::int32_t page) override;
    void offerWaitingBox(const tagDivRectInfo& box, std::int32_t page) override;
    void addStrips(const tagDivRectInfo& box) override;

    // RegionColours
    std::uint32_t GetRegionColour(std::int32_t x, std::int32_t y) const override;

    std::int32_t FindOrCreateFrame(const tagDivRectInfo& box, std::int32_t page);
    void AddBoxToFrame(std::int32_t frame, const tagDivRectInfo& box);
    void AddBoxToStrips(const tagDivRectInfo& box);
    bool IsColouredRegion(const tagDivRectInfo& box) const;
    void AddColouredRegion(std::int32_t left, std::int32_t right, std::int32_t top,
                           std::int32_t bottom, std::uint32_t colour);
    void AddHorizontalLine(std::int32_t frame, std::int32_t y, std::int32_t x0, std::int32_t x1);
    void AddVerticalLine(std::int32_t frame, std::int32_t x, std::int32_t y0, std::int32_t y1);
    void AddVerticalStrip(std::int32_t x, std::int32_t y0, std::int32_t y1);
    void CountFrameLines();

    void RemoveStripSegments(std::int32_t x, std::int32_t top, std::int32_t bottom);
    void RemoveStripsInRange(const tagFrameInfo& frame);
    void DeleteFrame(std::int32_t index);
    // Thin frames give their boxes back to pending.
    void DissolveThinFrames(std::vector<tagDivInfo*>& pending);
    void DetachFrameDivs(std::int32_t frame, std::vector<tagDivInfo*>& pending);

    // Preparation of the frame road.
    void SwapFrames(std::int32_t i, std::int32_t j);
    void SortFramesByTop(std::int32_t first, std::int32_t last);
    void SortFramesByLeft(std::int32_t first, std::int32_t last);
    // False when no frame set worth laying out remains (the frame count is then 0).
    bool PrepareFrames(const std::vector<tagDivInfo*>& pending, std::int32_t pageCount);
    bool FindFrameForDiv(const tagDivInfo& box, std::int32_t& index) const;
    // Moves the pieces that fall in a frame to its inside list; the others stay pending.
    void SplitDivsByFrame(std::vector<tagDivInfo*>& pending, std::int64_t& inFrame,
                          std::int64_t& loose);
    void AddDeferredDiv(tagDivInfo* box);
    const std::deque<tagDivInfo*>& deferred() const { return m_deferred; }

    tagFrameInfo& GetFrame(std::int32_t index);
    LineList& strips() { return m_strips; }
    void RestoreStrips(const LineList& strips);
    const LineList& strips() const { return m_strips; }
    const std::vector<tagRegionInfo>& regions() const { return m_regions; }

private:
    [[noreturn]] void raise(std::int32_t code);
    void addSegment(LineList& lines, std::int32_t position, std::int32_t start, std::int32_t end);
    void mergeSegment(std::vector<LineSegment>& segments, std::int32_t start, std::int32_t end);
    // Widens segments[index] to end and swallows the followers it reaches.
    void extendSegment(std::vector<LineSegment>& segments, std::size_t index, std::int32_t end);
    void takeLineRecord();
    void releaseLineRecords(std::size_t count);
    void releaseFrameLines(const tagFrameInfo& frame);
    void mergeFrameInto(std::int32_t target, std::int32_t source);
    void consolidateFrames();
    void dropOverDenseFrames(const std::vector<tagDivInfo*>& pending);

    CConvertEngine& m_engine;
    std::vector<tagFrameInfo> m_frames;
    std::vector<tagRegionInfo> m_regions;  // newest first
    std::deque<tagDivInfo*> m_deferred;    // newest first
    std::unordered_set<const tagDivInfo*> m_deferredSet;
    LineList m_strips;
    std::size_t m_lineRecords = 0;  // segments held by frame lines and strips
};

}  // namespace paginor
