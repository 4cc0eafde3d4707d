#include <gtest/gtest.h>

#include <string>

#include "core/report_core.h"
#include "report_fixtures.h"
#include "temp_dir.h"

namespace paginor {
namespace {

struct DirectiveCase {
    const char* name;
    std::string text;
    // The directive fields afterwards as "direct|source|printer|paper|orientation|l|r|t|b",
    // or the error text.
    std::string expected;
    friend void PrintTo(const DirectiveCase& c, std::ostream* out) { *out << c.name; }
};

std::string parse(const std::string& text) {
    CReportCore core;
    try {
        core.ParsePrintDirectives(text.data(), static_cast<std::int64_t>(text.size()));
    } catch (const ReportError& error) {
        return "error " + std::to_string(error.code()) + ": " + core.GetErrorText();
    }
    return std::to_string(core.IsPrintDirectly()) + "|" + std::to_string(core.sourceMayBeShown()) +
           "|" + core.printerDirective() + "|" + core.paperSizeDirective() + "|" +
           std::to_string(core.orientationDirective()) + "|" + core.marginLeftDirective() + "|" +
           core.marginRightDirective() + "|" + core.marginTopDirective() + "|" +
           core.marginBottomDirective();
}

class Directives : public ::testing::TestWithParam<DirectiveCase> {};

TEST_P(Directives, Parse) {
    EXPECT_EQ(parse(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Directives,
    ::testing::Values(
        DirectiveCase{"None", "<html><!-- PAGINOR?printer=x--></html>", "0|1|||2||||"},
        DirectiveCase{"LowerCaseMarker", "<!--paginor?print_directly=yes-->", "0|1|||2||||"},
        DirectiveCase{"PrintDirectlyUpperCase", "<!--PAGINOR?PRINT_DIRECTLY=YES-->", "1|0|||2||||"},
        DirectiveCase{"PrintDerectly", "<!--PAGINOR?print_derectly=yes-->", "1|0|||2||||"},
        DirectiveCase{"PrinterAndPaper",
                      "<!--PAGINOR?printer=\\\\srv\\Laser 5-->\r\n<!--PAGINOR?papersize=A4-->",
                      "0|1|\\\\srv\\Laser 5|A4|2||||"},
        DirectiveCase{"PrinterWithoutDashes", "<!--PAGINOR?printer=Laser>", "0|1|||2||||"},
        DirectiveCase{"SecondPrinterWinsWhole",
                      "<!--PAGINOR?printer=LongPrinterName--><!--PAGINOR?printer=Short-->",
                      "0|1|Short||2||||"},
        DirectiveCase{"LongPrinterNameKept", "<!--PAGINOR?printer=" + std::string(200, 'P') + "-->",
                      "0|1|" + std::string(200, 'P') + "||2||||"},
        DirectiveCase{"Landscape", "<!--PAGINOR?orientation=landscape-->", "0|1|||1||||"},
        DirectiveCase{"Portrait", "<!--PAGINOR?ORIENTATION=Portrait-->", "0|1|||0||||"},
        DirectiveCase{"Sideways", "<!--PAGINOR?orientation=sideways-->", "0|1|||2||||"},
        DirectiveCase{"Margins",
                      "<!--PAGINOR?margin_left=1.5inches--><!--PAGINOR?margin_right=0.5inch-->"
                      "<!--PAGINOR?margin_top=inch--><!--PAGINOR?margin_bottom=2inch-->",
                      "0|1|||2|1.5|0.5||2"},
        DirectiveCase{"MarginInCentimetresIgnored", "<!--PAGINOR?margin_top=2cm-->", "0|1|||2||||"},
        DirectiveCase{"UnclosedDirectiveIgnored", "<!--PAGINOR?margin_top=2inch--", "0|1|||2||||"},
        DirectiveCase{"KeyTooLong", "<!--PAGINOR?margin_leftside=1inch-->",
                      "error -1: Invalid margin type, please check the RDF file"},
        DirectiveCase{"UnknownKey", "<!--PAGINOR?margin_up=1inch-->",
                      "error -1: Invalid margin type, [More info: up] please refer to the "
                      "user's guide"},
        DirectiveCase{"BadNumber", "<!--PAGINOR?margin_left=1,5inch-->",
                      "error -1: Invalid margins,[More Info: ?margin_left=1,5inch ]please check "
                      "the RDF file"}),
    [](const auto& info) { return info.param.name; });

TEST(DirectivesOfAReport, OnlyTheTextBeforePageOneCounts) {
    TempDir dir;
    std::string prologue =
        "<html><head><!--PAGINOR?orientation=landscape-->\r\n<!--PAGINOR?margin_left=0.5inch-->"
        "</head><body>";
    std::string text = fixtures::markedHtmlReport(1, prologue);
    text.insert(text.find("<table"), "<!--PAGINOR?print_directly=yes-->");
    std::string path = dir.write("r.htm", text);
    CReportCore core;
    ASSERT_EQ(core.Init(path, nullptr, false, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(core.orientationDirective(), 1);
    EXPECT_FALSE(core.IsPrintDirectly());
    EXPECT_TRUE(core.printerPaperPending());

    std::string left = "keep", right = "keep", top = "keep", bottom = "keep";
    core.GetMarginDirectives(left, right, top, bottom);
    EXPECT_EQ(left, "0.5");
    EXPECT_EQ(right, "keep");
    left = "again";
    core.GetMarginDirectives(left, right, top, bottom);
    EXPECT_EQ(left, "again");
}

}  // namespace
}  // namespace paginor
