#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "app/print/page_setup_store.h"
#include "app/print/print_adapters.h"
#include "app/print/print_dlg.h"
#include "cups_test_server.h"
#include "platform/printer_system.h"
#include "tests/app/app_fakes.h"
#include "tests/app/print_fakes.h"
#include "tests/core/temp_dir.h"
#include "tests/print/print_test_support.h"

namespace paginor {
namespace {

// The queue against the private CUPS server: each "print" submits a small PDF titled with the
// page address and is reported done at once, as the view does once CUPS took the job.
class QueueOnCups : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        m_server = sharedCupsTestServer(error);
        ASSERT_NE(m_server, nullptr) << error;
        m_pdf = m_dir.write("task.pdf", minimalPdf(1));
        m_storePath = m_dir.path() + "/pagesetup.dat";
        CPrintDlg::WaitDotCounter() = 0;
        m_host.onCommand = [this](const std::string& command) {
            if (command.rfind("print", 0) == 0) {
                int id = 0;
                std::string error;
                if (!m_printers.submitPdf(m_printer, m_host.address, m_pdf, {}, id, error)) {
                    ADD_FAILURE() << error;
                    return 0;
                }
                m_printed.push_back(command);
            }
            return 1;
        };
    }

    void TearDown() override {
        if (m_server != nullptr) {
            m_server->enable(m_printer);
            m_server->holdNewJobs(m_printer, false);
        }
    }

    // Releases every job of this user held on the printer.
    void releaseHeldJobs() {
        std::vector<PrinterJob> jobs;
        std::string error;
        ASSERT_TRUE(m_printers.activeJobs(m_printer, jobs, error)) << error;
        for (const PrinterJob& job : jobs) {
            EXPECT_TRUE(m_server->release(job.id));
        }
    }

    void start(std::int32_t from, std::int32_t to) {
        m_dlg = std::make_unique<CPrintDlg>(
            m_printer,
            PrintQueueServices{m_host, m_spool, m_lock, m_access, m_ui, "help@example.com"});
        m_dlg->SetPrintInfo(from, to, m_report, true, 1);
        ASSERT_TRUE(m_dlg->OnInitDialog(m_view));
    }

    // Ticks until done holds, reporting each print as done.
    template <typename Done>
    void tickUntil(Done done) {
        pollUntil(
            [&] {
                if (done()) {
                    return true;
                }
                const std::size_t before = m_printed.size();
                m_dlg->OnTimer();
                if (m_printed.size() > before) {
                    m_dlg->OnTaskDone(m_printed.back(), true, 1);
                }
                return false;
            },
            "the print queue to reach the state the test waits for");
    }

    TempDir m_dir;
    CupsTestServer* m_server = nullptr;
    std::string m_printer = CupsTestServer::kSecondQueue;
    std::string m_pdf;
    std::string m_storePath;
    CupsPrinterSystem m_printers;
    SystemPrintSpool m_spool{m_printers};
    NamedPrinterLock m_lock;
    PageSetupStore m_store;
    StorePageSetupAccess m_access{m_store};
    FakeQueueHost m_host;
    RecordingUi m_ui;
    FakeTaskSource m_report;
    FakePrintDlgView m_view;
    std::unique_ptr<CPrintDlg> m_dlg;
    Texts m_printed;
};

TEST_F(QueueOnCups, AHeldJobHoldsTheNextTaskAndTheSpeedIsLearned) {
    m_store.Load(m_storePath);
    m_store.SetCurrent("A4", m_printer, 0);
    m_store.SetCurrentValue(25);
    std::string error;
    ASSERT_TRUE(m_store.Save(error)) << error;
    m_report.estimate = 25;  // five ticks after each task
    m_host.address = "file:///tmp/report-" + std::to_string(getpid()) + ".htm";
    ASSERT_TRUE(m_server->holdNewJobs(m_printer, true));
    start(1, 3);
    m_dlg->OnDelayChoice(false);  // one of ours in the queue is enough to wait
    tickUntil([&] { return m_printed.size() == 1; });
    // The job stays held in the printer's queue: the next task waits, showing the count.
    tickUntil(
        [&] { return m_view.status().rfind("1 print tasks in print queue ,waiting ", 0) == 0; });
    for (int i = 0; i < 5; ++i) {
        m_dlg->OnTimer();
    }
    EXPECT_EQ(m_printed.size(), 1u);
    ASSERT_TRUE(m_server->holdNewJobs(m_printer, false));
    releaseHeldJobs();
    tickUntil([&] { return m_view.ended > 0; });
    EXPECT_EQ(m_dlg->outcome(), CPrintDlg::Outcome::Done);
    EXPECT_EQ(m_printed, (Texts{"print 1 1", "print 2 2", "print 3 3"}));
    EXPECT_TRUE(m_ui.messages.empty());
    m_dlg->OnDestroy();

    // The waiting taught the queue a speed, kept for the printer in the file.
    PageSetupStore stored;
    stored.Load(m_storePath);
    ASSERT_TRUE(stored.loadProblem().empty()) << stored.loadProblem();
    EXPECT_EQ(stored.GetCurrentValue(), m_dlg->printerSpeed());
    EXPECT_NE(stored.GetCurrentValue(), 25);
}

// A stopped printer is named with CUPS's words while the queue waits; nothing is sent to it
// until it prints again.
TEST_F(QueueOnCups, AStoppedPrinterIsNamedAndGetsNothingUntilItRuns) {
    m_store.Load(m_storePath);
    ASSERT_TRUE(m_server->disable(m_printer));
    start(1, 2);
    // CUPS's words: its state message "Paused", or its state reason "paused" without one.
    tickUntil([&] {
        const std::string status = m_view.status();
        return status.rfind("Printer \"PaginorTest2\" is stopped: Paused ,waiting ", 0) == 0 ||
               status.rfind("Printer \"PaginorTest2\" is stopped: paused ,waiting ", 0) == 0;
    });
    for (int i = 0; i < 5; ++i) {
        m_dlg->OnTimer();
    }
    EXPECT_TRUE(m_printed.empty());
    ASSERT_TRUE(m_server->enable(m_printer));
    tickUntil([&] { return m_view.ended > 0; });
    EXPECT_EQ(m_dlg->outcome(), CPrintDlg::Outcome::Done);
    EXPECT_EQ(m_printed, (Texts{"print 1 1", "print 2 2"}));
    EXPECT_TRUE(m_ui.messages.empty());
}

TEST_F(QueueOnCups, AnotherProcessOnThePrinterMakesItBusy) {
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NamedLock lock;
        const bool held =
            lock.tryAcquire(CPrintDlg::LockName(m_printer), 1000) == NamedLock::Result::Acquired;
        char c = held ? '1' : '0';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, '1');
    m_store.Load(m_storePath);
    start(1, 1);
    tickUntil([&] { return m_view.status().rfind("Printer is busy now", 0) == 0; });
    for (int i = 0; i < 3; ++i) {
        m_dlg->OnTimer();
    }
    EXPECT_TRUE(m_printed.empty());
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    tickUntil([&] { return m_view.ended > 0; });
    EXPECT_EQ(m_printed, (Texts{"print 1 1"}));
    for (int fd : {ready[0], ready[1], release[0], release[1]}) {
        close(fd);
    }
}

TEST_F(QueueOnCups, AMissingPrinterEndsTheQueueAndStoresNoSpeed) {
    m_printer = "NoSuchQueue";
    m_store.Load(m_storePath);
    m_store.SetCurrent("A4", "NoSuchQueue", 0);
    m_store.SetCurrentValue(33);
    std::string error;
    ASSERT_TRUE(m_store.Save(error)) << error;
    const std::string before = m_store.bytes();
    start(1, 2);
    tickUntil([&] { return m_view.ended > 0; });
    ASSERT_EQ(m_ui.messages.size(), 1u);
    EXPECT_EQ(m_ui.messages[0],
              "Could not open printer:NoSuchQueue; No printer \"NoSuchQueue\"; Please contact "
              "help@example.com for more information\nno page was sent to NoSuchQueue");
    EXPECT_EQ(m_dlg->outcome(), CPrintDlg::Outcome::Failed);
    EXPECT_TRUE(m_printed.empty());
    PageSetupStore stored;
    stored.Load(m_storePath);
    EXPECT_EQ(stored.bytes(), before);
}

}  // namespace
}  // namespace paginor
