#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "app/foliant_doc.h"
#include "app/print/web_browser_print.h"
#include "app/qt/main_window.h"
#include "app/qt/my_page_setup.h"
#include "app/qt/print_support.h"
#include "app/qt/report_browser.h"
#include "cups_test_server.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "print_test_support.h"
#include "tests/app/app_fakes.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/support/gui_waiting.h"

namespace paginor {
namespace {

std::string run(const std::string& command) {
    return commandOutput(command + " 2>&1");
}

std::string sheetText(const std::string& pdf, int sheet) {
    const std::string page = std::to_string(sheet);
    return run("pdftotext -f " + page + " -l " + page + " '" + pdf + "' -");
}

class RecordingReceiver : public PrintTaskReceiver {
public:
    bool OnTaskDone(const std::string& command, bool printed, int pageCount) override {
        reports.push_back(command + "|" + (printed ? "printed" : "failed") + "|" +
                          std::to_string(pageCount));
        return true;
    }
    std::vector<std::string> reports;
};

// A report whose pages each start a new sheet, as reports laid out for paper do.
std::string paperSizedReport(int pages) {
    std::string text = fixtures::htmlPrologue();
    for (int page = 1; page <= pages; ++page) {
        text += fixtures::kHeadMark + "<table style=\"page-break-before: always\"><tr><td>Page " +
                std::to_string(page) + "</td></tr></table>" + fixtures::kFootMark + "\r\n";
    }
    return text + "</body>\r\n</html>\r\n";
}

// Prints from the main window's real view and web engine to the private CUPS server.
class PrintEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        m_server = sharedCupsTestServer(error);
        ASSERT_NE(m_server, nullptr) << error;
        m_window = std::make_unique<MainWindow>(m_doc, m_ui, m_settings);
        m_window->show();
        const std::string report = m_dir.write("report.htm", paperSizedReport(3));
        std::string trace = "Try_Start";
        m_doc.report().Init(report, nullptr, true, &trace, nullptr, nullptr);
    }

    void TearDown() override {
        if (m_window) {
            m_window->close();
            m_window.reset();
        }
    }

    // Prints pages 2 and 3 and returns the PDF the printer received, saved as a file.
    std::string printPagesTwoAndThree() { return printPages(2, 3); }

    void loadReport(const std::string& text) {
        std::string trace = "Try_Start";
        try {
            m_doc.report().Init(m_dir.write("fit.htm", text), nullptr, true, &trace, nullptr,
                                nullptr);
        } catch (const ReportError&) {
            FAIL() << m_doc.report().GetErrorText();
        }
    }

    // Prints the pages as one task and returns the PDF the printer received, saved as a file.
    std::string printPages(int first, int last) {
        const std::vector<int> before = m_server->receivedJobs();
        std::string html;
        m_doc.report().GetPage(first, last, html, true);
        RecordingReceiver receiver;
        const std::string command = "print " + std::to_string(first) + " " + std::to_string(last);
        EXPECT_TRUE(m_window->view().PrintHtml(html, command, &receiver, first, last - first + 1));
        waitUntil([&] { return !receiver.reports.empty(); }, "the print task to be reported");
        EXPECT_EQ(receiver.reports, std::vector<std::string>{command + "|printed|" +
                                                             std::to_string(last - first + 1)})
            << m_window->view().lastPrintError();
        std::vector<int> after;
        waitUntil(
            [&] {
                after = m_server->receivedJobs();
                return after.size() > before.size();
            },
            "the printer to receive the job");
        const std::set<int> old(before.begin(), before.end());
        std::vector<int> fresh;
        for (int id : after) {
            if (!old.count(id))
                fresh.push_back(id);
        }
        EXPECT_EQ(fresh.size(), 1u);
        if (fresh.empty())
            return {};
        const CupsTestJob job = m_server->waitForJob(fresh[0]);
        EXPECT_EQ(job.title, "about:blank");
        return m_dir.write("job.pdf", job.pdf);
    }

    TempDir m_dir;
    CFoliantDoc m_doc;
    RecordingUi m_ui;
    MemorySettingsStore m_settings;
    std::unique_ptr<MainWindow> m_window;
    CupsTestServer* m_server = nullptr;
};

TEST_F(PrintEndToEndTest, PrintsTwoPagesOnA4) {
    const std::string pdf = printPagesTwoAndThree();
    ASSERT_FALSE(pdf.empty());
    const std::string info = run("pdfinfo '" + pdf + "'");
    EXPECT_NE(info.find("Pages:           2\n"), std::string::npos) << info;
    double width = 0, height = 0;
    const auto size = info.find("Page size:");
    ASSERT_NE(size, std::string::npos) << info;
    ASSERT_EQ(std::sscanf(info.c_str() + size, "Page size: %lf x %lf", &width, &height), 2);
    EXPECT_NEAR(width, 595.3, 1.5);
    EXPECT_NEAR(height, 841.9, 1.5);
    const std::string text = run("pdftotext '" + pdf + "' -");
    const auto two = text.find("Page 2");
    const auto three = text.find("Page 3");
    EXPECT_NE(two, std::string::npos) << text;
    EXPECT_NE(three, std::string::npos) << text;
    EXPECT_LT(two, three);
    EXPECT_EQ(text.find("Page 1"), std::string::npos) << text;
    EXPECT_NE(sheetText(pdf, 2).find("Page 3"), std::string::npos);
}

TEST_F(PrintEndToEndTest, PrintsLandscapeWithHeader) {
    std::string printerOut, paperOut, list;
    int orientation = 1;
    bool printerSet = false, paperSet = false, dialogNeeded = true;
    ASSERT_TRUE(m_window->view().CallPrintSetup("a4", CupsTestServer::kSecondQueue, printerOut,
                                                paperOut, orientation, printerSet, paperSet,
                                                dialogNeeded, list));
    EXPECT_TRUE(printerSet);
    EXPECT_TRUE(paperSet);
    EXPECT_EQ(list, "PaginorTest\tPaginorTest2");
    m_window->view().SetMyPageSetup("&w&bPage &p of &P", "", "0.5", "0.5", "0.5", "0.5");

    const std::string pdf = printPagesTwoAndThree();
    ASSERT_FALSE(pdf.empty());
    const std::string info = run("pdfinfo '" + pdf + "'");
    double width = 0, height = 0;
    const auto size = info.find("Page size:");
    ASSERT_NE(size, std::string::npos) << info;
    ASSERT_EQ(std::sscanf(info.c_str() + size, "Page size: %lf x %lf", &width, &height), 2);
    EXPECT_NEAR(width, 841.9, 1.5);
    EXPECT_NEAR(height, 595.3, 1.5);
    // &p and &P are the report's page and page count.
    const std::string first = sheetText(pdf, 1);
    EXPECT_NE(first.find("Page 2 of 3"), std::string::npos) << first;
    const std::string second = sheetText(pdf, 2);
    EXPECT_NE(second.find("Page 3 of 3"), std::string::npos) << second;
}

// A header and footer in any script print as typed, in fonts embedded as subsets.
TEST_F(PrintEndToEndTest, HeadersInAnyScriptPrintAsTyped) {
    const std::string line =
        "\xd0\x9e\xd1\x82\xd1\x87\xd1\x91\xd1\x82 \xd0\xb7\xd0\xb0 "
        "\xd0\xba\xd0\xb2\xd0\xb0\xd1\x80\xd1\x82\xd0\xb0\xd0\xbb "
        "\xe6\x97\xa5\xe6\x9c\xac \xce\x95\xce\xbb\xce\xbb\xce\xac\xce\xb4\xce\xb1";
    const std::string arabic =
        "\xd8\xa7\xd9\x84\xd8\xaa\xd9\x82\xd8\xb1\xd9\x8a\xd8\xb1 "
        "\xd8\xa7\xd9\x84\xd8\xb3\xd9\x86\xd9\x88\xd9\x8a";
    m_window->view().SetMyPageSetup(line + "&b&b" + arabic, "Ums\xc3\xa4tze \xe2\x82\xac &p/&P",
                                    "0.5", "0.5", "0.5", "0.5");
    const std::string pdf = printPagesTwoAndThree();
    ASSERT_FALSE(pdf.empty());
    for (int sheet = 1; sheet <= 2; ++sheet) {
        SCOPED_TRACE(sheet);
        const std::string text = run("pdftotext -layout -f " + std::to_string(sheet) + " -l " +
                                     std::to_string(sheet) + " '" + pdf + "' -");
        EXPECT_NE(text.find(line), std::string::npos) << text;
        EXPECT_NE(text.find(arabic), std::string::npos) << text;
        EXPECT_NE(text.find("Ums\xc3\xa4tze \xe2\x82\xac " + std::to_string(sheet + 1) + "/3"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find('?'), std::string::npos) << text;
    }
    int fonts = 0;
    EXPECT_EQ(fontsNotEmbeddedAsSubsets(pdf, fonts), "");
    EXPECT_GE(fonts, 2);
}

int pdfPages(const std::string& pdf) {
    const std::string info = run("pdfinfo '" + pdf + "'");
    const auto at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

// The height in points of the first word on a sheet of the PDF that is exactly word.
double wordHeight(const std::string& pdf, int sheet, const std::string& word) {
    const std::string page = std::to_string(sheet);
    const std::string boxes =
        run("pdftotext -bbox -f " + page + " -l " + page + " '" + pdf + "' -");
    const auto end = boxes.find(">" + word + "</word>");
    const auto start = boxes.rfind("<word", end);
    if (end == std::string::npos || start == std::string::npos)
        return -1;
    double xMin, yMin, xMax, yMax;
    if (std::sscanf(boxes.c_str() + start,
                    "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &xMin, &yMin,
                    &xMax, &yMax) != 4)
        return -1;
    return yMax - yMin;
}

// Each report page begins a sheet of its own. One that can be read at 60 % of its size or more
// is scaled down onto one sheet, its aspect kept, never enlarged; a longer one prints at the
// scale that fits its width, over further sheets.
TEST_F(PrintEndToEndTest, EachPageFitsOneSheetWhileItCanBeRead) {
    // A4 portrait within the queue's 12-point hardware margins holds 759 x 1088 pixels.
    struct Case {
        int width;
        int height;
        double scale;
        int sheets;
    };
    const Case cases[] = {{300, 200, 1, 1},    {400, 1700, 0.64, 1}, {400, 2176, 1, 2},
                          {1518, 300, 0.5, 1}, {1518, 4352, 0.5, 2}, {700, 1000, 1, 1}};
    std::string text = fixtures::htmlPrologue();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        text += fixtures::kHeadMark +
                "<table cellspacing=0 cellpadding=0 style=\"page-break-after:always;width:" +
                std::to_string(cases[i].width) + "px;height:" + std::to_string(cases[i].height) +
                "px\"><tr><td valign=top style=\"padding:0\"><span style=\"font:40px "
                "Arial\">Size" +
                std::to_string(i + 1) + "</span></td></tr></table>" + fixtures::kFootMark + "\r\n";
    }
    loadReport(text + "</body>\r\n</html>\r\n");
    const std::string pdf = printPages(1, static_cast<int>(std::size(cases)));
    ASSERT_FALSE(pdf.empty());
    int sheets = 0;
    for (const Case& c : cases)
        sheets += c.sheets;
    EXPECT_EQ(pdfPages(pdf), sheets);
    const double unscaled = wordHeight(pdf, 1, "Size1");
    ASSERT_GT(unscaled, 20);
    int sheet = 1;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i + 1);
        const std::string word = "Size" + std::to_string(i + 1);
        EXPECT_NEAR(wordHeight(pdf, sheet, word) / unscaled, cases[i].scale, 0.03);
        const std::string text = sheetText(pdf, sheet);
        EXPECT_EQ(text.find("Size"), text.rfind("Size")) << text;
        sheet += cases[i].sheets;
    }
}

// The rows of a page scaled onto its sheet keep their spacing: printing inserts no gap where the
// unscaled page would have reached the sheet's end.
TEST_F(PrintEndToEndTest, AScaledPageKeepsItsRowsEvenlySpaced) {
    std::string rows;
    for (int row = 1; row <= 60; ++row)
        rows += "<tr><td style=\"height:24px\">R" + std::to_string(row) + "</td></tr>";
    loadReport(fixtures::htmlPrologue() + fixtures::kHeadMark + "<table cellspacing=0>" + rows +
               "</table>" + fixtures::kFootMark + "\r\n" + fixtures::kHeadMark +
               "<table><tr><td>Second</td></tr></table>" + fixtures::kFootMark +
               "\r\n</body>\r\n</html>\r\n");
    const std::string pdf = printPages(1, 2);
    ASSERT_FALSE(pdf.empty());
    ASSERT_EQ(pdfPages(pdf), 2);
    const std::string boxes = run("pdftotext -bbox -f 1 -l 1 '" + pdf + "' -");
    std::vector<double> tops;
    for (int row = 1; row <= 60; ++row) {
        const auto end = boxes.find(">R" + std::to_string(row) + "</word>");
        ASSERT_NE(end, std::string::npos) << row;
        double xMin, yMin;
        ASSERT_EQ(std::sscanf(boxes.c_str() + boxes.rfind("<word", end),
                              "<word xMin=\"%lf\" yMin=\"%lf\"", &xMin, &yMin),
                  2);
        tops.push_back(yMin);
    }
    const double step = (tops.back() - tops.front()) / 59;
    EXPECT_LT(step, 24 * 0.75 * 0.8);  // scaled down
    for (std::size_t i = 1; i < tops.size(); ++i)
        EXPECT_NEAR(tops[i] - tops[i - 1], step, 0.5) << "row " << i + 1;
}

// Positioned pages, laid one below the other in the task's document, get a sheet each too.
TEST_F(PrintEndToEndTest, EachPositionedPageFitsOneSheet) {
    std::string text = fixtures::cssPrologue();
    for (int page = 1; page <= 3; ++page) {
        const int top = (page - 1) * 1600;
        text += fixtures::positionedDiv(top, fixtures::kHeadMark + "Top" + std::to_string(page)) +
                fixtures::positionedDiv(top + 900, "End" + std::to_string(page)) +
                fixtures::positionedDiv(top + 990, fixtures::kFootMark);
    }
    loadReport(text + "</body>\r\n</html>\r\n");
    ASSERT_EQ(m_doc.report().GetPageCount(), 3);
    const std::string pdf = printPages(1, 3);
    ASSERT_FALSE(pdf.empty());
    ASSERT_EQ(pdfPages(pdf), 3);
    for (int sheet = 1; sheet <= 3; ++sheet) {
        const std::string text = sheetText(pdf, sheet);
        const std::string own = std::to_string(sheet);
        EXPECT_NE(text.find("Top" + own), std::string::npos) << text;
        EXPECT_NE(text.find("End" + own), std::string::npos) << text;
        EXPECT_EQ(text.find("Top"), text.rfind("Top")) << text;
    }
}

// How often each of the words "R1" .. "R<rows>" stands in the whole PDF, as "R1:1 R2:1 ...".
std::string rowCounts(const std::string& pdf, int rows) {
    const std::string text = " " + run("pdftotext '" + pdf + "' -") + " ";
    std::string counts;
    for (int row = 1; row <= rows; ++row) {
        const std::string word = "R" + std::to_string(row);
        int count = 0;
        for (std::size_t at = text.find(word); at != std::string::npos;
             at = text.find(word, at + 1)) {
            const char before = text[at - 1];
            const char after = text[at + word.size()];
            if (!std::isalnum(static_cast<unsigned char>(before)) &&
                !std::isalnum(static_cast<unsigned char>(after)))
                ++count;
        }
        counts += (row > 1 ? " " : "") + word + ":" + std::to_string(count);
    }
    return counts;
}

// A page of 200 rows would be unreadable on one sheet: it prints at its own size over as many
// sheets as it takes, every row whole on one of them, and each sheet's header names its report
// page. Rows in a table and rows of boxes placed on the page alike.
TEST_F(PrintEndToEndTest, ALongPageGoesOnOverFurtherSheetsAtAReadableSize) {
    constexpr int kRows = 200;
    std::string table = "<table cellspacing=0>";
    std::string boxes;
    for (int row = 1; row <= kRows; ++row) {
        table += "<tr><td style=\"height:24px;font:16px Arial\">R" + std::to_string(row) +
                 "</td><td style=\"font:16px Arial\">value " + std::to_string(row * 7) +
                 "</td></tr>";
        boxes += "<span style=\"position:absolute;top:" + std::to_string(20 + row * 18) +
                 "pt;left:36pt;font:16px Arial\">R" + std::to_string(row) + "</span>\r\n";
    }
    const std::string second = "<span style=\"font:16px Arial\">Second</span>";
    struct Case {
        const char* name;
        std::string report;
    };
    const Case cases[] = {
        {"table", fixtures::htmlPrologue() + fixtures::kHeadMark + table + "</table>" +
                      fixtures::kFootMark + "\r\n" + fixtures::kHeadMark + second +
                      fixtures::kFootMark + "\r\n</body>\r\n</html>\r\n"},
        {"placed boxes",
         fixtures::cssPrologue() + fixtures::positionedDiv(0, fixtures::kHeadMark) + boxes +
             fixtures::positionedDiv(20 + kRows * 18 + 30, fixtures::kFootMark) +
             fixtures::positionedDiv(4000, fixtures::kHeadMark + second) +
             fixtures::positionedDiv(4100, fixtures::kFootMark) + "</body>\r\n</html>\r\n"},
    };
    m_window->view().SetMyPageSetup("Page &p of &P", "", "0.5", "0.5", "0.5", "0.5");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loadReport(c.report);
        ASSERT_EQ(m_doc.report().GetPageCount(), 2);
        const std::string pdf = printPages(1, 2);
        ASSERT_FALSE(pdf.empty());
        const int sheets = pdfPages(pdf);
        EXPECT_GE(sheets, 5);
        EXPECT_LE(sheets, 7);
        std::string all;
        for (int row = 1; row <= kRows; ++row)
            all += (row > 1 ? " R" : "R") + std::to_string(row) + ":1";
        EXPECT_EQ(rowCounts(pdf, kRows), all);
        // As large as on a page that fits its sheet unscaled.
        const double full = wordHeight(pdf, sheets, "Second");
        ASSERT_GT(full, 5);
        EXPECT_NEAR(wordHeight(pdf, 1, "R1") / full, 1, 0.03);
        for (int sheet = 1; sheet < sheets; ++sheet) {
            const std::string text = sheetText(pdf, sheet);
            EXPECT_NE(text.find("Page 1 of 2"), std::string::npos) << sheet << ": " << text;
            EXPECT_EQ(text.find("Second"), std::string::npos) << sheet;
        }
        EXPECT_NE(sheetText(pdf, sheets).find("Page 2 of 2"), std::string::npos);
    }
}

// A page that would take more sheets than a print is given is not printed, and the print says
// why instead of failing later.
TEST_F(PrintEndToEndTest, APageTooLargeToPrintIsSaidSo) {
    loadReport(fixtures::htmlPrologue() + fixtures::kHeadMark +
               "<table><tr><td>Top</td></tr><tr><td style=\"height:240000px\">Tall</td></tr>"
               "</table>" +
               fixtures::kFootMark + "\r\n</body>\r\n</html>\r\n");
    const std::vector<int> before = m_server->receivedJobs();
    std::string html;
    m_doc.report().GetPage(1, 1, html, true);
    RecordingReceiver receiver;
    ASSERT_TRUE(m_window->view().PrintHtml(html, "print 1 1", &receiver, 1, 1));
    waitUntil([&] { return !receiver.reports.empty(); }, "the print task to be reported");
    EXPECT_EQ(receiver.reports, std::vector<std::string>{"print 1 1|failed|1"});
    const std::string error = m_window->view().lastPrintError();
    EXPECT_EQ(error.rfind("Page 1 is too large to print: it would take about 2", 0), 0u) << error;
    EXPECT_NE(error.find(" sheets, and one print takes at most 200"), std::string::npos) << error;
    EXPECT_EQ(m_server->receivedJobs(), before);
}

// A report's own print style sheet decides how its pages are measured: a page whose print font
// is larger prints whole, exactly as the same page with that font on the screen.
TEST_F(PrintEndToEndTest, PagesAreMeasuredWithTheReportsPrintStyles) {
    std::string rows;
    for (int row = 1; row <= 32; ++row)
        rows += "<tr><td>R" + std::to_string(row) + "</td><td>" + std::to_string(row * 130) +
                ".00</td></tr>";
    const auto report = [&](const std::string& head) {
        std::string prologue = fixtures::htmlPrologue();
        prologue.insert(prologue.find("</head>"), head);
        return prologue + fixtures::kHeadMark + "<table>" + rows +
               "<tr><td>Region</td><td>total</td></tr></table><p>End of report</p>" +
               fixtures::kFootMark + "\r\n</body>\r\n</html>\r\n";
    };
    const std::string screen = "td, p { font: 10pt Arial } td { padding: 6px }";
    const std::string large = "td, p { font: 16pt Arial } td { padding: 6px }";
    m_dir.write("print.css", screen + " @media print { " + large + " }");
    struct Case {
        const char* name;
        std::string head;
    };
    const Case cases[] = {
        {"media rule", "<style>" + screen + " @media print { " + large + " }</style>"},
        {"print style element",
         "<style>" + screen + "</style><style media=\"print\">" + large + "</style>"},
        {"linked sheet", "<link rel=\"stylesheet\" type=\"text/css\" href=\"print.css\">"},
        {"screen-only style",
         "<style>" + large + "</style><style media=\"screen\">" + screen + "</style>"},
    };
    loadReport(report("<style>" + large + "</style>"));
    const std::string same = printPages(1, 1);
    ASSERT_FALSE(same.empty());
    const int sheets = pdfPages(same);
    const double height = wordHeight(same, 1, "R1");
    ASSERT_GT(height, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loadReport(report(c.head));
        const std::string pdf = printPages(1, 1);
        ASSERT_FALSE(pdf.empty());
        EXPECT_EQ(pdfPages(pdf), sheets);
        std::string all;
        for (int row = 1; row <= 32; ++row)
            all += (row > 1 ? " R" : "R") + std::to_string(row) + ":1";
        EXPECT_EQ(rowCounts(pdf, 32), all);
        const std::string text = run("pdftotext '" + pdf + "' -");
        EXPECT_NE(text.find("total"), std::string::npos) << text;
        EXPECT_NE(text.find("End of report"), std::string::npos) << text;
        EXPECT_NEAR(wordHeight(pdf, 1, "R1") / height, 1, 0.02);
    }
}

TEST_F(PrintEndToEndTest, ShowingAPageWhileAPrintIsArmedIsRefused) {
    std::string html;
    m_doc.report().GetPage(2, 3, html, true);
    RecordingReceiver receiver;
    ASSERT_TRUE(m_window->view().PrintHtml(html, "print 2 3", &receiver, 2, 2));
    EXPECT_EQ(m_window->frame().RunCommand("show 1"), 1);
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{
                                 "previous print task is not finished ,please try again later"});
    waitUntil([&] { return !receiver.reports.empty(); }, "the print task to be reported");
}

// The page setup shows the current paper, orientation and margins, and what is chosen there is
// what the print takes.
TEST_F(PrintEndToEndTest, PageSetupDialogShowsTheCurrentChoiceAndKeepsIt) {
    std::string printerOut, paperOut, list;
    int orientation = 1;
    bool printerSet, paperSet, dialogNeeded;
    ASSERT_TRUE(m_window->view().CallPrintSetup("Legal", "", printerOut, paperOut, orientation,
                                                printerSet, paperSet, dialogNeeded, list));
    m_window->view().SetMyPageSetup("", "", "0.5", "0,25", "0", "1");
    QString shownPaper;
    bool shownLandscape = false;
    std::vector<double> shownMargins;
    QTimer::singleShot(0, [&] {
        waitUntil([] { return QApplication::activeModalWidget() != nullptr; },
                  "the page setup dialog to open");
        auto* dialog = qobject_cast<PrintSettingDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shownPaper = dialog->paperBox()->currentText();
        shownLandscape = dialog->landscapeButton()->isChecked();
        for (int i = 0; i < 4; ++i)
            shownMargins.push_back(dialog->marginBox(i)->value());
        dialog->paperBox()->setCurrentIndex(dialog->paperBox()->findText("A3"));
        dialog->marginBox(0)->setValue(1.18);
        dialog->accept();
    });
    EXPECT_TRUE(m_window->view().ShowPageSetupDialog());
    EXPECT_EQ(shownPaper, QStringLiteral("Legal"));
    EXPECT_TRUE(shownLandscape);
    EXPECT_EQ(shownMargins, (std::vector<double>{0.5, 0.25, 0, 1}));
    EXPECT_EQ(m_window->printDriver().paper(), "A3");
    EXPECT_EQ(m_window->printDriver().orientation(), 1);
    EXPECT_EQ(m_window->view().marginLeft(), "1.18");
    EXPECT_EQ(m_window->view().marginRight(), "0.25");
}

// My Page Setup on its own.
class MyPageSetupTest : public ::testing::Test {
protected:
    CFoliantDoc m_doc;
    FakeBrowser m_browser;
    RecordingUi m_ui;
    MemorySettingsStore m_settings;
    CFoliantView m_view{m_doc, m_browser, m_ui, m_settings};
};

TEST_F(MyPageSetupTest, NumbersPassAndTheValuesGoToTheView) {
    MyPageSetup dialog(m_view, m_settings, m_ui);
    dialog.show();
    dialog.headerEdit()->setText("&w&bPage &p of &P");
    dialog.marginEdit(0)->setText("1.5");
    dialog.marginEdit(3)->setText("0,25");
    dialog.OnOK();
    EXPECT_TRUE(m_ui.messages.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_view.header(), "&w&bPage &p of &P");
    EXPECT_EQ(m_view.marginLeft(), "1.5");
    EXPECT_EQ(m_view.marginBottom(), "0,25");
    EXPECT_EQ(m_view.marginTop(), "0");
}

TEST_F(MyPageSetupTest, LongTextsAreCutBetweenCharacters) {
    MyPageSetup dialog(m_view, m_settings, m_ui);
    dialog.show();
    // 239 characters of two bytes each: the 239 bytes the text may hold end inside one.
    dialog.headerEdit()->setText(QString(239, QChar(0xE9)));
    dialog.footerEdit()->setText(QStringLiteral("a") + QString(120, QChar(0x20AC)));
    dialog.OnOK();
    std::string e;
    for (int i = 0; i < 119; ++i)
        e += "\xc3\xa9";
    EXPECT_EQ(m_view.header(), e);
    std::string euros = "a";
    for (int i = 0; i < 79; ++i)
        euros += "\xe2\x82\xac";
    EXPECT_EQ(m_view.footer(), euros);
    dialog.saveAsDefaultButton()->click();
    EXPECT_EQ(readStringSetting(m_settings, kHeaderValue), e);
}

TEST_F(MyPageSetupTest, AMarginThatIsNoNumberIsRefusedWithFocusAndSelection) {
    MyPageSetup dialog(m_view, m_settings, m_ui);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.marginEdit(2)->setText("1.5in");
    dialog.OnOK();
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{"Please input number"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dialog.marginEdit(2));
    EXPECT_EQ(dialog.marginEdit(2)->selectedText(), QStringLiteral("1.5in"));
    EXPECT_EQ(m_view.marginTop(), "0");
}

TEST_F(MyPageSetupTest, SaveAsDefaultStoresWhatLoadMyPageSetupReads) {
    MyPageSetup dialog(m_view, m_settings, m_ui);
    dialog.show();
    dialog.headerEdit()->setText("&u");
    dialog.footerEdit()->setText("&d &t");
    const char* margins[] = {"0.1", "0.2", "0.3", "0.4"};
    for (int i = 0; i < 4; ++i)
        dialog.marginEdit(i)->setText(margins[i]);
    dialog.saveAsDefaultButton()->click();
    EXPECT_TRUE(m_ui.messages.empty());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(m_view.header(), "");

    CFoliantView fresh(m_doc, m_browser, m_ui, m_settings);
    EXPECT_EQ(fresh.header(), "&u");
    EXPECT_EQ(fresh.footer(), "&d &t");
    EXPECT_EQ(fresh.marginLeft(), "0.1");
    EXPECT_EQ(fresh.marginRight(), "0.2");
    EXPECT_EQ(fresh.marginTop(), "0.3");
    EXPECT_EQ(fresh.marginBottom(), "0.4");
}

TEST_F(MyPageSetupTest, AFailedSaveSaysSoAndTheDialogStays) {
    m_settings.failWrites("disk full");
    MyPageSetup dialog(m_view, m_settings, m_ui);
    dialog.show();
    dialog.saveAsDefaultButton()->click();
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{"Failed to modify My Page Setup properties"});
    EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
}  // namespace paginor
