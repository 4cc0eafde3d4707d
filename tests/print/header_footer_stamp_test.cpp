#include <stdio.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "app/print/web_browser_print.h"
#include "print_test_support.h"
#include "temp_dir.h"

namespace paginor {
namespace {

std::string pdfText(const std::string& path, int page) {
    const std::string command = "pdftotext -layout -f " + std::to_string(page) + " -l " +
                                std::to_string(page) + " '" + path + "' - 2>&1";
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, got);
        pclose(pipe);
    }
    return text;
}

std::string pdfBoxes(const std::string& path) {
    std::string text;
    if (FILE* pipe = popen(("pdftotext -bbox '" + path + "' - 2>&1").c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, got);
        pclose(pipe);
    }
    return text;
}

TEST(HeaderFooterStampTest, DrawsEachPagesLinesIntoItsMargins) {
    TempDir dir;
    const std::string path = dir.write("job.pdf", minimalPdf(2));
    PdfPageLayout layout;
    layout.left = layout.right = layout.top = layout.bottom = 12.7;
    HeaderFooterFields fields;
    fields.title = "Caf\xc3\xa9 (Sales)";
    fields.address = "http://example.com/r";
    fields.pages = 9;
    std::string error;
    ASSERT_TRUE(
        StampHeaderFooter(path, "&w&bPage &p of &P", "&u&b&b&&end", fields, {4, 5}, layout, error))
        << error;

    const std::string first = pdfText(path, 1);
    EXPECT_NE(first.find("Page 4 of 9"), std::string::npos) << first;
    EXPECT_NE(first.find("Caf\xc3\xa9 (Sales)"), std::string::npos) << first;
    EXPECT_NE(first.find("http://example.com/r"), std::string::npos) << first;
    EXPECT_NE(first.find("&end"), std::string::npos) << first;
    // The header comes before the footer on the page.
    EXPECT_LT(first.find("Page 4 of 9"), first.find("&end"));
    const std::string second = pdfText(path, 2);
    EXPECT_NE(second.find("Page 5 of 9"), std::string::npos) << second;
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

TEST(HeaderFooterStampTest, ADamagedPdfIsAnErrorAndStaysAsItWas) {
    TempDir dir;
    const std::string path = dir.write("job.pdf", "not a pdf at all");
    std::string error;
    EXPECT_FALSE(StampHeaderFooter(path, "&p", "", {}, {}, {}, error));
    EXPECT_EQ(error.rfind("Cannot draw the header and footer: ", 0), 0u) << error;
    std::ifstream in(path);
    std::string kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kept, "not a pdf at all");
}

}  // namespace
}  // namespace paginor
