#include <stdio.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/print/web_browser_print.h"
#include "print_test_support.h"
#include "temp_dir.h"

namespace paginor {
namespace {

std::string pdfText(const std::string& path, int page) {
    return commandOutput("pdftotext -layout -f " + std::to_string(page) + " -l " +
                         std::to_string(page) + " '" + path + "' - 2>&1");
}

std::string pdfBoxes(const std::string& path) {
    return commandOutput("pdftotext -bbox '" + path + "' - 2>&1");
}

// The sheets hold report pages 5 and 6 of a report of 6 pages.
TEST(HeaderFooterStampTest, DrawsEachPagesLinesIntoItsMargins) {
    TempDir dir;
    const std::string path = dir.write("job.pdf", minimalPdf(2));
    PdfPageLayout layout;
    layout.left = layout.right = layout.top = layout.bottom = 12.7;
    HeaderFooterFields fields;
    fields.title = "Caf\xc3\xa9 (Sales)";
    fields.address = "http://example.com/r";
    fields.pages = 6;
    std::string error;
    ASSERT_TRUE(
        StampHeaderFooter(path, "&w&bPage &p of &P", "&u&b&b&&end", fields, {5, 6}, layout, error))
        << error;

    const std::string first = pdfText(path, 1);
    EXPECT_NE(first.find("Page 5 of 6"), std::string::npos) << first;
    EXPECT_NE(first.find("Caf\xc3\xa9 (Sales)"), std::string::npos) << first;
    EXPECT_NE(first.find("http://example.com/r"), std::string::npos) << first;
    EXPECT_NE(first.find("&end"), std::string::npos) << first;
    // The header comes before the footer on the page.
    EXPECT_LT(first.find("Page 5 of 6"), first.find("&end"));
    const std::string second = pdfText(path, 2);
    EXPECT_NE(second.find("Page 6 of 6"), std::string::npos) << second;
}

// Sheets the list of report pages does not reach go on showing its last page.
TEST(HeaderFooterStampTest, SheetsPastThePageListShowTheirPage) {
    struct Case {
        std::vector<int> sheetPages;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {{4, 4, 5}, {"P4/9", "P4/9", "P5/9"}},
        {{7}, {"P7/9", "P7/9", "P7/9"}},
        {{}, {"P1/9", "P2/9", "P3/9"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.write("job.pdf", minimalPdf(3));
        HeaderFooterFields fields;
        fields.pages = 9;
        PdfPageLayout layout;
        layout.bottom = 12.7;
        std::string error;
        ASSERT_TRUE(StampHeaderFooter(path, "", "P&p/&P", fields, c.sheetPages, layout, error))
            << error;
        for (int sheet = 1; sheet <= 3; ++sheet) {
            const std::string text = pdfText(path, sheet);
            EXPECT_NE(text.find(c.shown[static_cast<std::size_t>(sheet - 1)]), std::string::npos)
                << sheet << ": " << text;
        }
    }
}

// The lines stand between the paper's unprintable edge and the page, in the top and bottom
// margins.
TEST(HeaderFooterStampTest, LinesStandInThePrintablePartOfTheirMargins) {
    TempDir dir;
    const std::string path = dir.write("job.pdf", minimalPdf(1));
    PdfPageLayout layout;
    layout.hardTop = layout.hardBottom = 4.23;
    layout.top = layout.bottom = 4.23 + 6.35;
    std::string error;
    ASSERT_TRUE(StampHeaderFooter(path, "Top", "Bottom", {}, {1}, layout, error)) << error;
    const std::string boxes = pdfBoxes(path);
    const double mm = 72 / 25.4;
    const auto word = [&](const std::string& text, double& yMin, double& yMax) {
        const auto end = boxes.find(">" + text + "</word>");
        ASSERT_NE(end, std::string::npos) << boxes;
        double xMin = 0, xMax = 0;
        ASSERT_EQ(std::sscanf(boxes.c_str() + boxes.rfind("<word", end),
                              "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &xMin,
                              &yMin, &xMax, &yMax),
                  4);
    };
    double yMin = 0, yMax = 0;
    word("Top", yMin, yMax);
    EXPECT_GE(yMin, 4.23 * mm);
    EXPECT_LE(yMax, layout.top * mm);
    word("Bottom", yMin, yMax);
    EXPECT_GE(yMin, 842 - layout.bottom * mm);
    EXPECT_LE(yMax, 842 - 4.23 * mm);
}

// Each line comes back from the sheet as it was typed, drawn in fonts that hold its script,
// every one embedded as a subset.
TEST(HeaderFooterStampTest, TextInAnyScriptIsDrawnInEmbeddedSubsets) {
    struct Case {
        const char* what;
        const char* text;
    };
    const Case cases[] = {
        {"Cyrillic, CJK and Greek",
         "\xd0\x9e\xd1\x82\xd1\x87\xd1\x91\xd1\x82 \xd0\xb7\xd0\xb0 "
         "\xd0\xba\xd0\xb2\xd0\xb0\xd1\x80\xd1\x82\xd0\xb0\xd0\xbb "
         "\xe6\x97\xa5\xe6\x9c\xac \xce\x95\xce\xbb\xce\xbb\xce\xac\xce\xb4\xce\xb1"},
        {"Arabic",
         "\xd8\xa7\xd9\x84\xd8\xaa\xd9\x82\xd8\xb1\xd9\x8a\xd8\xb1 "
         "\xd8\xa7\xd9\x84\xd8\xb3\xd9\x86\xd9\x88\xd9\x8a"},
        {"Windows-1252", "Ums\xc3\xa4tze \xe2\x82\xac 12,50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.write("job.pdf", minimalPdf(1));
        PdfPageLayout layout;
        layout.left = layout.right = layout.top = layout.bottom = 12.7;
        std::string error;
        ASSERT_TRUE(
            StampHeaderFooter(path, c.text, std::string("&b") + c.text, {}, {1}, layout, error))
            << error;
        const std::string text = pdfText(path, 1);
        const auto header = text.find(c.text);
        ASSERT_NE(header, std::string::npos) << text;
        EXPECT_NE(text.find(c.text, header + 1), std::string::npos) << text;
        EXPECT_EQ(text.find('?'), std::string::npos) << text;
        int fonts = 0;
        EXPECT_EQ(fontsNotEmbeddedAsSubsets(path, fonts), "");
        EXPECT_GE(fonts, 1);
        // Subsets: the CJK face alone is megabytes whole.
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        EXPECT_LT(static_cast<long>(in.tellg()), 100000);
    }
}

// Right-to-left text is drawn in display order: a number after Arabic or Hebrew words stands
// to their left.
TEST(HeaderFooterStampTest, RightToLeftTextIsDrawnInDisplayOrder) {
    const char* const lines[] = {
        "\xd8\xa7\xd9\x84\xd8\xaa\xd9\x82\xd8\xb1\xd9\x8a\xd8\xb1 2024",
        "Total: \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d 2024",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        TempDir dir;
        const std::string path = dir.write("job.pdf", minimalPdf(1));
        PdfPageLayout layout;
        layout.top = 12.7;
        std::string error;
        ASSERT_TRUE(StampHeaderFooter(path, line, "", {}, {1}, layout, error)) << error;
        const std::string boxes = pdfBoxes(path);
        double number = -1;
        double word = -1;
        for (auto at = boxes.find("<word "); at != std::string::npos;
             at = boxes.find("<word ", at + 1)) {
            double xMin = 0;
            ASSERT_EQ(std::sscanf(boxes.c_str() + at, "<word xMin=\"%lf\"", &xMin), 1);
            const auto text = boxes.find('>', at) + 1;
            const std::string shown = boxes.substr(text, boxes.find('<', text) - text);
            if (shown == "2024")
                number = xMin;
            else if (static_cast<unsigned char>(shown[0]) >= 0xC0)
                word = xMin;
        }
        ASSERT_GE(number, 0) << boxes;
        ASSERT_GE(word, 0) << boxes;
        EXPECT_LT(number, word) << boxes;
    }
}

// What no font on the machine holds, and bytes that are no UTF-8, come back as U+FFFD, never as
// a silent '?'; the rest of the line is drawn.
TEST(HeaderFooterStampTest, WhatNoFontHoldsComesBackAsReplacementCharacters) {
    TempDir dir;
    const std::string path = dir.write("job.pdf", minimalPdf(1));
    PdfPageLayout layout;
    layout.top = 12.7;
    std::string error;
    ASSERT_TRUE(StampHeaderFooter(path, "A\xf4\x8f\xbf\xbd B\xff C", "", {}, {1}, layout, error))
        << error;
    const std::string text = pdfText(path, 1);
    EXPECT_NE(text.find("A\xef\xbf\xbd B\xef\xbf\xbd C"), std::string::npos) << text;
    EXPECT_EQ(text.find('?'), std::string::npos) << text;
}

// Bidirectional isolates that no font holds are format characters: nothing is drawn for them.
TEST(HeaderFooterStampTest, FormatCharactersAreNoReplacementCharacters) {
    TempDir dir;
    const std::string path = dir.write("job.pdf", minimalPdf(1));
    PdfPageLayout layout;
    layout.top = 12.7;
    std::string error;
    ASSERT_TRUE(StampHeaderFooter(
        path, "Total: \xe2\x81\xa7\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d\xe2\x81\xa9 2024", "", {}, {1},
        layout, error))
        << error;
    const std::string text = pdfText(path, 1);
    EXPECT_NE(text.find("2024"), std::string::npos) << text;
    EXPECT_EQ(text.find("\xef\xbf\xbd"), std::string::npos) << text;
}

TEST(HeaderFooterStampTest, ADamagedPdfIsAnErrorAndStaysAsItWas) {
    TempDir dir;
    const std::string path = dir.write("job.pdf", "not a pdf at all");
    std::string error;
    EXPECT_FALSE(StampHeaderFooter(path, "&p", "", {}, {1}, {}, error));
    EXPECT_EQ(error.rfind("Cannot draw the header and footer: ", 0), 0u) << error;
    std::ifstream in(path);
    std::string kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kept, "not a pdf at all");
}

}  // namespace
}  // namespace paginor
