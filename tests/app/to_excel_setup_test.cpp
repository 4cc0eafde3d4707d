#include "app/to_excel_setup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/app/app_fakes.h"
#include "tests/core/temp_dir.h"

namespace paginor {
namespace {

TEST(ExportStyle, ParsesOverTheDefaults) {
    struct Case {
        const char* text;
        ExportFileFormat format;
        std::int32_t rows;
        bool colour, font, noNumber, stringFormat;
    };
    const auto autoSel = ExportFileFormat::AutoSelect;
    const Case cases[] = {
        {"B:3,C:500,E:0,", ExportFileFormat::ExcelCompatible, 500, false, true, false, false},
        {"B:7,", autoSel, 65000, true, true, false, false},
        // Reading stops at the first item without ':'.
        {"B:1,X,C:10,", ExportFileFormat::Delimited, 65000, true, true, false, false},
        // An item without a ',' after it is not read.
        {"B:2", autoSel, 65000, true, true, false, false},
        {"A:102,B:1,C:1000,D:2,E:0,F:0,G:1,H:1,", ExportFileFormat::Delimited, 1000, false, false,
         true, true},
        {"E:2,F:x,G:,H:9,", autoSel, 65000, true, true, false, false},
        {"C:12abc,", autoSel, 12, true, true, false, false},
        // Row counts the dialog would refuse leave the default.
        {"C:0,", autoSel, 65000, true, true, false, false},
        {"C:65001,", autoSel, 65000, true, true, false, false},
        {"C:99999999999999999999,", autoSel, 65000, true, true, false, false},
        {"C:,", autoSel, 65000, true, true, false, false},
        {"C:65000,", autoSel, 65000, true, true, false, false},
        {"C:1,", autoSel, 1, true, true, false, false},
        {"", autoSel, 65000, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ToExcelSetupDlg dialog;
        dialog.ParseStyle(c.text);
        EXPECT_EQ(dialog.m_fileFormat, c.format);
        EXPECT_EQ(dialog.m_rowsPerWorksheet, c.rows);
        EXPECT_EQ(dialog.m_colour, c.colour);
        EXPECT_EQ(dialog.m_font, c.font);
        EXPECT_EQ(dialog.m_noNumberDetection, c.noNumber);
        EXPECT_EQ(dialog.m_stringFormatDetection, c.stringFormat);
    }
}

TEST(ExportStyle, SetAsDefaultStoresTheChoices) {
    TempDir dir;
    MemorySettingsStore settings;
    RecordingUi ui;
    ToExcelSetupDlg dialog;
    dialog.SetPageInfo(4, dir.path() + "/x.xls");
    dialog.OnInitDialog(settings);
    dialog.m_fileFormat = ExportFileFormat::Delimited;
    dialog.m_rowsPerWorksheet = 1000;
    dialog.m_colour = false;
    dialog.m_font = false;
    dialog.m_setAsDefault = true;
    ASSERT_TRUE(dialog.OnOK(ui, settings).accepted);
    EXPECT_EQ(readStringSetting(settings, kStyleValue), "A:102,B:1,C:1000,D:2,E:0,F:0,G:0,H:0,");

    // The next dialog starts from them.
    ToExcelSetupDlg next;
    next.SetPageInfo(9, "/data/y.xls");
    next.OnInitDialog(settings);
    EXPECT_EQ(next.m_fileFormat, ExportFileFormat::Delimited);
    EXPECT_EQ(next.m_rowsPerWorksheet, 1000);
    EXPECT_FALSE(next.m_colour);
    EXPECT_FALSE(next.m_font);
    EXPECT_EQ(next.m_toPage, 9);
    EXPECT_EQ(next.m_outputPath, "/data/y.xls");
    EXPECT_EQ(next.m_outputType, kOutputFile);
    EXPECT_EQ(next.m_task, kTaskExcel);
}

TEST(ExportFileName, IsDerivedFromThePagesAndTheTask) {
    struct Case {
        const char* path;
        std::int32_t from, to, task;
        const char* expected;
        ExportFileFormat format = ExportFileFormat::AutoSelect;
    };
    // Auto Select writes a workbook: the name derived is the one written.
    const Case cases[] = {
        {"/data/x", 1, 2, kTaskExcel, "/data/x$1-2.xlsx"},
        {"/data/x.xls", 1, 2, kTaskExcel, "/data/x$1-2.xlsx"},
        {"/data/sales.xls", 3, 5, kTaskExcel, "/data/sales$3-5.xlsx"},
        {"/data/sales$3-5.xls", 2, 4, kTaskHtml, "/data/sales$2-4.htm"},
        {"/data/sales$3-5.htm", 2, 4, kTaskExcel, "/data/sales$2-4.xlsx"},
        {"/data/r.v2.xls", 1, 1, kTaskExcel, "/data/r.v2$1-1.xlsx"},
        {"/data.d/x", 1, 2, kTaskExcel, "/data.d/x$1-2.xlsx"},
        // A '$' in a folder name stays where it is.
        {"/home/u/a$b/r.xls", 1, 2, kTaskExcel, "/home/u/a$b/r$1-2.xlsx"},
        {"/home/u/", 1, 7, kTaskExcel, "/home/u/$1-7.xlsx"},
        {"x.xls", 1, 2, kTaskHtml, "x$1-2.htm"},
        {"/data/x.xlsx", 1, 2, kTaskExcel, "/data/x$1-2.xls", ExportFileFormat::Delimited},
        {"/data/x", 1, 2, kTaskExcel, "/data/x$1-2.xls", ExportFileFormat::ExcelCompatible},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ToExcelSetupDlg dialog;
        dialog.m_fileFormat = c.format;
        dialog.m_outputPath = c.path;
        dialog.m_fromPage = c.from;
        dialog.m_toPage = c.to;
        dialog.SetTask(c.task);
        EXPECT_EQ(dialog.m_outputPath, c.expected);
    }
}

TEST(ExportFileName, DefaultPathFollowsTheReport) {
    struct Case {
        const char* report;
        bool sourceShown, openedFromOutside;
        const char* expected;
    };
    const Case cases[] = {
        {"/data/x", true, true, "/data/x.xls"},       {"/data/x.htm", true, false, "/data/x.xls"},
        {"/data.d/x", true, true, "/data.d/x.xls"},   {"/data/x.htm", false, true, "/home/u/"},
        {"/data/x.htm", false, false, "/data/x.xls"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.report);
        EXPECT_EQ(defaultOutputPath(c.report, c.sourceShown, c.openedFromOutside, "/home/u"),
                  c.expected);
    }
}

TEST(ExportFileName, PageFieldsTakeOnlyPagesOfTheReport) {
    struct Case {
        ExportControl field;
        const char* text;
        bool taken;
        const char* path;
    };
    const Case cases[] = {
        {ExportControl::FromPage, "2", true, "/d/r$2-5.xlsx"},
        {ExportControl::ToPage, "3", true, "/d/r$1-3.xlsx"},
        {ExportControl::FromPage, "0", false, "/d/r.xls"},
        {ExportControl::ToPage, "6", false, "/d/r.xls"},
        {ExportControl::FromPage, "abc", false, "/d/r.xls"},
        {ExportControl::FromPage, "", false, "/d/r.xls"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        MemorySettingsStore settings;
        ToExcelSetupDlg dialog;
        dialog.SetPageInfo(5, "/d/r.xls");
        dialog.OnInitDialog(settings);
        EXPECT_EQ(dialog.PageFieldLeft(c.field, c.text), c.taken);
        EXPECT_EQ(dialog.m_outputPath, c.path);
    }
}

TEST(ExportControls, FollowTheTaskFormatAndOutputType) {
    struct Case {
        std::int32_t task;
        ExportFileFormat format;
        std::int32_t type;
        ExportControlStates states;
    };
    const ExportControlStates all{true, true, true, true, true, true, true, false};
    ExportControlStates html{false, false, false, false, false, false, true, false};
    ExportControlStates delimited{true, false, false, false, false, false, true, false};
    ExportControlStates email = all;
    email.outputPath = false;
    email.mailTo = true;
    ExportControlStates both = all;
    both.mailTo = true;
    ExportControlStates htmlEmail = html;
    htmlEmail.outputPath = false;
    htmlEmail.mailTo = true;
    const Case cases[] = {
        {kTaskExcel, ExportFileFormat::AutoSelect, kOutputFile, all},
        {kTaskExcel, ExportFileFormat::NativeExcel, kOutputFile, all},
        {kTaskHtml, ExportFileFormat::AutoSelect, kOutputFile, html},
        {kTaskHtml, ExportFileFormat::Delimited, kOutputFile, html},
        {kTaskExcel, ExportFileFormat::Delimited, kOutputFile, delimited},
        {kTaskExcel, ExportFileFormat::AutoSelect, kOutputEmail, email},
        {kTaskExcel, ExportFileFormat::AutoSelect, kOutputBoth, both},
        {kTaskHtml, ExportFileFormat::ExcelCompatible, kOutputEmail, htmlEmail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.task << " " << static_cast<int>(c.format) << " " << c.type);
        ToExcelSetupDlg dialog;
        dialog.m_task = c.task;
        dialog.m_fileFormat = c.format;
        dialog.m_outputType = c.type;
        EXPECT_EQ(dialog.controlStates(), c.states);
    }
}

TEST(ExportNumbers, OutsideTheirRangeGetTheRangeMessage) {
    const struct {
        const char* text;
        bool taken;
    } cases[] = {{"12", true}, {" 7 ", true},  {"1", true},   {"2000000", true}, {"0", false},
                 {"", false},  {"abc", false}, {"1x", false}, {"2000001", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RecordingUi ui;
        std::int32_t number = -5;
        EXPECT_EQ(ToExcelSetupDlg::TakeNumber(c.text, 1, 2000000, number, ui), c.taken);
        if (c.taken) {
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_EQ(number, std::atoi(c.text));
        } else {
            EXPECT_EQ(ui.messages,
                      std::vector<std::string>{"Please enter an integer between 1 and 2000000."});
            EXPECT_EQ(number, -5);
        }
    }
}

class ExportOk : public ::testing::Test {
protected:
    void SetUp() override {
        m_dialog.SetPageInfo(5, m_dir.path() + "/report.xls");
        m_dialog.OnInitDialog(m_settings);
    }

    TempDir m_dir;
    MemorySettingsStore m_settings;
    RecordingUi m_ui;
    ToExcelSetupDlg m_dialog;
};

TEST_F(ExportOk, RefusalsKeepTheDialogOpenOnTheirField) {
    struct Case {
        const char* name;
        std::int32_t from, to, type;
        std::string path, mailTo, message;
        ExportControl focus;
        std::size_t selected;
    };
    const std::string missing = m_dir.path() + "/none/sub";
    const std::string longName = m_dir.path() + "/" + std::string(251, 'n') + ".xls";
    const Case cases[] = {
        // Pages beyond the report's 5 are refused here, not by the conversion after the dialog.
        {"page 0", 0, 5, kOutputFile, "", "", "Please input page number between 1 and 5 .",
         ExportControl::FromPage, 1},
        {"page beyond the report", 1, 6, kOutputBoth, "", "a@b",
         "Please input page number between 1 and 5 .", ExportControl::ToPage, 1},
        {"page order", 5, 3, kOutputFile, "", "",
         "The start page code should lower than end page code", ExportControl::FromPage, 0},
        // A folder that takes no files is found before any page is converted.
        {"folder without files", 1, 5, kOutputFile, "/proc/x.xls", "",
         "The file /proc/x.xlsx cannot be written: files cannot be made in the folder /proc (No "
         "such file or directory).",
         ExportControl::OutputPath, 11},
        // 255 bytes as typed, 256 once the workbook's "x" is added.
        {"name too long", 1, 5, kOutputFile, longName, "",
         "The file " + longName +
             "x cannot be written: the name takes 256 bytes, more than the 255 the folder " +
             m_dir.path() + " takes (File name too long).",
         ExportControl::OutputPath, longName.size()},
        {"missing folder", 1, 5, kOutputBoth, missing + "/r.xls", "a@b",
         "The directory " + missing + "/ doesn't exists!", ExportControl::OutputPath,
         missing.size()},
        {"no recipients", 1, 5, kOutputEmail, "", "",
         "You should input the recipients's email address", ExportControl::MailTo, 0},
        {"'@' first", 1, 5, kOutputEmail, "", "@x", "Invalid email address", ExportControl::MailTo,
         2},
        {"no '@'", 1, 5, kOutputEmail, "", "someone", "Invalid email address",
         ExportControl::MailTo, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_ui.messages.clear();
        m_dialog.m_fromPage = c.from;
        m_dialog.m_toPage = c.to;
        m_dialog.m_outputType = c.type;
        m_dialog.m_mailTo = c.mailTo;
        if (!c.path.empty()) {
            m_dialog.m_outputPath = c.path;
        }
        const ExportOkResult result = m_dialog.OnOK(m_ui, m_settings);
        EXPECT_FALSE(result.accepted);
        EXPECT_EQ(result.focus, c.focus);
        EXPECT_EQ(result.selectLength, c.selected);
        EXPECT_EQ(m_ui.messages, std::vector<std::string>{c.message});
    }
    // Nothing was made on the way.
    EXPECT_EQ(m_dialog.m_outputPath, missing + "/r.xls");
}

TEST_F(ExportOk, AnExistingFileIsOverwrittenOnlyWhenConfirmed) {
    const std::string existing = m_dir.write("old.xls", "old");
    struct Case {
        MessageAnswer answer;
        bool accepted;
    };
    m_dialog.m_fileFormat = ExportFileFormat::Delimited;
    for (const Case c : {Case{MessageAnswer::No, false}, Case{MessageAnswer::Cancel, false},
                         Case{MessageAnswer::Yes, true}}) {
        m_ui.messages.clear();
        m_ui.answer = c.answer;
        m_dialog.m_outputPath = existing;
        EXPECT_EQ(m_dialog.OnOK(m_ui, m_settings).accepted, c.accepted);
        EXPECT_EQ(m_ui.messages,
                  std::vector<std::string>{existing + "\nThe file exists! Overwrite ?"});
    }
    // The file dialog asked already.
    m_ui.messages.clear();
    m_ui.answer = MessageAnswer::No;
    m_dialog.FileChosen(existing);
    EXPECT_TRUE(m_dialog.OnOK(m_ui, m_settings).accepted);
    // Also when the path was edited into another spelling of the same file.
    m_dialog.m_outputPath = m_dir.path() + "/./old.xls";
    EXPECT_TRUE(m_dialog.OnOK(m_ui, m_settings).accepted);
    EXPECT_TRUE(m_ui.messages.empty());
}

// The question is about the file the export really writes: a workbook's ".xls" name gains an
// "x", which the file dialog did not ask about either.
TEST_F(ExportOk, TheQuestionNamesTheFileReallyWritten) {
    const std::string xls = m_dir.path() + "/r.xls";
    const std::string xlsx = m_dir.path() + "/r.xlsx";
    struct Case {
        const char* name;
        std::int32_t task;
        ExportFileFormat format;
        bool workbookApplication;
        std::vector<std::string> existing;
        bool chosen;
        std::string askedAbout;
    };
    const Case cases[] = {
        {"auto select, workbook there",
         kTaskExcel,
         ExportFileFormat::AutoSelect,
         true,
         {xlsx},
         false,
         xlsx},
        {"auto select, only the .xls there",
         kTaskExcel,
         ExportFileFormat::AutoSelect,
         true,
         {xls},
         false,
         ""},
        {"native excel", kTaskExcel, ExportFileFormat::NativeExcel, true, {xls, xlsx}, false, xlsx},
        {"chosen .xls, workbook there",
         kTaskExcel,
         ExportFileFormat::AutoSelect,
         true,
         {xlsx},
         true,
         xlsx},
        {"auto select without a workbook application",
         kTaskExcel,
         ExportFileFormat::AutoSelect,
         false,
         {xls, xlsx},
         false,
         xls},
        {"delimited", kTaskExcel, ExportFileFormat::Delimited, true, {xls, xlsx}, false, xls},
        {"excel compatible",
         kTaskExcel,
         ExportFileFormat::ExcelCompatible,
         true,
         {xls, xlsx},
         false,
         xls},
        {"html pages", kTaskHtml, ExportFileFormat::AutoSelect, true, {xls, xlsx}, false, xls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(xls.c_str());
        ::unlink(xlsx.c_str());
        for (const std::string& path : c.existing) {
            m_dir.write(path.substr(m_dir.path().size() + 1), "old");
        }
        ToExcelSetupDlg dialog;
        dialog.SetPageInfo(5, xls);
        dialog.OnInitDialog(m_settings);
        dialog.m_task = c.task;
        dialog.m_fileFormat = c.format;
        if (!c.workbookApplication) {
            dialog.m_excel = nullptr;
        }
        if (c.chosen) {
            dialog.FileChosen(xls);
        }
        m_ui.messages.clear();
        m_ui.answer = MessageAnswer::No;
        const bool accepted = dialog.OnOK(m_ui, m_settings).accepted;
        EXPECT_EQ(accepted, c.askedAbout.empty());
        EXPECT_EQ(m_ui.messages,
                  c.askedAbout.empty()
                      ? std::vector<std::string>{}
                      : std::vector<std::string>{c.askedAbout + "\nThe file exists! Overwrite ?"});
    }
}

TEST_F(ExportOk, FileOnlyDropsTheRecipients) {
    m_dialog.m_mailTo = "a@b";
    EXPECT_TRUE(m_dialog.OnOK(m_ui, m_settings).accepted);
    EXPECT_EQ(m_dialog.m_mailTo, "");
    EXPECT_EQ(m_dialog.m_outputPath, m_dir.path() + "/report.xls");
    EXPECT_FALSE(readStringSetting(m_settings, kStyleValue).has_value());
}

// The file goes into a new private folder under the name the export gives it, so that the
// attachment carries that name; nothing is made before every check passed.
TEST_F(ExportOk, MailOnlyWritesIntoANewPrivateFolderUnderTheExportsName) {
    const char* saved = std::getenv("TMPDIR");
    const std::string savedTmp = saved != nullptr ? saved : "";
    setenv("TMPDIR", m_dir.path().c_str(), 1);
    const std::string folder = m_dir.path() + "/paginor-" + std::to_string(geteuid());
    std::set<std::string> made;
    for (std::int32_t task : {kTaskExcel, kTaskHtml}) {
        const std::string name = task == kTaskExcel ? "report$2-4.xls" : "report$2-4.htm";
        m_dialog.m_task = task;
        m_dialog.m_outputPath = m_dir.path() + "/" + name;
        m_dialog.m_outputType = kOutputEmail;
        m_dialog.m_fromPage = 2;
        m_dialog.m_toPage = 4;
        m_dialog.m_mailTo = "";
        EXPECT_FALSE(m_dialog.OnOK(m_ui, m_settings).accepted);
        EXPECT_TRUE(m_dialog.m_temporaryFolder.empty());
        m_dialog.m_mailTo = "a@b";
        ASSERT_TRUE(m_dialog.OnOK(m_ui, m_settings).accepted);
        const std::string& temporary = m_dialog.m_temporaryFolder;
        EXPECT_EQ(temporary.rfind(folder + "/", 0), 0u) << temporary;
        EXPECT_EQ(m_dialog.m_outputPath, temporary + "/" + name);
        struct stat status {};
        ASSERT_EQ(::stat(temporary.c_str(), &status), 0);
        EXPECT_TRUE(S_ISDIR(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0700u);
        EXPECT_NE(::stat(m_dialog.m_outputPath.c_str(), &status), 0);
        made.insert(temporary);
        EXPECT_EQ(m_dialog.m_mailTo, "a@b");
    }
    EXPECT_EQ(made.size(), 2u);
    if (saved != nullptr) {
        setenv("TMPDIR", savedTmp.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

}  // namespace
}  // namespace paginor
