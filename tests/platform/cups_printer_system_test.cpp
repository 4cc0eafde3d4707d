#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cups_test_server.h"
#include "platform/printer_system.h"

namespace paginor {
namespace {

class CupsPrinterSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        m_server = sharedCupsTestServer(error);
        ASSERT_NE(m_server, nullptr) << error;
    }

    std::string writePdf(const std::string& bytes) {
        const std::string path = "/tmp/paginor-cups-test-" + std::to_string(getpid()) + ".pdf";
        std::ofstream(path, std::ios::binary) << bytes;
        m_files.push_back(path);
        return path;
    }

    void TearDown() override {
        for (const std::string& file : m_files)
            unlink(file.c_str());
    }

    CupsTestServer* m_server = nullptr;
    CupsPrinterSystem m_cups;
    std::vector<std::string> m_files;
};

TEST_F(CupsPrinterSystemTest, ListsDestinationsAndTheDefault) {
    std::vector<std::string> names;
    std::string error;
    ASSERT_TRUE(m_cups.destinations(names, error)) << error;
    EXPECT_EQ(names, (std::vector<std::string>{"PaginorTest", "PaginorTest2"}));
    std::string name;
    ASSERT_TRUE(m_cups.defaultDestination(name, error)) << error;
    EXPECT_EQ(name, "PaginorTest");
}

TEST_F(CupsPrinterSystemTest, ReportsTheMediaOfADestination) {
    std::vector<PrinterMedia> media;
    std::string defaultMedia, error;
    ASSERT_TRUE(m_cups.media("PaginorTest2", media, defaultMedia, error)) << error;
    EXPECT_EQ(defaultMedia, "iso_a4_210x297mm");
    std::string names;
    for (const PrinterMedia& m : media) {
        names += m.pwgName + "=" + m.ppdName + " ";
        EXPECT_NE(m.displayName, "") << m.pwgName;
    }
    EXPECT_EQ(names,
              "iso_a4_210x297mm=A4 na_letter_8.5x11in=Letter na_legal_8.5x14in=Legal "
              "iso_a3_297x420mm=A3 ");
    for (const PrinterMedia& m : media) {
        if (m.pwgName == "iso_a4_210x297mm") {
            EXPECT_NEAR(m.width, 21000, 10);
            EXPECT_NEAR(m.length, 29700, 10);
            // The queue's imageable area is 12 points in from every edge.
            EXPECT_NEAR(m.left, 423, 2);
            EXPECT_NEAR(m.top, 423, 2);
        }
    }
}

TEST_F(CupsPrinterSystemTest, SubmitsAPdfWithItsTitle) {
    const std::string bytes = "%PDF-1.4\n% not a real document\n\x01\x02\xff\n%%EOF\n";
    int jobId = 0;
    std::string error;
    ASSERT_TRUE(m_cups.submitPdf("PaginorTest2", "http://example.com/report?id=7", writePdf(bytes),
                                 {{"media", "iso_a4_210x297mm"}}, jobId, error))
        << error;
    ASSERT_GT(jobId, 0);
    const CupsTestJob job = m_server->waitForJob(jobId);
    EXPECT_EQ(job.pdf, bytes);
    EXPECT_EQ(job.title, "http://example.com/report?id=7");
}

TEST_F(CupsPrinterSystemTest, ALongTitleKeepsItsFirstBytes) {
    // 254 bytes, then a character of two bytes that would end past byte 255, then more.
    const std::string address =
        "http://example.com/report?" + std::string(228, 'q') + "\xc3\xa9tail";
    int jobId = 0;
    std::string error;
    ASSERT_TRUE(
        m_cups.submitPdf("PaginorTest2", address, writePdf("%PDF-1.4\n%%EOF\n"), {}, jobId, error))
        << error;
    const CupsTestJob job = m_server->waitForJob(jobId);
    EXPECT_EQ(job.title, address.substr(0, 254));
}

// Files go by their type: text where the queue has a filter for it, never a type it has none
// for (no job is made then).
TEST_F(CupsPrinterSystemTest, SubmitsFilesOfTheTypesTheQueuePrints) {
    const std::string text = writePdf("Quarterly notes\r\n");
    int jobId = 0;
    std::string error;
    ASSERT_TRUE(
        m_cups.submitFile("PaginorTest2", "notes.txt", text, "text/plain", {}, jobId, error))
        << error;
    const CupsTestJob job = m_server->waitForJob(jobId);
    EXPECT_EQ(job.pdf, "Quarterly notes\r\n");
    EXPECT_EQ(job.title, "notes.txt");
    const int printed = jobId;
    EXPECT_FALSE(m_cups.submitFile("PaginorTest2", "memo.doc", text, "application/msword", {},
                                   jobId, error));
    EXPECT_EQ(error,
              "Printer \"PaginorTest2\" cannot print documents of type application/msword: the "
              "print system has no filter for them");
    EXPECT_EQ(jobId, 0);
    std::vector<PrinterJob> jobs;
    ASSERT_TRUE(m_cups.activeJobs("PaginorTest2", jobs, error)) << error;
    // The text job may still be finishing; the refused one must not be there.
    for (const PrinterJob& waiting : jobs) {
        EXPECT_EQ(waiting.id, printed);
    }
}

TEST_F(CupsPrinterSystemTest, ListsThisUsersWaitingJobs) {
    ASSERT_TRUE(m_server->disable("PaginorTest2"));
    int jobId = 0;
    std::string error;
    ASSERT_TRUE(m_cups.submitPdf("PaginorTest2", "waiting", writePdf("%PDF-1.4\n%%EOF\n"), {},
                                 jobId, error))
        << error;
    std::vector<PrinterJob> jobs;
    ASSERT_TRUE(m_cups.activeJobs("PaginorTest2", jobs, error)) << error;
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].id, jobId);
    EXPECT_EQ(jobs[0].title, "waiting");
    ASSERT_TRUE(m_cups.activeJobs("PaginorTest", jobs, error)) << error;
    EXPECT_TRUE(jobs.empty());

    ASSERT_TRUE(m_server->enable("PaginorTest2"));
    EXPECT_EQ(m_server->waitForJob(jobId).title, "waiting");
}

// A withdrawn job never reaches the printer; one that has printed cannot be withdrawn.
TEST_F(CupsPrinterSystemTest, CancelsAWaitingJob) {
    ASSERT_TRUE(m_server->disable("PaginorTest2"));
    int waiting = 0;
    int kept = 0;
    std::string error;
    ASSERT_TRUE(m_cups.submitPdf("PaginorTest2", "withdrawn", writePdf("%PDF-1.4\n%%EOF\n"), {},
                                 waiting, error))
        << error;
    ASSERT_TRUE(
        m_cups.submitPdf("PaginorTest2", "kept", writePdf("%PDF-1.4\n%%EOF\n"), {}, kept, error))
        << error;
    EXPECT_TRUE(m_cups.cancelJob("PaginorTest2", waiting, error)) << error;
    std::vector<PrinterJob> jobs;
    ASSERT_TRUE(m_cups.activeJobs("PaginorTest2", jobs, error)) << error;
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].id, kept);
    ASSERT_TRUE(m_server->enable("PaginorTest2"));
    m_server->waitForJob(kept);
    // Jobs print in turn: the one sent first would have been there before.
    const std::vector<int> received = m_server->receivedJobs();
    EXPECT_EQ(std::count(received.begin(), received.end(), waiting), 0);
    EXPECT_FALSE(m_cups.cancelJob("PaginorTest2", waiting, error));
    EXPECT_EQ(
        error.rfind("Cannot cancel job " + std::to_string(waiting) + " on \"PaginorTest2\": ", 0),
        0u)
        << error;
}

TEST_F(CupsPrinterSystemTest, UnknownDestinationsAndFilesAreErrors) {
    std::vector<PrinterMedia> media;
    std::string defaultMedia, error;
    EXPECT_FALSE(m_cups.media("NoSuchQueue", media, defaultMedia, error));
    EXPECT_EQ(error.rfind("No printer \"NoSuchQueue\": ", 0), 0u) << error;
    int jobId = 0;
    EXPECT_FALSE(m_cups.submitPdf("NoSuchQueue", "t", writePdf("%PDF-1.4\n"), {}, jobId, error));
    EXPECT_EQ(error.rfind("No printer \"NoSuchQueue\": ", 0), 0u) << error;
    EXPECT_FALSE(m_cups.submitPdf("PaginorTest", "t", "/nonexistent/x.pdf", {}, jobId, error));
    EXPECT_EQ(error, "Cannot read \"/nonexistent/x.pdf\"");
    EXPECT_EQ(jobId, 0);
}

TEST_F(CupsPrinterSystemTest, ServerThatDoesNotAnswerIsAnError) {
    // libcups takes its server per thread when the thread first asks.
    const std::string saved = m_server->server();
    const std::string away = "127.0.0.1:" + std::to_string(closedPort());
    setenv("CUPS_SERVER", away.c_str(), 1);
    bool listed = true;
    std::string error;
    std::thread([&] {
        std::vector<std::string> names;
        listed = m_cups.destinations(names, error);
    }).join();
    setenv("CUPS_SERVER", saved.c_str(), 1);
    EXPECT_FALSE(listed);
    const std::string down = "The print system (CUPS) at " + away + " cannot be reached: ";
    EXPECT_EQ(error.rfind(down, 0), 0u) << error;
    EXPECT_GT(error.size(), down.size()) << error;
}

// With the server away, a printer it knows is not called missing.
TEST_F(CupsPrinterSystemTest, APrinterOfAServerThatDoesNotAnswerIsNotCalledMissing) {
    const std::string saved = m_server->server();
    const std::string away = "127.0.0.1:" + std::to_string(closedPort());
    setenv("CUPS_SERVER", away.c_str(), 1);
    std::vector<std::string> errors(3);
    std::thread([&] {
        std::vector<PrinterMedia> media;
        std::string defaultMedia;
        m_cups.media("PaginorTest", media, defaultMedia, errors[0]);
        PrinterState state;
        m_cups.state("PaginorTest", state, errors[1]);
        int jobId = 0;
        m_cups.submitPdf("PaginorTest", "t", writePdf("%PDF-1.4\n"), {}, jobId, errors[2]);
    }).join();
    setenv("CUPS_SERVER", saved.c_str(), 1);
    for (const std::string& error : errors)
        EXPECT_EQ(error.rfind("The print system (CUPS) at " + away + " cannot be reached: ", 0), 0u)
            << error;
}

TEST_F(CupsPrinterSystemTest, TellsWhetherAPrinterPrints) {
    PrinterState state;
    std::string error;
    ASSERT_TRUE(m_cups.state("PaginorTest2", state, error)) << error;
    EXPECT_FALSE(state.stopped);
    EXPECT_TRUE(state.acceptingJobs);
    ASSERT_TRUE(m_server->disable("PaginorTest2"));
    ASSERT_TRUE(m_cups.state("PaginorTest2", state, error)) << error;
    ASSERT_TRUE(m_server->enable("PaginorTest2"));
    EXPECT_TRUE(state.stopped);
    EXPECT_EQ(state.reasons, "paused");
    EXPECT_FALSE(m_cups.state("NoSuchQueue", state, error));
    EXPECT_EQ(error.rfind("No printer \"NoSuchQueue\": ", 0), 0u) << error;
}

}  // namespace
}  // namespace paginor
