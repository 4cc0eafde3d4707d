#include "convert/layout/layout_tree.h"

#include <algorithm>
#include <array>
#include <limits>

#include "convert/convert_engine.h"
#include "convert/convert_errors.h"

namespace paginor {
namespace {

constexpr std::int64_t kBandOverlap = 50;  // frames overlapping this much share a band
constexpr std::int64_t kNextSlotReach = 50;

std::int32_t startAlong(const tagFrameInfo& f, bool alongY) {
    return alongY ? f.top : f.left;
}

std::int32_t endAlong(const tagFrameInfo& f, bool alongY) {
    return alongY ? f.bottom : f.right;
}

}  // namespace

std::int32_t SearchNearFromHint(const std::int32_t* array, std::int64_t value, std::int32_t& hint,
                                std::int32_t count, bool nearest) {
    if (count <= 0) {
        hint = -1;
        return -1;
    }
    std::int32_t h = std::clamp(hint, 0, count - 1);
    for (;;) {
        const std::int64_t here = array[h];
        if (here == value) {
            break;
        }
        if (value < here) {
            if (h == 0) {
                break;
            }
            const std::int64_t before = array[h - 1];
            if (before < value) {
                if (value - before <= here - value) {
                    --h;
                }
                break;
            }
            --h;
            continue;
        }
        if (h == count - 1) {
            break;
        }
        const std::int64_t after = array[h + 1];
        if (value <= after) {
            if (nearest) {
                if (after - value <= value - here) {
                    ++h;
                }
            } else if (after < value + kNextSlotReach) {
                ++h;
                while (h > 0 && array[h] == array[h - 1]) {
                    --h;
                }
            }
            break;
        }
        ++h;
    }
    hint = h;
    return h;
}

LayoutTree::LayoutTree(CConvertEngine& engine, FrameStore& frames)
    : m_engine(engine), m_frames(frames) {}

void LayoutTree::clear() {
    m_elements.clear();
    m_root = kNoElement;
}

std::int32_t LayoutTree::NewLayoutElement() {
    if (m_elements.size() >= kLayoutElementCapacity) {
        m_engine.raise(kErrLayoutPool);
    }
    m_elements.emplace_back();
    return static_cast<std::int32_t>(m_elements.size() - 1);
}

void LayoutTree::BuildLayoutTree(bool& ok) {
    clear();
    const std::int32_t count = m_frames.frameCount();
    if (count == 0) {
        ok = false;
        return;
    }
    m_root = NewLayoutElement();
    std::int32_t left = std::numeric_limits<std::int32_t>::max();
    std::int32_t right = std::numeric_limits<std::int32_t>::min();
    for (std::int32_t i = 0; i < count; ++i) {
        left = std::min(left, m_frames.GetFrame(i).left);
        right = std::max(right, m_frames.GetFrame(i).right);
    }
    element(m_root).start = left;
    element(m_root).end = right;
    ok = cut(0, count - 1, m_root, true, 0, 0);
}

// depth counts the cuts in a row that left the range whole; nesting bounds the recursion.
bool LayoutTree::cut(std::int32_t first, std::int32_t last, std::int32_t parent, bool alongY,
                     std::int32_t depth, std::int32_t nesting) {
    if (depth >= 2 || nesting > kMaxCutNesting) {
        return false;
    }
    if (alongY) {
        m_frames.SortFramesByTop(first, last);
    } else {
        m_frames.SortFramesByLeft(first, last);
    }
    std::int32_t previous = kNoElement;
    for (std::int32_t i = first; i <= last;) {
        const std::int32_t groupStart = startAlong(m_frames.GetFrame(i), alongY);
        std::int32_t groupEnd = endAlong(m_frames.GetFrame(i), alongY);
        std::int32_t next = i + 1;
        while (next <= last &&
               startAlong(m_frames.GetFrame(next), alongY) <= groupEnd - kBandOverlap) {
            groupEnd = std::max(groupEnd, endAlong(m_frames.GetFrame(next), alongY));
            ++next;
        }
        const std::int32_t child = NewLayoutElement();
        element(child).alongY = alongY;
        element(child).start = groupStart;
        element(child).end = groupEnd;
        if (next == i + 1) {
            element(child).leaf = true;
            element(child).frame = i;
        } else {
            const bool whole = i == first && next - 1 == last;
            if (!cut(i, next - 1, child, !alongY, whole ? depth + 1 : 0, nesting + 1)) {
                return false;
            }
        }
        if (previous == kNoElement) {
            element(parent).firstChild = child;
        } else {
            element(previous).next = child;
        }
        previous = child;
        i = next;
    }
    return true;
}

void LayoutTree::DeferGapBoxes(std::vector<tagDivInfo*>& pending) {
    std::size_t kept = 0;
    for (tagDivInfo* piece : pending) {
        const std::int64_t y = verticalReference(*piece);
        bool inBand = false;
        for (std::int32_t band = element(m_root).firstChild; band != kNoElement;
             band = element(band).next) {
            if (element(band).start <= y && y <= element(band).end) {
                inBand = true;
                break;
            }
        }
        if (inBand) {
            pending[kept++] = piece;
        } else {
            m_frames.AddDeferredDiv(piece);
        }
    }
    pending.resize(kept);
}

std::int32_t LayoutTree::FindFrameSide(std::int32_t root, const tagDivInfo& box,
                                       std::int32_t& side) const {
    enum class Mark { Before, Inside, After };
    const std::int64_t y = verticalReference(box);
    const std::int64_t x = horizontalReference(box);
    std::int32_t at = root;
    Mark mark = Mark::Inside;
    while (!element(at).leaf) {
        std::int32_t chosen = kNoElement;
        std::int32_t last = kNoElement;
        for (std::int32_t child = element(at).firstChild; child != kNoElement;
             child = element(child).next) {
            last = child;
            const tagLayoutElementInfo& c = element(child);
            const std::int64_t coordinate = c.alongY ? y : std::int64_t{box.leftEdge};
            if (c.start > coordinate) {
                chosen = child;
                mark = Mark::Before;
                break;
            }
            if (c.end >= coordinate) {
                chosen = child;
                mark = Mark::Inside;
                break;
            }
        }
        if (chosen == kNoElement) {
            chosen = last;
            mark = Mark::After;
        }
        at = chosen;
    }
    const tagLayoutElementInfo& leaf = element(at);
    const tagFrameInfo& frame = m_frames.GetFrame(leaf.frame);
    if (mark == Mark::Before) {
        side = leaf.alongY ? kSideAbove : kSideLeft;
    } else if (mark == Mark::After) {
        side = leaf.alongY ? kSideBelow : kSideRight;
    } else if (y < frame.top) {
        side = kSideAbove;
    } else if (y > frame.bottom) {
        side = kSideBelow;
    } else if (x < frame.left) {
        side = kSideLeft;
    } else if (x > frame.right) {
        side = kSideRight;
    } else {
        // Inside on both axes: the frame holds it rather than losing its text.
        side = kSideInside;
    }
    return leaf.frame;
}

// Sides take their pieces at the front, so each side list ends in reverse arrival order.
void LayoutTree::AttachLooseDivs(std::vector<tagDivInfo*>& pending) {
    const std::int32_t count = m_frames.frameCount();
    std::vector<std::array<std::size_t, 4>> before(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        const tagFrameInfo& f = m_frames.GetFrame(i);
        for (std::size_t s = 0; s < 4; ++s) {
            before[static_cast<std::size_t>(i)][s] = f.sides[s].size();
        }
    }
    for (tagDivInfo* piece : pending) {
        std::int32_t side = kSideInside;
        const std::int32_t index = FindFrameSide(m_root, *piece, side);
        tagFrameInfo& f = m_frames.GetFrame(index);
        if (side == kSideInside) {
            f.inside.push_back(piece);
        } else {
            f.sides[static_cast<std::size_t>(side - 1)].push_back(piece);
        }
    }
    pending.clear();
    for (std::int32_t i = 0; i < count; ++i) {
        tagFrameInfo& f = m_frames.GetFrame(i);
        for (std::size_t s = 0; s < 4; ++s) {
            std::vector<tagDivInfo*>& list = f.sides[s];
            const auto old = static_cast<std::ptrdiff_t>(before[static_cast<std::size_t>(i)][s]);
            std::reverse(list.begin() + old, list.end());
            std::rotate(list.begin(), list.begin() + old, list.end());
        }
    }
}

}  // namespace paginor
