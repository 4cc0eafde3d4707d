#include "convert/layout/frame_store.h"

#include <algorithm>
#include <utility>

#include "convert/convert_engine.h"
#include "convert/convert_errors.h"

namespace paginor {
namespace {

constexpr std::int64_t kLineJoin = 35;  // positions this close are one line; edges this close meet
constexpr std::int64_t kSegmentJoin = 30;  // segments with a smaller gap become one
constexpr std::int64_t kFrameMargin = 5;   // a box centred this far outside still belongs
constexpr std::int32_t kMinFrameSize = 51;
constexpr std::int32_t kRuleThickness = 50;  // thinner boxes are rules, not outlines

// Differences in 64 bits: positions come from the report and may lie far apart.
bool isNear(std::int32_t a, std::int32_t b) {
    const std::int64_t d = std::int64_t{a} - b;
    return d < kLineJoin && -d < kLineJoin;
}

bool hasBackground(const tagDivRectInfo& box) {
    return box.background <= kNoBackground;
}

}  // namespace

FrameStore::FrameStore(CConvertEngine& engine) : m_engine(engine) {}

void FrameStore::raise(std::int32_t code) {
    m_engine.raise(code);
}

void FrameStore::clear() {
    m_frames.clear();
    m_regions.clear();
    m_strips.clear();
    m_deferred.clear();
    m_deferredSet.clear();
    m_lineRecords = 0;
}

std::int32_t FrameStore::frameCount() const {
    return static_cast<std::int32_t>(m_frames.size());
}

bool FrameStore::insideColouredRegion(const tagDivRectInfo& box) const {
    return IsColouredRegion(box);
}

bool FrameStore::placeBox(const tagDivRectInfo& box, std::int32_t page) {
    const std::int32_t frame = FindOrCreateFrame(box, page);
    if (frame < 0) {
        return false;
    }
    AddBoxToFrame(frame, box);
    return true;
}

// Tops run on from page to page, so the rectangle alone finds the frame.
void FrameStore::offerWaitingBox(const tagDivRectInfo& box, std::int32_t) {
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        const tagFrameInfo& f = m_frames[i];
        if (f.left <= box.left && box.right <= f.right && f.top <= box.top &&
            box.bottom <= f.bottom) {
            AddBoxToFrame(static_cast<std::int32_t>(i), box);
            return;
        }
    }
}

void FrameStore::addStrips(const tagDivRectInfo& box) {
    AddBoxToStrips(box);
}

std::uint32_t FrameStore::GetRegionColour(std::int32_t x, std::int32_t y) const {
    for (const tagRegionInfo& r : m_regions) {
        if (r.left < x && x < r.right && r.top < y && y < r.bottom) {
            return r.colour;
        }
    }
    return kNoBackground;
}

std::int32_t FrameStore::FindOrCreateFrame(const tagDivRectInfo& box, std::int32_t page) {
    const std::int64_t cx = std::int64_t{box.left} + box.width / 2;
    const std::int64_t cy = std::int64_t{box.top} + box.height / 2;
    const std::int64_t topLow = std::int64_t{box.top} - kLineJoin;
    const std::int64_t topHigh = std::int64_t{box.top} + kLineJoin;
    tagFrameInfo* const frames = m_frames.data();
    for (std::size_t i = 0, n = m_frames.size(); i < n; ++i) {
        tagFrameInfo& f = frames[i];
        // Either test needs the centre within the frame's rows or the tops near.
        const bool centreRow = f.top - kFrameMargin < cy && cy < f.bottom + kFrameMargin;
        if (!centreRow && !(topLow < f.top && f.top < topHigh)) {
            continue;
        }
        if (centreRow && f.left - kFrameMargin < cx && cx < f.right + kFrameMargin) {
            return static_cast<std::int32_t>(i);
        }
        if (!isNear(f.top, box.top) || !isNear(f.bottom, box.bottom)) {
            continue;
        }
        // Edge to edge: the frame grows over the box, never shrinks to it.
        if (isNear(f.left, box.right)) {
            f.left = std::min(f.left, box.left);
            return static_cast<std::int32_t>(i);
        }
        if (isNear(f.right, box.left)) {
            f.right = std::max(f.right, box.right);
            return static_cast<std::int32_t>(i);
        }
    }
    if (box.width < kMinFrameSize || box.height < kMinFrameSize) {
        return -1;
    }
    if (m_frames.size() >= static_cast<std::size_t>(kFrameCapacity)) {
        raise(kErrCapability);
    }
    tagFrameInfo& f = m_frames.emplace_back();
    f.top = box.top;
    f.left = box.left;
    f.bottom = box.bottom;
    f.right = box.right;
    f.page = page;
    return static_cast<std::int32_t>(m_frames.size() - 1);
}

void FrameStore::AddBoxToFrame(std::int32_t frame, const tagDivRectInfo& box) {
    if (box.height < kRuleThickness) {
        AddHorizontalLine(frame, box.top, box.left, box.right);
        return;
    }
    if (box.width < kRuleThickness) {
        AddVerticalLine(frame, box.left, box.top, box.bottom);
        return;
    }
    AddHorizontalLine(frame, box.top, box.left, box.right);
    AddHorizontalLine(frame, box.bottom, box.left, box.right);
    AddVerticalLine(frame, box.left, box.top, box.bottom);
    AddVerticalLine(frame, box.right, box.top, box.bottom);
    if (hasBackground(box)) {
        AddColouredRegion(box.left, box.right, box.top, box.bottom, box.background);
    }
}

void FrameStore::AddBoxToStrips(const tagDivRectInfo& box) {
    if (box.height < kRuleThickness) {
        return;
    }
    AddVerticalStrip(box.left, box.top, box.bottom);
    if (box.width >= kRuleThickness) {
        AddVerticalStrip(box.right, box.top, box.bottom);
    }
}

bool FrameStore::IsColouredRegion(const tagDivRectInfo& box) const {
    for (const tagRegionInfo& r : m_regions) {
        if (r.colour == box.background && box.left >= r.left && box.right <= r.right &&
            box.top >= r.top && box.bottom <= r.bottom) {
            return true;
        }
    }
    return false;
}

void FrameStore::AddColouredRegion(std::int32_t left, std::int32_t right, std::int32_t top,
                                   std::int32_t bottom, std::uint32_t colour) {
    const std::int64_t topLow = std::int64_t{top} - kLineJoin;
    const std::int64_t topHigh = std::int64_t{top} + kLineJoin;
    const std::int64_t leftLow = std::int64_t{left} - kLineJoin;
    const std::int64_t leftHigh = std::int64_t{left} + kLineJoin;
    tagRegionInfo* const regions = m_regions.data();
    for (std::size_t i = 0, n = m_regions.size(); i < n; ++i) {
        tagRegionInfo& r = regions[i];
        // Every change needs the tops or the lefts near.
        if (!(topLow < r.top && r.top < topHigh) && !(leftLow < r.left && r.left < leftHigh)) {
            continue;
        }
        if (r.colour != colour) {
            if (isNear(r.left, left) && isNear(r.right, right) && isNear(r.top, top) &&
                isNear(r.bottom, bottom)) {
                r.colour = colour;
                return;
            }
            continue;
        }
        if (isNear(r.top, top) && isNear(r.bottom, bottom)) {
            if (isNear(r.right, left)) {
                r.right = std::max(r.right, right);
                return;
            }
            if (isNear(r.left, right)) {
                r.left = std::min(r.left, left);
                return;
            }
        }
        if (isNear(r.left, left) && isNear(r.right, right)) {
            if (isNear(r.bottom, top)) {
                r.bottom = std::max(r.bottom, bottom);
                return;
            }
            if (isNear(r.top, bottom)) {
                r.top = std::min(r.top, top);
                return;
            }
        }
    }
    if (m_regions.size() >= kRegionRecordCapacity) {
        raise(kErrCapability);
    }
    m_regions.insert(m_regions.begin(), tagRegionInfo{left, right, top, bottom, colour});
}

void FrameStore::AddHorizontalLine(std::int32_t frame, std::int32_t y, std::int32_t x0,
                                   std::int32_t x1) {
    addSegment(m_frames[static_cast<std::size_t>(frame)].horizontal, y, x0, x1);
}

void FrameStore::AddVerticalLine(std::int32_t frame, std::int32_t x, std::int32_t y0,
                                 std::int32_t y1) {
    addSegment(m_frames[static_cast<std::size_t>(frame)].vertical, x, y0, y1);
}

void FrameStore::AddVerticalStrip(std::int32_t x, std::int32_t y0, std::int32_t y1) {
    addSegment(m_strips, x, y0, y1);
}

void FrameStore::addSegment(LineList& lines, std::int32_t position, std::int32_t start,
                            std::int32_t end) {
    if (start > end) {
        std::swap(start, end);
    }
    // Lines lie at least kLineJoin apart: only the first one less than that before position
    // can take the segment.
    const auto line = std::partition_point(lines.begin(), lines.end(), [&](const SegmentLine& l) {
        return std::int64_t{position} - l.position >= kLineJoin;
    });
    if (line != lines.end() && std::int64_t{line->position} - position < kLineJoin) {
        mergeSegment(line->segments, start, end);
        return;
    }
    takeLineRecord();
    lines.insert(line, SegmentLine{position, {LineSegment{start, end}}});
}

// Segments of a line keep gaps of at least kSegmentJoin, so only the last one starting at or
// before start and the one after it can take the new segment.
void FrameStore::mergeSegment(std::vector<LineSegment>& segments, std::int32_t start,
                              std::int32_t end) {
    const auto after = std::partition_point(segments.begin(), segments.end(),
                                            [&](const LineSegment& s) { return s.start <= start; });
    const auto next = static_cast<std::size_t>(after - segments.begin());
    if (next > 0) {
        const LineSegment& before = segments[next - 1];
        if (before.end >= end) {
            return;
        }
        if (std::int64_t{before.end} + kSegmentJoin > start) {
            extendSegment(segments, next - 1, end);
            return;
        }
    }
    if (next < segments.size() && std::int64_t{segments[next].start} - kSegmentJoin < end) {
        segments[next].start = start;
        // A segment that reaches past the one it joins keeps its whole extent.
        if (segments[next].end < end) {
            extendSegment(segments, next, end);
        }
        return;
    }
    takeLineRecord();
    segments.insert(after, LineSegment{start, end});
}

void FrameStore::extendSegment(std::vector<LineSegment>& segments, std::size_t index,
                               std::int32_t end) {
    LineSegment& grown = segments[index];
    grown.end = end;
    std::size_t last = index + 1;
    while (last < segments.size() && std::int64_t{segments[last].start} - kSegmentJoin <= end) {
        grown.end = std::max(grown.end, segments[last].end);
        ++last;
    }
    const auto first = segments.begin() + static_cast<std::ptrdiff_t>(index + 1);
    segments.erase(first, segments.begin() + static_cast<std::ptrdiff_t>(last));
    releaseLineRecords(last - index - 1);
}

void FrameStore::takeLineRecord() {
    if (m_lineRecords >= kLineRecordCapacity) {
        raise(kErrCapability);
    }
    ++m_lineRecords;
}

void FrameStore::releaseLineRecords(std::size_t count) {
    m_lineRecords -= std::min(count, m_lineRecords);
}

void FrameStore::releaseFrameLines(const tagFrameInfo& frame) {
    for (const LineList* lines : {&frame.horizontal, &frame.vertical}) {
        for (const SegmentLine& line : *lines) {
            releaseLineRecords(line.segments.size());
        }
    }
}

void FrameStore::CountFrameLines() {
    const auto count = [](const LineList& lines) {
        return lines.empty() ? kNoLines : static_cast<std::int32_t>(lines.size()) - 1;
    };
    for (tagFrameInfo& f : m_frames) {
        f.rowCount = count(f.horizontal);
        f.columnCount = count(f.vertical);
    }
}

void FrameStore::RemoveStripSegments(std::int32_t x, std::int32_t top, std::int32_t bottom) {
    auto strip = std::partition_point(m_strips.begin(), m_strips.end(), [&](const SegmentLine& l) {
        return std::int64_t{x} - l.position >= kLineJoin;
    });
    while (strip != m_strips.end() && std::int64_t{strip->position} - x < kLineJoin) {
        std::vector<LineSegment>& segments = strip->segments;
        const auto kept =
            std::remove_if(segments.begin(), segments.end(),
                           [&](const LineSegment& s) { return s.start >= top && s.end <= bottom; });
        releaseLineRecords(static_cast<std::size_t>(segments.end() - kept));
        segments.erase(kept, segments.end());
        strip = segments.empty() ? m_strips.erase(strip) : strip + 1;
    }
}

void FrameStore::RemoveStripsInRange(const tagFrameInfo& frame) {
    RemoveStripSegments(frame.left, frame.top, frame.bottom);
    RemoveStripSegments(frame.right, frame.top, frame.bottom);
}

void FrameStore::DeleteFrame(std::int32_t index) {
    const auto at = m_frames.begin() + index;
    releaseFrameLines(*at);
    m_frames.erase(at);
}

void FrameStore::DetachFrameDivs(std::int32_t frame, std::vector<tagDivInfo*>& pending) {
    tagFrameInfo& f = m_frames[static_cast<std::size_t>(frame)];
    pending.insert(pending.end(), f.inside.begin(), f.inside.end());
    f.inside.clear();
    for (std::vector<tagDivInfo*>& side : f.sides) {
        pending.insert(pending.end(), side.begin(), side.end());
        side.clear();
    }
}

// One compacting pass instead of a delete per frame: the kept frames keep their order, and
// dissolving one frame never changes the test of another.
void FrameStore::DissolveThinFrames(std::vector<tagDivInfo*>& pending) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        const tagFrameInfo& f = m_frames[i];
        const auto unjoined =
            std::count_if(f.inside.begin(), f.inside.end(),
                          [](const tagDivInfo* d) { return d->joinedTo == nullptr; });
        if ((f.rowCount == 1 || f.columnCount == 1) && unjoined < 4) {
            RemoveStripsInRange(f);
            DetachFrameDivs(static_cast<std::int32_t>(i), pending);
            releaseFrameLines(f);
            continue;
        }
        if (kept != i) {
            m_frames[kept] = std::move(m_frames[i]);
        }
        ++kept;
    }
    m_frames.erase(m_frames.begin() + static_cast<std::ptrdiff_t>(kept), m_frames.end());
}

void FrameStore::RestoreStrips(const LineList& strips) {
    const auto segments = [](const LineList& lines) {
        std::size_t count = 0;
        for (const SegmentLine& line : lines) {
            count += line.segments.size();
        }
        return count;
    };
    m_lineRecords = m_lineRecords - std::min(m_lineRecords, segments(m_strips)) + segments(strips);
    m_strips = strips;
}

tagFrameInfo& FrameStore::GetFrame(std::int32_t index) {
    return m_frames[static_cast<std::size_t>(index)];
}

}  // namespace paginor
