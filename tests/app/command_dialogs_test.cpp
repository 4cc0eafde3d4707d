#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QTest>
#include <QThread>
#include <filesystem>
#include <string>
#include <vector>

#include "app/auto_update.h"
#include "app/command_helpers.h"
#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/qt/menu_commands.h"
#include "app/qt/small_dialogs.h"
#include "platform/http_client.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/app/app_fakes.h"
#include "tests/core/temp_dir.h"
#include "tests/support/gui_waiting.h"
#include "tests/support/http_test_server.h"

extern char** environ;

namespace paginor {
namespace {

// Records what would have been opened.
struct OpenRecord {
    std::vector<std::string> opened;
    Opener opener() {
        return [this](const std::string& pathOrUrl, std::string&) {
            opened.push_back(pathOrUrl);
            return true;
        };
    }
};

TEST(KeywordDialog, ShowsTheGroupSavesItAndTellsTheAddOnOnce) {
    TempDir folder;
    const std::string marker = folder.path() + "/addon-calls";
    qputenv("PAGINOR_TEST_ADDON_MARKER", QByteArray::fromStdString(marker));
    MemorySettingsStore settings;
    std::string error;
    ASSERT_TRUE(writeStringSetting(settings, kKeywords3Value, "x\t\ty", error));
    RecordingUi ui;
    KeyWordSetup dialog(settings, ui, kKeywords3Value, PAGINOR_TEST_ADDON);
    EXPECT_EQ(dialog.keywordEdit(0)->text(), QStringLiteral("x"));
    EXPECT_EQ(dialog.keywordEdit(1)->text(), QString());
    EXPECT_EQ(dialog.keywordEdit(2)->text(), QStringLiteral("y"));
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    EXPECT_TRUE(dialog.cancelButton()->isDefault());
    dialog.keywordEdit(1)->setText(QStringLiteral("report="));
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    dialog.OnOK();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(readStringSetting(settings, kKeywords3Value), "x\treport=\ty");
    EXPECT_FALSE(readDwordSetting(settings, kPrintDirectlyValue).has_value());
    EXPECT_EQ(readFile(marker), "ResetKeywords\n");
    EXPECT_TRUE(ui.messages.empty());

    // Without the add-on the keywords are kept and the user is told.
    KeyWordSetup again(settings, ui, kKeywords3Value, folder.path() + "/libnavlet.so");
    again.printDirectlyCheck()->setChecked(true);
    again.OnOK();
    EXPECT_EQ(again.result(), QDialog::Accepted);
    EXPECT_EQ(readDwordSetting(settings, kPrintDirectlyValue), 1u);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("libnavlet.so"), std::string::npos) << ui.messages[0];
    EXPECT_EQ(readFile(marker), "ResetKeywords\n");
}

TEST(TestUrlDialog, RefusesThenWritesTheEscapedPageAndOpensIt) {
    MemorySettingsStore settings;
    std::string error;
    ASSERT_TRUE(
        writeStringSetting(settings, kKeywords4Value, "/reports/rwservlet\treport=", error));
    RecordingUi ui;
    OpenRecord record;
    TestURLDlg dialog(settings, ui, &kKeywords4Value, record.opener());
    EXPECT_EQ(dialog.urlEdit()->text().toStdString(), ExampleReportUrl());
    EXPECT_EQ(dialog.urlEdit()->selectionStart(), 7);
    dialog.urlEdit()->setText(QStringLiteral("ftp://h/reports/rwservlet?report=a"));
    dialog.OnOK();
    dialog.urlEdit()->setText(QStringLiteral("http://h/reports/rwservlet?desformat=html"));
    dialog.OnOK();
    EXPECT_EQ(ui.messages,
              (std::vector<std::string>{"The URL should start with prefix 'http://' or 'https://'",
                                        "Your URL should include keyword 'report=' "}));
    EXPECT_TRUE(record.opened.empty());
    dialog.urlEdit()->setText(QStringLiteral("http://h/reports/rwservlet?report=a&b=\"c\""));
    dialog.OnOK();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(record.opened.size(), 1u);
    EXPECT_EQ(std::filesystem::path(record.opened[0]).filename(), "paginor-testurl.htm");
    EXPECT_NE(readFile(record.opened[0])
                  .find("href=\"http://h/reports/rwservlet?report=a&amp;b=&quot;c&quot;\""),
              std::string::npos);
}

TEST(AboutDialog, ShowsVersionAndReleaseDateAndOpensTheMakersPage) {
    RecordingUi ui;
    OpenRecord record;
    CAboutDlg dialog(ui, record.opener());
    EXPECT_EQ(dialog.versionLabel()->text(), QStringLiteral("Version : 1.4.9"));
    EXPECT_EQ(dialog.releaseDateLabel()->text(), QStringLiteral("Release date: 2021-01-05"));
    EXPECT_EQ(dialog.linkLabel()->cursor().shape(), Qt::PointingHandCursor);
    dialog.OnLinkClicked();
    EXPECT_EQ(record.opened, std::vector<std::string>{kMakerUrl});
}

TEST(AutoUpdateDialog, WritesNothingWhenCheckingStaysOffAndNeedsAnAddress) {
    MemorySettingsStore settings;
    std::string error;
    ASSERT_TRUE(writeDwordSetting(settings, kUpdateFlagValue, 0u, error));
    const std::string before = settings.text(SettingsHive::CurrentUser);
    RecordingUi ui;
    const UpdateEnvironment env{settings, HttpClient::shared(), "/nonexistent"};
    UpdateThreadServices services{ui, nullptr, nullptr, "", {2021, 6, 7}};
    CAutoUpdateDlg dialog(env, services);
    EXPECT_FALSE(dialog.enableCheck()->isChecked());
    EXPECT_FALSE(dialog.addressEdit()->isEnabled());
    EXPECT_FALSE(dialog.testButton()->isEnabled());
    dialog.enableCheck()->click();
    EXPECT_TRUE(dialog.addressEdit()->isEnabled());
    dialog.enableCheck()->click();
    dialog.OnOK();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.text(SettingsHive::CurrentUser), before);

    CAutoUpdateDlg second(env, services);
    second.enableCheck()->click();
    second.addressEdit()->clear();
    second.OnOK();
    second.OnTest();
    EXPECT_EQ(ui.messages, (std::vector<std::string>{kNoConfigurationUrl, kNoConfigurationUrl}));
    EXPECT_EQ(settings.text(SettingsHive::CurrentUser), before);
}

class MenuCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = std::make_unique<MainWindow>(m_doc, m_ui, m_settings);
        m_commands = new MenuCommands(*m_window, m_doc, m_ui, m_settings);
        m_commands->setOpener(m_record.opener());
    }
    void TearDown() override { m_window.reset(); }

    CFoliantDoc m_doc;
    RecordingUi m_ui;
    MemorySettingsStore m_settings;
    OpenRecord m_record;
    std::unique_ptr<MainWindow> m_window;
    MenuCommands* m_commands = nullptr;
};

TEST_F(MenuCommandsTest, TheWindowsActionsFollowTheRules) {
    m_commands->UpdateCommandStates();
    QAction* exit = m_commands->action(cmd::kExit);
    QAction* check = m_commands->action(cmd::kCheckForNewVersion);
    QAction* output = m_commands->action(cmd::kOutputToExcel);
    ASSERT_NE(exit, nullptr);
    ASSERT_NE(check, nullptr);
    ASSERT_NE(output, nullptr);
    EXPECT_TRUE(exit->isEnabled());
    EXPECT_TRUE(check->isEnabled());
    EXPECT_FALSE(output->isEnabled());
    EXPECT_FALSE(m_window->navigateBar()->button(cmd::kNextPage)->isEnabled());
    m_window->frame().SetUpdating(true);
    m_commands->UpdateCommandStates();
    EXPECT_FALSE(exit->isEnabled());
    EXPECT_FALSE(check->isEnabled());
    m_window->frame().SetUpdating(false);

    EXPECT_TRUE(m_commands->Run(cmd::kTextSmallest));
    EXPECT_EQ(m_window->view().GetZoom(), 0);
    EXPECT_TRUE(m_commands->action(cmd::kTextSmallest)->isChecked());
    EXPECT_FALSE(m_commands->action(cmd::kTextMedium)->isChecked());
    EXPECT_FALSE(m_commands->Run(cmd::kOpen));
}

TEST_F(MenuCommandsTest, GetPdfOutputOpensTheServletAddress) {
    m_commands->Run(cmd::kGetPdfOutput);
    EXPECT_EQ(m_ui.messages, std::vector<std::string>{"Sorry, can not find the original URL"});
    m_commands->setReportAddress(
        [] { return "http://host/reports/rwservlet?a=1&paginorformat=PDF&callpaginor=yes"; });
    m_commands->Run(cmd::kGetPdfOutput);
    EXPECT_EQ(m_record.opened,
              std::vector<std::string>{"http://host/reports/rwservlet?a=1&format=PDF"});
}

TEST_F(MenuCommandsTest, AKeywordGroupAsksToTestAndTestsTheSameGroup) {
    std::string error;
    ASSERT_TRUE(writeStringSetting(m_settings, kKeywords2Value, "rwcgi", error));
    std::vector<std::string> dialogs;
    m_commands->setAddOnLibrary(PAGINOR_TEST_ADDON);
    m_commands->setDialogRunner([&](QDialog& dialog) {
        if (auto* keywords = qobject_cast<KeyWordSetup*>(&dialog)) {
            dialogs.push_back("keywords");
            keywords->keywordEdit(1)->setText(QStringLiteral("report="));
            keywords->OnOK();
        } else if (auto* test = qobject_cast<TestURLDlg*>(&dialog)) {
            dialogs.push_back("test");
            test->urlEdit()->setText(QStringLiteral("http://h/rwcgi?desformat=html"));
            test->OnOK();
        }
        return dialog.result();
    });
    m_commands->Run(cmd::kKeywordGroup2);
    EXPECT_EQ(dialogs, (std::vector<std::string>{"keywords", "test"}));
    EXPECT_EQ(m_ui.messages,
              (std::vector<std::string>{kKeywordTestQuestion,
                                        "Your URL should include keyword 'report=' "}));
    m_ui.answer = MessageAnswer::No;
    m_commands->Run(cmd::kKeywordGroup2);
    EXPECT_EQ(dialogs.size(), 3u);
}

// Boxes the update worker asks for come on the user-interface thread.
class ThreadCheckingUi : public RecordingUi {
public:
    MessageAnswer messageBox(const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override {
        onGuiThread.push_back(QThread::currentThread() == qApp->thread());
        return RecordingUi::messageBox(text, buttons, icon);
    }
    std::vector<bool> onGuiThread;
};

TEST(UpdateWorker, TellsTheUserOnTheUiThreadAndClearsTheUpdatingFlag) {
    CFoliantDoc doc;
    ThreadCheckingUi ui;
    MemorySettingsStore settings;
    std::string error;
    ASSERT_TRUE(writeStringSetting(
        settings, kUpdateUrlValue,
        "http://127.0.0.1:" + std::to_string(closedPort()) + "/update.cfg", error));
    MainWindow window(doc, ui, settings);
    auto* commands = new MenuCommands(window, doc, ui, settings);
    commands->Run(cmd::kCheckForNewVersion);
    EXPECT_TRUE(window.frame().updating());
    EXPECT_FALSE(window.frame().OnClose());
    waitUntil([&] { return !window.frame().updating(); }, "the update worker to end");
    ASSERT_EQ(ui.messages.size(), 2u);  // the close refusal, then the worker's failure
    EXPECT_EQ(ui.messages[1].rfind("Can not get version information from internet.", 0), 0u)
        << ui.messages[1];
    EXPECT_EQ(ui.onGuiThread, (std::vector<bool>{true, true}));
    EXPECT_FALSE(readDwordSetting(settings, kLastUpdateCheckValue).has_value());
}

TEST(UpdateWorker, AWindowClosedWhileTheWorkerAsksDoesNotWaitForIt) {
    TestServer server;
    ASSERT_TRUE(server.start());
    HttpRequest request;
    request.url = server.http("/define?path=/closing.cfg");
    request.method = HttpMethod::Post;
    request.body = "release-date=2099-01-01\nupdate-file-url=" + server.http("/none") + "\n";
    StringSink sink;
    ASSERT_TRUE(HttpClient::shared().transfer(request, sink).done());
    CFoliantDoc doc;
    ThreadCheckingUi ui;
    MemorySettingsStore settings;
    std::string error;
    ASSERT_TRUE(writeStringSetting(settings, kUpdateUrlValue, server.http("/closing.cfg"), error));
    {
        MainWindow window(doc, ui, settings);
        auto* commands = new MenuCommands(window, doc, ui, settings);
        commands->Run(cmd::kCheckForNewVersion);
    }
    // The question was never shown, so the answer was No; the check still counts.
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(readDwordSetting(settings, kLastUpdateCheckValue), todayLocal().number());
    server.stop();
}

// The real program as the silent "--auto_update" instance, with private folders.
TEST(AutoUpdateInstance, DownloadsAndStartsTheUpdaterAndStoresTheDate) {
    TestServer server;
    ASSERT_TRUE(server.start());
    TempDir home;
    const std::string marker = home.path() + "/updater-arguments";
    auto define = [&](const std::string& path, const std::string& body) {
        HttpRequest request;
        request.url = server.http("/define?path=" + path);
        request.method = HttpMethod::Post;
        request.body = body;
        StringSink sink;
        EXPECT_TRUE(HttpClient::shared().transfer(request, sink).done());
        return server.http(path);
    };
    const std::string updater =
        define("/instance-updater", "#!/bin/sh\necho \"$@\" > '" + marker + ".part' && mv '" +
                                        marker + ".part' '" + marker + "'\n");
    const std::string config =
        define("/instance.cfg", "release-date=2099-01-01\nupdate-file-url=" + updater + "\n");
    for (const char* folder : {"config", "data", "cache", "runtime"}) {
        std::filesystem::create_directories(home.path() + "/" + folder);
    }
    std::filesystem::permissions(home.path() + "/runtime", std::filesystem::perms::owner_all);
    FileSettingsStore store(home.path() + "/config/paginor");
    std::string error;
    ASSERT_TRUE(writeStringSetting(store, kUpdateUrlValue, config, error)) << error;

    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "XDG_", 4) != 0 &&
            std::strncmp(*entry, "ASAN_OPTIONS=", 13) != 0) {
            env.emplace_back(*entry);
        }
    }
    for (const char* folder : {"CONFIG", "DATA", "CACHE", "RUNTIME"}) {
        std::string name = folder;
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        env.push_back(std::string("XDG_") + folder +
                      (std::string(folder) == "RUNTIME" ? "_DIR=" : "_HOME=") + home.path() + "/" +
                      name);
    }
    // The sanitizer build's program: Qt's own allocations are not this test's business.
    env.push_back(
        "ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0:alloc_dealloc_mismatch=0");
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("QTWEBENGINE_DISABLE_SANDBOX=1");
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string program = PAGINOR_PROGRAM;
    std::string argument = "--auto_update";
    std::vector<char*> argv{program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    waitUntil([&] { return std::filesystem::exists(marker); }, "the updater to be started");
    EXPECT_EQ(readFile(marker), "--prv_update\n");
    EXPECT_TRUE(std::filesystem::exists(home.path() + "/data/paginor/pgnupdate"));
    EXPECT_EQ(readDwordSetting(store, kLastUpdateCheckValue), todayLocal().number());
    server.stop();
}

}  // namespace
}  // namespace paginor
