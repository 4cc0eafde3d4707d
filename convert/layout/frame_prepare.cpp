// Preparation of the frame road: frames sorted, joined and filtered, and the pieces of a batch
// split between the frames that hold them and the pieces left around them.

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

#include "convert/layout/frame_store.h"

namespace paginor {
namespace {

constexpr std::int64_t kRectJoin = 19;     // edges closer than this touch
constexpr double kMaxPiecesPerCell = 5.0;  // a denser frame is no table

bool touches(std::int32_t a, std::int32_t b) {
    return std::llabs(std::int64_t{a} - b) < kRectJoin;
}

// Frames without lines of a kind, or with a single line, still have one cell on that axis.
std::int64_t cellsAlong(std::int32_t count) {
    return count == kNoLines || count < 1 ? 1 : count;
}

bool hasCells(std::int32_t count) {
    return count != kNoLines && count > 1;
}

}  // namespace

bool MergeNearbyRects(tagFrameInfo& a, const tagFrameInfo& b) {
    if (touches(a.top, b.top) && touches(a.bottom, b.bottom)) {
        if (touches(a.left, b.right)) {
            a.left = std::min(a.left, b.left);
            return true;
        }
        if (touches(a.right, b.left)) {
            a.right = std::max(a.right, b.right);
            return true;
        }
        return false;
    }
    if (touches(a.left, b.left) && touches(a.right, b.right)) {
        if (touches(a.top, b.bottom)) {
            a.top = std::min(a.top, b.top);
            return true;
        }
        if (touches(a.bottom, b.top)) {
            a.bottom = std::max(a.bottom, b.bottom);
            return true;
        }
    }
    return false;
}

bool IsPointInRanges(std::int32_t p, std::int32_t lo1, std::int32_t hi1, std::int32_t q,
                     std::int32_t lo2, std::int32_t hi2) {
    return lo2 <= p && p <= hi2 && lo1 <= q && q <= hi1;
}

std::int64_t verticalReference(const tagDivInfo& piece) {
    return piece.centre;
}

std::int64_t horizontalReference(const tagDivInfo& piece) {
    return std::int64_t{piece.leftEdge} + 3 * std::int64_t{piece.width};
}

void FrameStore::SwapFrames(std::int32_t i, std::int32_t j) {
    std::swap(m_frames[static_cast<std::size_t>(i)], m_frames[static_cast<std::size_t>(j)]);
}

void FrameStore::SortFramesByTop(std::int32_t first, std::int32_t last) {
    for (std::int32_t i = first; i < last; ++i) {
        std::int32_t best = i;
        for (std::int32_t j = i + 1; j <= last; ++j) {
            const tagFrameInfo& a = m_frames[static_cast<std::size_t>(j)];
            const tagFrameInfo& b = m_frames[static_cast<std::size_t>(best)];
            if (a.top < b.top || (a.top == b.top && a.left < b.left)) {
                best = j;
            }
        }
        if (best != i) {
            SwapFrames(i, best);
        }
    }
}

void FrameStore::SortFramesByLeft(std::int32_t first, std::int32_t last) {
    for (std::int32_t i = first; i < last; ++i) {
        std::int32_t best = i;
        for (std::int32_t j = i + 1; j <= last; ++j) {
            const tagFrameInfo& a = m_frames[static_cast<std::size_t>(j)];
            const tagFrameInfo& b = m_frames[static_cast<std::size_t>(best)];
            if (a.left < b.left || (a.left == b.left && a.top < b.top)) {
                best = j;
            }
        }
        if (best != i) {
            SwapFrames(i, best);
        }
    }
}

// Leaves source's lines in target; source itself is taken out by the caller.
void FrameStore::mergeFrameInto(std::int32_t target, std::int32_t source) {
    const tagFrameInfo& from = m_frames[static_cast<std::size_t>(source)];
    for (const SegmentLine& line : from.horizontal) {
        for (const LineSegment& s : line.segments) {
            AddHorizontalLine(target, line.position, s.start, s.end);
        }
    }
    for (const SegmentLine& line : from.vertical) {
        for (const LineSegment& s : line.segments) {
            AddVerticalLine(target, line.position, s.start, s.end);
        }
    }
    m_frames[static_cast<std::size_t>(target)].boxCount += from.boxCount;
    releaseFrameLines(from);
}

// Joining is repeated until no pair of frames on one page stands edge to edge; a grown frame
// is tested again against every other. Frames of different pages never join, so each page's
// frames are joined among themselves in their order, and the joined ones are taken out of the
// list once at the end: a batch holds thousands of frames, and taking each out at once moved all
// those behind it.
void FrameStore::consolidateFrames() {
    SortFramesByTop(0, frameCount() - 1);
    std::map<std::int32_t, std::vector<std::int32_t>> pages;
    for (std::int32_t i = 0; i < frameCount(); ++i) {
        pages[m_frames[static_cast<std::size_t>(i)].page].push_back(i);
    }
    std::vector<bool> joinedAway(m_frames.size(), false);
    for (auto& page : pages) {
        std::vector<std::int32_t>& live = page.second;
        const auto count = [&live] { return static_cast<std::ptrdiff_t>(live.size()); };
        bool joined = true;
        while (joined) {
            joined = false;
            for (std::ptrdiff_t i = 0; i < count(); ++i) {
                for (std::ptrdiff_t j = 0; j < count(); ++j) {
                    if (j == i || !MergeNearbyRects(m_frames[static_cast<std::size_t>(live[i])],
                                                    m_frames[static_cast<std::size_t>(live[j])])) {
                        continue;
                    }
                    mergeFrameInto(live[i], live[j]);
                    joinedAway[static_cast<std::size_t>(live[j])] = true;
                    live.erase(live.begin() + j);
                    joined = true;
                    if (j < i) {
                        --i;
                    }
                    j = -1;
                }
            }
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        if (!joinedAway[i]) {
            if (kept != i) {
                m_frames[kept] = std::move(m_frames[i]);
            }
            ++kept;
        }
    }
    m_frames.resize(kept);
}

void FrameStore::dropOverDenseFrames(const std::vector<tagDivInfo*>& pending) {
    for (tagFrameInfo& f : m_frames) {
        f.boxCount = 0;
    }
    for (const tagDivInfo* piece : pending) {
        std::int32_t index = 0;
        if (piece->joinedTo == nullptr && FindFrameForDiv(*piece, index)) {
            ++m_frames[static_cast<std::size_t>(index)].boxCount;
        }
    }
    for (std::int32_t i = frameCount() - 1; i >= 0; --i) {
        const tagFrameInfo& f = m_frames[static_cast<std::size_t>(i)];
        const double cells =
            static_cast<double>(cellsAlong(f.columnCount) * cellsAlong(f.rowCount));
        if (f.boxCount / cells > kMaxPiecesPerCell) {
            RemoveStripsInRange(f);
            DeleteFrame(i);
        }
    }
}

bool FrameStore::PrepareFrames(const std::vector<tagDivInfo*>& pending, std::int32_t pageCount) {
    CountFrameLines();
    if (m_frames.empty()) {
        return false;
    }
    consolidateFrames();
    CountFrameLines();
    if (m_frames.empty()) {
        return false;
    }
    dropOverDenseFrames(pending);
    if (frameCount() > pageCount) {
        return true;
    }
    for (const tagFrameInfo& f : m_frames) {
        if (hasCells(f.rowCount) || hasCells(f.columnCount)) {
            return true;
        }
    }
    // Only single-cell frames, at most one a page: a page outline, unless two share a page.
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        for (std::size_t j = i + 1; j < m_frames.size(); ++j) {
            if (m_frames[i].page == m_frames[j].page) {
                return true;
            }
        }
    }
    while (!m_frames.empty()) {
        DeleteFrame(frameCount() - 1);
    }
    return false;
}

bool FrameStore::FindFrameForDiv(const tagDivInfo& box, std::int32_t& index) const {
    const std::int64_t y = verticalReference(box);
    const std::int64_t x = horizontalReference(box);
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        const tagFrameInfo& f = m_frames[i];
        if (f.top <= y && y <= f.bottom && f.left <= x && x <= f.right) {
            index = static_cast<std::int32_t>(i);
            return true;
        }
    }
    return false;
}

void FrameStore::SplitDivsByFrame(std::vector<tagDivInfo*>& pending, std::int64_t& inFrame,
                                  std::int64_t& loose) {
    std::size_t kept = 0;
    for (tagDivInfo* piece : pending) {
        std::int32_t index = 0;
        if (FindFrameForDiv(*piece, index)) {
            m_frames[static_cast<std::size_t>(index)].inside.push_back(piece);
            ++inFrame;
        } else {
            pending[kept++] = piece;
            ++loose;
        }
    }
    pending.resize(kept);
}

void FrameStore::AddDeferredDiv(tagDivInfo* box) {
    if (!m_deferredSet.insert(box).second) {
        return;
    }
    box->previous = nullptr;
    box->next = nullptr;
    m_deferred.push_front(box);
}

}  // namespace paginor
