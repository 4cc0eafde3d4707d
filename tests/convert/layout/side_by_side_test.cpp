#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/layout/frame_store.h"
#include "tests/convert/engine_test_access.h"

namespace paginor {
namespace {

using Access = EngineTestAccess;

// Column lefts in points; one string per row, one character per column: 'x' a text, 'v' a
// covered copy of the cell above, '.' nothing. Rows stand 20 points apart from top 100 unless
// tops are given.
struct Page {
    std::vector<std::int32_t> lefts;
    std::vector<std::string> rows;
    std::vector<std::int32_t> tops;
};

void build(CConvertEngine& e, const Page& page) {
    static const char* const kText = "t";
    const auto rows = static_cast<std::int32_t>(page.rows.size());
    const auto columns = static_cast<std::int32_t>(page.lefts.size());
    Access::setMode(e, kFormatHtmlCss);
    Access::setPageCount(e, 1);
    Access::pageTops(e) = {100};
    Access::allocGrid(e, rows, columns);
    for (std::int32_t c = 0; c < columns; ++c) {
        Access::column(e, c).left = page.lefts[c];
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        Access::row(e, r).top = page.tops.empty() ? 100 + 20 * r : page.tops[r];
        for (std::int32_t c = 0; c < columns; ++c) {
            tagGridCell& cell = Access::cell(e, r, c);
            switch (page.rows[r][c]) {
                case 'x':
                    cell.occupancy = 1;
                    cell.text = kText;
                    cell.textLength = 1;
                    cell.columnSpan = 1;
                    cell.rowSpan = 1;
                    break;
                case 'v':
                    cell = Access::cell(e, r - 1, c);
                    cell.kind = kKindCoveredCopy;
                    cell.textLength = 0;
                    for (std::int32_t k = r - 1; k >= 0 && page.rows[k][c] != '.'; --k) {
                        Access::cell(e, k, c).rowSpan = r - k + 1;
                        if (page.rows[k][c] == 'x') {
                            break;
                        }
                    }
                    break;
                default:
                    cell.occupancy = 2;
                    cell.columnSpan = 65535;
                    cell.rowSpan = 65535;
            }
        }
    }
    Access::countCells(e);
}

void addStrip(CConvertEngine& e, std::int32_t x, std::vector<LineSegment> segments) {
    Access::frames(e).strips().push_back({x, std::move(segments)});
}

// Rules in tenths, each a single segment from 0 to length.
void addRules(CConvertEngine& e, const std::vector<std::int32_t>& xs, std::int32_t length = 8000) {
    for (const std::int32_t x : xs) {
        addStrip(e, x, {{0, length}});
    }
}

// The output column of every cell with a text, row by row.
std::string dump(CConvertEngine& e) {
    std::string out;
    for (std::int32_t r = 0; r < e.rowCount(); ++r) {
        for (std::int32_t c = 0; c < e.columnCount(); ++c) {
            if (e.cell(r, c).text != nullptr) {
                out += std::to_string(e.cell(r, c).outputColumn) + ' ';
            }
        }
        out += "|";
    }
    return out;
}

std::vector<std::int32_t> stripPositions(CConvertEngine& e) {
    std::vector<std::int32_t> xs;
    for (const SegmentLine& strip : Access::frames(e).strips()) {
        xs.push_back(strip.position);
    }
    return xs;
}

// Two blocks whose texts start a few points apart from row to row.
Page twoBlocks() {
    Page page;
    page.lefts = {20, 24, 310, 314};
    for (int r = 0; r < 8; ++r) {
        page.rows.push_back(r % 2 == 0 ? "x.x." : ".x.x");
    }
    return page;
}

TEST(SideBySideLayout, TwoBlocksGiveOneColumnEach) {
    CConvertEngine e;
    build(e, twoBlocks());
    addRules(e, {100, 3000, 5600});
    ASSERT_TRUE(Access::layOutSideBySide(e));
    EXPECT_EQ(e.ordinalLimit(), 2);
    EXPECT_EQ(dump(e), "0 1 |0 1 |0 1 |0 1 |0 1 |0 1 |0 1 |0 1 |");
    EXPECT_EQ(Access::column(e, 0).ordinal, 0);
    EXPECT_EQ(Access::column(e, 1).ordinal, -1);
    EXPECT_EQ(Access::column(e, 2).ordinal, 1);
    EXPECT_EQ(Access::column(e, 3).ordinal, -1);
}

TEST(SideBySideLayout, DashedRuleIsNoStrip) {
    struct Case {
        std::int32_t dash;  // tenths
        bool strip;
    };
    for (const Case& k : {Case{30, false}, Case{31, true}}) {
        CConvertEngine e;
        build(e, twoBlocks());
        addStrip(e, 100, {{0, 8000}});
        std::vector<LineSegment> dashes;
        for (std::int32_t y = 0; y < 8000; y += 100) {
            dashes.push_back({y, y + k.dash});
        }
        addStrip(e, 3000, dashes);
        addStrip(e, 5600, {{0, 8000}});
        // Without the middle rule both columns fall into one block.
        EXPECT_EQ(Access::layOutSideBySide(e), k.strip) << k.dash;
        EXPECT_EQ(stripPositions(e).size(), k.strip ? 3u : 2u) << k.dash;
    }
}

TEST(SideBySideLayout, CloseRulesWithoutColumnBetweenCountAsOne) {
    struct Case {
        std::int32_t first;  // segment lengths of the rules at 300 pt and 309 pt
        std::int32_t second;
        std::int32_t kept;
    };
    for (const Case& k : {Case{7000, 8000, 3090}, Case{8000, 7000, 3000}, Case{8000, 8000, 3000}}) {
        CConvertEngine e;
        build(e, twoBlocks());
        addRules(e, {100});
        addRules(e, {3000}, k.first);
        addRules(e, {3090}, k.second);
        addRules(e, {5600});
        ASSERT_TRUE(Access::layOutSideBySide(e)) << k.kept;
        EXPECT_EQ(stripPositions(e), (std::vector<std::int32_t>{100, k.kept, 5600}));
        EXPECT_EQ(e.ordinalLimit(), 2);
        EXPECT_EQ(dump(e), "0 1 |0 1 |0 1 |0 1 |0 1 |0 1 |0 1 |0 1 |");
    }
}

TEST(SideBySideLayout, RulesMustEncloseTheColumns) {
    const std::vector<std::int32_t> cases[] = {
        {300, 3000, 5600},  // first rule right of the first column
        {100, 3000, 3120},  // last rule left of the last column
    };
    for (const auto& rules : cases) {
        CConvertEngine e;
        build(e, twoBlocks());
        addRules(e, rules);
        EXPECT_FALSE(Access::layOutSideBySide(e)) << rules.front() << " " << rules.back();
    }
}

TEST(SideBySideLayout, NothingOutsideTheLastBlock) {
    Page page;
    page.lefts = {20, 310, 559};  // 559 pt starts within 2 pt of the last rule
    page.rows = {"xx.", "xx.", "xx.", "xxx"};
    CConvertEngine e;
    build(e, page);
    addRules(e, {100, 3000, 5600});
    EXPECT_FALSE(Access::layOutSideBySide(e));
}

// Blocks of 260 pt, each with the given number of text columns 100 pt apart; every row full.
Page blocksOfWidths(const std::vector<int>& widths, std::vector<std::int32_t>& rules) {
    Page page;
    rules.clear();
    for (std::size_t b = 0; b < widths.size(); ++b) {
        const std::int32_t left = 10 + 260 * static_cast<std::int32_t>(b);
        rules.push_back(10 * left);
        for (int j = 0; j < widths[b]; ++j) {
            page.lefts.push_back(left + 10 + 100 * j);
        }
    }
    rules.push_back(10 * (10 + 260 * static_cast<std::int32_t>(widths.size())));
    page.rows.assign(8, std::string(page.lefts.size(), 'x'));
    return page;
}

TEST(SideBySideLayout, BlocksMustBeNarrow) {
    struct Case {
        std::vector<int> widths;
        bool sideBySide;
    };
    const Case cases[] = {
        {{1, 1}, true},           {{2, 1}, true},
        {{2, 2}, false},          {{2, 2, 2, 1}, true},  // an average of exactly 1.75
        {{2, 2, 2, 2, 1}, false},                        // 1.8
    };
    for (const Case& k : cases) {
        std::vector<std::int32_t> rules;
        CConvertEngine e;
        build(e, blocksOfWidths(k.widths, rules));
        addRules(e, rules);
        EXPECT_EQ(Access::layOutSideBySide(e), k.sideBySide) << k.widths.size();
    }
}

TEST(SideBySideLayout, CrowdedRowIsNotSideBySide) {
    // The heading row lies above the rules, so it does not widen the blocks.
    Page page;
    page.lefts = {20, 100, 180, 310, 400};
    page.rows = {"xxxxx", "x..x.", "x..x.", "x..x.", "x..x."};
    page.tops = {50, 100, 120, 140, 160};
    for (const bool crowded : {true, false}) {
        if (!crowded) {
            page.rows[0] = "xx.xx";
        }
        CConvertEngine e;
        build(e, page);
        addStrip(e, 100, {{900, 8000}});
        addStrip(e, 3000, {{900, 8000}});
        addStrip(e, 5600, {{900, 8000}});
        EXPECT_EQ(Access::layOutSideBySide(e), !crowded);
    }
}

TEST(SideBySideLayout, MultiPageStripShare) {
    struct Case {
        std::vector<std::int32_t> tops;
        std::int32_t length;  // of every rule, tenths
        bool sideBySide;
    };
    const Case cases[] = {
        {{0, 800, 1600}, 1100, false},
        {{0, 800, 1600}, 1300, true},
        {{192000, 192800, 193600}, 1100, false},
        {{192000, 192800, 193600}, 1300, true},
        {{0, -1, 1600}, 1300, true},  // a page without text between
        {{-1, -1, -1}, 1300, false},
        {{500, 500, 500}, 1300, false},
    };
    for (const Case& k : cases) {
        CConvertEngine e;
        build(e, twoBlocks());
        Access::setPageCount(e, 3);
        Access::pageTops(e) = k.tops;
        addRules(e, {100, 3000, 5600}, k.length);
        EXPECT_EQ(Access::layOutSideBySide(e), k.sideBySide) << k.tops.front() << " " << k.length;
    }
}

TEST(SideBySideLayout, ExtraCellInABlock) {
    // The last row holds a second cell in the first block.
    struct Case {
        std::int32_t lastTop;  // the rules end at 800 pt
        char secondBlock;      // that row's cell in the second block
        const char* lastRow;
        std::int32_t limit;
    };
    const Case cases[] = {
        {700, '.', "0 1 |", 3},    // alongside the rule: its own column
        {900, '.', "0 1 |", 2},    // below the rule, the next block empty: the next block's column
        {900, 'x', "0 1 2 |", 3},  // below the rule, the next block's column taken
    };
    for (const Case& k : cases) {
        Page page;
        page.lefts = {20, 150, 310};
        page.rows.assign(6, "x.x");
        page.rows.push_back(std::string("xx") + k.secondBlock);
        page.tops = {100, 200, 300, 400, 500, 600, k.lastTop};
        CConvertEngine e;
        build(e, page);
        addRules(e, {100, 3000, 5600});
        ASSERT_TRUE(Access::layOutSideBySide(e)) << k.lastTop;
        EXPECT_EQ(e.ordinalLimit(), k.limit) << k.lastTop;
        const std::string rows = dump(e);
        EXPECT_EQ(rows.substr(rows.rfind('|', rows.size() - 2) + 1), k.lastRow) << k.lastTop;
    }
}

TEST(SideBySideLayout, LoneCellGoesToTheNearestColumn) {
    Page page;
    page.lefts = {20, 150, 155, 310};
    page.rows = {"xx.x", "..xx", "x..x", "x..x"};
    CConvertEngine e;
    build(e, page);
    addRules(e, {100, 3000, 5600});
    ASSERT_TRUE(Access::layOutSideBySide(e));
    EXPECT_EQ(dump(e), "0 1 2 |1 2 |0 2 |0 2 |");
}

TEST(SideBySideLayout, OwnColumnAlreadyTakenInTheRow) {
    // The second row needs four columns in the first block where three survive.
    Page page;
    page.lefts = {20, 60, 100, 140, 280, 540, 800};
    page.rows = {"x.xxxxx", "xxxxxxx", "x...xxx", "x...xxx", "x...xxx"};
    CConvertEngine e;
    build(e, page);
    addRules(e, {100, 2700, 5300, 7900, 10500});
    ASSERT_TRUE(Access::layOutSideBySide(e));
    EXPECT_EQ(e.ordinalLimit(), 7);
    EXPECT_EQ(dump(e), "0 2 3 4 5 6 |0 1 2 3 4 5 6 |0 4 5 6 |0 4 5 6 |0 4 5 6 |");
}

TEST(SideBySideLayout, TallCellCopies) {
    struct Case {
        const char* secondRow;
        const char* dump;
    };
    const Case cases[] = {
        {"v..x", "0 1 |0 1 |0 1 |0 1 |"},     // the copy keeps the tall cell's column
        {"vx.x", "0 1 |-1 0 1 |0 1 |0 1 |"},  // a text of its own row takes it
    };
    for (const Case& k : cases) {
        Page page;
        page.lefts = {20, 24, 310, 314};
        page.rows = {"x.x.", k.secondRow, "x.x.", ".x.x"};
        CConvertEngine e;
        build(e, page);
        addRules(e, {100, 3000, 5600});
        ASSERT_TRUE(Access::layOutSideBySide(e)) << k.secondRow;
        EXPECT_EQ(dump(e), k.dump) << k.secondRow;
    }
}

TEST(SideBySideLayout, NoStripsLeft) {
    CConvertEngine e;
    build(e, twoBlocks());
    addStrip(e, 3000, {});
    EXPECT_FALSE(Access::layOutSideBySide(e));
    EXPECT_TRUE(Access::frames(e).strips().empty());
}

}  // namespace
}  // namespace paginor
