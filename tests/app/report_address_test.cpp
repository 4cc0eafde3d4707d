#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/foliant_app.h"
#include "app/qt/menu_commands.h"
#include "platform/http_client.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/support/http_test_server.h"

namespace paginor {
namespace {

// Answers every message box at once and keeps its text.
class BoxWatcher : public QObject {
public:
    BoxWatcher() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box == nullptr || !box->isVisible() || box->property("seen").toBool()) {
                    continue;
                }
                box->setProperty("seen", true);
                texts.push_back(box->text().toStdString());
                QPointer<QMessageBox> guard(box);
                QTimer::singleShot(0, box, [guard] { guard->accept(); });
            }
        });
        m_timer.start(20);
    }

    std::vector<std::string> texts;

private:
    QTimer m_timer;
};

// An environment variable set for the test and put back after it.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A report that came by "--url:", then a local one opened with File Open: the address of the
// first one is gone, so "Get PDF Output" has no report to ask the server for, and a printer
// directive of the local report finds no address to read its printer from.
TEST(ReportAddress, FileOpenForgetsTheAddressOfTheReportBefore) {
    TempDir home;
    const ScopedEnvironment config("XDG_CONFIG_HOME", home.path() + "/config");
    const ScopedEnvironment data("XDG_DATA_HOME", home.path() + "/data");
    TestServer server;
    ASSERT_TRUE(server.start());
    HttpRequest define;
    define.url = server.http("/define?path=/servlet/report&type=text/html");
    define.method = HttpMethod::Post;
    define.body = fixtures::markedHtmlReport(2);
    StringSink sink;
    ASSERT_TRUE(HttpClient::shared().transfer(define, sink).done());
    const std::string address = server.http("/servlet/report?job=7&printer=PaginorX");

    BoxWatcher boxes;
    CFoliantApp app;
    ASSERT_TRUE(app.InitInstance({"--url:" + address}));
    ASSERT_EQ(app.document().report().state(), 1) << boxes.texts.back();
    EXPECT_EQ(app.reportAddress(), address);
    PrintEnvironment& printing = app.mainWindow().queuePrinting().environment();
    EXPECT_EQ(printing.reportAddress(), address);

    const std::string local = home.write(
        "local.htm", fixtures::markedHtmlReport(
                         3, fixtures::htmlPrologue() + "<!--PAGINOR?printer=&printer-->"));
    app.mainWindow().setFileChooser([local] { return local; });
    app.mainWindow().frame().OnFileOpen();
    ASSERT_EQ(app.document().report().reportPath(), local);
    EXPECT_EQ(app.reportAddress(), "");
    EXPECT_EQ(printing.reportAddress(), "");

    auto* commands = app.mainWindow().findChild<MenuCommands*>();
    ASSERT_NE(commands, nullptr);
    std::vector<std::string> opened;
    commands->setOpener([&opened](const std::string& url, std::string&) {
        opened.push_back(url);
        return true;
    });
    boxes.texts.clear();
    QAction* pdf = nullptr;
    for (QAction* action : app.mainWindow().findChildren<QAction*>()) {
        if (action->text() == QStringLiteral("Get PDF Output")) {
            pdf = action;
        }
    }
    ASSERT_NE(pdf, nullptr);
    pdf->trigger();
    EXPECT_TRUE(opened.empty()) << opened.front();
    EXPECT_EQ(boxes.texts, (std::vector<std::string>{"Sorry, can not find the original URL"}));
    server.stop();
}

}  // namespace
}  // namespace paginor
