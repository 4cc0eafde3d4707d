#include <gtest/gtest.h>

#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::dumpRecords;
using testing::makeBatch;
using testing::runHtml;
using testing::RunOptions;

std::string page(const std::string& rows) {
    return "<!--9876543210_PageMark_Head--><table>" + rows + "</table>";
}

std::string header(int columns) {
    std::string html = "<tr>";
    for (int c = 0; c < columns; ++c) {
        html += "<td width=\"60\">H" + std::to_string(c) + "</td>";
    }
    return html + "</tr>";
}

// Labels that span down beside the row they name become one output row with it.
TEST(OutputRecords, RowOfTwoRowLabelsTakesTheNextRowIn) {
    const std::string rows = header(7) +
                             "<tr><td rowspan=\"2\">North</td><td rowspan=\"2\">Q1</td></tr>"
                             "<tr><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td></tr>";
    RunOptions o;
    o.kind = kOutputRecords;
    const auto r = runHtml(makeBatch({page(rows), page(rows)}), o);
    const std::string onePage =
        "r0 c0 1x1 k0 'H0'\nr0 c1 1x1 k0 'H1'\nr0 c2 1x1 k0 'H2'\nr0 c3 1x1 k0 'H3'\n"
        "r0 c4 1x1 k0 'H4'\nr0 c5 1x1 k0 'H5'\nr0 c6 1x1 k0 'H6'\n"
        "r1 c0 1x1 k0 'North'\nr1 c1 1x1 k0 'Q1'\nr1 c2 1x1 k0 '1'\nr1 c3 1x1 k0 '2'\n"
        "r1 c4 1x1 k0 '3'\nr1 c5 1x1 k0 '4'\nr1 c6 1x1 k0 '5'\n";
    std::string expected;
    for (const char* p : {"p0 ", "p1 "}) {
        for (std::size_t at = 0; at < onePage.size();) {
            const std::size_t end = onePage.find('\n', at) + 1;
            expected += p + onePage.substr(at, end - at);
            at = end;
        }
    }
    EXPECT_EQ(dumpRecords(r.records), expected);
    EXPECT_EQ(r.pages[0].recordCount, 14u);
    EXPECT_EQ(r.pages[0].rowCount, 2u);
}

// Rows whose records would land on the same cells are never merged.
TEST(OutputRecords, OverlappingRowsStayApart) {
    const std::string rows = header(7) +
                             "<tr><td rowspan=\"2\">North</td><td rowspan=\"2\">Q1</td>"
                             "<td colspan=\"5\">note</td></tr>"
                             "<tr><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td></tr>";
    RunOptions o;
    o.kind = kOutputRecords;
    const auto r = runHtml(makeBatch({page(rows), page(rows)}), o);
    std::int32_t lastRow = 0;
    for (const auto& rec : r.records) {
        lastRow = std::max(lastRow, rec.row);
    }
    EXPECT_EQ(lastRow, 2) << dumpRecords(r.records);
}

}  // namespace
}  // namespace paginor
