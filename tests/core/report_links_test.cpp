#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/report_core.h"
#include "platform/http_client.h"
#include "report_fixtures.h"
#include "temp_dir.h"
#include "tests/support/http_test_server.h"

namespace paginor {
namespace {

// Linked style sheets and images of reports that come from a web server.
class ReportLinks : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(s_server.start()); }
    static void TearDownTestSuite() { s_server.stop(); }

    void SetUp() override {
        // Downloads land in the temp folder, and no real settings are read.
        setenv("TMPDIR", m_downloads.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", m_config.path().c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TMPDIR");
        unsetenv("XDG_CONFIG_HOME");
    }

    static int hits(const std::string& path) {
        HttpRequest request;
        request.url = s_server.http("/hits?path=" + path);
        StringSink sink;
        HttpClient::shared().transfer(request, sink);
        return std::stoi(sink.body());
    }

    std::string prologue(const std::string& link) const {
        return "<html>\r\n<head>\r\n<base href=\"" + s_server.http("/reports/run.jsp?x=1") +
               "\">\r\n" + link + "\r\n</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n";
    }

    std::string load(const std::string& text, bool embed, std::string* sheetPath = nullptr) {
        const std::string path = m_dir.write("r" + std::to_string(++m_loads) + ".htm", text);
        try {
            m_core.Init(path, nullptr, embed, nullptr, nullptr, sheetPath);
        } catch (const ReportError&) {
            return "error: " + m_core.GetErrorText();
        }
        return "";
    }

    static TestServer s_server;
    TempDir m_dir;
    TempDir m_downloads;
    TempDir m_config;
    CReportCore m_core;
    int m_loads = 0;
};

TestServer ReportLinks::s_server;

const std::string kLink = "<link rel=\"stylesheet\" type=\"text/css\" href=\"rpt.css\">";
const std::string kBlocks =
    "<style>#c1 {font-family:Arial;   font-size:10pt}</style>\r\n<style>#c2 "
    "{color:#FF0000}</style>\r\n";

TEST_F(ReportLinks, SheetOnTheServerBecomesStyleBlocks) {
    ASSERT_EQ(load(fixtures::markedCssReport(2, prologue(kLink)), false), "");
    EXPECT_TRUE(m_core.fromWebAddress());
    EXPECT_EQ(m_core.baseFolder(), s_server.http("/reports/"));
    EXPECT_TRUE(m_core.head().ends_with("<body bgcolor=\"#FFFFFF\">\r\n" + kBlocks))
        << m_core.head();
}

TEST_F(ReportLinks, EmbeddedSheetKeepsItsDownloadWhenAsked) {
    std::string sheetPath;
    ASSERT_EQ(load(fixtures::markedCssReport(1, prologue(kLink)), true, &sheetPath), "");
    EXPECT_NE(m_core.head().find("<style type=\"text/css\">\r\n.c1 {font-family:Arial;\r\n"),
              std::string::npos);
    struct stat st {};
    ASSERT_FALSE(sheetPath.empty());
    EXPECT_EQ(stat(sheetPath.c_str(), &st), 0) << sheetPath;
    EXPECT_EQ(sheetPath.rfind(m_downloads.path(), 0), 0u) << sheetPath;
}

TEST_F(ReportLinks, MissingSheetFailsTheLoadWithTheServersWords) {
    const std::string link =
        "<link rel=\"stylesheet\" type=\"text/css\" href=\"" + s_server.http("/gone.css") + "\">";
    std::string result = load(fixtures::markedCssReport(1, prologue(link)), false);
    EXPECT_TRUE(result.starts_with("error: Failed to get CSS.")) << result;
    EXPECT_NE(result.find("404"), std::string::npos) << result;
    EXPECT_EQ(m_core.state(), 0);
}

// The load's cancel flag reaches the download of a linked sheet whose server does not answer.
TEST_F(ReportLinks, CancelStopsTheDownloadOfALinkedSheet) {
    std::atomic<bool> cancel{false};
    m_core.setCancelFlag(&cancel);
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const std::string link = "<link rel=\"stylesheet\" type=\"text/css\" href=\"../slow-head\">";
    const std::string error = load(fixtures::markedCssReport(1, prologue(link)), false);
    canceller.join();
    m_core.setCancelFlag(nullptr);
    EXPECT_TRUE(error.starts_with("error: Failed to get CSS")) << error;
    EXPECT_NE(error.find("Transfer cancelled"), std::string::npos) << error;
}

TEST_F(ReportLinks, ImagesOfTheSiteBecomeLocalCopiesOnce) {
    const std::string foreign = "http://images.example.invalid/x.gif";
    std::string text = fixtures::markedCssReport(2, prologue(""));
    const std::string images =
        "<img src=\"img/logo.gif\"><img src=/img/top.gif border=0><img src=\"" + foreign +
        "\"><img src=\"img/missing.gif\">";
    // The same images on both pages.
    for (std::size_t at = text.find("Row "); at != std::string::npos;
         at = text.find("Row ", at + images.size() + 4)) {
        text.insert(at, images);
    }
    ASSERT_EQ(load(text, true), "");
    for (int page = 0; page < 2; ++page) {
        const tagPageInfo& info = m_core.pageTable()[static_cast<std::size_t>(page)];
        std::int64_t length = info.length;
        m_core.CopyToStringBuffer(info.start, '\0', length);
        m_core.LocalizeImageLinks();
        const std::string localized(m_core.tagBuffer(), m_core.tagBufferUsed());
        EXPECT_EQ(localized.find("src=\"img/logo.gif\""), std::string::npos) << localized;
        EXPECT_EQ(localized.find("src=/img/top.gif"), std::string::npos) << localized;
        EXPECT_NE(localized.find("<img src=\"file://" + m_downloads.path()), std::string::npos);
        EXPECT_NE(localized.find("src=\"" + foreign + "\""), std::string::npos);
        EXPECT_NE(localized.find("src=\"img/missing.gif\""), std::string::npos);
        EXPECT_EQ(m_core.tagBuffer()[m_core.tagBufferUsed()], '\0');
    }
    EXPECT_EQ(hits("/reports/img/logo.gif"), 1);
    EXPECT_EQ(hits("/img/top.gif"), 1);
    EXPECT_EQ(hits("/reports/img/missing.gif"), 1);
}

TEST_F(ReportLinks, LinkedFilesResolveAgainstTheBase) {
    ASSERT_EQ(load(fixtures::markedCssReport(1, prologue("")), false), "");
    std::string output;
    const std::string link = "img/logo.gif";
    m_core.FetchLinkedFile(link.data(), static_cast<std::int64_t>(link.size()), output);
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(output.rfind(m_downloads.path(), 0), 0u) << output;
    std::string again;
    m_core.FetchLinkedFile(link.data(), static_cast<std::int64_t>(link.size()), again);
    EXPECT_EQ(again, output);

    const std::string missing = "nothing.gif";
    m_core.FetchLinkedFile(missing.data(), static_cast<std::int64_t>(missing.size()), output);
    EXPECT_EQ(output, "");
    m_core.FetchLinkedFile(missing.data(), static_cast<std::int64_t>(missing.size()), output);
    EXPECT_EQ(hits("/reports/nothing.gif"), 1);
}

TEST(LocalLinks, LinkedFileOfALocalReportIsItsPath) {
    TempDir dir;
    std::string path = dir.write("r.htm", fixtures::markedCssReport(1));
    CReportCore core;
    ASSERT_EQ(core.Init(path, nullptr, false, nullptr, nullptr, nullptr), 0);
    std::string output;
    const std::string link = "img/a.gif";
    core.FetchLinkedFile(link.data(), static_cast<std::int64_t>(link.size()), output);
    EXPECT_EQ(output, dir.path() + "/img/a.gif");
}

}  // namespace
}  // namespace paginor
