#include <gtest/gtest.h>

#include <QApplication>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "app/foliant_doc.h"
#include "app/print/web_browser_print.h"
#include "app/qt/main_window.h"
#include "app/qt/my_page_setup.h"
#include "app/qt/report_browser.h"
#include "cups_test_server.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/app/app_fakes.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/support/gui_waiting.h"

namespace paginor {
namespace {

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, got);
        pclose(pipe);
    }
    return output;
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
        EXPECT_TRUE(m_window->view().PrintHtml(html, command, &receiver, last - first + 1));
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
    EXPECT_NE(run("pdftotext -f 2 -l 2 '" + pdf + "' -").find("Page 3"), std::string::npos);
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
    const std::string first = run("pdftotext -f 1 -l 1 '" + pdf + "' -");
    EXPECT_NE(first.find("Page 1 of 2"), std::string::npos) << first;
    EXPECT_NE(first.find("Page 2"), std::string::npos) << first;
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

// Each report page prints on one sheet of its own: scaled down to the printable area in both
// directions, its aspect kept, never enlarged.
TEST_F(PrintEndToEndTest, EachPageFitsOneSheet) {
    // A4 portrait within the queue's 12-point hardware margins holds 759 x 1088 pixels.
    struct Case {
        int width;
        int height;
        double scale;
    };
    const Case cases[] = {
        {300, 200, 1}, {400, 2176, 0.5}, {1518, 300, 0.5}, {1518, 4352, 0.25}, {700, 1000, 1}};
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
    EXPECT_EQ(pdfPages(pdf), static_cast<int>(std::size(cases)));
    const double unscaled = wordHeight(pdf, 1, "Size1");
    ASSERT_GT(unscaled, 20);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i + 1);
        const int sheet = static_cast<int>(i) + 1;
        EXPECT_NEAR(wordHeight(pdf, sheet, "Size" + std::to_string(sheet)) / unscaled,
                    cases[i].scale, 0.03);
        const std::string sheetText = run("pdftotext -f " + std::to_string(sheet) + " -l " +
                                          std::to_string(sheet) + " '" + pdf + "' -");
        EXPECT_EQ(sheetText.find("Size"), sheetText.rfind("Size")) << sheetText;
    }
}

// The rows of a page scaled onto its sheet keep their spacing: printing inserts no gap where the
// unscaled page would have reached the sheet's end.
TEST_F(PrintEndToEndTest, AScaledPageKeepsItsRowsEvenlySpaced) {
    std::string rows;
    for (int row = 1; row <= 120; ++row)
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
    for (int row = 1; row <= 120; ++row) {
        const auto end = boxes.find(">R" + std::to_string(row) + "</word>");
        ASSERT_NE(end, std::string::npos) << row;
        double xMin, yMin;
        ASSERT_EQ(std::sscanf(boxes.c_str() + boxes.rfind("<word", end),
                              "<word xMin=\"%lf\" yMin=\"%lf\"", &xMin, &yMin),
                  2);
        tops.push_back(yMin);
    }
    const double step = (tops.back() - tops.front()) / 119;
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
                fixtures::positionedDiv(top + 1500, "End" + std::to_string(page)) +
                fixtures::positionedDiv(top + 1590, fixtures::kFootMark);
    }
    loadReport(text + "</body>\r\n</html>\r\n");
    ASSERT_EQ(m_doc.report().GetPageCount(), 3);
    const std::string pdf = printPages(1, 3);
    ASSERT_FALSE(pdf.empty());
    ASSERT_EQ(pdfPages(pdf), 3);
    for (int sheet = 1; sheet <= 3; ++sheet) {
        const std::string sheetText = run("pdftotext -f " + std::to_string(sheet) + " -l " +
                                          std::to_string(sheet) + " '" + pdf + "' -");
        const std::string own = std::to_string(sheet);
        EXPECT_NE(sheetText.find("Top" + own), std::string::npos) << sheetText;
        EXPECT_NE(sheetText.find("End" + own), std::string::npos) << sheetText;
        EXPECT_EQ(sheetText.find("Top"), sheetText.rfind("Top")) << sheetText;
    }
}

TEST_F(PrintEndToEndTest, ShowingAPageWhileAPrintIsArmedIsRefused) {
    std::string html;
    m_doc.report().GetPage(2, 3, html, true);
    RecordingReceiver receiver;
    ASSERT_TRUE(m_window->view().PrintHtml(html, "print 2 3", &receiver, 2));
    EXPECT_EQ(m_window->frame().RunCommand("show 1"), 1);
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{
                                 "previous print task is not finished ,please try again later"});
    waitUntil([&] { return !receiver.reports.empty(); }, "the print task to be reported");
}

TEST_F(PrintEndToEndTest, PageSetupDialogShowsTheCurrentChoiceAndKeepsIt) {
    std::string printerOut, paperOut, list;
    int orientation = 1;
    bool printerSet, paperSet, dialogNeeded;
    ASSERT_TRUE(m_window->view().CallPrintSetup("Legal", "", printerOut, paperOut, orientation,
                                                printerSet, paperSet, dialogNeeded, list));
    QString shownPaper;
    bool shownLandscape = false;
    QTimer::singleShot(0, [&] {
        waitUntil([] { return QApplication::activeModalWidget() != nullptr; },
                  "the page setup dialog to open");
        auto* dialog = qobject_cast<QPageSetupDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        const QPageLayout layout = dialog->printer()->pageLayout();
        shownPaper = layout.pageSize().key();
        shownLandscape = layout.orientation() == QPageLayout::Landscape;
        dialog->accept();
    });
    EXPECT_TRUE(m_window->view().ShowPageSetupDialog());
    EXPECT_EQ(shownPaper, QStringLiteral("Legal"));
    EXPECT_TRUE(shownLandscape);
    EXPECT_EQ(m_window->printDriver().paper(), "Legal");
    EXPECT_EQ(m_window->printDriver().orientation(), 1);
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
