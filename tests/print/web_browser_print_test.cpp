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
    m_driver.PrintWithoutPrompt("file:///tmp/page.htm", [&](bool ok, const std::string& error) {
        ++reports;
        printed = ok;
        EXPECT_EQ(error, "");
    });
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(printed);
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
        m_driver.PrintWithoutPrompt("t", [&](bool ok, const std::string& error) {
            EXPECT_FALSE(ok);
            errors.push_back(error);
        });
        EXPECT_EQ(errors, std::vector<std::string>{c.error});
        EXPECT_FALSE(m_driver.printing());
    }
}

}  // namespace
}  // namespace paginor
