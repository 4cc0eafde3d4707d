#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/convert_errors.h"
#include "convert/layout/frame_store.h"
#include "convert/layout/layout_tree.h"

namespace paginor {
namespace {

tagDivRectInfo box(std::int32_t top, std::int32_t left, std::int32_t bottom, std::int32_t right) {
    return tagDivRectInfo{top, left, bottom, right, right - left, bottom - top, kNoBoxBackground};
}

tagFrameInfo rect(std::int32_t top, std::int32_t left, std::int32_t bottom, std::int32_t right) {
    tagFrameInfo f;
    f.top = top;
    f.left = left;
    f.bottom = bottom;
    f.right = right;
    return f;
}

// A piece whose reference point is (x, y) in tenths: width 0, so the point is its left edge.
tagDivInfo pieceAt(std::int32_t x, std::int32_t y) {
    tagDivInfo p;
    p.leftEdge = x;
    p.left = x / 10;
    p.centre = y;
    return p;
}

// An outlined frame with rows - 1 inner rules across and columns - 1 rules down.
void addTable(FrameStore& store, std::int32_t top, std::int32_t left, std::int32_t bottom,
              std::int32_t right, std::int32_t rows, std::int32_t columns, std::int32_t page = 0) {
    ASSERT_TRUE(store.placeBox(box(top, left, bottom, right), page));
    store.addStrips(box(top, left, bottom, right));
    for (std::int32_t r = 1; r < rows; ++r) {
        const std::int32_t y = top + (bottom - top) * r / rows;
        store.placeBox(box(y, left, y + 10, right), page);
    }
    for (std::int32_t c = 1; c < columns; ++c) {
        const std::int32_t x = left + (right - left) * c / columns;
        store.placeBox(box(top, x, bottom, x + 10), page);
    }
}

std::string frames(FrameStore& store) {
    std::string out;
    for (std::int32_t i = 0; i < store.frameCount(); ++i) {
        const tagFrameInfo& f = store.GetFrame(i);
        out += (out.empty() ? "" : " ") + std::to_string(f.top) + "," + std::to_string(f.left) +
               "-" + std::to_string(f.bottom) + "," + std::to_string(f.right);
    }
    return out;
}

// The tree as nested groups, frames named by their tops in thousands: "y[1 1] 4" is a band cut
// into two slices above a band of one frame.
std::string tree(const LayoutTree& layout, FrameStore& store, std::int32_t at) {
    const tagLayoutElementInfo& e = layout.element(at);
    if (e.leaf) {
        return std::to_string(store.GetFrame(e.frame).top / 1000);
    }
    std::string out;
    for (std::int32_t c = e.firstChild; c != kNoElement; c = layout.element(c).next) {
        const tagLayoutElementInfo& child = layout.element(c);
        out += out.empty() ? "" : " ";
        out += child.leaf
                   ? tree(layout, store, c)
                   : std::string(child.alongY ? "y" : "x") + "[" + tree(layout, store, c) + "]";
    }
    return out;
}

TEST(FramePrepare, NearbyRectanglesJoinWithinEighteen) {
    struct Case {
        const char* name;
        tagFrameInfo a, b;
        bool joined;
        const char* result;  // top,left-bottom,right of a
    } cases[] = {
        {"right neighbour 18 away", rect(0, 0, 100, 100), rect(18, 118, 118, 300), true,
         "0,0-100,300"},
        {"right neighbour 19 away", rect(0, 0, 100, 100), rect(0, 119, 100, 300), false,
         "0,0-100,100"},
        {"left neighbour", rect(0, 200, 100, 300), rect(0, 0, 100, 190), true, "0,0-100,300"},
        {"below", rect(0, 0, 100, 100), rect(110, 5, 400, 95), true, "0,0-400,100"},
        {"above", rect(500, 0, 900, 100), rect(0, 0, 490, 100), true, "0,0-900,100"},
        {"apart", rect(0, 0, 100, 100), rect(500, 500, 600, 600), false, "0,0-100,100"},
    };
    for (Case& c : cases) {
        EXPECT_EQ(MergeNearbyRects(c.a, c.b), c.joined) << c.name;
        const std::string got = std::to_string(c.a.top) + "," + std::to_string(c.a.left) + "-" +
                                std::to_string(c.a.bottom) + "," + std::to_string(c.a.right);
        EXPECT_EQ(got, c.result) << c.name;
    }
    EXPECT_TRUE(IsPointInRanges(5, 0, 10, 7, 0, 10));
    EXPECT_FALSE(IsPointInRanges(5, 0, 10, 11, 0, 10));
}

TEST(FramePrepare, OneSingleCellFramePerPageIsNoTable) {
    CConvertEngine engine;
    FrameStore store(engine);
    addTable(store, 0, 0, 5000, 5000, 1, 1, 0);
    addTable(store, 10000, 0, 15000, 5000, 1, 1, 1);
    EXPECT_FALSE(store.PrepareFrames({}, 2));
    EXPECT_EQ(store.frameCount(), 0);

    FrameStore twoOnAPage(engine);
    addTable(twoOnAPage, 0, 0, 5000, 5000, 1, 1, 0);
    addTable(twoOnAPage, 8000, 0, 9000, 5000, 1, 1, 0);
    EXPECT_TRUE(twoOnAPage.PrepareFrames({}, 2));
    EXPECT_EQ(twoOnAPage.frameCount(), 2);
}

TEST(FramePrepare, FramesAreSortedAndJoined) {
    CConvertEngine engine;
    FrameStore store(engine);
    addTable(store, 5000, 0, 6000, 3000, 2, 2);
    addTable(store, 0, 0, 1000, 3000, 2, 2);
    addTable(store, 1010, 0, 2000, 3000, 2, 2);     // 10 below the first table: joined to it
    addTable(store, 2010, 0, 3000, 3000, 2, 2, 1);  // touching, but on the next page
    ASSERT_EQ(store.frameCount(), 4);
    EXPECT_TRUE(store.PrepareFrames({}, 2));
    EXPECT_EQ(frames(store), "0,0-2000,3000 2010,0-3000,3000 5000,0-6000,3000");
    EXPECT_EQ(store.GetFrame(0).rowCount, 4);  // 0, 500, 1000/1010 and 1505, 2000
    EXPECT_EQ(store.GetFrame(0).columnCount, 2);
}

// A box of its own per row, as a report colouring each row draws: the rows of a page join into
// one frame whatever the order they came in, and pages never join each other.
TEST(FramePrepare, BoxesOfEveryRowJoinIntoOneFramePerPage) {
    CConvertEngine engine;
    FrameStore store(engine);
    constexpr std::int32_t kRows = 40;
    for (std::int32_t r = kRows - 1; r >= 0; --r) {
        for (std::int32_t page : {2, 0, 1}) {
            const std::int32_t top = page * 10000 + r * 100;
            ASSERT_TRUE(store.placeBox(box(top, 0, top + 100, 3000), page));
        }
    }
    ASSERT_EQ(store.frameCount(), 3 * kRows);
    EXPECT_TRUE(store.PrepareFrames({}, 3));
    EXPECT_EQ(frames(store), "0,0-4000,3000 10000,0-14000,3000 20000,0-24000,3000");
    for (std::int32_t f = 0; f < 3; ++f) {
        EXPECT_EQ(store.GetFrame(f).page, f);
        EXPECT_EQ(store.GetFrame(f).rowCount, kRows);
        EXPECT_EQ(store.GetFrame(f).columnCount, 1);
    }
}

TEST(FramePrepare, OverDenseFramesAreDroppedWithTheirStrips) {
    CConvertEngine engine;
    FrameStore store(engine);
    addTable(store, 0, 0, 1000, 2000, 1, 2);     // two cells
    addTable(store, 2000, 0, 3000, 2000, 1, 2);  // two cells
    std::deque<tagDivInfo> pieces;
    std::vector<tagDivInfo*> pending;
    // 11 pieces in the first frame (5.5 a cell), 10 in the second (5.0 a cell).
    for (int i = 0; i < 11; ++i) {
        pending.push_back(&pieces.emplace_back(pieceAt(100 + i * 10, 500)));
    }
    for (int i = 0; i < 10; ++i) {
        pending.push_back(&pieces.emplace_back(pieceAt(100 + i * 10, 2500)));
    }
    // A wrapped line is not counted.
    tagDivInfo& wrapped = pieces.emplace_back(pieceAt(100, 2600));
    wrapped.joinedTo = &pieces[11];
    pending.push_back(&wrapped);

    EXPECT_TRUE(store.PrepareFrames(pending, 1));
    EXPECT_EQ(frames(store), "2000,0-3000,2000");
    for (const SegmentLine& strip : store.strips()) {
        for (const LineSegment& s : strip.segments) {
            EXPECT_GE(s.start, 2000) << "strip at " << strip.position;
        }
    }
}

TEST(FramePrepare, PiecesSplitBetweenFramesAndLoose) {
    CConvertEngine engine;
    FrameStore store(engine);
    addTable(store, 0, 0, 1000, 2000, 2, 2);
    ASSERT_TRUE(store.PrepareFrames({}, 1));
    std::deque<tagDivInfo> pieces{pieceAt(100, 100), pieceAt(3000, 100), pieceAt(100, 999),
                                  pieceAt(100, 1001)};
    std::vector<tagDivInfo*> pending{&pieces[0], &pieces[1], &pieces[2], &pieces[3]};
    std::int64_t inFrame = 0;
    std::int64_t loose = 0;
    store.SplitDivsByFrame(pending, inFrame, loose);
    EXPECT_EQ(inFrame, 2);
    EXPECT_EQ(loose, 2);
    EXPECT_EQ(pending, (std::vector<tagDivInfo*>{&pieces[1], &pieces[3]}));
    EXPECT_EQ(store.GetFrame(0).inside, (std::vector<tagDivInfo*>{&pieces[0], &pieces[2]}));

    store.AddDeferredDiv(&pieces[1]);
    store.AddDeferredDiv(&pieces[3]);
    store.AddDeferredDiv(&pieces[1]);
    EXPECT_EQ(store.deferred(), (std::deque<tagDivInfo*>{&pieces[3], &pieces[1]}));
}

TEST(LayoutTreeCut, BandsAndSlicesFollowTheOverlap) {
    struct Case {
        const char* name;
        std::int32_t secondTop;  // the second frame stands right of the first
        bool ok;
        const char* tree;
    } cases[] = {
        // Frames 1000..2000 tall; tops in thousands name them in the dump.
        {"overlap of 50 makes one band", 1950, true, "y[1 1]"},
        {"overlap of 49 makes two bands", 1951, true, "1 1"},
    };
    for (const Case& c : cases) {
        CConvertEngine engine;
        FrameStore store(engine);
        addTable(store, 1000, 0, 2000, 1000, 2, 2);
        addTable(store, c.secondTop, 2000, c.secondTop + 1000, 3000, 2, 2);
        ASSERT_TRUE(store.PrepareFrames({}, 1)) << c.name;
        LayoutTree layout(engine, store);
        bool ok = false;
        layout.BuildLayoutTree(ok);
        EXPECT_EQ(ok, c.ok) << c.name;
        EXPECT_EQ(tree(layout, store, layout.root()), c.tree) << c.name;
    }
}

TEST(LayoutTreeCut, NestedCutsAndAPinwheel) {
    CConvertEngine engine;
    FrameStore store(engine);
    // Band 1: two tables side by side; band 2: one wide table.
    addTable(store, 1000, 0, 2000, 1000, 2, 2);
    addTable(store, 1000, 2000, 2000, 3000, 2, 2);
    addTable(store, 4000, 0, 5000, 3000, 2, 2);
    ASSERT_TRUE(store.PrepareFrames({}, 1));
    LayoutTree layout(engine, store);
    bool ok = false;
    layout.BuildLayoutTree(ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(tree(layout, store, layout.root()), "y[1 1] 4");

    // Four frames around a hole: no band or slice separates them.
    FrameStore pinwheel(engine);
    addTable(pinwheel, 0, 0, 1000, 2000, 2, 2);
    addTable(pinwheel, 0, 2000 + 20, 2000, 3000, 2, 2);
    addTable(pinwheel, 2000 + 20, 1000, 3000, 3000, 2, 2);
    addTable(pinwheel, 1000 + 20, 0, 3000, 1000 - 20, 2, 2);
    ASSERT_TRUE(pinwheel.PrepareFrames({}, 1));
    LayoutTree pinwheelLayout(engine, pinwheel);
    pinwheelLayout.BuildLayoutTree(ok);
    EXPECT_FALSE(ok);
}

TEST(LayoutTreeSides, LoosePiecesFindTheirFrameAndSide) {
    CConvertEngine engine;
    FrameStore store(engine);
    addTable(store, 1000, 1000, 2000, 2000, 2, 2);
    addTable(store, 4000, 1000, 5000, 2000, 2, 2);
    ASSERT_TRUE(store.PrepareFrames({}, 1));
    LayoutTree layout(engine, store);
    bool ok = false;
    layout.BuildLayoutTree(ok);
    ASSERT_TRUE(ok);

    struct Case {
        const char* name;
        tagDivInfo piece;
        std::int32_t frameTop;
        std::int32_t side;
    } cases[] = {
        {"above the first", pieceAt(1500, 500), 1000, kSideAbove},
        {"left of the first", pieceAt(200, 1500), 1000, kSideLeft},
        {"right of the first", pieceAt(2500, 1500), 1000, kSideRight},
        {"between the bands", pieceAt(1500, 3000), 4000, kSideAbove},
        {"below the last", pieceAt(1500, 6000), 4000, kSideBelow},
        {"inside, on no side", pieceAt(1500, 4500), 4000, kSideInside},
    };
    std::deque<tagDivInfo> pieces;
    std::vector<tagDivInfo*> pending;
    for (const Case& c : cases) {
        std::int32_t side = -1;
        const std::int32_t frame = layout.FindFrameSide(layout.root(), c.piece, side);
        EXPECT_EQ(store.GetFrame(frame).top, c.frameTop) << c.name;
        EXPECT_EQ(side, c.side) << c.name;
        pending.push_back(&pieces.emplace_back(c.piece));
    }
    pending.push_back(&pieces.emplace_back(pieceAt(1600, 600)));  // a second piece above

    layout.AttachLooseDivs(pending);
    EXPECT_TRUE(pending.empty());
    const tagFrameInfo& first = store.GetFrame(0);
    EXPECT_EQ(first.sides[kSideAbove - 1], (std::vector<tagDivInfo*>{&pieces[6], &pieces[0]}));
    EXPECT_EQ(first.sides[kSideLeft - 1], (std::vector<tagDivInfo*>{&pieces[1]}));
    EXPECT_EQ(first.sides[kSideRight - 1], (std::vector<tagDivInfo*>{&pieces[2]}));
    const tagFrameInfo& second = store.GetFrame(1);
    EXPECT_EQ(second.sides[kSideAbove - 1], (std::vector<tagDivInfo*>{&pieces[3]}));
    EXPECT_EQ(second.sides[kSideBelow - 1], (std::vector<tagDivInfo*>{&pieces[4]}));
    EXPECT_EQ(second.inside, (std::vector<tagDivInfo*>{&pieces[5]}));
}

TEST(LayoutTreeSides, PiecesBetweenBandsAreDeferred) {
    CConvertEngine engine;
    FrameStore store(engine);
    addTable(store, 1000, 0, 2000, 1000, 2, 2);
    addTable(store, 4000, 0, 5000, 1000, 2, 2);
    ASSERT_TRUE(store.PrepareFrames({}, 1));
    LayoutTree layout(engine, store);
    bool ok = false;
    layout.BuildLayoutTree(ok);
    ASSERT_TRUE(ok);
    std::deque<tagDivInfo> pieces{pieceAt(2000, 500), pieceAt(2000, 1000), pieceAt(2000, 3000),
                                  pieceAt(2000, 5000), pieceAt(2000, 5001)};
    std::vector<tagDivInfo*> pending;
    for (tagDivInfo& p : pieces) {
        pending.push_back(&p);
    }
    layout.DeferGapBoxes(pending);
    EXPECT_EQ(pending, (std::vector<tagDivInfo*>{&pieces[1], &pieces[3]}));
    EXPECT_EQ(store.deferred(), (std::deque<tagDivInfo*>{&pieces[4], &pieces[2], &pieces[0]}));
}

TEST(LayoutTreeSearch, NearestSlotFromHint) {
    const std::int32_t lines[] = {0, 100, 200, 200, 300};
    struct Case {
        const char* name;
        std::int64_t value;
        std::int32_t hint;
        bool nearest;
        std::int32_t slot;
    } cases[] = {
        {"exact hit", 100, 4, true, 1},
        {"between, nearer the lower", 140, 0, true, 1},
        {"between, nearer the upper", 160, 0, true, 2},
        {"tie going up takes the upper", 150, 0, true, 2},
        {"tie going down takes the lower", 150, 4, true, 1},
        {"before the first", -5, 3, true, 0},
        {"past the last", 900, 0, true, 4},
        {"hint out of range is clamped", 300, 99, true, 4},
        {"negative hint is clamped", 0, -7, true, 0},
        {"clear: next slot within 50", 160, 1, false, 2},
        {"clear: next slot 50 away stays", 150, 1, false, 1},
        {"clear: past equal slots, the next 50 away stays", 250, 2, false, 3},
        {"clear: back over equal slots", 199, 1, false, 2},
    };
    for (const Case& c : cases) {
        std::int32_t hint = c.hint;
        EXPECT_EQ(SearchNearFromHint(lines, c.value, hint, 5, c.nearest), c.slot) << c.name;
        EXPECT_EQ(hint, c.slot) << c.name;
    }
    std::int32_t hint = 3;
    EXPECT_EQ(SearchNearFromHint(lines, 10, hint, 0, true), -1);
}

TEST(LayoutTreeCut, EveryFrameOfADiagonalIsABand) {
    CConvertEngine engine;
    FrameStore store(engine);
    // Frames in a diagonal: every one is a band of its own, one element each.
    for (std::int32_t i = 0; i < 40; ++i) {
        addTable(store, i * 2000, 0, i * 2000 + 1000, 1000, 2, 2);
    }
    ASSERT_TRUE(store.PrepareFrames({}, 40));
    LayoutTree layout(engine, store);
    bool ok = false;
    layout.BuildLayoutTree(ok);
    EXPECT_TRUE(ok);
    std::int32_t bands = 0;
    for (std::int32_t b = layout.element(layout.root()).firstChild; b != kNoElement;
         b = layout.element(b).next) {
        EXPECT_TRUE(layout.element(b).leaf);
        ++bands;
    }
    EXPECT_EQ(bands, 40);
    EXPECT_EQ(layout.element(layout.root()).start, 0);
    EXPECT_EQ(layout.element(layout.root()).end, 1000);
}

}  // namespace
}  // namespace paginor
