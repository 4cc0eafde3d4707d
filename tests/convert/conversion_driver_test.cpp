#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "convert/conversion_driver.h"

namespace paginor {
namespace {

// Batches of a range over synthetic pages: byte lengths and first-row width lists.
std::vector<std::int32_t> batchesOf(std::int32_t first, std::int32_t last, bool html,
                                    const std::map<std::int32_t, std::string>& widths,
                                    const std::map<std::int32_t, std::int64_t>& lengths,
                                    bool pageByPage = false, bool sameLayout = false) {
    BatchSource source;
    source.html = html;
    source.pageLength = [&](std::int32_t p) {
        const auto it = lengths.find(p);
        return it == lengths.end() ? std::int64_t{1000} : it->second;
    };
    source.layout = [&](std::int32_t p) {
        const auto it = widths.upper_bound(p);
        const std::string list = it == widths.begin() ? "100,50," : std::prev(it)->second;
        std::string page = "<table border=0><tr>";
        for (std::size_t at = 0, end; at < list.size(); at = end + 1) {
            end = list.find(',', at);
            page += "<td width=" + list.substr(at, end - at) + ">x</td>";
        }
        return ParseFirstRowWidths(page + "</tr></table>");
    };
    std::vector<std::int32_t> sizes;
    BatchLayoutState state;
    for (std::int32_t next = first;;) {
        const std::int32_t size =
            GetNextBatchSize(source, last, next, state, pageByPage, sameLayout);
        if (size == 0) {
            return sizes;
        }
        sizes.push_back(size);
        next += size;
    }
}

TEST(Batch, Sizes) {
    using Sizes = std::vector<std::int32_t>;
    EXPECT_EQ(batchesOf(1, 239, true, {}, {}), (Sizes{119, 120}));
    EXPECT_EQ(batchesOf(1, 238, true, {}, {}), (Sizes{238}));
    EXPECT_EQ(batchesOf(1, 239, false, {}, {}), (Sizes{119, 120}));
    EXPECT_EQ(batchesOf(3, 5, true, {}, {}, true), (Sizes{1, 1, 1}));
    EXPECT_EQ(batchesOf(1, 10, true, {}, {{4, kMaxBatchBytes}}), (Sizes{4, 6}));
    EXPECT_EQ(batchesOf(1, 3, true, {}, {{1, kMaxBatchBytes + 1}}), (Sizes{1, 2}));
    EXPECT_EQ(batchesOf(1, 10, true, {{7, "120,50,"}}, {}), (Sizes{6, 4}));
    EXPECT_EQ(batchesOf(1, 10, true, {{4, "150,"}}, {}, false, true), (Sizes{10}));
}

// HTMLCSS batches end with their page block, and a page whose number is a multiple of 65536 is a
// batch of its own; HTML pages know no blocks.
TEST(Batch, HtmlCssBatchesKeepToTheirPageBlock) {
    using Sizes = std::vector<std::int32_t>;
    struct Case {
        std::int32_t first;
        std::int32_t last;
        bool html;
        Sizes sizes;
    };
    const Case cases[] = {
        {65530, 65540, false, {6, 1, 4}},     {65536, 65536, false, {1}},
        {65536, 65540, false, {1, 4}},        {65300, 65780, false, {236, 1, 122, 122}},
        {131000, 131100, false, {72, 1, 28}}, {65530, 65540, true, {11}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(batchesOf(c.first, c.last, c.html, {}, {}), c.sizes)
            << c.first << ".." << c.last << (c.html ? " HTML" : " HTMLCSS");
    }
    EXPECT_TRUE(InSamePageBlock(1, 65535));
    EXPECT_TRUE(InSamePageBlock(65537, 131071));
    EXPECT_TRUE(InSamePageBlock(65536, 65536));
    EXPECT_FALSE(InSamePageBlock(65535, 65536));
    EXPECT_FALSE(InSamePageBlock(65536, 65537));
    EXPECT_FALSE(InSamePageBlock(1, 70000));
}

TEST(Batch, FirstRowWidths) {
    const FirstRowLayout layout = ParseFirstRowWidths(
        "<TABLE width=9><tr><td width=\"40\">a</td><td colspan=2 width=60>b</td><td>c</td></tr>");
    EXPECT_EQ(layout.widthSum, 100);
    EXPECT_EQ(layout.columnCount, 3);
    EXPECT_EQ(layout.widths, "40,60,");
    const FirstRowLayout unended = ParseFirstRowWidths("<table ><tr><td width=5><tr>");
    EXPECT_EQ(unended.widths, "5,");
    struct Case {
        const char* text;
        std::int32_t code;
    };
    const Case cases[] = {{"<p>no table</p>", kErrNoTable},
                          {"<table border=1", kErrNoTableTagEnd},
                          {"<table ><td>", kErrNoRow},
                          {"<table ><tr><td width=5>", kErrNoRowEnd}};
    for (const auto& c : cases) {
        try {
            ParseFirstRowWidths(c.text);
            ADD_FAILURE() << c.text;
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), c.code) << c.text;
            EXPECT_FALSE(error.text().empty());
        }
    }
}

TEST(Batch, SameColumnLayout) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {{"100,50,", "100,50,", true},
                          {"100,50,", "150,", true},
                          {"100,50,", "50,100,", false},
                          {"60,40,50,", "100,50,", true},
                          {"60,40,50,", "50,100,", false},
                          {"100,", "100,50,", true},
                          {"100,50,", "120,", false},
                          {"", "", true},
                          {"111111111111111111111111111111111,", "1,", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(IsSameColumnLayout(c.a, c.b), c.same) << c.a << " / " << c.b;
    }
    std::size_t position = 0;
    std::int64_t value = 0;
    EXPECT_TRUE(ReadNextListNumber("12,34", position, value));
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(ReadNextListNumber("12,34", position, value));
    EXPECT_EQ(value, 34);
    EXPECT_FALSE(ReadNextListNumber("12,34", position, value));
}

TEST(Batch, ScanTablesBlanksInnerTables) {
    std::string text = "<table a><tr><td>x<TABLE b><tr><td>y</td></tr></table></td></tr></table>";
    const std::string expected = "<table a><tr><td>x" + std::string(9, ' ') + std::string(8, ' ') +
                                 "y" + std::string(5 + 5 + 8, ' ') + "</td></tr></table>";
    ScanTables(text.data(), text.size());
    EXPECT_EQ(text, expected);
}

}  // namespace
}  // namespace paginor
