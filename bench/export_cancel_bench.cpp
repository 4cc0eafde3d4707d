// How soon Cancel in the progress window ends a running export.
//
//   paginor-export-cancel-bench [--pages 2000] [--folder DIR]
//
// Opens the conversion benchmark's HTML report (50 rows of 10 columns a page, every cell with its
// width) and its HTMLCSS report (every text a positioned span) of that many pages in the main
// window offscreen and exports each to every kind: the xlsx workbook, SpreadsheetML (Auto Select on
// a machine without a workbook application), the web archive, delimited text and the HTML pages.
// Each export runs once to its end, then again for each moment Cancel is clicked: once the progress
// window shows 10 %, 50 % and 90 %, and once the work reports every page converted (its share back
// to 0: the workbook is being saved, a file flushed). It prints the time from the click to the end
// of the export's work and checks that the target kept what it held and that the user was told the
// export was cancelled. The target: every cancelled export ends within a second of the click; the
// exit status is 1 when one does not.
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/to_excel_setup.h"
#include "app/ui_services.h"
#include "bench/bench_reports.h"
#include "bench/offscreen_home.h"
#include "platform/settings_store.h"

namespace paginor {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTargetSeconds = 1.0;
constexpr const char* kOldContent = "kept";
constexpr const char* kCancelledText = "Cancel by server administrator/user(Error Code:19)";
constexpr const char* kCompleteText = "was complete before Cancel took effect";

// Message boxes are answered at once and kept.
class RecordingUi : public UiServices {
public:
    MessageAnswer messageBox(const std::string& text, MessageButtons, MessageIcon) override {
        messages.push_back(text);
        return MessageAnswer::Ok;
    }
    void setWaitCursor(bool) override {}

    std::vector<std::string> messages;
};

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Kind {
    const char* name;
    bool html;
    ExportFileFormat format;
    bool workbookApplication;
};

// When Cancel is clicked: at a share of the work, or (share 0) once every page is converted.
struct Moment {
    const char* name;
    int percent;
};

struct Outcome {
    bool clicked = false;
    bool late = false;   // the click came once the work had ended
    double seconds = 0;  // from the click, or the start, to the end of the work
    bool kept = false;   // the target holds what it held before
    bool told = false;   // the last message is the cancel message
    // The click came as the file took its name: it was kept, neither opened nor mailed, and the
    // user was told so.
    bool complete = false;
};

class Bench {
public:
    Bench(MainWindow& window, CFoliantDoc& doc, RecordingUi& ui, std::string folder)
        : m_window(window), m_doc(doc), m_ui(ui), m_folder(std::move(folder)) {
        ExportEnvironment& environment = m_window.exportEnvironment();
        environment.open = [](const std::string&, std::string&) { return true; };
        m_shown = environment.progress;
        m_runWork = environment.runWork;
        environment.runWork = [this](const std::function<void()>& work) {
            m_runWork([this, &work] {
                work();
                m_ended = Clock::now();
            });
        };
    }

    bool open(const std::string& report) {
        std::string trace = "Try_Start";
        m_doc.report().Init(report, nullptr, true, &trace, nullptr, nullptr);
        return m_doc.report().state() == 1;
    }

    // One export; moment null runs it to its end.
    Outcome run(const Kind& kind, const Moment* moment) {
        ExportEnvironment& environment = m_window.exportEnvironment();
        const std::int32_t pages = m_doc.report().GetPageCount();
        const std::string stem = m_folder + "/out";
        std::string target = kind.html ? stem + "$1-" + std::to_string(pages) + ".htm"
                                       : stem + (kind.workbookApplication &&
                                                         kind.format == ExportFileFormat::AutoSelect
                                                     ? ".xlsx"
                                                     : ".xls");
        std::ofstream(target, std::ios::binary) << kOldContent;
        environment.excel =
            kind.workbookApplication ? ExcelLauncher(StartXlsxApplication) : nullptr;
        environment.runDialog = [&](ToExcelSetupDlg& dialog) {
            dialog.OnInitDialog(m_settings);
            dialog.m_task = kind.html ? kTaskHtml : kTaskExcel;
            dialog.m_fileFormat = kind.format;
            dialog.m_outputPath = stem + (kind.html ? ".htm" : ".xls");
            if (kind.html) {
                dialog.DeriveFileName();
            }
            dialog.m_chosenPath = dialog.pathWritten();
            return dialog.OnOK(m_ui, m_settings).accepted;
        };
        m_ui.messages.clear();
        Outcome outcome;
        Clock::time_point clicked;
        std::atomic<int> shown{-1};
        std::atomic<bool> converted{false};
        environment.progress = [&](int percent) {
            if (percent > 0) {
                shown = percent;
            } else if (shown > 0) {
                converted = true;
            }
            m_shown(percent);
        };
        QTimer clicker;
        if (moment != nullptr) {
            QObject::connect(&clicker, &QTimer::timeout, [&] {
                ExportProgressWindow* progress = m_window.exportProgress();
                const bool due = moment->percent > 0 ? shown >= moment->percent : converted.load();
                if (progress == nullptr || !due || outcome.clicked) {
                    return;
                }
                outcome.clicked = true;
                clicked = Clock::now();
                progress->cancelButton()->click();
            });
            clicker.start(0);
        }
        const Clock::time_point started = Clock::now();
        m_window.OnOutputToExcel();
        clicker.stop();
        environment.progress = m_shown;
        const Clock::time_point from = moment != nullptr ? clicked : started;
        outcome.late = moment != nullptr && outcome.clicked && m_ended <= clicked;
        outcome.seconds = std::chrono::duration<double>(m_ended - from).count();
        outcome.kept = readText(target) == kOldContent;
        const std::string said = m_ui.messages.empty() ? "" : m_ui.messages.back();
        outcome.told = said == kCancelledText;
        outcome.complete = said.find(kCompleteText) != std::string::npos;
        ::unlink(target.c_str());
        return outcome;
    }

private:
    MainWindow& m_window;
    CFoliantDoc& m_doc;
    RecordingUi& m_ui;
    MemorySettingsStore m_settings;
    std::string m_folder;
    ProgressSink m_shown;
    std::function<void(const std::function<void()>&)> m_runWork;
    Clock::time_point m_ended;
};

int runBench(int pages, const std::string& folder) {
    const std::string htmlReport = folder + "/report-" + std::to_string(pages) + ".htm";
    const std::string cssReport = folder + "/report-css-" + std::to_string(pages) + ".htm";
    if (!bench::writeHtmlReport(htmlReport, pages) ||
        !bench::writeCssReport(cssReport, pages, false)) {
        std::fprintf(stderr, "cannot write the reports in %s\n", folder.c_str());
        return 1;
    }
    CFoliantDoc doc;
    RecordingUi ui;
    MemorySettingsStore settings;
    MainWindow window(doc, ui, settings);
    window.show();
    Bench bench(window, doc, ui, folder);

    const Kind kinds[] = {
        {"xlsx", false, ExportFileFormat::AutoSelect, true},
        {"SpreadsheetML", false, ExportFileFormat::AutoSelect, false},
        {"web archive", false, ExportFileFormat::ExcelCompatible, true},
        {"delimited text", false, ExportFileFormat::Delimited, true},
        {"HTML pages", true, ExportFileFormat::AutoSelect, true},
    };
    const Moment moments[] = {{"10 %", 10}, {"50 %", 50}, {"90 %", 90}, {"end", 0}};
    bool missed = false;
    std::printf("%d pages; seconds from the click on Cancel to the end of the export\n", pages);
    std::printf("%-7s %-15s %9s", "report", "kind", "whole run");
    for (const Moment& moment : moments) {
        std::printf(" %8s", moment.name);
    }
    std::printf("\n");
    for (const auto& [name, report] : {std::pair<const char*, std::string>{"HTML", htmlReport},
                                       std::pair<const char*, std::string>{"HTMLCSS", cssReport}}) {
        if (!bench.open(report)) {
            std::fprintf(stderr, "cannot open %s\n", report.c_str());
            return 1;
        }
        for (const Kind& kind : kinds) {
            const Outcome whole = bench.run(kind, nullptr);
            std::printf("%-7s %-15s %9.2f", name, kind.name, whole.seconds);
            for (const Moment& moment : moments) {
                const Outcome cancelled = bench.run(kind, &moment);
                if (!cancelled.clicked || cancelled.late) {
                    std::printf(" %8s", "-");
                    continue;
                }
                if (cancelled.complete) {
                    std::printf(" %7.3fc", cancelled.seconds);
                    continue;
                }
                const bool ok =
                    cancelled.kept && cancelled.told && cancelled.seconds <= kTargetSeconds;
                missed = missed || !ok;
                std::printf(" %7.3f%s", cancelled.seconds,
                            !cancelled.kept ? "W" : (!cancelled.told ? "T" : (ok ? " " : "!")));
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    std::printf(
        "- the work ended before the click; c the click came as the file took its name (kept, "
        "not opened, and said so); ! over %.1f s; W the target was written; T the user was not "
        "told the export was cancelled\n",
        kTargetSeconds);
    std::printf("%s\n", missed ? "target missed" : "every cancelled export ended in time");
    return missed ? 1 : 0;
}

}  // namespace
}  // namespace paginor

int main(int argc, char** argv) {
    int pages = 2000;
    std::string folder;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--pages") == 0) {
            pages = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--folder") == 0) {
            folder = argv[i + 1];
        }
    }
    std::string made;
    if (folder.empty()) {
        char pattern[] = "/tmp/paginor-cancel-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            return 1;
        }
        folder = made = pattern;
    }
    paginor::bench::prepareOffscreenHome(folder);
    QApplication application(argc, argv);
    const int status = paginor::runBench(pages, folder);
    if (!made.empty()) {
        std::system(("rm -rf '" + made + "'").c_str());
    }
    return status;
}
