#include "platform/http_client.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/settings_store.h"
#include "tests/support/http_test_server.h"

namespace paginor {
namespace {


std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return names;
}


class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/paginor-http-test-XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempFolder() {
        std::string command = "rm -rf '" + m_path + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

class HttpClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* name :
             {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            unsetenv(name);
        }
        s_started = s_server.start();
    }
    static void TearDownTestSuite() { s_server.stop(); }
    void SetUp() override { ASSERT_TRUE(s_started) << "the test HTTP server did not start"; }

    HttpRequest request(const std::string& url) const {
        HttpRequest r;
        r.url = url;
        r.connectTimeoutMs = 2000;
        r.responseTimeoutMs = 2000;
        r.idleTimeoutMs = 2000;
        return r;
    }

    std::string get(const std::string& url, HttpResult* result = nullptr) {
        StringSink sink;
        HttpResult r = m_client.transfer(request(url), sink);
        if (result != nullptr) {
            *result = r;
        }
        return sink.body();
    }

    int hits(const std::string& path) {
        return std::stoi(get(s_server.http("/hits?path=" + path)));
    }

    static TestServer s_server;
    static bool s_started;
    HttpClient m_client;
};

TestServer HttpClientTest::s_server;
bool HttpClientTest::s_started = false;

TEST_F(HttpClientTest, DeliversHeadAndBody) {
    HttpResult result;
    std::string body = get(s_server.http("/style.css"), &result);
    EXPECT_TRUE(result.done()) << result.message;
    EXPECT_EQ(result.head.status, 200);
    EXPECT_EQ(result.head.reason, "OK");
    EXPECT_TRUE(result.head.hasContentType);
    EXPECT_EQ(result.head.contentType, "text/css");
    EXPECT_EQ(result.head.contentLength, 25);
    EXPECT_EQ(body, "body { color: #336699; }\n");
    EXPECT_EQ(result.bodyBytes, 25);

    get(s_server.http("/no-type"), &result);
    EXPECT_TRUE(result.done());
    EXPECT_FALSE(result.head.hasContentType);
}

TEST_F(HttpClientTest, FollowsRedirectsToTheFinalHead) {
    int redirects = hits("/redirect");
    int sheets = hits("/style.css");
    HttpResult result;
    std::string body = get(s_server.http("/redirect"), &result);
    EXPECT_TRUE(result.done()) << result.message;
    EXPECT_EQ(result.head.status, 200);
    EXPECT_EQ(result.head.effectiveUrl, s_server.http("/style.css"));
    EXPECT_EQ(body, "body { color: #336699; }\n");
    EXPECT_EQ(hits("/redirect"), redirects + 1);
    EXPECT_EQ(hits("/style.css"), sheets + 1);
}

TEST_F(HttpClientTest, AnErrorStatusIsACompletedExchangeWithTheServersText) {
    HttpResult result;
    get(s_server.http("/missing"), &result);
    EXPECT_TRUE(result.done());
    EXPECT_EQ(result.head.status, 404);
    EXPECT_EQ(result.head.reason, "Not Found");
}

TEST_F(HttpClientTest, FailuresSayWhereAndWhy) {
    struct Case {
        const char* path;
        HttpPhase phase;
        HttpError error;
        const char* words;
    } cases[] = {
        {"/short", HttpPhase::Body, HttpError::Other, "transfer closed with 60 bytes remaining"},
        {"/slow-body", HttpPhase::Body, HttpError::TimedOut, "Timed out: no data for 1000 ms"},
        {"/slow-head", HttpPhase::Request, HttpError::TimedOut, "Timed out: no data for 1000 ms"},
    };
    for (const Case& c : cases) {
        HttpRequest r = request(s_server.http(c.path));
        r.responseTimeoutMs = 1000;
        r.idleTimeoutMs = 1000;
        StringSink sink;
        HttpResult result = m_client.transfer(r, sink);
        EXPECT_EQ(result.phase, c.phase) << c.path;
        EXPECT_EQ(result.error, c.error) << c.path;
        EXPECT_NE(result.message.find(c.words), std::string::npos) << c.path << result.message;
    }
}

TEST_F(HttpClientTest, ARefusedConnectionCarriesTheSocketError) {
    HttpResult result;
    get("http://127.0.0.1:" + std::to_string(closedPort()) + "/style.css", &result);
    EXPECT_EQ(result.phase, HttpPhase::Request);
    EXPECT_EQ(result.error, HttpError::Connect);
    EXPECT_EQ(result.osErrno, ECONNREFUSED);
    EXPECT_NE(result.message.find("Couldn't connect to server"), std::string::npos)
        << result.message;
}

TEST_F(HttpClientTest, OnlyHttpAndHttpsAreFetched) {
    HttpResult result;
    get("file:///etc/hostname", &result);
    EXPECT_EQ(result.phase, HttpPhase::Request);
    EXPECT_FALSE(result.message.empty());
}

TEST_F(HttpClientTest, CancelStopsTheTransfer) {
    std::atomic<bool> cancel{false};
    struct CancellingSink : StringSink {
        std::atomic<bool>* flag;
        bool head(const HttpResponseHead&) override {
            flag->store(true);
            return true;
        }
    } sink;
    sink.flag = &cancel;
    HttpRequest r = request(s_server.http("/slow-body"));
    r.idleTimeoutMs = 0;  // no time-out: only the flag can end it
    r.cancel = &cancel;
    HttpResult result = m_client.transfer(r, sink);
    EXPECT_EQ(result.phase, HttpPhase::Body);
    EXPECT_EQ(result.error, HttpError::Cancelled);
    EXPECT_EQ(result.message, "Transfer cancelled");
}

TEST_F(HttpClientTest, SinkRefusalAndExceptionsStopTheTransfer) {
    struct Refusing : StringSink {
        bool head(const HttpResponseHead&) override { return false; }
    } refusing;
    EXPECT_EQ(m_client.transfer(request(s_server.http("/style.css")), refusing).phase,
              HttpPhase::Sink);

    struct Throwing : StringSink {
        bool data(const char*, std::size_t) override { throw std::runtime_error("disk gone"); }
    } throwing;
    EXPECT_THROW(m_client.transfer(request(s_server.http("/style.css")), throwing),
                 std::runtime_error);
}

TEST_F(HttpClientTest, RelaxedTlsAcceptsASelfSignedServerAndStrictRefusesIt) {
    HttpRequest relaxed = request(s_server.https("/style.css"));
    relaxed.relaxedTls = true;
    StringSink sink;
    HttpResult result = m_client.transfer(relaxed, sink);
    EXPECT_TRUE(result.done()) << result.message;
    EXPECT_EQ(sink.body(), "body { color: #336699; }\n");

    HttpRequest strict = request(s_server.https("/style.css"));
    StringSink refused;
    result = m_client.transfer(strict, refused);
    EXPECT_EQ(result.phase, HttpPhase::Request);
    EXPECT_EQ(result.error, HttpError::Tls);
    EXPECT_FALSE(result.message.empty());
}

TEST_F(HttpClientTest, CookiesGoToTheirHostAndFolderFromEveryThread) {
    ASSERT_TRUE(m_client.setCookie(s_server.http("/app/page.jsp"), "a", "1"));
    ASSERT_TRUE(m_client.setCookie(s_server.http("/app/"), "b", "3"));
    EXPECT_FALSE(m_client.setCookie(s_server.http("/app/"), "bad\tname", "x"));
    EXPECT_FALSE(m_client.setCookie("not a url", "c", "4"));

    EXPECT_EQ(sortedCookies(get(s_server.http("/app/cookies"))), "a=1; b=3");
    EXPECT_EQ(sortedCookies(get(s_server.http("/app/deeper/cookies"))), "a=1; b=3");
    EXPECT_EQ(get(s_server.http("/other/cookies")), "");
    HttpRequest overTls = request(s_server.https("/app/cookies"));
    overTls.relaxedTls = true;
    StringSink tlsSink;
    m_client.transfer(overTls, tlsSink);
    EXPECT_EQ(sortedCookies(tlsSink.body()), "a=1; b=3") << "the cookies are for any scheme";

    std::string fromThread;
    std::thread worker([&] { fromThread = get(s_server.http("/app/cookies")); });
    worker.join();
    EXPECT_EQ(sortedCookies(fromThread), "a=1; b=3");

    HttpRequest without = request(s_server.http("/app/cookies"));
    without.sharedCookies = false;
    StringSink sink;
    m_client.transfer(without, sink);
    EXPECT_EQ(sink.body(), "");

    HttpClient other;
    StringSink separate;
    other.transfer(request(s_server.http("/app/cookies")), separate);
    EXPECT_EQ(separate.body(), "") << "each client keeps its own store";
}

TEST_F(HttpClientTest, PostSendsBodyHeadersAndAgent) {
    HttpRequest r = request(s_server.http("/echo"));
    r.method = HttpMethod::Post;
    r.body = std::string(3000, 'p');
    r.headers = {"Content-Type: text/xml"};
    r.userAgent = "paginor-test";
    StringSink sink;
    HttpResult result = m_client.transfer(r, sink);
    EXPECT_TRUE(result.done()) << result.message;
    EXPECT_EQ(sink.body(),
              "Method: POST\nUser-Agent: paginor-test\nPragma: \n"
              "Content-Type: text/xml\nBody: " +
                  std::string(3000, 'p'));
}

TEST_F(HttpClientTest, DownloadToFileReplacesTheTargetOnlyWhenComplete) {
    std::string jpeg = get(s_server.http("/image.jpg"));
    ASSERT_EQ(jpeg.size(), 261u);
    struct Case {
        const char* path;
        bool ok;
        const char* error;
    } cases[] = {
        {"/image.jpg", true, ""},
        {"/missing", false, "HTTP 404 Not Found"},
        {"/short", false, "transfer closed with 60 bytes remaining to read"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        std::string target = folder.path() + "/target.bin";
        std::ofstream(target) << "old";
        HttpResult result;
        std::string error;
        EXPECT_EQ(downloadToFile(m_client, request(s_server.http(c.path)), target, result, error),
                  c.ok)
            << c.path;
        EXPECT_EQ(readFile(target), c.ok ? jpeg : std::string("old")) << c.path;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.path << ": " << error;
        EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"target.bin"}) << c.path;
    }
}

class SettingsReaderTest : public ::testing::Test {
protected:
    void write(const std::string& hiveFile, const std::string& text) {
        std::ofstream(m_folder.path() + "/" + hiveFile, std::ios::binary) << text;
    }
    std::optional<std::string> read(std::string_view key, std::string_view name,
                                    SettingsHive hive = SettingsHive::CurrentUser) const {
        return FileSettingsStore(m_folder.path()).readString(hive, key, name);
    }
    TempFolder m_folder;
};

TEST_F(SettingsReaderTest, ReadsStringValuesOfTheRightKey) {
    write("HKEY_CURRENT_USER.reg",
          "\xEF\xBB\xBFREGEDIT4\r\n"
          "\r\n"
          "[HKEY_CURRENT_USER\\Software\\Orrin.Tadd\\Tabulan]\r\n"
          "\"basedir\"=\"C:\\\\Tabulan\\\\ \\\"x\\\"\"\r\n"
          "\"count\"=dword:00000003\r\n"
          "\"twice\"=\"first\"\r\n"
          "\"twice\"=\"second\"\r\n"
          "\"retyped\"=\"text\"\r\n"
          "\"retyped\"=hex:01,02\r\n"
          "[HKEY_CURRENT_USER\\Software\\Orrin.Tadd\\Tabulan\\Sub]\r\n"
          "\"sub\"=\"inner\"\r\n"
          "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
          "\"other\"=\"elsewhere\"\r\n");
    const std::string key = "Software\\Orrin.Tadd\\Tabulan";
    struct Case {
        std::string key;
        const char* name;
        std::optional<std::string> expected;
    } cases[] = {
        {key, "basedir", "C:\\Tabulan\\ \"x\""},
        {"SOFTWARE\\orrin.tadd\\TABULAN", "BaseDir", "C:\\Tabulan\\ \"x\""},
        {key, "count", std::nullopt},
        {key, "twice", "second"},
        {key, "retyped", std::nullopt},
        {key, "sub", std::nullopt},
        {key, "other", std::nullopt},
        {key + "\\Sub", "sub", "inner"},
        {key, "absent", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.key, c.name), c.expected) << c.key << " " << c.name;
    }
    EXPECT_EQ(read(key, "basedir", SettingsHive::LocalMachine), std::nullopt);
}

TEST_F(SettingsReaderTest, ABrokenLineHidesTheWholeHive) {
    write("HKEY_CURRENT_USER.reg",
          "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\X]\n\"v\"=\"u\"\n\"broken\"=\"no end\n");
    EXPECT_EQ(read("Software\\X", "v"), std::nullopt);
    EXPECT_NE(FileSettingsStore(m_folder.path()).hiveProblem(SettingsHive::CurrentUser).find("line 4"),
              std::string::npos);
}

TEST_F(SettingsReaderTest, EachHiveHasItsOwnFile) {
    write("HKEY_LOCAL_MACHINE.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\X]\n\"v\"=\"m\"\n");
    EXPECT_EQ(read("Software\\X", "v", SettingsHive::LocalMachine), "m");
    EXPECT_EQ(read("Software\\X", "v"), std::nullopt);
}

TEST_F(SettingsReaderTest, TheDefaultReaderUsesTheConfigurationFolder) {
    const char* saved = getenv("XDG_CONFIG_HOME");
    std::string previous = saved != nullptr ? saved : "";
    setenv("XDG_CONFIG_HOME", m_folder.path().c_str(), 1);
    EXPECT_EQ(defaultSettingsReader().readString(SettingsHive::CurrentUser, "Software\\X", "v"),
              std::nullopt);
    write("paginor/HKEY_CURRENT_USER.reg",
          "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\X]\n\"v\"=\"u\"\n");
    EXPECT_EQ(defaultSettingsReader().readString(SettingsHive::CurrentUser, "Software\\X", "v"),
              "u");
    if (saved != nullptr) {
        setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace paginor
