#include "app/startup.h"

#include <gtest/gtest.h>

#include <map>

#include "app/ui_services.h"
#include "app_fakes.h"
#include "core/report_core.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"

namespace paginor {
namespace {

struct ParseCase {
    const char* name;
    std::string text;
    ArgumentKind kind;
    std::string path;
    std::string address;
    bool hasCookie;
    std::string cookie;
};

std::map<std::string, std::string>& linkFiles() {
    static std::map<std::string, std::string> files;
    return files;
}

bool fakeRead(const std::string& path, std::string& content, std::size_t maxBytes) {
    auto it = linkFiles().find(path);
    if (it == linkFiles().end())
        return false;
    content = it->second.substr(0, maxBytes);
    return true;
}

TEST(CommandLineTest, TableOfArguments) {
    linkFiles()["/tmp/a.palk"] = "http://h/r.htm --cookie:x=1";
    const std::vector<ParseCase> cases = {
        {"empty", "", ArgumentKind::Empty, "", "", false, ""},
        {"install", "--install", ArgumentKind::Install, "", "", false, ""},
        {"short install", "-install", ArgumentKind::Install, "", "", false, ""},
        {"capital install is a path", "--INSTALL", ArgumentKind::LocalPath, "--INSTALL", "", false,
         ""},
        {"uninstall", "--uninstall", ArgumentKind::Uninstall, "", "", false, ""},
        {"auto update any case", "--AUTO_UPDATE x", ArgumentKind::AutoUpdate, "", "", false, ""},
        {"quoted path", "\"/tmp/my report.htm\"", ArgumentKind::LocalPath, "/tmp/my report.htm", "",
         false, ""},
        {"unclosed quote keeps the last character", "\"/tmp/r.htm", ArgumentKind::LocalPath,
         "/tmp/r.htm", "", false, ""},
        {"url", "--URL:http://h/r.htm", ArgumentKind::Url, "", "http://h/r.htm", false, ""},
        {"url with cookie", "--url:http://h/r.htm   --Cookie:a=1; b=2", ArgumentKind::Url, "",
         "http://h/r.htm", true, "a=1; b=2"},
        {"quoted cookie", "--url:http://h/r \"--cookie:a=1\"", ArgumentKind::Url, "", "http://h/r",
         true, "a=1"},
        {"no cookie after blanks", "--url:http://h/r other", ArgumentKind::Url, "", "http://h/r",
         false, ""},
        {"slashes collapsed before the query", "--url:http://h//a//b?x=//y", ArgumentKind::Url, "",
         "http://h/a/b?x=//y", false, ""},
        {"https slashes", "--url:https://h///a", ArgumentKind::Url, "", "https://h/a", false, ""},
        {"link file", "/tmp/a.palk", ArgumentKind::Url, "", "http://h/r.htm", true, "x=1"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        CommandLine line = ParseCommandLine(c.text, fakeRead);
        EXPECT_EQ(line.kind, c.kind);
        EXPECT_EQ(line.path, c.path);
        EXPECT_EQ(line.address, c.address);
        EXPECT_EQ(line.hasCookie, c.hasCookie);
        EXPECT_EQ(line.cookie, c.cookie);
    }
}

TEST(CommandLineTest, LinkFileAddressIsTakenWholeUpToTheAddressLimit) {
    // A link file's address must not be cut: up to the address limit it is taken whole, and a
    // longer one is refused like a long "--url:" argument.
    const std::string longest = "http://h/" + std::string(kMaxAddressBytes - 9, 'a');
    linkFiles()["/tmp/long.palk"] = longest;
    CommandLine line = ParseCommandLine("/tmp/long.palk", fakeRead);
    EXPECT_EQ(line.kind, ArgumentKind::Url);
    EXPECT_EQ(line.address, longest);
    EXPECT_FALSE(line.addressTooLong);

    linkFiles()["/tmp/longer.palk"] = longest + "b";
    line = ParseCommandLine("/tmp/longer.palk", fakeRead);
    EXPECT_TRUE(line.addressTooLong);
}

TEST(CommandLineTest, AddressOf2048BytesIsRefused) {
    const std::string fits = "http://h/" + std::string(kMaxAddressBytes - 9, 'a');
    EXPECT_FALSE(ParseCommandLine("--url:" + fits).addressTooLong);
    EXPECT_TRUE(ParseCommandLine("--url:" + fits + "b").addressTooLong);
}

TEST(CommandLineTest, JoinedArgumentsKeepTheCookie) {
    CommandLine line =
        ParseCommandLine(JoinArguments({"--url:http://h/r", "--cookie:a=1;", "b=2"}));
    EXPECT_EQ(line.address, "http://h/r");
    EXPECT_EQ(line.cookie, "a=1; b=2");
}

TEST(CommandLineTest, PrintFlagAndNonReportFiles) {
    EXPECT_TRUE(WantsPrintDirectly("http://h/r?pgrprintdirectly=1", false));
    EXPECT_TRUE(WantsPrintDirectly("http://h/r", true));
    EXPECT_FALSE(WantsPrintDirectly("http://h/r", false));
    EXPECT_TRUE(IsNonReportFile("/tmp/pgrAB.PDF"));
    EXPECT_TRUE(IsNonReportFile("/tmp/x.txt"));
    EXPECT_TRUE(IsNonReportFile("/tmp/x.doc"));
    EXPECT_FALSE(IsNonReportFile("/tmp/x.htm"));
}

TEST(StartupTest, UpdateRule) {
    EXPECT_EQ(DaysSince(20240101, {2024, 3, 31}), 90);
    EXPECT_EQ(DaysSince(0, {2024, 3, 31}), 0);
    EXPECT_EQ(DaysSince(20241399, {2024, 3, 31}), 0);
    const LocalTime later{{2024, 3, 31}, 12, 0, 0};
    EXPECT_TRUE(ShouldCheckForUpdate(90, 1, later));
    EXPECT_FALSE(ShouldCheckForUpdate(89, 1, later));
    EXPECT_FALSE(ShouldCheckForUpdate(90, 2, later));
    // The release date 2021-01-05 plus 30 days, 2 hours and 5 minutes: 2021-02-04 02:05.
    EXPECT_FALSE(ShouldCheckForUpdate(90, 1, {{2021, 2, 4}, 2, 5, 0}));
    EXPECT_TRUE(ShouldCheckForUpdate(90, 1, {{2021, 2, 4}, 2, 5, 1}));
}

class RecordingActions : public StartupActions {
public:
    explicit RecordingActions(SettingsStore& store) : store(store) {}
    void installSettings() override {
        log.push_back("install");
        InstallEnvironment env;
        env.today = {2024, 6, 1};
        InstallSettings(store, env);
    }
    void unregisterFileTypes() override { log.push_back("unregister"); }
    void showMainWindow() override { log.push_back("show"); }
    std::string title() const override { return currentTitle; }
    void setTitle(const std::string& text) override {
        currentTitle = text;
        log.push_back("title " + text);
    }
    void keywordSetup(const std::string& group) override { log.push_back("keywords " + group); }
    void runJob(DownloadState& state, DownloadMode mode) override {
        if (mode == DownloadMode::Download) {
            log.push_back("download " + state.path +
                          (state.cookie ? " cookie " + *state.cookie : ""));
            if (downloadTo.empty()) {
                state.setError("HTTP Status Codes: 404");
            } else {
                state.path = downloadTo;
                state.finished = true;
                state.succeeded = true;
            }
        } else {
            log.push_back("init " + state.path + " from '" + state.reportAddress + "'");
            if (initOk) {
                state.finished = true;
            } else {
                state.setError("cannot open");
            }
            state.succeeded = true;
        }
    }
    void openNonReportFile(const std::string& path, const std::string& address,
                           bool print) override {
        log.push_back("nonreport " + path + " from " + address + (print ? " print" : ""));
    }
    int runCommand(const std::string& command) override {
        log.push_back("run " + command);
        return 1;
    }
    void fillPageList() override { log.push_back("fill"); }
    void setProgress(int percent) override { log.push_back("progress " + std::to_string(percent)); }
    CReportCore& report() override { return core; }
    std::int32_t pageCount() override { return 7; }
    bool applyPrintDirectives() override {
        log.push_back("apply");
        return applyOk;
    }
    void openPrintSetup() override { log.push_back("setup"); }
    std::string printerName() const override { return printer; }
    void setUpdating(bool on) override { log.push_back(on ? "updating" : "not updating"); }
    void startUpdateThread(bool tell) override { log.push_back(tell ? "update tell" : "update"); }
    void placeUpdateCheckWindow() override { log.push_back("place"); }
    bool checkForUpdate(const std::string& url, std::string& updater) override {
        log.push_back("check " + url);
        updater = "/opt/pgnupdate";
        return newer;
    }
    bool startProgram(const std::vector<std::string>& argv) override {
        log.push_back("start " + JoinArguments(argv));
        return true;
    }

    SettingsStore& store;
    CReportCore core;
    std::vector<std::string> log;
    std::string currentTitle = "Paginor--Partner of Oracle Report Server";
    std::string downloadTo;
    bool initOk = true;
    bool applyOk = true;
    bool newer = true;
    std::string printer = "office";
};

struct StartupFixture : ::testing::Test {
    MemorySettingsStore store;
    RecordingUi ui;
    RecordingActions actions{store};
    StartupContext context{store, ui, actions, {{2024, 6, 1}, 10, 0, 0}, "help@example.com"};

    void installed() {
        InstallEnvironment env;
        env.today = {2024, 6, 1};
        InstallSettings(store, env);
    }
};

TEST_F(StartupFixture, FirstRunGreetsAndGivesNoHintNorUpdate) {
    EXPECT_TRUE(RunStartup("", context));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Thank you for choosing Paginor!");
    EXPECT_EQ(actions.log, (std::vector<std::string>{"install", "show"}));
}

TEST_F(StartupFixture, DefaultKeywordsGiveTheHintAndTheDialog) {
    installed();
    EXPECT_TRUE(RunStartup("", context));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].rfind("You have never setup URL keywords.", 0), 0u);
    EXPECT_EQ(actions.log, (std::vector<std::string>{"show", "keywords keywords"}));
}

TEST_F(StartupFixture, InstallSwitchInstallsAndEnds) {
    EXPECT_FALSE(RunStartup("--install", context));
    EXPECT_EQ(actions.log, (std::vector<std::string>{"install"}));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(StartupFixture, UninstallDeletesTheSettings) {
    installed();
    EXPECT_FALSE(RunStartup("--uninstall", context));
    EXPECT_EQ(actions.log.back(), "unregister");
    EXPECT_FALSE(keyExists(store, kPaginorKey));
    EXPECT_FALSE(keyExists(store, kPageSetupKey));
}

TEST_F(StartupFixture, LocalReportIsOpenedAndShown) {
    installed();
    EXPECT_TRUE(RunStartup("\"/tmp/r.htm\"", context));
    EXPECT_EQ(actions.log, (std::vector<std::string>{
                               "show", "title Initializing Report", "init /tmp/r.htm from ''",
                               "title Paginor--Partner of Oracle Report Server", "run nextpage",
                               "fill", "progress 0"}));
}

TEST_F(StartupFixture, OpeningFailureShowsTheText) {
    installed();
    actions.initOk = false;
    EXPECT_TRUE(RunStartup("/tmp/r.htm", context));
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"cannot open"}));
}

TEST_F(StartupFixture, DownloadedReportIsOpenedWithItsAddress) {
    installed();
    actions.downloadTo = "/tmp/pgr1.htm";
    EXPECT_TRUE(RunStartup("--url:http://h//r.htm --cookie:a=1", context));
    EXPECT_EQ(actions.log[1], "title Downloading file");
    EXPECT_EQ(actions.log[2], "download http://h/r.htm cookie a=1");
    EXPECT_NE(std::find(actions.log.begin(), actions.log.end(),
                        "init /tmp/pgr1.htm from 'http://h/r.htm'"),
              actions.log.end());
}

TEST_F(StartupFixture, DownloadFailureShowsTheError) {
    installed();
    EXPECT_TRUE(RunStartup("--url:http://h/missing", context));
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"HTTP Status Codes: 404"}));
}

TEST_F(StartupFixture, PdfWithPrintFlagGoesToThePrintTool) {
    installed();
    actions.downloadTo = "/tmp/pgr2.pdf";
    EXPECT_FALSE(RunStartup("--url:http://h/r?pgrprintdirectly=1", context));
    EXPECT_EQ(actions.log.back(),
              "nonreport /tmp/pgr2.pdf from http://h/r?pgrprintdirectly=1 print");
}

TEST_F(StartupFixture, PrintDirectlyPrintsEveryPageAndEnds) {
    installed();
    std::string error;
    ASSERT_TRUE(writeDwordSetting(store, kPrintDirectlyValue, 1, error));
    EXPECT_FALSE(RunStartup("/tmp/r.htm", context));
    EXPECT_EQ(actions.log[actions.log.size() - 2], "apply");
    EXPECT_EQ(actions.log.back(), "run print 1 7");
}

TEST_F(StartupFixture, PrintDirectlyWithoutPrinterOpensTheSetup) {
    installed();
    std::string error;
    ASSERT_TRUE(writeDwordSetting(store, kPrintDirectlyValue, 1, error));
    actions.printer.clear();
    EXPECT_FALSE(RunStartup("/tmp/r.htm", context));
    EXPECT_EQ(ui.messages,
              (std::vector<std::string>{"Failed to get the default printer. Please contact "
                                        "help@example.com and report the bug."}));
    EXPECT_EQ(actions.log.back(), "setup");
}

TEST_F(StartupFixture, RefusedDirectivesOpenTheSetup) {
    installed();
    std::string error;
    ASSERT_TRUE(writeDwordSetting(store, kPrintDirectlyValue, 1, error));
    actions.applyOk = false;
    EXPECT_FALSE(RunStartup("/tmp/r.htm", context));
    EXPECT_EQ(actions.log.back(), "setup");
}

TEST_F(StartupFixture, UpdateCheckAfterNinetyDays) {
    installed();
    std::string error;
    ASSERT_TRUE(writeDwordSetting(store, kLastUpdateCheckValue, 20240101, error));
    ASSERT_TRUE(writeDwordSetting(store, kUpdateFlagValue, 3, error));
    ASSERT_TRUE(writeStringSetting(store, kKeywordsValue, "mine", error));
    EXPECT_TRUE(RunStartup("", context));
    EXPECT_EQ(actions.log, (std::vector<std::string>{"show", "updating", "update tell"}));
}

TEST_F(StartupFixture, AutoUpdateStartsTheUpdaterAndStoresTheDate) {
    installed();
    std::string error;
    ASSERT_TRUE(writeDwordSetting(store, kLastUpdateCheckValue, 20200101, error));
    EXPECT_FALSE(RunStartup("--auto_update", context));
    EXPECT_EQ(actions.log.back(), "start /opt/pgnupdate --prv_update");
    EXPECT_EQ(readDwordSetting(store, kLastUpdateCheckValue), 20240601u);
    EXPECT_EQ(ui.waitCursorCalls, (std::vector<bool>{true, false}));
}

TEST_F(StartupFixture, TooLongAddressIsRefused) {
    installed();
    EXPECT_TRUE(RunStartup("--url:http://h/" + std::string(3000, 'a'), context));
    EXPECT_EQ(ui.messages,
              (std::vector<std::string>{"The size of command line buffer is not enough"}));
    EXPECT_EQ(actions.log, (std::vector<std::string>{"show"}));
}

}  // namespace
}  // namespace paginor
