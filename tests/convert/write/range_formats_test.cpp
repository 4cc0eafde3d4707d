#include <gtest/gtest.h>

#include <string>

#include "convert/write/range_formats.h"
#include "tests/convert/write/fake_excel.h"

namespace paginor {
namespace {

using testing::FakeExcelLog;
using testing::FakeExcelSettings;
using testing::FakeWorksheet;

std::string addAll(const CRangeFormatLists& lists, std::initializer_list<const char*> cells) {
    std::string list;
    for (const char* cell : cells) {
        lists.AddCellToRangeList(cell, list);
    }
    return list;
}

TEST(RangeFormats, JoinsCellsOfAColumnTable) {
    CRangeFormatLists lists;
    const struct {
        std::initializer_list<const char*> cells;
        const char* list;
    } cases[] = {
        {{"B3", "B5", "B4"}, "B3:B5"},
        {{"B3", "B4", "B5"}, "B3:B5"},
        {{"B1", "C1"}, "B1,C1"},
        {{"B5", "B4", "B3"}, "B3:B5"},
        {{"B3:D5", "D6"}, "B3:D5,D6"},
        {{"D2:D5", "D6", "D7"}, "D2:D7"},
        {{"D7:D9", "D6"}, "D6:D9"},
        {{"B2", "AB3"}, "B2,AB3"},
        {{"B12", "B1", "B11"}, "B1,B11:B12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(addAll(lists, c.cells), c.list);
    }
    lists.setListSeparator(';');
    EXPECT_EQ(addAll(lists, {"B3", "B5", "D2", "B4"}), "D2;B3:B5");
}

TEST(RangeFormats, CutsLongListsIntoChunksAtSeparators) {
    FakeExcelLog log;
    FakeExcelSettings settings;
    FakeWorksheet sheet(log, settings, 1);
    CRangeFormatLists lists;
    // Cells of different columns never join: the list grows item by item.
    std::string expected;
    int row = 1;
    while (expected.size() < 520) {
        const std::string cell = (row % 2 == 0 ? "C" : "E") + std::to_string(row * 2);
        if (!expected.empty()) {
            expected += ',';
        }
        expected += cell;
        lists.AddBoldRange(cell, sheet);
        ++row;
        if (!log.calls.empty()) {
            break;
        }
    }
    ASSERT_EQ(log.calls.size(), 1u);
    const std::string& call = log.calls[0];
    ASSERT_TRUE(call.starts_with("Range(") && call.ends_with(").Font.Bold=1")) << call;
    const std::string chunk = call.substr(6, call.size() - 6 - 13);
    EXPECT_LE(chunk.size(), 250u);
    EXPECT_GE(chunk.size(), 200u);
    EXPECT_EQ(expected.compare(0, chunk.size() + 1, chunk + ","), 0);
    lists.FlushPendingFormats(sheet);
    std::string applied;
    for (const auto& c : log.calls) {
        applied += (applied.empty() ? "" : ",") + c.substr(6, c.size() - 6 - 13);
    }
    EXPECT_EQ(applied, expected);
}

TEST(RangeFormats, FlushAppliesEveryKindAndLimitOneSendsEachRange) {
    FakeExcelLog log;
    FakeExcelSettings settings;
    FakeWorksheet sheet(log, settings, 1);
    CRangeFormatLists lists;
    lists.AddBoldRange("B3", sheet);
    lists.AddAlignmentRange("C3", 2, sheet);
    lists.AddAlignmentRange("D3", 0, sheet);
    lists.AddFontSizeRange("B3", 12, sheet);
    lists.AddFontColorRange("B4", 0x0000FF, sheet);
    lists.AddFontNameRange("B5", "Arial", sheet);
    lists.AddInteriorColorRange("B3:C4", 0xC8C8C8, sheet);
    EXPECT_TRUE(log.calls.empty());
    lists.FlushPendingFormats(sheet);
    const std::vector<std::string> expected = {
        "Range(B3).Font.Bold=1",
        "Range(D3).HorizontalAlignment=2",
        "Range(C3).HorizontalAlignment=3",
        "Range(B3).Font.Size=12",
        "Range(B4).Font.Color=0000FF",
        "Range(B5).Font.Name=Arial",
        "Range(B3:C4).Interior.Color=C8C8C8",
    };
    EXPECT_EQ(log.calls, expected);

    log.calls.clear();
    lists.setRangeListLimit(1);
    lists.AddBoldRange("B3", sheet);
    lists.AddBoldRange("D3", sheet);
    lists.AddBoldRange("F3", sheet);
    lists.FlushPendingFormats(sheet);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"Range(B3).Font.Bold=1", "Range(D3).Font.Bold=1",
                                                   "Range(F3).Font.Bold=1"}));
}

}  // namespace
}  // namespace paginor
