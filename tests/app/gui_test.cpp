#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <set>
#include <string>

#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/qt/report_browser.h"
#include "platform/settings_store.h"
#include "tests/app/app_fakes.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/support/gui_waiting.h"
#include "tests/support/report_generator.h"

namespace paginor {
namespace {

// The main window on a real web engine, offscreen.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = std::make_unique<MainWindow>(m_doc, m_ui, m_settings);
        m_window->show();
    }

    void TearDown() override {
        // Closing stores the left bar's width only where the settings key exists.
        m_window->close();
        m_window.reset();
    }

    // Runs action and waits until the view reports the document complete.
    bool waitForPage(const std::function<void()>& action) {
        QSignalSpy spy(m_window->browser(), &ReportBrowser::documentComplete);
        action();
        waitForSignal(spy, "the view to report the document complete");
        return spy.takeFirst().at(1).toBool();
    }

    std::string pageText() {
        QString text;
        bool done = false;
        m_window->browser()->page()->runJavaScript(
            QStringLiteral("document.body ? document.body.innerText : ''"),
            [&](const QVariant& value) {
                text = value.toString();
                done = true;
            });
        waitUntil([&] { return done; }, "the text of the page");
        return text.toStdString();
    }

    void openWithFileOpen(const std::string& path) {
        m_window->setFileChooser([path] { return path; });
        ASSERT_TRUE(waitForPage([&] { m_window->frame().OnFileOpen(); }))
            << (m_ui.messages.empty() ? "" : m_ui.messages.back());
    }

    // Distinct colours in a grab of the view: a blank view has one.
    int coloursShown() {
        QImage image = m_window->browser()->grab().toImage();
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) {
                colours.insert(image.pixel(x, y));
            }
        }
        return static_cast<int>(colours.size());
    }

    CFoliantDoc m_doc;
    RecordingUi m_ui;
    MemorySettingsStore m_settings;
    std::unique_ptr<MainWindow> m_window;
};

struct Sample {
    const char* file;
    int pages;
    const char* secondPageText;
    friend void PrintTo(const Sample& s, std::ostream* out) { *out << s.file; }
};

class BundledSample : public MainWindowTest, public ::testing::WithParamInterface<Sample> {};

TEST_P(BundledSample, OpensAndShowsPageTwoThroughThePageField) {
    const Sample& sample = GetParam();
    const std::string path = std::string(PAGINOR_SAMPLES_DIR) + "/" + sample.file;
    openWithFileOpen(path);
    EXPECT_EQ(m_window->QMainWindow::windowTitle().toStdString(),
              std::string(sample.file) + " -- Paginor");
    EXPECT_EQ(m_window->leftBar()->model().rowCount(), sample.pages);
    EXPECT_EQ(m_window->leftBar()->model().index(1, 0).data().toString(), QStringLiteral(" 2"));
    EXPECT_EQ(m_window->navigateBar()->firstField()->text(), QStringLiteral("1"));

    QLineEdit* field = m_window->navigateBar()->firstField();
    field->setText(QStringLiteral("2"));
    ASSERT_TRUE(waitForPage([&] { QTest::keyClick(field, Qt::Key_Return); }));
    EXPECT_EQ(m_window->navigateBar()->firstField()->text(), QStringLiteral("2"));
    EXPECT_EQ(m_window->navigateBar()->lastField()->text(), QStringLiteral("2"));
    EXPECT_EQ(m_window->leftBar()->list()->currentIndex().row(), 1);
    EXPECT_NE(pageText().find(sample.secondPageText), std::string::npos);
    // The engine paints a little after it reports the load.
    waitUntil([&] { return coloursShown() > 2; }, "the page to be painted");
    EXPECT_TRUE(m_ui.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Samples, BundledSample,
                         ::testing::Values(Sample{"sales-summary.htm", 6, "Page 2 of 6"},
                                           Sample{"order-listing.rrph", 5, "Page 2 of 5"}),
                         [](const auto& info) {
                             return std::string(info.param.file).substr(0, 5);
                         });

TEST_F(MainWindowTest, ChoosingAPageInTheListShowsIt) {
    TempDir dir;
    openWithFileOpen(dir.write("r.htm", fixtures::markedHtmlReport(4)));
    QListView* list = m_window->leftBar()->list();
    ASSERT_TRUE(waitForPage([&] {
        list->setFocus();
        list->setCurrentIndex(list->model()->index(2, 0));
    }));
    EXPECT_EQ(m_window->frame().firstPage(), 3);
    EXPECT_NE(pageText().find("Page 3"), std::string::npos);
}

TEST_F(MainWindowTest, SelectionByTheFrameShowsNothingMore) {
    TempDir dir;
    openWithFileOpen(dir.write("r.htm", fixtures::markedHtmlReport(4)));
    QSignalSpy spy(m_window->browser(), &ReportBrowser::documentComplete);
    m_window->frame().SelectPageInList(3);
    QTest::qWait(200);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(m_window->frame().firstPage(), 1);
}

// Pages of ordinary rows, as a report has them, whose range is well above what the web engine
// takes directly.
TEST_F(MainWindowTest, ARangeAboveTwoMegabytesShows) {
    TempDir dir;
    ReportSpec spec;
    spec.pageMarks = true;
    spec.rowsPerPage = 50;
    spec.targetBytes = 3 * 1024 * 1024;
    std::vector<GeneratedPage> pages;
    std::string error;
    const std::string path = dir.path() + "/big.htm";
    ASSERT_TRUE(writeReport(path, spec, pages, error)) << error;
    const int last = static_cast<int>(pages.size());
    openWithFileOpen(path);
    std::string html;
    m_doc.report().GetPage(1, last, html, false);
    ASSERT_GT(html.size(), spec.targetBytes);
    ASSERT_TRUE(
        waitForPage([&] { m_window->frame().RunCommand("show 1 " + std::to_string(last)); }));
    const std::string text = pageText();
    EXPECT_NE(text.find("Sales by region, page 1\n"), std::string::npos);
    EXPECT_NE(text.find("Sales by region, page " + std::to_string(last)), std::string::npos);
}

TEST_F(MainWindowTest, RightToLeftReportsAreLaidOutRightToLeft) {
    TempDir dir;
    openWithFileOpen(dir.write("r.htm", fixtures::markedHtmlReport(2, "<html dir=\"rtl\"><body>")));
    QString direction;
    bool done = false;
    m_window->browser()->page()->runJavaScript(QStringLiteral("document.documentElement.dir"),
                                               [&](const QVariant& value) {
                                                   direction = value.toString();
                                                   done = true;
                                               });
    waitUntil([&] { return done; }, "the direction of the page");
    EXPECT_EQ(direction, QStringLiteral("rtl"));
}

TEST_F(MainWindowTest, ProgressShowsAndHides) {
    CProgStatusBar* bar = m_window->progStatusBar();
    bar->SetProgress(50);
    EXPECT_TRUE(bar->progressControl()->isVisible());
    EXPECT_EQ(bar->progressControl()->value(), 50);
    bar->SetProgress(0);
    EXPECT_FALSE(bar->progressControl()->isVisible());
    EXPECT_EQ(bar->currentMessage(), QStringLiteral("Ready"));
    bar->SetProgress(250);
    EXPECT_EQ(bar->progressControl()->value(), 100);
}

TEST_F(MainWindowTest, ClosingIsRefusedWhileUpdating) {
    m_window->frame().SetUpdating(true);
    EXPECT_FALSE(m_window->close());
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(m_ui.messages.back(), "Hey, I am updating myself, Please wait ... ");
    m_window->frame().SetUpdating(false);
}

TEST_F(MainWindowTest, SplitterWidthIsStoredOnClose) {
    bool created = false;
    std::string error;
    ASSERT_TRUE(m_settings.createKey(SettingsHive::CurrentUser, "Software\\Orrin.Tadd\\Paginor",
                                     created, error));
    m_window->splitter()->setSizes({90, 900});
    ASSERT_TRUE(m_window->close());
    EXPECT_EQ(m_settings.readDword(SettingsHive::CurrentUser, "Software\\Orrin.Tadd\\Paginor",
                                   "leftbarwidth"),
              90u);
}

// Shows html in browser from memory; the text of its body, or "failed" when the load failed.
std::string showFromMemory(ReportBrowser& browser, const std::string& html) {
    QSignalSpy spy(&browser, &ReportBrowser::documentComplete);
    browser.loadHtml(html, 0);
    waitForSignal(spy, "the browser to report the document complete");
    if (!spy.takeFirst().at(1).toBool()) {
        return "failed";
    }
    QString text;
    bool done = false;
    browser.page()->runJavaScript(QStringLiteral("document.body ? document.body.innerText : ''"),
                                  [&](const QVariant& value) {
                                      text = value.toString();
                                      done = true;
                                  });
    waitUntil([&] { return done; }, "the text of the page");
    return text.toStdString();
}

// Browsers of one profile share its one handler of the page scheme: each shows its own pages,
// while the other lives and after it is gone.
TEST(ReportBrowsers, EachShowsItsOwnPagesFromMemory) {
    auto first = std::make_unique<ReportBrowser>();
    ReportBrowser second;
    first->show();
    second.show();
    EXPECT_EQ(showFromMemory(*first, "<p>first</p>"), "first");
    EXPECT_EQ(showFromMemory(second, "<p>second</p>"), "second");
    EXPECT_EQ(showFromMemory(*first, "<p>first again</p>"), "first again");
    first.reset();
    EXPECT_EQ(showFromMemory(second, "<p>second again</p>"), "second again");
    ReportBrowser third;
    third.show();
    EXPECT_EQ(showFromMemory(third, "<p>third</p>"), "third");
}

TEST(ButtonColours, ColorRefHasRedInTheLowByte) {
    EXPECT_EQ(colorFromColorRef(0xC8D0D4), QColor(0xD4, 0xD0, 0xC8));
    EXPECT_EQ(colorFromColorRef(0x0000FF), QColor(255, 0, 0));
}

TEST(ButtonHover, OnlyFlatButtonsTrackTheMouse) {
    CButtonST flat;
    flat.SetFlat(true);
    CButtonST raised;
    raised.SetFlat(false);
    for (CButtonST* button : {&flat, &raised}) {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(button, &enter);
    }
    EXPECT_TRUE(flat.mouseOver());
    EXPECT_FALSE(raised.mouseOver());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&flat, &leave);
    EXPECT_FALSE(flat.mouseOver());
}

}  // namespace
}  // namespace paginor
