#include "convert/layout/frame_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/convert_errors.h"
#include "convert/read/text_measurer.h"

namespace paginor {
namespace {

constexpr std::uint32_t kRed = 0x0000FF;
constexpr std::uint32_t kBlue = 0xFF0000;
constexpr std::uint32_t kGreen = 0x00FF00;

tagDivRectInfo box(std::int32_t top, std::int32_t left, std::int32_t bottom, std::int32_t right,
                   std::uint32_t background = kNoBoxBackground) {
    return tagDivRectInfo{top, left, bottom, right, right - left, bottom - top, background};
}

std::string dump(const LineList& lines) {
    std::string out;
    for (const SegmentLine& line : lines) {
        out += (out.empty() ? "" : " ") + std::to_string(line.position) + ":";
        for (const LineSegment& s : line.segments) {
            out += "[" + std::to_string(s.start) + "," + std::to_string(s.end) + "]";
        }
    }
    return out;
}

std::string dump(const std::vector<tagRegionInfo>& regions) {
    std::string out;
    for (const tagRegionInfo& r : regions) {
        char text[80];
        std::snprintf(text, sizeof text, "%s%d-%d,%d-%d#%06X", out.empty() ? "" : " ", r.left,
                      r.right, r.top, r.bottom, r.colour);
        out += text;
    }
    return out;
}

std::int32_t errorOf(CConvertEngine& engine, const std::function<void()>& action) {
    try {
        action();
    } catch (const ConvertError& e) {
        EXPECT_EQ(engine.errorCode(), e.code());
        return e.code();
    }
    return 0;
}

struct MergeCase {
    const char* name;
    std::vector<LineSegment> existing;
    LineSegment added;
    const char* expected;
};

TEST(FrameStoreSegments, MergeIntoALine) {
    const MergeCase cases[] = {
        {"a gap under 30 joins", {{0, 100}}, {120, 200}, "0:[0,200]"},
        {"a gap of 31 stays apart", {{0, 100}}, {131, 200}, "0:[0,100][131,200]"},
        {"a gap of exactly 30 stays apart", {{0, 100}}, {130, 200}, "0:[0,100][130,200]"},
        {"a covered segment changes nothing", {{0, 300}}, {50, 100}, "0:[0,300]"},
        {"one segment swallows three",
         {{0, 100}, {140, 200}, {240, 300}, {340, 400}},
         {90, 350},
         "0:[0,400]"},
        {"a swallowed segment may lie 30 beyond", {{0, 100}, {200, 300}}, {50, 170}, "0:[0,300]"},
        {"a follower 31 beyond stays", {{0, 100}, {200, 300}}, {50, 169}, "0:[0,169][200,300]"},
        {"a new first segment", {{200, 300}}, {0, 100}, "0:[0,100][200,300]"},
        {"joining the next one from the left", {{200, 300}}, {0, 180}, "0:[0,300]"},
        {"reaching past the next one keeps the whole extent",
         {{200, 300}, {400, 500}},
         {100, 450},
         "0:[100,500]"},
        {"a segment between two",
         {{0, 100}, {300, 400}},
         {150, 250},
         "0:[0,100][150,250][300,400]"},
    };
    for (const MergeCase& c : cases) {
        CConvertEngine engine;
        FrameStore store(engine);
        for (const LineSegment& s : c.existing) {
            store.AddVerticalStrip(0, s.start, s.end);
        }
        store.AddVerticalStrip(0, c.added.start, c.added.end);
        EXPECT_EQ(dump(store.strips()), c.expected) << c.name;
    }
}

TEST(FrameStoreLines, PositionsWithin35ShareALine) {
    CConvertEngine engine;
    FrameStore store(engine);
    const std::int32_t frame = store.FindOrCreateFrame(box(0, 0, 5000, 5000), 0);
    ASSERT_EQ(frame, 0);
    store.AddHorizontalLine(frame, 1000, 0, 100);
    store.AddHorizontalLine(frame, 1034, 200, 300);
    store.AddHorizontalLine(frame, 1035, 0, 100);
    store.AddHorizontalLine(frame, 966, 400, 500);
    store.AddHorizontalLine(frame, 965, 0, 100);
    store.AddVerticalLine(frame, 2000, 0, 100);
    store.AddVerticalLine(frame, 1970, 120, 200);
    EXPECT_EQ(dump(store.GetFrame(frame).horizontal),
              "965:[0,100] 1000:[0,100][200,300][400,500] 1035:[0,100]");
    EXPECT_EQ(dump(store.GetFrame(frame).vertical), "2000:[0,200]");
}

TEST(FrameStoreFrames, BoxesOfOneHeightEdgeToEdgeMakeOneFrame) {
    CConvertEngine engine;
    FrameStore store(engine);
    EXPECT_TRUE(store.placeBox(box(0, 1000, 200, 2000), 0));
    EXPECT_TRUE(store.placeBox(box(0, 2010, 200, 3000), 0));  // right of it
    EXPECT_TRUE(store.placeBox(box(10, 0, 190, 990), 0));     // left of it
    ASSERT_EQ(store.frameCount(), 1);
    const tagFrameInfo& f = store.GetFrame(0);
    EXPECT_EQ(f.left, 0);
    EXPECT_EQ(f.right, 3000);
    EXPECT_EQ(dump(f.horizontal), "0:[0,3000] 200:[0,3000]");
    EXPECT_EQ(dump(f.vertical), "0:[10,190] 1000:[0,200] 2000:[0,200] 3000:[0,200]");

    EXPECT_TRUE(store.placeBox(box(0, 3035, 200, 4000), 1));  // 35 apart: a frame of its own
    ASSERT_EQ(store.frameCount(), 2);
    EXPECT_EQ(store.GetFrame(0).right, 3000);
    EXPECT_EQ(store.GetFrame(1).left, 3035);
    EXPECT_EQ(store.GetFrame(1).page, 1);

    store.CountFrameLines();
    EXPECT_EQ(store.GetFrame(0).rowCount, 1);
    EXPECT_EQ(store.GetFrame(0).columnCount, 3);
}

struct SizeCase {
    std::int32_t width;
    std::int32_t height;
    bool frame;
    const char* strips;
};

TEST(FrameStoreFrames, SizeDecidesFrameAndStrips) {
    const SizeCase cases[] = {
        {50, 500, false, "1000:[0,500] 1050:[0,500]"},
        {51, 51, true, "1000:[0,51] 1051:[0,51]"},
        {500, 50, false, "1000:[0,50] 1500:[0,50]"},
        {49, 500, false, "1000:[0,500]"},
        {500, 49, false, ""},
    };
    for (const SizeCase& c : cases) {
        CConvertEngine engine;
        FrameStore store(engine);
        const tagDivRectInfo b = box(0, 1000, c.height, 1000 + c.width);
        EXPECT_EQ(store.placeBox(b, 0), c.frame) << c.width << "x" << c.height;
        EXPECT_EQ(store.frameCount(), c.frame ? 1 : 0);
        store.addStrips(b);
        EXPECT_EQ(dump(store.strips()), c.strips) << c.width << "x" << c.height;
    }
}

TEST(FrameStoreFrames, ThinBoxesInsideAFrameAreRules) {
    CConvertEngine engine;
    FrameStore store(engine);
    ASSERT_TRUE(store.placeBox(box(0, 0, 1000, 1000), 0));
    const tagDivRectInfo horizontal = box(500, 0, 549, 1000);
    const tagDivRectInfo vertical = box(0, 300, 1000, 349);
    const tagDivRectInfo dot = box(700, 700, 749, 749);
    for (const tagDivRectInfo& rule : {horizontal, vertical, dot}) {
        EXPECT_TRUE(store.placeBox(rule, 0));
    }
    store.AddBoxToStrips(horizontal);
    const tagFrameInfo& f = store.GetFrame(0);
    EXPECT_EQ(dump(f.horizontal), "0:[0,1000] 500:[0,1000] 700:[700,749] 1000:[0,1000]");
    EXPECT_EQ(dump(f.vertical), "0:[0,1000] 300:[0,1000] 1000:[0,1000]");
    EXPECT_TRUE(store.strips().empty());
}

TEST(FrameStoreFrames, AWaitingBoxGoesToTheFrameThatContainsIt) {
    CConvertEngine engine;
    FrameStore store(engine);
    const tagDivRectInfo narrow = box(2100, 400, 2900, 440);
    const tagDivRectInfo across = box(900, 400, 2100, 440);  // over the edge of both frames
    EXPECT_FALSE(store.placeBox(narrow, 0));
    EXPECT_FALSE(store.placeBox(across, 0));
    ASSERT_TRUE(store.placeBox(box(0, 0, 1000, 1000), 0));
    ASSERT_TRUE(store.placeBox(box(2000, 0, 3000, 1000), 0));
    store.offerWaitingBox(narrow, 0);
    store.offerWaitingBox(across, 0);
    EXPECT_EQ(dump(store.GetFrame(0).vertical), "0:[0,1000] 1000:[0,1000]");
    EXPECT_EQ(dump(store.GetFrame(1).vertical), "0:[2000,3000] 400:[2100,2900] 1000:[2000,3000]");
    EXPECT_EQ(store.frameCount(), 2);
}

TEST(FrameStoreFrames, CountFrameLinesMarksFramesWithoutLines) {
    CConvertEngine engine;
    FrameStore store(engine);
    const tagDivRectInfo outline = box(0, 0, 1000, 1000);
    ASSERT_EQ(store.FindOrCreateFrame(outline, 0), 0);
    store.CountFrameLines();
    EXPECT_EQ(store.GetFrame(0).rowCount, kNoLines);
    EXPECT_EQ(store.GetFrame(0).columnCount, kNoLines);
    store.AddBoxToFrame(0, outline);
    store.AddBoxToFrame(0, box(0, 500, 1000, 520));
    store.CountFrameLines();
    EXPECT_EQ(store.GetFrame(0).rowCount, 1);
    EXPECT_EQ(store.GetFrame(0).columnCount, 2);
}

struct RegionStep {
    tagRegionInfo added;
    const char* expected;
};

TEST(FrameStoreRegions, NeighboursWidenAndCoverRecolour) {
    const RegionStep steps[] = {
        {{0, 1000, 0, 500, kRed}, "0-1000,0-500#0000FF"},
        {{1020, 2000, 10, 490, kRed}, "0-2000,0-500#0000FF"},
        {{0, 2000, 520, 900, kRed}, "0-2000,0-900#0000FF"},
        {{-990, -20, 30, 880, kRed}, "-990-2000,0-900#0000FF"},
        {{-990, 2000, -600, -30, kRed}, "-990-2000,-600-900#0000FF"},
        {{-960, 1970, -570, 870, kBlue}, "-990-2000,-600-900#FF0000"},
        {{500, 800, 200, 400, kGreen}, "500-800,200-400#00FF00 -990-2000,-600-900#FF0000"},
        {{3000, 4000, -600, 900, kGreen},
         "3000-4000,-600-900#00FF00 500-800,200-400#00FF00 -990-2000,-600-900#FF0000"},
    };
    CConvertEngine engine;
    FrameStore store(engine);
    for (const RegionStep& s : steps) {
        store.AddColouredRegion(s.added.left, s.added.right, s.added.top, s.added.bottom,
                                s.added.colour);
        EXPECT_EQ(dump(store.regions()), s.expected);
    }
}

TEST(FrameStoreRegions, TheNewestRegionHoldingThePointGivesItsColour) {
    CConvertEngine engine;
    FrameStore store(engine);
    store.AddColouredRegion(0, 2000, 0, 1000, kRed);
    store.AddColouredRegion(500, 800, 200, 400, kGreen);
    const RegionColours& colours = store;
    EXPECT_EQ(colours.GetRegionColour(600, 300), kGreen);
    EXPECT_EQ(colours.GetRegionColour(100, 300), kRed);
    EXPECT_EQ(colours.GetRegionColour(500, 300), kRed);  // on the edge: not inside
    EXPECT_EQ(colours.GetRegionColour(0, 300), kNoBackground);
    EXPECT_EQ(colours.GetRegionColour(100, 1000), kNoBackground);
    EXPECT_EQ(colours.GetRegionColour(5000, 5000), kNoBackground);
}

TEST(FrameStoreRegions, ColouredOutlinesPaintRegions) {
    CConvertEngine engine;
    FrameStore store(engine);
    ASSERT_TRUE(store.placeBox(box(0, 0, 1000, 1000, kRed), 0));
    ASSERT_TRUE(store.placeBox(box(2000, 0, 3000, 1000), 0));
    ASSERT_TRUE(store.placeBox(box(400, 0, 440, 1000, kBlue), 0));  // a rule paints nothing
    EXPECT_EQ(dump(store.regions()), "0-1000,0-1000#0000FF");

    const FrameCollector& collector = store;
    EXPECT_TRUE(collector.insideColouredRegion(box(100, 100, 900, 900, kRed)));
    EXPECT_TRUE(collector.insideColouredRegion(box(0, 0, 1000, 1000, kRed)));
    EXPECT_FALSE(collector.insideColouredRegion(box(100, 100, 900, 900, kBlue)));
    EXPECT_FALSE(collector.insideColouredRegion(box(100, 100, 1001, 900, kRed)));
    EXPECT_FALSE(collector.insideColouredRegion(box(100, 100, 900, 900)));
}

TEST(FrameStorePools, LineRecordsRunOutAcrossFramesAndStrips) {
    CConvertEngine engine;
    FrameStore store(engine);
    const auto capacity = static_cast<std::int32_t>(kLineRecordCapacity);
    for (std::int32_t i = 0; i + 1 < capacity; ++i) {
        store.AddVerticalStrip(0, i * 100, i * 100 + 10);
    }
    const std::int32_t frame = store.FindOrCreateFrame(box(0, 0, 1000, 1000), 0);
    store.AddHorizontalLine(frame, 0, 0, 10);

    EXPECT_EQ(errorOf(engine, [&] { store.AddVerticalStrip(5000, 0, 10); }), kErrCapability);
    EXPECT_EQ(errorOf(engine, [&] { store.AddVerticalStrip(0, -100, -50); }), kErrCapability);
    EXPECT_EQ(store.strips().size(), 1u);
    EXPECT_EQ(store.strips()[0].segments.size(), kLineRecordCapacity - 1);
    EXPECT_EQ(dump(store.strips()).substr(0, 20), "0:[0,10][100,110][20");

    // Merges need no record; a swallowed segment gives its record back.
    store.AddVerticalStrip(0, 2, 8);
    store.AddVerticalStrip(0, 10, 100);
    EXPECT_EQ(dump(store.strips()).substr(0, 20), "0:[0,110][200,210][3");
    store.AddVerticalStrip(5000, 0, 10);
    EXPECT_EQ(errorOf(engine, [&] { store.AddVerticalStrip(6000, 0, 10); }), kErrCapability);

    // So do the lines of a deleted frame, and a strip segment removed.
    store.DeleteFrame(frame);
    store.AddVerticalStrip(6000, 0, 10);
    store.RemoveStripSegments(6000, 0, 10);
    store.AddVerticalStrip(7000, 0, 10);
    EXPECT_EQ(errorOf(engine, [&] { store.AddVerticalStrip(8000, 0, 10); }), kErrCapability);

    store.clear();
    EXPECT_TRUE(store.strips().empty());
    EXPECT_EQ(store.frameCount(), 0);
    store.AddVerticalStrip(0, 0, 10);
    EXPECT_EQ(dump(store.strips()), "0:[0,10]");
}

TEST(FrameStorePools, RegionRecordsRunOut) {
    CConvertEngine engine;
    FrameStore store(engine);
    const auto capacity = static_cast<std::int32_t>(kRegionRecordCapacity);
    for (std::int32_t i = 0; i < capacity; ++i) {
        const std::int32_t left = i % 128 * 100;
        const std::int32_t top = i / 128 * 100;
        store.AddColouredRegion(left, left + 60, top, top + 60, kRed);
    }
    store.AddColouredRegion(12780, 12900, 0, 60, kRed);  // widens the last of the first row
    EXPECT_EQ(store.regions().size(), kRegionRecordCapacity);
    EXPECT_EQ(errorOf(engine, [&] { store.AddColouredRegion(0, 60, 30000, 30060, kRed); }),
              kErrCapability);
    EXPECT_EQ(store.regions().size(), kRegionRecordCapacity);
    EXPECT_EQ(dump({store.regions()[kRegionRecordCapacity - 128]}), "12700-12900,0-60#0000FF");
    store.clear();
    store.AddColouredRegion(0, 60, 30000, 30060, kRed);
    EXPECT_EQ(store.regions().size(), 1u);
}

TEST(FrameStorePools, FramesRunOut) {
    CConvertEngine engine;
    FrameStore store(engine);
    for (std::int32_t i = 0; i < kFrameCapacity; ++i) {
        const std::int32_t left = i % 100 * 200;
        const std::int32_t top = i / 100 * 200;
        ASSERT_EQ(store.FindOrCreateFrame(box(top, left, top + 60, left + 60), 0), i);
    }
    EXPECT_EQ(store.FindOrCreateFrame(box(10, 10, 50, 50), 0), 0);
    EXPECT_EQ(store.FindOrCreateFrame(box(0, 70, 60, 180), 0), 0);  // joins edge to edge
    EXPECT_EQ(store.GetFrame(0).right, 180);
    EXPECT_EQ(errorOf(engine, [&] { store.placeBox(box(60000, 0, 60060, 60), 0); }),
              kErrCapability);
    EXPECT_EQ(store.frameCount(), kFrameCapacity);
}

TEST(FrameStoreStrips, RemovingSegmentsNearAPosition) {
    CConvertEngine engine;
    FrameStore store(engine);
    store.AddVerticalStrip(100, 0, 500);
    store.AddVerticalStrip(100, 600, 900);
    store.AddVerticalStrip(100, 1000, 1500);
    store.AddVerticalStrip(140, 0, 400);
    store.AddVerticalStrip(200, 0, 500);
    ASSERT_EQ(dump(store.strips()), "100:[0,500][600,900][1000,1500] 140:[0,400] 200:[0,500]");

    store.RemoveStripSegments(120, 0, 800);
    EXPECT_EQ(dump(store.strips()), "100:[600,900][1000,1500] 200:[0,500]");
    store.RemoveStripSegments(235, 0, 500);  // 35 away: not this strip
    EXPECT_EQ(dump(store.strips()), "100:[600,900][1000,1500] 200:[0,500]");
    store.RemoveStripSegments(166, 0, 500);
    EXPECT_EQ(dump(store.strips()), "100:[600,900][1000,1500]");

    tagFrameInfo frame;
    frame.left = 100;
    frame.right = 2000;
    frame.top = 500;
    frame.bottom = 1500;
    store.RemoveStripsInRange(frame);
    EXPECT_TRUE(store.strips().empty());
}

TEST(FrameStoreFrames, DeleteFrameKeepsTheOrder) {
    CConvertEngine engine;
    FrameStore store(engine);
    for (std::int32_t top : {0, 2000, 4000}) {
        ASSERT_TRUE(store.placeBox(box(top, 0, top + 1000, 1000), 0));
    }
    store.DeleteFrame(1);
    ASSERT_EQ(store.frameCount(), 2);
    EXPECT_EQ(store.GetFrame(0).top, 0);
    EXPECT_EQ(store.GetFrame(1).top, 4000);
    EXPECT_EQ(dump(store.GetFrame(1).horizontal), "4000:[0,1000] 5000:[0,1000]");
}

TEST(FrameStoreDissolve, ThinFramesWithFewBoxesGoBackToPending) {
    CConvertEngine engine;
    FrameStore store(engine);
    std::deque<tagDivInfo> pieces(13);
    std::vector<tagDivInfo*> pending{&pieces[12]};

    // Every frame spans x 0..3000 and leaves strips at both edges.
    const auto addFrame = [&](std::int32_t top, std::int32_t bottom) {
        const tagDivRectInfo outline = box(top, 0, bottom, 3000);
        EXPECT_TRUE(store.placeBox(outline, 0));
        store.addStrips(outline);
        return &store.GetFrame(store.frameCount() - 1);
    };
    addFrame(0, 500);  // one row, three columns, three boxes: dissolved
    store.placeBox(box(0, 1000, 500, 1040), 0);
    store.placeBox(box(0, 2000, 500, 2040), 0);
    tagFrameInfo* f = &store.GetFrame(0);
    f->inside = {&pieces[0], &pieces[1], &pieces[2]};
    f->sides[2] = {&pieces[3]};
    f = addFrame(1000, 1500);  // one cell, four boxes: kept
    f->inside = {&pieces[4], &pieces[5], &pieces[6], &pieces[7]};
    f = addFrame(2000, 2500);  // four boxes, one a wrapped line: dissolved
    pieces[10].joinedTo = &pieces[9];
    f->inside = {&pieces[8], &pieces[9], &pieces[10], &pieces[11]};
    addFrame(3000, 3500);  // no box: dissolved
    addFrame(4000, 5000);  // two rows and two columns, no box: kept
    store.placeBox(box(4500, 0, 4540, 3000), 0);
    store.placeBox(box(4000, 1500, 5000, 1540), 0);

    store.CountFrameLines();
    store.DissolveThinFrames(pending);

    ASSERT_EQ(store.frameCount(), 2);
    EXPECT_EQ(store.GetFrame(0).top, 1000);
    EXPECT_EQ(store.GetFrame(0).inside.size(), 4u);
    EXPECT_EQ(store.GetFrame(1).top, 4000);
    const std::vector<tagDivInfo*> expected{&pieces[12], &pieces[0],  &pieces[1],
                                            &pieces[2],  &pieces[3],  &pieces[8],
                                            &pieces[9],  &pieces[10], &pieces[11]};
    EXPECT_EQ(pending, expected);
    EXPECT_EQ(dump(store.strips()), "0:[1000,1500][4000,5000] 3000:[1000,1500][4000,5000]");
}

TEST(FrameStoreReading, ThePageReaderFillsTheStore) {
    const std::string report =
        "<head></head><!--PAGE-->"
        "<div style=\"position:absolute;top:30pt;left:50pt;width:4pt;height:10pt;"
        "border-style:solid\"></div>"
        "<div style=\"position:absolute;top:0pt;left:0pt;width:100pt;height:20pt;"
        "border-style:solid\"></div>"
        "<div style=\"position:absolute;top:0pt;left:101pt;width:100pt;height:20pt;"
        "border-style:solid\"></div>"
        "<div style=\"position:absolute;top:25pt;left:0pt;width:200pt;height:30pt;"
        "border-style:solid;background-color:#ff0000\"></div>";
    CConvertEngine engine;
    StyleSheet styles;
    styles.ParseStyleSheet(engine, defaultTextMeasurer(), "<head></head>");
    FrameStore store(engine);
    BoxReader reader(engine, styles, defaultTextMeasurer(), store, BoxReaderOptions{});
    const std::int64_t offsets[] = {static_cast<std::int64_t>(report.find("<!--PAGE-->"))};
    reader.readBoxes(report.data(), static_cast<std::int64_t>(report.size()), offsets, 1);

    ASSERT_EQ(store.frameCount(), 2);
    EXPECT_EQ(dump(store.GetFrame(0).vertical), "0:[0,200] 1000:[0,200] 2010:[0,200]");
    EXPECT_EQ(dump(store.GetFrame(1).vertical), "0:[250,550] 500:[300,400] 2000:[250,550]");
    EXPECT_EQ(dump(store.regions()), "0-2000,250-550#0000FF");
    EXPECT_EQ(dump(store.strips()),
              "0:[0,200][250,550] 500:[300,400] 1000:[0,200] 2010:[0,200][250,550]");
}

}  // namespace
}  // namespace paginor
