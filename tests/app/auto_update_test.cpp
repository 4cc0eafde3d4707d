#include "app/auto_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/http_client.h"
#include "platform/process.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/app/app_fakes.h"
#include "tests/core/temp_dir.h"
#include "tests/support/http_test_server.h"
#include "tests/support/waiting.h"

namespace paginor {
namespace {

TEST(UpdateConfig, ReadsDatesAndTheLastUpdaterAddress) {
    struct Case {
        const char* text;
        bool newer;
        std::size_t dates;
        const char* updater;  // null: none
    };
    const Case cases[] = {
        {"release-date=2021-01-05\nupdate-file-url=http://h/u\n", false, 1, "http://h/u"},
        {"RELEASE-DATE=2021-01-06\r\nUPDATE-FILE-URL=http://h/u\r\n", true, 1, "http://h/u"},
        {" release-date=2030-01-01\n\tupdate-file-url=http://h/u\n", false, 0, nullptr},
        {"# release-date=2030-01-01\n#update-file-url=x\n", false, 0, nullptr},
        {"release-date=2021-01-05 \t\nupdate-file-url=http://h/u  \n", false, 1, "http://h/u"},
        {"update-file-url=http://h/1\nrelease-date=2020-12-31\nrelease-date=2021-02-01\n"
         "update-file-url=http://h/2",
         true, 2, "http://h/2"},
        {"release-date=2021-01-05x\r trailing\n", true, 1, nullptr},
    };
    for (const Case& c : cases) {
        const UpdateConfig config = ParseUpdateConfig(c.text);
        EXPECT_EQ(IsNewerRelease(config, kReleaseDateText), c.newer) << c.text;
        EXPECT_EQ(config.releaseDates.size(), c.dates) << c.text;
        EXPECT_EQ(config.hasUpdateFileUrl, c.updater != nullptr) << c.text;
        if (c.updater != nullptr) {
            EXPECT_EQ(config.updateFileUrl, c.updater) << c.text;
        }
    }
}

class AutoUpdate : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(s_server.start()); }
    static void TearDownTestSuite() { s_server.stop(); }

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(writeStringSetting(m_settings, kUpdateUrlValue, "http://unused/", error));
    }

    // Serves body at path from now on.
    static std::string define(const std::string& path, const std::string& body,
                              const std::string& options = "") {
        HttpRequest request;
        request.url = s_server.http("/define?path=" + path + options);
        request.method = HttpMethod::Post;
        request.body = body;
        StringSink sink;
        EXPECT_TRUE(HttpClient::shared().transfer(request, sink).done());
        return s_server.http(path);
    }

    static std::string config(const std::string& name, const std::string& date,
                              const std::string& updaterUrl) {
        return define("/" + name + ".cfg",
                      "# Paginor\nrelease-date=" + date + "\nupdate-file-url=" + updaterUrl + "\n");
    }

    bool check(int mode, const std::string& url, bool& newer) {
        m_message.clear();
        m_updater.clear();
        return CheckForUpdate(mode, m_message, &url, m_updater, newer, m_env);
    }

    std::string updaterFile() const { return m_folder.path() + "/pgnupdate"; }
    std::uint32_t storedDate() const {
        return readDwordSetting(m_settings, kLastUpdateCheckValue).value_or(0);
    }

    static TestServer s_server;
    TempDir m_folder;
    MemorySettingsStore m_settings;
    UpdateEnvironment m_env{m_settings, HttpClient::shared(), m_folder.path()};
    std::string m_message;
    std::string m_updater;
};

TestServer AutoUpdate::s_server;

TEST_F(AutoUpdate, FailuresGiveTheirTexts) {
    const std::string updater = define("/fail-updater", "#!/bin/sh\n");
    struct Case {
        std::string url;
        std::string message;  // the start of it
    };
    const Case cases[] = {
        {config("equal", kReleaseDateText, updater),
         "No newer version is found\nCurrent version release date:2021-01-05\nThe version on "
         "server release date:2021-01-05"},
        {define("/comments.cfg", "# release-date=2030-01-01\n# nothing else\n"),
         "Fail to analysize \"update configuration file\". Can not find key word 'release-date' "
         "from downloaded \"update configuration file\" "},
        {define("/no-url.cfg", "release-date=2030-01-01\n"),
         "Fail to analysize \"update configuration file\". Can not find key word "
         "'update-file-url' from downloaded \"update configuration file\" "},
        {s_server.http("/missing.cfg"),
         "Can not download the \"update configuration file\" file.\nHTTP Status Codes: 404 , "
         "\nPlease check the web server,make sure that the file exists"},
        {"http://127.0.0.1:" + std::to_string(closedPort()) + "/update.cfg",
         "Can not get version information from internet. Fail to download the \"update "
         "configuration file\", Please check the network or your URL.\n\nError message:"},
        {s_server.http("/short"), "Download the \"update configuration file\" Interrupted.\n"},
        // The test server's certificate is its own: never trusted for updates.
        {s_server.https("/style.css"),
         "Can not get version information from internet. Fail to download the \"update "
         "configuration file\", Please check the network or your URL.\n\nError message:"},
        {define("/long.cfg", std::string(kMaxUpdateConfigBytes + 1, '#')),
         "Download the \"update configuration file\" Interrupted.\n"},
        {config("updater-404", "2030-01-01", s_server.http("/missing-updater")),
         "Can not download the \"update data file\" file.\nHTTP Status Codes: 404"},
        {config("updater-cut", "2030-01-01", define("/cut-updater", "#!/bin/sh\n", "&cut=1")),
         "Download the \"update data file\" Interrupted.\n"},
    };
    for (const Case& c : cases) {
        bool newer = true;
        EXPECT_FALSE(check(kCheckAndDownload, c.url, newer)) << c.url;
        EXPECT_FALSE(newer);
        EXPECT_EQ(m_message.rfind(c.message, 0), 0u) << c.url << "\n" << m_message;
        EXPECT_LT(m_message.size(), kUpdateMessageBytes);
        EXPECT_FALSE(std::filesystem::exists(updaterFile())) << c.url;
    }
    // Checking only, an equal date is an answer, not a failure.
    bool newer = true;
    EXPECT_TRUE(check(kCheckOnly, cases[0].url, newer));
    EXPECT_FALSE(newer);
}

TEST_F(AutoUpdate, ANewerVersionBringsTheUpdaterWhole) {
    const std::string body = "#!/bin/sh\nexit 0\n";
    const std::string url =
        define("/only.cfg",
               "release-date=2021-01-06\nupdate-file-url=" + s_server.http("/missing-updater") +
                   "\nupdate-file-url=" + define("/good-updater", body) + "\n");
    bool newer = false;
    EXPECT_TRUE(check(kCheckOnly, url, newer));
    EXPECT_TRUE(newer);
    EXPECT_FALSE(std::filesystem::exists(updaterFile()));

    ASSERT_TRUE(check(kSilentInstance, url, newer)) << m_message;
    EXPECT_EQ(m_updater, updaterFile());
    EXPECT_EQ(readFile(m_updater), body);
    struct stat st {};
    ASSERT_EQ(stat(m_updater.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A later cut download leaves the earlier updater as it was.
    ASSERT_FALSE(check(kCheckAndDownload,
                       config("cut-again", "2030-01-01",
                              define("/cut-again-updater", "#!/bin/sh\nexit 1\n", "&cut=1")),
                       newer));
    EXPECT_EQ(readFile(updaterFile()), body);
}

TEST_F(AutoUpdate, DownloadsNameTheUpdateAgent) {
    std::string path;
    ASSERT_TRUE(DownloadUpdater(m_message, s_server.http("/echo"), path, m_env)) << m_message;
    EXPECT_NE(readFile(path).find("User-Agent: Paginor Auto-Update\n"), std::string::npos)
        << readFile(path);
}

// Records what the worker starts and how often it clears the updating flag.
struct WorkerRecord {
    std::vector<std::vector<std::string>> started;
    int cleared = 0;
    bool startSucceeds = true;
};

UpdateThreadServices workerServices(RecordingUi& ui, WorkerRecord& record) {
    UpdateThreadServices services{ui, nullptr, nullptr, "/opt/paginor/paginor", {2021, 6, 7}};
    services.startProgram = [&record](const std::vector<std::string>& argv, std::string& error) {
        record.started.push_back(argv);
        error = "cannot start";
        return record.startSucceeds;
    };
    services.clearUpdating = [&record] { ++record.cleared; };
    return services;
}

TEST_F(AutoUpdate, TheWorkerAsksStartsAndStoresTheDate) {
    std::string error;
    const std::string newerUrl =
        config("worker-newer", "2030-01-01", define("/worker-updater", "#!/bin/sh\n"));
    const std::string equalUrl = config("worker-equal", kReleaseDateText, newerUrl);
    struct Case {
        const char* name;
        std::string url;  // empty: no update_url
        unsigned flags;
        MessageAnswer answer;
        std::vector<std::string> messages;
        std::size_t starts;
        bool dateStored;
    };
    const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/u.cfg";
    const Case cases[] = {
        {"yes",
         newerUrl,
         3,
         MessageAnswer::Yes,
         {kNewerVersionQuestion, kUpdateTakesEffect},
         1,
         true},
        {"no", newerUrl, 1, MessageAnswer::No, {kNewerVersionQuestion}, 0, true},
        {"not newer, told", equalUrl, 3, MessageAnswer::Yes, {kNoNewerVersion}, 0, true},
        {"not newer, quiet", equalUrl, 1, MessageAnswer::Yes, {}, 0, true},
        {"failure, quiet", refused, 1, MessageAnswer::Yes, {}, 0, false},
        {"no address",
         "",
         3,
         MessageAnswer::Yes,
         {"Can not get update_url information from registry"},
         0,
         false},
    };
    for (const Case& c : cases) {
        MemorySettingsStore settings;
        if (!c.url.empty()) {
            ASSERT_TRUE(writeStringSetting(settings, kUpdateUrlValue, c.url, error));
        } else {
            ASSERT_TRUE(writeDwordSetting(settings, kUpdateFlagValue, 3u, error));
        }
        UpdateEnvironment env{settings, HttpClient::shared(), m_folder.path()};
        RecordingUi ui;
        ui.answer = c.answer;
        WorkerRecord record;
        UpdateThreadServices services = workerServices(ui, record);
        UpdateThreadProc(c.flags, env, services);
        EXPECT_EQ(ui.messages, c.messages) << c.name;
        EXPECT_EQ(record.started.size(), c.starts) << c.name;
        if (c.starts == 1) {
            EXPECT_EQ(record.started[0],
                      (std::vector<std::string>{m_folder.path() + "/pgnupdate", "--prv_update"}));
        }
        EXPECT_EQ(readDwordSetting(settings, kLastUpdateCheckValue).has_value(), c.dateStored)
            << c.name;
        EXPECT_EQ(record.cleared, 1) << c.name;
    }
}

TEST_F(AutoUpdate, TheWorkerWithoutFlagsStartsTheSilentInstance) {
    RecordingUi ui;
    WorkerRecord record;
    UpdateThreadServices services = workerServices(ui, record);
    UpdateThreadProc(0, m_env, services);
    ASSERT_EQ(record.started.size(), 1u);
    EXPECT_EQ(record.started[0],
              (std::vector<std::string>{"/opt/paginor/paginor", "--auto_update"}));
    EXPECT_EQ(storedDate(), 20210607u);
    EXPECT_EQ(record.cleared, 1);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AutoUpdate, AnUpdaterThatCannotStartIsNotReportedAsStarted) {
    const std::string url =
        config("no-start", "2030-01-01", define("/no-start-updater", "#!/bin/sh\n"));
    std::string error;
    ASSERT_TRUE(writeStringSetting(m_settings, kUpdateUrlValue, url, error));
    RecordingUi ui;
    WorkerRecord record;
    record.startSucceeds = false;
    UpdateThreadServices services = workerServices(ui, record);
    UpdateThreadProc(3, m_env, services);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1], "Fail to start the \"update data file\".\ncannot start");
    EXPECT_EQ(record.cleared, 1);
}

TEST_F(AutoUpdate, TheRealUpdaterStartsWithItsSwitch) {
    const std::string marker = m_folder.path() + "/arguments";
    const std::string url =
        config("real", "2030-01-01",
               define("/real-updater", "#!/bin/sh\necho \"$@\" > '" + marker + ".part' && mv '" +
                                           marker + ".part' '" + marker + "'\n"));
    std::string error;
    ASSERT_TRUE(writeStringSetting(m_settings, kUpdateUrlValue, url, error));
    RecordingUi ui;
    UpdateThreadServices services{ui, spawnDetached, nullptr, "", {2021, 6, 7}};
    UpdateThreadProc(3, m_env, services);
    EXPECT_EQ(ui.messages.back(), kUpdateTakesEffect);
    pollUntil([&] { return std::filesystem::exists(marker); }, "the updater to be started");
    EXPECT_EQ(readFile(marker), "--prv_update\n");
}

TEST(AutoUpdateChoice, OkWritesOnlyWhatTheRulesAsk) {
    struct Case {
        const char* name;
        AutoUpdateChoice choice;
        bool ok;
        const char* message;
        std::optional<std::uint32_t> flag;
        std::optional<std::string> url;
    };
    const Case cases[] = {
        {"off and was off",
         {false, true, false, "http://h/c"},
         true,
         "",
         std::nullopt,
         std::nullopt},
        {"turned off", {false, true, true, "http://h/c"}, true, "", 2u, std::nullopt},
        {"on with notify", {true, true, false, "http://h/c"}, true, "", 3u, "http://h/c"},
        {"empty address",
         {true, false, true, ""},
         false,
         "Please Input the URL of configuration file",
         std::nullopt,
         std::nullopt},
        {"address too long",
         {true, false, true, std::string(260, 'h')},
         false,
         "The URL of configuration file is longer than 259 characters",
         std::nullopt,
         std::nullopt},
    };
    for (const Case& c : cases) {
        MemorySettingsStore settings;
        std::string message;
        EXPECT_EQ(SaveAutoUpdateChoice(settings, c.choice, message), c.ok) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
        EXPECT_EQ(readDwordSetting(settings, kUpdateFlagValue), c.flag) << c.name;
        EXPECT_EQ(readStringSetting(settings, kUpdateUrlValue), c.url) << c.name;
    }
}

TEST(AutoUpdateChoice, OpensWithDefaultsThenTheStoredValues) {
    MemorySettingsStore settings;
    AutoUpdateChoice fresh = LoadAutoUpdateChoice(settings);
    EXPECT_TRUE(fresh.enabled);
    EXPECT_FALSE(fresh.notify);
    EXPECT_EQ(fresh.address, kDefaultUpdateUrl);
    std::string error;
    ASSERT_TRUE(writeDwordSetting(settings, kUpdateFlagValue, 2u, error));
    ASSERT_TRUE(writeStringSetting(settings, kUpdateUrlValue, "http://h/c", error));
    const AutoUpdateChoice stored = LoadAutoUpdateChoice(settings);
    EXPECT_FALSE(stored.enabled);
    EXPECT_FALSE(stored.enabledWhenOpened);
    EXPECT_TRUE(stored.notify);
    EXPECT_EQ(stored.address, "http://h/c");
}

}  // namespace
}  // namespace paginor
