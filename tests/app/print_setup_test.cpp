#include "app/print/print_setup.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app_fakes.h"
#include "print_fakes.h"

namespace paginor {
namespace {

TEST(PrintDirectives, UrlParameterMatchesWholeNames) {
    struct Case {
        const char* address;
        const char* name;
        bool found;
        const char* value;
    };
    const Case cases[] = {
        {"http://h/r?prn=Lab&x=1", "prn", true, "Lab"},
        {"http://h/r?x=1&prn=Lab", "prn", true, "Lab"},
        {"http://h/r?x=1&prn=", "prn", true, ""},
        {"http://h/r?xprn=Lab", "prn", false, ""},
        {"http://h/r?x=1", "prn", false, ""},
        {"http://h/prn=Lab", "prn", false, ""},
    };
    for (const Case& c : cases) {
        std::string value = "stale";
        EXPECT_EQ(UrlParameter(c.address, c.name, value), c.found) << c.address;
        EXPECT_EQ(value, c.value) << c.address;
    }
}

struct DirectiveCase {
    const char* name;
    PrintDirectiveInput input;
    bool result;
    const char* printer;
    const char* paper;
    std::int32_t orientation;
};

TEST(PrintDirectives, MissingValuesComeFromTheStore) {
    const DirectiveCase cases[] = {
        {"both named", {"Lab", "Letter", 1, 264, ""}, true, "Lab", "Letter", 1},
        {"paper: the layout's record gives the printer",
         {"", "letter", 2, 264, ""},
         true,
         "Lab",
         "letter",
         0},
        {"paper: else its last printer and orientation",
         {"", "A3", 2, 264, ""},
         true,
         "Office",
         "A3",
         1},
        {"paper unknown to the store", {"", "Legal", 2, 264, ""}, false, "", "", 0},
        {"paper unknown, an orientation given",
         {"", "Legal", 0, 264, ""},
         true,
         "Office",
         "Legal",
         0},
        {"printer: the layout's record gives the paper",
         {"LAB", "", 2, 264, ""},
         true,
         "LAB",
         "Letter",
         0},
        {"printer without a record", {"Lab", "", 2, 500, ""}, true, "Lab", "A4", 0},
        {"neither: the layout's record", {"", "", 2, 264, ""}, true, "Lab", "Letter", 0},
        {"neither: the current choice", {"", "", 2, 500, ""}, true, "Office", "A3", 1},
        {"a report's orientation wins", {"", "", 0, 500, ""}, true, "Office", "A3", 0},
        {"a printer named by the address",
         {"&prn", "", 2, 500, "http://h/r?prn=Lab&k=2"},
         true,
         "Lab",
         "A4",
         0},
    };
    for (const DirectiveCase& c : cases) {
        FakePageSetup store;
        store.records[264] = {"Letter", "Lab", 0};
        store.papers["A3"] = {"", "Office", 1};
        store.current = {"A3", "Office", 1};
        store.hasCurrent = true;
        FakeDriver driver;
        driver.printers.push_back("LAB");
        driver.papers.push_back("letter");
        driver.papers.push_back("Legal");
        RecordingUi ui;
        PrintDirectiveResult result;
        const bool ok = ApplyPrintDirectives(c.input, true, store, driver, ui, result);
        EXPECT_EQ(ok, c.result) << c.name;
        EXPECT_TRUE(ui.messages.empty()) << c.name;
        if (ok) {
            EXPECT_EQ(result.printer, c.printer) << c.name;
            EXPECT_EQ(result.paper, c.paper) << c.name;
            EXPECT_EQ(result.orientation, c.orientation) << c.name;
            EXPECT_EQ(driver.currentOrientation, c.orientation) << c.name;
        }
    }
}

TEST(PrintDirectives, AnEmptyStoreWithoutDirectivesRefuses) {
    FakePageSetup store;
    FakeDriver driver;
    RecordingUi ui;
    PrintDirectiveResult result;
    EXPECT_FALSE(ApplyPrintDirectives({}, true, store, driver, ui, result));
    EXPECT_EQ(driver.calls, 0);
}

TEST(PrintDirectives, AParameterMissingFromTheAddressAsks) {
    const PrintDirectiveInput input{"&prn", "", 2, 0, "http://h/r?x=1"};
    const std::string question =
        "Paginor detect printer name in HTML file is &prn, however, it can not get the paramter "
        "in the URL (http://h/r?x=1). \n\nContinue printing?";
    FakePageSetup store;
    store.current = {"A4", "Office", 0};
    store.hasCurrent = true;
    FakeDriver driver;
    RecordingUi ui;
    ui.answer = MessageAnswer::No;
    PrintDirectiveResult result;
    EXPECT_FALSE(ApplyPrintDirectives(input, true, store, driver, ui, result));
    EXPECT_EQ(ui.messages, Texts{question});

    ui.answer = MessageAnswer::Yes;
    EXPECT_TRUE(ApplyPrintDirectives(input, true, store, driver, ui, result));
    EXPECT_EQ(result.printer, "Office");
}

TEST(PrintDirectives, WhatTheDriverCannotSetIsSaid) {
    const std::string both =
        "Error:\nFail to setup up printer as \"Gone\", Current selected printer is \"Office\" "
        "\nFail to setup up paper size as \"B5\", Current selected paper size is \"A4\" \n";
    struct Case {
        bool ask;
        MessageAnswer answer;
        bool result;
        Texts messages;
    };
    const Case cases[] = {
        {true, MessageAnswer::No, false, {both + "Continue printing?"}},
        {true, MessageAnswer::Yes, true, {both + "Continue printing?"}},
        {false, MessageAnswer::No, true, {both}},
    };
    for (const Case& c : cases) {
        FakePageSetup store;
        FakeDriver driver;
        RecordingUi ui;
        ui.answer = c.answer;
        PrintDirectiveResult result;
        EXPECT_EQ(ApplyPrintDirectives({"Gone", "B5", 2, 0, ""}, c.ask, store, driver, ui, result),
                  c.result);
        EXPECT_EQ(ui.messages, c.messages);
        if (c.result) {
            // What was current stays.
            EXPECT_EQ(result.printer, "Office");
            EXPECT_EQ(result.paper, "A4");
        }
    }
}

TEST(PrintSetupDialog, PagesPerTaskFollowTheLayout) {
    struct Case {
        std::int32_t height;
        std::int32_t pages;
        std::int32_t perTask;
    };
    const Case cases[] = {{198, 10, 4}, {264, 10, 3}, {396, 10, 2}, {198, 3, 1},
                          {264, 3, 3},  {396, 1, 1},  {792, 10, 1}, {0, 10, 1}};
    for (const Case& c : cases) {
        PrintSetup setup;
        setup.SetInfo(c.pages, 1, c.pages, 1, 1, "Office", "A4", 0);
        setup.OnInitDialog(c.height);
        EXPECT_EQ(setup.pagesPerTask(), c.perTask) << c.height << " " << c.pages;
    }
    PrintSetup setup;
    setup.SetInfo(12, 1, 12, 3, 4, "office", "A4", 1);
    setup.OnInitDialog(0);
    EXPECT_EQ(setup.allPagesText(), "Print All Pages (12 Pages)");
    EXPECT_EQ(setup.orientationText(), "Landscape");
    EXPECT_EQ(setup.printerIndex({"Lab", "Office"}), 1);
    EXPECT_EQ(setup.printerIndex({"Lab"}), -1);
    EXPECT_FALSE(PrintSetup::CollateEnabled(1));
    EXPECT_TRUE(PrintSetup::CollateEnabled(2));
    for (const char* good : {"1", "12", "007"}) {
        EXPECT_TRUE(setup.PageTextValid(good)) << good;
    }
    for (const char* bad : {"", "0", "13", "1a", "-1", " 3", "99999999999"}) {
        EXPECT_FALSE(setup.PageTextValid(bad)) << bad;
    }
}

struct OkFixture {
    PrintSetup setup;
    FakePageSetup store;
    RecordingUi ui;
    std::string framePrinter = "Office";

    OkFixture() {
        setup.SetInfo(12, 2, 5, 2, 5, "Office", "A4", 1);
        setup.OnInitDialog(0);
    }
    PrintSetup::OkResult ok(const PrintSetup::Choice& choice, std::int32_t pageHeight = 0) {
        return setup.OnOK(choice, pageHeight, store, ui, "help@example.com", framePrinter);
    }
};

// A range the report does not have is refused with a word on what is wrong.
TEST(PrintSetupDialog, OkChecksTheRange) {
    using R = PrintSetup::Range;
    using Ok = PrintSetup::OkResult;
    struct Case {
        R range;
        const char* from;
        const char* to;
        std::int32_t perTask;
        Ok result;
        std::int32_t printFrom;
        std::int32_t printTo;
        const char* message;  // "": none
    };
    const Case cases[] = {
        {R::All, "", "", 1, Ok::Print, 1, 12, ""},
        {R::Given, "", "", 1, Ok::Print, 2, 5, ""},
        {R::Pages, "3", "7", 1, Ok::Print, 3, 7, ""},
        {R::Pages, "12", "12", 1, Ok::Print, 12, 12, ""},
        {R::Pages, "0", "7", 1, Ok::FocusFrom, 2, 5,
         "The first page to print must be a page number from 1 to 12"},
        {R::Pages, "x", "7", 1, Ok::FocusFrom, 2, 5,
         "The first page to print must be a page number from 1 to 12"},
        {R::Pages, "3", "13", 1, Ok::FocusTo, 2, 5,
         "The report has 12 pages: the last page to print cannot be 13"},
        {R::Pages, "3", "99999999999", 1, Ok::FocusTo, 2, 5,
         "The report has 12 pages: the last page to print cannot be 99999999999"},
        {R::Pages, "8", "7", 1, Ok::FocusTo, 2, 5,
         "The first page to print (8) comes after the last page to print (7)"},
        {R::All, "", "", 11, Ok::Stay, 2, 5, ""},
        {R::All, "", "", 0, Ok::Stay, 2, 5, ""},
    };
    for (const Case& c : cases) {
        OkFixture f;
        PrintSetup::Choice choice;
        choice.range = c.range;
        choice.fromText = c.from;
        choice.toText = c.to;
        choice.pagesPerTask = c.perTask;
        choice.printer = "Office";
        EXPECT_EQ(f.ok(choice), c.result) << c.from << ".." << c.to;
        EXPECT_EQ(f.setup.from(), c.printFrom) << c.from << ".." << c.to;
        EXPECT_EQ(f.setup.to(), c.printTo) << c.from << ".." << c.to;
        EXPECT_EQ(f.store.saves, c.result == Ok::Print ? 1 : 0);
        EXPECT_EQ(f.ui.messages, *c.message ? Texts{c.message} : Texts{});
    }
}

TEST(PrintSetupDialog, OkStoresTheChoiceAndSetsTheTaskSize) {
    OkFixture f;
    PrintSetup::Choice choice;
    choice.printer = "Lab";
    choice.pagesPerTask = 4;
    choice.copies = 3;
    choice.collate = false;  // uncollated copies print a page per task
    EXPECT_EQ(f.ok(choice, 264), PrintSetup::OkResult::Print);
    EXPECT_EQ(f.framePrinter, "Lab");
    EXPECT_EQ(f.store.calls, (Texts{"Update 264 A4|Lab|1"}));
    EXPECT_EQ(f.setup.pagesPerTask(), 1);
    EXPECT_EQ(f.setup.copies(), 3);
    EXPECT_FALSE(f.setup.collate());

    OkFixture g;
    choice.collate = true;
    EXPECT_EQ(g.ok(choice), PrintSetup::OkResult::Print);
    EXPECT_EQ(g.store.calls, (Texts{"SetCurrent A4|Lab|1"}));
    EXPECT_EQ(g.setup.pagesPerTask(), 4);
    EXPECT_TRUE(g.setup.collate());
}

TEST(PrintSetupDialog, NoPrinterPrintsNothing) {
    OkFixture f;
    f.framePrinter.clear();
    PrintSetup::Choice choice;
    EXPECT_EQ(f.ok(choice), PrintSetup::OkResult::Close);
    EXPECT_EQ(f.ui.messages,
              (Texts{"Failed to get the default printer name. Please contact help@example.com "
                     "and report the bug. Thank for your cooperation"}));
    EXPECT_TRUE(f.store.calls.empty());
}

TEST(PrintSetupDialog, BeforeReportValuePageEscapesItsValues) {
    PrintSetup setup;
    setup.SetInfo(3, 1, 3, 1, 1, "Office", "A4", 0);
    const std::string page = setup.BeforeReportValuePage("R&D <2>", "https://example.com/h");
    EXPECT_EQ(page,
              "<html><body>You can edit the \"Before Report Value\" of report, input some special "
              "string, specify the paper size or printer. <p><textarea cols=80 "
              "row=4>&lt;!--PAGINOR?printer=R&amp;D &lt;2&gt;--&gt;\r\n&lt;!--PAGINOR?papersize=A4"
              "--&gt;</textarea></p><p>For more information, <a href=https://example.com/h>please "
              "see the document</a></p></body></html>");
}

}  // namespace
}  // namespace paginor
