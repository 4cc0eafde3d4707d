#include "app/download_state.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "app_fakes.h"
#include "core/report_core.h"
#include "http_test_server.h"
#include "platform/http_client.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/core/temp_dir.h"
#include "tests/support/fake_printer_system.h"
#include "tests/support/waiting.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;

TEST(DownloadPureTest, UnwrapAddress) {
    EXPECT_EQ(UnwrapAddress("http://h/r"), "http://h/r");
    EXPECT_EQ(UnwrapAddress("RES://C:\\WINDOWS\\shdoclc.dll/navcancl.htm#http://h/r?a=1"),
              "http://h/r?a=1");
    EXPECT_EQ(
        UnwrapAddress("res://shdoclc.dll/navcancl.htm#javascript:redirect( '\"http://h/r\"');"),
        "http://h/r");
    EXPECT_EQ(UnwrapAddress("shdoclc.dll/navcancl.htm#http://h/r"),
              "shdoclc.dll/navcancl.htm#http://h/r");
}

TEST(DownloadPureTest, ExtensionAndPercent) {
    EXPECT_STREQ(DownloadExtension("application/PDF"), ".pdf");
    EXPECT_STREQ(DownloadExtension("application/msword"), ".doc");
    EXPECT_STREQ(DownloadExtension("text/plain; charset=utf-8"), ".txt");
    EXPECT_STREQ(DownloadExtension("text/html"), ".htm");
    EXPECT_STREQ(DownloadExtension(""), ".htm");
    EXPECT_EQ(DownloadPercent(1, 3), 33);
    EXPECT_EQ(DownloadPercent(50, 99), 50);
    EXPECT_EQ(DownloadPercent(3, 3), 100);
    EXPECT_EQ(DownloadPercent(0, 0), 0);
    EXPECT_EQ(DownloadPercent(std::int64_t{3} << 31, std::int64_t{4} << 31), 75);
}

TEST(DownloadStateTest, CloseBeforeTheDialogIsRemembered) {
    DownloadState state;
    state.reset();
    state.CloseDialog();
    int closes = 0;
    EXPECT_TRUE(state.attachDialog([&closes] { ++closes; }));
    EXPECT_EQ(closes, 0);
    state.reset();
    EXPECT_FALSE(state.attachDialog([&closes] { ++closes; }));
    state.CloseDialog();
    EXPECT_EQ(closes, 1);
    state.detachDialog();
    state.CloseDialog();
    EXPECT_EQ(closes, 1);
}

TEST(DownloadStateTest, ErrorTextIsCutToTheBuffer) {
    DownloadState state;
    state.setError(std::string(600, 'e'));
    EXPECT_EQ(state.errorText.size(), 511u);
}

class DownloadFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(server().start()); }
    static void TearDownTestSuite() { server().stop(); }
    static TestServer& server() {
        static TestServer s;
        return s;
    }
    void SetUp() override {
        char folder[] = "/tmp/paginor-download-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        temp = folder;
        env.tempFolder = temp;
        env.connectTimeoutMs = 5000;
        env.responseTimeoutMs = 5000;
        env.idleTimeoutMs = 5000;
        env.progress = [this](int p) { progress.push_back(p); };
    }
    void TearDown() override { fs::remove_all(temp); }

    void download(const std::string& url) {
        state.reset();
        state.path = url;
        state.pathCapacity = DownloadState::kPathCapacity;
        state.attachDialog([this] { ++closes; });
        DownloadThreadProc(state, env);
    }

    std::string temp;
    DownloadEnvironment env;
    DownloadState state;
    std::vector<int> progress;
    int closes = 0;
};

TEST_F(DownloadFixture, ReportIsDownloadedIntoATemporaryFile) {
    download(server().http("/report.htm"));
    EXPECT_TRUE(state.succeeded);
    EXPECT_TRUE(state.finished);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(state.errorText, "");
    EXPECT_EQ(state.path.rfind(temp + "/pgr", 0), 0u) << state.path;
    EXPECT_EQ(state.path.substr(state.path.size() - 4), ".htm");
    EXPECT_NE(readFile(state.path).find("Page one"), std::string::npos);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
}

TEST_F(DownloadFixture, ContentTypesGiveTheExtension) {
    download(server().http("/doc.pdf"));
    EXPECT_EQ(state.path.substr(state.path.size() - 4), ".pdf");
    download(server().http("/plain-charset"));
    EXPECT_EQ(state.path.substr(state.path.size() - 4), ".txt");
}

TEST_F(DownloadFixture, NotFoundGivesTheStatus) {
    download(server().http("/nothing"));
    EXPECT_FALSE(state.succeeded);
    EXPECT_FALSE(state.finished);
    EXPECT_EQ(state.errorText, "HTTP Status Codes: 404");
    EXPECT_EQ(closes, 1);
}

TEST_F(DownloadFixture, EmptyFilesAreRefused) {
    const std::string url = server().http("/empty");
    download(url);
    EXPECT_FALSE(state.succeeded);
    EXPECT_EQ(state.errorText, "The size of the file is 0:[More Info:DLTP]The URL:" + url);
    const std::string url2 = server().http("/empty-no-length");
    download(url2);
    EXPECT_FALSE(state.succeeded);
    EXPECT_EQ(state.errorText, "The size of the file is 0:[More Info:DLTP]The URL:" + url2);
}

TEST_F(DownloadFixture, MissingLengthStreamsToTheEnd) {
    download(server().http("/no-length"));
    EXPECT_TRUE(state.succeeded) << state.errorText;
    EXPECT_NE(readFile(state.path).find("Page one"), std::string::npos);
}

TEST_F(DownloadFixture, SelfSignedHttpsIsAccepted) {
    download(server().https("/report.htm"));
    EXPECT_TRUE(state.succeeded) << state.errorText;
}

TEST_F(DownloadFixture, WrappedAddressDownloadsTheRealOne) {
    download("res://ieframe/shdoclc.dll/navcancl.htm#" + server().http("/report.htm"));
    EXPECT_TRUE(state.succeeded) << state.errorText;
}

TEST_F(DownloadFixture, CookieReachesTheServer) {
    state.cookie = "a=1; tabulancookie9=x";
    state.reset();
    state.path = server().http("/c1/cookies");
    state.cookie = "a=1; tabulancookie9=x";
    DownloadThreadProc(state, env);
    ASSERT_TRUE(state.succeeded) << state.errorText;
    EXPECT_EQ(readFile(state.path), "a=1");
}

TEST_F(DownloadFixture, RefusedConnectionGivesDtp1) {
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/r";
    download(url);
    EXPECT_FALSE(state.succeeded);
    EXPECT_EQ(state.errorText.rfind("Runtime exception[DTP1]:", 0), 0u) << state.errorText;
    EXPECT_NE(state.errorText.find("\r\n[More Info]The URL: " + url), std::string::npos);
}

TEST_F(DownloadFixture, SecureRefusedConnectionGivesInternetConnect) {
    download("https://127.0.0.1:" + std::to_string(closedPort()) + "/r");
    EXPECT_EQ(state.errorText.rfind("Runtime exception[InternetConnect]:", 0), 0u)
        << state.errorText;
    download("https://127.0.0.1");
    EXPECT_EQ(state.errorText, "Invalid URL :https://127.0.0.1");
}

// A report server that sends a byte now and then fails as too slow, and no file is left.
TEST_F(DownloadFixture, ADripFeedingServerFailsAsTooSlowAndLeavesNoFile) {
    env.lowSpeedWindowMs = 1000;
    for (bool secure : {false, true}) {
        download(secure ? server().https("/drip") : server().http("/drip"));
        EXPECT_FALSE(state.succeeded) << secure;
        EXPECT_NE(state.errorText.find("Too slow: less than 1024 bytes a second for 1000 ms"),
                  std::string::npos)
            << state.errorText;
        EXPECT_TRUE(fs::is_empty(temp)) << secure;
    }
}

TEST_F(DownloadFixture, CancelDuringTheBodyLeavesNoErrorAndThePartialFile) {
    state.reset();
    state.path = server().http("/slow-body");
    state.attachDialog([this] { ++closes; });
    std::thread worker([this] { DownloadThreadProc(state, env); });
    // Wait until the body has begun, then cancel as the dialog does.
    pollUntil([&] { return !progress.empty(); }, "the body to begin");
    state.detachDialog();
    state.finished = true;
    state.cancelRequested = true;
    worker.join();
    EXPECT_FALSE(state.succeeded);
    EXPECT_TRUE(state.finished);
    EXPECT_EQ(state.errorText, "");
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(readFile(state.path), std::string(10, 'x'));
}

TEST_F(DownloadFixture, InitialisationOpensTheReport) {
    download(server().http("/sample.htm"));
    ASSERT_TRUE(state.succeeded);
    CReportCore core;
    const std::string file = state.path;
    state.reset();
    state.path = file;
    state.report = &core;
    state.attachDialog([this] { ++closes; });
    std::thread worker([this] { InitReportThreadProc(state); });
    worker.join();
    EXPECT_TRUE(state.succeeded);
    EXPECT_TRUE(state.finished) << state.errorText;
    EXPECT_GE(core.GetPageCount(), 1);
}

TEST_F(DownloadFixture, InitialisationFailureGivesTheReportText) {
    CReportCore core;
    state.reset();
    state.path = temp + "/missing.htm";
    state.report = &core;
    InitReportThreadProc(state);
    EXPECT_TRUE(state.succeeded);
    EXPECT_FALSE(state.finished);
    EXPECT_FALSE(state.errorText.empty());
    EXPECT_EQ(state.errorText, core.GetErrorText().substr(0, 511));
}

TEST_F(DownloadFixture, NonReportNoticeOnTheFirstFourFiles) {
    MemorySettingsStore store;
    std::string error;
    ASSERT_TRUE(store.setString(kPaginorKey.hive, kPaginorKey.path, "version", "1.4.9", error));
    RecordingUi ui;
    std::vector<std::vector<std::string>> started;
    NonReportEnvironment nonReport{&store, &ui,
                                   [&started](const std::vector<std::string>& argv, std::string&) {
                                       started.push_back(argv);
                                       return true;
                                   }};
    for (int i = 0; i < 5; ++i)
        OpenNonReportFile("/tmp/x.PDF", false, nonReport);
    OpenNonReportFile("/tmp/y.txt", false, nonReport);
    ASSERT_EQ(ui.messages.size(), 5u);
    EXPECT_EQ(ui.messages[0],
              "Paginor support oracle report in HTML/HTMLCSS format only. It is not able to open "
              ".PDF file.\nNow the default associated program of this file will be called.\n"
              "Full file path: /tmp/x.PDF");
    EXPECT_EQ(readDwordSetting(store, kOpenFlagPdfValue), 4u);
    EXPECT_EQ(readDwordSetting(store, kOpenFlagTxtValue), 1u);
    ASSERT_EQ(started.size(), 6u);
    EXPECT_EQ(started[0], (std::vector<std::string>{"xdg-open", "/tmp/x.PDF"}));
}

// Text and Word files to print go to the current printer through the print system, titled with
// the address they came from; what it cannot print is said, and nothing is opened instead.
TEST_F(DownloadFixture, OtherFilesToPrintGoToThePrinter) {
    struct Case {
        const char* file;
        const char* current;  // the current printer
        const char* destination;
        const char* format;
        const char* message;  // nullptr: none
        const char* address;  // where the file came from
        const char* title;
    };
    const Case cases[] = {
        {"notes.txt", "Lab", "Lab", "text/plain", nullptr, "https://reports.example.com/n?id=4",
         "https://reports.example.com/n?id=4"},
        {"NOTES.TXT", "Gone", "Office", "text/plain", nullptr, "", "NOTES.TXT"},
        {"memo.doc", "Lab", nullptr, nullptr,
         "Cannot print {dir}/memo.doc on Lab: Printer \"Lab\" cannot print documents of type "
         "application/msword",
         "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir dir;
        const std::string path = dir.write(c.file, "Quarterly notes\r\n");
        FakePrinterSystem printers;
        printers.addDestination("Office", FakePrinterSystem::standardDestination());
        printers.addDestination("Lab", FakePrinterSystem::standardDestination());
        MemorySettingsStore store;
        RecordingUi ui;
        int starts = 0;
        NonReportEnvironment nonReport{&store, &ui,
                                       [&starts](const std::vector<std::string>&, std::string&) {
                                           ++starts;
                                           return true;
                                       }};
        nonReport.printers = &printers;
        nonReport.printer = c.current;
        nonReport.address = c.address;
        OpenNonReportFile(path, true, nonReport);
        EXPECT_EQ(starts, 0);
        const auto jobs = printers.submissions();
        if (c.destination == nullptr) {
            EXPECT_TRUE(jobs.empty());
            std::string message = c.message;
            message.replace(message.find("{dir}"), 5, dir.path());
            ASSERT_FALSE(ui.messages.empty());
            EXPECT_EQ(ui.messages.back(), message);
            continue;
        }
        ASSERT_EQ(jobs.size(), 1u);
        EXPECT_EQ(jobs[0].destination, c.destination);
        EXPECT_EQ(jobs[0].format, c.format);
        EXPECT_EQ(jobs[0].title, c.title);
        EXPECT_EQ(jobs[0].pdf, "Quarterly notes\r\n");
    }
}

TEST_F(DownloadFixture, PdfToPrintIsPostedToThePrintTool) {
    MemorySettingsStore store;
    RecordingUi ui;
    int starts = 0;
    NonReportEnvironment nonReport{&store, &ui,
                                   [&starts](const std::vector<std::string>&, std::string&) {
                                       ++starts;
                                       return true;
                                   },
                                   "127.0.0.1", server().httpPort()};
    OpenNonReportFile("/tmp/a b/r.pdf", true, nonReport);
    EXPECT_EQ(starts, 0);
    StringSink sink;
    HttpRequest request;
    request.url = server().http("/last-printdoc");
    ASSERT_TRUE(HttpClient::shared().transfer(request, sink).done());
    EXPECT_EQ(sink.body(), "reportName=test&docPath=%2Ftmp%2Fa+b%2Fr%2Epdf");
    nonReport.printToolPort = closedPort();
    OpenNonReportFile("/tmp/r.pdf", true, nonReport);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().rfind("Failed to post data to Mirel Printing Tool. ", 0), 0u);
}

}  // namespace
}  // namespace paginor
