#include "app/export_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/foliant_doc.h"
#include "app/foliant_view.h"
#include "app/main_frame.h"
#include "app/to_excel_setup.h"
#include "mail/account.h"
#include "platform/settings_store.h"
#include "tests/app/app_fakes.h"
#include "tests/core/temp_dir.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/libre_office.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;

std::string sample(const std::string& name) {
    return readFile(std::string(PAGINOR_SAMPLES_DIR) + "/" + name);
}

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    return status == 0 ? output : "status " + std::to_string(status) + ": " + output;
}

// The export command on a real report, with the dialog's rules run over scripted choices and
// the opener recorded.
class ExportCommand : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedTmp = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
        // Mail-only exports go to the private temporary folder: keep it inside the test's own.
        setenv("TMPDIR", m_dir.path().c_str(), 1);
        m_environment.runDialog = [this](ToExcelSetupDlg& dialog) {
            dialog.OnInitDialog(m_settings);
            m_choose(dialog);
            const bool accepted = dialog.OnOK(m_ui, m_settings).accepted;
            m_chosen = dialog;
            return accepted;
        };
        m_environment.open = [this](const std::string& path, std::string&) {
            m_opened.push_back(path);
            return true;
        };
        m_environment.runAccountDialog = [this] {
            ++m_accountDialogs;
            return false;
        };
        m_environment.progress = [this](int percent) { m_progress.push_back(percent); };
        m_environment.cancel = &m_cancel;
        m_environment.homeFolder = m_dir.path();
        m_environment.clock = &m_clock;
    }
    void TearDown() override {
        if (m_savedTmp.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", m_savedTmp.c_str(), 1);
        }
    }

    void load(const std::string& name, const std::string& text) {
        m_reportPath = m_dir.write(name, text);
        ASSERT_EQ(m_report.Init(m_reportPath, nullptr, false, nullptr, nullptr, nullptr), 0);
    }

    void exportWith(std::function<void(ToExcelSetupDlg&)> choose) {
        m_choose = std::move(choose);
        OutputToExcel(m_report, false, m_settings, m_ui, m_environment);
    }

    void storeAccount(int port) {
        EmailAccount account;
        account.address = "me@example.org";
        account.server = "127.0.0.1";
        account.requiresAuthentication = true;
        account.userName = "alice";
        account.password = "secret";
        std::string error;
        ASSERT_TRUE(saveAccount(m_settings, account, error)) << error;
        m_environment.smtpPort = port;
    }

    std::vector<std::string> folderEntries(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir m_dir;
    std::string m_savedTmp;
    CReportCore m_report;
    std::string m_reportPath;
    MemorySettingsStore m_settings;
    RecordingUi m_ui;
    FixedClock m_clock;
    ExportEnvironment m_environment;
    std::function<void(ToExcelSetupDlg&)> m_choose;
    ToExcelSetupDlg m_chosen;
    std::vector<std::string> m_opened;
    std::vector<int> m_progress;
    std::atomic<std::int32_t> m_cancel{0};
    int m_accountDialogs = 0;
};

TEST_F(ExportCommand, DelimitedOutputReadsBackAsTabSeparatedRows) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    exportWith([](ToExcelSetupDlg& dialog) {
        dialog.m_fileFormat = ExportFileFormat::Delimited;
        dialog.m_toPage = 2;
        dialog.DeriveFileName();
    });
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{});
    EXPECT_EQ(m_ui.waitCursorCalls, (std::vector<bool>{true, false}));
    const std::string output = m_dir.path() + "/sales-summary$1-2.xls";
    EXPECT_EQ(m_opened, std::vector<std::string>{output});
    int status = 0;
    const std::string read = runPython(
        "import csv, sys\n"
        "rows = [r for r in csv.reader(open(sys.argv[1], newline=\"\", encoding=\"utf-8-sig\"), "
        "delimiter=\"\\t\") if r]\n"
        "print(sorted(set(len(r) for r in rows)))\n"
        "print([r[0] for r in rows if r[0].startswith(\"Total\")])\n"
        "print([r[2] for r in rows if r[1] == \"PT-4033\"][0])\n",
        output, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read,
              "[8]\n['Total North East Region', 'Total Mid-Atlantic Region']\nRoller Kit 9\"\n");
}

// Auto Select writes a workbook (its name gains an "x"); SpreadsheetML keeps the chosen name.
TEST_F(ExportCommand, WorkbooksAndSpreadsheetMlThatLibreOfficeReads) {
    struct Case {
        ExportFileFormat format;
        const char* written;
        const char* copy;
    } cases[] = {{ExportFileFormat::AutoSelect, "/order-listing$2-2.xlsx", "book.xlsx"},
                 {ExportFileFormat::SpreadsheetMl, "/order-listing$2-2.xls", "book.xml"}};
    load("order-listing.rrph", sample("order-listing.rrph"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.copy);
        m_opened.clear();
        m_progress.clear();
        exportWith([&](ToExcelSetupDlg& dialog) {
            dialog.m_fromPage = 2;
            dialog.m_toPage = 2;
            dialog.m_fileFormat = c.format;
            dialog.DeriveFileName();
        });
        EXPECT_EQ(m_ui.messages, std::vector<std::string>{});
        const std::string output = m_dir.path() + c.written;
        ASSERT_EQ(m_opened, std::vector<std::string>{output});
        if (c.format == ExportFileFormat::SpreadsheetMl) {
            EXPECT_EQ(run("xmllint --noout '" + output + "' 2>&1"), "");
        }
        // The conversion reported its progress to the window and ended it with 0.
        ASSERT_FALSE(m_progress.empty());
        EXPECT_EQ(m_progress.back(), 0);
        EXPECT_NE(std::find(m_progress.begin(), m_progress.end(), 100), m_progress.end());

        const std::string folder = m_dir.path() + "/lo-" + c.copy;
        fs::create_directory(folder);
        fs::copy_file(output, folder + "/" + c.copy);
        std::string failure;
        const std::string converted =
            convertWithLibreOffice(folder + "/" + c.copy, folder, kLibreOfficeCsv, failure);
        ASSERT_FALSE(converted.empty()) << failure;
        const std::string csv = readFile(converted);
        EXPECT_NE(csv.find("Page 2"), std::string::npos) << csv.substr(0, 400);
        EXPECT_EQ(csv.find("Page 1\n"), std::string::npos);
    }
}

TEST_F(ExportCommand, HtmlTaskWritesWhatThePageRangeOutputWrites) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    exportWith([](ToExcelSetupDlg& dialog) {
        dialog.m_fromPage = 2;
        dialog.m_toPage = 3;
        dialog.SetTask(kTaskHtml);
    });
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{});
    const std::string output = m_dir.path() + "/sales-summary$2-3.htm";
    const std::string expected = m_dir.path() + "/expected.htm";
    m_report.OutputToHtmlFile(2, 3, expected);
    EXPECT_EQ(readFile(output), readFile(expected));
    EXPECT_FALSE(readFile(output).empty());
    // Only converted files are opened.
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(ExportCommand, OutputOntoTheReportIsRefusedAndTheReportKept) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    const std::string link = m_dir.path() + "/link.xls";
    ASSERT_EQ(::symlink(m_reportPath.c_str(), link.c_str()), 0);
    const std::string before = readFile(m_reportPath);
    struct Case {
        std::int32_t task;
        ExportFileFormat format;
        std::string path;
    };
    const Case cases[] = {
        {kTaskExcel, ExportFileFormat::Delimited, m_reportPath},
        {kTaskExcel, ExportFileFormat::AutoSelect, link},
        {kTaskExcel, ExportFileFormat::Delimited, m_dir.path() + "/./" + "sales-summary.htm"},
        {kTaskHtml, ExportFileFormat::AutoSelect, m_reportPath},
        {kTaskHtml, ExportFileFormat::AutoSelect, link},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        m_ui.messages.clear();
        exportWith([&](ToExcelSetupDlg& dialog) {
            dialog.m_task = c.task;
            dialog.m_fileFormat = c.format;
            dialog.FileChosen(c.path);
            dialog.m_outputType = kOutputBoth;
            dialog.m_mailTo = "you@example.org";
        });
        EXPECT_EQ(m_ui.messages, std::vector<std::string>{"Please select another file path!"});
        EXPECT_EQ(m_ui.icons.back(), MessageIcon::Stop);
        EXPECT_EQ(readFile(m_reportPath), before);
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(m_opened.empty());
        EXPECT_EQ(m_accountDialogs, 0);
    }
    EXPECT_EQ(folderEntries(m_dir.path()),
              (std::vector<std::string>{"link.xls", "sales-summary.htm"}));
}

TEST_F(ExportCommand, HiddenSourceGivesNoHtml) {
    std::string text = sample("sales-summary.htm");
    text.insert(text.find("</HEAD>"), "<!--PAGINOR?PRINT_DIRECTLY=YES-->\r\n");
    load("hidden.htm", text);
    ASSERT_FALSE(m_report.sourceMayBeShown());
    exportWith([](ToExcelSetupDlg& dialog) {
        // Opened from outside: the home folder is offered.
        EXPECT_EQ(dialog.m_outputPath, dialog.m_defaultPath);
        dialog.SetTask(kTaskHtml);
    });
    EXPECT_EQ(m_chosen.m_defaultPath, m_dir.path() + "/hidden.xls");
    EXPECT_EQ(m_ui.messages,
              std::vector<std::string>{"The source code is hidden, not permited to be viewed"});
    EXPECT_FALSE(fs::exists(m_dir.path() + "/hidden$1-6.htm"));

    OutputToExcel(m_report, true, m_settings, m_ui, m_environment);
    EXPECT_EQ(m_chosen.m_defaultPath, m_dir.path() + "/");
}

TEST_F(ExportCommand, FailedConversionShowsItsTextAndNeitherMailsNorOpens) {
    // A page whose first table comes after 300 bytes of text has no table head to convert.
    load("no-table.htm", "<html><body><!--9876543210_PageMark_Head--><p>" + std::string(300, 'x') +
                             "</p><table><tr><td>a</td></tr></table>"
                             "<!--9876543210_PageMark_Foot--></body></html>");
    storeAccount(1);
    exportWith([](ToExcelSetupDlg& dialog) {
        dialog.m_fileFormat = ExportFileFormat::NativeExcel;
        dialog.m_outputType = kOutputEmail;
        dialog.m_mailTo = "you@example.org";
    });
    ASSERT_EQ(m_ui.messages.size(), 1u);
    EXPECT_NE(m_ui.messages[0].find("Head of table not found"), std::string::npos)
        << m_ui.messages[0];
    EXPECT_EQ(m_ui.icons[0], MessageIcon::Stop);
    EXPECT_TRUE(m_opened.empty());
    // The temporary file made for the mail went again.
    EXPECT_EQ(folderEntries(m_dir.path() + "/paginor-" + std::to_string(geteuid())),
              std::vector<std::string>{});
}

// An export whose sheet could not hold every link succeeds, says how many were left out, and
// then opens the workbook.
TEST_F(ExportCommand, LinksLeftOutAreToldBeforeTheWorkbookOpens) {
    std::string report =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\"></head><body><!--9876543210_PageMark_Head-->"
        "<table width=\"200\">";
    for (int n = 0; n < 65533; ++n) {
        report += "<tr><td width=\"200\"><a href=\"http://example.com/" + std::to_string(n) +
                  "\">link</a></td></tr>";
    }
    report += "</table><!--9876543210_PageMark_Foot--></body></html>";
    load("links.htm", report);
    exportWith([](ToExcelSetupDlg& dialog) {
        dialog.m_fileFormat = ExportFileFormat::NativeExcel;
        dialog.DeriveFileName();
    });
    const std::string output = m_dir.path() + "/links$1-1.xlsx";
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{
                                 "The workbook " + output +
                                 " is written, but 3 links were left out: a worksheet holds at "
                                 "most 65,530 links. Their cells keep their texts."});
    ASSERT_EQ(m_ui.icons.size(), 1u);
    EXPECT_EQ(m_ui.icons[0], MessageIcon::Information);
    EXPECT_EQ(m_opened, std::vector<std::string>{output});
}

TEST_F(ExportCommand, CancelStopsTheConversionAndLeavesNoFile) {
    // More pages than one batch holds: the conversion looks at the flag between batches.
    std::string text = "<html><head><title>T</title></head><body>\r\n";
    for (int page = 1; page <= 240; ++page) {
        text += "<!--9876543210_PageMark_Head--><table width=\"300\"><tr><td width=\"100\">P" +
                std::to_string(page) +
                "</td><td width=\"200\">Item</td></tr></table><!--9876543210_PageMark_Foot-->\r\n";
    }
    load("long.htm", text + "</body></html>\r\n");
    m_environment.progress = [this](int percent) {
        m_progress.push_back(percent);
        if (percent > 0) {
            m_cancel = 1;
        }
    };
    exportWith([](ToExcelSetupDlg& dialog) {
        dialog.m_fileFormat = ExportFileFormat::Delimited;
        dialog.DeriveFileName();
    });
    ASSERT_EQ(m_ui.messages.size(), 1u);
    EXPECT_NE(m_ui.messages[0].find("(Error Code:19)"), std::string::npos) << m_ui.messages[0];
    EXPECT_TRUE(m_opened.empty());
    EXPECT_EQ(folderEntries(m_dir.path()), std::vector<std::string>{"long.htm"});
}

// A Cancel that comes once the file has taken its name is too late to keep the target, but what
// the export was to do with the file is not done: it is neither opened nor mailed, and the user
// is told.
TEST_F(ExportCommand, ACancelAfterTheFileWasCompleteKeepsItUnopenedAndUnmailed) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    storeAccount(1);
    m_environment.runWork = [this](const std::function<void()>& work) {
        work();
        m_cancel = 1;
    };
    exportWith([](ToExcelSetupDlg& dialog) {
        dialog.m_fileFormat = ExportFileFormat::Delimited;
        dialog.m_outputType = kOutputBoth;
        dialog.m_mailTo = "you@example.org";
    });
    const std::string output = m_dir.path() + "/sales-summary.xls";
    EXPECT_EQ(m_ui.messages,
              std::vector<std::string>{"The file " + output +
                                       " was complete before Cancel took effect; it is kept, but "
                                       "neither opened nor mailed."});
    EXPECT_FALSE(readFile(output).empty());
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(ExportCommand, MailGoesOutWithTheFileAttached) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    TempFolder received;
    SmtpTestServer server;
    ASSERT_TRUE(server.start({"real", received.path()}));
    storeAccount(server.port());
    const std::string privateFolder = m_dir.path() + "/paginor-" + std::to_string(geteuid());
    struct Case {
        std::int32_t type;
        std::int32_t task;
        const char* name;
    };
    int mails = 0;
    for (const Case c : {Case{kOutputEmail, kTaskExcel, "sales-summary$1-1.xls"},
                         Case{kOutputBoth, kTaskHtml, "sales-summary$1-1.htm"}}) {
        SCOPED_TRACE(c.type);
        m_opened.clear();
        const auto choose = [&](std::int32_t type) {
            return [&c, type](ToExcelSetupDlg& dialog) {
                dialog.m_fileFormat = ExportFileFormat::Delimited;
                dialog.m_toPage = 1;
                dialog.SetTask(c.task);
                dialog.m_outputType = type;
                dialog.m_mailTo = "you@example.org";
            };
        };
        exportWith(choose(c.type));
        EXPECT_EQ(m_ui.messages, std::vector<std::string>{});
        const std::string output = m_chosen.m_outputPath;
        const std::string mail = received.path() + "/" + std::to_string(++mails) + ".eml";
        int status = 0;
        const std::string check = runPython(
            "import email, sys\n"
            "m = email.message_from_binary_file(open(sys.argv[1], \"rb\"))\n"
            "print(m[\"Subject\"])\n"
            "parts = [p for p in m.walk() if p.get_filename()]\n"
            "print(parts[0].get_filename())\n"
            "sys.stdout.buffer.write(parts[0].get_payload(decode=True))\n",
            mail, status);
        EXPECT_EQ(status, 0);
        EXPECT_NE(readFile(mail).find("Paginor\r\nDate: Tuesday, March 05, 14:03:09"),
                  std::string::npos);
        EXPECT_EQ(readFile(received.path() + "/" + std::to_string(mails) + ".rcpt"),
                  "you@example.org");
        // The attachment is named as the export names the file.
        const std::string file = m_dir.path() + "/" + c.name;
        if (c.type == kOutputEmail) {
            // Nothing is written where "File Path" points, nothing is opened, and the file made
            // for the mail went with it.
            EXPECT_EQ(output.rfind(privateFolder + "/", 0), 0u) << output;
            EXPECT_FALSE(fs::exists(file));
            EXPECT_TRUE(m_opened.empty());
            EXPECT_EQ(folderEntries(privateFolder), std::vector<std::string>{});
            // What the attachment holds is what the same export writes into a file.
            exportWith(choose(kOutputFile));
        } else {
            EXPECT_EQ(output, file);
            EXPECT_TRUE(m_opened.empty());
        }
        const std::string content = readFile(file);
        EXPECT_FALSE(content.empty());
        EXPECT_EQ(check, "Oracle Report\n" + std::string(c.name) + "\n" + content);
    }
}

// A place that cannot take the file fails before a page is converted, naming the file and why.
TEST_F(ExportCommand, APlaceThatCannotTakeTheFileFailsBeforeConverting) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    struct Case {
        ExportFileFormat format;
        const char* written;
    };
    for (const Case c : {Case{ExportFileFormat::AutoSelect, "/proc/x.xlsx"},
                         Case{ExportFileFormat::Delimited, "/proc/x.xls"},
                         Case{ExportFileFormat::ExcelCompatible, "/proc/x.xls"}}) {
        SCOPED_TRACE(c.written);
        m_ui.messages.clear();
        m_progress.clear();
        // Past the dialog, which asks the same.
        m_environment.runDialog = [&](ToExcelSetupDlg& dialog) {
            dialog.OnInitDialog(m_settings);
            dialog.m_fileFormat = c.format;
            dialog.m_outputPath = "/proc/x.xls";
            return true;
        };
        OutputToExcel(m_report, false, m_settings, m_ui, m_environment);
        EXPECT_EQ(m_ui.messages,
                  std::vector<std::string>{"The file " + std::string(c.written) +
                                           " cannot be written: files cannot be made in the "
                                           "folder /proc (No such file or directory). [OtEFOp1]"});
        EXPECT_EQ(std::count_if(m_progress.begin(), m_progress.end(), [](int p) { return p > 0; }),
                  0);
        EXPECT_TRUE(m_opened.empty());
    }
}

// Delimited text under ".xls" opens right in LibreOffice, which splits text at commas and
// semicolons as well as at TABs unless told otherwise: its own defaults are used here.
TEST_F(ExportCommand, DelimitedTextReadsRightInLibreOffice) {
    std::string html =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\"></head><body>\r\n";
    for (int page = 1; page <= 2; ++page) {
        html +=
            "<!--9876543210_PageMark_Head--><table width=\"400\"><tr><td width=\"200\">Acme "
            "Products, Inc.</td><td width=\"100\">K\xf6ln; &eacute;t&eacute; &#1046;</td><td "
            "width=\"100\">"
            "12\" &amp; &quot;x&quot;</td></tr></table><!--9876543210_PageMark_Foot-->\r\n";
    }
    load("acme.htm", html + "</body></html>\r\n");
    exportWith([](ToExcelSetupDlg& dialog) { dialog.m_fileFormat = ExportFileFormat::Delimited; });
    ASSERT_EQ(m_ui.messages, std::vector<std::string>{});
    const std::string folder = m_dir.path() + "/lo";
    fs::create_directory(folder);
    fs::copy_file(m_dir.path() + "/acme.xls", folder + "/acme.xls");
    // Separators comma, semicolon and TAB, text in double quotes, the character set guessed:
    // what the text import offers a person first. Written back with '|' between the cells.
    std::string failure;
    const std::string converted = convertWithLibreOffice(
        folder + "/acme.xls", folder, "csv:Text - txt - csv (StarCalc):124,34,76", failure,
        "Text - txt - csv (StarCalc):44/59/9,34,,1");
    ASSERT_FALSE(converted.empty()) << failure;
    // A character of the code page, one it lacks and references of both kinds all come out.
    const std::string row =
        "Acme Products, Inc.|K\xc3\xb6ln; \xc3\xa9t\xc3\xa9 \xd0\x96|\"12\"\" & \"\"x\"\"\"\n";
    EXPECT_EQ(readFile(converted), row + "||\n" + row);
}

TEST_F(ExportCommand, WithoutAnAccountTheAccountDialogRunsAndTheCommandEnds) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    exportWith([](ToExcelSetupDlg& dialog) {
        dialog.m_fileFormat = ExportFileFormat::Delimited;
        dialog.m_outputType = kOutputBoth;
        dialog.m_mailTo = "you@example.org";
    });
    EXPECT_EQ(m_ui.messages,
              std::vector<std::string>{"You have not setup the email account that is used to "
                                       "send mail, Please setup now."});
    EXPECT_EQ(m_ui.icons, std::vector<MessageIcon>{MessageIcon::Information});
    EXPECT_EQ(m_accountDialogs, 1);
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(ExportCommand, MailFailureShowsTheServerAndEnds) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    TempFolder transcript;
    SmtpTestServer server;
    ASSERT_TRUE(server.start({"scripted", transcript.path() + "/t",
                              "[\"220 hi\\r\\n\",\"250 hi\\r\\n\",\"334 VXNlcm5hbWU6\\r\\n\","
                              "\"334 UGFzc3dvcmQ6\\r\\n\",\"535 Authentication refused\\r\\n\","
                              "\"@close\"]"}));
    storeAccount(server.port());
    exportWith([](ToExcelSetupDlg& dialog) {
        dialog.m_fileFormat = ExportFileFormat::Delimited;
        dialog.m_outputType = kOutputBoth;
        dialog.m_mailTo = "you@example.org";
    });
    ASSERT_EQ(m_ui.messages.size(), 1u);
    const std::string& text = m_ui.messages[0];
    EXPECT_EQ(text.rfind("Failed to send the mail. \r\nError Message: ", 0), 0u) << text;
    EXPECT_NE(text.find(".\r\n\r\n\r\nAccount Settings:\r\nSMTP Server: 127.0.0.1\r\nUser name: "
                        "alice\r\n"),
              std::string::npos)
        << text;
    EXPECT_LE(text.size(), kMaxSendFailureBytes);
    EXPECT_EQ(m_ui.icons[0], MessageIcon::Information);
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(ExportCommand, OtherFailuresAreRuntimeExceptions) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    m_environment.open = [](const std::string&, std::string&) -> bool {
        throw std::runtime_error(std::string(2000, 'x'));
    };
    exportWith([](ToExcelSetupDlg& dialog) { dialog.m_fileFormat = ExportFileFormat::Delimited; });
    ASSERT_EQ(m_ui.messages.size(), 1u);
    EXPECT_EQ(m_ui.messages[0], "Runtime exception[OFS]:" + std::string(1000, 'x'));
    EXPECT_EQ(m_ui.icons[0], MessageIcon::Stop);
}

TEST_F(ExportCommand, CancelledDialogDoesNothing) {
    load("sales-summary.htm", sample("sales-summary.htm"));
    m_environment.runDialog = [](ToExcelSetupDlg&) { return false; };
    OutputToExcel(m_report, false, m_settings, m_ui, m_environment);
    EXPECT_TRUE(m_ui.messages.empty());
    EXPECT_TRUE(m_ui.waitCursorCalls.empty());
    EXPECT_EQ(folderEntries(m_dir.path()), std::vector<std::string>{"sales-summary.htm"});
}

TEST(SaveAs, CopiesTheReportAndLeavesItAloneUnderAnyOtherSpelling) {
    TempDir dir;
    const std::string report = dir.write("r.htm", "<html>report</html>");
    const std::string old = dir.write("old.htm", "something much longer than the report");
    ASSERT_EQ(::symlink(report.c_str(), (dir.path() + "/link.htm").c_str()), 0);
    RecordingUi ui;
    for (const std::string& self :
         {report, dir.path() + "/link.htm", dir.path() + "/./r.htm", std::string()}) {
        EXPECT_TRUE(SaveReportAs(report, self, ui));
        EXPECT_EQ(readFile(report), "<html>report</html>");
    }
    EXPECT_TRUE(SaveReportAs(report, old, ui));
    EXPECT_EQ(readFile(old), "<html>report</html>");
    EXPECT_TRUE(SaveReportAs(report, dir.path() + "/new.htm", ui));
    EXPECT_EQ(readFile(dir.path() + "/new.htm"), "<html>report</html>");
    EXPECT_TRUE(ui.messages.empty());

    const std::string nowhere = dir.path() + "/none/x.htm";
    EXPECT_FALSE(SaveReportAs(report, nowhere, ui));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].rfind("The report could not be saved as " + nowhere + ": ", 0), 0u)
        << ui.messages[0];
}

TEST(FrameExport, NeedsAReportAndOffersHomeOnlyForHiddenReportsFromOutside) {
    TempDir dir;
    std::string text = sample("sales-summary.htm");
    text.insert(text.find("</HEAD>"), "<!--PAGINOR?PRINT_DIRECTLY=YES-->\r\n");
    const std::string report = dir.write("hidden.htm", text);
    CFoliantDoc doc;
    FakeBrowser browser;
    FakeWidgets widgets;
    RecordingUi ui;
    MemorySettingsStore settings;
    CFoliantView view(doc, browser, ui, settings);
    CMainFrame frame(doc, view, widgets, ui, settings);
    std::vector<std::string> offered;
    ExportEnvironment environment;
    environment.homeFolder = "/home/u";
    environment.runDialog = [&](ToExcelSetupDlg& dialog) {
        offered.push_back(dialog.m_defaultPath);
        return false;
    };

    EXPECT_FALSE(frame.CanOutputToExcel());
    EXPECT_FALSE(frame.CanSaveAs());
    frame.OnOutputToExcel(environment);
    frame.OnFileSaveAs(dir.path() + "/copy.htm");
    EXPECT_TRUE(offered.empty());
    EXPECT_FALSE(fs::exists(dir.path() + "/copy.htm"));

    ASSERT_EQ(frame.RunCommand("open \"" + report + "\""), 1);
    frame.OnOutputToExcel(environment);
    doc.SetPrintDialogOpen(true);
    EXPECT_FALSE(frame.CanOutputToExcel());
    frame.OnOutputToExcel(environment);
    doc.SetPrintDialogOpen(false);
    widgets.fileToOpen = report;
    frame.OnFileOpen();
    frame.OnOutputToExcel(environment);
    EXPECT_EQ(offered, (std::vector<std::string>{"/home/u/", dir.path() + "/hidden.xls"}));

    frame.OnFileSaveAs(dir.path() + "/copy.htm");
    EXPECT_EQ(readFile(dir.path() + "/copy.htm"), text);
}

}  // namespace
}  // namespace paginor
