#include <gtest/gtest.h>

#include <map>
#include <random>

#include "convert/column_scoring.h"
#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::makeBatch;
using testing::RunOptions;

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
        CConvertEngine engine;
        engine.Init(nullptr, kFormatHtml, nullptr, 0, false);
        RunOptions o;
        o.kind = kOutputRecords;
        testing::RunResult r;
        ASSERT_NO_THROW(r = testing::run(engine, makeBatch(pages), o)) << "trial " << trial;
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
}

}  // namespace
}  // namespace paginor

namespace paginor {
namespace {

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
        CConvertEngine engine;
        engine.Init(nullptr, kFormatHtml, nullptr, 0, false);
        RunOptions o;
        o.kind = kOutputRecords;
        testing::RunResult r;
        ASSERT_NO_THROW(r = testing::run(engine, makeBatch(pages), o)) << "trial " << trial;
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
}

}  // namespace
}  // namespace paginor
