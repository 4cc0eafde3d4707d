#include "convert/read/text_measurer.h"

#include <gtest/gtest.h>

#include <string>

namespace paginor {
namespace {

struct KnownWidth {
    const char* family;
    std::int32_t size;
    bool bold;
    std::u16string text;
    std::int32_t width;
    std::int32_t height;
};

// Widths summed from the Liberation fonts' own advances, one rounded pixel per character.
TEST(TextMeasurer, KnownWidthsAt96Dpi) {
    const KnownWidth cases[] = {
        {"Arial", 10, false, u"Total", 29, 15},
        {"Helvetica", 10, true, u"Total", 31, 15},
        {"Times New Roman", 12, false, u"Quarterly Sales", 97, 17},
        {"Courier New", 9, false, u"12345", 35, 14},
        {"COURIER NEW", 9, true, u"ab", 14, 14},
        {"Verdana", 8, false, u"0", 6, 11},
        {"Georgia", 14, true, u"W\u20AC", 27, 20},
        {"Arial", 10, false, u"", 0, 15},
    };
    for (const KnownWidth& c : cases) {
        const TextExtent extent = defaultTextMeasurer().measure(c.family, c.size, c.bold, c.text);
        EXPECT_EQ(extent.width, c.width) << c.family << " " << c.size;
        EXPECT_EQ(extent.height, c.height) << c.family << " " << c.size;
    }
}

TEST(TextMeasurer, FamilyNamesMapToFaces) {
    EXPECT_EQ(faceFamilyOf("Arial"), FaceFamily::Sans);
    EXPECT_EQ(faceFamilyOf("Helvetica"), FaceFamily::Sans);
    EXPECT_EQ(faceFamilyOf("No Such Family"), FaceFamily::Sans);
    EXPECT_EQ(faceFamilyOf(""), FaceFamily::Sans);
    EXPECT_EQ(faceFamilyOf("Times New Roman"), FaceFamily::Serif);
    EXPECT_EQ(faceFamilyOf("MS Serif"), FaceFamily::Serif);
    EXPECT_EQ(faceFamilyOf("Courier New"), FaceFamily::Mono);
    EXPECT_EQ(faceFamilyOf("Lucida Console"), FaceFamily::Mono);
    EXPECT_EQ(faceFamilyOf("Consolas"), FaceFamily::Mono);
}

TEST(TextMeasurer, CharactersOutsideTheTables) {
    const TextMeasurer& m = defaultTextMeasurer();
    // Full-width East Asian characters take one em (13 px at 10 pt).
    EXPECT_EQ(m.measure("Arial", 10, false, u"\u4E2D\u6587").width, 26);
    // Anything else unknown takes the width of "0", a surrogate pair counting once.
    EXPECT_EQ(m.measure("Arial", 10, false, u"\U0001F600").width,
              m.measure("Arial", 10, false, u"0").width);
    EXPECT_EQ(m.measure("Arial", 0, false, u"abc").width, 0);
    EXPECT_EQ(m.measure("Arial", -5, false, u"abc").width, 0);
}

}  // namespace
}  // namespace paginor
