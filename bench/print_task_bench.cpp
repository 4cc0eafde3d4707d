// Time of one print task, by its steps, for tasks of 1, 4 and 10 pages.
//
//   paginor-print-task-bench [--runs 5]
//
// Starts a private CUPS server (tests/support/cups_server.py), shows a 10-page report in the main
// window offscreen and, for each task size, measures the median of: building the task's page
// (CReportCore::GetPage with text counting), loading it into the web engine, rendering it to a
// PDF on A4, and submitting the PDF to the printer.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_ui_services.h"
#include "app/qt/report_browser.h"
#include "cups_test_server.h"
#include "platform/printer_system.h"
#include "platform/settings_store.h"

namespace paginor {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Ten pages of 40 rows each, every page on a sheet of its own.
std::string report() {
    std::string text =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1252\">\r\n</head>\r\n<body>\r\n";
    for (int page = 1; page <= 10; ++page) {
        text += "<!--9876543210_PageMark_Head--><table style=\"page-break-before: always\">";
        for (int row = 1; row <= 40; ++row) {
            text += "<tr><td>Page " + std::to_string(page) + " row " + std::to_string(row) +
                    "</td><td>Northgate Supply Company</td><td align=right>" +
                    std::to_string(page * 1000 + row) + ".00</td></tr>";
        }
        text += "</table><!--9876543210_PageMark_Foot-->\r\n";
    }
    return text + "</body>\r\n</html>\r\n";
}

bool waitFor(const std::function<bool()>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

int run(int runs) {
    std::string error;
    CupsTestServer* server = sharedCupsTestServer(error);
    if (server == nullptr) {
        std::fprintf(stderr, "no CUPS server: %s\n", error.c_str());
        return 1;
    }
    char folder[] = "/tmp/paginor-print-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        return 1;
    }
    const std::string reportPath = std::string(folder) + "/report.htm";
    std::ofstream(reportPath, std::ios::binary) << report();
    CFoliantDoc doc;
    QtUiServices ui;
    MemorySettingsStore settings;
    MainWindow window(doc, ui, settings);
    window.show();
    std::string trace = "Try_Start";
    doc.report().Init(reportPath, nullptr, true, &trace, nullptr, nullptr);
    CupsPrinterSystem printers;

    std::printf("pages | build page | load | render PDF | submit (median of %d, ms)\n", runs);
    for (int pages : {1, 4, 10}) {
        std::vector<double> build, load, render, submit;
        for (int i = 0; i < runs; ++i) {
            auto start = Clock::now();
            std::string html;
            doc.report().GetPage(1, pages, html, true);
            build.push_back(msSince(start));

            bool loaded = false;
            auto connection = QObject::connect(window.browser(), &ReportBrowser::documentComplete,
                                               [&](const QUrl&, bool) { loaded = true; });
            start = Clock::now();
            window.view().WriteHtml(html, false, false);
            if (!waitFor([&] { return loaded; }, 60000)) {
                std::fprintf(stderr, "the page did not load\n");
                return 1;
            }
            load.push_back(msSince(start));
            QObject::disconnect(connection);

            const std::string pdf = std::string(folder) + "/task.pdf";
            bool rendered = false;
            bool renderedOk = false;
            start = Clock::now();
            window.browser()->renderPdf(pdf, PdfPageLayout{}, false,
                                        [&](const PdfRenderResult& result) {
                                            rendered = true;
                                            renderedOk = result.ok;
                                        });
            if (!waitFor([&] { return rendered; }, 60000) || !renderedOk) {
                std::fprintf(stderr, "the page did not render\n");
                return 1;
            }
            render.push_back(msSince(start));

            int job = 0;
            start = Clock::now();
            if (!printers.submitPdf(CupsTestServer::kQueue, "about:blank", pdf, {}, job, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
            submit.push_back(msSince(start));
        }
        std::printf("%5d | %10.2f | %4.0f | %10.0f | %6.1f\n", pages, median(build), median(load),
                    median(render), median(submit));
    }
    std::system((std::string("rm -rf '") + folder + "'").c_str());
    return 0;
}

}  // namespace
}  // namespace paginor

int main(int argc, char** argv) {
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: paginor-print-task-bench [--runs N]\n");
            return 2;
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    paginor::ReportBrowser::registerScheme();
    QApplication application(argc, argv);
    return paginor::run(runs);
}
