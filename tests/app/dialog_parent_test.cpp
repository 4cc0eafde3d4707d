#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <string>
#include <vector>

#include "app/qt/download_dlg.h"
#include "app/qt/foliant_app.h"
#include "app/qt/mail_dialogs.h"
#include "app/qt/qt_ui_services.h"
#include "platform/settings_store.h"
#include "tests/core/temp_dir.h"
#include "tests/support/http_test_server.h"

namespace paginor {
namespace {

// Every dialog and message box that shows: its kind, its text and its parent. Boxes are answered
// at once, download boxes cancelled, send dialogs sent with what they hold.
class DialogWatcher : public QObject {
public:
    struct Seen {
        std::string kind;
        std::string text;
        QPointer<QWidget> parent;
    };

    DialogWatcher() {
        connect(&m_timer, &QTimer::timeout, this, [this] { look(); });
        m_timer.start(20);
    }

    std::vector<Seen> seen;

private:
    void look() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog == nullptr || !dialog->isVisible() || dialog->property("watched").toBool()) {
                continue;
            }
            dialog->setProperty("watched", true);
            QPointer<QDialog> guard(dialog);
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                seen.push_back({"box", box->text().toStdString(), box->parentWidget()});
                QTimer::singleShot(0, box, [this, guard] {
                    guard->accept();
                    // A send dialog ends once its box was seen.
                    if (m_send != nullptr) {
                        QTimer::singleShot(0, m_send, [send = m_send] { send->reject(); });
                    }
                });
            } else if (qobject_cast<DownloadDlg*>(dialog) != nullptr) {
                seen.push_back({"download", "", dialog->parentWidget()});
                QTimer::singleShot(100, dialog, [guard] { guard->reject(); });
            } else if (auto* send = qobject_cast<CSendEmail*>(dialog)) {
                seen.push_back({"send", "", dialog->parentWidget()});
                m_send = send;
                QTimer::singleShot(0, send, [send] { send->OnOK(); });
            } else {
                seen.push_back({dialog->metaObject()->className(), "", dialog->parentWidget()});
                QTimer::singleShot(0, dialog, [guard] { guard->reject(); });
            }
        }
    }

    QTimer m_timer;
    QPointer<CSendEmail> m_send;
};

// A first run with private settings and desktop folders.
class FirstRun : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", (m_home.path() + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_home.path() + "/data").c_str(), 1);
    }

    TempDir m_home;
    DialogWatcher m_watcher;
};

TEST_F(FirstRun, GreetingAndLongAddressBoxesStayOverTheMainWindow) {
    CFoliantApp app;
    app.InitInstance({"--url:http://reports.example.com/" + std::string(3000, 'a')});
    const std::vector<DialogWatcher::Seen>& seen = m_watcher.seen;
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Thank you for choosing Paginor!");
    EXPECT_EQ(seen[1].text, "The size of command line buffer is not enough");
    for (const DialogWatcher::Seen& box : seen) {
        EXPECT_EQ(box.parent, &app.mainWindow()) << box.text;
    }
}

TEST_F(FirstRun, DownloadBoxAndItsMessagesStayOverTheMainWindow) {
    TestServer server;
    ASSERT_TRUE(server.start());
    CFoliantApp app;
    app.InitInstance({"--url:" + server.http("/slow-head")});
    server.stop();
    bool download = false;
    for (const DialogWatcher::Seen& seen : m_watcher.seen) {
        download = download || seen.kind == "download";
        EXPECT_EQ(seen.parent, &app.mainWindow()) << seen.kind << " " << seen.text;
    }
    EXPECT_TRUE(download);
}

TEST_F(FirstRun, BoxesOfADialogStayOverThatDialog) {
    QWidget mainWindow;
    mainWindow.show();
    QtUiServices ui;
    ui.setParentWindow(&mainWindow);
    MemorySettingsStore settings;
    CSendEmail dialog(settings, ui, "", &mainWindow);
    dialog.exec();
    const std::vector<DialogWatcher::Seen>& seen = m_watcher.seen;
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].parent, &mainWindow);
    EXPECT_EQ(seen[1].text, "Please enter the email address of the recipients");
    EXPECT_EQ(seen[1].parent, &dialog);
}

}  // namespace
}  // namespace paginor
