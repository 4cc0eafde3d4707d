#include <gtest/gtest.h>
#include <unistd.h>

#include <qpa/qwindowsysteminterface.h>
#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/qt/to_excel_setup_window.h"
#include "mail/account.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/app/app_fakes.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/gui_waiting.h"

namespace paginor {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

class ExportDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_choices.SetPageInfo(6, m_dir.path() + "/r.xls");
        std::string error;
        ASSERT_TRUE(writeStringSetting(m_settings, kStyleValue, "B:1,C:300,", error));
        m_window = std::make_unique<ToExcelSetupWindow>(m_choices, m_settings, m_ui);
        m_window->show();
    }

    struct States {
        bool format, colour, font, rows, noNumber, stringFormat, path, mailTo;
        bool operator==(const States&) const = default;
    };
    States states() const {
        const ToExcelSetupWindow& w = *m_window;
        return {w.formatList()->isEnabled(),    w.colourCheck()->isEnabled(),
                w.fontCheck()->isEnabled(),     w.rowsEdit()->isEnabled(),
                w.noNumberCheck()->isEnabled(), w.stringFormatCheck()->isEnabled(),
                w.pathEdit()->isEnabled(),      w.mailToEdit()->isEnabled()};
    }

    TempDir m_dir;
    MemorySettingsStore m_settings;
    RecordingUi m_ui;
    ToExcelSetupDlg m_choices;
    std::unique_ptr<ToExcelSetupWindow> m_window;
};

TEST_F(ExportDialogTest, ControlsFollowTaskFormatAndOutputType) {
    ToExcelSetupWindow& w = *m_window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Output to Excel or HTML file"));
    // The stored defaults are shown: Delimited, 300 rows.
    EXPECT_EQ(w.formatList()->currentText(), QStringLiteral("Delimited"));
    EXPECT_EQ(w.rowsEdit()->text(), QStringLiteral("300"));
    EXPECT_EQ(w.toEdit()->text(), QStringLiteral("6"));
    EXPECT_TRUE(w.taskExcelButton()->isChecked());
    EXPECT_TRUE(w.typeFileButton()->isChecked());
    EXPECT_EQ(w.pathEdit()->text(), qs(m_dir.path() + "/r.xls"));
    EXPECT_EQ(states(), (States{true, false, false, false, false, false, true, false}));

    w.formatList()->setCurrentIndex(0);
    EXPECT_EQ(states(), (States{true, true, true, true, true, true, true, false}));

    QTest::mouseClick(w.taskHtmlButton(), Qt::LeftButton);
    EXPECT_EQ(states(), (States{false, false, false, false, false, false, true, false}));
    EXPECT_EQ(w.pathEdit()->text(), qs(m_dir.path() + "/r$1-6.htm"));

    QTest::mouseClick(w.typeEmailButton(), Qt::LeftButton);
    EXPECT_EQ(states(), (States{false, false, false, false, false, false, false, true}));
    QTest::mouseClick(w.typeBothButton(), Qt::LeftButton);
    EXPECT_EQ(states(), (States{false, false, false, false, false, false, true, true}));

    // Auto Select writes a workbook: its name is shown.
    QTest::mouseClick(w.taskExcelButton(), Qt::LeftButton);
    EXPECT_EQ(w.pathEdit()->text(), qs(m_dir.path() + "/r$1-6.xlsx"));
    EXPECT_EQ(states(), (States{true, true, true, true, true, true, true, true}));
}

// Help says, for every kind in the list and for the HTML pages, which programs open it.
TEST_F(ExportDialogTest, HelpNamesTheProgramsThatOpenEachKind) {
    ToExcelSetupWindow& w = *m_window;
    QTest::mouseClick(w.helpButton(), Qt::LeftButton);
    ASSERT_EQ(m_ui.messages, std::vector<std::string>{kExportKindsHelp});
    EXPECT_EQ(m_ui.icons, std::vector<MessageIcon>{MessageIcon::Information});
    const std::string help = kExportKindsHelp;
    std::vector<std::string> kinds{"Get Html Page"};
    for (int i = 0; i < w.formatList()->count(); ++i) {
        kinds.push_back(w.formatList()->itemText(i).toStdString());
    }
    for (const std::string& kind : kinds) {
        const std::size_t at = help.find(kind);
        ASSERT_NE(at, std::string::npos) << kind;
        const std::string paragraph = help.substr(at, help.find("\n\n", at) - at);
        EXPECT_NE(paragraph.find("Excel"), std::string::npos) << kind;
        EXPECT_NE(paragraph.find("LibreOffice"), std::string::npos) << kind;
    }
    EXPECT_TRUE(w.isVisible());
}

TEST_F(ExportDialogTest, PageEditsDeriveTheNameOrTakeTheFocusBack) {
    ToExcelSetupWindow& w = *m_window;
    w.fromEdit()->setText(QStringLiteral("2"));
    w.OnPageFieldLeft(ExportControl::FromPage);
    EXPECT_EQ(w.pathEdit()->text(), qs(m_dir.path() + "/r$2-6.xls"));

    w.toEdit()->setText(QStringLiteral("7"));
    w.OnPageFieldLeft(ExportControl::ToPage);
    EXPECT_EQ(w.pathEdit()->text(), qs(m_dir.path() + "/r$2-6.xls"));
    EXPECT_EQ(w.focusWidget(), w.toEdit());
    EXPECT_EQ(w.toEdit()->selectedText(), QStringLiteral("7"));
}

TEST_F(ExportDialogTest, RefusedOkKeepsTheDialogOpenOnTheField) {
    ToExcelSetupWindow& w = *m_window;
    w.formatList()->setCurrentIndex(0);
    struct Case {
        const char* from;
        const char* to;
        const char* rows;
        QRadioButton* type;
        const char* mailTo;
        std::string message;
        QLineEdit* focus;
    };
    const Case cases[] = {
        {"5", "3", "300", w.typeFileButton(), "",
         "The start page code should lower than end page code", w.fromEdit()},
        {"1", "6", "0", w.typeFileButton(), "", "Please enter an integer between 1 and 65000.",
         w.rowsEdit()},
        // Pages are taken within the report's 6: the dialog stays with its choices.
        {"x", "6", "300", w.typeFileButton(), "", "Please enter an integer between 1 and 6.",
         w.fromEdit()},
        {"0", "6", "300", w.typeFileButton(), "", "Please enter an integer between 1 and 6.",
         w.fromEdit()},
        {"1", "7", "300", w.typeBothButton(), "a@b", "Please enter an integer between 1 and 6.",
         w.toEdit()},
        {"1", "6", "300", w.typeEmailButton(), "@x", "Invalid email address", w.mailToEdit()},
        {"1", "6", "300", w.typeBothButton(), "", "You should input the recipients's email address",
         w.mailToEdit()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        m_ui.messages.clear();
        w.fromEdit()->setText(QString::fromUtf8(c.from));
        w.toEdit()->setText(QString::fromUtf8(c.to));
        w.rowsEdit()->setText(QString::fromUtf8(c.rows));
        QTest::mouseClick(c.type, Qt::LeftButton);
        w.mailToEdit()->setText(QString::fromUtf8(c.mailTo));
        QTest::mouseClick(w.okButton(), Qt::LeftButton);
        EXPECT_EQ(m_ui.messages, std::vector<std::string>{c.message});
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.focusWidget(), c.focus);
        if (c.message.starts_with("Please enter")) {
            EXPECT_EQ(c.focus->selectedText(), c.focus->text());
        }
        EXPECT_EQ(w.formatList()->currentIndex(), 0);
        EXPECT_EQ(w.mailToEdit()->text(), QString::fromUtf8(c.mailTo));
        EXPECT_TRUE(c.type->isChecked());
    }
}

TEST_F(ExportDialogTest, OpenChoosesTheFileAndOkStoresTheDefaults) {
    ToExcelSetupWindow& w = *m_window;
    std::vector<std::pair<std::string, bool>> offered;
    const std::string existing = m_dir.write("mine.xls", "old");
    w.setFileChooser([&](const std::string& name, bool excel) {
        offered.emplace_back(name, excel);
        return existing;
    });
    QTest::mouseClick(w.openButton(), Qt::LeftButton);
    EXPECT_EQ(offered, (std::vector<std::pair<std::string, bool>>{{"r.xls", true}}));
    EXPECT_EQ(w.pathEdit()->text(), qs(existing));
    w.colourCheck()->setChecked(false);
    w.setAsDefaultCheck()->setChecked(true);
    QTest::mouseClick(w.okButton(), Qt::LeftButton);
    // The file dialog asked about the existing file already.
    EXPECT_TRUE(m_ui.messages.empty());
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(m_choices.m_outputPath, existing);
    EXPECT_EQ(readStringSetting(m_settings, kStyleValue), "A:102,B:1,C:300,D:2,E:0,F:1,G:0,H:0,");
}

// The command on the main window: its action, the real dialog, the progress window and the
// opener.
class ExportWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = std::make_unique<MainWindow>(m_doc, m_ui, m_settings);
        m_window->show();
        m_window->exportEnvironment().open = [this](const std::string& path, std::string&) {
            m_opened.push_back(path);
            return true;
        };
    }
    void TearDown() override {
        m_window->close();
        m_window.reset();
    }

    void open(const std::string& path) {
        m_window->setFileChooser([path] { return path; });
        m_window->frame().OnFileOpen();
        ASSERT_EQ(m_doc.report().state(), 1);
    }

    // The dialog runs for real; choose sets its controls before OK is clicked.
    void chooseInDialog(std::function<void(ToExcelSetupWindow&)> choose) {
        m_window->exportEnvironment().runDialog = [this, choose](ToExcelSetupDlg& choices) {
            ToExcelSetupWindow dialog(choices, m_settings, m_ui, m_window.get());
            dialog.show();
            choose(dialog);
            QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
            return dialog.result() == QDialog::Accepted;
        };
    }

    // The export mails through server, which keeps what it receives in received, from an
    // account the settings hold.
    void mailThrough(SmtpTestServer& server, const TempFolder& received) {
        ASSERT_TRUE(server.start({"real", received.path()}));
        EmailAccount account;
        account.address = "me@example.org";
        account.server = "127.0.0.1";
        std::string error;
        ASSERT_TRUE(saveAccount(m_settings, account, error)) << error;
        m_window->exportEnvironment().smtpPort = server.port();
    }

    // The dialog saves the file in the format at that place of its list (the pages' HTML when
    // html) and mails it to you@example.org.
    void chooseSavedAndMailed(int format, bool html) {
        chooseInDialog([format, html](ToExcelSetupWindow& dialog) {
            dialog.formatList()->setCurrentIndex(format);
            if (html) {
                QTest::mouseClick(dialog.taskHtmlButton(), Qt::LeftButton);
            }
            QTest::mouseClick(dialog.typeBothButton(), Qt::LeftButton);
            dialog.mailToEdit()->setText(QStringLiteral("you@example.org"));
        });
    }

    TempDir m_dir;
    CFoliantDoc m_doc;
    RecordingUi m_ui;
    MemorySettingsStore m_settings;
    std::unique_ptr<MainWindow> m_window;
    std::vector<std::string> m_opened;
};

TEST_F(ExportWindowTest, ActionsFollowTheReportAndThePrintDialog) {
    m_window->updateCommandStates();
    EXPECT_FALSE(m_window->outputAction()->isEnabled());
    EXPECT_FALSE(m_window->saveAsAction()->isEnabled());
    open(std::string(PAGINOR_SAMPLES_DIR) + "/sales-summary.htm");
    m_window->updateCommandStates();
    EXPECT_TRUE(m_window->outputAction()->isEnabled());
    EXPECT_TRUE(m_window->saveAsAction()->isEnabled());
    m_doc.SetPrintDialogOpen(true);
    m_window->updateCommandStates();
    EXPECT_FALSE(m_window->outputAction()->isEnabled());
    EXPECT_TRUE(m_window->saveAsAction()->isEnabled());
}

TEST_F(ExportWindowTest, ExportsThroughTheDialogAndOpensTheFile) {
    const std::string report =
        m_dir.write("sales.htm", readFile(std::string(PAGINOR_SAMPLES_DIR) + "/sales-summary.htm"));
    open(report);
    chooseInDialog([](ToExcelSetupWindow& dialog) {
        dialog.formatList()->setCurrentIndex(1);
        dialog.toEdit()->setText(QStringLiteral("2"));
        dialog.OnPageFieldLeft(ExportControl::ToPage);
    });
    // The window refreshes its actions as it runs.
    m_window->updateCommandStates();
    m_window->outputAction()->trigger();
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
    const std::string output = m_dir.path() + "/sales$1-2.xls";
    EXPECT_EQ(m_opened, std::vector<std::string>{output});
    EXPECT_NE(readFile(output).find("Total Mid-Atlantic Region"), std::string::npos);
    EXPECT_EQ(m_window->exportProgress(), nullptr);
}

// A workbook is written under a workbook's name, whatever name was typed, and the dialog shows
// the name written; the other kinds keep the name typed.
TEST_F(ExportWindowTest, TheDialogShowsTheNameTheExportWrites) {
    const std::string report =
        m_dir.write("sales.htm", readFile(std::string(PAGINOR_SAMPLES_DIR) + "/sales-summary.htm"));
    open(report);
    struct Case {
        int typedWith;  // the format chosen when the name is typed
        int format;     // the format at OK
        const char* typed;
        const char* written;
        bool workbook;
    };
    const Case cases[] = {
        {0, 0, "r.txt", "r.txt.xlsx", true}, {2, 2, "r.xls", "r.xlsx", true},
        {0, 0, "r.xlsx", "r.xlsx", true},    {2, 2, "r", "r.xlsx", true},
        {1, 1, "r.txt", "r.txt", false},     {3, 3, "r.xls", "r.xls", false},
        {0, 1, "r.xls", "r.xls", false},     {1, 2, "r.xls", "r.xlsx", true},
        {0, 3, "r.txt", "r.txt.xls", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " " + std::to_string(c.typedWith) + "," +
                     std::to_string(c.format));
        m_opened.clear();
        QString shownWhenLeft;
        QString shownAtOk;
        chooseInDialog([&](ToExcelSetupWindow& dialog) {
            dialog.formatList()->setCurrentIndex(c.typedWith);
            dialog.pathEdit()->setText(qs(m_dir.path() + "/" + c.typed));
            dialog.OnPathLeft();
            shownWhenLeft = dialog.pathEdit()->text();
            dialog.formatList()->setCurrentIndex(c.format);
            QObject::connect(dialog.okButton(), &QPushButton::clicked,
                             [&] { shownAtOk = dialog.pathEdit()->text(); });
        });
        m_window->OnOutputToExcel();
        const std::string written = m_dir.path() + "/" + c.written;
        EXPECT_TRUE(m_ui.messages.empty()) << m_ui.messages.front();
        if (c.typedWith == c.format) {
            EXPECT_EQ(shownWhenLeft.toStdString(), written);
        }
        EXPECT_EQ(shownAtOk.toStdString(), written);
        EXPECT_EQ(m_opened, std::vector<std::string>{written});
        EXPECT_EQ(readFile(written).rfind("PK\x03\x04", 0) == 0, c.workbook);
        if (std::string(c.typed) != c.written) {
            EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "/" + c.typed));
        }
        ::unlink(written.c_str());
        m_ui.messages.clear();
    }
}

// More pages than one conversion batch holds.
std::string longReport() {
    std::string text = "<html><head><title>T</title></head><body>\r\n";
    for (int page = 1; page <= 240; ++page) {
        text += "<!--9876543210_PageMark_Head--><table width=\"300\"><tr><td width=\"100\">P" +
                std::to_string(page) +
                "</td><td width=\"200\">Item</td></tr></table><!--9876543210_PageMark_Foot-->\r\n";
    }
    return text + "</body></html>\r\n";
}

// Holds the export's work at its first reported share until the window's own thread has done
// what a test asks there, as a person would while the work runs.
class HeldExport {
public:
    HeldExport(MainWindow& window, std::function<void(ExportProgressWindow&)> whileHeld)
        : m_window(window), m_whileHeld(std::move(whileHeld)) {
        ExportEnvironment& environment = m_window.exportEnvironment();
        m_shown = environment.progress;
        environment.progress = [this](int percent) {
            reported.push_back(percent);
            m_shown(percent);
            if (percent > 0 && !m_held.exchange(true)) {
                std::unique_lock<std::mutex> guard(m_lock);
                m_doneChanged.wait(guard, [this] { return m_done; });
                doneWhileHeld = true;
            }
        };
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            ExportProgressWindow* progress = m_window.exportProgress();
            if (!m_held || progress == nullptr) {
                return;
            }
            m_timer.stop();
            m_whileHeld(*progress);
            std::lock_guard<std::mutex> guard(m_lock);
            m_done = true;
            m_doneChanged.notify_all();
        });
        m_timer.start(5);
    }
    ~HeldExport() { m_window.exportEnvironment().progress = m_shown; }
    HeldExport(const HeldExport&) = delete;
    HeldExport& operator=(const HeldExport&) = delete;

    bool doneWhileHeld = false;
    std::vector<int> reported;

private:
    MainWindow& m_window;
    std::function<void(ExportProgressWindow&)> m_whileHeld;
    ProgressSink m_shown;
    std::mutex m_lock;
    std::condition_variable m_doneChanged;
    bool m_done = false;
    std::atomic<bool> m_held{false};
    QTimer m_timer;
};

// Cancel is clicked in the progress window on the window's own thread, as a person clicks it,
// while the conversion waits at its first reported share: a conversion that ran on that thread
// would never see the click. The target keeps what it held, nothing is opened or mailed, and the
// user is told; the conversion stops before its end.
TEST_F(ExportWindowTest, CancelInTheProgressWindowStopsEveryKind) {
    open(m_dir.write("long.htm", longReport()));
    TempFolder received;
    SmtpTestServer server;
    ASSERT_NO_FATAL_FAILURE(mailThrough(server, received));
    struct Case {
        const char* kind;
        bool html;
        int format;
        bool workbookApplication;
        const char* target;
    };
    const Case cases[] = {
        {"xlsx", false, 0, true, "long.xlsx"},       {"SpreadsheetML", false, 0, false, "long.xls"},
        {"web archive", false, 3, true, "long.xls"}, {"delimited text", false, 1, true, "long.xls"},
        {"HTML", true, 0, true, "long$1-240.htm"},
    };
    ExportEnvironment& environment = m_window->exportEnvironment();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string target = m_dir.write(c.target, "old");
        m_ui.messages.clear();
        environment.excel = c.workbookApplication ? ExcelLauncher(StartXlsxApplication) : nullptr;
        chooseSavedAndMailed(c.format, c.html);
        bool windowShown = false;
        bool onlyProgressTakesInput = false;
        HeldExport held(*m_window, [&](ExportProgressWindow& progress) {
            windowShown = progress.isVisible();
            // Nothing else of the program can be reached while the work uses the report.
            onlyProgressTakesInput = !m_window->isEnabled() && progress.isEnabled() &&
                                     QApplication::activeModalWidget() == nullptr;
            QTest::mouseClick(progress.cancelButton(), Qt::LeftButton);
        });
        m_window->OnOutputToExcel();

        EXPECT_TRUE(held.doneWhileHeld);
        EXPECT_TRUE(windowShown);
        EXPECT_TRUE(onlyProgressTakesInput);
        ASSERT_FALSE(m_ui.messages.empty());
        EXPECT_EQ(m_ui.messages.back(), "Cancel by server administrator/user(Error Code:19)");
        EXPECT_TRUE(m_opened.empty());
        EXPECT_EQ(readFile(target), "old");
        EXPECT_EQ(std::find(held.reported.begin(), held.reported.end(), 100), held.reported.end());
        EXPECT_FALSE(std::filesystem::exists(received.path() + "/1.eml"));
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::vector<std::string> expected{"long.htm", c.target};
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
        ::unlink(target.c_str());
        EXPECT_EQ(m_window->exportProgress(), nullptr);
    }
}

// Closing the window while the export's work uses the report stops the export; the window
// stays until the work has ended, and its buttons do nothing meanwhile.
TEST_F(ExportWindowTest, ClosingTheWindowDuringAnExportStopsIt) {
    open(m_dir.write("long.htm", longReport()));
    const std::string target = m_dir.write("long.xls", "old");
    chooseInDialog([](ToExcelSetupWindow& dialog) { dialog.formatList()->setCurrentIndex(1); });
    int chosen = 0;
    m_window->setFileChooser([&chosen] {
        ++chosen;
        return std::string();
    });
    bool closed = true;
    HeldExport held(*m_window, [&](ExportProgressWindow&) {
        // A click on "Open" comes from the window system, as a person's does.
        QToolBar* bar = m_window->bigToolBar();
        QWidget* button = bar->widgetForAction(bar->actions().front());
        QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {},
                          button->mapTo(m_window.get(), button->rect().center()));
        closed = m_window->close();
    });
    m_window->OnOutputToExcel();
    EXPECT_TRUE(held.doneWhileHeld);
    EXPECT_FALSE(closed);
    EXPECT_EQ(chosen, 0);
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(m_ui.messages,
              (std::vector<std::string>{target + "\nThe file exists! Overwrite ?",
                                        "Cancel by server administrator/user(Error Code:19)"}));
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(m_window->exportProgress(), nullptr);
    EXPECT_EQ(m_doc.report().state(), 1);
}

// The title bar's close button and a window manager's close (WM_DELETE_WINDOW) reach the program
// through the window system's queue, not through close(): the export stops as with Cancel,
// nothing is opened or mailed, and keys and clicks still reach nothing but the progress window.
TEST_F(ExportWindowTest, TheWindowSystemsCloseDuringAnExportDoesWhatCancelDoes) {
    open(m_dir.write("long.htm", longReport()));
    TempFolder received;
    SmtpTestServer server;
    ASSERT_NO_FATAL_FAILURE(mailThrough(server, received));
    int chosen = 0;
    m_window->setFileChooser([&chosen] {
        ++chosen;
        return std::string();
    });
    struct Case {
        const char* kind;
        bool html;
        int format;
        const char* target;
    };
    const Case cases[] = {
        {"xlsx", false, 0, "long.xlsx"},
        {"web archive", false, 3, "long.xls"},
        {"delimited text", false, 1, "long.xls"},
        {"HTML", true, 0, "long$1-240.htm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string target = m_dir.write(c.target, "old");
        m_ui.messages.clear();
        chooseSavedAndMailed(c.format, c.html);
        bool closeAccepted = true;
        bool cancelShown = false;
        bool mainWindowActive = false;
        HeldExport held(*m_window, [&](ExportProgressWindow& progress) {
            // A click on the main window's frame makes it the active window; its shortcuts still
            // do nothing.
            m_window->activateWindow();
            waitUntil([&] { return m_window->isActiveWindow(); },
                      "the main window to become active");
            mainWindowActive = m_window->isActiveWindow();
            QTest::keyClick(m_window->windowHandle(), Qt::Key_O, Qt::ControlModifier);
            closeAccepted = QWindowSystemInterface::handleCloseEvent<
                QWindowSystemInterface::SynchronousDelivery>(m_window->windowHandle());
            cancelShown = !progress.cancelButton()->isEnabled();
        });
        m_window->OnOutputToExcel();

        EXPECT_TRUE(held.doneWhileHeld);
        EXPECT_TRUE(mainWindowActive);
        EXPECT_FALSE(closeAccepted);
        EXPECT_TRUE(cancelShown);
        EXPECT_EQ(chosen, 0);
        EXPECT_TRUE(m_window->isVisible());
        ASSERT_FALSE(m_ui.messages.empty());
        EXPECT_EQ(m_ui.messages.back(), "Cancel by server administrator/user(Error Code:19)");
        EXPECT_TRUE(m_opened.empty());
        const std::string kept = readFile(target);
        EXPECT_TRUE(kept == "old") << kept.size() << " bytes";
        EXPECT_EQ(std::find(held.reported.begin(), held.reported.end(), 100), held.reported.end());
        EXPECT_FALSE(std::filesystem::exists(received.path() + "/1.eml"));
        EXPECT_EQ(m_window->exportProgress(), nullptr);
        // Once the export has ended the window takes input again.
        EXPECT_TRUE(m_window->isEnabled());
        ::unlink(target.c_str());
    }
    EXPECT_EQ(m_doc.report().state(), 1);
}

TEST_F(ExportWindowTest, SaveAsCopiesButNeverOntoTheReport) {
    const std::string text = fixtures::markedHtmlReport(2);
    const std::string report = m_dir.write("r.htm", text);
    open(report);
    const std::string link = m_dir.path() + "/link.htm";
    ASSERT_EQ(::symlink(report.c_str(), link.c_str()), 0);
    for (const std::string& target : {link, m_dir.path() + "/copy.htm"}) {
        m_window->setSaveAsChooser([target] { return target; });
        m_window->OnFileSaveAs();
        EXPECT_EQ(readFile(target), text);
    }
    EXPECT_EQ(readFile(report), text);
    EXPECT_TRUE(m_ui.messages.empty());
}

}  // namespace
}  // namespace paginor
