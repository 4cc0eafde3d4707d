#include "app/print/print_dlg.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app_fakes.h"
#include "print_fakes.h"

namespace paginor {
namespace {

using Commands = std::vector<std::string>;

// One queue over fakes, ticked by hand.
struct Queue {
    FakePrintDlgView view;
    FakeQueueHost host;
    FakeSpool spool;
    FakePrinterLock lock;
    FakeSpeedStore speed;
    RecordingUi ui;
    FakeTaskSource report;
    std::unique_ptr<CPrintDlg> dlg;

    Queue() { CPrintDlg::WaitDotCounter() = 0; }

    bool start(std::int32_t from, std::int32_t to, bool collate = true, std::int32_t copies = 1,
               const std::string& printer = "Office") {
        dlg = std::make_unique<CPrintDlg>(
            printer, PrintQueueServices{host, spool, lock, speed, ui, "help@example.com"});
        dlg->SetPrintInfo(from, to, report, collate, copies);
        return dlg->OnInitDialog(view);
    }
    Commands list() const { return Commands(view.list.begin(), view.list.end()); }
    // Ticks until a command is sent or the queue stops; a print task is reported done.
    void runAll(int maxTicks = 1000000) {
        for (int i = 0; i < maxTicks && view.ended == 0 && !dlg->finished(); ++i) {
            const std::size_t before = host.commands.size();
            dlg->OnTimer();
            if (host.commands.size() > before && host.commands.back().rfind("print", 0) == 0 &&
                host.accept == 1) {
                dlg->OnTaskDone(host.commands.back(), true, true);
            }
        }
    }
    Commands printsSent() const {
        Commands prints;
        for (const std::string& c : host.commands) {
            if (c.rfind("print", 0) == 0) {
                prints.push_back(c);
            }
        }
        return prints;
    }
};

TEST(PrintQueue, OnePageGivesOneCheckAndOnePrintTask) {
    Queue q;
    ASSERT_TRUE(q.start(1, 1));
    EXPECT_EQ(q.list(), (Commands{"check 1 1", "print 1 1"}));
    EXPECT_EQ(q.view.title, "printing from page 1 to page 1");
    EXPECT_EQ(q.view.cancelText, "Cancel Now");
    EXPECT_EQ(q.view.pauseText, "Start Now");
    EXPECT_TRUE(q.view.noDelay);
    EXPECT_TRUE(q.view.timerStarted);
    EXPECT_TRUE(q.host.printDialogOpen);

    q.dlg->OnTimer();  // the first tick runs the first task
    EXPECT_EQ(q.host.commands, (Commands{"check 1 1"}));
    EXPECT_EQ(q.view.status(), "successful!");
    EXPECT_EQ(q.view.cancelText, "Cancel");
    EXPECT_EQ(q.view.pauseText, "Pause");
    EXPECT_TRUE(q.host.taskRunning);
    q.dlg->OnTimer();
    EXPECT_EQ(q.view.status(), "Waiting Status   0");
    q.dlg->OnTimer();
    EXPECT_EQ(q.host.commands, (Commands{"check 1 1", "print 1 1"}));
    EXPECT_EQ(q.lock.names, (Commands{"PAGINOROffice"}));
    EXPECT_EQ(q.view.status(), "spooling print tasks");
    EXPECT_FALSE(q.view.cancelEnabled);
    EXPECT_FALSE(q.view.pauseEnabled);
    q.dlg->OnTimer();  // the print runs: nothing happens
    EXPECT_EQ(q.host.commands.size(), 2u);

    q.report.estimate = 50;  // a countdown of 10 ticks, but the last task waits one at most
    EXPECT_TRUE(q.dlg->OnTaskDone("print 1 1", true, true));
    EXPECT_EQ(q.dlg->countdown(), 1);
    q.dlg->OnTimer();
    q.dlg->OnTimer();
    EXPECT_EQ(q.view.ended, 1);
    EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Done);
    EXPECT_EQ(q.speed.sets, 1);
    EXPECT_EQ(q.speed.saves, 1);
    q.dlg->OnDestroy();
    EXPECT_FALSE(q.host.printDialogOpen);
    EXPECT_FALSE(q.host.taskRunning);
    EXPECT_FALSE(q.lock.held);
}

TEST(PrintQueue, CopiesRepeatTheRunOrEachChunk) {
    struct Case {
        bool collate;
        std::int32_t copies;
        Commands prints;
    };
    const Case cases[] = {
        {true, 3, {"print 1 2", "print 3 4", "print 1 2", "print 3 4", "print 1 2", "print 3 4"}},
        {false, 3, {"print 1 2", "print 1 2", "print 1 2", "print 3 4", "print 3 4", "print 3 4"}},
        {false, 1, {"print 1 2", "print 3 4"}},
        {true, 0, {"print 1 2", "print 3 4"}},
    };
    for (const Case& c : cases) {
        Queue q;
        q.report.pagesPerChunk = 2;
        ASSERT_TRUE(q.start(1, 4, c.collate, c.copies));
        Commands expected = {"check 1 4"};
        expected.insert(expected.end(), c.prints.begin(), c.prints.end());
        EXPECT_EQ(q.list(), expected) << c.collate << " " << c.copies;
        q.runAll();
        EXPECT_EQ(q.printsSent(), c.prints);
        EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Done);
    }
}

TEST(PrintQueue, ManySmallChunksShareACheckTask) {
    Queue q;
    q.report.pageCount = 250;
    q.report.pagesPerTask = 3;  // checks may cover 30 pages
    ASSERT_TRUE(q.start(1, 250));
    EXPECT_EQ(q.dlg->checkTasks(), 9);
    const Commands list = q.list();
    EXPECT_EQ(list[0], "check 1 31");
    EXPECT_EQ(list[1], "check 32 62");
    EXPECT_EQ(list[8], "check 249 250");
    EXPECT_EQ(list[9], "print 1 1");
    EXPECT_EQ(list.size(), 9u + 250u);

    // 200 chunks or fewer keep ten per check task.
    Queue few;
    few.report.pageCount = 200;
    few.report.pagesPerTask = 3;
    ASSERT_TRUE(few.start(1, 200));
    EXPECT_EQ(few.dlg->checkTasks(), 20);
    EXPECT_EQ(few.list()[0], "check 1 10");
}

TEST(PrintQueue, TheListKeepsItsBoundAndLosesNoCopy) {
    Queue q;
    q.report.pageCount = 33000;
    q.report.pagesPerTask = 1;
    ASSERT_TRUE(q.start(1, 33000, true, 2));
    EXPECT_EQ(q.dlg->checkTasks(), 3300);
    EXPECT_EQ(q.view.list.size(), static_cast<std::size_t>(CPrintDlg::kMaxEntries));
    q.runAll();
    EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Done);
    EXPECT_EQ(q.view.maxListSize, static_cast<std::size_t>(CPrintDlg::kMaxEntries));
    const Commands prints = q.printsSent();
    ASSERT_EQ(prints.size(), 66000u);
    for (std::size_t i = 0; i < prints.size(); ++i) {
        const std::string page = std::to_string(i % 33000 + 1);
        ASSERT_EQ(prints[i], "print " + page + " " + page) << i;
    }
}

// Ticks to the first print task: the check task and its countdown.
void toFirstPrint(Queue& q) {
    q.dlg->OnTimer();
    q.dlg->OnTimer();
}

TEST(PrintQueue, OwnJobsAtTheLimitWaitWithGrowingDots) {
    Queue q;
    ASSERT_TRUE(q.start(1, 2));
    q.host.address = "about:blank";
    // Ten of ours (one by a cut title) and two of another program's.
    q.spool.titles = Commands(9, "about:blank");
    q.spool.titles.push_back("about:bl");
    q.spool.titles.push_back("report.pdf");
    q.spool.titles.push_back("");
    toFirstPrint(q);
    std::vector<std::size_t> dots;
    for (int i = 0; i < 33; ++i) {
        q.dlg->OnTimer();
        const std::string status = q.view.status();
        const std::string text = "10 print tasks in print queue ,waiting ";
        ASSERT_EQ(status.substr(0, text.size()), text);
        dots.push_back(status.size() - text.size());
    }
    const std::vector<std::size_t> expected = {0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,
                                               6,  6,  7,  7,  8,  8,  9,  9,  10, 10, 11,
                                               11, 12, 12, 13, 13, 14, 14, 15, 15, 1,  1};
    EXPECT_EQ(dots, expected);
    EXPECT_EQ(q.host.commands, (Commands{"check 1 2"}));
    EXPECT_EQ(q.spool.printers.back(), "Office");

    q.spool.titles.resize(2);  // below the limit: the task goes out
    q.dlg->OnTimer();
    EXPECT_EQ(q.host.commands.back(), "print 1 1");
}

TEST(PrintQueue, OwnJobsAreMatchedByTheDecodedFileAddress) {
    Queue q;
    ASSERT_TRUE(q.start(1, 1));
    q.host.toFile = true;
    q.host.address = "file:///tmp/paginor-1/page 1.html";
    q.spool.titles = Commands(10, "file:///tmp/paginor-1/page%201.html");
    toFirstPrint(q);
    q.dlg->OnTimer();
    EXPECT_EQ(q.view.status().rfind("10 print tasks in print queue ,waiting ", 0), 0u);

    // The last task done, the queue waits for its own jobs before it closes.
    q.spool.titles.clear();
    q.dlg->OnTimer();
    ASSERT_TRUE(q.dlg->OnTaskDone("print 1 1", true, true));
    q.spool.titles = Commands(10, "file:///tmp/paginor-1/page%201.html");
    q.dlg->OnTimer();
    q.dlg->OnTimer();
    EXPECT_EQ(q.view.status().rfind("Print jobs will finish soon,(only 10 tasks left)", 0), 0u);
    EXPECT_EQ(q.view.ended, 0);
    q.spool.titles.clear();
    q.dlg->OnTimer();
    EXPECT_EQ(q.view.ended, 1);
}

TEST(PrintQueue, BusyPrintersAreWaitedFor) {
    struct Case {
        const char* name;
        bool lockBusy;
        PrintSpool::Status status;
    };
    const Case cases[] = {
        {"another instance holds the printer", true, PrintSpool::Status::Listed},
        {"the jobs cannot be listed", false, PrintSpool::Status::ListFailed},
    };
    for (const Case& c : cases) {
        Queue q;
        ASSERT_TRUE(q.start(1, 1));
        q.lock.busy = c.lockBusy;
        q.spool.status = c.status;
        toFirstPrint(q);
        q.dlg->OnTimer();
        q.dlg->OnTimer();
        EXPECT_EQ(q.view.status(), "Printer is busy now.") << c.name;
        EXPECT_EQ(q.host.commands.size(), 1u) << c.name;
        q.lock.busy = false;
        q.spool.status = PrintSpool::Status::Listed;
        q.dlg->OnTimer();
        EXPECT_EQ(q.host.commands.back(), "print 1 1") << c.name;
        EXPECT_TRUE(q.dlg->lockHeld());
    }
}

// A lock that cannot be made at all is no busy printer: it is said once and the queue ends.
TEST(PrintQueue, ALockThatCannotBeMadeEndsTheQueue) {
    Queue q;
    ASSERT_TRUE(q.start(1, 2));
    q.lock.failure = "No private folder for lock files";
    toFirstPrint(q);
    for (int i = 0; i < 5; ++i) {
        q.dlg->OnTimer();
    }
    EXPECT_EQ(q.ui.messages, (Commands{"Could not lock printer:Office; No private folder for lock "
                                       "files\nno page was sent to Office"}));
    EXPECT_EQ(q.view.ended, 1);
    EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Failed);
    EXPECT_TRUE(q.printsSent().empty());
    EXPECT_EQ(q.view.status().find("Printer is busy now"), std::string::npos);
    EXPECT_EQ(q.speed.saves, 0);
}

TEST(PrintQueue, AStoppedPrinterIsNamedAndWaitedFor) {
    Queue q;
    ASSERT_TRUE(q.start(1, 2));
    q.spool.status = PrintSpool::Status::Stopped;
    q.spool.error = "Printer \"Office\" is stopped: Paused";
    toFirstPrint(q);
    for (int i = 0; i < 3; ++i) {
        q.dlg->OnTimer();
    }
    EXPECT_EQ(q.view.status(), "Printer \"Office\" is stopped: Paused ,waiting .");
    EXPECT_TRUE(q.printsSent().empty());
    EXPECT_TRUE(q.ui.messages.empty());
    EXPECT_EQ(q.view.ended, 0);
    q.spool.status = PrintSpool::Status::Listed;
    q.dlg->OnTimer();
    EXPECT_EQ(q.printsSent(), (Commands{"print 1 1"}));
}

TEST(PrintQueue, AMissingPrinterEndsTheQueueWithoutStoringASpeed) {
    Queue q;
    ASSERT_TRUE(q.start(1, 1, true, 1, "Gone\\Printer/1"));
    q.spool.status = PrintSpool::Status::NoPrinter;
    q.spool.error = "Error (1): The printer or class does not exist.";
    toFirstPrint(q);
    q.dlg->OnTimer();
    EXPECT_EQ(q.lock.names, (Commands{"PAGINORGone-Printer-1"}));
    ASSERT_EQ(q.ui.messages.size(), 1u);
    EXPECT_EQ(q.ui.messages[0],
              "Could not open printer:Gone\\Printer/1; Error (1): The printer or class does not "
              "exist.; Please contact help@example.com for more information\nno page was sent "
              "to Gone\\Printer/1");
    EXPECT_EQ(q.view.ended, 1);
    EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Failed);
    EXPECT_EQ(q.speed.sets, 0);
    EXPECT_EQ(q.speed.saves, 0);
    q.dlg->OnDestroy();
    EXPECT_FALSE(q.lock.held);
}

// Runs a check and two print tasks at "no delay" (limit 2); the third print task is the first
// after which the speed adapts. blocked: ticks the printer is full before it.
std::int32_t speedAfter(int blocked, std::int32_t startSpeed = 25) {
    Queue q;
    q.speed.speed = startSpeed;
    q.report.estimate = 96;  // a countdown of 20 ticks
    EXPECT_TRUE(q.start(1, 4));
    q.dlg->OnDelayChoice(true);
    EXPECT_EQ(q.dlg->ownJobLimit(), 2);
    for (int task = 0; task < 3; ++task) {
        for (int i = 0; i < 40 && q.host.commands.size() == static_cast<std::size_t>(task); ++i) {
            q.dlg->OnTimer();
        }
        if (task > 0) {
            EXPECT_TRUE(q.dlg->OnTaskDone(q.host.commands.back(), true, true));
        }
    }
    EXPECT_EQ(q.dlg->countdown(), 20);
    for (int i = 0; i < 20; ++i) {
        q.dlg->OnTimer();
    }
    q.spool.titles = {"about:blank", "about:blank"};
    for (int i = 0; i < blocked; ++i) {
        q.dlg->OnTimer();
    }
    q.spool.titles.clear();
    const std::int32_t before = q.dlg->printerSpeed();
    q.dlg->OnTimer();
    EXPECT_EQ(q.host.commands.back(), "print 3 3");
    EXPECT_EQ(before, std::min(startSpeed, 120));
    return q.dlg->printerSpeed();
}

TEST(PrintQueue, SpeedLearnsFromTheTicksSpentWaiting) {
    struct Case {
        int blocked;  // of a countdown of 20
        std::int32_t speed;
    };
    const Case cases[] = {{0, 40}, {2, 40}, {3, 35}, {4, 35}, {5, 25}, {14, 25}, {15, 21}};
    for (const Case& c : cases) {
        EXPECT_EQ(speedAfter(c.blocked), c.speed) << c.blocked << " blocked ticks";
    }
    // A stored speed out of range enters the estimate as 120.
    EXPECT_EQ(speedAfter(0, 200), 135);
}

TEST(PrintQueue, CountdownComesFromTheEstimate) {
    struct Case {
        std::int32_t estimate;
        std::int32_t countdown;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {4, 1}, {5, 1}, {6, 2}, {25, 5}, {96, 20}};
    for (const Case& c : cases) {
        Queue q;
        q.report.estimate = c.estimate;
        ASSERT_TRUE(q.start(1, 2));
        toFirstPrint(q);
        q.dlg->OnTimer();
        ASSERT_TRUE(q.dlg->OnTaskDone("print 1 1", true, true));
        EXPECT_EQ(q.dlg->countdown(), c.countdown) << c.estimate;
        EXPECT_EQ(q.report.estimateSpeeds, (std::vector<std::int32_t>{25}));
    }
}

TEST(PrintQueue, CancelBeforeTheFirstTaskClosesAtOnce) {
    Queue q;
    ASSERT_TRUE(q.start(1, 3));
    q.dlg->OnCancel();
    EXPECT_TRUE(q.ui.messages.empty());
    EXPECT_EQ(q.view.ended, 1);
    EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Cancelled);
}

TEST(PrintQueue, CancelLaterAsksFirst) {
    Queue q;
    ASSERT_TRUE(q.start(1, 3));
    toFirstPrint(q);
    q.dlg->OnTimer();
    ASSERT_TRUE(q.dlg->OnTaskDone("print 1 1", true, true));

    q.ui.answer = MessageAnswer::No;
    q.dlg->OnCancel();
    ASSERT_EQ(q.ui.messages, (Commands{"Are you realy want to cancel all tasks?"}));
    EXPECT_EQ(q.ui.icons.back(), MessageIcon::Exclamation);
    EXPECT_EQ(q.view.ended, 0);
    EXPECT_FALSE(q.dlg->halted());
    q.dlg->OnTimer();
    EXPECT_EQ(q.host.commands.back(), "print 2 2");

    // While a task runs Cancel is disabled and does nothing.
    q.dlg->OnCancel();
    EXPECT_EQ(q.ui.messages.size(), 1u);
    ASSERT_TRUE(q.dlg->OnTaskDone("print 2 2", true, true));

    q.ui.answer = MessageAnswer::Yes;
    q.dlg->OnCancel();
    EXPECT_EQ(q.view.ended, 1);
    EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Cancelled);
    q.dlg->OnDestroy();
    EXPECT_FALSE(q.lock.held);
    EXPECT_EQ(q.lock.releases, 1);
}

TEST(PrintQueue, PauseContinueAndStartNow) {
    Queue q;
    q.report.estimate = 96;
    ASSERT_TRUE(q.start(1, 3));
    q.dlg->OnPauseButton();  // "Start Now" before the first task
    EXPECT_FALSE(q.dlg->halted());
    toFirstPrint(q);
    q.dlg->OnTimer();
    ASSERT_TRUE(q.dlg->OnTaskDone("print 1 1", true, true));

    q.dlg->OnPauseButton();
    EXPECT_EQ(q.view.pauseText, "Continue");
    EXPECT_EQ(q.view.cancelText, "Close");
    EXPECT_EQ(q.view.status(), "Paused status , you can click CLOSE to cancel all tasks");
    const std::size_t statuses = q.view.statuses.size();
    q.dlg->OnTimer();
    EXPECT_EQ(q.view.statuses.size(), statuses);  // halted: the countdown stands
    q.dlg->OnPauseButton();
    EXPECT_EQ(q.view.pauseText, "Pause");
    EXPECT_EQ(q.view.cancelText, "Cancel");
    q.dlg->OnTimer();
    EXPECT_EQ(q.view.status(), "Waiting Status   10");

    // Paused, Cancel closes without a question.
    q.dlg->OnPauseButton();
    q.dlg->OnCancel();
    EXPECT_TRUE(q.ui.messages.empty());
    EXPECT_EQ(q.view.ended, 1);
}

TEST(PrintQueue, DeadEndsEndTheQueueAsFailed) {
    struct Case {
        const char* name;
        std::function<void(Queue&)> act;
        Commands messages;
    };
    const Case cases[] = {
        {"the interpreter refuses the task",
         [](Queue& q) {
             q.host.accept = 0;
             q.dlg->OnTimer();
             EXPECT_EQ(q.view.status(), "check 1 2 --Failure");
         },
         {"Something wrong, please try later\nno page was sent to Office"}},
        {"the report raises an error",
         [](Queue& q) {
             q.host.onCommand = [](const std::string&) -> int {
                 throw ReportError(-1, "Invalid page range");
             };
             q.report.errorText = "Invalid page range";
             q.dlg->OnTimer();
         },
         {"Invalid page range", "Something wrong, please try later\nno page was sent to Office"}},
        {"the view reports a failed print",
         [](Queue& q) {
             toFirstPrint(q);
             q.dlg->OnTimer();
             EXPECT_TRUE(q.dlg->OnTaskDone("print 1 1", false, true));
         },
         {"Something wrong, print jobs cannot finish, please try later\nno page was sent to "
          "Office"}},
        {"a finished task that is not the first entry",
         [](Queue& q) {
             toFirstPrint(q);
             q.dlg->OnTimer();
             EXPECT_FALSE(q.dlg->OnTaskDone("print 2 2", true, true));
             EXPECT_EQ(q.view.list.front(), "print 1 1");
         },
         {"Exception,strcmp(Buf,sCmd)!=0 (for programmer only)"}},
    };
    for (const Case& c : cases) {
        Queue q;
        ASSERT_TRUE(q.start(1, 2));
        c.act(q);
        EXPECT_EQ(q.ui.messages, c.messages) << c.name;
        EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Failed) << c.name;
        EXPECT_TRUE(q.dlg->halted()) << c.name;
        EXPECT_EQ(q.view.cancelText, "Close") << c.name;
        EXPECT_TRUE(q.view.cancelEnabled) << c.name;
        EXPECT_FALSE(q.view.pauseEnabled) << c.name;
        const std::size_t sent = q.host.commands.size();
        q.dlg->OnTimer();
        q.dlg->OnPauseButton();
        q.dlg->OnTimer();
        EXPECT_EQ(q.host.commands.size(), sent) << c.name;
        q.dlg->OnCancel();  // Close
        EXPECT_EQ(q.view.ended, 1) << c.name;
        EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Failed) << c.name;
    }
}

TEST(PrintQueue, ARangeTheReportRefusesFailsAtOnce) {
    Queue q;
    q.report.errorText = "Page number should between 1 and 100";
    EXPECT_FALSE(q.start(50, 200));
    EXPECT_EQ(q.ui.messages, (Commands{"Page number should between 1 and 100"}));
    EXPECT_TRUE(q.view.list.empty());
    EXPECT_EQ(q.view.cancelText, "Close");
    EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Failed);
}

// Cancel is disabled while a print task runs; a Cancel that comes all the same (Escape, the
// window's close button) is taken once the task has ended, never dropped.
TEST(PrintQueue, ACancelWhileATaskRunsIsTakenWhenItEnds) {
    struct Case {
        const char* name;
        bool printed;
        Commands messages;
        CPrintDlg::Outcome outcome;
    };
    const Case cases[] = {
        {"the task prints",
         true,
         {"Are you realy want to cancel all tasks?"},
         CPrintDlg::Outcome::Cancelled},
        {"the task fails",
         false,
         {"Something wrong, print jobs cannot finish, please try later\nclient-error-not-possible"
          "\nno page was sent to Office"},
         CPrintDlg::Outcome::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Queue q;
        ASSERT_TRUE(q.start(1, 3));
        toFirstPrint(q);
        q.dlg->OnTimer();
        ASSERT_EQ(q.host.commands.back(), "print 1 1");
        EXPECT_FALSE(q.view.cancelEnabled);
        q.dlg->OnCancel();
        EXPECT_EQ(q.view.status(), "Cancel comes when the running task has ended");
        EXPECT_TRUE(q.ui.messages.empty());
        EXPECT_EQ(q.view.ended, 0);
        q.host.printError = "client-error-not-possible";
        q.dlg->OnTaskDone("print 1 1", c.printed, true);
        q.dlg->OnTimer();
        EXPECT_EQ(q.ui.messages, c.messages);
        EXPECT_EQ(q.view.ended, 1);
        EXPECT_EQ(q.dlg->outcome(), c.outcome);
        EXPECT_EQ(q.printsSent(), (Commands{"print 1 1"}));
    }
}

TEST(PrintQueue, ClosingWhileAPrintRunsDisarmsTheViewAndDropsTheLateResult) {
    Queue q;
    ASSERT_TRUE(q.start(1, 2));
    toFirstPrint(q);
    q.dlg->OnTimer();
    ASSERT_EQ(q.host.commands.back(), "print 1 1");
    q.dlg->OnDestroy();
    EXPECT_EQ(q.host.disarmed, 1);
    EXPECT_FALSE(q.host.taskRunning);
    EXPECT_FALSE(q.host.printDialogOpen);
    EXPECT_FALSE(q.lock.held);
    EXPECT_FALSE(q.dlg->OnTaskDone("print 1 1", true, true));
    EXPECT_TRUE(q.ui.messages.empty());
    q.dlg->OnTimer();
    EXPECT_EQ(q.host.commands.size(), 2u);
}

TEST(PrintQueue, AFailedSaveOfTheSpeedIsShown) {
    Queue q;
    q.speed.saveError = "Error (28): No space left on device";
    ASSERT_TRUE(q.start(1, 1));
    q.runAll();
    EXPECT_EQ(q.ui.messages, (Commands{"Error (28): No space left on device"}));
    EXPECT_EQ(q.dlg->outcome(), CPrintDlg::Outcome::Done);
}

// Message boxes run a nested event loop in which the timer keeps firing.
class TickingUi : public RecordingUi {
public:
    MessageAnswer messageBox(const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override {
        if (queue != nullptr && messages.size() < 5) {
            queue->OnTimer();
        }
        return RecordingUi::messageBox(text, buttons, icon);
    }
    CPrintDlg* queue = nullptr;
};

TEST(PrintQueue, TicksDuringAMessageChangeNothing) {
    struct Case {
        const char* name;
        std::function<void(Queue&)> setUp;
        std::size_t messages;
    };
    const Case cases[] = {
        {"a failed save", [](Queue& q) { q.speed.saveError = "Error (28): disk full"; }, 1},
        {"a refused task", [](Queue& q) { q.host.accept = 0; }, 1},
        {"a missing printer", [](Queue& q) { q.spool.status = PrintSpool::Status::NoPrinter; }, 1},
    };
    for (const Case& c : cases) {
        Queue q;
        c.setUp(q);
        TickingUi ui;
        auto dlg = std::make_unique<CPrintDlg>(
            "Office", PrintQueueServices{q.host, q.spool, q.lock, q.speed, ui, "x"});
        dlg->SetPrintInfo(1, 1, q.report, true, 1);
        FakePrintDlgView view;
        ASSERT_TRUE(dlg->OnInitDialog(view));
        ui.queue = dlg.get();
        for (int i = 0; i < 10 && view.ended == 0 && !dlg->finished(); ++i) {
            const std::size_t sent = q.host.commands.size();
            dlg->OnTimer();
            if (q.host.commands.size() > sent && q.host.accept == 1 &&
                q.host.commands.back().rfind("print", 0) == 0) {
                dlg->OnTaskDone(q.host.commands.back(), true, 1);
            }
        }
        EXPECT_EQ(ui.messages.size(), c.messages) << c.name;
        EXPECT_LE(view.ended, 1) << c.name;
        EXPECT_LE(q.speed.saves, 1) << c.name;
    }
}

// A Cancel held back for a running task that then fails: the failure is all the user reads,
// even though the timer keeps firing while its message shows.
TEST(PrintQueue, AHeldBackCancelMeetingAFailedTaskAsksNothing) {
    Queue q;
    TickingUi ui;
    auto dlg = std::make_unique<CPrintDlg>(
        "Office", PrintQueueServices{q.host, q.spool, q.lock, q.speed, ui, "x"});
    dlg->SetPrintInfo(1, 3, q.report, true, 1);
    FakePrintDlgView view;
    ASSERT_TRUE(dlg->OnInitDialog(view));
    ui.queue = dlg.get();
    dlg->OnTimer();
    dlg->OnTimer();
    dlg->OnTimer();
    ASSERT_EQ(q.host.commands.back(), "print 1 1");
    dlg->OnCancel();
    q.host.printError = "Printer \"Office\" is stopped: Paused";
    dlg->OnTaskDone("print 1 1", false, 1);
    for (int i = 0; i < 5; ++i) {
        dlg->OnTimer();
    }
    EXPECT_EQ(ui.messages, (Commands{"Something wrong, print jobs cannot finish, please try later\n"
                                     "Printer \"Office\" is stopped: Paused\nno page was sent to "
                                     "Office"}));
    EXPECT_EQ(view.ended, 1);
    EXPECT_EQ(dlg->outcome(), CPrintDlg::Outcome::Failed);
}

// Runs the queue until prints print tasks have printed, the next one failing when fail is set;
// each print makes job 10, 11, ...
void printSome(Queue& q, int prints, bool fail) {
    int done = 0;
    for (int i = 0; i < 100000 && q.view.ended == 0 && !q.dlg->finished(); ++i) {
        const std::size_t before = q.host.commands.size();
        q.dlg->OnTimer();
        if (q.host.commands.size() == before || q.host.commands.back().rfind("print", 0) != 0) {
            continue;
        }
        if (done == prints) {
            if (fail) {
                q.dlg->OnTaskDone(q.host.commands.back(), false, 1);
            }
            return;
        }
        q.host.printJob = 10 + done++;
        q.dlg->OnTaskDone(q.host.commands.back(), true, 1);
    }
}

// A failure says which pages have gone to the printer, so that the user knows where to go on.
TEST(PrintQueue, AFailureSaysWhichPagesWereSent) {
    struct Case {
        std::int32_t from, to, pagesPerChunk, copies;
        int prints;
        const char* sent;
    };
    const Case cases[] = {
        {1, 40, 3, 1, 3, "pages 1-9 of 40 were sent to Office"},
        {5, 20, 1, 1, 1, "page 5 of 5-20 was sent to Office"},
        {1, 2, 1, 2, 3, "pages 1-2, 1 of 2 (2 copies) were sent to Office"},
        {1, 9, 1, 1, 0, "no page was sent to Office"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        Queue q;
        q.report.pagesPerChunk = c.pagesPerChunk;
        ASSERT_TRUE(q.start(c.from, c.to, true, c.copies));
        printSome(q, c.prints, true);
        ASSERT_EQ(q.ui.messages.size(), 1u);
        EXPECT_EQ(
            q.ui.messages[0],
            std::string("Something wrong, print jobs cannot finish, please try later\n") + c.sent);
    }
}

// Answers the queue's questions in turn.
class ScriptedUi : public RecordingUi {
public:
    MessageAnswer messageBox(const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override {
        RecordingUi::messageBox(text, buttons, icon);
        if (buttons == MessageButtons::Ok || answers.empty()) {
            return MessageAnswer::Ok;
        }
        const MessageAnswer next = answers.front();
        answers.erase(answers.begin());
        return next;
    }
    std::vector<MessageAnswer> answers;
};

// Cancel offers to withdraw the jobs this print sent that still wait in the printer's queue.
TEST(PrintQueue, CancelOffersToWithdrawTheJobsStillWaiting) {
    using A = MessageAnswer;
    const std::string cancel = "Are you realy want to cancel all tasks?";
    const std::string withdraw =
        "3 print jobs of this print still wait in the queue of Office (pages 2-4).\nWithdraw "
        "them from the printer?";
    struct Case {
        const char* name;
        bool pauseFirst;
        std::vector<int> active;  // the printer's active jobs
        std::vector<A> answers;
        std::string cancelError;
        Commands messages;
        std::vector<int> cancelled;
        CPrintDlg::Outcome outcome;
    };
    const Case cases[] = {
        {"withdrawn",
         false,
         {11, 12, 13, 99},
         {A::Yes, A::Yes},
         "",
         {cancel, withdraw},
         {11, 12, 13},
         CPrintDlg::Outcome::Cancelled},
        {"left to print",
         false,
         {11, 12, 13},
         {A::Yes, A::No},
         "",
         {cancel, withdraw},
         {},
         CPrintDlg::Outcome::Cancelled},
        {"all printed", false, {99}, {A::Yes}, "", {cancel}, {}, CPrintDlg::Outcome::Cancelled},
        {"not cancelled",
         false,
         {11, 12, 13},
         {A::No},
         "",
         {cancel},
         {},
         CPrintDlg::Outcome::Running},
        {"closed while paused",
         true,
         {11, 12, 13},
         {A::Yes},
         "",
         {withdraw},
         {11, 12, 13},
         CPrintDlg::Outcome::Cancelled},
        {"refused",
         false,
         {11, 12, 13},
         {A::Yes, A::Yes},
         "client-error-forbidden",
         {cancel, withdraw,
          "Could not withdraw the print jobs from Office: client-error-forbidden"},
         {11, 12, 13},
         CPrintDlg::Outcome::Cancelled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Queue q;
        ScriptedUi ui;
        ui.answers = c.answers;
        q.dlg = std::make_unique<CPrintDlg>(
            "Office", PrintQueueServices{q.host, q.spool, q.lock, q.speed, ui, "x"});
        q.dlg->SetPrintInfo(1, 6, q.report, true, 1);
        ASSERT_TRUE(q.dlg->OnInitDialog(q.view));
        printSome(q, 4, false);
        ASSERT_EQ(q.printsSent().size(), 5u);
        q.host.printJob = 0;  // the job of the fifth is not known
        q.dlg->OnTaskDone("print 5 5", true, 1);
        q.spool.active = c.active;
        q.spool.cancelError = c.cancelError;
        if (c.pauseFirst) {
            q.dlg->OnPauseButton();
        }
        q.dlg->OnCancel();
        EXPECT_EQ(ui.messages, c.messages);
        EXPECT_EQ(q.spool.cancelled, c.cancelled);
        EXPECT_EQ(q.dlg->outcome(), c.outcome);
        EXPECT_EQ(q.view.ended, c.outcome == CPrintDlg::Outcome::Running ? 0 : 1);
    }
}

}  // namespace
}  // namespace paginor
