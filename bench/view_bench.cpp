// How long the report view takes to show a large range of pages of ordinary rows.
//
//   paginor-view-bench [--mebibytes 3] [--runs 5]
//
// Writes a report of that size in each format, pages of 50 rows of a few words and an amount (the
// test reports' generator), opens it in the main window offscreen and shows the whole range
// ("show 1 N"; of HTMLCSS pages the longest range whose TOP values the view takes, 130000 points)
// once to warm up and then runs times, timing the three steps a reader waits for:
// the report core building the range's HTML (GetPage), the web engine loading it from the command
// to the view's document complete, and its layout (a script that reads the height of the laid-out
// body answers only once the layout is done). It then loads the same range's HTML from a file,
// the web engine's own time for the document, as often. It prints the median of each step and
// checks the target: the view, from the command to the range laid out, within 2.5 times the
// engine's time from the file; the exit status is 1 when a format misses it. The view gets its
// document from memory in pieces of 64 KiB and lays out what it has after each, so that the first
// rows show at once; from a file the engine takes the document whole before it lays it out.

#include <QApplication>
#include <QEventLoop>
#include <QWebEnginePage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/qt/report_browser.h"
#include "app/ui_services.h"
#include "bench/offscreen_home.h"
#include "platform/settings_store.h"
#include "tests/support/report_generator.h"

namespace paginor {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTargetRatio = 2.5;

class SilentUi : public UiServices {
public:
    MessageAnswer messageBox(const std::string& text, MessageButtons, MessageIcon) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return MessageAnswer::Ok;
    }
    void setWaitCursor(bool) override {}
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Run {
    double build = 0;   // GetPage
    double load = 0;    // command to document complete
    double layout = 0;  // document complete to the laid-out height
};

// Starts a load in the view and waits for its document complete, then for its laid-out height;
// false when the load failed.
template <typename Start>
bool timeLoad(ReportBrowser& browser, Start start, Run& run) {
    QEventLoop loading;
    bool ok = false;
    const QMetaObject::Connection connection = QObject::connect(
        &browser, &ReportBrowser::documentComplete, &loading, [&](const QUrl&, bool done) {
            ok = done;
            loading.quit();
        });
    const auto command = Clock::now();
    start();
    loading.exec();
    QObject::disconnect(connection);
    const auto loaded = Clock::now();
    run.load = seconds(loaded - command);
    if (!ok) {
        return false;
    }
    QEventLoop laying;
    browser.page()->runJavaScript(
        QStringLiteral("document.body ? document.body.getBoundingClientRect().height : 0"),
        [&](const QVariant&) { laying.quit(); });
    laying.exec();
    run.layout = seconds(Clock::now() - loaded);
    return true;
}

// Shows pages 1..last through the frame's command and times the steps.
bool showRange(MainWindow& window, CFoliantDoc& doc, int last, Run& run) {
    const auto start = Clock::now();
    std::string html;
    doc.report().GetPage(1, last, html, false);
    run.build = seconds(Clock::now() - start);
    return timeLoad(
        *window.browser(), [&] { window.frame().RunCommand("show 1 " + std::to_string(last)); },
        run);
}

int runBench(double mebibytes, int runs, const std::string& folder) {
    std::printf(
        "report, %.0f MiB of rows | pages shown | range HTML | build | load | layout | "
        "command to laid out | the same from a file | ratio\n",
        mebibytes);
    int status = 0;
    for (const GeneratedFormat format : {GeneratedFormat::Html, GeneratedFormat::HtmlCss}) {
        const char* name = format == GeneratedFormat::Html ? "HTML" : "HTMLCSS";
        ReportSpec spec;
        spec.format = format;
        spec.pageMarks = true;
        spec.rowsPerPage = 50;
        spec.targetBytes = static_cast<std::int64_t>(mebibytes * 1024 * 1024);
        std::vector<GeneratedPage> pages;
        std::string error;
        const std::string path = folder + "/" + name + ".htm";
        if (!writeReport(path, spec, pages, error)) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        CFoliantDoc doc;
        SilentUi ui;
        MemorySettingsStore settings;
        MainWindow window(doc, ui, settings);
        window.resize(1024, 768);
        window.show();
        std::string trace = "Try_Start";
        doc.report().Init(path, nullptr, true, &trace, nullptr, nullptr);
        // An HTMLCSS range is shown only as far as its TOP values fit: the largest such range.
        int last = doc.report().GetPageCount();
        std::string html;
        for (;;) {
            try {
                doc.report().GetPage(1, last, html, false);
                break;
            } catch (const ReportError& failure) {
                if (failure.code() != 4 || last == 1) {
                    std::fprintf(stderr, "%s: %s\n", name, failure.what());
                    return 1;
                }
                last -= 1;
            }
        }
        std::vector<double> build, load, layout, total;
        Run run;
        for (int i = 0; i <= runs; ++i) {
            if (!showRange(window, doc, last, run)) {
                std::fprintf(stderr, "%s: the view failed to load the range\n", name);
                return 1;
            }
            if (i == 0) {
                continue;  // warms the web engine up
            }
            build.push_back(run.build);
            load.push_back(run.load);
            layout.push_back(run.layout);
            total.push_back(run.load + run.layout);
        }
        // The same document from a file: the web engine's own time.
        const std::string rangeFile = folder + "/" + name + "-range.htm";
        std::FILE* out = std::fopen(rangeFile.c_str(), "wb");
        if (out == nullptr || std::fwrite(html.data(), 1, html.size(), out) != html.size() ||
            std::fclose(out) != 0) {
            std::fprintf(stderr, "%s: cannot write the range's file\n", rangeFile.c_str());
            return 1;
        }
        std::vector<double> fromFile;
        for (int i = 0; i <= runs; ++i) {
            Run file;
            if (!timeLoad(
                    *window.browser(), [&] { window.browser()->navigate("file://" + rangeFile); },
                    file)) {
                std::fprintf(stderr, "%s: the view failed to load the range's file\n", name);
                return 1;
            }
            if (i > 0) {
                fromFile.push_back(file.load + file.layout);
            }
        }
        const double shown = median(total);
        const double ratio = shown / median(fromFile);
        std::printf("%s | %d | %.2f MiB | %.3f s | %.3f s | %.3f s | %.3f s | %.3f s | %.2f%s\n",
                    name, last, static_cast<double>(html.size()) / (1024 * 1024), median(build),
                    median(load), median(layout), shown, median(fromFile), ratio,
                    ratio <= kTargetRatio ? "" : " (missed)");
        if (ratio > kTargetRatio) {
            status = 1;
        }
        window.close();
    }
    return status;
}

}  // namespace
}  // namespace paginor

int main(int argc, char** argv) {
    double mebibytes = 3;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mebibytes") == 0) {
            mebibytes = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::atoi(argv[i + 1]);
        }
    }
    if (mebibytes <= 0 || runs < 1) {
        std::fprintf(stderr, "usage: paginor-view-bench [--mebibytes N] [--runs N]\n");
        return 2;
    }
    char pattern[] = "/tmp/paginor-view-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string folder = pattern;
    paginor::bench::prepareOffscreenHome(folder);
    QApplication application(argc, argv);
    const int status = paginor::runBench(mebibytes, runs, folder);
    std::system(("rm -rf '" + folder + "'").c_str());
    return status;
}
