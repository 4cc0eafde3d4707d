#include <gtest/gtest.h>

#include <map>
#include <random>

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
