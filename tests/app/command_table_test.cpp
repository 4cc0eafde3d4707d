#include "app/command_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "app/command_helpers.h"
#include "app/se_exception.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"

namespace paginor {
namespace {

// A report of 10 pages showing 1..1, and the other conditions off.
CommandContext shown(std::int32_t first, std::int32_t last) {
    CommandContext context;
    context.loaded = true;
    context.firstPage = first;
    context.lastPage = last;
    context.pageCount = 10;
    return context;
}

TEST(CommandTable, EveryCommandFollowsItsRule) {
    const CommandState on{true, false, false};
    const CommandState off{false, false, false};
    CommandContext unloaded;
    CommandContext updating = shown(1, 1);
    updating.updating = true;
    CommandContext printDialog = shown(4, 6);
    printDialog.printDialogOpen = true;
    CommandContext small = shown(1, 1);
    small.textSize = 1;
    CommandContext buffering = shown(1, 1);
    buffering.bufferToFile = true;
    struct Case {
        int id;
        CommandContext context;
        std::optional<CommandState> state;
    };
    const Case cases[] = {
        {cmd::kSaveAs, unloaded, off},
        {cmd::kSaveAs, shown(1, 1), on},
        {cmd::kPrint, unloaded, off},
        {cmd::kPrint, shown(1, 1), on},
        {cmd::kPrintButton, unloaded, off},
        {cmd::kPrintButton, printDialog, on},
        {cmd::kOutputToExcel, unloaded, off},
        {cmd::kOutputToExcel, shown(1, 1), on},
        {cmd::kOutputToExcel, printDialog, off},
        {cmd::kExit, unloaded, on},
        {cmd::kExit, updating, off},
        {cmd::kCheckForNewVersion, shown(1, 1), on},
        {cmd::kCheckForNewVersion, updating, off},
        {cmd::kFirstPage, unloaded, off},
        {cmd::kFirstPage, shown(1, 3), off},
        {cmd::kFirstPage, shown(2, 3), on},
        {cmd::kPrevPage, shown(1, 1), off},
        {cmd::kPrevPage, shown(2, 2), on},
        {cmd::kPrevPage, unloaded, off},
        {cmd::kNextPage, shown(9, 9), on},
        {cmd::kNextPage, shown(9, 10), off},
        {cmd::kNextPage, unloaded, off},
        {cmd::kLastPage, shown(1, 9), on},
        {cmd::kLastPage, shown(3, 10), off},
        {cmd::kLastPage, unloaded, off},
        {cmd::kTextLargest, shown(1, 1), CommandState{true, true, false}},
        {cmd::kTextMedium, shown(1, 1), CommandState{true, true, true}},
        {cmd::kTextSmall, small, CommandState{true, true, true}},
        {cmd::kTextSmallest, unloaded, CommandState{true, true, false}},
        {cmd::kBufferToFile, shown(1, 1), CommandState{true, true, false}},
        {cmd::kBufferToFile, buffering, CommandState{true, true, true}},
        {cmd::kViewToolbar, unloaded, std::nullopt},
        {cmd::kViewStatusBar, unloaded, std::nullopt},
        {cmd::kViewNavigationBar, unloaded, std::nullopt},
        {4242, unloaded, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetCommandState(c.id, c.context), c.state) << c.id;
    }
    // Every other command is always there, whatever the state.
    const std::set<int> ruled = {cmd::kSaveAs,        cmd::kPrint,       cmd::kPrintButton,
                                 cmd::kOutputToExcel, cmd::kExit,        cmd::kCheckForNewVersion,
                                 cmd::kFirstPage,     cmd::kPrevPage,    cmd::kNextPage,
                                 cmd::kLastPage,      cmd::kBufferToFile};
    for (const CommandEntry& entry : CommandTable()) {
        if (ruled.count(entry.id) != 0 || TextSizeOfCommand(entry.id) >= 0 ||
            !GetCommandState(entry.id, unloaded)) {
            continue;
        }
        for (const CommandContext& context : {unloaded, updating, printDialog}) {
            EXPECT_EQ(GetCommandState(entry.id, context), on) << entry.text;
        }
    }
}

TEST(CommandTable, TextSizesRunFromLargestToSmallest) {
    EXPECT_EQ(TextSizeOfCommand(cmd::kTextLargest), 4);
    EXPECT_EQ(TextSizeOfCommand(cmd::kTextLarge), 3);
    EXPECT_EQ(TextSizeOfCommand(cmd::kTextMedium), 2);
    EXPECT_EQ(TextSizeOfCommand(cmd::kTextSmall), 1);
    EXPECT_EQ(TextSizeOfCommand(cmd::kTextSmallest), 0);
    EXPECT_EQ(TextSizeOfCommand(cmd::kAbout), -1);
}

TEST(PdfOutput, BuildsTheServletAddressOrRefuses) {
    std::string many = "http://h/r?";
    for (int i = 0; i < 64; ++i) {
        many += (i == 0 ? "p" : "&p") + std::to_string(i);
    }
    struct Case {
        std::string url;
        bool ok;
        std::string text;
    };
    const Case cases[] = {
        {"http://host/reports/rwservlet?a=1&paginorformat=PDF&callpaginor=yes", true,
         "http://host/reports/rwservlet?a=1&format=PDF"},
        {"https://host:8443/x/y?PAGINORdesformat=PDF&CallPaginor=1&paginorcallpaginor=2", true,
         "https://host:8443/reports/rwservlet?desformat=PDF&callpaginor=2"},
        {many, true, "http://h/reports/rwservlet?" + many.substr(11)},
        {many + "&p64", false,
         "Sorry, exceed the ability of Paginor, please contact support@example.com  [i>64]"},
        {"", false, "Sorry, can not find the original URL"},
        {"http://host/path", false, "Sorry, can not find Interrogation Mark in the original URL"},
        {"http://host/path?", false, "Sorry, failed to parse the URL"},
        {"http://host?a=/b", false, "Sorry, failed to parse the URL"},
        {"ftp://host/r?a=1", false, "Sorry, failed to parse the URL"},
        {"http://h/r?a=" + std::string(1030, 'x'), false, "Sorry, failed to parse the URL"},
    };
    for (const Case& c : cases) {
        const PdfOutputUrl result = GetPdfOutputUrl(c.url, "support@example.com");
        EXPECT_EQ(result.ok, c.ok) << c.url;
        EXPECT_EQ(result.text, c.text) << c.url;
    }
}

TEST(Keywords, SplitKeepsPlacesAndJoinDropsEmptyEdits) {
    EXPECT_EQ(SplitKeywords("x\t\ty"), (KeywordEdits{"x", "", "y", "", ""}));
    EXPECT_EQ(SplitKeywords(""), (KeywordEdits{}));
    EXPECT_EQ(SplitKeywords("a\tb\tc\td\te\tf"), (KeywordEdits{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(JoinKeywords({"x", "", "y", "", ""}), "x\ty");
    EXPECT_EQ(JoinKeywords({"", "", "", "", "z"}), "z");
}

TEST(Keywords, SaveRefusesWhatCouldNotBeReadBackAndWritesTheBoxOnlyWhenChanged) {
    MemorySettingsStore settings;
    std::string message;
    KeywordEdits edits{"/reports/", "", "report="};
    ASSERT_TRUE(SaveKeywords(settings, kKeywords2Value, edits, false, false, message));
    EXPECT_EQ(readStringSetting(settings, kKeywords2Value), "/reports/\treport=");
    EXPECT_FALSE(readDwordSetting(settings, kPrintDirectlyValue).has_value());
    ASSERT_TRUE(SaveKeywords(settings, kKeywords2Value, edits, true, false, message));
    EXPECT_EQ(readDwordSetting(settings, kPrintDirectlyValue), 1u);
    bool printDirectly = false;
    EXPECT_EQ(LoadKeywords(settings, kKeywords2Value, printDirectly),
              (KeywordEdits{"/reports/", "report="}));
    EXPECT_TRUE(printDirectly);

    const KeywordEdits longest{std::string(100, 'a'), std::string(98, 'b')};  // 199 with the TAB
    EXPECT_TRUE(SaveKeywords(settings, kKeywordsValue, longest, false, false, message));
    const KeywordEdits tooLong{std::string(100, 'a'), std::string(99, 'b')};
    EXPECT_FALSE(SaveKeywords(settings, kKeywordsValue, tooLong, false, false, message));
    EXPECT_EQ(message, "The keywords are too long: together they may hold at most 199 characters.");
    EXPECT_EQ(readStringSetting(settings, kKeywordsValue), JoinKeywords(longest));
}

TEST(TestUrl, ChecksThePrefixAndTheKeywords) {
    struct Case {
        const char* url;
        const char* keywords;
        const char* message;
    };
    const Case cases[] = {
        {"ftp://h/r", "", "The URL should start with prefix 'http://' or 'https://'"},
        {"HTTPS://h/reports/rwservlet?report=x", "/reports/rwservlet\t\treport=", ""},
        {"http://h/reports/rwservlet?desformat=html",
         "/reports/rwservlet\treport=", "Your URL should include keyword 'report=' "},
        {"http://h/Report=", "report=", "Your URL should include keyword 'report=' "},
        {"http://h/", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckTestUrl(c.url, c.keywords), c.message) << c.url;
    }
    EXPECT_EQ(TestUrlPage("http://h/r?a=1&b=\"<x>\""),
              "<html><body><p><font size=\"5\">Please click <a "
              "href=\"http://h/r?a=1&amp;b=&quot;&lt;x&gt;&quot;\"> here</a> to test whether "
              "paginor will launch automatically.</font></p> </body></html>");
}

TEST(SeException, MessagesFollowTheBufferRules) {
    const CSeException fault(0xC0000005u, 0x401000);
    std::string text;
    unsigned help = 7;
    EXPECT_TRUE(fault.FormatMessage(text, &help));
    EXPECT_EQ(help, 0u);
    EXPECT_EQ(text, "Exception ACCESS_VIOLATION (0xc0000005) at address 0x00401000.");
    EXPECT_STREQ(fault.what(), text.c_str());

    std::string buffer(text.size() + 1, 'x');
    EXPECT_TRUE(fault.GetErrorMessage(buffer.data(), buffer.size()));
    EXPECT_STREQ(buffer.c_str(), text.c_str());
    buffer.assign(text.size(), 'x');
    EXPECT_FALSE(fault.GetErrorMessage(buffer.data(), buffer.size()));
    EXPECT_EQ(buffer[0], '\0');
    char untouched = 'x';
    EXPECT_FALSE(fault.GetErrorMessage(&untouched, 0));
    EXPECT_EQ(untouched, 'x');

    const CSeException unknown(0xE06D7363u, 0);
    EXPECT_FALSE(unknown.FormatMessage(text));
    EXPECT_EQ(text, "Unknown Se exception.Code: -529697949");
}

}  // namespace
}  // namespace paginor
