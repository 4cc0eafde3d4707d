#include "convert/read/html_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace paginor {
namespace {

// Attributes as HTML reads them: double quotes, single quotes or none; names in any case, with
// blanks around '='; the first of equal names; nothing found inside another attribute's value.
TEST(HtmlScan, AttributeValues) {
    struct Case {
        std::string tag;
        const char* name;
        const char* value;  // null: absent
        char quote;
        bool closed;
    };
    const Case cases[] = {
        {"<a href=\"x y\">", "href", "x y", '"', true},
        {"<a href='x \"y\"'>", "href", "x \"y\"", '\'', true},
        {"<a href=x'y\" z=1>", "href", "x'y\"", 0, true},
        {"<A HREF = 'x' >", "href", "x", '\'', true},
        {"<a title=\" href=x\" href=\"y\" href=\"z\">", "href", "y", '"', true},
        {"<a data-href=\"x\">", "href", nullptr, 0, true},
        {"<a href='x'title='t'>", "title", "t", '\'', true},
        {"<td nowrap colspan=2>", "colspan", "2", 0, true},
        {"<td nowrap colspan=2>", "nowrap", "", 0, true},
        {"<td/colspan=3/>", "colspan", "3/", 0, true},
        {"<font face='Arial>", "face", "Arial", '\'', false},
        {"<td>", "width", nullptr, 0, true},
    };
    for (const Case& c : cases) {
        const char* start = c.tag.data();
        const char* end = start + c.tag.size() - 1;  // the final '>'
        TagAttribute attribute;
        const bool found = FindAttribute(start, end, c.name, &attribute);
        EXPECT_EQ(found, c.value != nullptr) << c.tag;
        if (found && c.value != nullptr) {
            EXPECT_EQ(attribute.value, c.value) << c.tag;
            EXPECT_EQ(attribute.quote, c.quote) << c.tag;
            EXPECT_EQ(attribute.closed, c.closed) << c.tag;
        }
    }
}

TEST(HtmlScan, SpansAlignAndWidthInEitherQuotes) {
    const std::string tag = "<td align='RIGHT' rowspan='3' colspan=\"2\" width='40%'>";
    const CellSpanAlign s = ParseCellSpanAlign(tag.data(), tag.data() + tag.size() - 1, false);
    EXPECT_EQ(s.rowSpan, 3);
    EXPECT_EQ(s.columnSpan, 2);
    EXPECT_EQ(s.alignment, 3);
    bool percent = false;
    EXPECT_EQ(ParseWidthAttribute(tag.data(), tag.data() + tag.size() - 1, &percent), 40);
    EXPECT_TRUE(percent);
}

}  // namespace
}  // namespace paginor
