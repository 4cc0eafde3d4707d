#include "app/qt/print_dialogs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "tests/app/app_fakes.h"
#include "tests/app/print_fakes.h"

namespace paginor {
namespace {

struct QueueParts {
    FakeQueueHost host;
    FakeSpool spool;
    FakePrinterLock lock;
    FakeSpeedStore speed;
    RecordingUi ui;
    FakeTaskSource report;
    CPrintDlg queue{"Office", PrintQueueServices{host, spool, lock, speed, ui, "help@example.com"}};
};

TEST(PrintDialogsTest, TheQueueDialogShowsTheTasksAndRunsThemOnItsTimer) {
    QueueParts parts;
    parts.queue.SetPrintInfo(1, 2, parts.report, true, 1);
    QtPrintDialogs dialogs(nullptr);
    bool checked = false;
    dialogs.onQueueDialog = [&](CPrintDlgWindow& window) {
        checked = true;
        EXPECT_EQ(window.windowTitle(), "printing from page 1 to page 2");
        EXPECT_EQ(window.taskList()->count(), 3);
        EXPECT_EQ(window.taskList()->item(0)->text(), "check 1 2");
        EXPECT_EQ(window.pauseButton()->text(), "Start Now");
        EXPECT_EQ(window.cancelButton()->text(), "Cancel Now");
        // The real timer runs the queue; each print is reported done as the view would.
        parts.host.onCommand = [&](const std::string& command) {
            if (command.rfind("print", 0) == 0) {
                QTimer::singleShot(
                    0, &window, [&parts, command] { parts.queue.OnTaskDone(command, true, true); });
            }
            return 1;
        };
    };
    dialogs.RunPrintQueue(parts.queue);
    EXPECT_TRUE(checked);
    EXPECT_EQ(parts.host.commands, (Texts{"check 1 2", "print 1 1", "print 2 2"}));
    EXPECT_EQ(parts.queue.outcome(), CPrintDlg::Outcome::Done);
}

TEST(PrintDialogsTest, EscapeBeforeTheFirstTaskCancelsTheQueue) {
    QueueParts parts;
    parts.queue.SetPrintInfo(1, 2, parts.report, true, 1);
    QtPrintDialogs dialogs(nullptr);
    dialogs.onQueueDialog = [](CPrintDlgWindow& window) {
        QTimer::singleShot(0, &window, [&window] { QTest::keyClick(&window, Qt::Key_Escape); });
    };
    dialogs.RunPrintQueue(parts.queue);
    EXPECT_EQ(parts.queue.outcome(), CPrintDlg::Outcome::Cancelled);
    EXPECT_TRUE(parts.host.commands.empty());
}

// Escape while a print task runs (Cancel is grey then) is taken once the task has ended.
TEST(PrintDialogsTest, EscapeWhileATaskRunsCancelsWhenItEnds) {
    QueueParts parts;
    parts.queue.SetPrintInfo(1, 3, parts.report, true, 1);
    QtPrintDialogs dialogs(nullptr);
    bool greyWhileRunning = false;
    dialogs.onQueueDialog = [&](CPrintDlgWindow& window) {
        parts.host.onCommand = [&](const std::string& command) {
            if (command.rfind("print", 0) == 0) {
                QTimer::singleShot(0, &window, [&window, &greyWhileRunning] {
                    greyWhileRunning = !window.cancelButton()->isEnabled();
                    QTest::keyClick(&window, Qt::Key_Escape);
                });
                QTimer::singleShot(300, &window,
                                   [&parts, command] { parts.queue.OnTaskDone(command, true, 1); });
            }
            return 1;
        };
    };
    dialogs.RunPrintQueue(parts.queue);
    EXPECT_TRUE(greyWhileRunning);
    EXPECT_EQ(parts.ui.messages, (Texts{"Are you realy want to cancel all tasks?"}));
    EXPECT_EQ(parts.queue.outcome(), CPrintDlg::Outcome::Cancelled);
    EXPECT_EQ(parts.host.commands, (Texts{"check 1 3", "print 1 1"}));
}

// The status line shows the waiting texts whole, and any longer text from its beginning.
TEST(PrintDialogsTest, TheStatusLineShowsItsTextFromTheStart) {
    QueueParts parts;
    CPrintDlgWindow window(parts.queue, nullptr);
    window.show();
    const std::string waiting = "10 print tasks in print queue ,waiting " + std::string(15, '.');
    window.setStatus(waiting);
    const QFontMetrics metrics = window.statusLine()->fontMetrics();
    EXPECT_GE(window.statusLine()->width(),
              metrics.horizontalAdvance(QString::fromStdString(waiting)));
    window.setStatus("Printer \"A printer with a very long name indeed\" is stopped: " +
                     std::string(200, 'x'));
    EXPECT_EQ(window.statusLine()->cursorPosition(), 0);
    EXPECT_EQ(window.statusLine()->toolTip(), window.statusLine()->text());
}

TEST(PrintDialogsTest, PrintOptionsOfferCollationAndCheckTheRange) {
    PrintSetup setup;
    setup.SetInfo(8, 2, 3, 2, 3, "lab", "A4", 1);
    setup.OnInitDialog(264);
    std::vector<PrintSetup::Choice> choices;
    PrintSetupDialog dialog(
        setup, {"Office", "Lab"},
        [&](const PrintSetup::Choice& choice) {
            choices.push_back(choice);
            return choice.fromText == "0" ? PrintSetup::OkResult::FocusFrom
                                          : PrintSetup::OkResult::Print;
        },
        nullptr);
    EXPECT_EQ(dialog.allPagesButton()->text(), "Print All Pages (8 Pages)");
    EXPECT_TRUE(dialog.allPagesButton()->isChecked());
    EXPECT_EQ(dialog.fromEdit()->text(), "2");
    EXPECT_EQ(dialog.pagesPerTaskBox()->value(), 3);
    EXPECT_EQ(dialog.printerBox()->currentText(), "Lab");
    EXPECT_EQ(dialog.printerEdit()->text(), "lab");
    EXPECT_EQ(dialog.orientationEdit()->text(), "Landscape");
    EXPECT_TRUE(dialog.printerEdit()->isReadOnly());
    EXPECT_FALSE(dialog.collateBox()->isEnabled());
    dialog.copiesBox()->setValue(2);
    EXPECT_TRUE(dialog.collateBox()->isEnabled());
    dialog.copiesBox()->setValue(1);
    EXPECT_FALSE(dialog.collateBox()->isEnabled());

    dialog.show();
    dialog.fromEdit()->clear();
    QTest::keyClicks(dialog.fromEdit(), "0");
    EXPECT_TRUE(dialog.pagesButton()->isChecked());
    dialog.accept();
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].range, PrintSetup::Range::Pages);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.fromEdit()->selectedText(), "0");

    dialog.fromEdit()->setText("4");
    dialog.copiesBox()->setValue(3);
    dialog.collateBox()->setChecked(true);
    dialog.accept();
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(choices[1].fromText, "4");
    EXPECT_EQ(choices[1].copies, 3);
    EXPECT_TRUE(choices[1].collate);
    EXPECT_EQ(choices[1].printer, "Lab");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace paginor
