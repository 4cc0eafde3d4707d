#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <set>

#include "convert/read/box_reader.h"
#include "convert/layout/cell_grid.h"
#include "convert/layout/column_scoring.h"
#include "tests/convert/convert_harness.h"
#include "tests/convert/engine_test_access.h"

namespace paginor {
namespace {

using testing::makeBatch;
using testing::RunOptions;

// Within a row, every record starts right of the previous one's span, inside the columns.
void expectRecordsInColumnOrder(const testing::RunResult& r, int trial) {
    std::map<std::pair<int, int>, int> last;
    for (const auto& rec : r.records) {
        const auto key = std::make_pair(rec.page, rec.row);
        const auto found = last.find(key);
        if (found != last.end()) {
            EXPECT_GT(rec.column, found->second) << "trial " << trial;
        }
        last[key] = rec.column + rec.columnSpan - 1;
        EXPECT_LT(rec.column + rec.columnSpan - 1, r.columns) << "trial " << trial;
    }
}

void expectHtmlRecordsInColumnOrder(const std::vector<std::string>& pages, int trial) {
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtml, nullptr, 0, false);
    RunOptions o;
    o.kind = kOutputRecords;
    testing::RunResult r;
    ASSERT_NO_THROW(r = testing::run(engine, makeBatch(pages), o)) << "trial " << trial;
    expectRecordsInColumnOrder(r, trial);
}

// Random pages (fixed seed): random widths, spans, empty cells and alignments. The optimiser's
// final checks must hold and the records must keep strictly increasing columns in every row.
TEST(ColumnOptimiser, PropertyOnRandomGrids) {
    std::mt19937 random(20240611);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<std::string> pages;
        const int pageCount = 1 + static_cast<int>(random() % 3);
        for (int p = 0; p < pageCount; ++p) {
            const int columns = 1 + static_cast<int>(random() % 7);
            std::string html = "<!--9876543210_PageMark_Head--><table><tr>";
            for (int c = 0; c < columns; ++c) {
                html += "<td width=\"" + std::to_string(5 + random() % 60) + "\">h" +
                        std::to_string(c) + "</td>";
            }
            html += "</tr>";
            const int rows = static_cast<int>(random() % 12);
            for (int r = 0; r < rows; ++r) {
                html += "<tr>";
                for (int c = 0; c < columns;) {
                    const int span = 1 + static_cast<int>(random() % 3);
                    const char* align[] = {"", " align=right", " align=center", " align=left"};
                    html += "<td colspan=" + std::to_string(span) +
                            (random() % 5 == 0 ? " rowspan=2" : "") + align[random() % 4] + ">" +
                            (random() % 4 == 0 ? "" : "v" + std::to_string(random() % 100)) +
                            "</td>";
                    c += span;
                }
                html += "</tr>";
            }
            pages.push_back(html + "</table>");
        }
        expectHtmlRecordsInColumnOrder(pages, trial);
    }
}

TEST(ColumnOptimiser, ColumnPenalty) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {{1, 18}, {2, 28}, {3, 43}, {10, 113}};
    for (const auto& [n, expected] : cases) {
        EXPECT_EQ(ColumnPenalty(n), expected) << n;
    }
}

std::string amounts(int region, int product, int amount, int seed) {
    std::string html =
        "<!--9876543210_PageMark_Head--><table><tr><td width=" + std::to_string(region) +
        ">Region</td><td width=" + std::to_string(product) +
        ">Product</td><td width=" + std::to_string(amount) + " align=right>Amount</td></tr>";
    for (int r = 0; r < 4; ++r) {
        html += "<tr><td>R" + std::to_string(r) + "</td><td>P" + std::to_string(seed) +
                "</td><td align=right>" + std::to_string(r * 7 + seed) + "</td></tr>";
    }
    return html + "</table>";
}

// Right-aligned amounts end at the same edge on pages whose columns start elsewhere: they keep
// one output column.
TEST(ColumnOptimiser, RightAlignedAmountsOfDifferentLayoutsShareAColumn) {
    RunOptions o;
    o.kind = kOutputRecords;
    const auto r = testing::runHtml(
        makeBatch({amounts(100, 100, 100, 1), amounts(100, 60, 140, 2), amounts(120, 80, 100, 3)}),
        o);
    EXPECT_EQ(r.columns, 4);
    for (const auto& rec : r.records) {
        const std::string text(rec.text, static_cast<std::size_t>(rec.textLength));
        const int expected = text[0] == 'R' ? 0 : text[0] == 'P' ? (rec.page == 2 ? 2 : 1) : 3;
        EXPECT_EQ(rec.column, expected) << "page " << rec.page << " " << text;
    }
}

// Rows that fill every column keep every column, though no count below the column count wins.
TEST(ColumnOptimiser, FullRowsKeepEveryColumn) {
    const std::string html =
        "<!--9876543210_PageMark_Head--><table><tr><td width=40>a</td><td width=40>b</td>"
        "<td width=40>c</td></tr><tr><td>d</td><td>e</td><td>f</td></tr></table>";
    EXPECT_EQ(testing::dumpText(testing::runHtml(makeBatch({html, html})).text),
              "r0|a|b|c|\nr1|d|e|f|\nr2|a|b|c|\nr3|d|e|f|\n");
}

// Long pages of spanning, right-aligned cells over shifted layouts reach the run vote; its
// picks and planned moves must keep the final checks.
TEST(ColumnOptimiser, PropertyOnDenseRandomPages) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<std::string> pages;
        const int columns = 3 + static_cast<int>(random() % 5);
        for (int p = 0; p < 3; ++p) {
            std::string html = "<!--9876543210_PageMark_Head--><table><tr>";
            for (int c = 0; c < columns; ++c) {
                html += "<td width=" + std::to_string(30 + random() % 40) + ">h</td>";
            }
            html += "</tr>";
            for (int r = 0; r < 20; ++r) {
                html += "<tr>";
                for (int c = 0; c < columns;) {
                    const int span = random() % 6 == 0 ? 2 : 1;
                    html += "<td colspan=" + std::to_string(span) +
                            (random() % 2 == 0 ? " align=right" : "") +
                            (random() % 9 == 0 ? " rowspan=2" : "") + ">" +
                            std::to_string(random() % 1000) + "</td>";
                    c += span;
                }
                html += "</tr>";
            }
            pages.push_back(html + "</table>");
        }
        expectHtmlRecordsInColumnOrder(pages, trial);
    }
}

using Access = EngineTestAccess;

TEST(ColumnOptimiser, ColumnScore) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, 12525}, {1, 10332}, {14, 23}, {15, 0}, {16, 0}, {0xFFFFFFFFu, 0}};
    for (const auto& [d, expected] : cases) {
        EXPECT_EQ(ColumnScore(d), expected) << d;
    }
}

// The hill of an edge near the array's ends is cut off there, never written past them.
TEST(ColumnOptimiser, AddScoreWindowStaysInsideTheArray) {
    std::vector<std::uint64_t> slots(8, 0);
    AddScoreWindow(slots.data() + 1, 2, 5);
    const std::vector<std::uint64_t> expected = {
        0, ColumnScore(2), ColumnScore(1), ColumnScore(0), ColumnScore(1), ColumnScore(2), 0, 0};
    EXPECT_EQ(slots, expected);
}

// A box on the HTMLCSS grid: its row, left edge and width in points, its text, and how many
// rows it reaches down.
struct Box {
    std::int32_t row;
    std::int32_t left;
    std::int32_t width;
    std::string text;
    std::int32_t rows = 1;
};

// Builds the grid the way the cell-grid builder leaves it: one column per distinct left edge,
// empty positions marked covered, tall boxes continued by copies in the rows below.
class CssGrid {
public:
    CssGrid(std::int32_t rows, const std::vector<Box>& boxes, std::int32_t pages = 1) {
        Access::setMode(engine, kFormatHtmlCss);
        Access::setPageCount(engine, pages);
        std::set<std::int32_t> lefts;
        for (const Box& b : boxes) {
            lefts.insert(b.left);
        }
        const std::vector<std::int32_t> columns(lefts.begin(), lefts.end());
        Access::allocGrid(engine, rows, static_cast<std::int32_t>(columns.size()));
        for (std::size_t c = 0; c < columns.size(); ++c) {
            Access::column(engine, static_cast<std::int32_t>(c)).left = columns[c];
        }
        for (std::int32_t r = 0; r < rows; ++r) {
            Access::row(engine, r).top = 100 + 20 * r;
            Access::row(engine, r).page = r * pages / rows;
        }
        for (std::int32_t r = 0; r < rows; ++r) {
            for (std::size_t c = 0; c < columns.size(); ++c) {
                tagGridCell& cell = Access::cell(engine, r, static_cast<std::int32_t>(c));
                cell.occupancy = 2;
                cell.columnSpan = kNoSpan;
                cell.rowSpan = kNoSpan;
            }
        }
        for (const Box& b : boxes) {
            const auto c = static_cast<std::int32_t>(
                std::find(columns.begin(), columns.end(), b.left) - columns.begin());
            tagDivInfo& piece = pieces.emplace_back();
            piece.left = b.left;
            piece.top = 100 + 20 * b.row;
            piece.width = b.width;
            piece.height = 12 + 20 * (b.rows - 1);
            piece.text = texts.emplace_back(b.text).c_str();
            piece.textLength = static_cast<std::int32_t>(b.text.size());
            for (std::int32_t k = 0; k < b.rows; ++k) {
                tagGridCell& cell = Access::cell(engine, b.row + k, c);
                cell = tagGridCell{};
                cell.occupancy = 1;
                cell.text = piece.text;
                cell.textLength = k == 0 ? piece.textLength : 0;
                cell.kind = k == 0 ? kKindText : kKindCoveredCopy;
                cell.width = b.width;
                cell.piece = &piece;
                cell.columnSpan = 1;
                cell.rowSpan = b.rows - k;
                cell.size = static_cast<std::uint32_t>(b.width) << 16 | 12;
            }
        }
        Access::countCells(engine);
    }

    // "r0: 0'Label' 1'Amount'+2" per row: the ordinal, the text, the column span when above 1.
    std::string dump() {
        std::string out = "columns " + std::to_string(engine.ordinalLimit()) + "\n";
        for (std::int32_t r = 0; r < engine.rowCount(); ++r) {
            out += "r" + std::to_string(r) + ":";
            for (std::int32_t c = 0; c < engine.columnCount(); ++c) {
                const tagGridCell& cell = engine.cell(r, c);
                if (cell.text == nullptr || cell.kind == kKindCoveredCopy) {
                    continue;
                }
                out += " " + std::to_string(cell.outputColumn) + "'" +
                       std::string(cell.text, static_cast<std::size_t>(cell.textLength)) + "'";
                if (cell.columnSpan > 1) {
                    out += "+" + std::to_string(cell.columnSpan);
                }
                if (cell.rowSpan > 1) {
                    out += "v" + std::to_string(cell.rowSpan);
                }
            }
            out += "\n";
        }
        return out;
    }

    std::int32_t columnAt(std::int32_t left) {
        for (std::int32_t c = 0; c < engine.columnCount(); ++c) {
            if (Access::column(engine, c).left == left) {
                return Access::column(engine, c).ordinal;
            }
        }
        return -2;
    }

    CConvertEngine engine;
    std::deque<tagDivInfo> pieces;
    std::deque<std::string> texts;
};

// Labels, then numbers right-aligned on one edge whose left edges wander with their widths.
std::vector<Box> rightAlignedAmounts(std::int32_t rows) {
    std::vector<Box> boxes;
    const std::int32_t lefts[] = {150, 152, 158, 164};
    for (std::int32_t r = 0; r < rows; ++r) {
        boxes.push_back({r, 36, 40, "L" + std::to_string(r)});
        const std::int32_t left = r == 0 ? 150 : lefts[1 + r % 3];
        boxes.push_back({r, left, 170 - left, r == 0 ? "Amount" : std::to_string(r)});
    }
    return boxes;
}

// The right edges win the vote: the header and every number share one column, the header's.
TEST(ColumnOptimiserHtmlCss, RightAlignedNumbersShareTheirHeadersColumn) {
    CssGrid grid(8, rightAlignedAmounts(8), 2);
    Access::optimiseColumns(grid.engine, false);
    EXPECT_EQ(grid.dump(),
              "columns 2\nr0: 0'L0' 1'Amount'\nr1: 0'L1' 1'1'\nr2: 0'L2' 1'2'\nr3: 0'L3' 1'3'\n"
              "r4: 0'L4' 1'4'\nr5: 0'L5' 1'5'\nr6: 0'L6' 1'6'\nr7: 0'L7' 1'7'\n");
    EXPECT_EQ(grid.columnAt(150), 1);
}

// Centred boxes 40 points apart on the left share a column, placed at the smallest left edge.
TEST(ColumnOptimiserHtmlCss, CentredBoxesTakeTheSmallestLeftEdge) {
    std::vector<Box> boxes;
    const std::int32_t lefts[] = {290, 250, 270};
    for (std::int32_t r = 0; r < 9; ++r) {
        boxes.push_back({r, 36, 40, "L"});
        const std::int32_t left = lefts[r % 3];
        boxes.push_back({r, left, 2 * (300 - left), "C" + std::to_string(r)});
    }
    CssGrid grid(9, boxes, 2);
    Access::optimiseColumns(grid.engine, false);
    EXPECT_EQ(grid.engine.ordinalLimit(), 2) << grid.dump();
    EXPECT_EQ(grid.columnAt(250), 1);
    EXPECT_EQ(grid.columnAt(270), -1);
    EXPECT_EQ(grid.columnAt(290), -1);
}

// A one-page batch of at most 6 content rows votes with the lower factor: four right edges out
// of six rows make a column there, four out of seven do not.
TEST(ColumnOptimiserHtmlCss, SmallOnePageBatchVotesRelaxed) {
    struct Case {
        std::int32_t rows;
        std::int32_t columns;
    };
    for (const Case& c : {Case{6, 3}, Case{7, 6}}) {
        std::vector<Box> boxes;
        const std::int32_t lefts[] = {200, 220, 240, 260};
        for (std::int32_t r = 0; r < c.rows; ++r) {
            boxes.push_back({r, 36, 40, "L"});
            if (r < 4) {
                boxes.push_back({r, lefts[r], 300 - lefts[r], "R" + std::to_string(r)});
            } else {
                boxes.push_back({r, 400, 50, "X"});
            }
        }
        CssGrid grid(c.rows, boxes);
        Access::optimiseColumns(grid.engine, false);
        EXPECT_EQ(grid.engine.ordinalLimit(), c.columns) << c.rows << " rows\n" << grid.dump();
    }
}

// Spans from the box's right edge over the surviving columns, stopped by any cell of the box's
// rows placed further right, wherever that cell stands in the grid.
TEST(ColumnOptimiserHtmlCss, MergeSpannedCellsFollowsTheBoxRightEdge) {
    struct Case {
        const char* name;
        std::vector<Box> boxes;
        std::vector<std::int32_t> ordinals;  // per box
        std::string expected;
    };
    const std::vector<Box> columns = {
        {2, 0, 10, "a"}, {2, 100, 10, "b"}, {2, 200, 10, "c"}, {2, 300, 10, "d"}};
    auto with = [&](std::vector<Box> boxes) {
        boxes.insert(boxes.end(), columns.begin(), columns.end());
        return boxes;
    };
    const Case cases[] = {
        {"reaches over three columns",
         with({{0, 0, 300, "W"}}),
         {0, 0, 1, 2, 3},
         "r0: 0'W'+3\nr1:\n"},
        {"a cell of its row ends it",
         with({{0, 0, 300, "W"}, {0, 200, 10, "x"}}),
         {0, 2, 0, 1, 2, 3},
         "r0: 0'W'+2 2'x'\nr1:\n"},
        {"a cell of its second row ends it",
         with({{0, 0, 300, "W", 2}, {1, 100, 10, "x"}}),
         {0, 1, 0, 1, 2, 3},
         "r0: 0'W'v2\nr1: 1'x'\n"},
        {"a cell placed right from further left ends it",
         with({{0, 100, 300, "W", 2}, {1, 0, 10, "x"}}),
         {1, 2, 0, 1, 2, 3},
         "r0: 1'W'v2\nr1: 2'x'\n"},
        {"the last column takes no span",
         with({{0, 300, 500, "W"}}),
         {3, 0, 1, 2, 3},
         "r0: 3'W'\nr1:\n"},
    };
    for (const Case& c : cases) {
        CssGrid grid(3, c.boxes);
        for (std::int32_t col = 0; col < 4; ++col) {
            Access::column(grid.engine, col).ordinal = col;
        }
        Access::outputColumnCount(grid.engine) = 4;
        for (std::size_t i = 0; i < c.boxes.size(); ++i) {
            const Box& b = c.boxes[i];
            for (std::int32_t k = 0; k < b.rows; ++k) {
                Access::cell(grid.engine, b.row + k, b.left / 100).outputColumn = c.ordinals[i];
            }
        }
        Access::mergeSpannedCells(grid.engine);
        const std::string dump = grid.dump();
        EXPECT_EQ(dump.substr(dump.find('\n') + 1, dump.find("r2:") - dump.find('\n') - 1),
                  c.expected)
            << c.name;
    }
}

// For the spreadsheet writers a box two rows tall gives its second row to a taller box that
// starts there; delimited text keeps the span.
TEST(ColumnOptimiserHtmlCss, TwoRowSpanGivesWayToATallerBoxBelow) {
    for (const std::int32_t kind : {kOutputRecords, kOutputDelimited}) {
        std::vector<Box> boxes;
        for (std::int32_t r = 0; r < 8; ++r) {
            boxes.push_back({r, 36, 40, "L" + std::to_string(r)});
        }
        boxes.push_back({2, 200, 40, "Two", 2});
        boxes.push_back({3, 300, 40, "Three", 3});
        CssGrid grid(8, boxes, 2);
        Access::setOutputKind(grid.engine, kind);
        Access::optimiseColumns(grid.engine, false);
        const std::string dump = grid.dump();
        const std::string two = kind == kOutputRecords ? "'Two'\n" : "'Two'v2\n";
        EXPECT_NE(dump.find(two), std::string::npos) << kind << "\n" << dump;
        EXPECT_NE(dump.find("'Three'v3"), std::string::npos) << kind << "\n" << dump;
    }
}

// An order listing: order rows carry number, date and customer; the further lines of an order
// carry only item, quantity, unit price and amount. Numbers are right-aligned in fixed boxes, so
// their left edges move with their widths.
testing::Batch orderListing() {
    struct Line {
        const char* order;
        const char* item;
        const char* qty;
        const char* price;
        const char* amount;
    };
    const Line lines[] = {
        {"104216", "Binder", "4", "5.85", "23.40"},
        {"104219", "Copy Paper", "3", "42.50", "127.50"},
        {nullptr, "Flash Drive", "24", "15.95", "382.80"},
        {"104221", "Organizer", "1", "19.99", "19.99"},
        {nullptr, "Monitor Stand", "10", "44.00", "440.00"},
        {"104224", "Folders", "1", "14.80", "14.80"},
        {nullptr, "Chair", "1", "289.00", "289.00"},
        {nullptr, "Pens", "2", "6.25", "12.50"},
        {"104227", "Shredder", "1", "149.99", "149.99"},
    };
    auto span = [](int top, int left, int width, const std::string& text, bool right = false,
                   const char* style = "c3") {
        return "<span class=\"" + std::string(style) +
               "\" style=\"position:absolute; top:" + std::to_string(top) +
               "pt; left:" + std::to_string(left) + "pt; width:" + std::to_string(width) + "pt" +
               (right ? "; text-align:right" : "") + "\">" + text + "</span>";
    };
    // The bold heading is the widest box of its column: it sets the column's left edge.
    std::string html =
        "<!--PAGE-->" + span(102, 38, 46, "Order No.", false, "c4") +
        span(102, 86, 56, "Order Date", false, "c4") +
        span(102, 144, 136, "Customer", false, "c4") + span(102, 282, 136, "Item", false, "c4") +
        span(102, 418, 30, "Qty", true, "c4") + span(102, 452, 56, "Unit Price", true, "c4") +
        span(102, 512, 64, "Amount", true, "c4");
    int top = 124;
    for (const Line& line : lines) {
        if (line.order != nullptr) {
            html += span(top, 38, 44, line.order) + span(top, 86, 54, "02-JAN-2024") +
                    span(top, 144, 134, "Customer " + std::string(line.order));
        }
        html += span(top, 282, 134, line.item) + span(top, 418, 30, line.qty, true) +
                span(top, 452, 56, line.price, true) + span(top, 512, 64, line.amount, true);
        top += 18;
    }
    return makeBatch({html});
}

// Only the order rows vote, so the further lines of an order find the unit-price column by
// matching alone; a narrow price there must not open a column of its own beside it.
TEST(ColumnOptimiserHtmlCss, RightAlignedPricesOfRowsThatDoNotVoteShareTheColumn) {
    const std::string head =
        "<style>#c3 {font:8pt Arial; color:#000000}</style>"
        "<style>#c4 {font:bold 8pt Arial; color:#000000}</style>";
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtmlCss, head.data(), static_cast<std::int64_t>(head.size()),
                false);
    const testing::RunResult r = testing::run(engine, orderListing());
    EXPECT_EQ(r.columns, 7);
    EXPECT_EQ(testing::dumpText(r.text),
              "r0|Order No.|Order Date|Customer|Item|Qty|Unit Price|Amount|\n"
              "r1|104216|02-JAN-2024|Customer 104216|Binder|4|5.85|23.40|\n"
              "r2|104219|02-JAN-2024|Customer 104219|Copy Paper|3|42.50|127.50|\n"
              "r3||||Flash Drive|24|15.95|382.80|\n"
              "r4|104221|02-JAN-2024|Customer 104221|Organizer|1|19.99|19.99|\n"
              "r5||||Monitor Stand|10|44.00|440.00|\n"
              "r6|104224|02-JAN-2024|Customer 104224|Folders|1|14.80|14.80|\n"
              "r7||||Chair|1|289.00|289.00|\n"
              "r8||||Pens|2|6.25|12.50|\n"
              "r9|104227|02-JAN-2024|Customer 104227|Shredder|1|149.99|149.99|\n");
}

// Random HTMLCSS pages (fixed seed) through the entry: texts, right-aligned amounts and tall
// images at random places. The optimiser's final checks must hold, and the records of a row
// must never overlap.
TEST(ColumnOptimiserHtmlCss, PropertyOnRandomPages) {
    const std::string head =
        "<style type=\"text/css\">div{position:absolute;}</style>"
        "<style>#d1 {font:9pt \"Arial\"; color:#000000}</style>";
    std::mt19937 random(4711);
    for (int trial = 0; trial < 120; ++trial) {
        testing::Batch batch;
        const int pages = 1 + static_cast<int>(random() % 3);
        const int columns = 2 + static_cast<int>(random() % 6);
        std::vector<int> lefts;
        for (int c = 0; c < columns; ++c) {
            lefts.push_back(36 + c * 80 + static_cast<int>(random() % 20));
        }
        for (int p = 0; p < pages; ++p) {
            batch.offsets.push_back(static_cast<std::int64_t>(batch.html.size()));
            std::string html = "<!--PAGE-->";
            const int rows = 1 + static_cast<int>(random() % 15);
            int top = p * 1200 + 40;
            for (int r = 0; r < rows; ++r) {
                top += random() % 8 == 0 ? 70 : 16;
                for (int c = 0; c < columns; ++c) {
                    const int left = lefts[c] + static_cast<int>(random() % 40) - 20;
                    const std::string at =
                        "top:" + std::to_string(top) + "pt;left:" + std::to_string(left) + "pt";
                    switch (random() % 6) {
                        case 0:
                            break;
                        case 1:
                            html += "<span class=\"d1\" style=\"position:absolute;" + at +
                                    ";width:" + std::to_string(20 + random() % 150) +
                                    "pt;text-align:right\">" + std::to_string(random() % 100000) +
                                    "</span>";
                            break;
                        case 2:
                            html += "<div style=\"" + at + "\"><img src=\"i.gif\" width=\"" +
                                    std::to_string(10 + random() % 200) + "\" height=\"" +
                                    std::to_string(10 + random() % 80) + "\"></div>";
                            break;
                        default:
                            html += "<div id=\"d1\" style=\"" + at + "\">t" +
                                    std::string(random() % 30, 'x') + "</div>";
                    }
                }
            }
            batch.html += html;
        }
        for (const std::int32_t kind : {kOutputRecords, kOutputDelimited}) {
            CConvertEngine engine;
            engine.Init(nullptr, kFormatHtmlCss, head.data(),
                        static_cast<std::int64_t>(head.size()), false);
            RunOptions o;
            o.kind = kind;
            testing::RunResult r;
            ASSERT_NO_THROW(r = testing::run(engine, batch, o))
                << "trial " << trial << " error " << engine.errorCode();
            expectRecordsInColumnOrder(r, trial);
        }
    }
}

}  // namespace
}  // namespace paginor
