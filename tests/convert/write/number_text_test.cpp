#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "convert/conversion_driver.h"
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

TEST(NumberText, IsDateTextTable) {
    const struct {
        const char* text;
        bool date;
    } cases[] = {
        {"25/03/2004", true},  {"03-25-2004", true},  {"25/03/04", true},
        {"25/03-2004", false}, {"2004/03/25", false}, {"5/3/2004", false},
        {"25/03/200", false},  {"25/03/20a4", false}, {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsDateText(c.text, std::strlen(c.text)), c.date);
    }
}

TEST(NumberText, GetNumberFormatTable) {
    const struct {
        const char* text;
        bool built;
        const char* format;
    } cases[] = {
        {"123", true, "0_ "},
        {"-123", true, "0_ "},
        {"1,234", true, "#,##0_ "},
        {"1,234.50", true, "#,##0.00_ "},
        {"(1,234.5)", true, "#,##0.0_ "},
        {"12.125", true, "0.000_ "},
        {"12,34.5", false, ""},
        {"1.234,5", false, ""},
        {"1.2.3", false, ""},
        {"(12", false, ""},
        {"12a", false, ""},
        {"12.", true, "0_ "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string format;
        EXPECT_EQ(GetNumberFormat(c.text, format), c.built);
        EXPECT_EQ(format, c.format);
    }
}

TEST(NumberText, GetNumberFormatRefusesEndlessDecimals) {
    std::string format;
    const std::string text = "0." + std::string(128, '1');
    try {
        GetNumberFormat(text, format);
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.code(), 26);
    }
    EXPECT_TRUE(GetNumberFormat("0." + std::string(127, '1'), format));
}

}  // namespace
}  // namespace paginor
