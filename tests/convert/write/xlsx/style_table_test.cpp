#include <gtest/gtest.h>

#include <cstdint>

#include "convert/write/xlsx/model.h"

namespace paginor::xlsx {
namespace {

CellStyle styleOf(std::int32_t fill, bool bold, std::int32_t format = -1,
                  std::int32_t fontColour = -1) {
    CellStyle style;
    style.fill = fill;
    style.bold = bold ? 1 : 0;
    style.numberFormat = format;
    style.fontColour = fontColour;
    return style;
}

// A table with a limit adds no style past it: a new style takes the held style of its look whose
// colours are nearest, else the first of its number format, else the default.
TEST(StyleTable, PastTheLimitANewStyleTakesTheNearestHeld) {
    StyleTable table(6);
    const std::int32_t amount = table.formatId("0.00");
    const std::uint32_t red = table.intern(styleOf(0xFF0000, true));
    const std::uint32_t blue = table.intern(styleOf(0x0000FF, true));
    const std::uint32_t green = table.intern(styleOf(0x00FF00, false));
    const std::uint32_t yellow = table.intern(styleOf(0xFFFF00, false, amount));
    const std::uint32_t grey = table.intern(styleOf(-1, true, -1, 0x808080));
    ASSERT_EQ(table.size(), 6u);
    const struct {
        const char* name;
        CellStyle wanted;
        std::uint32_t held;
    } cases[] = {
        {"held already", styleOf(0x0000FF, true), blue},
        {"a red nearly", styleOf(0xF01010, true), red},
        {"a blue nearly", styleOf(0x1020E0, true), blue},
        {"nearest by its fill, whatever the font colour", styleOf(0xE00000, true, -1, 0x0000FF),
         red},
        {"without a fill, as a style without one", styleOf(-1, true, -1, 0x707070), grey},
        {"not bold: the only such look", styleOf(0x0000FF, false), green},
        {"a look not held keeps its number format", styleOf(0xFF0000, true, amount), yellow},
        {"a look and a number format not held", styleOf(0xFF0000, true, table.formatId("@")), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(table.intern(c.wanted), c.held);
        // The same style asked again takes the same one.
        EXPECT_EQ(table.intern(c.wanted), c.held);
    }
    EXPECT_EQ(table.size(), 6u);
}

}  // namespace
}  // namespace paginor::xlsx
