#pragma once

// The layout tree of the frame road: the frames of a batch cut recursively into horizontal
// bands and vertical slices, and the pieces around the frames given the side they stand on.
// Positions are in tenths of a point.

#include <cstdint>
#include <vector>

#include "convert/layout/frame_store.h"

namespace paginor {

inline constexpr std::size_t kLayoutElementCapacity = 32 * 1024;
// Cuts nested deeper than this give up, and the batch takes the grid road.
inline constexpr std::int32_t kMaxCutNesting = 256;

inline constexpr std::int32_t kNoElement = -1;

struct tagLayoutElementInfo {
    std::int32_t next = kNoElement;
    std::int32_t firstChild = kNoElement;
    std::int32_t frame = -1;  // leaves
    bool alongY = false;      // a horizontal band; else a vertical slice
    bool leaf = false;
    std::int32_t columnOffset = 0;
    std::int32_t rowOffset = 0;
    std::int32_t width = 0;   // columns
    std::int32_t height = 0;  // rows
    std::int32_t start = 0;
    std::int32_t end = 0;
};

enum FrameSide : std::int32_t {
    kSideInside = 0,
    kSideAbove = 1,
    kSideBelow,
    kSideLeft,
    kSideRight
};

// The nearest slot of an ascending array to value, searched from hint; -1 when count is 0.
// With nearest clear, the next slot is taken only when it lies less than 50 beyond value.
std::int32_t SearchNearFromHint(const std::int32_t* array, std::int64_t value, std::int32_t& hint,
                                std::int32_t count, bool nearest);

class LayoutTree {
public:
    // Errors are stored in engine before ConvertError is thrown.
    LayoutTree(CConvertEngine& engine, FrameStore& frames);

    void clear();
    // The XY-cut of every frame below the root, bands first; false when a range of frames can
    // be split in neither direction.
    void BuildLayoutTree(bool& ok);
    // Pieces whose vertical reference lies outside every top-level band are deferred.
    void DeferGapBoxes(std::vector<tagDivInfo*>& pending);
    // The frame a loose piece belongs to and its side; a piece inside the frame on both axes
    // gets kSideInside.
    std::int32_t FindFrameSide(std::int32_t root, const tagDivInfo& box, std::int32_t& side) const;
    // Every pending piece joins the side list of its frame; pending ends empty.
    void AttachLooseDivs(std::vector<tagDivInfo*>& pending);

    std::int32_t root() const { return m_root; }
    const tagLayoutElementInfo& element(std::int32_t index) const {
        return m_elements[static_cast<std::size_t>(index)];
    }
    tagLayoutElementInfo& element(std::int32_t index) {
        return m_elements[static_cast<std::size_t>(index)];
    }

private:
    std::int32_t NewLayoutElement();
    bool cut(std::int32_t first, std::int32_t last, std::int32_t parent, bool alongY,
             std::int32_t depth, std::int32_t nesting);

    CConvertEngine& m_engine;
    FrameStore& m_frames;
    std::vector<tagLayoutElementInfo> m_elements;
    std::int32_t m_root = kNoElement;
};

}  // namespace paginor
