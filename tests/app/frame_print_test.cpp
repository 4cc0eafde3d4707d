#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "app/foliant_doc.h"
#include "app/foliant_view.h"
#include "app/main_frame.h"
#include "app/print/web_browser_print.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/settings_store.h"
#include "tests/app/app_fakes.h"
#include "tests/app/print_fakes.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/print/print_test_support.h"
#include "tests/support/fake_printer_system.h"

namespace paginor {
namespace {

// Runs the queue to its end by ticks; the print options answer with a scripted choice.
class FakeDialogs : public PrintDialogs {
public:
    void RunPrintQueue(CPrintDlg& queue) override {
        ++queues;
        framePrintDialogOpen = frame->printDialogOpen();
        if (!queue.OnInitDialog(view)) {
            return;
        }
        docPrintDialogOpen = doc->IsPrintDialogOpen();
        for (int i = 0; i < 1000 && view.ended == 0 && !queue.finished(); ++i) {
            queue.OnTimer();
            // The browser has loaded the page written for printing.
            if (completeLoads && reportView->printPending()) {
                reportView->OnDocumentComplete("paginor-mem:page", true);
            }
            if (afterTick) {
                afterTick(queue);
            }
        }
    }
    void RunPrintSetup(
        PrintSetup& setup, const std::vector<std::string>& printers, std::int32_t pageHeight,
        const std::function<PrintSetup::OkResult(const PrintSetup::Choice&)>& onOk) override {
        ++setups;
        shownPrinters = printers;
        shownPrinter = setup.printer();
        shownPaper = setup.paper();
        shownFrom = setup.from();
        shownTo = setup.to();
        shownHeight = pageHeight;
        okResult = onOk(choice);
    }

    CMainFrame* frame = nullptr;
    CFoliantDoc* doc = nullptr;
    CFoliantView* reportView = nullptr;
    bool completeLoads = true;
    std::function<void(CPrintDlg&)> afterTick;
    FakePrintDlgView view;
    int queues = 0;
    int setups = 0;
    bool framePrintDialogOpen = false;
    bool docPrintDialogOpen = false;
    PrintSetup::Choice choice;
    PrintSetup::OkResult okResult = PrintSetup::OkResult::Stay;
    Texts shownPrinters;
    std::string shownPrinter;
    std::string shownPaper;
    std::int32_t shownFrom = 0;
    std::int32_t shownTo = 0;
    std::int32_t shownHeight = -1;
};

class FramePrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_printers.addDestination("Office", FakePrinterSystem::standardDestination());
        m_printers.addDestination("Lab", FakePrinterSystem::standardDestination());
        m_driver.SetBrowser(&m_renderer);
        m_view = std::make_unique<CFoliantView>(m_doc, m_browser, m_ui, m_settings);
        m_view->SetPrinting(&m_driver, nullptr);
        m_frame = std::make_unique<CMainFrame>(m_doc, *m_view, m_widgets, m_ui, m_settings);
        m_dialogs.frame = m_frame.get();
        m_dialogs.doc = &m_doc;
        m_dialogs.reportView = m_view.get();
        m_frame->SetPrintEnvironment(&m_environment);
        CPrintDlg::WaitDotCounter() = 0;
    }

    void loadReport(int pages, const std::string& prologue = fixtures::htmlPrologue()) {
        const std::string path =
            m_dir.write("report.htm", fixtures::markedHtmlReport(pages, prologue));
        m_reportUrl = "file://" + path;
        ASSERT_EQ(m_frame->RunCommand("open \"" + path + "\""), 1);
        ASSERT_EQ(m_frame->RunCommand("nextpage"), 1);
        m_ui.messages.clear();
    }

    static bool holdsPage(const std::string& html, int page) {
        return html.find("<td>Page " + std::to_string(page) + "</td>") != std::string::npos;
    }

    TempDir m_dir;
    CFoliantDoc m_doc;
    RecordingUi m_ui;
    FakeBrowser m_browser;
    FakeWidgets m_widgets;
    MemorySettingsStore m_settings;
    FakePrinterSystem m_printers;
    InlineRunner m_runner;
    FakeRenderer m_renderer;
    CWebBrowserPrint m_driver{m_printers, m_runner};
    FakeSpool m_spool;
    FakePrinterLock m_lock;
    FakePageSetup m_store;
    FakeDialogs m_dialogs;
    std::string m_address;
    std::string m_reportUrl;
    PrintEnvironment m_environment{m_spool, m_lock, m_store, m_dialogs,
                                   [this] { return m_address; }};
    std::unique_ptr<CFoliantView> m_view;
    std::unique_ptr<CMainFrame> m_frame;
};

// The browser's loaded pages hold these pages of the report.
Texts submittedTitles(const FakePrinterSystem& printers) {
    Texts titles;
    for (const FakePrinterSystem::Submission& job : printers.submissions()) {
        titles.push_back(job.destination + " " + job.title);
    }
    return titles;
}

TEST_F(FramePrintTest, NothingPrintsWithoutAPrinterOrAWorkingView) {
    loadReport(3);
    EXPECT_EQ(m_frame->RunCommand("print 1 3"), 0);
    EXPECT_EQ(m_ui.messages, (Texts{"The printer name has not been initialed"}));
    m_frame->setPrinterName("Office");
    m_view->SetPrinting(nullptr, nullptr);
    EXPECT_EQ(m_frame->RunCommand("print 1 3"), 0);
    EXPECT_EQ(m_ui.messages.back(), "The print function doesn't work well now!");
    EXPECT_EQ(m_dialogs.queues, 0);
}

TEST_F(FramePrintTest, PrintRunsTheQueueThroughTheView) {
    loadReport(4);
    m_frame->setPrinterName("Lab");
    m_browser.loads = 0;
    EXPECT_EQ(m_frame->RunCommand("print 2 3"), 1);
    EXPECT_EQ(m_dialogs.queues, 1);
    EXPECT_TRUE(m_dialogs.framePrintDialogOpen);
    EXPECT_TRUE(m_dialogs.docPrintDialogOpen);
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
    // One job per page, titled with the page address, to the frame's printer.
    EXPECT_EQ(submittedTitles(m_printers), (Texts{"Lab " + m_reportUrl, "Lab " + m_reportUrl}));
    // Both tasks went through the view; then the page shown before came back.
    EXPECT_EQ(m_browser.loads, 3);
    EXPECT_TRUE(holdsPage(m_browser.shown, 1));
    EXPECT_FALSE(holdsPage(m_browser.shown, 3));
    EXPECT_EQ(m_frame->printCounter(), 2);
    EXPECT_EQ(m_lock.names, (Texts{"PAGINORLab"}));
    EXPECT_FALSE(m_lock.held);
    EXPECT_FALSE(m_frame->printDialogOpen());
    EXPECT_FALSE(m_doc.IsPrintDialogOpen());
    EXPECT_FALSE(m_frame->taskRunning());
    EXPECT_EQ(m_frame->runningPrintDlg(), nullptr);
    EXPECT_EQ(m_widgets.firstField + "-" + m_widgets.lastField, "1-1");
    // The interpreter takes commands again.
    EXPECT_EQ(m_frame->RunCommand("show 4"), 1);
}

// However a print ends, the view, the page fields and the page list name the same pages: the
// ones the reader had.
TEST_F(FramePrintTest, AfterPrintingTheViewAndTheFieldsAgree) {
    struct Case {
        const char* what;
        int printsBeforeCancel;  // -1: none, it runs to its end
        int loads;               // of the browser, from the print on
    };
    const Case cases[] = {
        {"printed", -1, 4},
        {"cancelled after a task", 1, 2},
        {"cancelled before any task", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        loadReport(6);
        m_frame->setPrinterName("Office");
        ASSERT_EQ(m_frame->RunCommand("show 5 6"), 1);
        m_browser.scrollTop = 120;
        m_dialogs.view = FakePrintDlgView();
        const std::size_t before = m_printers.submissions().size();
        m_dialogs.afterTick = [&](CPrintDlg& queue) {
            // A page written for printing shows from its top.
            if (m_view->printPending()) {
                m_browser.scrollTop = 0;
            }
            const auto printed = static_cast<int>(m_printers.submissions().size() - before);
            if (printed == c.printsBeforeCancel && !m_view->printPending()) {
                queue.OnCancel();
            }
        };
        m_browser.loads = 0;
        m_frame->RunCommand("print 1 3");
        m_dialogs.afterTick = nullptr;
        EXPECT_EQ(m_browser.loads, c.loads);
        EXPECT_TRUE(holdsPage(m_browser.shown, 5));
        EXPECT_TRUE(holdsPage(m_browser.shown, 6));
        EXPECT_FALSE(holdsPage(m_browser.shown, 1));
        EXPECT_EQ(m_widgets.firstField + "-" + m_widgets.lastField, "5-6");
        EXPECT_EQ(m_widgets.listSelection, 4);
        EXPECT_EQ(m_frame->firstPage(), 5);
        EXPECT_EQ(m_frame->lastPage(), 6);
        // The reader keeps the place on the page.
        EXPECT_EQ(m_browser.scrollTop, 120);
        EXPECT_EQ(m_frame->RunCommand("nextpage"), 1);
        EXPECT_TRUE(holdsPage(m_browser.shown, 1));
    }
}

// Jobs are titled with the address the report came from, which the queue counts its jobs by.
TEST_F(FramePrintTest, JobsCarryTheReportsAddress) {
    EXPECT_EQ(m_frame->pageAddress(), "about:blank");
    m_frame->setPrinterName("Office");
    const std::string path = m_dir.write("got.htm", fixtures::markedHtmlReport(2));
    m_address = "http://reports.example.com/run?report=sales&page=all";
    std::string trace = "Try_Start";
    m_doc.report().Init(path, m_address.c_str(), true, &trace, nullptr, nullptr);
    ASSERT_EQ(m_frame->RunCommand("show 1"), 1);
    EXPECT_EQ(m_frame->pageAddress(), m_address);
    EXPECT_EQ(m_frame->RunCommand("print 2 2"), 1);
    // A report opened from a file afterwards is titled with its file.
    loadReport(2);
    EXPECT_EQ(m_frame->pageAddress(), m_reportUrl);
    m_dialogs.view = FakePrintDlgView();
    EXPECT_EQ(m_frame->RunCommand("print 1 1"), 1);
    EXPECT_EQ(submittedTitles(m_printers), (Texts{"Office " + m_address, "Office " + m_reportUrl}));
}

TEST_F(FramePrintTest, ARefusedPrintFailsTheTask) {
    loadReport(2);
    m_frame->setPrinterName("Office");
    m_renderer.succeed = false;
    EXPECT_EQ(m_frame->RunCommand("print 1 2"), 0);
    EXPECT_EQ(m_ui.messages.back(),
              "Something wrong, print jobs cannot finish, please try later\nThe page could not be "
              "rendered for printing\nno page was sent to Office");
    EXPECT_TRUE(m_printers.submissions().empty());
}

TEST_F(FramePrintTest, BufferedPrintingGoesThroughAPrivatePageFile) {
    loadReport(3);
    m_frame->setPrinterName("Office");
    EXPECT_EQ(m_frame->pageAddress(), m_reportUrl);
    m_frame->OnBufferToFile();
    ASSERT_TRUE(m_frame->bufferToFile());
    const std::string path = m_frame->tempPagePath();
    EXPECT_EQ(path.rfind(privateTempFolder() + "/", 0), 0u);
    EXPECT_EQ(m_frame->pageAddress(), "file://" + path);

    // The page file is written before the view navigates to it; here no load ever completes.
    m_dialogs.completeLoads = false;
    m_browser.navigated.clear();
    EXPECT_EQ(m_frame->RunCommand("print 2 3"), 0);
    EXPECT_EQ(m_browser.navigated, (Texts{"file://" + path}));
    std::string written;
    std::string error;
    ASSERT_TRUE(readWholeFile(path, written, error)) << error;
    EXPECT_TRUE(holdsPage(written, 2));
    EXPECT_FALSE(holdsPage(written, 3));
    // The queue ended with the print armed: the view let it go.
    EXPECT_FALSE(m_view->printPending());

    m_dialogs.completeLoads = true;
    m_dialogs.view = FakePrintDlgView();
    EXPECT_EQ(m_frame->RunCommand("print 2 3"), 1);
    EXPECT_EQ(submittedTitles(m_printers),
              (Texts{"Office file://" + path, "Office file://" + path}));

    m_frame->OnBufferToFile();
    EXPECT_EQ(m_frame->pageAddress(), m_reportUrl);
    m_frame.reset();
    struct stat st {};
    EXPECT_NE(stat(path.c_str(), &st), 0);
}

TEST_F(FramePrintTest, BufferToFileWaitsWhileATaskRuns) {
    m_frame->setTaskRunning(true);
    m_frame->OnBufferToFile();
    EXPECT_FALSE(m_frame->bufferToFile());
    EXPECT_TRUE(m_frame->tempPagePath().empty());
}

TEST_F(FramePrintTest, DirectivesNameThePrinterOnce) {
    loadReport(2, fixtures::htmlPrologue() +
                      "<!--PAGINOR?printer=Lab-->\r\n"
                      "<!--PAGINOR?papersize=Letter-->\r\n"
                      "<!--PAGINOR?orientation=landscape-->\r\n");
    std::string printer;
    std::string paper;
    std::int32_t orientation = 0;
    EXPECT_TRUE(m_frame->ApplyPrintDirectives(true, printer, paper, orientation));
    EXPECT_EQ(printer, "Lab");
    EXPECT_EQ(paper, "Letter");
    EXPECT_EQ(orientation, 1);
    EXPECT_EQ(m_frame->printerName(), "Lab");
    EXPECT_EQ(m_driver.printer(), "Lab");
    EXPECT_EQ(m_driver.orientation(), 1);
    bool printerSet = false;
    bool paperSet = false;
    bool dialogNeeded = false;
    std::string list;
    m_driver.PrintSetup("", "Office", printer, paper, orientation, printerSet, paperSet,
                        dialogNeeded, list);
    // Applied once per load.
    EXPECT_TRUE(m_frame->ApplyPrintDirectives(true, printer, paper, orientation));
    EXPECT_EQ(m_driver.printer(), "Office");
}

TEST_F(FramePrintTest, AMissingDirectedPrinterIsSaid) {
    loadReport(2, fixtures::htmlPrologue() + "<!--PAGINOR?printer=Gone-->\r\n");
    m_ui.answer = MessageAnswer::No;
    std::string printer;
    std::string paper;
    std::int32_t orientation = 0;
    EXPECT_FALSE(m_frame->ApplyPrintDirectives(true, printer, paper, orientation));
    ASSERT_EQ(m_ui.messages.size(), 1u);
    EXPECT_EQ(m_ui.messages[0],
              "Error:\nFail to setup up printer as \"Gone\", Current selected printer is "
              "\"Office\" \nContinue printing?");
}

TEST_F(FramePrintTest, PrintOptionsChooseAndPrint) {
    loadReport(6);
    ASSERT_EQ(m_frame->RunCommand("show 2 3"), 1);
    m_dialogs.choice.range = PrintSetup::Range::Given;
    m_dialogs.choice.printer = "Lab";
    m_dialogs.choice.pagesPerTask = 2;
    m_frame->OnPrintCommand();
    EXPECT_EQ(m_dialogs.shownPrinter, "Office");
    EXPECT_EQ(m_dialogs.shownPaper, "A4");
    EXPECT_EQ(m_dialogs.shownPrinters, (Texts{"Office", "Lab"}));
    EXPECT_EQ(m_dialogs.shownFrom, 2);
    EXPECT_EQ(m_dialogs.shownTo, 3);
    EXPECT_EQ(m_dialogs.okResult, PrintSetup::OkResult::Print);
    EXPECT_EQ(m_frame->printerName(), "Lab");
    ASSERT_EQ(m_store.calls.size(), 1u);
    EXPECT_EQ(m_store.calls[0].rfind("SetCurrent ", 0), 0u);
    EXPECT_EQ(m_doc.report().pagesPerPrintChunk(), 2);
    EXPECT_EQ(submittedTitles(m_printers), (Texts{"Lab " + m_reportUrl}));
    EXPECT_EQ(m_spool.printers.back(), "Lab");
}

TEST_F(FramePrintTest, PrintOptionsWithoutAnyPrinterPrintNothing) {
    FakePrinterSystem none;
    CWebBrowserPrint driver(none, m_runner);
    m_view->SetPrinting(&driver, nullptr);
    loadReport(2);
    m_frame->OnPrintCommand();
    EXPECT_EQ(m_ui.messages, (Texts{"No printer is set up"}));
    EXPECT_EQ(m_dialogs.setups, 0);
    EXPECT_EQ(m_dialogs.queues, 0);
}

// The directives name printer and paper: the options still open with every printer listed.
TEST_F(FramePrintTest, PrintOptionsOpenWithThePrinterList) {
    loadReport(2, fixtures::htmlPrologue() +
                      "<!--PAGINOR?printer=Lab-->\r\n<!--PAGINOR?papersize=Let-->\r\n");
    m_dialogs.choice.range = PrintSetup::Range::All;
    m_frame->OnPrintCommand();
    EXPECT_EQ(m_dialogs.setups, 1);
    EXPECT_EQ(m_dialogs.shownPrinters, (Texts{"Office", "Lab"}));
    EXPECT_EQ(m_dialogs.shownPrinter, "Lab");
    // The paper the directive began is shown by its name.
    EXPECT_EQ(m_dialogs.shownPaper, "Letter");
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
}

// A print system that cannot be reached is named once, with its own words, and nothing opens.
TEST_F(FramePrintTest, APrintSystemThatIsAwayIsNamedOnce) {
    loadReport(2, fixtures::htmlPrologue() + "<!--PAGINOR?printer=Lab-->\r\n");
    const std::string away =
        "The print system (CUPS) at 127.0.0.1:9 cannot be reached: Bad file descriptor";
    m_printers.failWith(away);
    std::string printer;
    std::string paper;
    std::int32_t orientation = 0;
    EXPECT_FALSE(m_frame->ApplyPrintDirectives(true, printer, paper, orientation));
    EXPECT_TRUE(m_ui.messages.empty());
    m_frame->OpenPrintSetup(false);
    EXPECT_EQ(m_ui.messages, (Texts{away}));
    EXPECT_EQ(m_dialogs.setups, 0);
    EXPECT_EQ(m_dialogs.queues, 0);
}

}  // namespace
}  // namespace paginor
