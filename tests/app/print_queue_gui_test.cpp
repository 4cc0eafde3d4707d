#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/foliant_doc.h"
#include "app/print/page_setup_store.h"
#include "app/qt/main_window.h"
#include "app/qt/print_queue_wiring.h"
#include "app/qt/print_support.h"
#include "app/qt/report_browser.h"
#include "cups_test_server.h"
#include "http_test_server.h"
#include "platform/file.h"
#include "platform/printer_system.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/app/app_fakes.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/support/gui_waiting.h"

namespace paginor {
namespace {

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, got);
        }
        pclose(pipe);
    }
    return output;
}

// A report whose pages each start a new sheet; head adds directives before page 1.
std::string sheetReport(int pages, const std::string& head = {}) {
    std::string text = fixtures::htmlPrologue() + head;
    for (int page = 1; page <= pages; ++page) {
        text += fixtures::kHeadMark + "<table style=\"page-break-before: always\"><tr><td>Sheet " +
                std::to_string(page) + "</td></tr></table>" + fixtures::kFootMark + "\r\n";
    }
    return text + "</body>\r\n</html>\r\n";
}

// The jobs the printers received after the ones in before, in the order they were made.
std::vector<CupsTestJob> newJobs(const CupsTestServer& server, const std::vector<int>& before) {
    const std::set<int> old(before.begin(), before.end());
    std::vector<int> ids;
    for (int id : server.receivedJobs()) {
        if (!old.count(id)) {
            ids.push_back(id);
        }
    }
    std::sort(ids.begin(), ids.end());
    std::vector<CupsTestJob> jobs;
    for (int id : ids) {
        jobs.push_back(server.waitForJob(id));
    }
    return jobs;
}

// The sheets a job's PDF holds, as "1 2".
std::string sheetsOf(const TempDir& dir, const CupsTestJob& job) {
    const std::string path = dir.write("job" + std::to_string(job.id) + ".pdf", job.pdf);
    const std::string text = run("pdftotext '" + path + "' -");
    std::string sheets;
    for (std::size_t at = text.find("Sheet "); at != std::string::npos;
         at = text.find("Sheet ", at + 6)) {
        sheets += (sheets.empty() ? "" : " ") +
                  text.substr(at + 6, text.find_first_not_of("0123456789", at + 6) - at - 6);
    }
    return sheets;
}

// The page numbers in the headers of a job's sheets, as "5/6 6/6".
std::string headerPagesOf(const TempDir& dir, const CupsTestJob& job) {
    const std::string path = dir.write("job" + std::to_string(job.id) + ".pdf", job.pdf);
    const std::string info = run("pdfinfo '" + path + "'");
    const auto count = info.find("Pages:");
    const int sheets = count == std::string::npos ? 0 : std::atoi(info.c_str() + count + 6);
    std::string pages;
    for (int sheet = 1; sheet <= sheets; ++sheet) {
        const std::string text = run("pdftotext -f " + std::to_string(sheet) + " -l " +
                                     std::to_string(sheet) + " '" + path + "' -");
        int page = 0;
        int of = 0;
        const auto at = text.find("Page ");
        if (at == std::string::npos ||
            std::sscanf(text.c_str() + at, "Page %d of %d", &page, &of) != 2) {
            page = of = 0;
        }
        pages += (pages.empty() ? "" : " ") + std::to_string(page) + "/" + std::to_string(of);
    }
    return pages;
}

// The main window's frame prints through the real queue dialog, view, web engine and CUPS.
class QueueEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        m_server = sharedCupsTestServer(error);
        ASSERT_NE(m_server, nullptr) << error;
        m_doc.GetPageSetupStore()->Load(m_dir.path() + "/pagesetup.dat");
        m_window = std::make_unique<MainWindow>(m_doc, m_ui, m_settings);
        m_window->show();
        std::string trace = "Try_Start";
        m_reportPath = m_dir.write("report.htm", sheetReport(4));
        m_doc.report().Init(m_reportPath, nullptr, true, &trace, nullptr, nullptr);
        ASSERT_EQ(m_window->frame().RunCommand("show 1"), 1);
        waitUntil([&] { return !m_window->browser()->loading(); }, "page 1 to load");
        m_window->frame().setPrinterName(CupsTestServer::kQueue);
    }

    void TearDown() override {
        if (m_window) {
            m_window->close();
            m_window.reset();
        }
        if (m_server != nullptr) {
            m_server->holdNewJobs(CupsTestServer::kQueue, false);
            m_server->openSlowGate();
        }
    }

    // Prints the range with this many pages per task and gives what read finds in each job:
    // its sheets unless told otherwise.
    std::vector<std::string> print(
        std::int32_t from, std::int32_t to, std::int32_t perTask, std::int32_t copies = 1,
        bool collate = true,
        const std::function<std::string(const TempDir&, const CupsTestJob&)>& read = sheetsOf) {
        const std::vector<int> before = m_server->receivedJobs();
        m_doc.report().setPagesPerPrintChunk(perTask);
        // A print before shows the reader's page again: the view prints once it has loaded.
        waitUntil([&] { return !m_window->browser()->loading(); }, "the shown page to load");
        // The modal queue ends by itself.
        EXPECT_EQ(m_window->frame().PrintPages(from, to, copies, collate), 1)
            << (m_ui.messages.empty() ? std::string() : m_ui.messages.back());
        std::vector<std::string> sheets;
        for (const CupsTestJob& job : newJobs(*m_server, before)) {
            // Titled with the report's address, by which the queue counts its jobs.
            EXPECT_EQ(job.title, "file://" + m_reportPath);
            sheets.push_back(read(m_dir, job));
        }
        return sheets;
    }

    TempDir m_dir;
    std::string m_reportPath;
    CFoliantDoc m_doc;
    RecordingUi m_ui;
    MemorySettingsStore m_settings;
    std::unique_ptr<MainWindow> m_window;
    CupsTestServer* m_server = nullptr;
};

// With one job of its own allowed in the printer's queue, the queue waits while the job it sent
// is held there, and goes on once the job has printed.
TEST_F(QueueEndToEnd, TheQueueSeesItsOwnJobsWaiting) {
    ASSERT_TRUE(m_server->holdNewJobs(CupsTestServer::kQueue, true));
    std::string waiting;
    QTimer watch;
    m_window->queuePrinting().dialogs().onQueueDialog = [&](CPrintDlgWindow& window) {
        window.delayButton()->click();
        QPointer<CPrintDlgWindow> dialog(&window);
        QObject::connect(&watch, &QTimer::timeout, [&, dialog] {
            const std::string status =
                dialog ? dialog->statusLine()->text().toStdString() : std::string();
            if (!waiting.empty() ||
                status.rfind("1 print tasks in print queue ,waiting ", 0) != 0) {
                return;
            }
            waiting = status;
            EXPECT_TRUE(m_server->holdNewJobs(CupsTestServer::kQueue, false));
            CupsPrinterSystem printers;
            std::vector<PrinterJob> jobs;
            std::string error;
            EXPECT_TRUE(printers.activeJobs(CupsTestServer::kQueue, jobs, error)) << error;
            EXPECT_EQ(jobs.size(), 1u);
            for (const PrinterJob& job : jobs) {
                EXPECT_EQ(job.title, "file://" + m_reportPath);
                EXPECT_TRUE(m_server->release(job.id));
            }
        });
        watch.start(50);
    };
    EXPECT_EQ(print(1, 3, 1), (std::vector<std::string>{"1", "2", "3"}));
    watch.stop();
    m_window->queuePrinting().dialogs().onQueueDialog = nullptr;
    EXPECT_FALSE(waiting.empty());
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
}

// The jobs a print has sent to a slow printer still wait there when the user cancels the print:
// Cancel offers to withdraw them, they leave CUPS, and none of them prints.
TEST_F(QueueEndToEnd, CancelWithdrawsTheJobsWaitingAtASlowPrinter) {
    const std::string slow = "PaginorSlow";
    ASSERT_TRUE(m_server->addQueue(slow, true));
    ASSERT_TRUE(m_server->closeSlowGate());
    m_window->frame().setPrinterName(slow);
    m_doc.report().setPagesPerPrintChunk(1);
    const std::vector<int> before = m_server->receivedJobs();
    CupsPrinterSystem printers;
    std::vector<PrinterJob> waiting;
    QTimer watch;
    m_window->queuePrinting().dialogs().onQueueDialog = [&](CPrintDlgWindow& window) {
        // Two jobs of its own in the queue hold the next task back.
        window.noDelayButton()->click();
        QPointer<CPrintDlgWindow> dialog(&window);
        QObject::connect(&watch, &QTimer::timeout, [&, dialog] {
            if (!dialog || !waiting.empty() ||
                dialog->statusLine()->text().toStdString().rfind(
                    "2 print tasks in print queue ,waiting ", 0) != 0) {
                return;
            }
            std::string error;
            EXPECT_TRUE(printers.activeJobs(slow, waiting, error)) << error;
            dialog->cancelButton()->click();
        });
        watch.start(50);
    };
    EXPECT_EQ(m_window->frame().PrintPages(1, 4, 1, true), 0);
    watch.stop();
    m_window->queuePrinting().dialogs().onQueueDialog = nullptr;
    EXPECT_EQ(waiting.size(), 2u);
    EXPECT_EQ(m_ui.messages, (std::vector<std::string>{
                                 "Are you realy want to cancel all tasks?",
                                 "2 print jobs of this print still wait in the queue of "
                                 "PaginorSlow (pages 1-2).\nWithdraw them from the printer?"}));
    std::vector<PrinterJob> left;
    std::string error;
    EXPECT_TRUE(printers.activeJobs(slow, left, error)) << error;
    EXPECT_TRUE(left.empty());
    // A job sent after them prints once the printer goes on; the withdrawn ones never do.
    ASSERT_TRUE(m_server->openSlowGate());
    int later = 0;
    ASSERT_TRUE(printers.submitPdf(slow, "later", m_dir.write("later.pdf", "%PDF-1.4\n%%EOF\n"), {},
                                   later, error))
        << error;
    m_server->waitForJob(later);
    const std::vector<CupsTestJob> printed = newJobs(*m_server, before);
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0].title, "later");
    EXPECT_TRUE(m_server->removeQueue(slow));
}

// What the print options show each time they open.
struct ShownOptions {
    std::vector<std::string> printers;
    std::string selected;
    std::string printer;
};

// The print options read the printers each time they open: one added since is offered, one
// removed since is not, and the printer it was set to gives way to the default one.
TEST_F(QueueEndToEnd, ThePrintOptionsReadThePrintersEachTimeTheyOpen) {
    std::vector<ShownOptions> shown;
    m_window->queuePrinting().dialogs().onSetupDialog = [&](PrintSetupDialog& dialog) {
        ShownOptions options;
        for (int i = 0; i < dialog.printerBox()->count(); ++i)
            options.printers.push_back(dialog.printerBox()->itemText(i).toStdString());
        options.selected = dialog.printerBox()->currentText().toStdString();
        options.printer = dialog.printerEdit()->text().toStdString();
        shown.push_back(options);
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
    };
    const std::string later = "PaginorLater";
    m_window->frame().OpenPrintSetup(false);
    ASSERT_TRUE(m_server->addQueue(later));
    m_window->frame().OpenPrintSetup(false);
    std::string printerOut, paperOut, list;
    int orientation = 2;
    bool printerSet = false, paperSet = false, dialogNeeded = false;
    ASSERT_TRUE(m_window->view().CallPrintSetup("", later, printerOut, paperOut, orientation,
                                                printerSet, paperSet, dialogNeeded, list));
    ASSERT_TRUE(printerSet);
    m_window->frame().OpenPrintSetup(false);
    ASSERT_TRUE(m_server->removeQueue(later));
    m_window->frame().OpenPrintSetup(false);
    m_window->queuePrinting().dialogs().onSetupDialog = nullptr;

    const std::vector<std::string> two = {"PaginorTest", "PaginorTest2"};
    const std::vector<std::string> three = {"PaginorLater", "PaginorTest", "PaginorTest2"};
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].printers, two);
    EXPECT_EQ(shown[1].printers, three);
    EXPECT_EQ(shown[2].printers, three);
    EXPECT_EQ(shown[2].printer, later);
    EXPECT_EQ(shown[2].selected, later);
    EXPECT_EQ(shown[3].printers, two);
    EXPECT_EQ(shown[3].printer, "PaginorTest");
    EXPECT_EQ(shown[3].selected, "PaginorTest");
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
}

// "Print Setting ..." sets up the printer chosen in the print options, also when the printer
// set before has gone, and the paper, orientation and margins chosen there are the job's.
TEST_F(QueueEndToEnd, PrintSettingChoicesReachTheJob) {
    const std::string gone = "PaginorGone";
    ASSERT_TRUE(m_server->addQueue(gone));
    std::string printerOut, paperOut, list;
    int orientation = 2;
    bool printerSet = false, paperSet = false, dialogNeeded = false;
    ASSERT_TRUE(m_window->view().CallPrintSetup("", gone, printerOut, paperOut, orientation,
                                                printerSet, paperSet, dialogNeeded, list));
    ASSERT_TRUE(m_server->removeQueue(gone));
    std::string settingFor;
    m_window->queuePrinting().dialogs().onSetupDialog = [&](PrintSetupDialog& dialog) {
        QTimer::singleShot(0, &dialog, [&] {
            QTimer::singleShot(0, [&] {
                auto* setting =
                    qobject_cast<PrintSettingDialog*>(QApplication::activeModalWidget());
                ASSERT_NE(setting, nullptr);
                settingFor = setting->windowTitle().toStdString();
                setting->paperBox()->setCurrentIndex(setting->paperBox()->findText("Letter"));
                setting->landscapeButton()->setChecked(true);
                setting->marginBox(0)->setValue(1.18);  // 30 mm
                setting->accept();
            });
            dialog.printSettingButton()->click();
            EXPECT_EQ(dialog.paperEdit()->text().toStdString(), "Letter");
            EXPECT_EQ(dialog.orientationEdit()->text().toStdString(), "Landscape");
            dialog.pagesButton()->setChecked(true);
            dialog.fromEdit()->setText("2");
            dialog.toEdit()->setText("2");
            dialog.printButton()->click();
        });
    };
    const std::vector<int> before = m_server->receivedJobs();
    m_window->frame().OpenPrintSetup(false);
    m_window->queuePrinting().dialogs().onSetupDialog = nullptr;
    EXPECT_EQ(settingFor, "Print Setting");
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
    const std::vector<CupsTestJob> jobs = newJobs(*m_server, before);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(sheetsOf(m_dir, jobs[0]), "2");
    const std::string path = m_dir.write("setting.pdf", jobs[0].pdf);
    const std::string info = run("pdfinfo '" + path + "'");
    double width = 0, height = 0;
    const auto size = info.find("Page size:");
    ASSERT_NE(size, std::string::npos) << info;
    ASSERT_EQ(std::sscanf(info.c_str() + size, "Page size: %lf x %lf", &width, &height), 2);
    EXPECT_NEAR(width, 792, 1.5);
    EXPECT_NEAR(height, 612, 1.5);
    const std::string boxes = run("pdftotext -bbox '" + path + "' -");
    const auto word = boxes.find(">Sheet</word>");
    ASSERT_NE(word, std::string::npos) << boxes;
    double xMin = 0;
    ASSERT_EQ(std::sscanf(boxes.c_str() + boxes.rfind("<word", word), "<word xMin=\"%lf\"", &xMin),
              1);
    EXPECT_GE(xMin, 30 * 72 / 25.4 - 0.5);
    EXPECT_LT(xMin, 30 * 72 / 25.4 + 20);
}

TEST_F(QueueEndToEnd, TwoPagesPerTaskMakeOneJobOfBothPages) {
    EXPECT_EQ(print(2, 3, 2), (std::vector<std::string>{"2 3"}));
    EXPECT_EQ(print(2, 3, 1), (std::vector<std::string>{"2", "3"}));
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
    EXPECT_EQ(m_window->frame().printCounter(), 2);
}

TEST_F(QueueEndToEnd, BufferedPagesPrintFromTheirFile) {
    m_window->frame().OnBufferToFile();
    const std::string address = m_window->frame().pageAddress();
    ASSERT_EQ(address.rfind("file://", 0), 0u);
    const std::vector<int> before = m_server->receivedJobs();
    m_doc.report().setPagesPerPrintChunk(2);
    EXPECT_EQ(m_window->frame().PrintPages(3, 4, 1, true), 1);
    const std::vector<CupsTestJob> jobs = newJobs(*m_server, before);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].title, address);
    EXPECT_EQ(sheetsOf(m_dir, jobs[0]), "3 4");
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
}

// &p is the report page on the sheet and &P the report's page count, however the range is cut
// into tasks.
TEST_F(QueueEndToEnd, HeadersNumberTheReportsPages) {
    std::string trace = "Try_Start";
    m_reportPath = m_dir.write("six.htm", sheetReport(6));
    m_doc.report().Init(m_reportPath, nullptr, true, &trace, nullptr, nullptr);
    ASSERT_EQ(m_window->frame().RunCommand("show 1"), 1);
    m_window->view().SetMyPageSetup("Page &p of &P", "", "0.5", "0.5", "0.5", "0.5");
    struct Case {
        std::int32_t from;
        std::int32_t to;
        std::int32_t perTask;
        std::vector<std::string> jobs;
    };
    const Case cases[] = {
        {5, 6, 1, {"5/6", "6/6"}},
        {5, 6, 4, {"5/6 6/6"}},
        {1, 6, 4, {"1/6 2/6 3/6 4/6", "5/6 6/6"}},
        {2, 4, 2, {"2/6 3/6", "4/6"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + "-" + std::to_string(c.to) + " by " +
                     std::to_string(c.perTask));
        EXPECT_EQ(print(c.from, c.to, c.perTask, 1, true, headerPagesOf), c.jobs);
    }
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
}

TEST_F(QueueEndToEnd, CollatedCopiesArriveInTurn) {
    EXPECT_EQ(print(1, 2, 1, 2, true), (std::vector<std::string>{"1", "2", "1", "2"}));
}

// The program itself, started as the desktop or the browser add-on would start it.
class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        m_server = sharedCupsTestServer(error);
        ASSERT_NE(m_server, nullptr) << error;
        for (const char* folder : {"config", "data", "cache", "runtime"}) {
            ASSERT_EQ(run("mkdir -m 700 -p '" + m_dir.path() + "/" + folder + "'"), "");
        }
        ASSERT_EQ(paginor({"--install"}), 0);
    }

    // Runs the program with this test's folders and CUPS server; its exit status.
    int paginor(const std::vector<std::string>& arguments) {
        std::string command = "env XDG_CONFIG_HOME='" + m_dir.path() + "/config' XDG_DATA_HOME='" +
                              m_dir.path() + "/data' XDG_CACHE_HOME='" + m_dir.path() +
                              "/cache' XDG_RUNTIME_DIR='" + m_dir.path() +
                              "/runtime' QT_QPA_PLATFORM=offscreen "
                              "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu "
                              "ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0:"
                              "alloc_dealloc_mismatch=0 CUPS_SERVER=" +
                              m_server->server() + " " PAGINOR_PROGRAM;
        for (const std::string& argument : arguments) {
            command += " '" + argument + "'";
        }
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<std::string> jobsSince(const std::vector<int>& before) {
        std::vector<std::string> sheets;
        for (const CupsTestJob& job : newJobs(*m_server, before)) {
            sheets.push_back(sheetsOf(m_dir, job));
        }
        return sheets;
    }

    TempDir m_dir;
    CupsTestServer* m_server = nullptr;
};

TEST_F(ProgramRun, AReportThatAsksToBePrintedDirectlyGoesToItsPrinter) {
    const std::string report =
        m_dir.write("direct.htm", sheetReport(2,
                                              "<!--PAGINOR?print_directly=yes-->\r\n"
                                              "<!--PAGINOR?printer=PaginorTest2-->\r\n"));
    const std::vector<int> before = m_server->receivedJobs();
    EXPECT_EQ(paginor({report}), 0);
    EXPECT_EQ(jobsSince(before), (std::vector<std::string>{"1", "2"}));
    // The server is the test program's: earlier tests' jobs went to the default queue.
    const std::string jobs = run("lpstat -h " + m_server->server() + " -W completed -o");
    for (int id : m_server->receivedJobs()) {
        if (std::find(before.begin(), before.end(), id) == before.end()) {
            const std::string suffix = "-" + std::to_string(id) + " ";
            EXPECT_NE(jobs.find(std::string(CupsTestServer::kSecondQueue) + suffix),
                      std::string::npos)
                << jobs;
            EXPECT_EQ(jobs.find(std::string(CupsTestServer::kQueue) + suffix), std::string::npos)
                << jobs;
        }
    }
}

// The sample report, asked to be printed directly, gives one A4 landscape sheet per page.
TEST_F(ProgramRun, TheSampleReportPrintsEachPageOnOneSheet) {
    std::string sample;
    std::string error;
    ASSERT_TRUE(readWholeFile(PAGINOR_SAMPLES_DIR "/sales-summary.htm", sample, error)) << error;
    const std::string directive = "<!--PAGINOR?orientation=landscape-->";
    const auto at = sample.find(directive);
    ASSERT_NE(at, std::string::npos);
    sample.insert(at + directive.size(), "\r\n<!--PAGINOR?print_directly=yes-->");
    const std::string report = m_dir.write("sales-summary.htm", sample);
    const std::vector<int> before = m_server->receivedJobs();
    EXPECT_EQ(paginor({report}), 0);
    int sheets = 0;
    std::string pages;
    for (const CupsTestJob& job : newJobs(*m_server, before)) {
        EXPECT_EQ(job.title, "file://" + report);
        const std::string path = m_dir.write("job" + std::to_string(job.id) + ".pdf", job.pdf);
        const std::string info = run("pdfinfo '" + path + "'");
        const auto count = info.find("Pages:");
        ASSERT_NE(count, std::string::npos) << info;
        const int jobSheets = std::atoi(info.c_str() + count + 6);
        sheets += jobSheets;
        for (int sheet = 1; sheet <= jobSheets; ++sheet) {
            const std::string text = run("pdftotext -f " + std::to_string(sheet) + " -l " +
                                         std::to_string(sheet) + " '" + path + "' -");
            // Each sheet holds its page whole, from the page header to the page footer.
            const auto page = text.find("Page ");
            ASSERT_NE(page, std::string::npos) << text;
            pages += text.substr(page, text.find('\n', page) - page) + ";";
            EXPECT_NE(text.find("Company Confidential"), std::string::npos) << text;
        }
        double width = 0;
        double height = 0;
        const auto size = info.find("Page size:");
        ASSERT_NE(size, std::string::npos) << info;
        ASSERT_EQ(std::sscanf(info.c_str() + size, "Page size: %lf x %lf", &width, &height), 2);
        EXPECT_NEAR(width, 841.9, 1.5);
        EXPECT_NEAR(height, 595.3, 1.5);
    }
    EXPECT_EQ(sheets, 6);
    EXPECT_EQ(pages, "Page 1 of 6;Page 2 of 6;Page 3 of 6;Page 4 of 6;Page 5 of 6;Page 6 of 6;");
}

// A text file downloaded to be printed directly goes to the current printer.
TEST_F(ProgramRun, ADownloadedTextFileToPrintGoesToTheCurrentPrinter) {
    TestServer http;
    ASSERT_TRUE(http.start());
    FileSettingsStore settings(m_dir.path() + "/config/paginor");
    ASSERT_TRUE(writeDwordSetting(settings, kPrintDirectlyValue, 1));
    ASSERT_TRUE(writeDwordSetting(settings, kOpenFlagTxtValue, 4));  // the notices were shown
    PageSetupStore store;
    ASSERT_EQ(run("mkdir -p '" + m_dir.path() + "/data/paginor'"), "");
    store.Load(m_dir.path() + "/data/paginor/pagesetup.dat");
    store.SetCurrent("A4", CupsTestServer::kSecondQueue, 0);
    std::string error;
    ASSERT_TRUE(store.Save(error)) << error;
    const std::vector<int> before = m_server->receivedJobs();
    EXPECT_EQ(paginor({"--url:" + http.http("/plain-charset")}), 0);
    const std::vector<CupsTestJob> jobs = newJobs(*m_server, before);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].pdf, "plain text\n");
    EXPECT_EQ(jobs[0].title, http.http("/plain-charset"));
    const std::string done = run("lpstat -h " + m_server->server() + " -W completed -o");
    EXPECT_NE(
        done.find(std::string(CupsTestServer::kSecondQueue) + "-" + std::to_string(jobs[0].id)),
        std::string::npos)
        << done;
}

TEST_F(ProgramRun, ThePrintDirectlySettingPrintsToTheStoredPrinter) {
    FileSettingsStore settings(m_dir.path() + "/config/paginor");
    ASSERT_TRUE(writeDwordSetting(settings, kPrintDirectlyValue, 1));
    PageSetupStore store;
    ASSERT_EQ(run("mkdir -p '" + m_dir.path() + "/data/paginor'"), "");
    store.Load(m_dir.path() + "/data/paginor/pagesetup.dat");
    store.SetCurrent("A4", CupsTestServer::kQueue, 0);
    std::string error;
    ASSERT_TRUE(store.Save(error)) << error;
    const std::vector<int> before = m_server->receivedJobs();
    EXPECT_EQ(paginor({m_dir.write("plain.htm", sheetReport(3))}), 0);
    EXPECT_EQ(jobsSince(before), (std::vector<std::string>{"1", "2", "3"}));
}

}  // namespace
}  // namespace paginor
