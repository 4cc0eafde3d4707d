#include "convert/layout/cell_grid.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/read/box_reader.h"
#include "convert/read/text_measurer.h"
#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

// Pieces built by hand, linked by next as the box reader links them.
struct Pieces {
    std::deque<tagDivInfo> pool;
    std::deque<std::string> texts;
    tagDivInfo* head = nullptr;
    tagDivInfo* tail = nullptr;

    tagDivInfo* add(std::int32_t left, std::int32_t top, const std::string& text,
                    std::int32_t height = 10, std::int32_t page = 0) {
        tagDivInfo& p = pool.emplace_back();
        texts.push_back(text);
        p.left = left;
        p.top = top;
        p.text = texts.back().c_str();
        p.textLength = static_cast<std::int32_t>(text.size());
        p.width = 50;
        p.height = height;
        p.centre = top * 10 + height * 5;
        p.leftEdge = left * 10;
        p.rightEdge = (left + p.width) * 10;
        p.page = page;
        p.order = static_cast<std::int32_t>(pool.size());
        (tail != nullptr ? tail->next : head) = &p;
        p.previous = tail;
        tail = &p;
        return &p;
    }
};

std::string dumpGrid(const CellGrid& grid) {
    std::string out;
    for (std::int32_t r = 0; r < grid.rowCount(); ++r) {
        out += "r" + std::to_string(r) + "|";
        for (std::int32_t c = 0; c < grid.columnCount(); ++c) {
            const tagGridCell& cell = grid.cell(r, c);
            if (cell.kind == kKindCoveredCopy) {
                out += "^";
            } else if (cell.text != nullptr) {
                out.append(cell.text, static_cast<std::size_t>(cell.textLength));
            }
            out += "|";
        }
        out += "\n";
    }
    return out;
}

std::string rowTops(const CellGrid& grid) {
    std::string out;
    for (const tagRowLineInfo& line : grid.rowLines()) {
        out += (out.empty() ? "" : ",") + std::to_string(line.top);
    }
    return out;
}

void build(CellGrid& grid, Pieces& pieces) {
    ASSERT_TRUE(grid.PlacePiecesInLines(pieces.head, nullptr));
    grid.MergeRowLines();
    grid.FillGrid(0, static_cast<std::int32_t>(grid.rowLines().size()), 0,
                  static_cast<std::int32_t>(grid.columnLines().size()));
}

TEST(CellGrid, PiecesOnOneCellKeepEveryText) {
    struct Case {
        std::vector<std::pair<std::int32_t, std::string>> pieces;  // top, text; one left
        const char* expected;
    };
    const Case cases[] = {
        {{{100, "Net"}, {104, "amount"}}, "r0|Net amount|\n"},
        {{{104, "amount"}, {100, "Net"}}, "r0|amount Net|\n"},
        {{{100, "Total"}, {103, "Total"}}, "r0|Total|\n"},
        {{{100, ""}, {103, "Total"}}, "r0|Total|\n"},
        {{{100, "Total"}, {103, ""}}, "r0|Total|\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        CConvertEngine engine;
        CellGrid grid(engine);
        Pieces pieces;
        for (const auto& [top, text] : c.pieces) {
            pieces.add(10, top, text);
        }
        build(grid, pieces);
        EXPECT_EQ(dumpGrid(grid), c.expected);
    }
}

// Images that start where another piece of their row starts: texts keep the cell, each image
// takes the next column of its row that no piece starts at, a column inside its own width first.
TEST(CellGrid, AnImageStartingWhereAnotherPieceStartsGetsACellOfItsOwn) {
    struct Piece {
        std::int32_t left;
        std::int32_t top;
        const char* text;  // "*.gif" is an image
        std::int32_t width;
    };
    struct Case {
        const char* name;
        std::vector<Piece> pieces;
        const char* expected;
    };
    const Case cases[] = {
        {"image read first, a column inside it",
         {{10, 100, "logo.gif", 60}, {10, 100, "Title", 50}, {40, 130, "Qty", 20}},
         "r0|Title|logo.gif|\nr1||Qty|\n"},
        {"image read last",
         {{10, 100, "Title", 50}, {40, 130, "Qty", 20}, {10, 103, "logo.gif", 60}},
         "r0|Title|logo.gif|\nr1||Qty|\n"},
        {"the column inside it is taken in the row: a column of its own",
         {{10, 100, "logo.gif", 60}, {10, 100, "Title", 50}, {40, 100, "Qty", 20}},
         "r0|Title|logo.gif|Qty|\n"},
        {"no column inside it",
         {{10, 100, "logo.gif", 20}, {10, 100, "Title", 50}, {40, 130, "Qty", 20}},
         "r0|Title|logo.gif||\nr1|||Qty|\n"},
        {"two images and a text",
         {{10, 100, "paid.gif", 20}, {10, 100, "stamp.gif", 20}, {10, 100, "0.20", 20}},
         "r0|0.20|paid.gif|stamp.gif|\n"},
        {"two images: the first read keeps the cell",
         {{10, 100, "paid.gif", 20}, {10, 100, "stamp.gif", 20}},
         "r0|paid.gif|stamp.gif|\n"},
        {"two texts still share the cell",
         {{10, 100, "logo.gif", 20}, {10, 100, "Net", 20}, {10, 102, "amount", 20}},
         "r0|Net amount|logo.gif|\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CConvertEngine engine;
        CellGrid grid(engine);
        Pieces pieces;
        for (const Piece& p : c.pieces) {
            tagDivInfo* piece = pieces.add(p.left, p.top, p.text);
            piece->width = p.width;
            piece->rightEdge = (p.left + p.width) * 10;
            if (std::string_view(p.text).ends_with(".gif")) {
                piece->kind = kKindImage;
            }
        }
        build(grid, pieces);
        EXPECT_EQ(dumpGrid(grid), c.expected);
    }
}

TEST(CellGrid, CloseTopsShareARow) {
    struct Case {
        std::vector<std::int32_t> tops;
        const char* expected;
    };
    const Case cases[] = {
        {{100, 105}, "100"},
        {{100, 107}, "100"},
        {{100, 109}, "100,109"},
        {{100, 103, 106}, "103"},
        {{100, 103, 106, 110}, "103,110"},
        // The tight pair 106/108 takes 106 away from 100.
        {{100, 106, 108}, "100,106"},
        {{100, 102, 104, 106, 130}, "102,130"},
    };
    for (const Case& c : cases) {
        CConvertEngine engine;
        CellGrid grid(engine);
        Pieces pieces;
        std::int32_t left = 10;
        for (const std::int32_t top : c.tops) {
            pieces.add(left, top, "t" + std::to_string(top));
            left += 60;
        }
        build(grid, pieces);
        EXPECT_EQ(rowTops(grid), c.expected) << c.tops.size() << " tops from " << c.tops[0];
    }
}

TEST(CellGrid, GridOfRowsAndColumns) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces pieces;
    pieces.add(10, 100, "Name");
    pieces.add(100, 105, "Qty");
    pieces.add(10, 120, "Bolt");
    pieces.add(100, 120, "12");
    pieces.add(200, 140, "Total");
    build(grid, pieces);
    EXPECT_EQ(dumpGrid(grid), "r0|Name|Qty||\nr1|Bolt|12||\nr2|||Total|\n");
    EXPECT_EQ(grid.rowInfo(0).top, 100);
    EXPECT_EQ(grid.columnInfo(2).left, 200);
    EXPECT_EQ(grid.rowInfo(1).occupied, 2);
    EXPECT_EQ(grid.columnInfo(0).occupied, 2);

    const tagGridCell& empty = grid.cell(2, 0);
    EXPECT_EQ(empty.occupancy, 2);
    EXPECT_EQ(empty.columnSpan, kNoSpan);
    EXPECT_EQ(empty.rowSpan, kNoSpan);
    const tagGridCell& name = grid.cell(0, 0);
    EXPECT_EQ(name.occupancy, 1);
    EXPECT_EQ(name.rowSpan, 1);
    EXPECT_EQ(name.size, (50u << 16) | 10u);
    EXPECT_EQ(name.backgroundColour, kNoBackground);
}

TEST(CellGrid, JoinDivTexts) {
    struct Case {
        const char* first;
        const char* second;
        const char* expected;
    };
    const Case cases[] = {
        {"Long description that", "wraps here", "Long description that wraps here"},
        {"Order-", "line", "Order-line"},
        {"ABCDEFGHIJ12", "3456", "ABCDEFGHIJ123456"},
        {"ABCDEFGHI", "3456", "ABCDEFGHI 3456"},                // too short for a code
        {"ABCDEFGHIJ", "ABCDEFGHIJ", "ABCDEFGHIJ ABCDEFGHIJ"},  // not longer
        {"ABCDEFGHIJ12", "3456x", "ABCDEFGHIJ12 3456x"},
        {"Kept", "", "Kept"},
        {"", "Alone", "Alone"},
    };
    for (const Case& c : cases) {
        CConvertEngine engine;
        CellGrid grid(engine);
        Pieces pieces;
        tagDivInfo* first = pieces.add(10, 100, c.first);
        tagDivInfo* second = pieces.add(10, 111, c.second);
        grid.JoinDivTexts(first, second);
        EXPECT_EQ(std::string(first->text, static_cast<std::size_t>(first->textLength)),
                  c.expected);
        EXPECT_EQ(first->text[first->textLength], '\0');
    }
}

TEST(CellGrid, WrappedLinesBecomeOneCell) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces pieces;
    pieces.add(10, 80, "Item");
    tagDivInfo* first = pieces.add(100, 80, "Long description that");
    pieces.add(100, 91, "wraps here")->joinedTo = first;
    pieces.add(10, 110, "Bolt");
    pieces.add(100, 110, "Order-");
    pieces.add(10, 130, "Nut");
    build(grid, pieces);
    EXPECT_EQ(dumpGrid(grid),
              "r0|Item|Long description that wraps here|\nr1|Bolt|Order-|\nr2|Nut||\n");
}

// The frame road lays some pieces out twice, on grids of their own.
TEST(CellGrid, AnImageMovedOffASharedCellStartsWhereItIsDrawnOnTheNextGrid) {
    Pieces pieces;
    tagDivInfo* image = pieces.add(10, 100, "logo.gif");
    image->kind = kKindImage;
    image->width = 60;
    image->rightEdge = 700;
    pieces.add(10, 100, "Title");
    pieces.add(40, 130, "Qty");
    {
        CConvertEngine engine;
        CellGrid grid(engine);
        build(grid, pieces);
        EXPECT_EQ(dumpGrid(grid), "r0|Title|logo.gif|\nr1||Qty|\n");
    }
    Pieces other;
    other.add(30, 130, "Price");
    image->next = other.head;
    CConvertEngine engine;
    CellGrid grid(engine);
    ASSERT_TRUE(grid.PlacePiecesInLines(image, nullptr));
    grid.MergeRowLines();
    grid.FillGrid(0, static_cast<std::int32_t>(grid.rowLines().size()), 0,
                  static_cast<std::int32_t>(grid.columnLines().size()));
    EXPECT_EQ(dumpGrid(grid), "r0|logo.gif||\nr1||Price|\n");
}

// The image read first stands between the text and its second line in their column.
TEST(CellGrid, AWrappedLineGoesOnItsTextNotOnAnImageAtItsStart) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces pieces;
    tagDivInfo* image = pieces.add(10, 80, "logo.gif");
    image->kind = kKindImage;
    image->width = 20;
    image->rightEdge = 300;
    tagDivInfo* first = pieces.add(10, 80, "Long description that");
    pieces.add(10, 91, "wraps here")->joinedTo = first;
    pieces.add(100, 110, "Bolt");
    build(grid, pieces);
    EXPECT_EQ(dumpGrid(grid), "r0|Long description that wraps here|logo.gif||\nr1|||Bolt|\n");
}

TEST(CellGrid, JoinToALoneTargetIsCancelled) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces pieces;
    tagDivInfo* first = pieces.add(100, 80, "Heading");
    pieces.add(100, 91, "below")->joinedTo = first;
    pieces.add(100, 110, "Next");
    build(grid, pieces);
    EXPECT_EQ(dumpGrid(grid), "r0|Heading|\nr1|below|\nr2|Next|\n");
}

TEST(CellGrid, TallPieceSpansRowsAboveItsBottom) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces pieces;
    pieces.add(10, 100, "Tall", 40);
    pieces.add(100, 100, "a", 10);
    pieces.add(100, 112, "b", 10);
    pieces.add(100, 124, "c", 10);
    pieces.add(100, 136, "d", 10);
    build(grid, pieces);
    EXPECT_EQ(dumpGrid(grid), "r0|Tall|a|\nr1|^|b|\nr2|^|c|\nr3||d|\n");
    EXPECT_EQ(grid.cell(0, 0).rowSpan, 3);
    EXPECT_EQ(grid.cell(1, 0).rowSpan, 2);
    EXPECT_EQ(grid.cell(2, 0).rowSpan, 1);
    EXPECT_EQ(grid.cell(1, 0).textLength, 0);
    EXPECT_EQ(grid.cell(3, 0).occupancy, 2);
    EXPECT_EQ(grid.rowInfo(1).centre, 117);
    EXPECT_EQ(grid.rowInfo(1).occupied, 2);
}

TEST(CellGrid, PageGoingBackwardsFails) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces pieces;
    pieces.add(10, 50, "second page", 10, 1);
    pieces.add(10, 100, "first page", 10, 0);
    ASSERT_TRUE(grid.PlacePiecesInLines(pieces.head, nullptr));
    grid.MergeRowLines();
    try {
        grid.FillGrid(0, 2, 0, 1);
        FAIL() << "no error";
    } catch (const ConvertError& e) {
        EXPECT_EQ(e.code(), kErrWrongPage);
    }
    std::string text;
    EXPECT_EQ(engine.GetErrorText(text), kErrWrongPage);
    EXPECT_NE(text.find("Encounter Wrong Page Code"), std::string::npos) << text;
}

TEST(CellGrid, LinesAndUnlinking) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces pieces;
    tagDivInfo* right = pieces.add(100, 100, "right");
    tagDivInfo* left = pieces.add(10, 100, "left");
    tagDivInfo* lower = pieces.add(10, 150, "lower");
    tagDivInfo* upper = pieces.add(10, 50, "upper");
    ASSERT_TRUE(grid.PlacePiecesInLines(pieces.head, nullptr));
    ASSERT_EQ(grid.rowLines().size(), 3u);
    const tagRowLineInfo& row = grid.rowLines()[1];
    EXPECT_EQ(row.pieceCount, 2);
    EXPECT_EQ(row.first, left);
    EXPECT_EQ(left->next, right);
    const tagColumnLineInfo& column = grid.columnLines()[0];
    EXPECT_EQ(column.first, upper);
    EXPECT_EQ(upper->nextInColumn, left);
    EXPECT_EQ(left->nextInColumn, lower);

    grid.UnlinkDiv(left);
    EXPECT_FALSE(grid.IsDivListed(left));
    EXPECT_TRUE(grid.IsDivListed(right));
    EXPECT_EQ(grid.rowLines()[1].first, right);
    EXPECT_EQ(grid.rowLines()[1].pieceCount, 1);
    EXPECT_EQ(upper->nextInColumn, lower);
    EXPECT_EQ(grid.columnLines()[0].pieceCount, 2);
}

TEST(CellGrid, ChainPiecesArePlacedToo) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces body;
    body.add(10, 100, "Body");
    Pieces chain;
    chain.add(10, 20, "Header");
    ASSERT_TRUE(grid.PlacePiecesInLines(body.head, chain.head));
    grid.MergeRowLines();
    grid.FillGrid(0, 2, 0, 1);
    EXPECT_EQ(dumpGrid(grid), "r0|Header|\nr1|Body|\n");
}

class OneRegion final : public RegionColours {
public:
    std::uint32_t GetRegionColour(std::int32_t x, std::int32_t y) const override {
        return x >= 1000 && x < 2000 && y >= 900 && y < 1100 ? 0xC0C0C0 : kNoBackground;
    }
};

TEST(CellGrid, BackgroundFromTheRegionUnderTheCentre) {
    CConvertEngine engine;
    OneRegion region;
    CellGrid grid(engine, &region);
    Pieces pieces;
    pieces.add(10, 100, "outside");
    pieces.add(100, 100, "inside");
    build(grid, pieces);
    EXPECT_EQ(grid.cell(0, 0).backgroundColour, kNoBackground);
    EXPECT_EQ(grid.cell(0, 1).backgroundColour, 0xC0C0C0u);
}

TEST(CellGrid, EmptyLinesGiveAnEmptyGrid) {
    CConvertEngine engine;
    CellGrid grid(engine);
    ASSERT_TRUE(grid.PlacePiecesInLines(nullptr, nullptr));
    grid.MergeRowLines();
    grid.FillGrid(0, 0, 0, 0);
    EXPECT_EQ(grid.rowCount(), 0);
    EXPECT_EQ(dumpGrid(grid), "");
}

std::string readFixture(const std::string& name) {
    std::ifstream in(std::string(PAGINOR_CONVERT_FIXTURES) + "/htmlcss/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CellGrid, GridOfAReadReport) {
    const std::string report = readFixture("grid_table.htm");
    ASSERT_FALSE(report.empty());
    CConvertEngine engine;
    StyleSheet styles;
    NullFrameCollector frames;
    const testing::CssReport css = testing::splitCssReport(report);
    styles.ParseStyleSheet(engine, defaultTextMeasurer(), css.head);
    BoxReader reader(engine, styles, defaultTextMeasurer(), frames, {});
    reader.readBoxes(css.batch.html.data(), static_cast<std::int64_t>(css.batch.html.size()),
                     css.batch.offsets.data(), static_cast<std::int32_t>(css.batch.offsets.size()));

    // The grid relinks its pieces, so it works on copies.
    Pieces pieces;
    for (const tagDivInfo* p = reader.firstPiece(); p != nullptr; p = p->next) {
        tagDivInfo* copy =
            pieces.add(p->left, p->top, std::string(p->text, p->textLength), p->height, p->page);
        copy->centre = p->centre;
    }
    CellGrid grid(engine);
    build(grid, pieces);
    EXPECT_EQ(dumpGrid(grid), "r0|Name|Qty|\nr1|Bolt|12|\nr2|Nut|7|\nr3|Washer|30|\n");
    EXPECT_EQ(grid.rowInfo(3).page, 1);
}

// A tall piece gets covered copies in the lines it reaches, up to the next piece of its column
// and never where another piece overlaps it.
TEST(CellGrid, SpreadTallPiecesCopyIntoTheLinesTheyReach) {
    CConvertEngine engine;
    CellGrid grid(engine);
    Pieces pieces;
    tagDivInfo* tall = pieces.add(0, 0, "Tall", 40);
    pieces.add(100, 0, "a");
    pieces.add(100, 12, "b");
    pieces.add(100, 24, "c");
    pieces.add(100, 36, "d");
    tagDivInfo* bounded = pieces.add(200, 0, "Bounded", 40);
    pieces.add(200, 24, "e");
    tagDivInfo* blocked = pieces.add(300, 0, "Blocked", 40);
    pieces.add(320, 12, "f");
    ASSERT_TRUE(grid.PlacePiecesInLines(pieces.head, nullptr));
    std::deque<tagDivInfo> copies;
    grid.SpreadTallPieces([&] { return &copies.emplace_back(); });
    grid.FillGrid(0, static_cast<std::int32_t>(grid.rowLines().size()), 0,
                  static_cast<std::int32_t>(grid.columnLines().size()));
    EXPECT_EQ(tall->rowSpan, 4);
    EXPECT_EQ(bounded->rowSpan, 2);
    EXPECT_EQ(blocked->rowSpan, 1);
    EXPECT_EQ(copies.size(), 4u);
    // The grid then extends the tall cells over the rows left empty below them.
    EXPECT_EQ(dumpGrid(grid),
              "r0|Tall|a|Bounded|Blocked||\n"
              "r1|^|b|^|^|f|\n"
              "r2|^|c|e|^|^|\n"
              "r3|^|d|^|^|^|\n");
}

}  // namespace
}  // namespace paginor
