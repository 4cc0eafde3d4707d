#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/foliant_doc.h"
#include "app/foliant_view.h"
#include "app/print/web_browser_print.h"
#include "platform/settings_store.h"
#include "print_test_support.h"
#include "tests/app/app_fakes.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/support/fake_printer_system.h"

namespace paginor {
namespace {

class RecordingReceiver : public PrintTaskReceiver {
public:
    bool OnTaskDone(const std::string& command, bool printed, int pageCount) override {
        reports.push_back(command + "|" + (printed ? "printed" : "failed") + "|" +
                          std::to_string(pageCount));
        return true;
    }
    std::vector<std::string> reports;
};

class FakePrintUi : public PrintUi {
public:
    std::string printWindowTitle() const override { return title; }
    void setPrintWindowTitle(const std::string& text) override {
        title = text;
        titles.push_back(text);
    }
    void startPrintTimer(int milliseconds, std::function<void()> expired) override {
        timerMs = milliseconds;
        timer = std::move(expired);
    }
    void stopPrintTimer() override { timer = nullptr; }
    bool showPageSetupDialog(CWebBrowserPrint&, MarginTexts&) override { return true; }
    void expire() {
        if (auto fire = std::move(timer))
            fire();
    }

    std::string title = "Report -- Paginor";
    std::vector<std::string> titles;
    int timerMs = 0;
    std::function<void()> timer;
};

class ViewPrintTest : public ::testing::Test {
public:
    void SetUp() override {
        m_printers.addDestination("Office", FakePrinterSystem::standardDestination());
        m_driver.SetBrowser(&m_renderer);
        m_view.SetPrinting(&m_driver, &m_window);
        m_view.SetPageAddress("http://example.com/report");
    }

    bool armPrint(const std::string& command = "print 2 3") {
        std::string html = "<html>pages 2-3</html>";
        return m_view.PrintHtml(html, command, &m_receiver, 2, 2);
    }

    CFoliantDoc m_doc;
    FakeBrowser m_browser;
    RecordingUi m_ui;
    MemorySettingsStore m_settings;
    CFoliantView m_view{m_doc, m_browser, m_ui, m_settings};
    FakePrinterSystem m_printers;
    InlineRunner m_runner;
    FakeRenderer m_renderer;
    CWebBrowserPrint m_driver{m_printers, m_runner};
    FakePrintUi m_window;
    RecordingReceiver m_receiver;
};

TEST_F(ViewPrintTest, PrintsWhenTheDocumentCompletesAndReportsOnce) {
    ASSERT_TRUE(armPrint());
    EXPECT_EQ(m_browser.shown, "<html>pages 2-3</html>");
    EXPECT_EQ(m_window.timerMs, 120000);
    EXPECT_TRUE(m_receiver.reports.empty());

    m_view.OnDocumentComplete("paginor-mem:/page/1", true);
    EXPECT_EQ(m_receiver.reports, std::vector<std::string>{"print 2 3|printed|2"});
    EXPECT_FALSE(m_view.printPending());
    EXPECT_FALSE(m_window.timer);
    ASSERT_EQ(m_printers.submissions().size(), 1u);
    EXPECT_EQ(m_printers.submissions()[0].title, "http://example.com/report");

    // A later document completing prints nothing more.
    m_view.OnDocumentComplete("paginor-mem:/page/2", true);
    EXPECT_EQ(m_receiver.reports.size(), 1u);
    EXPECT_EQ(m_printers.submissions().size(), 1u);
}

TEST_F(ViewPrintTest, ShowingAPageWhileAPrintIsArmedIsRefused) {
    ASSERT_TRUE(armPrint());
    std::string page = "<html>page 4</html>";
    EXPECT_FALSE(m_view.WriteHtml(page, false, false));
    EXPECT_FALSE(armPrint("print 4 4"));
    EXPECT_FALSE(m_view.SetPrintCommand("print 4 4", &m_receiver, 4, 1));
    EXPECT_EQ(m_ui.messages, std::vector<std::string>(
                                 3, "previous print task is not finished ,please try again later"));
    EXPECT_EQ(m_browser.shown, "<html>pages 2-3</html>");
    EXPECT_EQ(m_browser.loads, 1);
}

TEST_F(ViewPrintTest, EveryWayAnArmedPrintEndsGivesOneReport) {
    struct Case {
        const char* what;
        std::function<void(ViewPrintTest&)> end;
        const char* report;  // nullptr: none
    };
    const Case cases[] = {
        {"failed load", [](ViewPrintTest& t) { t.m_view.OnDocumentComplete("x", false); },
         "print 2 3|failed|2"},
        {"renderer gone", [](ViewPrintTest& t) { t.m_view.OnRenderProcessGone(); },
         "print 2 3|failed|2"},
        {"time-out", [](ViewPrintTest& t) { t.m_window.expire(); }, "print 2 3|failed|2"},
        {"time-out while rendering",
         [](ViewPrintTest& t) {
             t.m_renderer.deferred = true;
             t.m_view.OnDocumentComplete("x", true);
             t.m_window.expire();
             t.m_renderer.finish();
         },
         "print 2 3|failed|2"},
        {"printer refuses",
         [](ViewPrintTest& t) {
             t.m_printers.failWith("client-error-not-possible");
             t.m_view.OnDocumentComplete("x", true);
         },
         "print 2 3|failed|2"},
        {"dialog gone",
         [](ViewPrintTest& t) {
             t.m_renderer.deferred = true;
             t.m_view.OnDocumentComplete("x", true);
             t.m_view.DisarmPrint(&t.m_receiver);
             t.m_renderer.finish();
         },
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_receiver.reports.clear();
        m_renderer.deferred = false;
        m_printers.failWith("");
        ASSERT_TRUE(armPrint());
        c.end(*this);
        // Whatever arrives late is dropped.
        m_view.OnDocumentComplete("late", true);
        m_window.expire();
        m_renderer.finish();
        EXPECT_EQ(m_receiver.reports,
                  c.report ? std::vector<std::string>{c.report} : std::vector<std::string>{});
        EXPECT_FALSE(m_view.printPending());
    }
}

// A print reported failed sends nothing to the printer, whenever its rendering or its
// submission comes in afterwards; one the printer has taken already is not reported failed.
TEST_F(ViewPrintTest, AFailedPrintSendsNothingToThePrinter) {
    struct Case {
        const char* what;
        std::function<void(ViewPrintTest&, DeferredRunner&)> run;
        const char* report;  // nullptr: none
        std::size_t jobs;
    };
    const Case cases[] = {
        {"time-out while rendering",
         [](ViewPrintTest& t, DeferredRunner& runner) {
             t.m_window.expire();
             t.m_renderer.finish();
             runner.deliver();
         },
         "print 2 3|failed|2", 0},
        {"time-out before the submission",
         [](ViewPrintTest& t, DeferredRunner& runner) {
             t.m_renderer.finish();
             ASSERT_TRUE(runner.pending());
             t.m_window.expire();
             runner.deliver();
         },
         "print 2 3|failed|2", 0},
        {"dialog gone before the submission",
         [](ViewPrintTest& t, DeferredRunner& runner) {
             t.m_renderer.finish();
             t.m_view.DisarmPrint(&t.m_receiver);
             runner.deliver();
         },
         nullptr, 0},
        {"renderer gone while rendering",
         [](ViewPrintTest& t, DeferredRunner& runner) {
             t.m_view.OnRenderProcessGone();
             t.m_renderer.finish();
             runner.deliver();
         },
         "print 2 3|failed|2", 0},
        {"time-out while the printer takes the job",
         [](ViewPrintTest& t, DeferredRunner& runner) {
             t.m_renderer.finish();
             runner.runWork();
             t.m_window.expire();
             EXPECT_TRUE(t.m_receiver.reports.empty());
             EXPECT_TRUE(t.m_window.timer);
             runner.deliver();
         },
         "print 2 3|printed|2", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrinterSystem printers;
        printers.addDestination("Office", FakePrinterSystem::standardDestination());
        DeferredRunner runner;
        CWebBrowserPrint driver(printers, runner);
        driver.SetBrowser(&m_renderer);
        m_view.SetPrinting(&driver, &m_window);
        m_receiver.reports.clear();
        m_renderer.deferred = true;
        ASSERT_TRUE(armPrint());
        m_view.OnDocumentComplete("x", true);
        c.run(*this, runner);
        EXPECT_EQ(m_receiver.reports,
                  c.report ? std::vector<std::string>{c.report} : std::vector<std::string>{});
        EXPECT_EQ(printers.submissions().size(), c.jobs);
        EXPECT_FALSE(driver.printing());
        EXPECT_FALSE(m_view.printPending());
        m_view.SetPrinting(nullptr, nullptr);
    }
}

TEST_F(ViewPrintTest, PrintWithoutADialogIsAProgrammersError) {
    ASSERT_TRUE(m_view.SetPrintCommand("print 1 1", nullptr, 1, 1));
    m_view.OnDocumentComplete("x", true);
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{
                                 "Exception,m_sPrintCmd==NULL||m_pPrintDlg==NULL(for programmer "
                                 "only"});
    EXPECT_FALSE(m_view.printPending());
    EXPECT_TRUE(m_printers.submissions().empty());
}

TEST_F(ViewPrintTest, ReportMarginsComeBeforeMyPageSetup) {
    TempDir dir;
    const std::string path =
        dir.write("r.htm", fixtures::markedHtmlReport(
                               3, fixtures::htmlPrologue() + "<!--PAGINOR?margin_left=1.5inch-->"));
    std::string trace = "Try_Start";
    m_doc.report().Init(path, nullptr, true, &trace, nullptr, nullptr);
    m_view.SetMyPageSetup("&p", "", "0.5", "1,5", "x", "-1");
    ASSERT_TRUE(armPrint());
    m_view.OnDocumentComplete("x", true);
    ASSERT_EQ(m_renderer.layouts.size(), 1u);
    const PdfPageLayout& layout = m_renderer.layouts[0];
    EXPECT_DOUBLE_EQ(layout.left, 38.1);
    EXPECT_DOUBLE_EQ(layout.right, 38.1);
    // The header keeps room for its line in the top margin.
    EXPECT_DOUBLE_EQ(layout.top, 4.23 + 6.35);
    EXPECT_DOUBLE_EQ(layout.bottom, 4.23);
    EXPECT_EQ(m_driver.pageSetup().header, "&p");
}

TEST_F(ViewPrintTest, DriverCallsShowWhatRunsInTheTitle) {
    std::string printerOut, paperOut, list, text;
    int orientation = 0;
    bool printerSet, paperSet, dialogNeeded;
    EXPECT_TRUE(m_view.CallPrintSetup("A3", "Office", printerOut, paperOut, orientation, printerSet,
                                      paperSet, dialogNeeded, list));
    EXPECT_TRUE(m_view.CallGetPageSetup(printerOut, paperOut, orientation, text, list));
    EXPECT_EQ(paperOut, "A3");
    EXPECT_EQ(m_window.titles,
              (std::vector<std::string>{"Calling  PrintSetup...", "Report -- Paginor",
                                        "Calling  GetPageSetup ...", "Report -- Paginor"}));
    EXPECT_TRUE(m_view.CanPrint());
}

}  // namespace
}  // namespace paginor
