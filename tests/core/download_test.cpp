#include "core/download.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "platform/http_client.h"
#include "temp_dir.h"
#include "tests/support/http_test_server.h"

namespace paginor {
namespace {

// Every file below the folder, as paths relative to it.
std::vector<std::string> filesBelow(const std::string& folder, const std::string& prefix = "") {
    std::vector<std::string> files;
    DIR* dir = opendir(folder.c_str());
    while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        std::string path = folder + "/" + name;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::vector<std::string> inner = filesBelow(path, prefix + name + "/");
            files.insert(files.end(), inner.begin(), inner.end());
        } else {
            files.push_back(prefix + name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return files;
}

// Whether text matches a pattern in which '*' stands for any run of bytes and '?' for one byte.
bool matches(std::string_view text, std::string_view pattern) {
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

class FakeSettings : public SettingsReader {
public:
    std::optional<std::string> readString(SettingsHive hive, std::string_view keyPath,
                                          std::string_view valueName) const override {
        if (hive == SettingsHive::CurrentUser && keyPath == "Software\\Orrin.Tadd\\Tabulan" &&
            valueName == "basedir") {
            return basedir;
        }
        return std::nullopt;
    }
    std::optional<std::string> basedir;
};

constexpr const char* kTip =
    " Tips: please append &useie=no to the URL or append -useie:no to the command line.";
constexpr const char* kCss = "body { color: #336699; }\n";

enum class Route { Session, Secure, Plain };

const char* routeName(Route route) {
    return route == Route::Session ? "session" : route == Route::Secure ? "secure" : "plain";
}

class DownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* name :
             {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            unsetenv(name);
        }
        s_started = s_server.start();
    }
    static void TearDownTestSuite() { s_server.stop(); }

    void SetUp() override {
        ASSERT_TRUE(s_started) << "the test HTTP server did not start";
        m_settings.basedir = m_folder.path();
        m_options.settings = &m_settings;
        m_options.connectTimeoutMs = 2000;
        m_options.responseTimeoutMs = 2000;
        m_options.idleTimeoutMs = 2000;
    }

    std::string url(Route route, const std::string& path) const {
        return route == Route::Secure ? s_server.https(path) : s_server.http(path);
    }

    bool fetch(Route route, const std::string& path, std::string& result,
               std::string_view cookies = {}) const {
        return GetFileFromInternet(result, url(route, path), cookies, route != Route::Plain,
                                   m_options);
    }

    std::string body(const std::string& path) {
        StringSink sink;
        HttpRequest request;
        request.url = s_server.http(path);
        HttpClient::shared().transfer(request, sink);
        return sink.body();
    }

    void expectNoFiles(const std::string& context) {
        EXPECT_EQ(filesBelow(m_folder.path()), std::vector<std::string>{}) << context;
    }

    static TestServer s_server;
    static bool s_started;
    TempDir m_folder;
    FakeSettings m_settings;
    DownloadOptions m_options;
};

TestServer DownloadTest::s_server;
bool DownloadTest::s_started = false;

TEST_F(DownloadTest, TheFileIsNamedByItsContentTypeOnEveryRoute) {
    struct Case {
        Route route;
        const char* path;
        const char* ending;
    } cases[] = {
        {Route::Session, "/style.css", ".tmp.css"}, {Route::Session, "/image.jpg", ".tmp.jpeg"},
        {Route::Session, "/image.gif", ".tmp.gif"}, {Route::Session, "/unknown", ".tmp."},
        {Route::Session, "/no-type", ".tmp.html"},  {Route::Session, "/redirect", ".tmp.css"},
        {Route::Secure, "/style.css", ".tmp.css"},  {Route::Secure, "/image.jpg", ".tmp.jpeg"},
        {Route::Secure, "/unknown", ".tmp."},       {Route::Secure, "/no-type", ".tmp.html"},
        {Route::Plain, "/style.css", ".tmp.css"},   {Route::Plain, "/image.gif", ".tmp.gif"},
        {Route::Plain, "/no-type", ".tmp.htm"},
    };
    for (const Case& c : cases) {
        std::string context = std::string(routeName(c.route)) + " " + c.path;
        std::string result;
        ASSERT_TRUE(fetch(c.route, c.path, result)) << context << ": " << result;
        std::string name = result.substr(m_folder.path().size() + 1);
        EXPECT_EQ(result.substr(0, m_folder.path().size() + 1), m_folder.path() + "/") << context;
        EXPECT_TRUE(name.starts_with("fol") && name.ends_with(c.ending) &&
                    name.size() == 9 + std::string_view(c.ending).size())
            << context << ": " << name;
        EXPECT_EQ(readFile(result), body(c.path)) << context;
        EXPECT_EQ(filesBelow(m_folder.path()), std::vector<std::string>{name}) << context;
        unlink(result.c_str());
    }
}

TEST_F(DownloadTest, EachRouteSendsItsOwnRequest) {
    struct Case {
        std::string url;
        bool useBrowserStack;
        const char* echo;
    } cases[] = {
        {"HTTPS://127.0.0.1:" + std::to_string(s_server.httpsPort()) + "/echo", true,
         "Method: GET\nUser-Agent: iexplorer\nPragma: no-cache\nContent-Type: \nBody: "},
        {s_server.http("/echo"), true,
         "Method: GET\nUser-Agent: \nPragma: \nContent-Type: \nBody: "},
        {"HTTP://127.0.0.1:" + std::to_string(s_server.httpPort()) + "/echo", false,
         "Method: GET\nUser-Agent: \nPragma: \nContent-Type: \nBody: "},
    };
    for (const Case& c : cases) {
        std::string result;
        ASSERT_TRUE(GetFileFromInternet(result, c.url, {}, c.useBrowserStack, m_options))
            << c.url << ": " << result;
        EXPECT_EQ(readFile(result), c.echo) << c.url;
    }
}

TEST_F(DownloadTest, ASecureAddressNeedsAPathAfterTheHost) {
    for (std::string address : {"https://127.0.0.1:" + std::to_string(s_server.httpsPort()),
                                std::string("HTTPS://example.com?x=1")}) {
        std::string result;
        EXPECT_FALSE(GetFileFromInternet(result, address, {}, true, m_options));
        EXPECT_EQ(result, "Invalid URL :" + address);
    }
    expectNoFiles("invalid");
}

TEST_F(DownloadTest, AnErrorStatusFailsWithTheServersTextAndLeavesNoFile) {
    struct Case {
        Route route;
        const char* pattern;
    } cases[] = {
        {Route::Session, "HTTP Status Codes: 404; It took * seconds (Not Found)"},
        {Route::Secure, "HTTP Status Codes: 404 (Not Found)"},
        {Route::Plain, "HTTP Status Codes: 404 (Not Found)"},
    };
    for (const Case& c : cases) {
        std::string result;
        EXPECT_FALSE(fetch(c.route, "/missing", result)) << routeName(c.route);
        EXPECT_TRUE(matches(result, c.pattern)) << routeName(c.route) << ": " << result;
        expectNoFiles(routeName(c.route));
    }
}

TEST_F(DownloadTest, ACutOrStalledTransferFailsWithItsTagAndLeavesNoFile) {
    m_options.responseTimeoutMs = 1000;
    m_options.idleTimeoutMs = 1000;
    const std::string cut = "transfer closed with 60 bytes remaining to read";
    const std::string quiet = "Timed out: no data for 1000 ms";
    struct Case {
        Route route;
        const char* path;
        std::string pattern;
    } cases[] = {
        {Route::Session, "/short", "Runtime exception[GFFI3]:" + cut},
        {Route::Secure, "/short", "Runtime exception[GFFIS:InternetReadFile]:" + cut},
        {Route::Plain, "/short",
         "Failed to receive from server :- 127.0.0.1. Error code:18 (" + cut + ")"},
        {Route::Session, "/slow-body", "Runtime exception[GFFI3]:" + quiet},
        {Route::Session, "/slow-head",
         "Runtime exception(* sec)[GFFI1]:" + quiet + " " + s_server.http("/slow-head") +
             " Tips: *"},
        {Route::Secure, "/slow-head", "Runtime exception[GFFIS:HttpSendRequest]:" + quiet},
        {Route::Plain, "/slow-body",
         "Failed to receive from server :- 127.0.0.1. Error code:* (" + quiet + ")"},
    };
    for (const Case& c : cases) {
        std::string context = std::string(routeName(c.route)) + " " + c.path;
        std::string result;
        EXPECT_FALSE(fetch(c.route, c.path, result)) << context;
        EXPECT_TRUE(matches(result, c.pattern)) << context << ": " << result;
        expectNoFiles(context);
    }
}

// A server that keeps sending a byte now and then is never quiet for long: the low-speed limit
// ends it with its own text, on every route, and no file is left.
TEST_F(DownloadTest, ADripFeedingServerFailsAsTooSlowAndLeavesNoFile) {
    m_options.lowSpeedWindowMs = 1000;
    const std::string slow = "Too slow: less than 1024 bytes a second for 1000 ms";
    for (Route route : {Route::Session, Route::Secure, Route::Plain}) {
        std::string result;
        EXPECT_FALSE(fetch(route, "/drip", result)) << routeName(route);
        EXPECT_NE(result.find(slow), std::string::npos) << routeName(route) << ": " << result;
        expectNoFiles(routeName(route));
    }
}

// The cancel flag, raised from another thread, stops a download that waits for its server.
TEST_F(DownloadTest, TheCancelFlagStopsADownload) {
    m_options.responseTimeoutMs = 60000;
    std::atomic<bool> cancel{false};
    m_options.cancel = &cancel;
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    std::string result;
    EXPECT_FALSE(fetch(Route::Session, "/slow-head", result));
    canceller.join();
    EXPECT_NE(result.find("Transfer cancelled"), std::string::npos) << result;
    expectNoFiles("cancelled");
}

TEST_F(DownloadTest, ARefusedConnectionGivesEachRoutesMessage) {
    const std::string host = "127.0.0.1:" + std::to_string(closedPort());
    const std::string shortUrl = "http://" + host + "/style.css";
    const std::string longUrl = "http://" + host + "/" + std::string(450, 'a') + ".css";
    std::string result;

    EXPECT_FALSE(GetFileFromInternet(result, shortUrl, {}, true, m_options));
    EXPECT_TRUE(matches(result, "Runtime exception(* sec)[GFFI1]:?*")) << result;
    EXPECT_TRUE(result.ends_with(" " + shortUrl + kTip)) << result;

    // The address is cut to fit 511 bytes, and the tip no longer fits after it.
    EXPECT_FALSE(GetFileFromInternet(result, longUrl, {}, true, m_options));
    EXPECT_EQ(result.size(), kMaxDownloadResultBytes);
    EXPECT_EQ(result.find("&useie=no"), std::string::npos);
    EXPECT_NE(result.find(" http://" + host + "/aaaa"), std::string::npos) << result;

    EXPECT_FALSE(GetFileFromInternet(result, shortUrl, {}, false, m_options));
    EXPECT_TRUE(result.starts_with("Failed to connect to server :- 127.0.0.1. Error code:111 ("))
        << result;

    EXPECT_FALSE(GetFileFromInternet(result, "https://" + host + "/x", {}, true, m_options));
    EXPECT_TRUE(result.starts_with("Runtime exception[GFFIS:HttpSendRequest]:")) << result;
    expectNoFiles("refused");
}

TEST_F(DownloadTest, CookiesReachTheirFolderOnTheBrowserRoutesFromAnyThread) {
    SetCookiesForUrl(s_server.http("/app/page.jsp"), "a=1; tabulancookie=2;b=3; TabulanABCx=4; ;");
    std::string result;
    ASSERT_TRUE(fetch(Route::Session, "/app/cookies", result)) << result;
    EXPECT_EQ(sortedCookies(readFile(result)), "a=1; b=3");
    ASSERT_TRUE(fetch(Route::Secure, "/app/cookies", result)) << result;
    EXPECT_EQ(sortedCookies(readFile(result)), "a=1; b=3");
    ASSERT_TRUE(fetch(Route::Plain, "/app/cookies", result)) << result;
    EXPECT_EQ(readFile(result), "") << "the socket route sends no cookies";
    ASSERT_TRUE(fetch(Route::Session, "/elsewhere/cookies", result)) << result;
    EXPECT_EQ(readFile(result), "");

    std::thread worker([&] {
        std::string inThread;
        ASSERT_TRUE(fetch(Route::Session, "/app/cookies", inThread)) << inThread;
        EXPECT_EQ(sortedCookies(readFile(inThread)), "a=1; b=3");
    });
    worker.join();

    // The session route hands its own cookie text over first.
    ASSERT_TRUE(fetch(Route::Session, "/app2/cookies", result, "d=5")) << result;
    EXPECT_EQ(readFile(result), "d=5");
}

TEST_F(DownloadTest, TheCookieFolderComesFromThePathOnly) {
    SetCookiesForUrl(s_server.http("/app3/page.jsp?next=/x/y"), "e=6");
    std::string result;
    ASSERT_TRUE(fetch(Route::Session, "/app3/cookies", result)) << result;
    EXPECT_EQ(readFile(result), "e=6");

    // An address without a path gives its cookies to the whole host.
    std::string host = "http://localhost:" + std::to_string(s_server.httpPort());
    SetCookiesForUrl(host, "f=7");
    ASSERT_TRUE(GetFileFromInternet(result, host + "/any/cookies", {}, true, m_options)) << result;
    EXPECT_EQ(readFile(result), "f=7");
}

TEST_F(DownloadTest, AWriteErrorFailsAndLeavesNoFile) {
    struct Case {
        Route route;
        std::string pattern;
    } cases[] = {
        {Route::Session, "Runtime exception[GFFI2]:*/fol??????.tmp.jpeg: File too large"},
        {Route::Secure, "Runtime exception[GFFIS2]:*/fol??????.tmp.jpeg: File too large"},
        {Route::Plain, "Failed to write file */fol??????.tmp.jpeg. More info: File too large"},
    };
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    for (const Case& c : cases) {
        rlimit small = saved;
        small.rlim_cur = 100;  // the image has 261 bytes
        setrlimit(RLIMIT_FSIZE, &small);
        std::string result;
        bool ok = fetch(c.route, "/image.jpg", result);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(ok) << routeName(c.route);
        EXPECT_TRUE(matches(result, c.pattern)) << routeName(c.route) << ": " << result;
        expectNoFiles(routeName(c.route));
    }
    std::signal(SIGXFSZ, SIG_DFL);
}

TEST_F(DownloadTest, APathLongerThanTheResultIsRefused) {
    std::string folder = m_folder.path();
    for (int i = 0; i < 3; ++i) {
        folder += "/" + std::string(180, 'd');
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }
    m_settings.basedir = folder;
    std::string result;
    EXPECT_FALSE(fetch(Route::Session, "/style.css", result));
    EXPECT_TRUE(result.starts_with(
        ("Runtime exception[GFFI2]:" + folder).substr(0, kMaxDownloadResultBytes)))
        << result;
    EXPECT_EQ(result.size(), kMaxDownloadResultBytes);
    expectNoFiles("long path");
}

TEST_F(DownloadTest, TheProductionReaderFindsTheConverterFolder) {
    TempDir config;
    ASSERT_EQ(mkdir((config.path() + "/paginor").c_str(), 0700), 0);
    config.write("paginor/HKEY_CURRENT_USER.reg",
                 "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Orrin.Tadd\\Tabulan]\n\"basedir\"=\"" +
                     m_folder.path() + "\"\n");
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    std::string result;
    bool ok = GetFileFromInternet(result, s_server.http("/style.css"), {}, true);
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(ok) << result;
    EXPECT_TRUE(result.starts_with(m_folder.path() + "/fol")) << result;
    EXPECT_EQ(readFile(result), kCss);
}

TEST(DownloadFolders, TheConverterFolderCountsFromThreeCharacters) {
    TempDir temp;
    setenv("TMPDIR", temp.path().c_str(), 1);
    struct Case {
        std::optional<std::string> basedir;
        bool isBaseDir;
        std::string folder;
    } cases[] = {
        {"/srv/tabulan/", true, "/srv/tabulan/"},
        {"/ab", true, "/ab"},
        {"ab", false, temp.path()},
        {"", false, temp.path()},
        {std::nullopt, false, temp.path()},
    };
    for (const Case& c : cases) {
        FakeSettings settings;
        settings.basedir = c.basedir;
        std::string baseDir = "stale";
        EXPECT_EQ(GetConverterBaseDir(baseDir, settings), c.isBaseDir) << c.folder;
        EXPECT_EQ(baseDir, c.isBaseDir ? c.folder : "");
        EXPECT_EQ(GetDownloadFolder(settings), c.folder);
    }
    unsetenv("TMPDIR");
}

TEST(DownloadFolders, CacheNamesAreCreatedExclusivelyAndNeverShared) {
    TempDir folder;
    FakeSettings settings;
    settings.basedir = folder.path();
    std::mutex lock;
    std::set<std::string> names;
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                std::string name;
                bool made = MakeCacheFileName(name, "css", settings);
                std::lock_guard<std::mutex> guard(lock);
                EXPECT_TRUE(made) << name;
                names.insert(name);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(names.size(), 400u);
    EXPECT_EQ(filesBelow(folder.path()).size(), 400u);
    for (const std::string& name : names) {
        EXPECT_TRUE(matches(name, folder.path() + "/fol??????.tmp.css")) << name;
        EXPECT_EQ(readFile(name), "");
    }
}

TEST(DownloadFolders, AMissingDownloadFolderFallsBackToTheCacheFolder) {
    TempDir cache;
    setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    FakeSettings settings;
    settings.basedir = cache.path() + "/no/such/folder";
    std::string name;
    bool made = MakeCacheFileName(name, "", settings);
    unsetenv("XDG_CACHE_HOME");
    ASSERT_TRUE(made) << name;
    EXPECT_TRUE(matches(name, cache.path() + "/paginor/fol??????.tmp.")) << name;
}

TEST(DownloadUrls, ParseHttpUrl) {
    struct Case {
        const char* url;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"http://reports.example.com:8080/a/b?x=1", "reports.example.com", 8080, "/a/b?x=1"},
        {"http://reports.example.com/a/b?x=1", "reports.example.com", 80, "/a/b?x=1"},
        {"HTTP://Host/x", "Host", 80, "/x"},
        {"http://host", "host", 80, "/"},
        {"http://host:81", "host", 81, "/"},
        {"http://[::1]:8081/v", "[::1]", 8081, "/v"},
        {"host:82/p", "host", 82, "/p"},
    };
    for (const Case& c : cases) {
        std::string host = "stale";
        int port = -1;
        std::string path = "stale";
        ParseHttpUrl(c.url, host, port, path);
        EXPECT_EQ(host, c.host) << c.url;
        EXPECT_EQ(port, c.port) << c.url;
        EXPECT_EQ(path, c.path) << c.url;
    }
}

}  // namespace
}  // namespace paginor
