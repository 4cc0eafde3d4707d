#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "convert/write/number_text.h"

namespace paginor {
namespace {

struct ScanCase {
    const char* text;
    bool isNumber;
    bool isPlainInteger;
    std::size_t length;  // after the scan
    std::int32_t code;
};

TEST(NumberText, ScanCellTextTable) {
    const ScanCase cases[] = {
        {"123", true, true, 3, 0},
        {"0123", false, true, 4, 3},
        {"0", true, true, 1, 0},
        {"0.5", true, false, 3, 2},
        {"1234567890123456", true, true, 16, 0},
        {"-42", true, false, 3, 0},
        {"(1,234.56)", true, false, 10, 2},
        {"(1.234,56)", true, false, 10, 1},
        {"(12", false, false, 3, 3},
        {"12)", false, false, 3, 3},
        {"1.234,56", true, false, 8, 1},
        {"1,234.56", true, false, 8, 2},
        {"1,234", true, false, 5, 0},
        {"1,5", true, false, 3, 1},
        {"12.5", true, false, 4, 2},
        {"1.2.3", true, false, 5, 3},
        {"1,234,5", true, false, 7, 3},
        {"42   ", true, true, 2, 0},
        {"  42", true, true, 4, 0},
        {"1 234", false, false, 5, 3},
        {"$12", false, false, 3, 3},
        {"=A1", false, false, 3, 3},
        {"abc", false, false, 3, 3},
        {"-", false, false, 1, 3},
        {"", false, false, 0, 3},
        {"25/03/2004", false, false, 10, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        bool isNumber = false;
        bool isPlainInteger = false;
        std::size_t length = std::strlen(c.text);
        EXPECT_EQ(ScanCellText(c.text, isNumber, isPlainInteger, length), c.code);
        EXPECT_EQ(isNumber, c.isNumber);
        EXPECT_EQ(isPlainInteger, c.isPlainInteger);
        EXPECT_EQ(length, c.length);
    }
}

TEST(NumberText, ScanCellTextReadsOnlyItsLength) {
    const char text[] = "1,5xyz";
    bool isNumber = false;
    bool isPlainInteger = false;
    std::size_t length = 3;
    EXPECT_EQ(ScanCellText(text, isNumber, isPlainInteger, length), 1);
    EXPECT_TRUE(isNumber);
    EXPECT_EQ(length, 3u);
}

}  // namespace
}  // namespace paginor
