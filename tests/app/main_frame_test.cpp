#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/foliant_doc.h"
#include "app/foliant_view.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/app/app_fakes.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"

namespace paginor {
namespace {

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override { build(); }

    void build() {
        m_frame.reset();
        m_view = std::make_unique<CFoliantView>(m_doc, m_browser, m_ui, m_settings);
        m_frame = std::make_unique<CMainFrame>(m_doc, *m_view, m_widgets, m_ui, m_settings);
    }

    // Loads a report of pages and shows page 1, as start-up does.
    void loadReport(int pages, const std::string& prologue = fixtures::htmlPrologue()) {
        m_path = m_dir.write("report " + std::to_string(++m_reports) + ".htm",
                             fixtures::markedHtmlReport(pages, prologue));
        ASSERT_EQ(m_frame->RunCommand("open \"" + m_path + "\""), 1) << lastMessage();
        m_frame->FillPageList();
        ASSERT_EQ(m_frame->RunCommand("nextpage"), 1) << lastMessage();
        m_ui.messages.clear();
    }

    std::string lastMessage() const {
        return m_ui.messages.empty() ? std::string() : m_ui.messages.back();
    }

    // The pages shown now, as "2-3".
    std::string shownPages() const {
        int first = 0;
        int last = 0;
        for (int page = 1; page <= 99; ++page) {
            if (m_browser.shown.find("<td>Page " + std::to_string(page) + "</td>") !=
                std::string::npos) {
                if (first == 0) {
                    first = page;
                }
                last = page;
            }
        }
        return std::to_string(first) + "-" + std::to_string(last);
    }

    TempDir m_dir;
    std::string m_path;
    int m_reports = 0;
    CFoliantDoc m_doc;
    RecordingUi m_ui;
    FakeBrowser m_browser;
    FakeWidgets m_widgets;
    MemorySettingsStore m_settings;
    std::unique_ptr<CFoliantView> m_view;
    std::unique_ptr<CMainFrame> m_frame;
};

struct CommandCase {
    const char* name;
    std::string command;
    int result;
    std::string message;  // the one message box expected, empty for none
    std::string shown;    // pages shown afterwards
    std::int32_t first;
    std::int32_t last;
    friend void PrintTo(const CommandCase& c, std::ostream* out) { *out << c.name; }
};

class Commands : public MainFrameTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(Commands, OnAFivePageReport) {
    loadReport(5);
    const CommandCase& c = GetParam();
    EXPECT_EQ(m_frame->RunCommand(c.command), c.result);
    if (c.message.empty()) {
        EXPECT_TRUE(m_ui.messages.empty()) << lastMessage();
    } else {
        ASSERT_EQ(m_ui.messages.size(), 1u);
        EXPECT_EQ(m_ui.messages[0], c.message);
    }
    EXPECT_EQ(shownPages(), c.shown);
    EXPECT_EQ(m_frame->firstPage(), c.first);
    EXPECT_EQ(m_frame->lastPage(), c.last);
}

const std::string kNotUnderstood = "Sorry ,i can not understand what you mean";

INSTANTIATE_TEST_SUITE_P(
    Grammar, Commands,
    ::testing::Values(
        CommandCase{"ShowOne", "show 5", 1, "", "5-5", 5, 5},
        CommandCase{"ShowRangeInCapitals", "  SHOW 2 3", 1, "", "2-3", 2, 3},
        CommandCase{"ShowReversedRangeIsRefusedByTheReport", "show 5 3", 0,
                    "Page number should between 1 and 5 , and the first one should less than "
                    "the second one",
                    "1-1", 1, 1},
        CommandCase{"ShowBeyondTheEnd", "show 9", 0,
                    "Page number should between 1 and 5 , and the first one should less than "
                    "the second one",
                    "1-1", 1, 1},
        CommandCase{"KeywordRunningIntoDigits", "show5", 0, kNotUnderstood, "1-1", 1, 1},
        CommandCase{"ShowWithoutNumber", "show", 0, "please input pagecode", "1-1", 1, 1},
        CommandCase{"ShowLetters", "show abc", 0, "please input integer", "1-1", 1, 1},
        CommandCase{"SecondNumberLetters", "show 2 x3", 0, "please input integer", "1-1", 2, 2},
        CommandCase{"SixteenDigits", "show 1234567890123456", 0, "please input integer", "1-1", 1,
                    1},
        CommandCase{"AboveThirtyTwoBits", "show 4294967297", 0, "please input integer", "1-1", 1,
                    1},
        CommandCase{"OnlyUpToTheCarriageReturn", "show 2\rshow 3", 1, "", "2-2", 2, 2},
        CommandCase{"TabIsNoBlank", "show\t2", 0, kNotUnderstood, "1-1", 1, 1},
        CommandCase{"CheckWithoutNumbers", "check", 0, "", "1-1", 1, 1},
        CommandCase{"CheckRange", "check 1 5", 1, "", "1-1", 1, 5},
        CommandCase{"PrevpageWrapsToTheLast", "prevpage", 1, "", "5-5", 5, 5},
        CommandCase{"PrintKeywordEndsAtTheFirstNonLetter", "print12 14", 0,
                    "The print function doesn't work well now!", "1-1", 12, 14},
        CommandCase{"PrintWithoutNumber", "print", 0, "please input pagecode", "1-1", 1, 1},
        CommandCase{"OpenWithoutPath", "open", 0, "", "1-1", 1, 1},
        CommandCase{"OpenWithoutClosingQuote", "open \"/tmp/x y.htm", 0,
                    "Expecting \" at the end of cmmand line ", "1-1", 1, 1},
        CommandCase{"Unknown", "frobnicate 1", 0, kNotUnderstood, "1-1", 1, 1},
        CommandCase{"Empty", "", 0, kNotUnderstood, "1-1", 1, 1}),
    [](const auto& info) { return info.param.name; });

TEST_F(MainFrameTest, NextpageWrapsAfterTheLastPage) {
    loadReport(3);
    EXPECT_EQ(m_frame->RunCommand("show 3"), 1);
    EXPECT_EQ(m_frame->RunCommand("nextpage"), 1);
    EXPECT_EQ(shownPages(), "1-1");
    EXPECT_EQ(m_widgets.firstField, "1");
    EXPECT_EQ(m_widgets.listSelection, 0);
}

TEST_F(MainFrameTest, PagingNeedsAReport) {
    EXPECT_EQ(m_frame->RunCommand("nextpage"), 0);
    EXPECT_EQ(m_frame->RunCommand("prevpage"), 0);
    EXPECT_TRUE(m_ui.messages.empty());
    EXPECT_EQ(m_browser.loads, 0);
}

TEST_F(MainFrameTest, CommandsAreIgnoredWhileAPrintTaskRuns) {
    loadReport(3);
    m_frame->setTaskRunning(true);
    EXPECT_EQ(m_frame->RunCommand("show 2"), 0);
    EXPECT_EQ(m_frame->RunCommand("nonsense"), 0);
    EXPECT_TRUE(m_ui.messages.empty());
    EXPECT_EQ(shownPages(), "1-1");
}

TEST_F(MainFrameTest, AFilledListMarksThePageShown) {
    m_path = m_dir.write("r.htm", fixtures::markedHtmlReport(4));
    ASSERT_EQ(m_frame->RunCommand("open " + m_path), 1);
    ASSERT_EQ(m_frame->RunCommand("nextpage"), 1);
    m_frame->FillPageList();
    EXPECT_EQ(m_widgets.listCount, 4);
    EXPECT_EQ(m_widgets.listSelection, 0);
}

TEST_F(MainFrameTest, ShowUpdatesFieldsAndList) {
    loadReport(5);
    EXPECT_EQ(m_frame->RunCommand("show 3 4"), 1);
    EXPECT_EQ(m_widgets.firstField, "3");
    EXPECT_EQ(m_widgets.lastField, "4");
    EXPECT_EQ(m_widgets.listSelection, 2);
    EXPECT_EQ(m_widgets.listCount, 5);
}

TEST_F(MainFrameTest, OverlongCommandIsCut) {
    loadReport(3);
    std::string command = "show 2" + std::string(3000, ' ') + "3";
    EXPECT_EQ(m_frame->RunCommand(command), 1);
    EXPECT_EQ(shownPages(), "2-2");
}

TEST_F(MainFrameTest, AboutShowsTheInformationPage) {
    EXPECT_EQ(m_frame->RunCommand("about"), 1);
    EXPECT_NE(m_browser.shown.find("<p>You have not open any file"), std::string::npos);
    loadReport(4);
    EXPECT_EQ(m_frame->RunCommand("about"), 1);
    EXPECT_NE(m_browser.shown.find("<p>Report Format : HTML</p>"), std::string::npos);
    EXPECT_NE(m_browser.shown.find("<font color=\"#FF0000\"> 4 </font>pages"), std::string::npos);
}

TEST_F(MainFrameTest, OpenTakesAQuotedPathWithBlanks) {
    loadReport(2);
    std::string other = m_dir.write("with blanks in name.htm", fixtures::markedHtmlReport(7));
    EXPECT_EQ(m_frame->RunCommand("open \"" + other + "\""), 1);
    EXPECT_EQ(m_doc.report().GetPageCount(), 7);
}

TEST_F(MainFrameTest, FailedOpenShowsTheReportsTextAndClearsTheView) {
    loadReport(2);
    std::string bad = m_dir.write("bad.htm", "<html><body>no report</body></html>");
    EXPECT_EQ(m_frame->RunCommand("open " + bad), 0);
    ASSERT_EQ(m_ui.messages.size(), 1u);
    EXPECT_EQ(m_ui.messages[0], "The file is not a web page !(Error Code:13)");
    EXPECT_EQ(m_ui.icons[0], MessageIcon::Stop);
    EXPECT_EQ(m_widgets.listCount, 0);
    EXPECT_EQ(m_widgets.firstField, "");
    ASSERT_FALSE(m_browser.navigated.empty());
    EXPECT_EQ(m_browser.navigated.back(), "about:blank");
}

TEST_F(MainFrameTest, Navigate2) {
    EXPECT_EQ(m_frame->RunCommand("navigate2 \"file:///tmp/a b.htm\""), 1);
    EXPECT_EQ(m_frame->RunCommand("navigate2 http://example.com/x"), 1);
    EXPECT_EQ(m_frame->RunCommand("navigate2"), 0);
    EXPECT_EQ(m_browser.navigated,
              (std::vector<std::string>{"file:///tmp/a b.htm", "http://example.com/x"}));
}

TEST_F(MainFrameTest, PageFieldsShowTheirPages) {
    loadReport(5);
    m_widgets.firstField = "3";
    m_frame->OnFromPageEnter();
    EXPECT_EQ(shownPages(), "3-3");
    m_widgets.firstField = "9";
    m_frame->OnFromPageEnter();
    EXPECT_EQ(shownPages(), "3-3");
    EXPECT_EQ(m_widgets.selectedFields,
              (std::vector<PageField>{PageField::First, PageField::First}));

    m_widgets.firstField = "4";
    m_widgets.lastField = "2";
    m_frame->OnToPageEnter();
    EXPECT_EQ(shownPages(), "2-4");
    EXPECT_EQ(m_widgets.selectedFields.back(), PageField::Last);
}

TEST_F(MainFrameTest, PageRangeFieldsKeepDefaultsForEmptyFields) {
    m_widgets.firstField = "";
    m_widgets.lastField = "7";
    std::int32_t first = 1;
    std::int32_t last = 1;
    EXPECT_TRUE(m_frame->GetPageRangeFields(first, last));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 7);
}

TEST_F(MainFrameTest, FileOpen) {
    m_widgets.fileToOpen = m_dir.write("sales.htm", fixtures::markedHtmlReport(4));
    int forgotten = 0;
    m_frame->setForgetReportAddress([&forgotten] { ++forgotten; });
    m_frame->OnFileOpen();
    EXPECT_EQ(forgotten, 1);
    EXPECT_TRUE(m_ui.messages.empty()) << lastMessage();
    EXPECT_EQ(m_widgets.titles.front(), "Initializing Report " + m_widgets.fileToOpen);
    EXPECT_EQ(m_widgets.title, "sales.htm -- Paginor");
    EXPECT_EQ(shownPages(), "1-1");
    EXPECT_EQ(m_widgets.listCount, 4);
    EXPECT_EQ(m_widgets.listSelection, 0);
    EXPECT_EQ(m_widgets.firstField, "1");
    EXPECT_EQ(m_ui.waitCursorCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(m_widgets.progress.back(), 0);
    EXPECT_FALSE(m_frame->openedFromOutside());
}

TEST_F(MainFrameTest, FileOpenOfABadFile) {
    m_widgets.fileToOpen = m_dir.write("bad.htm", "");
    m_frame->OnFileOpen();
    ASSERT_EQ(m_ui.messages.size(), 1u);
    EXPECT_EQ(m_ui.messages[0], "The file is not a web page !(Error Code:13)");
    EXPECT_EQ(m_widgets.title, "This program is Not Initialed");
    EXPECT_EQ(m_widgets.listCount, 0);
}

TEST_F(MainFrameTest, FileOpenCancelled) {
    int forgotten = 0;
    m_frame->setForgetReportAddress([&forgotten] { ++forgotten; });
    m_frame->OnFileOpen();
    EXPECT_EQ(forgotten, 0);
    EXPECT_TRUE(m_widgets.titles.empty());
    EXPECT_TRUE(m_frame->openedFromOutside());
}

TEST_F(MainFrameTest, LeftBarWidthFromTheSettings) {
    EXPECT_EQ(m_frame->OnCreateClient(), 60);
    std::string error;
    for (auto [stored, used] : {std::pair{150u, 60}, std::pair{80u, 80}, std::pair{101u, 60},
                                std::pair{0xFFFFFFFFu, 60}, std::pair{100u, 100}}) {
        ASSERT_TRUE(m_settings.setDword(SettingsHive::CurrentUser, kPaginorKey.path, "LeftBarWidth",
                                        stored, error));
        EXPECT_EQ(m_frame->OnCreateClient(), used) << stored;
    }
}

TEST_F(MainFrameTest, LeftBarWidthIsStoredWhenChanged) {
    m_frame->OnCreateClient();
    m_widgets.paneWidth = 120;
    m_frame->OnDestroy();
    EXPECT_FALSE(keyExists(m_settings, kPaginorKey));

    bool created = false;
    std::string error;
    ASSERT_TRUE(m_settings.createKey(SettingsHive::CurrentUser, kPaginorKey.path, created, error));
    m_frame->OnDestroy();
    EXPECT_EQ(readDwordSetting(m_settings, kLeftBarWidthValue), 120u);
}

TEST_F(MainFrameTest, ClosingIsRefusedWhileUpdating) {
    m_frame->SetUpdating(true);
    EXPECT_FALSE(m_frame->OnClose());
    EXPECT_EQ(lastMessage(), "Hey, I am updating myself, Please wait ... ");
    m_frame->SetUpdating(false);
    EXPECT_TRUE(m_frame->OnClose());
}

TEST_F(MainFrameTest, ScrollPositionIsKeptFromPageToPage) {
    loadReport(3);
    m_browser.scrollTop = 340;
    m_browser.scrollLeft = 12;
    const int sets = m_browser.scrollSets;
    m_frame->RunCommand("nextpage");
    EXPECT_EQ(m_browser.scrollSets, sets + 1);
    EXPECT_EQ(m_browser.scrollTop, 340);
    EXPECT_EQ(m_browser.scrollLeft, 12);
}

TEST_F(MainFrameTest, ReportCodePageReachesTheBrowser) {
    loadReport(2, fixtures::htmlPrologue("windows-1256"));
    EXPECT_EQ(m_browser.shownCodePage, 1256);
}

TEST_F(MainFrameTest, DirectionIsWrittenOnlyWhenItMatters) {
    loadReport(2);
    EXPECT_TRUE(m_browser.directions.empty());
    loadReport(2, "<html dir=\"rtl\"><body>");
    EXPECT_EQ(m_browser.directions, (std::vector<std::string>{"rtl"}));
    m_frame->RunCommand("nextpage");
    EXPECT_EQ(m_browser.directions, (std::vector<std::string>{"rtl", "rtl"}));
    loadReport(2);
    m_frame->RunCommand("nextpage");
    EXPECT_EQ(m_browser.directions, (std::vector<std::string>{"rtl", "rtl", "ltr"}));
}

TEST_F(MainFrameTest, ArmedPrintRefusesNewPages) {
    loadReport(3);
    std::string page = "<html><body>print copy</body></html>";
    ASSERT_TRUE(m_view->WriteHtml(page, true, false));
    EXPECT_TRUE(m_view->printPending());
    m_frame->RunCommand("show 2");
    EXPECT_EQ(lastMessage(), "previous print task is not finished ,please try again later");
    EXPECT_NE(m_browser.shown.find("print copy"), std::string::npos);
}

TEST_F(MainFrameTest, MyPageSetupStopsAtTheFirstMissingValue) {
    std::string error;
    const char* key = kPageSetupKey.path;
    ASSERT_TRUE(m_settings.setString(SettingsHive::CurrentUser, key, "header", "Sales &p", error));
    ASSERT_TRUE(m_settings.setString(SettingsHive::CurrentUser, key, "footer", "&d", error));
    ASSERT_TRUE(
        m_settings.setString(SettingsHive::CurrentUser, key, "margin_bottom", "0.5", error));
    ASSERT_TRUE(m_settings.setString(SettingsHive::CurrentUser, key, "margin_left", "0.7", error));
    ASSERT_TRUE(m_settings.setString(SettingsHive::CurrentUser, key, "margin_right", "0.6", error));
    build();
    EXPECT_EQ(lastMessage(), "Failed to get My Page Setup variable");
    EXPECT_EQ(m_view->header(), "Sales &p");
    EXPECT_EQ(m_view->marginRight(), "0.6");
    EXPECT_EQ(m_view->marginTop(), "0");

    m_ui.messages.clear();
    ASSERT_TRUE(m_settings.setString(SettingsHive::CurrentUser, key, "margin_top", "1", error));
    EXPECT_TRUE(m_view->LoadMyPageSetup());
    EXPECT_TRUE(m_ui.messages.empty());
    EXPECT_EQ(m_view->marginTop(), "1");
}

}  // namespace
}  // namespace paginor
