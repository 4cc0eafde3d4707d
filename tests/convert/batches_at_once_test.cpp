#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "convert/conventions_chain.h"
#include "convert/conversion_driver.h"
#include "core/report_core.h"
#include "tests/convert/convert_harness.h"
#include "tests/convert/report_texts.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;
using testing::conventionsReport;
using testing::framedReport;
using testing::htmlCssReport;
using testing::htmlReport;
using testing::readText;

std::size_t threadsRunning() {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

struct Outcome {
    std::string file;
    std::int32_t code = 0;
    std::string text;
    std::vector<int> shown;
    std::int32_t progress = 0;
    std::string step;
};

class BatchesAtOnce : public testing::ScratchFolderTest {
protected:
    fs::path load(CReportCore& core, const std::string& name, const std::string& text) {
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << text;
        core.Init(path.string(), nullptr, false, nullptr, nullptr, nullptr);
        return path;
    }

    std::size_t compareWithOneThread(const std::vector<struct NamedReport>& reports,
                                     bool everyWorkbook);

    Outcome convert(CReportCore& core, ExcelOutputOptions o, std::int32_t threads) {
        Outcome outcome;
        o.threads = threads;
        o.outputPath = (m_dir / "out.dat").string();
        o.mainWindowProgress = [&](int percent) { outcome.shown.push_back(percent); };
        o.progress = &outcome.progress;
        o.stepBuffer = &outcome.step;
        std::string written;
        o.writtenPath = &written;
        for (const char* name : {"out.dat", "out.datx"}) {
            fs::remove(m_dir / name);
        }
        try {
            OutputToExcelFile(core, o);
            if (o.fileFormat == ExportFileFormat::NativeExcel) {
                EXPECT_EQ(testing::packageFaults(written), "");
            }
            // A workbook's parts, but the properties that name the time it was made.
            outcome.file =
                o.fileFormat == ExportFileFormat::NativeExcel
                    ? testing::runCommand("unzip -p '" + written + "' -x docProps/core.xml")
                    : readText(written);
        } catch (const ConversionError& error) {
            outcome.code = error.code();
            outcome.text = error.text();
            EXPECT_FALSE(fs::exists(m_dir / "out.dat"));
            EXPECT_FALSE(fs::exists(m_dir / "out.datx"));
        }
        // The workbook names the second it was made in.
        const std::size_t created = outcome.file.find("<Created>");
        if (created != std::string::npos) {
            outcome.file.erase(created, outcome.file.find("</Created>", created) - created);
        }
        return outcome;
    }
};

struct NamedReport {
    std::string name;
    std::string text;
};

// Every output kind and every option that changes batches or records: four threads give the
// one-thread result byte for byte, with the same progress, step and failure. Saving a workbook
// takes long: without everyWorkbook only the first option set writes one. Returns the number of
// reports that loaded.
std::size_t BatchesAtOnce::compareWithOneThread(const std::vector<NamedReport>& reports,
                                                bool everyWorkbook) {
    struct Options {
        const char* name;
        bool removal;
        bool marks;
        bool pageByPage;
        bool sameLayout;
        bool dates;
        bool numbersAsText;
    };
    const Options optionSets[] = {
        {"plain", false, false, false, false, false, false},
        {"header and footer removal, page marks, dates, images", true, true, false, false, true,
         false},
        {"page by page", false, false, true, false, false, false},
        {"same layout batches, numbers as text", true, false, false, true, false, true}};
    const ExportFileFormat kinds[] = {ExportFileFormat::Delimited, ExportFileFormat::SpreadsheetMl,
                                      ExportFileFormat::ExcelCompatible,
                                      ExportFileFormat::NativeExcel};
    std::size_t converted = 0;
    for (const NamedReport& report : reports) {
        CReportCore core;
        // Some engine fixtures hold pages without a report around them.
        try {
            load(core, report.name, report.text);
        } catch (const ReportError&) {
            continue;
        }
        ++converted;
        const std::int32_t pages = static_cast<std::int32_t>(core.pageTable().size());
        for (const Options& set : optionSets) {
            for (const std::int32_t first : {1, 2}) {
                if (first > pages) {
                    continue;
                }
                for (const ExportFileFormat kind : kinds) {
                    if (kind == ExportFileFormat::NativeExcel && !everyWorkbook &&
                        &set != &optionSets[0]) {
                        continue;
                    }
                    SCOPED_TRACE(report.name + ", " + set.name + ", from page " +
                                 std::to_string(first) + ", kind " +
                                 std::to_string(static_cast<int>(kind)));
                    ExcelOutputOptions o;
                    o.fileFormat = kind;
                    o.firstPage = first;
                    o.lastPage = pages;
                    o.headerFooterRemoval = set.removal;
                    o.markPages = set.marks;
                    o.font = set.marks;
                    o.colour = set.marks;
                    o.pageByPage = set.pageByPage;
                    o.sameLayoutBatches = set.sameLayout;
                    o.textFormatDetection = set.dates;
                    o.images = set.dates;
                    o.noNumberDetection = set.numbersAsText;
                    const Outcome one = convert(core, o, 1);
                    const Outcome four = convert(core, o, 4);
                    EXPECT_EQ(one.code, four.code);
                    EXPECT_EQ(one.text, four.text);
                    EXPECT_TRUE(one.file == four.file) << "the files differ";
                    EXPECT_EQ(one.shown, four.shown);
                    EXPECT_EQ(one.progress, four.progress);
                    EXPECT_EQ(one.step, four.step);
                    if (one.code == 0) {
                        EXPECT_FALSE(one.file.empty());
                    }
                }
            }
        }
    }
    return converted;
}

TEST_F(BatchesAtOnce, EverySampleAndFixtureGivesTheOneThreadResult) {
    std::vector<NamedReport> reports;
    const fs::path fixtures(PAGINOR_CONVERT_FIXTURES);
    for (const fs::path& folder : {fixtures, fixtures / "htmlcss", fs::path(PAGINOR_SAMPLES_DIR)}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string extension = entry.path().extension().string();
            if (entry.is_regular_file() && (extension == ".htm" || extension == ".rrph")) {
                reports.push_back({entry.path().filename().string(), readText(entry.path())});
            }
        }
    }
    // Page by page, a plain page turns the frame road off for every later page.
    reports.push_back({"plain-first.rrph", framedReport("PFFFFF")});
    reports.push_back({"plain-middle.rrph", framedReport("FFPFFFF")});
    // An empty page after the plain one must not open the frame road again.
    reports.push_back({"plain-then-empty.rrph", framedReport("FPEFFFF")});
    EXPECT_GE(compareWithOneThread(reports, true), 7U);
}

// Batches of 160 pages with reference pages, layouts that change inside the range, and framed
// pages whose first batch takes the frame road, which keeps page 1 out of the later batches.
TEST_F(BatchesAtOnce, LongReportsGiveTheOneThreadResult) {
    const std::vector<NamedReport> reports = {{"html.htm", htmlReport(480)},
                                              {"htmlcss.htm", htmlCssReport(480)},
                                              {"conventions.htm", conventionsReport(480)},
                                              {"framed.rrph", framedReport(std::string(480, 'F'))}};
    EXPECT_EQ(compareWithOneThread(reports, true), reports.size());
}

// A failing batch behind others decides the failure as it does one batch after the other; the
// batches behind it cannot change that.
TEST_F(BatchesAtOnce, FirstFailingBatchDecides) {
    // Pages 120 and 200 lose their first rows' widths: the batches of both fail.
    std::string report = htmlReport(300);
    for (const int page : {120, 200}) {
        const std::size_t at = report.find("Page " + std::to_string(page) + "<");
        const std::size_t row = report.rfind("<tr><td width=", at);
        ASSERT_NE(row, std::string::npos);
        report.replace(row, 14, "<tr><td style=");
    }
    // Page 90 has no row at all: the layouts read ahead of the batches fail there, and with the
    // batches cut at every change of layout, it is met after some batches were written.
    std::string rowless = report;
    const std::size_t table = rowless.rfind("<table", rowless.find("Page 90<"));
    const std::size_t tableEnd = rowless.find("</table>", table);
    for (std::size_t at = rowless.find("<tr", table); at < tableEnd; at = rowless.find("<tr", at)) {
        rowless[at + 1] = 'x';
    }
    struct Case {
        const std::string& text;
        ExportFileFormat kind;
        bool sameLayout;
    };
    for (const Case& c : {Case{report, ExportFileFormat::Delimited, false},
                          Case{report, ExportFileFormat::SpreadsheetMl, false},
                          Case{report, ExportFileFormat::NativeExcel, false},
                          Case{rowless, ExportFileFormat::Delimited, true},
                          Case{rowless, ExportFileFormat::Delimited, false}}) {
        CReportCore core;
        load(core, "broken.htm", c.text);
        ExcelOutputOptions o;
        o.fileFormat = c.kind;
        o.firstPage = 1;
        o.lastPage = 300;
        o.pageByPage = !c.sameLayout;
        o.sameLayoutBatches = c.sameLayout;
        const Outcome one = convert(core, o, 1);
        const Outcome four = convert(core, o, 4);
        EXPECT_NE(one.code, 0);
        EXPECT_EQ(one.code, four.code);
        EXPECT_EQ(one.text, four.text);
        EXPECT_EQ(one.shown, four.shown);
        EXPECT_EQ(one.step, four.step);
        EXPECT_EQ(files(), std::vector<std::string>{"broken.htm"});
    }
}

TEST_F(BatchesAtOnce, CancelInTheMiddleLeavesNothing) {
    CReportCore core;
    load(core, "report.htm", htmlReport(200));
    const std::size_t before = threadsRunning();
    for (const ExportFileFormat kind :
         {ExportFileFormat::Delimited, ExportFileFormat::SpreadsheetMl,
          ExportFileFormat::ExcelCompatible, ExportFileFormat::NativeExcel}) {
        SCOPED_TRACE(static_cast<int>(kind));
        std::atomic<std::int32_t> cancel = 0;
        ExcelOutputOptions o;
        o.fileFormat = kind;
        o.firstPage = 1;
        o.lastPage = 200;
        o.pageByPage = true;
        o.threads = 4;
        o.cancel = &cancel;
        o.outputPath = (m_dir / "out.dat").string();
        int last = 0;
        o.mainWindowProgress = [&](int percent) {
            last = percent;
            if (percent >= 30) {
                cancel = 1;
            }
        };
        try {
            OutputToExcelFile(core, o);
            ADD_FAILURE() << "no failure";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), 19);
            EXPECT_EQ(error.text(), "Cancel by server administrator/user(Error Code:19)");
        }
        EXPECT_EQ(last, 30);
        EXPECT_EQ(files(), std::vector<std::string>{"report.htm"});
        EXPECT_EQ(threadsRunning(), before);
    }
}

// A workbook of one long batch stops at the page the cancel came after, on one thread and on four:
// the rows made ahead are placed page by page, and none after the request.
TEST_F(BatchesAtOnce, CancelStopsAWorkbookWithinABatch) {
    CReportCore core;
    load(core, "report.htm", htmlReport(200));
    for (const std::int32_t threads : {1, 4}) {
        SCOPED_TRACE(threads);
        std::atomic<std::int32_t> cancel = 0;
        ExcelOutputOptions o;
        o.fileFormat = ExportFileFormat::NativeExcel;
        o.firstPage = 1;
        o.lastPage = 200;
        o.threads = threads;
        o.cancel = &cancel;
        o.outputPath = (m_dir / "out.xlsx").string();
        std::vector<int> shown;
        o.mainWindowProgress = [&](int percent) {
            shown.push_back(percent);
            if (percent >= 30) {
                cancel = 1;
            }
        };
        try {
            OutputToExcelFile(core, o);
            ADD_FAILURE() << "no failure";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), 19);
        }
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), 30);
        EXPECT_EQ(shown.size(), 60u);  // a percent every page of the first 60
        EXPECT_EQ(files(), std::vector<std::string>{"report.htm"});
    }
}

// Each batch is read with what the batches before it decided, whatever order they tell it in;
// a batch that will never tell leaves the ones after it to the writer, unless everything was
// decided before it.
TEST(ConventionsChain, EachBatchGetsWhatTheBatchesBeforeItDecided) {
    const auto options = [](std::int32_t numberStyle, std::int32_t dateOrder) {
        tagCellDetectOptions o;
        o.numberStyle = numberStyle;
        o.dateOrder = dateOrder;
        return o;
    };
    ConventionsChain chain;
    chain.start(options(0, 0));
    std::optional<tagCellDetectOptions> fourth;
    std::thread waiting([&] { fourth = chain.before(3); });
    // Out of order, from other threads: the fourth batch waits until the batches before it told
    // enough to decide everything.
    std::thread second([&] { chain.tell(1, options(1, 2)); });
    std::thread first([&] { chain.tell(0, options(0, 0)); });
    second.join();
    first.join();
    chain.tell(2, options(2, 1));
    waiting.join();
    EXPECT_EQ(fourth, options(1, 2));
    EXPECT_EQ(chain.before(0), options(0, 0));
    EXPECT_EQ(chain.before(1), options(0, 0));
    EXPECT_EQ(chain.before(2), options(1, 2));
    // Everything is decided: batches behind one that never tells need not wait for it.
    chain.untold(3);
    EXPECT_EQ(chain.before(9), options(1, 2));

    ConventionsChain partly;
    partly.tell(0, options(1, 0));
    partly.untold(1);
    EXPECT_EQ(partly.before(1), options(1, 0));
    EXPECT_EQ(partly.before(2), std::nullopt);
    std::optional<tagCellDetectOptions> late = options(9, 9);
    ConventionsChain closed;
    std::thread stranded([&] { late = closed.before(1); });
    closed.close();
    stranded.join();
    EXPECT_EQ(late, std::nullopt);
}

TEST_F(BatchesAtOnce, ThreadCount) {
    struct Case {
        std::int32_t requested;
        const char* variable;
        unsigned cores;
        std::int32_t threads;
    };
    const Case cases[] = {
        {0, nullptr, 16, 8}, {0, nullptr, 4, 4}, {0, nullptr, 0, 1},   {0, "", 6, 6},
        {3, nullptr, 8, 3},  {2, "abc", 8, 2},   {0, "1", 8, 1},       {0, "12", 2, 12},
        {0, "64", 8, 64},    {0, "65", 8, 0},    {0, "0", 8, 0},       {0, "-2", 8, 0},
        {0, "3x", 8, 0},     {0, "abc", 8, 0},   {99, nullptr, 8, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.variable == nullptr ? "unset" : c.variable) + " " +
                     std::to_string(c.requested));
        EXPECT_EQ(ConversionThreads(c.requested, c.variable, c.cores), c.threads);
    }

    CReportCore core;
    load(core, "report.htm", htmlReport(2));
    ExcelOutputOptions o;
    o.fileFormat = ExportFileFormat::Delimited;
    o.firstPage = 1;
    o.lastPage = 2;
    o.outputPath = (m_dir / "out.dat").string();
    setenv(kThreadsVariable, "many", 1);
    try {
        OutputToExcelFile(core, o);
        ADD_FAILURE() << "no failure";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.text(),
                  "The environment variable PAGINOR_CONVERT_THREADS must be a whole number "
                  "from 1 to 64.");
    }
    unsetenv(kThreadsVariable);
    EXPECT_EQ(files(), std::vector<std::string>{"report.htm"});
}

}  // namespace
}  // namespace paginor
