#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <thread>

#include "app/download_state.h"
#include "app/qt/download_dlg.h"
#include "core/report_core.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"
#include "tests/support/http_test_server.h"

namespace paginor {
namespace {

// The worker closes the dialog through queued calls; exec() returns when it has.
TEST(DownloadDlgTest, TheWorkerClosesTheDialogWhenTheReportIsLoaded) {
    TempDir dir;
    CReportCore report;
    DownloadState state;
    state.reset();
    state.path = dir.write("r.htm", fixtures::markedHtmlReport(3));
    state.report = &report;
    DownloadDlg dialog;
    dialog.SetDownloadInfo(&state, DownloadMode::Initialise);
    // The worker starts once the dialog runs, so that the close reaches a running dialog.
    std::thread worker;
    QTimer::singleShot(0, &dialog,
                       [&] { worker = std::thread([&state] { InitReportThreadProc(state); }); });
    dialog.exec();
    worker.join();
    dialog.SetDownloadInfo(nullptr, DownloadMode::Initialise);
    EXPECT_TRUE(dialog.closedByWorker());
    EXPECT_TRUE(state.succeeded.load());
    EXPECT_EQ(report.GetPageCount(), 3);
}

TEST(DownloadDlgTest, AWorkerThatEndedBeforeTheDialogOpenedStillClosesIt) {
    TempDir dir;
    CReportCore report;
    DownloadState state;
    state.reset();
    state.path = dir.write("r.htm", fixtures::markedHtmlReport(2));
    state.report = &report;
    InitReportThreadProc(state);
    ASSERT_TRUE(state.closeRequested());
    DownloadDlg dialog;
    dialog.SetDownloadInfo(&state, DownloadMode::Initialise);
    // A dialog that would wait for a close that already came would hang here, until CTest's
    // time-out ends the test.
    dialog.exec();
    EXPECT_TRUE(dialog.closedByWorker());
    dialog.SetDownloadInfo(nullptr, DownloadMode::Initialise);
}

// Cancel while a report loads: the load's download of a linked sheet stops, the load fails
// with that reason, and the worker closes the dialog.
TEST(DownloadDlgTest, CancelDuringTheLoadStopsItsLinkedDownloads) {
    TestServer server;
    ASSERT_TRUE(server.start());
    TempDir dir;
    CReportCore report;
    DownloadState state;
    state.reset();
    const std::string prologue = "<html>\r\n<head>\r\n<base href=\"" + server.http("/r.jsp") +
                                 "\">\r\n<link rel=\"stylesheet\" type=\"text/css\" "
                                 "href=\"slow-head\">\r\n</head>\r\n<body>\r\n";
    state.path = dir.write("r.htm", fixtures::markedCssReport(1, prologue));
    state.report = &report;
    DownloadDlg dialog;
    dialog.SetDownloadInfo(&state, DownloadMode::Initialise);
    QTimer::singleShot(300, &dialog, [&dialog] { dialog.reject(); });
    std::thread worker([&state] { InitReportThreadProc(state); });
    dialog.exec();
    worker.join();
    dialog.SetDownloadInfo(nullptr, DownloadMode::Initialise);
    server.stop();
    EXPECT_TRUE(dialog.closedByWorker());
    EXPECT_FALSE(state.finished.load());
    EXPECT_NE(state.errorText.find("Transfer cancelled"), std::string::npos) << state.errorText;
}

}  // namespace
}  // namespace paginor
