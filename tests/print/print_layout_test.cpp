#include "app/print/print_layout.h"

#include <gtest/gtest.h>

#include "tests/support/fake_printer_system.h"

namespace paginor {
namespace {

TEST(PrintLayoutTest, ParsesMarginsInInches) {
    const std::pair<const char*, double> cases[] = {
        {"1.5", 1.5}, {"1,5", 1.5}, {"0", 0},   {"", 0},      {" 2 ", 2},    {"-1", 0},
        {"1.5in", 0}, {"abc", 0},   {"1e3", 0}, {"1.2.3", 0}, {".25", 0.25},
    };
    for (const auto& [text, inches] : cases)
        EXPECT_DOUBLE_EQ(ParseInches(text), inches) << '"' << text << '"';
}

TEST(PrintLayoutTest, FindsMediaByAnyOfItsNamesIgnoringCase) {
    const std::vector<PrinterMedia> media = FakePrinterSystem::standardDestination().media;
    const std::pair<const char*, int> cases[] = {
        {"A4", 0},    {"a4", 0}, {"ISO_A4_210x297mm", 0}, {"us letter", 1}, {"Letter", 1},
        {"LEGAL", 2}, {"A3", 3}, {"Tabloid", -1},         {"", -1},         {"A", -1},
    };
    for (const auto& [paper, index] : cases)
        EXPECT_EQ(FindMedia(media, paper), index) << paper;
    EXPECT_EQ(MediaShortName(media[1]), "Letter");
}

TEST(PrintLayoutTest, APaperTextTakesTheFirstPaperItBegins) {
    const std::vector<PrinterMedia> media = FakePrinterSystem::standardDestination().media;
    const std::pair<const char*, int> cases[] = {
        {"A", 0},        {"a3", 3},       {"Let", 1}, {"us", 1}, {"US Legal", 2},
        {"le", 1},       {"legal", 2},    {"Lx", -1}, {"", -1},  {"iso_a3_297x420mm", 3},
        {"A4 wide", -1}, {"Tabloid", -1},
    };
    for (const auto& [text, index] : cases)
        EXPECT_EQ(FindMediaByPrefix(media, text), index) << text;
    EXPECT_EQ(MediaShortName({"custom_x_1x2in", "", "", 1, 2, 0, 0, 0, 0}), "custom_x_1x2in");
}

TEST(PrintLayoutTest, MarginsNeverFallInsideTheHardwareMargins) {
    const PrinterMedia a4 = FakePrinterSystem::standardDestination().media[0];
    PdfPageLayout layout = MakePageLayout(a4, false, {"0", "1", "0,5", "-2"});
    EXPECT_DOUBLE_EQ(layout.width, 210);
    EXPECT_DOUBLE_EQ(layout.height, 297);
    EXPECT_DOUBLE_EQ(layout.left, 4.23);
    EXPECT_DOUBLE_EQ(layout.right, 25.4);
    EXPECT_DOUBLE_EQ(layout.top, 12.7);
    EXPECT_DOUBLE_EQ(layout.bottom, 4.23);

    layout = MakePageLayout(a4, true, {"1", "1", "1", "1"});
    EXPECT_TRUE(layout.landscape);
    EXPECT_DOUBLE_EQ(layout.width, 297);
    EXPECT_DOUBLE_EQ(layout.height, 210);

    // A header or footer keeps room for its line beyond the hardware margin.
    layout = MakePageLayout(a4, false, {"0", "0", "0", "1"}, true, true);
    EXPECT_NEAR(layout.top, 4.23 + 6.35, 1e-9);
    EXPECT_DOUBLE_EQ(layout.bottom, 25.4);
    EXPECT_DOUBLE_EQ(layout.hardTop, 4.23);
    EXPECT_DOUBLE_EQ(layout.hardBottom, 4.23);
    layout = MakePageLayout(a4, false, {"0", "0", "0", "0"}, true, false);
    EXPECT_DOUBLE_EQ(layout.bottom, 4.23);

    // Margins wider than the paper leave an inch to print on.
    layout = MakePageLayout(a4, false, {"20", "20", "0", "0"});
    EXPECT_NEAR(210 - layout.left - layout.right, 25.4, 1e-9);
    EXPECT_NEAR(layout.left, layout.right, 1e-9);
}

TEST(PrintLayoutTest, ExpandsTheBrowsersHeaderAndFooterCodes) {
    HeaderFooterFields fields;
    fields.title = "Sales";
    fields.address = "http://example.com/r";
    fields.shortDate = "12/10/26";
    fields.longDate = "Thursday, December 10, 2026";
    fields.time = "16:12:00";
    fields.time24 = "16:12";
    fields.page = 3;
    fields.pages = 7;
    struct Case {
        const char* text;
        HeaderFooterLine line;
    };
    const Case cases[] = {
        {"&w&bPage &p of &P", {"Sales", "Page 3 of 7", ""}},
        {"&u", {"http://example.com/r", "", ""}},
        {"&d &D", {"12/10/26 Thursday, December 10, 2026", "", ""}},
        {"&t|&T", {"16:12:00|16:12", "", ""}},
        {"a&bb&bc", {"a", "b", "c"}},
        {"&b&b&p", {"", "", "3"}},
        {"R&&D &x&", {"R&D &x&", "", ""}},
        {"", {"", "", ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandHeaderFooter(c.text, fields), c.line) << c.text;
}

}  // namespace
}  // namespace paginor
