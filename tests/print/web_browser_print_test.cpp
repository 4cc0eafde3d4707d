#include "app/print/web_browser_print.h"

#include <stdio.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "print_test_support.h"
#include "temp_dir.h"
#include "tests/support/fake_printer_system.h"

namespace paginor {
namespace {

class WebBrowserPrintTest : public ::testing::Test {
public:
    void SetUp() override {
        m_printers.addDestination("Office", FakePrinterSystem::standardDestination());
        FakePrinterSystem::Destination hall = FakePrinterSystem::standardDestination();
        hall.defaultMedia = "na_letter_8.5x11in";
        m_printers.addDestination("Hall", hall);
        m_driver.SetBrowser(&m_renderer);
    }

    FakePrinterSystem m_printers;
    InlineRunner m_runner;
    FakeRenderer m_renderer;
    CWebBrowserPrint m_driver{m_printers, m_runner};
};

TEST_F(WebBrowserPrintTest, StartsFromTheDefaultPrinterAndItsPaper) {
    m_printers.setDefault("Hall");
    std::string printer, paper, text, list;
    int orientation = -1;
    ASSERT_TRUE(m_driver.GetPageSetup(printer, paper, orientation, text, list));
    EXPECT_EQ(printer, "Hall");
    EXPECT_EQ(paper, "Letter");
    EXPECT_EQ(orientation, 0);
    EXPECT_EQ(text, "Portrait");
    EXPECT_EQ(list, "Office\tHall");
    // A list the caller already has is left alone.
    list = "Mine";
    ASSERT_TRUE(m_driver.GetPageSetup(printer, paper, orientation, text, list));
    EXPECT_EQ(list, "Mine");
}

TEST_F(WebBrowserPrintTest, PrintSetupSetsWhatThePrinterOffers) {
    struct Case {
        const char* paper;
        const char* printer;
        int orientation;
        bool printerSet, paperSet;
        const char* nowPrinter;
        const char* nowPaper;
        int nowOrientation;
    };
    const Case cases[] = {
        {"letter", "hall", 1, true, true, "Hall", "Letter", 1},
        {"iso_a3_297x420mm", "", 0, true, true, "Office", "A3", 0},
        {"Tabloid", "Office", 1, true, false, "Office", "A4", 1},
        {"let", "Hall", 0, true, true, "Hall", "Letter", 0},
        {"A", "", 1, true, true, "Office", "A4", 1},
        {"Legal", "NoSuchPrinter", 0, false, true, "Office", "Legal", 0},
        {"", "Hall", 2, true, true, "Hall", "A4", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.paper) + "/" + c.printer);
        CWebBrowserPrint driver(m_printers, m_runner);
        std::string printerOut, paperOut, list;
        int orientation = c.orientation;
        bool printerSet = false, paperSet = false, dialogNeeded = true;
        ASSERT_TRUE(driver.PrintSetup(c.paper, c.printer, printerOut, paperOut, orientation,
                                      printerSet, paperSet, dialogNeeded, list));
        EXPECT_EQ(printerOut, "Office");
        EXPECT_EQ(paperOut, "A4");
        EXPECT_EQ(printerSet, c.printerSet);
        EXPECT_EQ(paperSet, c.paperSet);
        EXPECT_FALSE(dialogNeeded);
        EXPECT_EQ(list, "Office\tHall");
        EXPECT_EQ(driver.printer(), c.nowPrinter);
        EXPECT_EQ(driver.paper(), c.nowPaper);
        EXPECT_EQ(driver.orientation(), c.nowOrientation);
        EXPECT_EQ(orientation, c.nowOrientation);
    }
}

TEST_F(WebBrowserPrintTest, PrintsTheRenderedPageOnTheCurrentPrinter) {
    std::string printerOut, paperOut, list;
    int orientation = 1;
    bool printerSet, paperSet, dialogNeeded;
    ASSERT_TRUE(m_driver.PrintSetup("Legal", "Hall", printerOut, paperOut, orientation, printerSet,
                                    paperSet, dialogNeeded, list));
    int reports = 0;
    bool printed = false;
    int jobNumber = 0;
    m_driver.PrintWithoutPrompt("file:///tmp/page.htm", 1, 2,
                                [&](bool ok, int jobId, const std::string& error) {
                                    ++reports;
                                    printed = ok;
                                    jobNumber = jobId;
                                    EXPECT_EQ(error, "");
                                });
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(printed);
    EXPECT_EQ(jobNumber, m_printers.submissions().at(0).jobId);
    ASSERT_EQ(m_printers.submissions().size(), 1u);
    const auto job = m_printers.submissions()[0];
    EXPECT_EQ(job.destination, "Hall");
    EXPECT_EQ(job.title, "file:///tmp/page.htm");
    EXPECT_EQ(job.pdf, minimalPdf(2));
    EXPECT_EQ(job.options, (PrinterOptions{{"media", "na_legal_8.5x14in"}}));
    ASSERT_EQ(m_renderer.layouts.size(), 1u);
    EXPECT_TRUE(m_renderer.layouts[0].landscape);
    EXPECT_DOUBLE_EQ(m_renderer.layouts[0].width, 355.6);
}

TEST_F(WebBrowserPrintTest, FailuresAreReportedOnceWithTheirReason) {
    struct Case {
        const char* what;
        std::function<void(WebBrowserPrintTest&)> arrange;
        const char* error;
    };
    const Case cases[] = {
        {"render", [](WebBrowserPrintTest& t) { t.m_renderer.succeed = false; },
         "The page could not be rendered for printing"},
        {"printer system",
         [](WebBrowserPrintTest& t) { t.m_printers.failWith("Service unavailable"); },
         "Service unavailable"},
        {"no browser", [](WebBrowserPrintTest& t) { t.m_driver.SetBrowser(nullptr); },
         "There is no document to print"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_renderer.succeed = true;
        m_printers.failWith("");
        m_driver.SetBrowser(&m_renderer);
        c.arrange(*this);
        std::vector<std::string> errors;
        m_driver.PrintWithoutPrompt("t", 1, 1, [&](bool ok, int jobId, const std::string& error) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(jobId, 0);
            errors.push_back(error);
        });
        EXPECT_EQ(errors, std::vector<std::string>{c.error});
        EXPECT_FALSE(m_driver.printing());
    }
}

// Pages that would take more sheets than one print takes are named, with what to do.
TEST_F(WebBrowserPrintTest, ADocumentTooLargeToPrintIsNamed) {
    struct Case {
        std::vector<int> sheets;
        int firstPage;
        const char* error;
    };
    const Case cases[] = {
        {{3, 250, 1},
         4,
         "Page 5 is too large to print: it would take about 250 sheets, and one print takes at "
         "most 200"},
        {{120, 90},
         2,
         "Pages 2-3 are too large to print together: they would take about 210 sheets, and one "
         "print takes at most 200. Print fewer pages per task"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        m_renderer.succeed = false;
        m_renderer.sheetsNeeded = c.sheets;
        std::vector<std::string> errors;
        m_driver.PrintWithoutPrompt("t", c.firstPage, 9, [&](bool ok, int, const std::string& e) {
            EXPECT_FALSE(ok);
            errors.push_back(e);
        });
        EXPECT_EQ(errors, std::vector<std::string>{c.error});
        EXPECT_TRUE(m_printers.submissions().empty());
    }
}

std::string pdfText(const std::string& pdf, int page) {
    TempDir dir;
    const std::string path = dir.write("job.pdf", pdf);
    return commandOutput("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) +
                         " '" + path + "' - 2>&1");
}

// A page that goes on over several sheets says its own number on each of them; the links that
// told its sheets apart do not reach the printer, the report's own links do.
TEST_F(WebBrowserPrintTest, EachSheetShowsTheReportPageItIsPartOf) {
    const std::string start = kPageStartLink;
    m_renderer.pdf = minimalPdf(
        4, 595, 842, {{start + "0", "https://example.com/own"}, {}, {start + "1"}, {start + "2"}});
    m_driver.SetPageSetup({"Page &p of &P", "", {}});
    m_driver.PrintWithoutPrompt(
        "t", 7, 12, [](bool ok, int, const std::string& error) { EXPECT_TRUE(ok) << error; });
    EXPECT_EQ(m_renderer.marks, std::vector<bool>{true});
    ASSERT_EQ(m_printers.submissions().size(), 1u);
    const std::string pdf = m_printers.submissions()[0].pdf;
    const char* expected[] = {"Page 7 of 12", "Page 7 of 12", "Page 8 of 12", "Page 9 of 12"};
    for (int sheet = 1; sheet <= 4; ++sheet)
        EXPECT_NE(pdfText(pdf, sheet).find(expected[sheet - 1]), std::string::npos) << sheet;
    EXPECT_EQ(pdf.find(kPageStartLink), std::string::npos);
    EXPECT_NE(pdf.find("https://example.com/own"), std::string::npos);

    // Without a header or footer nothing needs to tell the sheets apart.
    m_driver.SetPageSetup({});
    m_driver.PrintWithoutPrompt("t", 1, 1, [](bool, int, const std::string&) {});
    EXPECT_EQ(m_renderer.marks, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace paginor
